// --port values.
#include "sensor/port_arg.h"

#include <cctype>
#include <cstdlib>

namespace sensor {

int PortNumber(const std::string& spec) {
    if (spec.empty()) return -1;
    std::string digits = spec;
    if (spec.size() > 3 && (spec[0] == 'C' || spec[0] == 'c') &&
        (spec[1] == 'O' || spec[1] == 'o') && (spec[2] == 'M' || spec[2] == 'm'))
        digits = spec.substr(3);
    // A sign before digits makes a number, not a file name: "-3" is no port, never a
    // path that does not exist nor "COM-3".
    std::size_t first = 0;
    const bool signedNumber = (digits[0] == '-' || digits[0] == '+') && digits.size() > 1;
    if (signedNumber) first = 1;
    bool allDigits = first < digits.size();
    for (std::size_t i = first; i < digits.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(digits[i]))) allDigits = false;
    if (!allDigits) return 0; // a name: a device path
    if (signedNumber || digits.size() > 6) return -1;
    const long n = std::strtol(digits.c_str(), nullptr, 10);
    return n >= 1 && n <= 255 ? int(n) : -1;
}

} // namespace sensor
