// Run-time start-up: the program's options, the engine, then WinMain.
#include "Varnov30.h"
#include "capture.h"
#include "runtime/endpoint.h"
#include "runtime/log.h"
#include "runtime/runtime.h"
#include "sim_endpoint.h"
#include "startup.h"

#include <cstdio>
#include <memory>

#ifndef VARNO_VERSION
#define VARNO_VERSION "3.0"
#endif

int main(int argc, char** argv) {
    runtime::log::Install();
    const startup::StartupOptions opts = startup::ParseStartupOptions(argc, argv);
    if (!opts.error.empty()) {
        std::fprintf(stderr, "varno: %s\n\n%s", opts.error.c_str(), startup::UsageText());
        return 2;
    }
    if (opts.help) {
        std::fputs(startup::UsageText(), stdout);
        return 0;
    }
    if (opts.version) {
        std::printf("varno (VARNO-Redev) %s\n", VARNO_VERSION);
        return 0;
    }
    if (runtime::InitRuntime(&argc, argv) < 0) return -1;
    if (opts.trace) runtime::log::EnableTrace();

    bool com1Bound = false;
    for (const auto& [number, path] : opts.ports) {
        runtime::BindSerialDevice(number, path.c_str());
        com1Bound = com1Bound || number == 1;
    }
    if (opts.simulate && !com1Bound)
        runtime::BindSerialEndpoint(1, std::make_shared<sim::SimEndpoint>());
    if (!opts.screenshot.empty()) runtime::ScheduleScreenshot(opts.screenshot, 1500);
    if (!opts.record.empty()) capture::SetStartupFile(opts.record.c_str());

    return Varnov30::WinMain(nullptr, nullptr, nullptr, 1);
}
