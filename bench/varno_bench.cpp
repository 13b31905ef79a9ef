// Measurements of the program's modules on the real event loop:
//   wait      CPU during a 3.0 s unanswered wait (a pseudo-terminal nobody answers)
//   lost      CPU while the port is lost: its pseudo-terminal closed, the program idling
//             in its event loop and watching for the device to come back
//   acquire   acquisition against the simulated sensor with 4800-baud pacing: cycle time
//             against its floor, CPU with the strip chart shown, resident memory
//   record    the acquisition cycle without and with recording, and the recording's own
//             time per record
// Prints one "key value" line per figure.
#include "measure.h"

#include "Varnov30.h"
#include "capture.h"
#include "com232.h"
#include "gui.h"
#include "recording/record.h"
#include "runtime/endpoint.h"
#include "runtime/runtime.h"
#include "runtime/testhooks.h"
#include "sim_endpoint.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <sstream>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {



int setUpPanel() {
    runtime::test::SetPopupHandler([](const runtime::test::Popup&) {
        return runtime::test::PopupAnswer{};
    });
    Varnov30::RegisterCallbackTable();
    Varnov30::panel = runtime::LoadPanel(0, "Varnov30.uir", 1);
    if (Varnov30::panel < 0) return -1;
    Varnov30::InitVars();
    runtime::DisplayPanel(Varnov30::panel);
    return 0;
}

int benchWait() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) || unlockpt(master)) return 1;
    runtime::BindSerialDevice(1, ptsname(master));
    if (setUpPanel() < 0) return 1;
    if (runtime::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024) < 0) return 1;
    com232::com = 1;
    // The freshly loaded panel lays out its charts once; that is start-up, not the wait.
    for (const double end = runtime::Timer() + 0.3; runtime::Timer() < end;)
        runtime::ProcessSystemEvents();
    const double cpu0 = cpuSeconds();
    const double t0 = runtime::Timer();
    com232::CheckComLine(); // nobody answers: the whole 3.0 s wait, then the report
    const double wall = runtime::Timer() - t0;
    const double cpu = cpuSeconds() - cpu0;
    std::printf("wait_wall_s %.3f\n", wall);
    std::printf("wait_cpu_s %.3f\n", cpu);
    std::printf("wait_cpu_share_pct %.1f\n", 100.0 * cpu / wall);
    ::close(master);
    return 0;
}

// The port's far end closes (the adapter pulled out); the program then idles in its event
// loop, as between operator actions, while the watch looks for the device.
int benchLost(double seconds) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) || unlockpt(master)) return 1;
    runtime::BindSerialDevice(1, ptsname(master));
    if (setUpPanel() < 0) return 1;
    runtime::InstallPortEventCallback(Varnov30::PortEvent);
    if (runtime::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024) < 0) return 1;
    com232::com = 1;
    auto idle = [](double s) {
        QTimer::singleShot(int(s * 1000), [] { runtime::QuitUserInterface(0); });
        runtime::RunUserInterface();
    };
    idle(0.2);
    ::close(master);
    idle(0.5); // the loss is told
    char status[256] = {};
    runtime::GetCtrlVal(Varnov30::panel, PANEL_STATUS, status, sizeof status);
    const double cpu0 = cpuSeconds();
    const double t0 = runtime::Timer();
    idle(seconds);
    const double wall = runtime::Timer() - t0;
    const double cpu = cpuSeconds() - cpu0;
    std::printf("lost_told %d\n", std::strncmp(status, "Port lost: ", 11) == 0 ? 1 : 0);
    std::printf("lost_wall_s %.3f\n", wall);
    std::printf("lost_cpu_s %.4f\n", cpu);
    std::printf("lost_cpu_share_pct %.2f\n", 100.0 * cpu / wall);
    return 0;
}

// The simulated sensor, noting when each request was written and when the last byte of
// each reply reached the program.
class TimedSensor : public sim::SimEndpoint {
public:
    using sim::SimEndpoint::SimEndpoint;
    std::vector<double> writes, replyDone;
    void receive(const std::uint8_t* d, std::size_t n, double now) override {
        writes.push_back(now);
        sim::SimEndpoint::receive(d, n, now);
    }
    std::size_t transmit(std::uint8_t* out, std::size_t max, double now) override {
        const std::size_t n = sim::SimEndpoint::transmit(out, max, now);
        if (n > 0 && !std::isfinite(nextEventTime())) replyDone.push_back(now);
        return n;
    }
};

int benchAcquire(double seconds, int source) {
    sim::Config cfg;
    cfg.latency = 0.002;
    auto sensor = std::make_shared<TimedSensor>(cfg);
    runtime::BindSerialEndpoint(1, sensor);
    if (setUpPanel() < 0) return 1;
    com232::InitRS232(1);
    runtime::SetCtrlVal(Varnov30::panel, PANEL_SOURCE, source);
    std::vector<double> recordTimes;
    std::vector<long> rss;
    const double t0 = runtime::Timer();
    double nextRss = t0;
    double cpuStart = 0;
    int lastAppend = 0;
    runtime::test::SetPumpHook([&](double now) {
        const int appended = runtime::test::StripAppendCount(Varnov30::panel, PANEL_GRAPH_RAW);
        if (appended != lastAppend) {
            lastAppend = appended;
            recordTimes.push_back(now);
            if (recordTimes.size() == 5) cpuStart = cpuSeconds(); // after warm-up
        }
        if (now >= nextRss) {
            rss.push_back(rssKiB());
            nextRss += seconds / 10.0;
        }
        if (now - t0 > seconds) com232::poll = 0;
    });
    gui::GetData();
    const double cpu = cpuSeconds() - cpuStart;
    runtime::test::SetPumpHook(nullptr);
    if (recordTimes.size() < 10) {
        std::printf("acquire_error too few records (%zu)\n", recordTimes.size());
        return 1;
    }
    const size_t n = recordTimes.size() - 5;
    const double span = recordTimes.back() - recordTimes[4];
    const double cycle = span / double(n);
    const double floor = (17 + 10) * 10.0 / 4800.0 + 0.050 + cfg.latency;
    std::printf("acquire_records %zu\n", recordTimes.size());
    std::printf("acquire_cycle_ms %.2f\n", cycle * 1000);
    std::printf("acquire_floor_ms %.2f\n", floor * 1000);
    std::printf("acquire_added_ms %.2f\n", (cycle - floor) * 1000);
    std::printf("acquire_rate_pct_of_floor %.1f\n", 100.0 * floor / cycle);
    std::printf("acquire_cpu_share_pct %.1f\n", 100.0 * cpu / span);
    // Where the added time goes: request to reply, and reply to the next request.
    double toReply = 0, toNext = 0;
    int k = 0;
    for (size_t i = sensor->writes.size() / 2; i + 1 < sensor->writes.size(); ++i) {
        const double w = sensor->writes[i];
        double done = -1;
        for (double d : sensor->replyDone)
            if (d > w) { done = d; break; }
        if (done < 0 || done > sensor->writes[i + 1]) continue;
        toReply += done - w;
        toNext += sensor->writes[i + 1] - done;
        ++k;
    }
    if (k > 0) {
        std::printf("acquire_request_to_reply_ms %.2f\n", 1000 * toReply / k);
        std::printf("acquire_reply_to_next_request_ms %.2f\n", 1000 * toNext / k);
    }
    std::printf("acquire_rss_first_kib %ld\n", rss.size() > 1 ? rss[1] : rss.front());
    std::printf("acquire_rss_last_kib %ld\n", rss.back());
    return 0;
}

// The cost of recording, in one run: the acquisition cycle without and with recording
// (half the time each, alternating in quarters), and the time the recording itself takes
// per record (its two hooks, timed directly over many records).
int benchRecord(double seconds, const std::string& file, const std::string& picture) {
    sim::Config cfg;
    cfg.latency = 0.002;
    runtime::BindSerialEndpoint(1, std::make_shared<sim::SimEndpoint>(cfg));
    if (setUpPanel() < 0) return 1;
    com232::InitRS232(1);
    runtime::SetCtrlVal(Varnov30::panel, PANEL_SOURCE, 1);
    std::remove(file.c_str());
    double sum[2] = {0, 0};
    int count[2] = {0, 0};
    for (int part = 0; part < 4; ++part) {
        const int on = part % 2;
        // A reply still on its way when the last part stopped is let in and dropped.
        for (const double until = runtime::Timer() + 0.3; runtime::Timer() < until;)
            runtime::ProcessSystemEvents();
        if (on && !record::Start(file.c_str(), runtime::Timer())) {
            std::printf("record_error %s\n", record::LastError());
            return 1;
        }
        std::vector<double> times;
        int last = runtime::test::StripAppendCount(Varnov30::panel, PANEL_GRAPH_RAW);
        const double t0 = runtime::Timer();
        runtime::test::SetPumpHook([&](double now) {
            const int n = runtime::test::StripAppendCount(Varnov30::panel, PANEL_GRAPH_RAW);
            if (n != last) {
                last = n;
                times.push_back(now);
            }
            if (now - t0 > seconds / 4) com232::poll = 0;
        });
        gui::GetData();
        runtime::test::SetPumpHook(nullptr);
        record::Stop();
        if (times.size() < 10) {
            std::printf("record_error too few records (%zu)\n", times.size());
            return 1;
        }
        sum[on] += times.back() - times[2];
        count[on] += int(times.size()) - 3;
    }
    const double off = 1000 * sum[0] / count[0], on = 1000 * sum[1] / count[1];
    std::printf("record_cycle_off_ms %.3f\n", off);
    std::printf("record_cycle_on_ms %.3f\n", on);
    std::printf("record_cycle_added_ms %.3f\n", on - off);
    // The hooks alone, as the acquisition calls them for every record.
    capture::Init();
    record::Start(file.c_str(), runtime::Timer());
    const int n = 5000;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        com232::databuf[0] = static_cast<unsigned char>(i);
        capture::Arrived();
        capture::Confirmed(com232::databuf);
    }
    const double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    std::printf("record_rows %d\n", record::Rows());
    record::Stop();
    std::printf("record_hooks_ms_per_record %.4f\n", us / n / 1000);
    std::remove(file.c_str());
    if (!picture.empty()) {
        // The controls while recording, for the README.
        capture::SetStartupFile(file.c_str());
        capture::Init();
        const double end = runtime::Timer() + 3.0;
        runtime::test::SetPumpHook([&](double now) {
            if (now > end) com232::poll = 0;
        });
        gui::GetData();
        runtime::test::SetPumpHook(nullptr);
        for (int i = 0; i < 30; ++i) runtime::ProcessSystemEvents();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->property("resourceId").isValid())
                w->grab(QRect(460, 0, 440, 62)).save(QString::fromStdString(picture));
        capture::Finish();
        std::remove(file.c_str());
    }
    return 0;
}

// Seconds since this process started (from /proc, clock ticks since boot).
double sinceProcessStart() {
    std::ifstream f("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long start = 0;
    for (int i = 3; i <= 22 && rest >> field; ++i)
        if (i == 22) start = std::stoull(field);
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9 - double(start) / double(sysconf(_SC_CLK_TCK));
}

// From the start of the process to the panel on screen, the sensor answering the line
// check and the parameter read at 4800 baud.
int benchStartup() {
    runtime::BindSerialEndpoint(1, std::make_shared<sim::SimEndpoint>());
    double shownAt = -1;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (shownAt < 0 && w->isVisible() && w->property("resourceId").isValid()) {
                shownAt = sinceProcessStart();
                w->close();
            }
    });
    watch.start();
    const int rc = Varnov30::WinMain(nullptr, nullptr, nullptr, 1);
    if (rc != 0 || shownAt < 0) return 1;
    std::printf("startup_to_panel_ms %.0f\n", shownAt * 1000);
    return 0;
}

// Pictures of the panel at work, for the README: the NORM strip chart, the jump buffer,
// and the adjustment markers (the sensor in ADJ EXT mode).
int benchPictures(const std::string& dir) {
    auto sensor = std::make_shared<sim::SimEndpoint>();
    runtime::BindSerialEndpoint(1, sensor);
    if (setUpPanel() < 0) return 1;
    com232::InitRS232(1);
    const int panel = Varnov30::panel;
    QWidget* top = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->property("resourceId").isValid()) top = w;
    auto acquire = [&](double seconds) {
        const double end = runtime::Timer() + seconds;
        runtime::test::SetPumpHook([&](double now) {
            if (now > end) com232::poll = 0;
        });
        gui::GetData();
        runtime::test::SetPumpHook(nullptr);
    };
    runtime::SetCtrlVal(panel, PANEL_SOURCE, 1);
    acquire(12);
    runtime::ProcessSystemEvents();
    QTimer::singleShot(20, [] {});
    for (int i = 0; i < 30; ++i) runtime::ProcessSystemEvents();
    top->grab().save(QString::fromStdString(dir + "/acquisition.png"));
    gui::GetJmpBuf();
    for (int i = 0; i < 30; ++i) runtime::ProcessSystemEvents();
    top->grab().save(QString::fromStdString(dir + "/jumpbuffer.png"));
    // ADJ EXT: send the trigger mode to the sensor, then watch the markers.
    runtime::SetCtrlVal(panel, PANEL_TRIGGER, 3);
    runtime::test::FireEvent(panel, PANEL_TRIGGER, runtime::EVENT_COMMIT);
    gui::SendPara();
    runtime::SetCtrlVal(panel, PANEL_SOURCE, 2);
    acquire(3);
    for (int i = 0; i < 30; ++i) runtime::ProcessSystemEvents();
    top->grab().save(QString::fromStdString(dir + "/adjustment.png"));
    // A help text, as a right click on the adjustment graph shows it.
    runtime::test::ClearPopupHandler();
    QTimer::singleShot(300, [dir] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->grab().save(QString::fromStdString(dir + "/help.png"));
            box->close();
        }
    });
    runtime::test::FireEvent(panel, PANEL_GRAPH_ADJ, runtime::EVENT_RIGHT_CLICK);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (runtime::InitRuntime(&argc, argv) < 0) return 1;
    const std::string mode = argc > 1 ? argv[1] : "wait";
    if (mode == "wait") return benchWait();
    if (mode == "startup") return benchStartup();
    if (mode == "lost") return benchLost(argc > 2 ? std::atof(argv[2]) : 5.0);
    if (mode == "pictures") return benchPictures(argc > 2 ? argv[2] : "docs");
    if (mode == "record")
        return benchRecord(argc > 2 ? std::atof(argv[2]) : 20.0,
                           argc > 3 ? argv[3] : "/tmp/varno-bench-record.csv",
                           argc > 4 ? argv[4] : "");
    if (mode == "acquire")
        return benchAcquire(argc > 2 ? std::atof(argv[2]) : 10.0, argc > 3 ? std::atoi(argv[3]) : 1);
    std::fprintf(stderr, "usage: varno-bench wait | lost [seconds] | startup | acquire [seconds] [source] | record [seconds] [file]\n");
    return 2;
}
