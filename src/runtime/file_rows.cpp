// Files written a row at a time (a recording, varno-cli live's output): after a failed
// write, the row written only in part is cut off, so the file ends with a whole row.
#include "runtime.h"

#include <QtGlobal>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__) || defined(__linux__)
#include <stdio_ext.h>
#endif
#endif

#include <cerrno>

namespace runtime {

#if defined(Q_OS_UNIX)

namespace {

// Throws away what the stream still holds unwritten, so that closing it writes nothing
// more behind the cut.
void discardUnwritten(std::FILE* file) {
#if defined(__GLIBC__) || defined(__linux__)
    __fpurge(file);
#else
    fpurge(file);
#endif
}

} // namespace

long long RegularFileSize(std::FILE* file) {
    struct stat st {};
    if (!file || ::fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

bool CutToLastWholeRow(std::FILE* file, long long floor) {
    if (!file) return false;
    const int savedErrno = errno; // the caller's reason for the failed write stays
    discardUnwritten(file);
    std::clearerr(file);
    const int fd = fileno(file);
    const long long size = RegularFileSize(file);
    bool ok = size >= 0;
    if (ok) {
        if (floor < 0) floor = 0;
        // The last line end at or above the floor, looked for from the end backwards.
        long long keep = floor;
        char buf[4096];
        for (long long end = size; end > floor && keep == floor;) {
            const long long chunk = static_cast<long long>(sizeof buf);
            const long long from = end - chunk > floor ? end - chunk : floor;
            const ssize_t n = ::pread(fd, buf, std::size_t(end - from), off_t(from));
            if (n != ssize_t(end - from)) {
                ok = false;
                break;
            }
            for (ssize_t i = n; i > 0; --i)
                if (buf[i - 1] == '\n') {
                    keep = from + i;
                    break;
                }
            end = from;
        }
        if (ok && keep < size) ok = ::ftruncate(fd, off_t(keep)) == 0;
    }
    errno = savedErrno;
    return ok;
}

#else

// Windows: not cut back yet (the C library there has no way to drop unwritten data).
long long RegularFileSize(std::FILE*) {
    return -1;
}
bool CutToLastWholeRow(std::FILE*, long long) {
    return false;
}

#endif

} // namespace runtime
