// varno-cli's commands over com232: the same frames and reply wait as the panel, the same
// flushes and pauses; failures end in a message on stderr and an exit code.
#include "cli.h"

#include "com232.h"
#include "runtime/endpoint.h"
#include "runtime/runtime.h"
#include "session.h"

#include <cstring>
#include <string>

#ifndef VARNO_VERSION
#define VARNO_VERSION "3.0"
#endif

using namespace runtime;
using com232::AnzPara;

namespace cli {

namespace {

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
        std::fprintf(s.out, "%s,\"line\":\"LINE OK\"}\n", jsonHead(s, true).c_str());
    else
        std::fprintf(s.out, "LINE OK\n");
    return ExitDone;
}

int cmdRead(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    if (int rc = readBlock(s, s.o.target); rc != ExitDone) return rc;
    const std::string& file = s.o.file;
    if (!file.empty()) {
        const int wrc =
            ArrayToFile(file.c_str(), com232::pp, VAL_UNSIGNED_CHAR, AnzPara, 1, 0, 0, 0, 4, 1, 0);
        if (wrc == FILE_NOT_A_FILE) {
            const char* what = "a special file";
            ExaminePath(file.c_str(), &what);
            return s.fail(ExitFileOrPort, "the parameter file " + file +
                                              " cannot be written: it is " + what +
                                              ", not a regular file; it was left as it is");
        }
        if (wrc < 0)
            return s.fail(ExitFileOrPort,
                          "the parameter file " + file +
                              " cannot be written (its folder may be missing or protected, or "
                              "the disk full); it is unchanged");
    }
    if (s.o.json) {
        std::string names;
        for (int i = 0; i < AnzPara; ++i)
            names += std::string(i ? "," : "") + "\"" + paraNames[i] +
                     "\":" + std::to_string(com232::pp[i]);
        std::fprintf(s.out, "%s,\"values\":%s,\"parameters\":{%s}%s}\n", jsonHead(s, true).c_str(),
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
        // The port closes next, and closing may set the line back to other settings at
        // once: the frame leaves the driver and the adapter first.
        pause(DrainTime);
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

int cmdJumpBuf(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    pause(RamPause);
    if (int rc = request(s, 6, JumpBufLen); rc != ExitDone) return rc;
    unsigned char values[JumpBufLen];
    std::memcpy(values, com232::szReadBuf, JumpBufLen);
    const unsigned trsh = com232::dataTrshWork;
    if (s.o.json) {
        std::fprintf(s.out, "%s,\"values\":%s,\"trsh\":%u}\n", jsonHead(s, true).c_str(),
                     jsonArray(values, JumpBufLen).c_str(), trsh);
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

// Output that did not arrive (a full disk behind a redirection, /dev/full) is a file error.
bool outputLost(std::FILE* out) {
    return std::fflush(out) != 0 || std::ferror(out);
}

} // namespace

int Run(const Options& o, std::FILE* out, std::FILE* err) {
    if (o.command == Command::Help || o.command == Command::Version) {
        if (o.command == Command::Help)
            std::fputs(HelpText(), out);
        else
            std::fprintf(out, "varno-cli (VARNO-Redev) %s\n", VARNO_VERSION);
        if (!outputLost(out)) return ExitDone;
        std::fprintf(err, "varno-cli: the output could not be written\n");
        return ExitFileOrPort;
    }
    Session s{o, out, err, commandWhat(o), 0, o.port};
    const int number = PortNumber(o.port);
    if (number < 0) {
        std::fprintf(err, "varno-cli: no such port number: %s\n", o.port.c_str());
        if (o.json)
            std::fprintf(out, "%s,\"exit\":%d,\"error\":%s}\n", jsonHead(s, false).c_str(),
                         int(ExitUsage), jsonString("no such port number: " + o.port).c_str());
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
    // Output that did not arrive (a full disk behind a redirection) is a file error.
    if (outputLost(out) && rc == ExitDone) {
        std::fprintf(err, "varno-cli: %s: the output could not be written\n", s.what.c_str());
        rc = ExitFileOrPort;
    }
    if (s.opened) CloseCom(s.port);
    return rc;
}

int Main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    Options o;
    std::string error;
    if (!ParseArgs(argc, argv, o, error)) {
        std::fprintf(err, "varno-cli: %s\n(varno-cli --help lists commands and options)\n",
                     error.c_str());
        // Asked for JSON, a script gets its one object for this outcome too, whatever
        // stopped the reading of the command line.
        bool json = false;
        for (int i = 1; i < argc; ++i)
            json = json || (argv[i] && std::strcmp(argv[i], "--json") == 0);
        if (json) {
            std::fprintf(out, "%s,\"exit\":%d,\"error\":%s}\n",
                         jsonHead(o, portLabel(o.port), false, false).c_str(), int(ExitUsage),
                         jsonString(error).c_str());
            std::fflush(out);
        }
        return ExitUsage;
    }
    return Run(o, out, err);
}

} // namespace cli
