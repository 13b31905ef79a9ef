// Array helpers for the live-data history.
#pragma once

namespace analysis {

constexpr int ERR_TOO_FEW_ELEMENTS = -20003;
constexpr int ERR_SHIFT_TOO_LARGE = -20102;

// Moves x by `shifts` places into y (towards higher indices when positive), filling the
// vacated places with 0.0. x and y may be the same array.
int Shift(const double* x, int n, int shifts, double* y);
int Copy1D(const double* x, int n, double* y);

} // namespace analysis
