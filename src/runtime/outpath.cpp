// What a path names, and the replacing of a file's whole content. Nothing here opens what
// the path names to find out what it is: opening a FIFO waits for its other side, and a
// device may act on an opening or a write.
#include "runtime.h"

#include <QtGlobal>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#else
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#endif

namespace runtime {

#if defined(Q_OS_UNIX)

namespace {

constexpr int maxLinks = 40; // as the kernel allows in one path

// Follows symbolic links by hand (the last one may point to nothing yet): the path of what
// is finally named. `loop` is set when the links do not end.
std::string followLinks(std::string p, bool& loop) {
    loop = false;
    for (int i = 0; i < maxLinks; ++i) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n <= 0) return p;
        target.resize(std::size_t(n));
        if (target[0] != '/') {
            const std::size_t slash = p.rfind('/');
            target = (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + target;
        }
        p = target;
    }
    loop = true;
    return p;
}

PathKind kindOf(const std::string& p, bool loop, struct stat& st, const char** what) {
    auto say = [what](const char* w) {
        if (what) *what = w;
    };
    if (loop) {
        say("a loop of symbolic links");
        return PathKind::NotAFile;
    }
    if (::lstat(p.c_str(), &st) != 0) {
        say("nothing");
        return PathKind::Absent;
    }
    if (S_ISREG(st.st_mode)) {
        say("a regular file");
        return PathKind::RegularFile;
    }
    if (S_ISDIR(st.st_mode))
        say("a directory");
    else if (S_ISFIFO(st.st_mode))
        say("a FIFO");
    else if (S_ISCHR(st.st_mode))
        say("a character device");
    else if (S_ISBLK(st.st_mode))
        say("a block device");
    else if (S_ISSOCK(st.st_mode))
        say("a socket");
    else
        say("a special file");
    return PathKind::NotAFile;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

} // namespace

PathKind ExaminePath(const char* path, const char** what) {
    if (!path || !*path) {
        if (what) *what = "nothing";
        return PathKind::Absent;
    }
    bool loop = false;
    const std::string real = followLinks(path, loop);
    struct stat st {};
    return kindOf(real, loop, st, what);
}

int WriteWholeFile(const char* path, const void* data, std::size_t size) {
    if (!path || !*path || (!data && size > 0)) return FILE_BAD_ARGUMENT;
    bool loop = false;
    const std::string real = followLinks(path, loop);
    struct stat old {};
    const PathKind kind = kindOf(real, loop, old, nullptr);
    if (kind == PathKind::NotAFile) return FILE_NOT_A_FILE;
    // The new content goes into a file beside the one it replaces (the same file system,
    // so the rename below is atomic), never into the old file itself.
    const std::size_t slash = real.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : real.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? real : real.substr(slash + 1);
    std::string temp = folder + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return FILE_WRITE_FAILED;
    mode_t mode = 0;
    if (kind == PathKind::RegularFile) {
        mode = old.st_mode & 07777;
        // Owner and group too where that is allowed (as root); elsewhere the new file is
        // the writer's, as any rewrite by a program would make it.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd, old.st_uid, old.st_gid);
    } else {
        mode = ::umask(0);
        ::umask(mode);
        mode = 0666 & ~mode;
    }
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, static_cast<const char*>(data), size) &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // Whatever took the path's place meanwhile is looked at again: only a regular file or
    // nothing is ever replaced.
    struct stat now {};
    if (ok && ::lstat(real.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) {
        ::unlink(temp.c_str());
        return FILE_NOT_A_FILE;
    }
    if (!ok || ::rename(temp.c_str(), real.c_str()) != 0) {
        ::unlink(temp.c_str());
        return FILE_WRITE_FAILED;
    }
    return FILE_OK;
}

#else

PathKind ExaminePath(const char* path, const char** what) {
    auto say = [what](const char* w) {
        if (what) *what = w;
    };
    const QFileInfo info(QFile::decodeName(path ? path : ""));
    if (!path || !*path || !info.exists()) {
        say("nothing");
        return PathKind::Absent;
    }
    if (info.isFile()) {
        say("a regular file");
        return PathKind::RegularFile;
    }
    say(info.isDir() ? "a directory" : "not a regular file");
    return PathKind::NotAFile;
}

int WriteWholeFile(const char* path, const void* data, std::size_t size) {
    if (!path || !*path || (!data && size > 0)) return FILE_BAD_ARGUMENT;
    if (ExaminePath(path) == PathKind::NotAFile) return FILE_NOT_A_FILE;
    QSaveFile f(QFile::decodeName(path));
    if (!f.open(QIODevice::WriteOnly)) return FILE_WRITE_FAILED;
    if (f.write(static_cast<const char*>(data), qint64(size)) != qint64(size) || !f.flush()) {
        f.cancelWriting();
        return FILE_WRITE_FAILED;
    }
    return f.commit() ? FILE_OK : FILE_WRITE_FAILED;
}

#endif

} // namespace runtime
