// A JSON string from any bytes, for every program's JSON: quotes, backslashes and control
// characters escaped, and every byte that is not part of well-formed UTF-8 replaced by
// U+FFFD, so that the result is always valid JSON. Plain C++.
#pragma once

#include <string>

namespace text {

std::string JsonString(const std::string& s);

} // namespace text
