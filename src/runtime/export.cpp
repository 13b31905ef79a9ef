// Saving what the panel shows: pictures of the graphs, and the folder offered for the
// operator's own files.
#include "internal_ui.h"
#include "runtime.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QWidget>

#include <cstring>

namespace runtime {

int SaveGraphImage(int panel, int control, const char* path) {
    QWidget* w = detail::CtrlWidget(panel, control);
    if (!w || !path || !*path) return UIE_BAD_CONTROL;
    if (std::strcmp(CtrlKindName(panel, control), "graph") != 0 &&
        std::strcmp(CtrlKindName(panel, control), "strip") != 0)
        return UIE_BAD_CONTROL;
    // Refused before the picture is made: a device or FIFO is never opened.
    if (ExaminePath(path) == PathKind::NotAFile) return FILE_NOT_A_FILE;
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !w->grab().save(&buffer, "PNG"))
        return FILE_WRITE_FAILED;
    return WriteWholeFile(path, png.constData(), std::size_t(png.size()));
}

int GetUserDirN(char* dir, std::size_t size) {
    if (!dir || size == 0) return UIE_BAD_VALUE;
    dir[0] = '\0';
    const QFileInfo home(QDir::homePath());
    const QString chosen =
        home.isDir() && home.isWritable() ? home.absoluteFilePath() : QDir::currentPath();
    const QByteArray d = QFile::encodeName(QDir::toNativeSeparators(chosen));
    if (std::size_t(d.size()) + 1 > size) return UIE_BUFFER_TOO_SMALL;
    std::memcpy(dir, d.constData(), std::size_t(d.size()));
    dir[d.size()] = '\0';
    return 0;
}

} // namespace runtime
