// varno-cli live: acquisition cycles as the panel runs them, a CSV row per record once the
// line was found quiet behind it; Ctrl-C ends the run after the current cycle.
#include "record.h"
#include "runtime/runtime.h"
#include "session.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

using namespace runtime;
using com232::AnzData;

namespace cli {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onInterrupt(int) {
    stopRequested = 1;
    std::signal(SIGINT, SIG_DFL); // a second Ctrl-C ends the program at once
}

// One live record held until the line is found quiet behind it.
struct Held {
    unsigned char rec[AnzData];
    char when[40];
    double at;
};

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
    if (int rc = readBlock(s, com232::RAM); rc != ExitDone) return rc;
    const unsigned char hysteresis = com232::pp[1];
    // A write that fails cuts the output back to no less than what it held before.
    std::fflush(s.out);
    long long wholeSize = RegularFileSize(s.out);
    {
        int rc = ExitDone;
        if (!writeLine(s, record::Header(), wholeSize, rc)) return rc;
    }
    pause(RamPause);

    stopRequested = 0;
    auto* previous = std::signal(SIGINT, onInterrupt);
    Held held{};
    bool pending = false;
    long rows = 0;
    double started = -1.0;
    int rc = ExitDone;
    com232::poll = 1;
    for (;;) {
        if (pending) {
            // Taken as good only once the line is quiet behind it: bytes waiting now are
            // strays, and the record may have been the front of a longer reply.
            ProcessSystemEvents();
            const int waiting = GetInQLen(s.port);
            if (waiting < 0) {
                rc = s.fail(ExitFileOrPort, "the port was lost");
                break;
            }
            if (waiting > 0) {
                rc = s.fail(ExitSensor, "stray bytes followed the reply to 55 05 (record " +
                                            std::to_string(rows + 1) +
                                            "): it was not a live record");
                break;
            }
            pending = false;
            std::memcpy(com232::databuf, held.rec, AnzData);
            com232::CopyDatatoVars();
            char row[256];
            if (record::FormatRow(row, sizeof row, held.when, held.at, held.rec, hysteresis) > 0 &&
                !writeLine(s, row, wholeSize, rc))
                break;
            ++rows;
        }
        if (stopRequested || (s.o.count > 0 && rows >= s.o.count)) break;
        FlushInQ(s.port);
        FlushOutQ(s.port);
        if (started < 0) started = Timer();
        if (!send(s, 5, rc)) break;
        if (com232::AwaitReply(AnzData, true) != com232::Reply::Complete) {
            rc = replyFailure(s, 5, AnzData);
            break;
        }
        std::memcpy(held.rec, com232::szReadBuf, AnzData);
        record::IsoTimeNow(held.when, sizeof held.when);
        held.at = Timer() - started;
        pending = true;
        ProcessSystemEvents();
        Sleep(CyclePauseMs);
    }
    com232::poll = 0;
    std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
    return rc;
}

void RequestStop() {
    stopRequested = 1;
}

} // namespace cli
