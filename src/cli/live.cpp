// varno-cli live: acquisition cycles as the panel runs them, a CSV row per record once the
// line was found quiet behind it; Ctrl-C ends the run after the current cycle.
#include "recording/record.h"
#include "sensor/params.h"
#include "text/isotime.h"
#include "runtime/runtime.h"
#include "session.h"

#include <cerrno>
#include <csignal>
#include <cstring>
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

// Where the rows go, as messages name it.
std::string outputName(const Session& s) {
    return s.out == stdout ? "the standard output" : "the output";
}

// One line (the header or a row) to the output, flushed. The first failed write (a full
// disk, a size limit, /dev/full) ends the run: a regular file is cut back to its last
// whole row (`wholeSize`, kept up to date here) and the failure is reported (rc set,
// false returned).
bool writeLine(Session& s, const char* line, long long& wholeSize, int& rc) {
    errno = 0;
    if (std::fputs(line, s.out) >= 0 && std::fputc('\n', s.out) != EOF && std::fflush(s.out) == 0 &&
        !std::ferror(s.out)) {
        wholeSize = RegularFileSize(s.out);
        return true;
    }
    const int why = errno ? errno : EIO;
    const bool cut = CutToLastWholeRow(s.out, wholeSize);
    rc = s.fail(ExitFileOrPort, "the rows could not be written to " + outputName(s) + " (" +
                                    std::strerror(why) + ")" +
                                    (cut ? "; it ends with the last whole row" : ""));
    return false;
}

} // namespace

int cmdLive(Session& s) {
    if (int rc = openPort(s); rc != ExitDone) return rc;
    // The live requests carry the sensor's own block, never zeros it might misread.
    if (int rc = readBlock(s, sensor::RAM); rc != ExitDone) return rc;
    const unsigned char hysteresis = s.link.Block()[sensor::param::hysteresis];
    // A write that fails cuts the output back to no less than what it held before.
    std::fflush(s.out);
    long long wholeSize = RegularFileSize(s.out);
    int rc = ExitDone;
    if (!writeLine(s, record::Header(), wholeSize, rc)) return rc;
    s.link.Pause(sensor::RamPause);

    stopRequested = 0;
    auto* previous = std::signal(SIGINT, onInterrupt);
    long rows = 0;
    double started = -1.0;
    // A row for each record the link takes as good (the line quiet behind it); the first
    // row that cannot be written ends the run.
    bool writeFailed = false;
    s.link.OnGoodRecord([&](const sensor::LiveRecord& r) {
        if (writeFailed) return;
        char when[40], row[256];
        text::IsoTime(r.wall, when, sizeof when);
        if (record::FormatRow(row, sizeof row, when, r.at - started, r.bytes, hysteresis) > 0 &&
            !writeLine(s, row, wholeSize, rc)) {
            writeFailed = true;
            s.link.StopLive();
            return;
        }
        if (++rows >= s.o.count && s.o.count > 0) s.link.StopLive(); // no request beyond N
    });
    s.link.StartLive();
    for (;;) {
        if (stopRequested) s.link.StopLive(); // the held record is still settled
        if (started < 0) started = Timer();
        const Result r = s.link.LiveCycle();
        if (writeFailed || r.code() == Result::Stopped) break;
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
