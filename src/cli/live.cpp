// varno-cli live: acquisition cycles as the panel runs them, a CSV row per record once the
// line was found quiet behind it; Ctrl-C ends the run after the current cycle.
#include "record.h"
#include "runtime/runtime.h"
#include "session.h"

#include <csignal>
#include <string>

using namespace runtime;
using sensor::Result;

namespace cli {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onInterrupt(int) {
    stopRequested = 1;
    std::signal(SIGINT, SIG_DFL); // a second Ctrl-C ends the program at once
}

} // namespace

int cmdLive(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    // The live requests carry the sensor's own block, never zeros it might misread.
    if (int rc = readBlock(s, sensor::RAM); rc != ExitDone) return rc;
    const unsigned char hysteresis = s.link.Block()[1];
    std::fprintf(s.out, "%s\n", record::Header());
    std::fflush(s.out);
    s.link.Pause(sensor::RamPause);

    stopRequested = 0;
    auto* previous = std::signal(SIGINT, onInterrupt);
    long rows = 0;
    double started = -1.0;
    // A row for each record the link takes as good (the line quiet behind it).
    s.link.OnGoodRecord([&](const sensor::LiveRecord& r) {
        char when[40], row[256];
        record::IsoTime(r.wall, when, sizeof when);
        if (record::FormatRow(row, sizeof row, when, r.at - started, r.bytes, hysteresis) > 0)
            std::fprintf(s.out, "%s\n", row);
        std::fflush(s.out);
        if (++rows >= s.o.count && s.o.count > 0) s.link.StopLive(); // no request beyond N
    });
    int rc = ExitDone;
    s.link.StartLive();
    for (;;) {
        if (stopRequested) s.link.StopLive(); // the held record is still settled
        if (started < 0) started = Timer();
        const Result r = s.link.LiveCycle();
        if (r.code() == Result::Stopped) break;
        if (!r) {
            rc = s.fail(r);
            break;
        }
        s.link.CyclePause();
    }
    s.link.StopLive();
    s.link.OnGoodRecord(nullptr);
    std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
    return rc;
}

void RequestStop() {
    stopRequested = 1;
}

} // namespace cli
