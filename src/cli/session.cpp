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

namespace {

// The length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one (a stray
// byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8Length(const std::string& s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

} // namespace

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00" + hex2(c);
        } else if (c < 0x80) {
            out += char(c);
        } else if (const std::size_t n = utf8Length(s, i)) {
            out.append(s, i, n);
            i += n - 1;
        } else {
            out += "\xEF\xBF\xBD"; // U+FFFD for a byte that is not UTF-8: the text stays valid
        }
    }
    return out + "\"";
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
