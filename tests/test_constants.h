// The bytes and texts the tests play the sensor with, defined once for every test.
#pragma once

#include "scripted_peer.h" // Bytes

#include <cstdio>
#include <string>

// The sensor's answer to a good line check.
inline const Bytes lineOk{0xAA, 0x03, 0x00};
// A sample parameter block (threshold 100, hysteresis 150, ...).
inline const Bytes block15{100, 150, 23, 1, 5, 0, 9, 8, 7, 1, 4, 0, 1, 40, 37};
inline const Bytes zeros15(15, 0);
// A live record (DAT0 10, DAT1 20, NORM 128, ...).
inline const Bytes record1{10, 20, 128, 0x34, 0x12, 0x00, 0x02, 0x00, 0x01, 99};
// The status line after a good line check.
inline const std::string lineOkText = "LINE OK                              V3.0";

// The text of a parameter file holding `values`, as the program writes it.
template <class Values> std::string fileText(const Values& values) {
    std::string s;
    char line[16];
    for (auto v : values) {
        std::snprintf(line, sizeof line, "%4u\n", unsigned(v));
        s += line;
    }
    return s;
}
