#include "bytelist.h"

#include "runtime.h"

#include <cstring>
#include <vector>

namespace runtime {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

} // namespace

int ParseByteList(const char* data, std::size_t size, unsigned char* out, int count,
                  int* errorLine) {
    if (errorLine) *errorLine = 0;
    if ((!data && size > 0) || !out || count < 1) return FILE_BAD_ARGUMENT;
    std::vector<unsigned char> values;
    values.reserve(count < 256 ? std::size_t(count) : 256u);
    int line = 1;
    std::size_t i = 0;
    while (i < size) {
        const char c = data[i];
        if (c == '\n') {
            ++line;
            ++i;
            continue;
        }
        if (isSpace(c)) {
            ++i;
            continue;
        }
        // A value runs up to the next separator or zero byte.
        std::size_t j = i;
        while (j < size && data[j] != '\0' && !isSpace(data[j])) ++j;
        const std::size_t len = j - i;
        int v = -1;
        if (len >= 1 && len <= 3) {
            v = 0;
            for (std::size_t k = i; k < j && v >= 0; ++k)
                v = data[k] >= '0' && data[k] <= '9' ? v * 10 + (data[k] - '0') : -1;
        }
        if (v < 0 || v > 255) {
            if (errorLine) *errorLine = line;
            return FILE_BAD_VALUE;
        }
        if (int(values.size()) == count) {
            if (errorLine) *errorLine = line;
            return FILE_TOO_MANY_VALUES;
        }
        values.push_back(static_cast<unsigned char>(v));
        i = j;
    }
    if (int(values.size()) < count) return FILE_TOO_FEW_VALUES;
    std::memcpy(out, values.data(), values.size());
    return FILE_OK;
}

} // namespace runtime
