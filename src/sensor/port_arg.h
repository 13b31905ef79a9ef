// What a --port value stands for, with one answer in every program: a COM number as the
// panel numbers ports ("3", "COM3", "com3"), or a device path. Plain C++.
#pragma once

#include <string>

namespace sensor {

// The number from 1 to 255; 0 for a device path; -1 for a number that is no port (out of
// range, signed: "-3", "COM0", "COM-3"). Empty is -1 too.
int PortNumber(const std::string& spec);

} // namespace sensor
