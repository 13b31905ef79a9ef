// What the operator can do about a serial device that will not open.
#include "internal.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#if defined(Q_OS_UNIX)
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>

namespace runtime::detail {

std::string ExplainOpenFailure(const std::string& path, bool notFound, const std::string& osText) {
    std::string why = osText.empty() ? std::string("it cannot be opened") : osText;
    if (notFound) return path + ": no such device (" + why + ")";
#if defined(Q_OS_UNIX)
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && ::access(path.c_str(), R_OK | W_OK) != 0) {
        std::string group = "dialout";
        if (const struct group* g = ::getgrgid(st.st_gid)) group = g->gr_name;
        return path + ": permission denied. The device belongs to the group \"" + group +
               "\"; add yourself to it with\n  sudo usermod -aG " + group +
               " $USER\nthen log out and in again.";
    }
    if (::stat(path.c_str(), &st) == 0)
        return path + ": busy: another program holds it (" + why + "). Close that program.";
#endif
    return path + ": " + why;
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
