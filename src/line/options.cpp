// varno-line's options, on the one reader of argv.
#include "line/options.h"

#include "gateway/options.h"
#include "runtime/cmdline.h"
#include "sensor/protocol.h"

namespace line {

const char* HelpText() {
    return "Usage: varno-line [BROKER OPTIONS] COMMAND [ARGUMENTS] [--json]\n"
           "The sensors of a line on the broker, as a whole: their state, a product's\n"
           "parameter sets (recipes) saved, compared and applied all or nothing, and a\n"
           "gateway's port given away for a while.\n"
           "\n"
           "Commands:\n"
           "  status [--recipes DIR]      one row per sensor: id, state, since, and the recipe\n"
           "                              of DIR its parameter block matches\n"
           "  save FILE [--sensors a,b] [--from ram|eeprom] [--name NAME]\n"
           "                              the sensors' blocks into a recipe file (--from\n"
           "                              eeprom asks each gateway to read its EEPROM)\n"
           "  diff FILE                   per sensor, the parameters that differ, old and new\n"
           "  apply FILE --to ram|eeprom [--by NAME] [--dry-run]\n"
           "                              every sensor of the recipe online first; then each\n"
           "                              block read, the recipe's written with verify, all at\n"
           "                              once; if any fails, the others set back\n"
           "  yield SENSOR SECONDS        the gateway gives its port away (1 to 3600 s)\n"
           "  resume SENSOR               and takes it back now\n"
           "\n"
           "Broker options (as varno-gateway takes them):\n"
           "  --broker URL  --prefix P  --username U  --password-file F\n"
           "  --cafile F  --cert F  --key F\n"
           "\n"
           "Exit codes: 0 done, 1 a sensor did not answer, is not online or refused, 2 usage,\n"
           "3 a verify found a difference, 4 a file or broker error, 5 a changeover failed\n"
           "and some sensors could not be set back (they are named).\n";
}

namespace {

bool targetOf(const std::string& v, int& t) {
    if (v == "ram") t = sensor::RAM;
    else if (v == "eeprom") t = sensor::EEPROM;
    else return false;
    return true;
}

struct Named {
    const char* name;
    Command command;
    std::size_t words;
};
constexpr Named commands[] = {{"status", Command::Status, 0}, {"save", Command::Save, 1},
                              {"diff", Command::Diff, 1},     {"apply", Command::Apply, 1},
                              {"yield", Command::Yield, 2},   {"resume", Command::Resume, 1}};

// One option with a value; false, with `error`, when it is wrong.
bool valued(const std::string& name, const std::string& v, Options& o, std::string& error) {
    if (gateway::ApplyBrokerOption(name, v, o.broker, error)) {
        // as varno-gateway takes it
    } else if (name == "recipes") {
        o.recipes = v;
    } else if (name == "sensors") {
        std::size_t at = 0;
        while (at <= v.size()) {
            const std::size_t comma = v.find(',', at);
            const std::string id = v.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
            if (!gateway::ValidSensorId(id)) {
                error = "--sensors wants sensor ids separated by commas, not \"" + v + "\"";
                return false;
            }
            o.only.push_back(id);
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
    } else if (name == "from" || name == "to") {
        if (!targetOf(v, o.target)) error = "--" + name + " wants ram or eeprom, not \"" + v + "\"";
        o.targetGiven = true;
    } else if (name == "by") {
        if (v.empty() || v.size() > 64) error = "--by wants a name of 1 to 64 characters";
        o.by = v;
    } else if (name == "name") {
        if (v.empty() || v.size() > 64) error = "--name wants a recipe name of 1 to 64 characters";
        o.name = v;
    } else {
        error = "unknown option --" + name;
    }
    return error.empty();
}

bool takesValue(const std::string& n) {
    for (const char* v : {"broker", "prefix", "username", "password-file", "cafile", "cert", "key",
                          "recipes", "sensors", "from", "to", "by", "name"})
        if (n == v) return true;
    return false;
}

// Which options go with which command.
bool checkCommand(Options& o, std::string& error) {
    const Named* c = nullptr;
    for (const Named& n : commands)
        if (o.commandName == n.name) c = &n;
    if (o.commandName.empty()) error = "no command given";
    else if (!c) error = "unknown command \"" + o.commandName + "\"";
    else if (o.words.size() != c->words)
        error = o.commandName + (c->words == 0   ? " takes no arguments"
                                 : c->command == Command::Yield ? " wants SENSOR SECONDS"
                                 : c->command == Command::Resume ? " wants SENSOR"
                                                                 : " wants FILE");
    if (!error.empty()) return false;
    o.command = c->command;
    if (o.command == Command::Apply && !o.targetGiven) error = "apply wants --to ram or --to eeprom";
    else if (o.dryRun && o.command != Command::Apply) error = "--dry-run goes with apply";
    else if (!o.recipes.empty() && o.command != Command::Status) error = "--recipes goes with status";
    else if (!o.only.empty() && o.command != Command::Save) error = "--sensors goes with save";
    else if (!o.name.empty() && o.command != Command::Save) error = "--name goes with save";
    else if (!o.by.empty() && o.command != Command::Apply) error = "--by goes with apply";
    else if (o.targetGiven && o.command != Command::Apply && o.command != Command::Save)
        error = "--to goes with apply, --from with save";
    else if ((o.command == Command::Yield || o.command == Command::Resume) &&
             !gateway::ValidSensorId(o.words[0]))
        error = "\"" + o.words[0] + "\" is no sensor id";
    else if (o.command == Command::Yield) {
        const std::string& s = o.words[1];
        bool digits = !s.empty() && s.size() <= 4 && s[0] != '0';
        for (char ch : s) digits = digits && ch >= '0' && ch <= '9';
        if (!digits || std::stoi(s) > 3600)
            error = "yield wants SECONDS from 1 to 3600, not \"" + s + "\"";
    }
    if (!error.empty()) return false;
    return gateway::CheckBrokerOptions(o.broker, error);
}

} // namespace

bool ParseArgs(int argc, const char* const* argv, Options& o, std::string& error) {
    o = Options{};
    error.clear();
    runtime::Args args(argc, argv);
    runtime::Arg a;
    while (args.next(a)) {
        if ((a.given == "--help" || a.given == "-h")) {
            o.command = Command::Help;
            return true;
        }
        if (a.given == "--version") {
            o.command = Command::Version;
            return true;
        }
        if (a.dashes == 0) {
            (o.commandName.empty() ? o.commandName : o.words.emplace_back()) = a.given;
            continue;
        }
        if (a.given == "--json") {
            o.json = true;
            continue;
        }
        if (a.given == "--dry-run") {
            o.dryRun = true;
            continue;
        }
        if (a.name == "password") {
            error = "a password is never given on the command line: use --password-file";
            return false;
        }
        if (a.dashes != 2 || !takesValue(a.name)) {
            error = "unknown option " + a.given;
            return false;
        }
        if (!args.takeValue(a)) {
            error = "--" + a.name + " needs a value";
            return false;
        }
        if (!valued(a.name, a.value, o, error)) return false;
    }
    return checkCommand(o, error);
}

bool BrokerFrom(const Options& o, gateway::BrokerSettings& b, std::string& error) {
    return gateway::BrokerSettingsFrom(o.broker, b, error);
}

} // namespace line
