// The event loop, the event pump and time (on the clock in use: see clock.h).
#include "clock.h"
#include "internal.h"
#include "runtime.h"

#include <QAbstractEventDispatcher>

#include <algorithm>
#include <cmath>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace runtime {

namespace detail {
bool quitFlag = false;
int quitCode = 0;
void (*quitHook)() = nullptr;

namespace {
QElapsedTimer realClock;
}
void StartClock() {
    if (!realClock.isValid()) realClock.start();
}
} // namespace detail

namespace {

class SystemTime final : public Clock {
  public:
    double now() override {
        detail::StartClock();
        return double(detail::realClock.nsecsElapsed()) / 1e9;
    }
    void sleep(int milliseconds) override {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
    bool waitForPeer(double, double) override {
        QThread::usleep(500);
        return true;
    }
};

SystemTime systemTime;
Clock* activeClock = &systemTime;
QTimer* wakeTimer = nullptr;
double lastPump = -1.0;
constexpr int idleNudgeMs = 250;
} // namespace

Clock& CurrentClock() {
    return *activeClock;
}
Clock& SystemClock() {
    return systemTime;
}
void InstallClock(Clock* c) {
    activeClock = c ? c : &systemTime;
}

using namespace detail;

int RunUserInterface() {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    // The window system's events are handed over only when its event source is woken. An
    // event left behind in the platform's queue (the window's close, say) would otherwise
    // wait, with the program asleep, until the next event of the window system came: the
    // loop is woken a few times a second so that whatever waits there is taken.
    QTimer nudge;
    if (dispatcher && QCoreApplication::instance() &&
        QCoreApplication::instance()->inherits("QGuiApplication")) {
        nudge.setInterval(idleNudgeMs);
        QObject::connect(&nudge, &QTimer::timeout, [dispatcher] { dispatcher->wakeUp(); });
        nudge.start();
    }
    while (!quitFlag && dispatcher) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    quitFlag = false;
    return quitCode;
}

bool QuitPending() {
    return quitFlag;
}

int QuitUserInterface(int returnCode) {
    quitFlag = true;
    quitCode = returnCode;
    if (quitHook) quitHook(); // the panels' part ends any pop-up still open
    if (auto* d = QAbstractEventDispatcher::instance()) d->wakeUp();
    return 0;
}

// ---- pump and time ------------------------------------------------------------------

namespace {

// One pass of the pump. `maxSleep` (seconds): how long a waiting loop may sleep in the
// event loop when nothing is pending; 0 for a plain pump, which sleeps only when it is
// called again within 2 ms (a waiting loop) and then for at most a millisecond.
int pump(double maxSleep) {
    if (!QCoreApplication::instance()) return 0;
    detail::ServiceSerial();
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (activeClock->stepped()) {
        QCoreApplication::sendPostedEvents();
        if (dispatcher) dispatcher->processEvents(QEventLoop::AllEvents);
        activeClock->step();
    } else if (dispatcher) {
        QCoreApplication::sendPostedEvents();
        const double now = Timer();
        // A pump called again within 2 ms is a waiting loop; a single pump never blocks.
        const bool polling = maxSleep > 0.0 || now - lastPump < 0.002;
        lastPump = now;
        if (!dispatcher->processEvents(QEventLoop::AllEvents) && polling) {
            // Nothing was pending: sleep in the event loop until something arrives
            // (serial data included), for at most a millisecond, and not past the
            // moment an in-process peer delivers.
            if (!wakeTimer) {
                wakeTimer = new QTimer(QCoreApplication::instance());
                wakeTimer->setSingleShot(true);
                wakeTimer->setTimerType(Qt::PreciseTimer);
            }
            const double due = detail::SerialNextDue();
            const double slice = std::min(maxSleep > 0.001 ? maxSleep : 0.001, MaxWaitSlice);
            if (due > 0.0012) {
                // An in-process peer delivers on the clock, not through the event loop:
                // with one due, the pump looks again every millisecond as it always did.
                const double sleep = std::isfinite(due) ? 0.001 : slice;
                wakeTimer->start(std::max(1, int(sleep * 1000.0)));
                dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
                wakeTimer->stop();
            } else if (due > 0.0) {
                QThread::usleep(static_cast<unsigned long>(due * 1e6)); // sub-millisecond
            }
            lastPump = Timer();
        }
    }
    detail::ServiceSerial();
    detail::ServiceTickers();
    activeClock->pumped(Timer());
    return 0;
}

} // namespace

int ProcessSystemEvents() {
    return pump(0.0);
}

int ProcessSystemEventsFor(double seconds) {
    return pump(seconds > 0.0 ? seconds : 0.0);
}

double Timer() {
    return activeClock->now();
}

void Sleep(int milliseconds) {
    if (milliseconds <= 0) return;
    activeClock->sleep(milliseconds);
}

} // namespace runtime
