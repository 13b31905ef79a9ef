// Soak: acquisition against the simulated sensor for a long stretch of real time, with
// faults injected at random (silence, short and long replies, stray bytes, split and late
// replies, disconnect and reconnect) and nested Get, Send and GetBuff. Checks that every
// failure is reported once, that no record is shown that did not arrive in full, that the
// program never hangs, and that resident memory stays flat.
#include "measure.h"

#include "Varnov30.h"
#include "com232.h"
#include "gui.h"
#include "runtime/runtime.h"
#include "runtime/testhooks.h"
#include "sim_endpoint.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>

namespace {


// Notes every live record the sensor put on the line whole and unaltered.
class WatchedSensor : public sim::SimEndpoint {
public:
    using sim::SimEndpoint::SimEndpoint;
    std::set<std::array<int, 4>> sentWhole;
    std::size_t transmit(std::uint8_t* out, std::size_t max, double now) override {
        const std::size_t n = sim::SimEndpoint::transmit(out, max, now);
        for (std::size_t i = 0; i < n; ++i) {
            current_.push_back(out[i]);
            if (current_.size() == 10) {
                sentWhole.insert({current_[0], current_[1], current_[2], current_[9]});
                current_.clear();
            }
        }
        return n;
    }
    void receive(const std::uint8_t* d, std::size_t n, double now) override {
        current_.clear(); // a new request: a reply in progress is cut off by the flush
        sim::SimEndpoint::receive(d, n, now);
    }

private:
    std::vector<int> current_;
};

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (runtime::InitRuntime(&argc, argv) < 0) return 1;

    int reports = 0;
    runtime::test::SetPopupHandler([&](const runtime::test::Popup& p) {
        if (p.title == "INFO") ++reports;
        return runtime::test::PopupAnswer{};
    });
    auto sensor = std::make_shared<WatchedSensor>();
    runtime::BindSerialEndpoint(1, sensor);
    Varnov30::RegisterCallbackTable();
    Varnov30::panel = runtime::LoadPanel(0, "Varnov30.uir", 1);
    if (Varnov30::panel < 0) return 1;
    const int panel = Varnov30::panel;
    Varnov30::InitVars();
    com232::InitRS232(1);
    runtime::SetCtrlVal(panel, PANEL_SOURCE, 1);
    runtime::DisplayPanel(panel);

    std::mt19937 rng(12345);
    const double t0 = runtime::Timer();
    const double end = t0 + minutes * 60;
    double lastProgress = t0, nextFault = t0 + 2, faultEnds = 0, maxStall = 0;
    int lastAppend = 0, records = 0, badRecords = 0, faults = 0, nested = 0, hangs = 0;
    int blocksRead = 0, badBlocks = 0;
    bool disconnected = false;
    long rssEarly = -1;
    auto& cfg = sensor->model().config();

    runtime::test::SetPumpHook([&](double now) {
        const int appended = runtime::test::StripAppendCount(panel, PANEL_GRAPH_RAW);
        if (appended != lastAppend) {
            lastAppend = appended;
            ++records;
            lastProgress = now;
            int d0 = 0, d1 = 0, nm = 0, tr = 0;
            runtime::GetCtrlVal(panel, PANEL_DAT0, &d0);
            runtime::GetCtrlVal(panel, PANEL_DAT1, &d1);
            runtime::GetCtrlVal(panel, PANEL_NORM, &nm);
            runtime::GetCtrlVal(panel, PANEL_TRSH, &tr);
            if (!sensor->sentWhole.count({d0, d1, nm, tr})) ++badRecords;
        }
        maxStall = std::max(maxStall, now - lastProgress);
        if (now - lastProgress > 15.0) { // no record and no report for 15 s: a hang
            ++hangs;
            lastProgress = now;
        }
        if (rssEarly < 0 && now - t0 > 60) rssEarly = rssKiB();
        if (now >= end) com232::poll = 0;
        if (faultEnds > 0 && now >= faultEnds) {
            cfg.faults = sim::Faults{};
            faultEnds = 0;
            if (disconnected) { // the adapter is back: choose the port again
                disconnected = false;
                runtime::SetCtrlVal(panel, PANEL_COMPORT, 1);
                runtime::test::FireEvent(panel, PANEL_COMPORT, runtime::EVENT_COMMIT);
            }
        }
        if (now < nextFault || faultEnds > 0) return;
        nextFault = now + std::uniform_real_distribution<double>(1.0, 6.0)(rng);
        ++faults;
        sim::Faults f;
        switch (rng() % 11) {
        case 0: f.silent = true; break;
        case 1: f.shortReply = true; break;
        case 2: f.extraBytes = 1 + int(rng() % 3); break;
        case 3: f.lateReply = 0.5 + (rng() % 30) / 10.0; break; // 0.5 .. 3.4 s
        case 4: f.splitParts = 2 + int(rng() % 3); f.splitGap = 0.2; break;
        case 5: f.disconnectAt = now; disconnected = true; break;
        case 6: {
            // A parameter block taken in must be the sensor's own, never one shifted by
            // stray bytes (those are switched on now and then, around re-openings too).
            ++nested;
            const int before = reports;
            runtime::test::FireEvent(panel, PANEL_BUTTON_GET, runtime::EVENT_COMMIT);
            if (reports == before) {
                ++blocksRead;
                if (!std::equal(com232::pp, com232::pp + 15, sensor->model().ram().begin()))
                    ++badBlocks;
            }
            break;
        }
        case 7: ++nested; runtime::test::FireEvent(panel, PANEL_BUTTON_SEND, runtime::EVENT_COMMIT); break;
        case 8: ++nested; runtime::test::FireEvent(panel, PANEL_BUTTON_GETBUFF, runtime::EVENT_COMMIT); break;
        case 9: {
            // Stray bytes right behind every reply, at line speed, while the port is chosen
            // again: the line check and the parameter read must not be fooled.
            f.extraBytes = 1 + int(rng() % 2);
            cfg.faults = f;
            ++nested;
            const int before = reports;
            runtime::SetCtrlVal(panel, PANEL_COMPORT, 1);
            runtime::test::FireEvent(panel, PANEL_COMPORT, runtime::EVENT_COMMIT);
            if (reports == before) {
                ++blocksRead;
                if (!std::equal(com232::pp, com232::pp + 15, sensor->model().ram().begin()))
                    ++badBlocks;
            }
            break;
        }
        default: f.wrongLineCheck = true; break;
        }
        cfg.faults = f;
        faultEnds = now + std::uniform_real_distribution<double>(0.5, 4.0)(rng);
    });

    // The operator presses Go again after every stop, until the time is up.
    int runs = 0, runsEndedByReport = 0, doubleReports = 0;
    while (runtime::Timer() < end) {
        const int before = reports;
        gui::GetData();
        ++runs;
        if (reports > before) ++runsEndedByReport;
        if (reports - before > 1 + 0) {
            // A nested request may add its own report; more than two is a fault.
            if (reports - before > 2) ++doubleReports;
        }
        if (runtime::Timer() < end) gui::PreRequestDelay();
    }
    const long rssEnd = rssKiB();
    std::printf("soak_minutes %.1f\n", minutes);
    std::printf("soak_records_shown %d\n", records);
    std::printf("soak_faults_injected %d (nested requests %d)\n", faults, nested);
    std::printf("soak_acquisitions %d, ended by a report %d\n", runs, runsEndedByReport);
    std::printf("soak_reports %d\n", reports);
    std::printf("soak_records_not_received_whole %d\n", badRecords);
    std::printf("soak_parameter_blocks_taken %d, not as the sensor holds them %d\n", blocksRead,
                badBlocks);
    std::printf("soak_runs_with_repeated_reports %d\n", doubleReports);
    std::printf("soak_longest_stall_s %.1f\n", maxStall);
    std::printf("soak_hangs %d\n", hangs);
    std::printf("soak_rss_kib after 1 min %ld, at end %ld\n", rssEarly, rssEnd);
    const bool memoryFlat = rssEarly < 0 || rssEnd - rssEarly < 4096;
    const bool ok = badRecords == 0 && badBlocks == 0 && hangs == 0 && doubleReports == 0 && memoryFlat &&
                    records > 0;
    std::printf("soak_result %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
