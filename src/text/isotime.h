// Times as every program writes them: ISO 8601 in UTC with milliseconds,
// 2026-12-07T13:45:01.123Z. Plain C++.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace text {

// `when` into `out` (at least 25 bytes; cut short to `size`).
void IsoTime(std::chrono::system_clock::time_point when, char* out, std::size_t size);
std::string IsoTime(std::chrono::system_clock::time_point when);
// The present time.
std::string IsoNow();
void IsoNow(char* out, std::size_t size);

} // namespace text
