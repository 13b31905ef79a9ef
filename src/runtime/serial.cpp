// RS-232 ports: port numbers and their bindings, the argument checks, and the input queue
// in front of the back ends (serial_qt.cpp, serial_peer.cpp).
#include "endpoint.h"
#include "internal.h"
#include "log.h"
#include "runtime.h"
#include "serial_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace runtime {

namespace {

constexpr int maxPort = 255;
constexpr std::size_t queueCap = 1024; // the input queue never holds more than this

struct Port {
    std::string device;                   // device binding (path)
    std::shared_ptr<SerialEndpoint> peer; // in-process binding
    bool explicitBinding = false;
    std::string description;
    std::unique_ptr<detail::SerialLine> line; // set while open
    std::vector<std::uint8_t> inq;
    std::size_t cap = queueCap;
    double timeout = 2.0;
};

std::map<int, Port> ports;
bool stderrReports = true; // a lost port and a failed opening also go to stderr
SerialWatcher* watcher = nullptr;

void closePort(Port& p) {
    p.line.reset();
    p.inq.clear();
}

// Closes a port whose device has gone; true while it is open and well.
bool checkAlive(int number, Port& p) {
    if (!p.line) return false;
    if (p.line->alive()) return true;
    if (stderrReports)
        log::Warning(log::Port, "varno: COM" + std::to_string(number) + " (" +
                                    (p.peer ? "simulated sensor" : p.device) +
                                    ") lost: " + p.line->lostReason());
    closePort(p);
    detail::NotifyPortLost(number);
    return false;
}

// The port for a number, or the code that says why there is none.
Port* numbered(int port, int& rc) {
    rc = 0;
    if (port < 1 || port > maxPort) {
        rc = RS_INVALID_PORT_NUM;
        return nullptr;
    }
    detail::EnumeratePorts(false);
    return &ports[port];
}

// An open port, or the code that says why not.
Port* opened(int port, int& rc) {
    Port* p = numbered(port, rc);
    if (!p) return nullptr;
    if (p->line) p->line->pull(p->inq, p->cap);
    if (!checkAlive(port, *p)) {
        rc = RS_PORT_NOT_OPEN;
        return nullptr;
    }
    return p;
}

} // namespace

// ---- bindings -----------------------------------------------------------------------

void BindSerialEndpoint(int port, std::shared_ptr<SerialEndpoint> endpoint) {
    if (port < 1 || port > maxPort) return;
    Port& p = ports[port];
    closePort(p);
    p.peer = std::move(endpoint);
    p.device.clear();
    p.explicitBinding = true;
    p.description = "simulated sensor";
}

void BindSerialDevice(int port, const char* path) {
    if (port < 1 || port > maxPort || !path) return;
    Port& p = ports[port];
    closePort(p);
    p.peer.reset();
    p.device = path;
    p.explicitBinding = true;
    p.description.clear();
}

void ResetSerialBindings() {
    for (auto& [n, p] : ports)
        closePort(p);
    ports.clear();
    if (watcher) watcher->reset();
    detail::ForgetEnumeration();
    detail::ForgetWatches();
}

// ---- operations ---------------------------------------------------------------------

int OpenComConfig(int port, const char* /*deviceName*/, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int /*outputQueueSize*/) {
    int rc = 0;
    Port* p = numbered(port, rc);
    if (!p) return rc;
    closePort(*p);
    p->cap = (inputQueueSize > 0 && std::size_t(inputQueueSize) < queueCap)
                 ? std::size_t(inputQueueSize)
                 : queueCap;
    if (watcher) watcher->opening(port);
    if (p->peer) {
        p->line = detail::OpenPeerLine(p->peer, rc);
    } else if (p->device.empty()) {
        rc = RS_NO_PORT_FOUND;
    } else {
        std::string reason;
        p->line =
            detail::OpenDeviceLine(p->device, {baudRate, parity, dataBits, stopBits}, rc, reason);
        if (!p->line) {
            OpenFailureKind kind = OpenFailureKind::Other;
            reason = detail::ExplainOpenFailure(p->device, rc == RS_NO_PORT_FOUND, reason, &kind);
            // Tried again about once a second while a lost device is back but will not
            // open: the same reason is printed once.
            if (stderrReports && (!detail::Watched(port) || reason != PortOpenFailure(port)))
                log::Warning(log::Port, "varno: COM" + std::to_string(port) + ": " + reason);
            detail::SetOpenFailure(port, reason, kind);
        }
    }
    if (p->line) {
        if (detail::Watched(port))
            log::Warning(log::Port, "varno: COM" + std::to_string(port) + " (" +
                                        (p->peer ? p->description : p->device) + ") is back");
        detail::SetOpenFailure(port, {});
        detail::PortOpened(port);
    }
    return rc;
}

int SetComTime(int port, double timeoutSeconds) {
    int rc = 0;
    Port* p = opened(port, rc);
    if (!p) return rc;
    p->timeout = timeoutSeconds;
    return 0;
}

int SetCTSMode(int port, int mode) {
    int rc = 0;
    Port* p = opened(port, rc);
    if (!p) return rc;
    return p->line->setHandshake(mode != 0);
}

int FlushInQ(int port) {
    int rc = 0;
    Port* p = opened(port, rc);
    if (!p) return rc;
    p->line->discardInput();
    p->inq.clear();
    return 0;
}

int FlushOutQ(int port) {
    int rc = 0;
    Port* p = opened(port, rc);
    if (!p) return rc;
    p->line->discardOutput();
    return 0;
}

int ComWrt(int port, const char* buffer, int count) {
    int rc = 0;
    Port* p = opened(port, rc);
    if (!p) return rc;
    if (!buffer || count < 0) return RS_INTERNAL_ERROR;
    if (count == 0) return 0;
    const int n = p->line->write(buffer, count);
    if (n > 0 && watcher) watcher->sent(port, buffer, n);
    checkAlive(port, *p);
    return n;
}

int ComRd(int port, char* buffer, int count) {
    int rc = 0;
    Port* p = opened(port, rc);
    if (!p) return rc;
    if (!buffer || count <= 0) return 0;
    count = int(std::min<std::size_t>(std::size_t(count), p->cap));
    int got = 0;
    const double deadline = Timer() + p->timeout;
    for (;;) {
        const int n = std::min<int>(count - got, int(p->inq.size()));
        if (n > 0) { // an empty queue may have no storage at all
            std::memcpy(buffer + got, p->inq.data(), std::size_t(n));
            p->inq.erase(p->inq.begin(), p->inq.begin() + n);
            got += n;
        }
        if (got >= count || !p->line->wait(deadline)) break;
        p->line->pull(p->inq, p->cap);
        if (!checkAlive(port, *p)) break;
    }
    return got;
}

int GetInQLen(int port) {
    int rc = 0;
    Port* p = opened(port, rc);
    if (!p) return rc;
    return int(p->inq.size());
}

int CloseCom(int port) {
    int rc = 0;
    Port* p = numbered(port, rc);
    if (!p) return rc;
    if (!p->line) return RS_PORT_NOT_OPEN;
    closePort(*p);
    return 0;
}

void SetSerialStderrReports(bool on) {
    stderrReports = on;
}

void WatchSerialWrites(SerialWatcher* w) {
    watcher = w;
}

const char* PortDeviceName(int port) {
    static std::string name;
    int rc = 0;
    Port* p = numbered(port, rc);
    name = !p ? std::string() : p->peer ? p->description : p->device;
    return name.c_str();
}

// ---- internals and hooks ------------------------------------------------------------

namespace detail {

void ServiceSerial() {
    for (auto& [n, p] : ports) {
        if (!p.line) continue;
        p.line->pull(p.inq, p.cap);
        checkAlive(n, p);
    }
    WatchLostPorts();
}

bool PortPresent(int port) {
    auto it = ports.find(port);
    if (it == ports.end()) return false;
    if (it->second.peer) return it->second.peer->connected(Timer());
    return !it->second.device.empty() && DevicePresent(it->second.device);
}

double SerialNextDue() {
    double due = std::numeric_limits<double>::infinity();
    const double now = Timer();
    for (auto& [n, p] : ports)
        if (p.line) due = std::min(due, p.line->nextDue(now));
    return due;
}

void CloseAllPorts() {
    for (auto& [n, p] : ports)
        closePort(p);
}

bool PortBound(int port) {
    auto it = ports.find(port);
    return it != ports.end() && (!it->second.device.empty() || it->second.peer);
}

bool DeviceNumbered(const std::string& device) {
    for (auto& [n, p] : ports)
        if (p.device == device) return true;
    return false;
}

void NumberDevice(int port, const std::string& device) {
    ports[port].device = device;
}

std::string PortDevice(int port) {
    auto it = ports.find(port);
    if (it == ports.end()) return {};
    return it->second.peer ? std::string() : it->second.device;
}

std::string PortLabel(int port) {
    auto it = ports.find(port);
    if (it == ports.end()) return {};
    return it->second.peer ? it->second.description : it->second.device;
}

bool PortIsOpen(int port) {
    auto it = ports.find(port);
    return it != ports.end() && it->second.line && it->second.line->alive();
}

int HighestBoundPort() {
    int highest = 0;
    for (auto& [n, p] : ports)
        if (!p.device.empty() || p.peer) highest = std::max(highest, n);
    return highest;
}

} // namespace detail

} // namespace runtime
