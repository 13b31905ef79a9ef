// A live record decoded once, into named fields: the ten bytes as the sensor sends them,
// the three 16-bit values (low byte first) and the two percentages of the IN0 period.
// Every program beyond the panel reads a record through this; the panel keeps its own
// model of the same bytes.
#pragma once

#include "sensor/protocol.h"

#include <optional>

namespace sensor {

struct Reading {
    unsigned dat0 = 0, dat1 = 0; // the receivers
    unsigned norm = 0;           // NORM = DAT0 * 255 / (DAT0 + DAT1), by the sensor
    unsigned edge = 0;           // the edge's position in the IN0 period (16 bits)
    unsigned in0 = 0;            // the IN0 period (16 bits)
    unsigned in1 = 0;            // the active window's length (16 bits)
    unsigned trsh = 0;           // the working threshold
    // 100 * edge / in0 and 100 * in1 / in0, whole percent as the displays show them; none
    // without an IN0 period.
    std::optional<unsigned> edgePct, winPct;
};

Reading Decode(const unsigned char* record); // RecordLen bytes

// The record's fields in the order a recording's columns and the gateway's live message
// hold them, with what each means: for pages and tools that learn them from the broker.
struct Field {
    const char* name;
    const char* meaning;
    const char* unit;
};
const Field* RecordFields(int& count);

} // namespace sensor
