// The parameter block, byte by byte.
#include "sensor/params.h"

#include <cmath>
#include <cstdlib>

namespace sensor {

namespace {

constexpr Choice triggerChoices[] = {
    {0, "CONT"}, {1, "EXT"}, {2, "EXTSTAT"}, {3, "ADJ EXT"}, {0, nullptr}};
constexpr Choice pmodChoices[] = {{0, "STAT"}, {1, "DYN"}, {0, nullptr}};
constexpr Choice trshmodChoices[] = {{0, "FIX"}, {1, "DYN"}, {0, nullptr}};
constexpr Choice deadtimemodeChoices[] = {{0, "percent"}, {1, "ms"}, {0, nullptr}};
constexpr Choice outmodeChoices[] = {{0, "DIRECT"}, {1, "INVERSE"}, {0, nullptr}};

constexpr int powerAt0 = 46, powerAt100 = 0;

// Block order; each row's byte is its index.
constexpr Param table[ParamLen] = {
    {"threshold", 0, 0, 255, "TRESHOLD",
     "Lower threshold on the NORM scale: NORM must drop below it to start a counting event "
     "(in dynamic threshold mode the ceiling of the dynamic threshold)",
     "NORM", nullptr, -1, -1},
    {"hysteresis", 1, 0, 255, "HYSTERESIS",
     "After a counting event NORM must rise above this value before a new edge is detected",
     "NORM", nullptr, -1, -1},
    {"power", 2, 0, 255, "POWER",
     "Transmitter LED intensity when PMOD is STAT, as the sensor's code: 46 is 0 %, 0 is "
     "100 %",
     "code", nullptr, powerAt0, powerAt100},
    {"pmod", 3, 0, 255, "PMOD",
     "Power mode: STAT holds the transmitter power at POWER, DYN tunes it to the light "
     "reflected from the target",
     "", pmodChoices, -1, -1},
    {"hold", 4, 0, 255, "HOLD", "Pulse length of the output OUT0", "sensor's unit", nullptr, -1,
     -1},
    {"trigger", 5, 0, 255, "TRIGGER",
     "Trigger mode: CONT measures continuously; EXT, EXTSTAT and ADJ EXT measure in the "
     "window the inputs IN0 and IN1 open",
     "", triggerChoices, -1, -1},
    {"backlim", 6, 0, 255, "BACKLIM",
     "Intensity limit: while DAT0 is below it the sensor evaluates nothing", "sensor's unit",
     nullptr, -1, -1},
    {"regcnt", 7, 0, 255, "REGCNT",
     "Main-loop runs between two corrections of the transmitter power (PMOD DYN)", "runs",
     nullptr, -1, -1},
    {"average", 8, 0, 255, "AVERAGE", "Samples over which the sensor averages NORM", "samples",
     nullptr, -1, -1},
    {"deadtimemode", 9, 0, 255, "DEAD TIME MODE",
     "Unit of the dead time: percent, or milliseconds", "", deadtimemodeChoices, -1, -1},
    {"deadtime", 10, 0, 255, "DEAD TIME",
     "Time the sensor is blind after an edge, as a step 0..15: 2 ms a step (ms mode) or 6 % a "
     "step (percent mode); CONT only",
     "step", nullptr, -1, -1},
    {"outmode", 11, 0, 255, "OUTMODE",
     "Output polarity of OUT0 on a counting event: DIRECT goes LOW to HIGH, INVERSE HIGH to "
     "LOW",
     "", outmodeChoices, -1, -1},
    {"trshmod", 12, 0, 255, "TRSHMOD",
     "Threshold mode: FIX works with THRESHOLD, DYN computes the minimum NORM plus DELTA TRSH "
     "at every edge",
     "", trshmodChoices, -1, -1},
    {"deltatrsh", 13, 0, 255, "DELTA TRSH",
     "Offset above the minimum NORM for the dynamic threshold (TRSHMOD DYN)", "NORM", nullptr,
     -1, -1},
    {"frei15", 14, 0, 255, "FREI15", "Spare byte: kept and sent back unchanged", "", nullptr, -1,
     -1},
};

static_assert(sizeof table / sizeof table[0] == ParamLen);

constexpr bool inOrder() {
    for (int i = 0; i < ParamLen; ++i)
        if (table[i].byte != i) return false;
    return true;
}
static_assert(inOrder(), "the table is in block order");
static_assert(param::frei15 == ParamLen - 1);

} // namespace

const Param* Params() {
    return table;
}

const Param* FindParam(const std::string& name) {
    for (const Param& p : table)
        if (name == p.name) return &p;
    return nullptr;
}

bool InRange(const Param& p, double value) {
    return std::isfinite(value) && value == std::floor(value) && value >= p.min &&
           value <= p.max;
}

int PowerPercent(int code) {
    if (code > powerAt0) return 0;
    // Of the percentages sent as this code, the one nearest the exact value, so that a
    // block read from the sensor goes back unchanged.
    const double exact = (powerAt0 - code) * 100.0 / powerAt0;
    int best = -1;
    for (int p = 0; p <= 100; ++p) {
        if (PowerCode(p) != code) continue;
        if (best < 0 || std::abs(p - exact) < std::abs(best - exact)) best = p;
    }
    return best < 0 ? 0 : best;
}

int PowerCode(int percent) {
    return (powerAt0 - (percent * powerAt0) / 100) & 0xFF;
}

} // namespace sensor
