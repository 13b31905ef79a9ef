// The live record's layout: bytes 0 to 2 DAT0, DAT1, NORM; 3/4, 5/6 and 7/8 the edge
// position, the IN0 period and the active window, low byte first; 9 the working threshold.
#include "sensor/reading.h"

namespace sensor {

namespace {

enum Byte { Dat0, Dat1, Norm, EdgeL, EdgeH, In0L, In0H, In1L, In1H, TrshWork };
static_assert(TrshWork == RecordLen - 1);

unsigned word(const unsigned char* r, int low) {
    return r[low] + 256u * r[low + 1];
}

constexpr Field fields[] = {
    {"dat0", "Light at receiver DAT0", "sensor's unit"},
    {"dat1", "Light at receiver DAT1", "sensor's unit"},
    {"norm", "Normalised signal DAT0 * 255 / (DAT0 + DAT1)", "NORM"},
    {"edge", "Where the edge lies in the IN0 period", "sensor's time unit"},
    {"in0", "The IN0 period, from one positive edge at IN0 to the next", "sensor's time unit"},
    {"in1", "The active window's length", "sensor's time unit"},
    {"trsh", "The threshold the sensor works with now", "NORM"},
    {"edge_pct", "The edge's position in percent of the IN0 period (none without one)", "%"},
    {"win_pct", "The active window in percent of the IN0 period (none without one)", "%"},
};

} // namespace

Reading Decode(const unsigned char* r) {
    Reading d;
    d.dat0 = r[Dat0];
    d.dat1 = r[Dat1];
    d.norm = r[Norm];
    d.edge = word(r, EdgeL);
    d.in0 = word(r, In0L);
    d.in1 = word(r, In1L);
    d.trsh = r[TrshWork];
    if (d.in0 != 0) {
        d.edgePct = (100u * d.edge) / d.in0;
        d.winPct = (100u * d.in1) / d.in0;
    }
    return d;
}

const Field* RecordFields(int& count) {
    count = int(sizeof fields / sizeof fields[0]);
    return fields;
}

} // namespace sensor
