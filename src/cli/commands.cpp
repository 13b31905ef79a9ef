// varno-cli's commands over the sensor layer: the same frames, reply wait, flushes and
// pauses as the panel; failures end in a message on stderr and an exit code.
#include "cli.h"
#include "recording/record.h"
#include "sensor/params.h"
#include "sensor/reading.h"

#include "runtime/endpoint.h"
#include "runtime/log.h"
#include "runtime/runtime.h"
#include "sensor/paramfile.h"
#include "session.h"

#include <cstring>
#include <optional>
#include <string>

#ifndef VARNO_VERSION
#define VARNO_VERSION "3.0"
#endif

using namespace runtime;
using sensor::ParamLen;
using sensor::Result;

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
    if (shown == 0) log::Warning(log::Cli, "varno-cli: ports: no serial ports found");
    return ExitDone;
}

int cmdCheck(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    // Right after the opening, which flushed.
    if (const Result r = s.link.LineCheck(); !r) return s.fail(r);
    if (s.o.json)
        std::fprintf(s.out, "%s,\"line\":\"LINE OK\"}\n", jsonHead(s, true).c_str());
    else
        std::fprintf(s.out, "LINE OK\n");
    return ExitDone;
}

int cmdRead(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    if (int rc = readBlock(s, s.o.target); rc != ExitDone) return rc;
    const unsigned char* block = s.link.Block();
    const std::string& file = s.o.file;
    if (std::string why; !file.empty() && !sensor::WriteParamFile(file.c_str(), block, &why)) {
        if (!why.empty())
            return s.fail(ExitFileOrPort, "the parameter file " + file + " cannot be written: " +
                                              why + "; it was left as it is");
        return s.fail(ExitFileOrPort,
                      "the parameter file " + file +
                          " cannot be written (its folder may be missing or protected, or "
                          "the disk full); it is unchanged");
    }
    if (s.o.json) {
        std::string names;
        for (int i = 0; i < ParamLen; ++i)
            names +=
                std::string(i ? "," : "") + "\"" + sensor::Params()[i].name + "\":" + std::to_string(block[i]);
        std::fprintf(s.out, "%s,\"values\":%s,\"parameters\":{%s}%s}\n", jsonHead(s, true).c_str(),
                     jsonArray(block, ParamLen).c_str(), names.c_str(),
                     file.empty() ? "" : (",\"file\":" + jsonString(file)).c_str());
    } else if (file.empty()) {
        for (int i = 0; i < ParamLen; ++i)
            std::fprintf(s.out, "%4u\n", unsigned(block[i]));
    }
    return ExitDone;
}

int cmdWrite(Session& s) {
    unsigned char block[ParamLen];
    const std::string& file = s.o.file;
    std::string why, osWords;
    if (!sensor::ReadParamFile(file.c_str(), block, why, &osWords)) {
        // The system's own words too, where the reason leaves them out.
        if (!osWords.empty() && why.find(osWords) == std::string::npos) why += " (" + osWords + ")";
        return s.fail(ExitFileOrPort, "the parameter file " + file + " cannot be used: " + why +
                                          "; nothing was sent");
    }
    if (int rc = openPort(s); rc != ExitDone) return rc;
    if (!s.o.verify) {
        if (const Result r = s.link.WriteBlock(s.o.target, block); !r) return s.fail(r);
        // The port closes next, and closing may set the line back to other settings at
        // once: the frame leaves the driver and the adapter first.
        s.link.Drain();
        std::fprintf(s.out, "sent %s to %s\n", file.c_str(), targetName(s.o.target));
        return ExitDone;
    }
    const Result r = s.link.WriteVerified(s.o.target, block);
    if (r.code() == Result::Mismatch) {
        const unsigned char* back = s.link.Block();
        for (int i = 0; i < ParamLen; ++i)
            if (back[i] != block[i])
                log::Warning(log::Cli, "varno-cli: " + s.what + ": byte " + std::to_string(i + 1) +
                                           " (" + sensor::Params()[i].name + "): sent " +
                                           std::to_string(block[i]) + ", read back " +
                                           std::to_string(back[i]));
        return s.fail(ExitVerify, r.text() + " from " + file);
    }
    if (!r) return s.fail(r);
    std::fprintf(s.out, "sent %s to %s; read back: all %d bytes match\n", file.c_str(),
                 targetName(s.o.target), ParamLen);
    return ExitDone;
}

int cmdJumpBuf(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    unsigned char values[sensor::JumpBufLen];
    if (const Result r = s.link.ReadJumpBuffer(values); !r) return s.fail(r);
    // The working threshold of the last live record of this run; none in a run of its own
    // (empty, null in JSON), never a made-up 0.
    std::optional<unsigned> trsh;
    if (s.link.GoodRecords() > 0) trsh = sensor::Decode(s.link.LastGood().bytes).trsh;
    if (s.o.json) {
        std::fprintf(s.out, "%s,\"values\":%s,\"trsh\":%s}\n", jsonHead(s, true).c_str(),
                     jsonArray(values, sensor::JumpBufLen).c_str(),
                     trsh ? std::to_string(*trsh).c_str() : "null");
    } else {
        std::fputs(record::JumpBufferCsv("i,jump,trsh", values, trsh).c_str(), s.out);
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

int run(const Options& o, std::FILE* out) {
    if (o.command == Command::Help || o.command == Command::Version) {
        if (o.command == Command::Help)
            std::fputs(HelpText(), out);
        else
            std::fprintf(out, "varno-cli (VARNO-Redev) %s\n", VARNO_VERSION);
        if (!outputLost(out)) return ExitDone;
        log::Warning(log::Cli, "varno-cli: the output could not be written");
        return ExitFileOrPort;
    }
    if (o.trace) log::EnableTrace();
    Session s{o, out, commandWhat(o), 0, o.port};
    const int number = PortNumber(o.port);
    if (number < 0) {
        log::Warning(log::Cli, "varno-cli: no such port number: " + o.port);
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
    // Each run starts as the program does: an all-zero block in the frames (a new link).
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
        log::Warning(log::Cli, "varno-cli: " + s.what + ": the output could not be written");
        rc = ExitFileOrPort;
    }
    if (s.opened) s.link.Close();
    return rc;
}

} // namespace

int Run(const Options& o, std::FILE* out, std::FILE* err) {
    log::Install();
    std::FILE* before = log::SetSink(err);
    const int rc = run(o, out);
    log::SetSink(before);
    return rc;
}

int Main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    Options o;
    std::string error;
    if (!ParseArgs(argc, argv, o, error)) {
        log::Install();
        std::FILE* before = log::SetSink(err);
        log::Warning(log::Cli,
                     "varno-cli: " + error + "\n(varno-cli --help lists commands and options)");
        log::SetSink(before);
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
