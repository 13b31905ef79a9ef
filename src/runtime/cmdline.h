// A program's own command-line options, read the way Qt reads them (single-dash words are
// long options, --name=value and --name value both work); Qt's own options such as
// -platform offscreen are accepted and passed over, for the engine to read.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace runtime {

struct OptionSpec {
    std::vector<std::string> names; // {"h", "help"}
    std::string description;
    std::string valueName; // empty for an option without a value
};

struct CommandLine {
    bool ok = false;
    std::string unknownOption; // the first unknown option's name, when that was the fault
    std::string errorText;     // what was wrong otherwise
    std::vector<std::string> positional;
    // Per option name: one entry per use (the value, or "" for an option without one).
    std::map<std::string, std::vector<std::string>> uses;

    bool isSet(const std::string& name) const { return uses.count(name) != 0; }
    // The last value given ("" if none).
    std::string value(const std::string& name) const;
    std::vector<std::string> values(const std::string& name) const;
};

CommandLine ParseCommandLine(const std::vector<OptionSpec>& options, int argc, char** argv);

// "Usage: <program> [options]", the description, and the options with their texts.
std::string CommandLineHelp(const std::vector<OptionSpec>& options, const char* program,
                            const char* description);

} // namespace runtime
