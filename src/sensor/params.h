// The parameter block's table, declared once: for each of the 15 bytes its name (as
// recordings, parameter files, varno-cli's JSON and the gateway's topics name it), its
// position, the values a block may carry, what it means, its unit, and its choices or
// conversion where it has one. Every program beyond the panel names, checks and explains
// a parameter through this table; the panel keeps its own model of the same bytes.
#pragma once

#include "sensor/protocol.h"

#include <optional>
#include <string>

namespace sensor {

struct Choice {
    int value;
    const char* label;
};

struct Param {
    const char* name;    // "threshold"
    int byte;            // position in the block, 0..14
    int min, max;        // what a block may carry: every byte is passed as it is
    const char* label;   // the panel's caption, for a page or a report
    const char* meaning; // one sentence for the operator
    const char* unit;    // "" when none
    // The values the panel offers (mode selectors), terminated by a null label; null when
    // the value is a plain number.
    const Choice* choices;
    // The power's percentage: code_at_0 stands for 0 %, code_at_100 for 100 %. Both -1
    // where the parameter has no percentage.
    int percentCodeAt0, percentCodeAt100;
};

// Each byte's position by its name, for code that needs one byte (the table holds the rest).
namespace param {
enum Index : int {
    threshold, hysteresis, power, pmod, hold, trigger, backlim, regcnt,
    average, deadtimemode, deadtime, outmode, trshmod, deltatrsh, frei15
};
} // namespace param

// The table, in block order: Params()[i].byte == i.
const Param* Params();
constexpr int ParamCount = ParamLen;

// The parameter named `name`, or null.
const Param* FindParam(const std::string& name);

// Whether `value` may stand in byte `p`: a whole number from p.min to p.max.
bool InRange(const Param& p, double value);

// The power's percentage for a code, and the code sent for a percentage, as the panel
// converts them (truncating; a code beyond "no intensity" is 0 %).
int PowerPercent(int code);
int PowerCode(int percent);

} // namespace sensor
