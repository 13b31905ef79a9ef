// varno-cli's session with the sensor: opening the port, the requests, the failures.
#include "session.h"

#include "runtime/runtime.h"

#include <cstring>
#include <string>

using namespace runtime;
using com232::AnzPara;

namespace cli {

const char* const paraNames[AnzPara] = {
    "threshold", "hysteresis",   "power",    "pmod",    "hold",    "trigger",   "backlim", "regcnt",
    "average",   "deadtimemode", "deadtime", "outmode", "trshmod", "deltatrsh", "frei15"};

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
    return target == com232::EEPROM ? "eeprom" : "ram";
}

int openPort(Session& s) {
    com232::com = s.port;
    com232::sync = 0x55;
    com232::poll = 0;
    const int rc = OpenComConfig(s.port, "", 4800, 0, 8, 1, 1024, 1024);
    if (rc < 0) {
        std::string why = PortOpenFailure(s.port);
        if (why.empty()) {
            const std::string device = PortDeviceName(s.port);
            why = device.empty()
                      ? "COM" + std::to_string(s.port) + " is not there (see varno-cli ports)"
                      : device + ": " + com232::OpenResultText(rc);
        }
        return s.fail(ExitFileOrPort, "cannot open the port: " + why);
    }
    s.opened = true;
    SetComTime(s.port, 2.0);
    FlushInQ(s.port);
    FlushOutQ(s.port);
    SetCTSMode(s.port, 0);
    return ExitDone;
}

// The panel's pause before a request: the event pump keeps running.
void pause(double seconds) {
    const double t0 = Timer();
    while (Timer() - t0 < seconds)
        ProcessSystemEvents();
}

std::string requestName(unsigned char code) {
    return "55 " + hex2(code);
}

// Sends `code`; false (reported) when the frame did not go out whole.
bool send(Session& s, unsigned char code, int& rc) {
    com232::SendRequest(code);
    if (com232::nBytesW == AnzPara + 2) return true;
    rc = s.fail(ExitFileOrPort, "the request " + requestName(code) +
                                    " could not be written: the port failed or was lost");
    return false;
}

// Why a reply wait failed, as the exit code and message say it.
int replyFailure(Session& s, unsigned char code, int expected) {
    if (GetInQLen(s.port) < 0)
        return s.fail(ExitFileOrPort,
                      "the port was lost while waiting for the reply to " + requestName(code));
    const std::string req = "the request " + requestName(code);
    if (com232::nBytesR == 0)
        return s.fail(ExitSensor, "no reply from the sensor to " + req + " within 3.0 s");
    if (com232::nBytesR < expected)
        return s.fail(ExitSensor, "the sensor answered " + req + " with " +
                                      std::to_string(com232::nBytesR) + " of " +
                                      std::to_string(expected) + " bytes within 3.0 s");
    return s.fail(ExitSensor, "the reply to " + req + " was too long (more than " +
                                  std::to_string(expected) + " bytes)");
}

// A reading request as the panel sends it: input and output flushed, the frame, the wait.
int request(Session& s, unsigned char code, int expected) {
    FlushInQ(s.port);
    FlushOutQ(s.port);
    int rc = ExitDone;
    if (!send(s, code, rc)) return rc;
    if (com232::AwaitReply(expected) != com232::Reply::Complete)
        return replyFailure(s, code, expected);
    return ExitDone;
}

// The panel's read: the pause, then 55 03 or 55 04. The block lands in pp.
int readBlock(Session& s, int target) {
    pause(target == com232::EEPROM ? EepromPause : RamPause);
    const int rc = request(s, target == com232::EEPROM ? 4 : 3, AnzPara);
    if (rc != ExitDone) return rc;
    com232::GetRxBufPara();
    com232::CopyPPtoVars();
    return ExitDone;
}

std::string fileProblem(const std::string& path, int rc) {
    switch (rc) {
    case FILE_CANNOT_OPEN: {
        // Said from what the reader found, never by opening the file again: a FIFO would
        // hold the program for ever.
        const char* what = "nothing";
        switch (ExaminePath(path.c_str(), &what)) {
        case PathKind::Absent:
            return "it cannot be opened: No such file or directory";
        case PathKind::NotAFile:
            return std::string("it is ") + what + ", not a regular file";
        default:
            return std::string("it cannot be opened: ") +
                   (*LastFileOpenError() ? LastFileOpenError() : "not a readable file");
        }
    }
    case FILE_TOO_FEW_VALUES:
        return "it holds fewer than 15 values";
    case FILE_TOO_MANY_VALUES:
        return "it holds more than 15 values";
    case FILE_BAD_VALUE:
        return "line " + std::to_string(LastFileErrorLine()) +
               " holds a value that is not a whole number from 0 to 255";
    default:
        return "it is not a parameter file";
    }
}

int Session::fail(int code, const std::string& message) {
    std::fprintf(err, "varno-cli: %s: %s\n", what.c_str(), message.c_str());
    if (o.json)
        std::fprintf(out, "%s,\"exit\":%d,\"error\":%s}\n", jsonHead(*this, false).c_str(), code,
                     jsonString(message).c_str());
    return code;
}

} // namespace cli
