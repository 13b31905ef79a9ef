// The text form of a byte array, as the parameter file keeps it: whole numbers from 0 to
// 255 separated by white space, usually one a line. Plain C++, no Qt.
#pragma once

#include <cstddef>

namespace runtime {

// Reads exactly `count` values from data[0..size). A value is a run of 1 to 3 decimal
// digits from 0 to 255; spaces, tabs, CR, LF, FF, VT and blank lines separate values. A zero
// byte is never part of a value: it ends one, and where a value would start it is a bad
// value. Returns FILE_OK with the values in out[0..count), or FILE_TOO_FEW_VALUES,
// FILE_TOO_MANY_VALUES, FILE_BAD_VALUE (FILE_BAD_ARGUMENT for a null pointer or a count
// below 1); on failure `out` is left untouched. When errorLine is given it receives the
// line (1 = first) of the offending value after FILE_BAD_VALUE or FILE_TOO_MANY_VALUES,
// and 0 otherwise.
int ParseByteList(const char* data, std::size_t size, unsigned char* out, int count,
                  int* errorLine);

} // namespace runtime
