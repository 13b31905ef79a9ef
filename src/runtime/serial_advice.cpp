// What the operator can do about a serial device that will not open.
#include "claims.h"
#include "internal.h"
#include "runtime.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#if defined(Q_OS_UNIX)
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace runtime::detail {

namespace {

// A field of a gateway's claim note ("pid 12, port /dev/ttyUSB0, sensor s1, topics varno/s1/,
// device /dev/ttyUSB0"), "" when it has none.
std::string noteField(const std::string& note, const std::string& key) {
    const std::string head = key + " ";
    std::size_t at = note.rfind(head, 0) == 0 ? 0 : note.find(", " + head);
    if (at == std::string::npos) return {};
    if (at != 0) at += 2;
    at += head.size();
    const std::size_t end = note.find(", ", at);
    return note.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The varno-gateway that holds `path`, named with how to get the port from it; "" when
// no running gateway has it.
std::string gatewayHolding(const std::string& path) {
    const QString mine = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    if (mine.isEmpty()) return {};
    for (const std::string& note : ClaimedNotes("varno-gateway")) {
        const std::string device = noteField(note, "device");
        if (device.empty() ||
            QFileInfo(QString::fromStdString(device)).canonicalFilePath() != mine)
            continue;
        const std::string sensor = noteField(note, "sensor");
        const std::string topics = noteField(note, "topics");
        return path + ": busy: varno-gateway holds it for the sensor " + sensor + " (pid " +
               noteField(note, "pid") +
               "). Ask it to give the port away for a while (an operator account):\n"
               "  mosquitto_pub -t '" +
               topics + "cmd/yield' -m '{\"seconds\": 300}'\nor stop it: sudo systemctl stop varno-gateway@" +
               sensor;
    }
    return {};
}

} // namespace

std::string PermissionAdvice(const std::string& path, const std::string& owner,
                             const std::string& group, unsigned gid, unsigned mode) {
    // Joining the group helps only when the group may read and write the device; the root
    // group is never one to join for it.
    const bool groupMayUse = (mode & 060u) == 060u && gid != 0 && group != "root" && !group.empty();
    if (groupMayUse)
        return path + ": permission denied. The device belongs to the group \"" + group +
               "\"; add yourself to it with\n  sudo usermod -aG " + group +
               " $USER\nthen log out and in again.";
    char bits[8];
    std::snprintf(bits, sizeof bits, "%04o", mode & 07777u);
    return path + ": permission denied. Only its owner (\"" + owner + "\") may open it (mode " +
           bits + ", group \"" + group +
           "\"). An administrator can give it a group that may read and write it (a udev "
           "rule, e.g. GROUP=\"dialout\", MODE=\"0660\"); then join that group.";
}

std::string ExplainOpenFailure(const std::string& path, bool notFound, const std::string& osText,
                               OpenFailureKind* kind) {
    OpenFailureKind unused;
    OpenFailureKind& k = kind ? *kind : unused;
    k = OpenFailureKind::Other;
    std::string why = osText.empty() ? std::string("it cannot be opened") : osText;
    if (notFound) {
        k = OpenFailureKind::NotThere;
        return path + ": no such device (" + why + ")";
    }
    // Only a terminal is a serial device; what else is there is named, never called busy.
    k = OpenFailureKind::NotSerial;
    if (std::string what; NotASerialDevice(path, what))
        return path + ": not a serial device (it is " + what + ")";
#if defined(Q_OS_UNIX)
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && osText == std::strerror(ENOTTY))
        return path + ": not a serial device (a character device that is not a terminal)";
    k = OpenFailureKind::Permission;
    if (::stat(path.c_str(), &st) == 0 && ::access(path.c_str(), R_OK | W_OK) != 0) {
        std::string group = std::to_string(st.st_gid), owner = std::to_string(st.st_uid);
        if (const struct group* g = ::getgrgid(st.st_gid)) group = g->gr_name;
        if (const struct passwd* u = ::getpwuid(st.st_uid)) owner = u->pw_name;
        return PermissionAdvice(path, owner, group, unsigned(st.st_gid), unsigned(st.st_mode));
    }
    k = OpenFailureKind::Busy;
    if (::stat(path.c_str(), &st) == 0) {
        if (std::string gateway = gatewayHolding(path); !gateway.empty()) return gateway;
        return path + ": busy: another program holds it (" + why + "). Close that program.";
    }
#endif
    k = OpenFailureKind::Other;
    return path + ": " + why;
}

bool NotASerialDevice(const std::string& path, std::string& what) {
#if defined(Q_OS_UNIX)
    const char* w = "";
    const PathKind kind = ExaminePath(path.c_str(), &w);
    what = w;
    return kind == PathKind::RegularFile ||
           (kind == PathKind::NotAFile && std::strcmp(w, "a character device") != 0);
#else
    (void)path;
    what.clear();
    return false;
#endif
}

bool DevicePresent(const std::string& path) {
#if defined(Q_OS_WIN)
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        if (info.portName().compare(QString::fromStdString(path), Qt::CaseInsensitive) == 0)
            return true;
    return false;
#else
    return QFileInfo::exists(QString::fromStdString(path)); // follows a re-pointed link
#endif
}

} // namespace runtime::detail
