// The options of varno-sensor-sim.
#pragma once

#include <string>

namespace simopt {

struct Options {
    std::string link;
    std::string device;
    std::string eepromFile;
    double latencyMs = 2.0;
    double rate = 20.0;
    unsigned long seed = 1;
    bool pacing = true;
    bool silent = false;
    bool shortReply = false;
    int extra = 0;
    double lateMs = 0.0;
    int split = 1;
    double splitGapMs = 20.0;
    bool wrongLineCheck = false;
    double disconnectAfter = -1.0;
};

// Reads the command line into `o`. Returns -1 to go on, otherwise the exit code (after
// the help, the version, or a message on stderr).
int parseArgs(int argc, char** argv, Options& o);

} // namespace simopt
