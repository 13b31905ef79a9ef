// varno-line's command line: the broker options exactly as varno-gateway takes them, a
// command and its arguments.
#pragma once

#include "gateway/mqtt_client.h"
#include "gateway/options.h"

#include <string>
#include <vector>

namespace line {

// Exit codes: varno-cli's where they mean the same, and one of its own.
enum Exit {
    ExitDone = 0,
    ExitNoAnswer = 1,     // a sensor did not answer, is not online, or refused
    ExitUsage = 2,        // a wrong command line
    ExitMismatch = 3,     // a write's read-back differs
    ExitFile = 4,         // a file or broker error (a recipe refused, no broker)
    ExitRollbackFailed = 5, // a changeover failed and some sensors could not be set back
};

enum class Command { None, Help, Version, Status, Save, Diff, Apply, Yield, Resume };

struct Options {
    Command command = Command::None;
    std::string commandName;
    std::vector<std::string> words; // the command's arguments
    bool json = false;
    bool dryRun = false;
    std::string recipes;            // status --recipes DIR
    std::vector<std::string> only;  // save --sensors a,b
    int target = 1;                 // --to / --from: sensor::RAM or sensor::EEPROM
    bool targetGiven = false;
    std::string by, name;
    // The broker, read exactly as varno-gateway reads it.
    gateway::Options broker;
};

// False, with `error`, for a wrong command line.
bool ParseArgs(int argc, const char* const* argv, Options& o, std::string& error);
const char* HelpText();
// The broker settings (the password read from its file). False, with `error`, when a file
// cannot be read or is no certificate.
bool BrokerFrom(const Options& o, gateway::BrokerSettings& b, std::string& error);

} // namespace line
