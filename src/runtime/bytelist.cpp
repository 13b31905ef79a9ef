#include "bytelist.h"

#include "runtime.h"

#include <cstring>
#include <vector>

namespace runtime {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Bytes that separate values besides ASCII white space: a UTF-8 no-break space or
// byte-order mark, which editors put into text files.
std::size_t otherSpace(const char* d, std::size_t i, std::size_t size) {
    const auto u = [&](std::size_t k) { return static_cast<unsigned char>(d[k]); };
    if (i + 1 < size && u(i) == 0xC2 && u(i + 1) == 0xA0) return 2;
    if (i + 2 < size && u(i) == 0xEF && u(i + 1) == 0xBB && u(i + 2) == 0xBF) return 3;
    return 0;
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
        if (const std::size_t n = otherSpace(data, i, size)) {
            i += n;
            continue;
        }
        // A value runs up to the next separator or zero byte. Leading zeros are fine
        // ("0007" is 7), as a person editing the file may write them.
        std::size_t j = i;
        while (j < size && data[j] != '\0' && !isSpace(data[j]) && !otherSpace(data, j, size))
            ++j;
        int v = j > i ? 0 : -1;
        for (std::size_t k = i; k < j && v >= 0; ++k) {
            if (data[k] < '0' || data[k] > '9')
                v = -1;
            else if ((v = v * 10 + (data[k] - '0')) > 255)
                v = 256; // stays too big
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
