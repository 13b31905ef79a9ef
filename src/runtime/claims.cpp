// Lock files held with flock: gone with their process, whatever ends it.
#include "claims.h"

#include <QCryptographicHash>
#include <QDir>

#include <cctype>
#include <cerrno>
#include <cstring>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace runtime {

#if defined(Q_OS_UNIX)

namespace {

std::string folder() {
    return ::access("/run/lock", W_OK) == 0 ? std::string("/run/lock")
                                            : QDir::tempPath().toStdString();
}

// The file for a name: the name itself may hold anything, so it is hashed.
std::string fileFor(const std::string& name) {
    const QByteArray h =
        QCryptographicHash::hash(QByteArray::fromStdString(name), QCryptographicHash::Sha256)
            .toHex()
            .left(24);
    std::string readable;
    for (char c : name.substr(0, name.find(':')))
        readable += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    return folder() + "/" + readable + "." + h.toStdString() + ".lock";
}

std::string readNote(int fd) {
    char buf[1024];
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return "another process";
    std::string s(buf, std::size_t(n));
    while (!s.empty() && (s.back() == '\n' || s.back() == '\0'))
        s.pop_back();
    return s;
}

} // namespace

bool ClaimName(const std::string& name, const std::string& note, std::string& holder,
               bool& held) {
    held = false;
    const std::string path = fileFor(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        holder = path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        holder = held ? readNote(fd) : path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    // Kept open (and locked) until the process ends.
    if (::ftruncate(fd, 0) == 0) {
        const std::string line = note + "\n";
        (void)!::pwrite(fd, line.data(), line.size(), 0);
    }
    return true;
}

std::vector<std::string> ClaimedNotes(const std::string& prefix) {
    std::vector<std::string> out;
    std::string readable;
    for (char c : prefix)
        readable += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    const QDir dir(QString::fromStdString(folder()));
    for (const QString& f : dir.entryList({QString::fromStdString(readable) + ".*.lock"},
                                          QDir::Files)) {
        const std::string path = dir.filePath(f).toStdString();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        // A lock we can take is nobody's: its process ended.
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            out.push_back(readNote(fd));
        ::close(fd);
    }
    return out;
}

#else
// Elsewhere no claim is made: every name is free.
bool ClaimName(const std::string&, const std::string&, std::string&, bool& held) {
    held = false;
    return true;
}
std::vector<std::string> ClaimedNotes(const std::string&) {
    return {};
}
#endif

} // namespace runtime
