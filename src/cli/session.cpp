// varno-cli's session with the sensor: opening the port, the requests, the failures.
#include "session.h"

#include "runtime/log.h"

#include <string>

namespace cli {

const char* const paraNames[sensor::ParamLen] = {
    "threshold", "hysteresis",   "power",    "pmod",    "hold",    "trigger",   "backlim", "regcnt",
    "average",   "deadtimemode", "deadtime", "outmode", "trshmod", "deltatrsh", "frei15"};

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04X", unsigned(c));
            out += b;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string jsonArray(const unsigned char* v, int n) {
    std::string out = "[";
    for (int i = 0; i < n; ++i)
        out += (i ? "," : "") + std::to_string(v[i]);
    return out + "]";
}

const char* targetName(int target) {
    return target == sensor::EEPROM ? "eeprom" : "ram";
}

int exitFor(const sensor::Result& r) {
    if (r.ok()) return ExitDone;
    if (r.code() == sensor::Result::Mismatch) return ExitVerify;
    return r.portFault() ? ExitFileOrPort : ExitSensor;
}

int openPort(Session& s) {
    s.link.SetPort(s.port);
    if (const sensor::Result r = s.link.Open(); !r) return s.fail(r);
    s.opened = true;
    return ExitDone;
}

int readBlock(Session& s, int target) {
    const sensor::Result r = s.link.ReadBlock(target);
    return r ? ExitDone : s.fail(r);
}

int Session::fail(int code, const std::string& message) {
    runtime::log::Warning(runtime::log::Cli, "varno-cli: " + what + ": " + message);
    if (o.json)
        std::fprintf(out, "{\"command\":%s,\"port\":%s,\"ok\":false,\"exit\":%d,\"error\":%s}\n",
                     jsonString(what).c_str(), jsonString(portName).c_str(), code,
                     jsonString(message).c_str());
    return code;
}

int Session::fail(const sensor::Result& r) {
    return fail(exitFor(r), r.text());
}

} // namespace cli
