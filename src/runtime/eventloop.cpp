// The event loop, the event pump and time: real, or the tests' virtual clock.
#include "internal.h"
#include "runtime.h"
#include "testhooks.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace runtime {

namespace detail {
bool virtualOn = false;
double virtualNow = 0.0;
double virtualTick = 0.001;
std::function<void(double)> pumpHook;
bool quitFlag = false;
int quitCode = 0;

namespace {
QElapsedTimer realClock;
}
void StartClock() {
    if (!realClock.isValid()) realClock.start();
}
} // namespace detail

namespace {
QTimer* wakeTimer = nullptr;
double lastPump = -1.0;
constexpr int idleNudgeMs = 250;
} // namespace

using namespace detail;

int RunUserInterface() {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    // The window system's events are handed over only when its event source is woken. An
    // event left behind in the platform's queue (the window's close, say) would otherwise
    // wait, with the program asleep, until the next event of the window system came: the
    // loop is woken a few times a second so that whatever waits there is taken.
    QTimer nudge;
    if (dispatcher && theApp) {
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
    // A pop-up still open (a report, a help text, a file dialog) would hold the program
    // in its own loop after its window has gone: it closes, as if cancelled.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                QTimer::singleShot(0, dialog, &QDialog::reject);
    if (auto* d = QAbstractEventDispatcher::instance()) d->wakeUp();
    return 0;
}

// ---- pump and time ------------------------------------------------------------------

int ProcessSystemEvents() {
    if (!QCoreApplication::instance()) return 0;
    detail::ServiceSerial();
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (virtualOn) {
        QCoreApplication::sendPostedEvents();
        if (dispatcher) dispatcher->processEvents(QEventLoop::AllEvents);
        virtualNow += virtualTick;
    } else if (dispatcher) {
        QCoreApplication::sendPostedEvents();
        const double now = Timer();
        // A pump called again within 2 ms is a waiting loop; a single pump never blocks.
        const bool polling = now - lastPump < 0.002;
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
            if (due > 0.0012) {
                wakeTimer->start(1);
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
    if (pumpHook) pumpHook(Timer());
    return 0;
}

double Timer() {
    if (virtualOn) return virtualNow;
    StartClock();
    return double(realClock.nsecsElapsed()) / 1e9;
}

void Sleep(int milliseconds) {
    if (milliseconds <= 0) return;
    if (virtualOn) {
        virtualNow += milliseconds / 1000.0;
        return;
    }
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

} // namespace runtime
