// varno-cli's session with the sensor: opening the port, the requests, the failures.
#include "session.h"

#include "runtime/log.h"

#include <string>

namespace cli {

std::string hex2(unsigned v) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
    return b;
}

const char* commandWord(Command c) {
    switch (c) {
    case Command::Ports:
        return "ports";
    case Command::Check:
        return "check";
    case Command::Read:
        return "read";
    case Command::Write:
        return "write";
    case Command::Live:
        return "live";
    case Command::JumpBuf:
        return "jumpbuf";
    default:
        return nullptr;
    }
}

std::string portLabel(const std::string& spec) {
    const int n = PortNumber(spec);
    return n > 0 ? "COM" + std::to_string(n) : spec;
}

std::string jsonHead(const Options& o, const std::string& portName, bool ok, bool withTarget) {
    const char* word = commandWord(o.command);
    std::string head = std::string("{\"command\":") + (word ? jsonString(word) : "null") +
                       ",\"port\":" + jsonString(portName) + ",\"ok\":" + (ok ? "true" : "false");
    if (withTarget && (o.command == Command::Read || o.command == Command::Write))
        head += std::string(",\"target\":\"") + targetName(o.target) + "\"";
    return head;
}

std::string jsonHead(const Session& s, bool ok) {
    return jsonHead(s.o, s.portName, ok, true);
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
        std::fprintf(out, "%s,\"exit\":%d,\"error\":%s}\n", jsonHead(*this, false).c_str(), code,
                     jsonString(message).c_str());
    return code;
}

int Session::fail(const sensor::Result& r) {
    return fail(exitFor(r), r.text());
}

} // namespace cli
