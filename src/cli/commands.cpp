// varno-cli's operations over com232: the same frames and reply wait as the panel, the
// same flushes and pauses; failures end in a message on stderr and an exit code.
#include "cli.h"

#include "com232.h"
#include "record.h"
#include "runtime/endpoint.h"
#include "runtime/runtime.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#ifndef VARNO_VERSION
#define VARNO_VERSION "3.0"
#endif

using namespace runtime;
using com232::AnzData;
using com232::AnzPara;

namespace cli {

namespace {

constexpr int JumpBufLen = 16;
constexpr double RamPause = 0.1; // the panel's pause before a read
constexpr double EepromPause = 1.5;
constexpr int CyclePauseMs = 50; // between live cycles
// A --port given as a path stands for this COM number.
constexpr int PathPort = 1;

const char* const paraNames[AnzPara] = {
    "threshold", "hysteresis",   "power",    "pmod",    "hold",    "trigger",   "backlim", "regcnt",
    "average",   "deadtimemode", "deadtime", "outmode", "trshmod", "deltatrsh", "frei15"};

volatile std::sig_atomic_t stopRequested = 0;

void onInterrupt(int) {
    stopRequested = 1;
    std::signal(SIGINT, SIG_DFL); // a second Ctrl-C ends the program at once
}

std::string hex2(unsigned v) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
    return b;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\')
            out += '\\', out += char(c);
        else if (c == '\n')
            out += "\\n";
        else if (c < 0x20)
            out += "\\u00" + hex2(c);
        else
            out += char(c);
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
    return target == com232::EEPROM ? "eeprom" : "ram";
}

// One command's run: where it prints, what it is called in messages, its port.
struct Session {
    const Options& o;
    std::FILE* out;
    std::FILE* err;
    std::string what; // "read ram", for messages
    int port = 0;
    std::string portName; // as the user gave it
    bool opened = false;

    // Prints the failure on stderr (and, with --json, as the object on stdout).
    int fail(int code, const std::string& message) {
        std::fprintf(err, "varno-cli: %s: %s\n", what.c_str(), message.c_str());
        if (o.json)
            std::fprintf(out,
                         "{\"command\":%s,\"port\":%s,\"ok\":false,\"exit\":%d,\"error\":%s}\n",
                         jsonString(what).c_str(), jsonString(portName).c_str(), code,
                         jsonString(message).c_str());
        return code;
    }
};

// Opens the port as the panel does (4800 8N1, flushed, no handshake), without the line
// check: each command sends only its own requests.
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
        errno = 0;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        const int e = errno;
        if (f) std::fclose(f);
        return std::string("it cannot be opened: ") +
               (e ? std::strerror(e) : "not a readable file");
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

// ---- commands ---------------------------------------------------------------------------

int cmdPorts(Session& s) {
    const int n = SerialPortCount();
    int shown = 0;
    for (int i = 1; i <= n; ++i) {
        const std::string label = SerialPortLabel(i);
        if (label.empty()) continue;
        std::fprintf(s.out, "COM%d  %s\n", i, label.c_str());
        ++shown;
    }
    if (shown == 0) std::fprintf(s.err, "varno-cli: ports: no serial ports found\n");
    return ExitDone;
}

int cmdCheck(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    int rc = ExitDone;
    if (!send(s, 7, rc)) return rc; // right after the opening, which flushed
    if (com232::AwaitReply(3) != com232::Reply::Complete) return replyFailure(s, 7, 3);
    if (!com232::LineCheckReplyOk())
        return s.fail(ExitSensor, "the sensor answered the line check 55 07 wrongly: " +
                                      hex2(com232::szReadBuf[0]) + " " +
                                      hex2(com232::szReadBuf[1]) + " " +
                                      hex2(com232::szReadBuf[2]) + " instead of AA 03 00");
    if (s.o.json)
        std::fprintf(s.out,
                     "{\"command\":\"check\",\"port\":%s,\"ok\":true,\"line\":\"LINE OK\"}\n",
                     jsonString(s.portName).c_str());
    else
        std::fprintf(s.out, "LINE OK\n");
    return ExitDone;
}

int cmdRead(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    if (int rc = readBlock(s, s.o.target); rc != ExitDone) return rc;
    const std::string& file = s.o.file;
    if (!file.empty() &&
        ArrayToFile(file.c_str(), com232::pp, VAL_UNSIGNED_CHAR, AnzPara, 1, 0, 0, 0, 4, 1, 0) < 0)
        return s.fail(ExitFileOrPort,
                      "the parameter file " + file +
                          " cannot be written (its folder may be missing or protected, or "
                          "the disk full); it is unchanged");
    if (s.o.json) {
        std::string names;
        for (int i = 0; i < AnzPara; ++i)
            names += std::string(i ? "," : "") + "\"" + paraNames[i] +
                     "\":" + std::to_string(com232::pp[i]);
        std::fprintf(s.out,
                     "{\"command\":\"read\",\"port\":%s,\"ok\":true,\"target\":\"%s\","
                     "\"values\":%s,\"parameters\":{%s}%s}\n",
                     jsonString(s.portName).c_str(), targetName(s.o.target),
                     jsonArray(com232::pp, AnzPara).c_str(), names.c_str(),
                     file.empty() ? "" : (",\"file\":" + jsonString(file)).c_str());
    } else if (file.empty()) {
        for (int i = 0; i < AnzPara; ++i)
            std::fprintf(s.out, "%4u\n", unsigned(com232::pp[i]));
    }
    return ExitDone;
}

int cmdWrite(Session& s) {
    unsigned char block[AnzPara];
    const std::string& file = s.o.file;
    const int frc = FileToArray(file.c_str(), block, VAL_UNSIGNED_CHAR, AnzPara, 1, 0, 0, 1);
    if (frc < 0)
        return s.fail(ExitFileOrPort, "the parameter file " + file + " cannot be used: " +
                                          fileProblem(file, frc) + "; nothing was sent");
    if (int rc = openPort(s); rc != ExitDone) return rc;
    std::memcpy(com232::pp, block, AnzPara);
    com232::CopyPPtoVars();
    const unsigned char code = s.o.target == com232::EEPROM ? 2 : 1;
    int rc = ExitDone;
    if (!send(s, code, rc)) return rc;
    if (!s.o.verify) {
        std::fprintf(s.out, "sent %s to %s\n", file.c_str(), targetName(s.o.target));
        return ExitDone;
    }
    if (rc = readBlock(s, s.o.target); rc != ExitDone) return rc;
    int differing = 0;
    for (int i = 0; i < AnzPara; ++i) {
        if (com232::pp[i] == block[i]) continue;
        ++differing;
        std::fprintf(s.err, "varno-cli: %s: byte %d (%s): sent %u, read back %u\n", s.what.c_str(),
                     i + 1, paraNames[i], unsigned(block[i]), unsigned(com232::pp[i]));
    }
    if (differing)
        return s.fail(ExitVerify, "verify failed: " + std::to_string(differing) + " of 15 bytes " +
                                      "read back differ from " + file);
    std::fprintf(s.out, "sent %s to %s; read back: all 15 bytes match\n", file.c_str(),
                 targetName(s.o.target));
    return ExitDone;
}

// One live record held until the line is found quiet behind it.
struct Held {
    unsigned char rec[AnzData];
    char when[40];
    double at;
};

int cmdLive(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    // The live requests carry the sensor's own block, never zeros it might misread.
    if (int rc = readBlock(s, com232::RAM); rc != ExitDone) return rc;
    const unsigned char hysteresis = com232::pp[1];
    std::fprintf(s.out, "%s\n", record::Header());
    std::fflush(s.out);
    pause(RamPause);

    stopRequested = 0;
    auto* previous = std::signal(SIGINT, onInterrupt);
    Held held{};
    bool pending = false;
    long rows = 0;
    double started = -1.0;
    int rc = ExitDone;
    com232::poll = 1;
    for (;;) {
        if (pending) {
            // Taken as good only once the line is quiet behind it: bytes waiting now are
            // strays, and the record may have been the front of a longer reply.
            ProcessSystemEvents();
            if (GetInQLen(s.port) != 0) {
                rc = s.fail(ExitSensor, "stray bytes followed the reply to 55 05 (record " +
                                            std::to_string(rows + 1) +
                                            "): it was not a live record");
                break;
            }
            pending = false;
            std::memcpy(com232::databuf, held.rec, AnzData);
            com232::CopyDatatoVars();
            char row[256];
            if (record::FormatRow(row, sizeof row, held.when, held.at, held.rec, hysteresis) > 0)
                std::fprintf(s.out, "%s\n", row);
            std::fflush(s.out);
            ++rows;
        }
        if (stopRequested || (s.o.count > 0 && rows >= s.o.count)) break;
        FlushInQ(s.port);
        FlushOutQ(s.port);
        if (started < 0) started = Timer();
        if (!send(s, 5, rc)) break;
        if (com232::AwaitReply(AnzData, true) != com232::Reply::Complete) {
            rc = replyFailure(s, 5, AnzData);
            break;
        }
        std::memcpy(held.rec, com232::szReadBuf, AnzData);
        record::IsoTimeNow(held.when, sizeof held.when);
        held.at = Timer() - started;
        pending = true;
        ProcessSystemEvents();
        Sleep(CyclePauseMs);
    }
    com232::poll = 0;
    std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
    return rc;
}

int cmdJumpBuf(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    pause(RamPause);
    if (int rc = request(s, 6, JumpBufLen); rc != ExitDone) return rc;
    unsigned char values[JumpBufLen];
    std::memcpy(values, com232::szReadBuf, JumpBufLen);
    const unsigned trsh = com232::dataTrshWork;
    if (s.o.json) {
        std::fprintf(
            s.out, "{\"command\":\"jumpbuf\",\"port\":%s,\"ok\":true,\"values\":%s,\"trsh\":%u}\n",
            jsonString(s.portName).c_str(), jsonArray(values, JumpBufLen).c_str(), trsh);
    } else {
        std::fprintf(s.out, "i,jump,trsh\n");
        for (int i = 0; i < JumpBufLen; ++i)
            std::fprintf(s.out, "%d,%u,%u\n", i, unsigned(values[i]), trsh);
    }
    return ExitDone;
}

std::string commandWhat(const Options& o) {
    switch (o.command) {
    case Command::Ports:
        return "ports";
    case Command::Check:
        return "check";
    case Command::Read:
        return std::string("read ") + targetName(o.target);
    case Command::Write:
        return std::string("write ") + targetName(o.target);
    case Command::Live:
        return "live";
    case Command::JumpBuf:
        return "jumpbuf";
    default:
        return "varno-cli";
    }
}

} // namespace

void RequestStop() {
    stopRequested = 1;
}

int Run(const Options& o, std::FILE* out, std::FILE* err) {
    if (o.command == Command::Help) {
        std::fputs(HelpText(), out);
        return ExitDone;
    }
    if (o.command == Command::Version) {
        std::fprintf(out, "varno-cli (VARNO-Redev) %s\n", VARNO_VERSION);
        return ExitDone;
    }
    Session s{o, out, err, commandWhat(o)};
    s.portName = o.port;
    const int number = PortNumber(o.port);
    if (number < 0) {
        std::fprintf(err, "varno-cli: no such port number: %s\n", o.port.c_str());
        return ExitUsage;
    }
    if (number == 0)
        BindSerialDevice(PathPort, o.port.c_str());
    else
        s.portName = "COM" + std::to_string(number);
    s.port = number == 0 ? PathPort : number;
    // Each run starts as the program does: an all-zero block in the frames.
    std::memset(com232::pp, 0, sizeof com232::pp);
    int rc = ExitUsage;
    switch (o.command) {
    case Command::Ports:
        rc = cmdPorts(s);
        break;
    case Command::Check:
        rc = cmdCheck(s);
        break;
    case Command::Read:
        rc = cmdRead(s);
        break;
    case Command::Write:
        rc = cmdWrite(s);
        break;
    case Command::Live:
        rc = cmdLive(s);
        break;
    case Command::JumpBuf:
        rc = cmdJumpBuf(s);
        break;
    default:
        break;
    }
    std::fflush(out);
    if (s.opened) CloseCom(s.port);
    return rc;
}

int Main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    Options o;
    std::string error;
    if (!ParseArgs(argc, argv, o, error)) {
        std::fprintf(err, "varno-cli: %s\n(varno-cli --help lists commands and options)\n",
                     error.c_str());
        return ExitUsage;
    }
    return Run(o, out, err);
}

} // namespace cli
