// The program's own periodic work (a recording looking at its file): called about every
// period, from the event pump on the seam's clock and from the idle event loop alike.
#include "internal.h"
#include "runtime.h"

#include <QCoreApplication>
#include <QTimer>

#include <vector>

namespace runtime {

namespace {

// A look that comes a little early still counts, or every other one would be skipped.
constexpr double slack = 0.02;

struct Tick {
    TickCallbackPtr callback;
    double period;
    double last;
    QTimer* idle; // keeps it going while no pump runs
};
std::vector<Tick> ticks;
bool inTick = false; // a tick's own pump calls no tick

} // namespace

void StartTicker(TickCallbackPtr callback, double periodSeconds) {
    if (!callback || periodSeconds <= 0) return;
    StopTicker(callback);
    Tick t{callback, periodSeconds, Timer(), nullptr};
    if (auto* app = QCoreApplication::instance()) {
        t.idle = new QTimer(app);
        t.idle->setInterval(int(periodSeconds * 1000));
        QObject::connect(t.idle, &QTimer::timeout, [] { detail::ServiceTickers(); });
        t.idle->start();
    }
    ticks.push_back(t);
}

void StopTicker(TickCallbackPtr callback) {
    for (auto it = ticks.begin(); it != ticks.end();) {
        if (it->callback != callback) {
            ++it;
            continue;
        }
        if (it->idle) {
            it->idle->stop();
            it->idle->deleteLater();
        }
        it = ticks.erase(it);
    }
}

namespace detail {

void ServiceTickers() {
    if (inTick || ticks.empty()) return;
    const double now = Timer();
    std::vector<TickCallbackPtr> due;
    for (Tick& t : ticks) {
        // (a clock set back, as a test's virtual one, counts as due)
        if (now - t.last >= t.period - slack || now < t.last) {
            t.last = now;
            due.push_back(t.callback);
        }
    }
    inTick = true;
    for (TickCallbackPtr cb : due) {
        bool still = false; // an earlier call may have stopped it
        for (const Tick& t : ticks)
            still = still || t.callback == cb;
        if (still) cb();
    }
    inTick = false;
}

} // namespace detail

} // namespace runtime
