#include "analysis.h"

#include <cstring>

namespace analysis {

int Copy1D(const double* x, int n, double* y) {
    if (n < 1) return ERR_TOO_FEW_ELEMENTS;
    if (x != y) std::memmove(y, x, sizeof(double) * static_cast<unsigned>(n));
    return 0;
}

int Shift(const double* x, int n, int shifts, double* y) {
    if (n < 1) return ERR_TOO_FEW_ELEMENTS;
    if (shifts >= n || -shifts >= n) return ERR_SHIFT_TOO_LARGE;
    if (shifts == 0) return Copy1D(x, n, y);
    if (shifts > 0) {
        for (int i = n - shifts - 1; i >= 0; --i) y[i + shifts] = x[i];
        for (int i = 0; i < shifts; ++i) y[i] = 0.0;
    } else {
        const int s = -shifts;
        for (int i = 0; i <= n - s - 1; ++i) y[i] = x[i + s];
        for (int i = n - 1; i >= n - s; --i) y[i] = 0.0;
    }
    return 0;
}

} // namespace analysis
