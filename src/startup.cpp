// The operator program's own start-up options, on the run-time's command-line reader.
#include "startup.h"

#include "runtime/cmdline.h"

#include <algorithm>

namespace startup {

namespace {

const std::vector<runtime::OptionSpec>& optionList() {
    static const std::vector<runtime::OptionSpec> list{
        {{"port"},
         "Use device PATH as COM port number N (repeatable; a pseudo-terminal path works).",
         "N=PATH"},
        {{"simulate"},
         "Put the built-in simulated sensor on COM1 (unless --port 1=... is given).",
         ""},
        {{"screenshot"}, "Save a picture of the panel once it is shown, then quit.", "FILE"},
        {{"record"}, "Record the live data into the CSV file FILE (added to).", "FILE"},
        {{"trace"},
         "Log every frame sent to the sensor and every byte received, in hex with a time "
         "stamp in ms, on stderr (as QT_LOGGING_RULES=\"varno.link.debug=true\").",
         ""},
        {{"h", "help"}, "Show this text and exit.", ""},
        {{"version"}, "Show the version and exit.", ""},
    };
    return list;
}

} // namespace

const char* UsageText() {
    static std::string text;
    if (text.empty())
        text = runtime::CommandLineHelp(
                   optionList(), "varno",
                   "Operator program for the VARNO optical edge-counting sensor on an RS-232 "
                   "line.") +
               "\nQt's own options pass through, for example: -platform offscreen\n"
               "\nExit status: 0 after the window is closed, 2 for a wrong option, 255 when the\n"
               "panel file is missing or damaged or no display can be reached.\n";
    return text.c_str();
}

StartupOptions ParseStartupOptions(int argc, char** argv) {
    StartupOptions o;
    const runtime::CommandLine cl = runtime::ParseCommandLine(optionList(), argc, argv);
    if (!cl.ok) {
        if (!cl.unknownOption.empty())
            o.error = "unknown option " + std::string(cl.unknownOption.size() == 1 ? "-" : "--") +
                      cl.unknownOption;
        else
            o.error = cl.errorText;
        return o;
    }
    if (!cl.positional.empty()) {
        o.error =
            "unexpected argument \"" + cl.positional.front() + "\" (the program opens no file)";
        return o;
    }
    o.help = cl.isSet("help");
    o.version = cl.isSet("version");
    o.simulate = cl.isSet("simulate");
    o.trace = cl.isSet("trace");
    o.screenshot = cl.value("screenshot");
    o.record = cl.value("record");
    for (const std::string& v : cl.values("record"))
        if (v.empty()) {
            // An empty name would otherwise be taken as no recording at all, unnoticed.
            o.error = "--record wants the name of a CSV file, not an empty one";
            return o;
        }
    for (const std::string& v : cl.values("port")) {
        const std::size_t eq = v.find('=');
        const std::size_t first = !v.empty() && v[0] == '+' ? 1 : 0; // "+3" is 3
        bool ok = eq != std::string::npos && eq > first;
        int n = 0;
        for (std::size_t i = first; ok && i < eq; ++i) {
            ok = v[i] >= '0' && v[i] <= '9';
            n = std::min(n * 10 + (v[i] - '0'), 1000); // anything above 255 is refused
        }
        if (!ok || n < 1 || n > 255 || eq + 1 >= v.size()) {
            o.error = "--port wants N=PATH with N from 1 to 255, not \"" + v + "\"";
            return o;
        }
        o.ports.emplace_back(n, v.substr(eq + 1));
    }
    return o;
}

} // namespace startup
