// Whether a path still names the file a program has open: a recording written through an
// open file would otherwise go on into a file that was deleted, renamed or replaced.
#include "runtime.h"

#include <QtGlobal>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <cerrno>
#endif

namespace runtime {

const char* FileGoneFromPath(std::FILE* file, const char* path) {
#if defined(Q_OS_UNIX)
    if (!file || !path) return nullptr;
    struct stat open {};
    if (::fstat(fileno(file), &open) != 0) return nullptr;
    struct stat named {};
    if (::stat(path, &named) != 0) {
        // Only a name that is gone counts; a path that cannot be looked at for another
        // reason (permissions of a folder, an I/O error) proves nothing either way.
        if (errno != ENOENT && errno != ENOTDIR) return nullptr;
        return open.st_nlink == 0 ? "was deleted" : "was renamed or moved away";
    }
    if (named.st_dev != open.st_dev || named.st_ino != open.st_ino)
        return "was replaced by another file";
    return nullptr;
#else
    // Windows: a file the C library has open cannot be deleted or renamed.
    (void)file;
    (void)path;
    return nullptr;
#endif
}

} // namespace runtime
