// varno-cli: the sensor operations for scripts (production lines, service), on the sensor
// layer (src/sensor). No panel: failures go to stderr (varno.cli) and the exit code.
#pragma once

#include "sensor/port_arg.h"
#include <cstdio>
#include <string>

namespace cli {

// Exit codes, as --help documents them.
enum Exit {
    ExitDone = 0,
    ExitSensor = 1, // no reply, or a wrong one, within the reply wait
    ExitUsage = 2,
    ExitVerify = 3,     // --verify found a difference
    ExitFileOrPort = 4, // a file or port error
};

enum class Command { None, Help, Version, Ports, Check, Read, Write, Live, JumpBuf };

struct Options {
    Command command = Command::None;
    std::string port = "1"; // a COM number as the panel numbers them, or a device path
    int target = 1;         // sensor::RAM or sensor::EEPROM
    std::string file;       // write: the parameter file; read: -o FILE
    bool verify = false;
    bool json = false;
    bool trace = false; // the byte trace (varno.link at debug level) on stderr
    long count = 0;     // live: records to print; 0 = until Ctrl-C
};

// Reads the command line (argv[0] is the program). False, with `error` saying why, when
// it is wrong.
bool ParseArgs(int argc, const char* const* argv, Options& o, std::string& error);
const char* HelpText();

// The port a --port value stands for: the sensor layer's one answer (sensor/port_arg.h).
using sensor::PortNumber;

// Runs one command against the started engine: results on `out`, messages (the logger's
// varno.* categories) on `err`.
// Returns the exit code.
int Run(const Options& o, std::FILE* out, std::FILE* err);

// Command line to exit code (the engine must be started).
int Main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// Asks a running `live` to end after the current cycle (what Ctrl-C does).
void RequestStop();

} // namespace cli
