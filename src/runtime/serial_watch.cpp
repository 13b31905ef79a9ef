// A port whose device went away is watched until it can be opened again; the program is
// told of both moments through its port-event callback, delivered from the event loop.
#include "internal.h"
#include "runtime.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <set>

namespace runtime {

namespace {

constexpr double watchPeriod = 1.0; // seconds between looks at a lost device
// A timer may fire a little early; a look that early still counts, or every other one
// would be skipped and the period doubled.
constexpr double watchSlack = 0.05;

PortEventCallbackPtr callback = nullptr;
std::set<int> watched;
double lastLook = -1e9;
QTimer* idleTimer = nullptr;

void post(int port, int event) {
    auto* app = QCoreApplication::instance();
    if (!app || !callback) return;
    QTimer::singleShot(0, app, [port, event] {
        if (callback) callback(port, event);
    });
}

void ensureIdleTimer() {
    auto* app = QCoreApplication::instance();
    if (idleTimer || !app) return;
    // Keeps looking while the program idles in its event loop, where no pump runs.
    idleTimer = new QTimer(app);
    idleTimer->setInterval(int(watchPeriod * 1000));
    idleTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(idleTimer, &QTimer::timeout, [] { detail::WatchLostPorts(); });
}

} // namespace

void InstallPortEventCallback(PortEventCallbackPtr cb) {
    callback = cb;
}

namespace detail {

void NotifyPortLost(int port) {
    watched.insert(port);
    ensureIdleTimer();
    if (idleTimer && !idleTimer->isActive()) idleTimer->start();
    lastLook = Timer();
    post(port, PORT_LOST);
}

void PortOpened(int port) {
    watched.erase(port);
    if (watched.empty() && idleTimer) idleTimer->stop();
}

void WatchLostPorts() {
    if (watched.empty()) return;
    const double now = Timer();
    if (now - lastLook < watchPeriod - watchSlack) return;
    lastLook = now;
    for (int port : watched)
        if (PortPresent(port)) post(port, PORT_BACK);
}

void ForgetWatches() {
    watched.clear();
    if (idleTimer) idleTimer->stop();
    lastLook = -1e9;
}

bool Watched(int port) {
    return watched.count(port) != 0;
}

} // namespace detail

} // namespace runtime
