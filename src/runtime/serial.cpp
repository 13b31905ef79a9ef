// RS-232 ports: port numbers, QSerialPort devices and in-process peers.
#include "endpoint.h"
#include "internal.h"
#include "runtime.h"
#include "testhooks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace runtime {

namespace {

constexpr int maxPort = 255;
constexpr int queueCap = 1024; // the input queue never holds more than this
constexpr std::size_t writtenCap = 1 << 16;

struct Port {
    std::string device;                     // device binding (path)
    std::shared_ptr<SerialEndpoint> peer;   // in-process binding
    bool explicitBinding = false;
    bool open = false;
    std::unique_ptr<QSerialPort> sp;
    std::vector<std::uint8_t> inq;          // peer ports only
    int cap = queueCap;
    double timeout = 2.0;
    std::string written;                    // test hook: what went out
    std::string description;
};

std::map<int, Port> ports;
bool enumerated = false;

std::string naturalKey(const std::string& s) {
    // Pads digit runs so that ttyS2 sorts before ttyS10.
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (std::isdigit(static_cast<unsigned char>(s[i]))) {
            std::size_t j = i;
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
            out += std::string(10 - std::min<std::size_t>(10, j - i), '0') + s.substr(i, j - i);
            i = j;
        } else {
            out += s[i++];
        }
    }
    return out;
}

// Gives the free numbers to the system's serial devices: USB and ACM adapters first, in
// the stable order of their by-id names, then the on-board ports in order.
// Numbers once given stay with their device; a rescan only adds new devices.
void enumerate(bool rescan = false) {
    if (enumerated && !rescan) return;
    enumerated = true;
#if defined(Q_OS_WIN)
    for (int n = 1; n <= 16; ++n) {
        Port& p = ports[n];
        if (!p.explicitBinding && !p.peer) p.device = "COM" + std::to_string(n);
    }
#else
    std::vector<std::string> found;
    QDir byId("/dev/serial/by-id");
    QStringList ids = byId.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& id : ids) {
        const QString real = QFileInfo(byId.filePath(id)).canonicalFilePath();
        if (!real.isEmpty()) found.push_back(real.toStdString());
    }
    std::vector<std::string> usb, onboard;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::string loc = info.systemLocation().toStdString();
        if (std::find(found.begin(), found.end(), loc) != found.end()) continue;
        const bool isUsb = info.portName().startsWith("ttyUSB") || info.portName().startsWith("ttyACM");
        (isUsb ? usb : onboard).push_back(loc);
    }
    auto byKey = [](const std::string& a, const std::string& b) { return naturalKey(a) < naturalKey(b); };
    std::sort(usb.begin(), usb.end(), byKey);
    std::sort(onboard.begin(), onboard.end(), byKey);
    found.insert(found.end(), usb.begin(), usb.end());
    found.insert(found.end(), onboard.begin(), onboard.end());
    int n = 1;
    for (const std::string& dev : found) {
        bool taken = false;
        for (auto& [num, p] : ports)
            if (p.device == dev) taken = true;
        if (taken) continue;
        while (n <= maxPort && ports.count(n) && (!ports[n].device.empty() || ports[n].peer)) ++n;
        if (n > maxPort) break;
        ports[n].device = dev;
        ++n;
    }
#endif
}

Port* portFor(int port) {
    if (port < 1 || port > maxPort) return nullptr;
    enumerate();
    return &ports[port];
}

void recordWrite(Port& p, const char* buf, int n) {
    p.written.append(buf, std::size_t(n));
    if (p.written.size() > writtenCap) p.written.erase(0, p.written.size() - writtenCap);
}

void closePort(Port& p) {
    if (p.sp) {
        p.sp->disconnect();
        p.sp->close();
        p.sp.reset();
    }
    p.inq.clear();
    p.open = false;
}

// Pulls what a peer has delivered into the input queue, up to its capacity.
void pullPeer(Port& p) {
    if (!p.open || !p.peer) return;
    const double now = Timer();
    if (!p.peer->connected(now)) {
        closePort(p); // the peer is gone: the port closes, as with a vanished adapter
        return;
    }
    const int room = p.cap - int(p.inq.size());
    if (room <= 0) return;
    std::uint8_t tmp[queueCap];
    const std::size_t got = p.peer->transmit(tmp, std::size_t(room), now);
    p.inq.insert(p.inq.end(), tmp, tmp + got);
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
    for (auto& [n, p] : ports) closePort(p);
    ports.clear();
    enumerated = false;
}

void RescanSerialPorts() { enumerate(true); }

const char* SerialPortDescription(int port) {
    Port* p = portFor(port);
    if (!p) return "";
    if (p->description.empty() && !p->device.empty()) p->description = p->device;
    return p->description.c_str();
}

int SerialPortCount() {
    enumerate();
    int highest = 0;
    for (auto& [n, p] : ports)
        if (!p.device.empty() || p.peer) highest = std::max(highest, n);
    return std::max(highest, 8);
}

// ---- operations ---------------------------------------------------------------------

int OpenComConfig(int port, const char* /*deviceName*/, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int /*outputQueueSize*/) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    closePort(*p);
    p->cap = (inputQueueSize > 0 && inputQueueSize < queueCap) ? inputQueueSize : queueCap;
    p->written.clear();
    if (p->peer) {
        if (!p->peer->connected(Timer())) return RS_CANNOT_OPEN_PORT;
        p->open = true;
        return 0;
    }
    if (p->device.empty()) return RS_NO_PORT_FOUND;
    if (!QCoreApplication::instance()) return RS_UNKNOWN_SYS_ERROR;
    auto sp = std::make_unique<QSerialPort>(QString::fromStdString(p->device));
    if (!sp->open(QIODevice::ReadWrite)) {
        switch (sp->error()) {
        case QSerialPort::DeviceNotFoundError: return RS_NO_PORT_FOUND;
        case QSerialPort::PermissionError:
        case QSerialPort::OpenError: return RS_CANNOT_OPEN_PORT;
        case QSerialPort::UnsupportedOperationError: return RS_UNKNOWN_IO_ERROR;
        default: return RS_UNKNOWN_SYS_ERROR;
        }
    }
    const QSerialPort::Parity par = parity == 1   ? QSerialPort::OddParity
                                    : parity == 2 ? QSerialPort::EvenParity
                                    : parity == 3 ? QSerialPort::MarkParity
                                    : parity == 4 ? QSerialPort::SpaceParity
                                                  : QSerialPort::NoParity;
    const bool ok = sp->setBaudRate(qint32(baudRate)) &&
                    sp->setDataBits(QSerialPort::DataBits(std::clamp(dataBits, 5, 8))) &&
                    sp->setParity(par) &&
                    sp->setStopBits(stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
                    sp->setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        sp->close();
        return RS_UNKNOWN_IO_ERROR;
    }
    sp->setReadBufferSize(p->cap);
    sp->clearError();
    // A device that vanishes (adapter pulled out) floods read errors; close at once.
    QSerialPort* raw = sp.get();
    QObject::connect(raw, &QSerialPort::errorOccurred, raw, [port](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ReadError || e == QSerialPort::ResourceError ||
            e == QSerialPort::WriteError) {
            auto it = ports.find(port);
            if (it != ports.end() && it->second.sp) {
                QSerialPort* s = it->second.sp.release();
                it->second.open = false;
                s->disconnect();
                s->close();
                s->deleteLater();
            }
        }
    });
    p->sp = std::move(sp);
    p->open = true;
    return 0;
}

int SetComTime(int port, double timeoutSeconds) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    if (!p->open) return RS_PORT_NOT_OPEN;
    p->timeout = timeoutSeconds;
    return 0;
}

int SetCTSMode(int port, int mode) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    if (!p->open) return RS_PORT_NOT_OPEN;
    if (p->sp && !p->sp->setFlowControl(mode ? QSerialPort::HardwareControl
                                             : QSerialPort::NoFlowControl))
        return RS_UNKNOWN_IO_ERROR;
    return 0;
}

int FlushInQ(int port) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    if (!p->open) return RS_PORT_NOT_OPEN;
    if (p->sp) {
        p->sp->clear(QSerialPort::Input);
    } else {
        // Everything that has arrived by now is discarded, queued or not.
        do {
            p->inq.clear();
            pullPeer(*p);
        } while (p->open && !p->inq.empty());
    }
    return 0;
}

int FlushOutQ(int port) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    if (!p->open) return RS_PORT_NOT_OPEN;
    if (p->sp) p->sp->clear(QSerialPort::Output);
    return 0;
}

int ComWrt(int port, const char* buffer, int count) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    if (p->peer) pullPeer(*p);
    if (!p->open) return RS_PORT_NOT_OPEN;
    if (!buffer || count < 0) return RS_INTERNAL_ERROR;
    if (count == 0) return 0;
    if (p->peer) {
        p->peer->receive(reinterpret_cast<const std::uint8_t*>(buffer), std::size_t(count), Timer());
        recordWrite(*p, buffer, count);
        return count;
    }
    const qint64 n = p->sp->write(buffer, count);
    if (n < 0) return RS_UNKNOWN_IO_ERROR;
    // Hand it to the line now, not at a later event pump. (An error on the way closes
    // the port from its error handler, so the port is looked up again.)
    if (p->sp) p->sp->flush();
    recordWrite(*p, buffer, int(n));
    return int(n);
}

int ComRd(int port, char* buffer, int count) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    if (!p->open) return RS_PORT_NOT_OPEN;
    if (!buffer || count <= 0) return 0;
    count = std::min(count, p->cap);
    int got = 0;
    const double deadline = Timer() + p->timeout;
    for (;;) {
        if (p->peer) {
            pullPeer(*p);
            if (!p->open) break;
            const int n = std::min<int>(count - got, int(p->inq.size()));
            std::memcpy(buffer + got, p->inq.data(), std::size_t(n));
            p->inq.erase(p->inq.begin(), p->inq.begin() + n);
            got += n;
        } else {
            if (!p->sp) break;
            const qint64 n = p->sp->read(buffer + got, count - got);
            if (n > 0) got += int(n);
        }
        if (got >= count) break;
        const double left = deadline - Timer();
        if (left <= 0) break;
        if (p->sp) {
            if (!p->sp->waitForReadyRead(std::max(1, int(left * 1000)))) {
                if (p->sp) p->sp->clearError();
            }
        } else if (test::VirtualClock()) {
            const double due = p->peer->nextEventTime();
            if (!std::isfinite(due) || due > deadline) break;
            test::AdvanceClock(std::max(0.0, due - Timer()));
        } else {
            QThread::usleep(500);
        }
    }
    return got;
}

int GetInQLen(int port) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    if (p->peer) pullPeer(*p);
    if (!p->open) return RS_PORT_NOT_OPEN;
    if (p->peer) return int(p->inq.size());
    if (!p->sp) return RS_PORT_NOT_OPEN;
    return int(std::min<qint64>(p->sp->bytesAvailable(), p->cap));
}

int CloseCom(int port) {
    Port* p = portFor(port);
    if (!p) return RS_INVALID_PORT_NUM;
    if (!p->open && !p->sp) return RS_PORT_NOT_OPEN;
    closePort(*p);
    return 0;
}

// ---- internals and hooks ------------------------------------------------------------

namespace detail {

void ServiceSerial() {
    for (auto& [n, p] : ports) {
        if (p.peer && p.open) pullPeer(p);
        if (p.sp && !p.sp->isOpen()) closePort(p);
    }
}

double SerialNextDue() {
    double due = std::numeric_limits<double>::infinity();
    const double now = Timer();
    for (auto& [n, p] : ports)
        if (p.peer && p.open) due = std::min(due, p.peer->nextEventTime() - now);
    return due;
}

void CloseAllPorts() {
    for (auto& [n, p] : ports) closePort(p);
}

} // namespace detail

namespace test {

std::string WrittenBytes(int port) {
    auto it = ports.find(port);
    return it == ports.end() ? std::string() : it->second.written;
}
void ClearWrittenBytes(int port) {
    auto it = ports.find(port);
    if (it != ports.end()) it->second.written.clear();
}
bool PortOpen(int port) {
    auto it = ports.find(port);
    return it != ports.end() && it->second.open;
}

} // namespace test

} // namespace runtime
