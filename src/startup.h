// The operator program's own start-up options, read before the program proper runs.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace startup {

struct StartupOptions {
    bool simulate = false;
    bool help = false;
    bool version = false;
    bool trace = false;     // the byte trace (varno.link at debug level) on stderr
    std::string screenshot; // save a picture of the panel once shown, then quit
    std::string record;     // record the live data into this CSV file
    std::vector<std::pair<int, std::string>> ports;
    std::string error; // set when the command line is wrong
};

// Reads the program's own options (those starting with "--"); everything else is left
// for the engine (Qt's own options such as -platform offscreen).
StartupOptions ParseStartupOptions(int argc, char** argv);

const char* UsageText();

} // namespace startup
