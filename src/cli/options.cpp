// varno-cli's command line: options, commands and the help text.
#include "cli.h"

#include "runtime/cmdline.h"
#include "sensor/protocol.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace cli {

const char* HelpText() {
    return "Usage: varno-cli [--port PATH|N] [--json] COMMAND [ARGS]\n"
           "Every sensor operation of the operator program, from a script: for production\n"
           "lines and service. Same frames, same reply wait (3.0 s) as the panel.\n"
           "\n"
           "Options:\n"
           "  --port PATH|N   the sensor's port: a device path (/dev/ttyUSB0, a pseudo-\n"
           "                  terminal), or a COM number as the panel numbers them (3 or\n"
           "                  COM3; see 'ports'). Default: COM1\n"
           "  --json          read, jumpbuf and check print one JSON object instead (also\n"
           "                  when they fail, or the command line is wrong: \"ok\": false,\n"
           "                  \"exit\" and \"error\")\n"
           "  --trace         log every frame sent and every byte received, in hex with\n"
           "                  a time stamp in ms, on stderr (the same as\n"
           "                  QT_LOGGING_RULES=\"varno.link.debug=true\")\n"
           "  --help          show this text and exit\n"
           "  --version       show the version and exit\n"
           "\n"
           "Commands:\n"
           "  ports                       the numbered ports with device and description,\n"
           "                              as the panel's PORT lists them\n"
           "  check                       the line check (55 07); prints \"LINE OK\"\n"
           "  read ram|eeprom [-o FILE]   reads the 15 parameters (55 03 or 55 04, after\n"
           "                              the panel's pause: 0.1 s, 1.5 s for EEPROM) and\n"
           "                              prints them in the parameter file's format, or\n"
           "                              writes that file (replaced only when complete)\n"
           "  write FILE ram|eeprom [--verify]\n"
           "                              checks FILE as the panel's load does (a bad file\n"
           "                              puts nothing on the line), sends it (55 01 or\n"
           "                              55 02); --verify reads the block back from the\n"
           "                              same target after the same pause and names every\n"
           "                              byte that differs\n"
           "  live [--count N]            reads RAM once (the live requests carry that\n"
           "                              block), then runs acquisition cycles (55 05,\n"
           "                              50 ms apart) and prints the recording's CSV: a row\n"
           "                              per record, once the line was found quiet behind\n"
           "                              it. hysteresis is the RAM block's. Stops after N\n"
           "                              records, or cleanly at Ctrl-C after the current\n"
           "                              cycle\n"
           "  jumpbuf                     reads the jump buffer (55 06): its 16 values,\n"
           "                              oldest first, as CSV with the working threshold of\n"
           "                              the last live record (none in a run of its own: 0)\n"
           "\n"
           "Exit codes:\n"
           "  0  done\n"
           "  1  the sensor did not answer, or answered wrongly, within the 3.0 s reply\n"
           "     wait (the message on stderr names the request)\n"
           "  2  usage: unknown command or option, missing or wrong argument\n"
           "  3  --verify found a difference\n"
           "  4  a file or port error, with its reason (missing, permission and the group\n"
           "     to join, busy, not a serial device; a file that is not a parameter file,\n"
           "     an output that is not a regular file, output that could not be written)\n"
           "\n"
           "Several adapters: run one varno-cli per port, in parallel.\n";
}

namespace {

struct NamedCommand {
    const char* name;
    Command command;
};
constexpr NamedCommand commands[] = {{"ports", Command::Ports}, {"check", Command::Check},
                                     {"read", Command::Read},   {"write", Command::Write},
                                     {"live", Command::Live},   {"jumpbuf", Command::JumpBuf}};

bool parseTarget(const std::string& word, int& target) {
    if (word == "ram" || word == "RAM")
        target = sensor::RAM;
    else if (word == "eeprom" || word == "EEPROM")
        target = sensor::EEPROM;
    else
        return false;
    return true;
}

// "--name" (or "-x" for a one-letter name), with or without "=value".
bool is(const runtime::Arg& a, const char* name) {
    const std::string n = name;
    return a.name == n && a.dashes == (n.size() == 1 ? 1 : 2);
}

// Reads an option's value; false, with `error`, when none is left.
bool valueOf(runtime::Args& args, runtime::Arg& a, std::string& error) {
    if (args.takeValue(a)) return true;
    error = a.given + " needs a value";
    return false;
}

// Plain decimal digits only: no sign, no blank, no leading zero (010 is not read as ten
// by everyone).
bool parseCount(const std::string& v, long& n) {
    bool plain = !v.empty() && v.size() <= 10 && v[0] != '0';
    for (char c : v)
        plain = plain && std::isdigit(static_cast<unsigned char>(c));
    n = plain ? std::strtol(v.c_str(), nullptr, 10) : 0;
    return plain && n >= 1 && n <= 1000000000L;
}

// What each command takes, and the options that go with it only.
bool checkCommand(const std::string& commandName, const std::vector<std::string>& words,
                  bool countGiven, bool outputGiven, Options& o, std::string& error) {
    if (commandName.empty()) {
        error = "no command given";
        return false;
    }
    for (const auto& c : commands)
        if (commandName == c.name) o.command = c.command;
    if (o.command == Command::None) {
        error = "unknown command \"" + commandName + "\"";
        return false;
    }
    const bool json =
        o.command == Command::Read || o.command == Command::Check || o.command == Command::JumpBuf;
    const std::size_t wanted =
        o.command == Command::Read ? 1 : o.command == Command::Write ? 2 : 0;
    if (words.size() != wanted) {
        error = commandName + (wanted == 0   ? " takes no arguments"
                               : wanted == 1 ? " wants ram or eeprom"
                                             : " wants FILE and ram or eeprom");
        return false;
    }
    if (o.json && !json)
        error = "--json goes with read, jumpbuf and check";
    else if (o.verify && o.command != Command::Write)
        error = "--verify goes with write";
    else if (countGiven && o.command != Command::Live)
        error = "--count goes with live";
    else if (outputGiven && o.command != Command::Read)
        error = "-o goes with read";
    else if (o.command == Command::Read && !parseTarget(words[0], o.target))
        error = "read wants ram or eeprom, not \"" + words[0] + "\"";
    else if (o.command == Command::Write && !parseTarget(words[1], o.target))
        error = "write wants FILE then ram or eeprom, not \"" + words[1] + "\"";
    if (!error.empty()) return false;
    if (o.command == Command::Write) o.file = words[0];
    return true;
}

} // namespace

bool ParseArgs(int argc, const char* const* argv, Options& o, std::string& error) {
    o = Options{};
    std::vector<std::string> words;
    std::string commandName;
    bool countGiven = false, outputGiven = false;
    runtime::Args args(argc, argv);
    runtime::Arg a;
    while (args.next(a)) {
        const bool flag = !a.inlineValue;
        if ((is(a, "help") || is(a, "h")) && flag) {
            o.command = Command::Help;
            return true;
        } else if (is(a, "version") && flag) {
            o.command = Command::Version;
            return true;
        } else if (is(a, "json") && flag) {
            o.json = true;
        } else if (is(a, "trace") && flag) {
            o.trace = true;
        } else if (is(a, "verify") && flag) {
            o.verify = true;
        } else if (is(a, "port")) {
            if (!valueOf(args, a, error)) return false;
            o.port = a.value; // kept when wrong too: the JSON for the error names it
            if (PortNumber(a.value) < 0) {
                error = "--port wants a device path or a COM number from 1 to 255, not \"" +
                        a.value + "\"";
                return false;
            }
        } else if (is(a, "count")) {
            if (!valueOf(args, a, error)) return false;
            if (!parseCount(a.value, o.count)) {
                error = "--count wants a whole number of records from 1, not \"" + a.value + "\"";
                return false;
            }
            countGiven = true;
        } else if (is(a, "o") || is(a, "output")) {
            if (!valueOf(args, a, error)) return false;
            if (a.value.empty()) {
                error = "-o needs a file name";
                return false;
            }
            o.file = a.value;
            outputGiven = true;
        } else if (a.dashes > 0) {
            error = "unknown option " + a.given;
            return false;
        } else if (commandName.empty()) {
            commandName = a.given;
        } else {
            words.push_back(a.given);
        }
    }
    return checkCommand(commandName, words, countGiven, outputGiven, o, error);
}

} // namespace cli
