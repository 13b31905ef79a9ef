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

bool CutToLastWholeRow(std::FILE* file, long long wholeSize) {
    if (!file) return false;
    const int savedErrno = errno; // the caller's reason for the failed write stays
    discardUnwritten(file);
    std::clearerr(file);
    // The size is the writer's own count: an output opened for writing only (a shell's
    // redirection) cannot be read back to look for the last line end.
    const long long size = RegularFileSize(file);
    const bool ok = size >= 0 && wholeSize >= 0 &&
                    (size <= wholeSize || ::ftruncate(fileno(file), off_t(wholeSize)) == 0);
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
