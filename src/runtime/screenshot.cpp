// A picture of the shown panel, taken a while after start, and then the program ends.
#include "internal_ui.h"
#include "log.h"
#include "runtime.h"

#include <QApplication>
#include <QBuffer>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <string>

namespace runtime {

namespace {

std::string pendingShot; // taken when the panel is shown, if it was not shown in time

bool saveShot(QWidget* w, const std::string& path) {
    // Written as every other output: a device or FIFO is refused, never opened.
    const char* what = "";
    if (ExaminePath(path.c_str(), &what) == PathKind::NotAFile) {
        log::WarningF(log::Panel, "varno: cannot save %s: it is %s, not a regular file",
                      path.c_str(), what);
        return false;
    }
    QByteArray format = QFileInfo(QString::fromStdString(path)).suffix().toUpper().toLatin1();
    if (format.isEmpty()) format = "PNG";
    QByteArray picture;
    QBuffer buffer(&picture);
    if (buffer.open(QIODevice::WriteOnly) && w->grab().save(&buffer, format.constData()) &&
        WriteWholeFile(path.c_str(), picture.constData(), std::size_t(picture.size())) == FILE_OK)
        return true;
    log::WarningF(log::Panel, "varno: cannot save %s", path.c_str());
    return false;
}

} // namespace

void ScheduleScreenshot(const std::string& path, int delayMs) {
    QTimer::singleShot(delayMs, QCoreApplication::instance(), [path] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || !w->property("resourceId").isValid()) continue;
            saveShot(w, path);
            QuitUserInterface(0);
            return;
        }
        // The panel is not shown yet (start-up still waits for the sensor): the program
        // ends now, and the picture is taken as soon as the panel is shown.
        pendingShot = path;
        QuitUserInterface(0);
    });
}

namespace detail {
void PanelShown(QWidget* top) {
    if (pendingShot.empty()) return;
    QCoreApplication::processEvents();
    saveShot(top, pendingShot);
    pendingShot.clear();
}
} // namespace detail

} // namespace runtime
