// Command-line arguments for every program: one reader of argv (Args), in order, that
// tells options from other words and hands an option its value; each program keeps its
// own options, rules and messages on top of it. ParseCommandLine is the panel's reading
// of it the way Qt reads options (single-dash words are long options, --name=value and
// --name value both work; Qt's own options such as -platform offscreen are accepted and
// passed over, for the engine to read).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace runtime {

// One argument as read: an option ("-x", "--name", with or without "=value") or a word.
struct Arg {
    std::string given;        // as on the command line
    int dashes = 0;           // 0: a word (also "-" alone and anything after "--"), 1, 2
    std::string name;         // without the dashes and without "=value"
    bool inlineValue = false; // "--name=value"
    std::string value;        // the inline value, or the one takeValue() took
};

// argv read in order, argv[0] skipped.
class Args {
  public:
    Args(int argc, const char* const* argv);
    // The next argument; false at the end. After a lone "--" every argument is a word.
    bool next(Arg& a);
    // Gives option `a` its value: the inline one, or the next argument (taken, whatever it
    // looks like). False when there is none.
    bool takeValue(Arg& a);

  private:
    std::vector<std::string> argv_;
    std::size_t i_ = 0;
    bool words_ = false; // after "--"
};

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
