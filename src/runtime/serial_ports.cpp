// Port numbers for the system's serial devices, and how the port selector names them.
#include "endpoint.h"
#include "internal.h"
#include "runtime.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace runtime {

namespace {

constexpr int maxPort = 255;
bool enumerated = false;
std::map<int, std::string> openFailures;
std::map<int, OpenFailureKind> openFailureKinds;

std::string naturalKey(const std::string& s) {
    // Pads digit runs so that ttyS2 sorts before ttyS10.
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (std::isdigit(static_cast<unsigned char>(s[i]))) {
            std::size_t j = i;
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                ++j;
            out += std::string(10 - std::min<std::size_t>(10, j - i), '0') + s.substr(i, j - i);
            i = j;
        } else {
            out += s[i++];
        }
    }
    return out;
}

// What the system knows of a device, as people recognise it: "USB-Serial Controller
// (A50285BI)".
std::string describe(const std::string& device) {
    const QString canon = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != canon && info.systemLocation().toStdString() != device)
            continue;
        QString what = info.description();
        if (what.isEmpty())
            what = info.manufacturer();
        else if (!info.manufacturer().isEmpty() && !what.contains(info.manufacturer()))
            what += ", " + info.manufacturer();
        if (!info.serialNumber().isEmpty())
            what += (what.isEmpty() ? "" : " ") + QString("(%1)").arg(info.serialNumber());
        return what.toStdString();
    }
    return {};
}

} // namespace

namespace detail {

// Gives the free numbers to the system's serial devices: USB and ACM adapters first, in
// the stable order of their by-id names, then the on-board ports in order.
// Numbers once given stay with their device; a rescan only adds new devices.
void EnumeratePorts(bool rescan) {
    if (enumerated && !rescan) return;
    enumerated = true;
#if defined(Q_OS_WIN)
    for (int n = 1; n <= 16; ++n)
        if (!PortBound(n)) NumberDevice(n, "COM" + std::to_string(n));
#else
    // Adapters are opened through their by-id names, which survive being plugged in
    // again as another ttyUSB number.
    std::vector<std::string> found, resolved;
    QDir byId("/dev/serial/by-id");
    const QStringList ids =
        byId.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& id : ids) {
        const QString real = QFileInfo(byId.filePath(id)).canonicalFilePath();
        if (real.isEmpty()) continue;
        found.push_back(byId.filePath(id).toStdString());
        resolved.push_back(real.toStdString());
    }
    std::vector<std::string> usb, onboard;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::string loc = info.systemLocation().toStdString();
        if (std::find(resolved.begin(), resolved.end(), loc) != resolved.end()) continue;
        const bool isUsb =
            info.portName().startsWith("ttyUSB") || info.portName().startsWith("ttyACM");
        (isUsb ? usb : onboard).push_back(loc);
    }
    auto byKey = [](const std::string& a, const std::string& b) {
        return naturalKey(a) < naturalKey(b);
    };
    std::sort(usb.begin(), usb.end(), byKey);
    std::sort(onboard.begin(), onboard.end(), byKey);
    found.insert(found.end(), usb.begin(), usb.end());
    found.insert(found.end(), onboard.begin(), onboard.end());
    int n = 1;
    for (const std::string& dev : found) {
        if (DeviceNumbered(dev) ||
            DeviceNumbered(
                QFileInfo(QString::fromStdString(dev)).canonicalFilePath().toStdString()))
            continue;
        while (n <= maxPort && PortBound(n))
            ++n;
        if (n > maxPort) break;
        NumberDevice(n, dev);
        ++n;
    }
#endif
}

void ForgetEnumeration() {
    enumerated = false;
    openFailures.clear();
    openFailureKinds.clear();
}

void SetOpenFailure(int port, const std::string& reason, OpenFailureKind kind) {
    if (reason.empty()) {
        openFailures.erase(port);
        openFailureKinds.erase(port);
    } else {
        openFailures[port] = reason;
        openFailureKinds[port] = kind;
    }
}

} // namespace detail

void RescanSerialPorts() {
    detail::EnumeratePorts(true);
}

std::string SerialPortLabel(int port) {
    if (port < 1 || port > maxPort) return {};
    detail::EnumeratePorts(false);
    const std::string device = detail::PortDevice(port);
    if (device.empty()) return detail::PortLabel(port);
    const std::string what = describe(device);
    std::string shown = device;
    if (device.rfind("/dev/serial/by-id/", 0) == 0) {
        // The adapter is opened through its by-id name; people know it by its node.
        const QString real = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
        if (!real.isEmpty()) shown = QFileInfo(real).fileName().toStdString();
    }
    return what.empty() ? shown : shown + "  " + what;
}

int SerialPortCount() {
    detail::EnumeratePorts(false);
    return std::max(detail::HighestBoundPort(), 8);
}

const char* PortOpenFailure(int port) {
    auto it = openFailures.find(port);
    return it == openFailures.end() ? "" : it->second.c_str();
}

OpenFailureKind PortOpenFailureKind(int port) {
    auto it = openFailureKinds.find(port);
    return it == openFailureKinds.end() ? OpenFailureKind::None : it->second;
}

} // namespace runtime
