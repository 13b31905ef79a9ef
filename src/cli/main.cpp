// varno-cli: the engine without a display, then the command line.
#include "cli.h"
#include "runtime/log.h"
#include "runtime/runtime.h"

#include <cstdio>

int main(int argc, char** argv) {
    // The engine keeps its own copy of the arguments; the command line is read from ours.
    static int engineArgc = 1;
    runtime::log::Install();
    runtime::InitRuntimeNoDisplay(&engineArgc, argv);
    runtime::SetSerialStderrReports(false); // the commands say it in their own words
    return cli::Main(argc, argv, stdout, stderr);
}
