// Pop-ups: the modal message and the file dialog.
#include "internal_ui.h"
#include "popup_route.h"
#include "runtime.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <cstring>
#include <string>

namespace runtime {

namespace {
PopupRoute popupRoute;
}

using namespace detail;

void RoutePopups(PopupRoute route) {
    popupRoute = std::move(route);
}

int MessagePopup(const char* title, const char* text) {
    if (popupRoute) {
        popupRoute({PopupRequest::Message, title ? title : "", text ? text : "", "", "", Timer()});
        return 0;
    }
    if (!theApp) return UIE_BAD_PANEL;
    // The texts are laid out line by line, so each line is kept whole (a message box
    // would wrap anything wider than about 500 pixels); only a line wider than the
    // screen wraps.
    QDialog box;
    box.setWindowTitle(QString::fromLocal8Bit(title ? title : ""));
    box.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&box);
    auto* label = new QLabel(QString::fromLocal8Bit(text ? text : ""));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    layout->addWidget(buttons);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        if (label->sizeHint().width() > screen->availableGeometry().width() - 60)
            label->setWordWrap(true);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    box.exec();
    return 0;
}

namespace {

// With the extension restricted to one "*.ext" filter: a name without an extension gets
// it; a name with another one is refused (returns an empty string).
QString restrictExtension(const QString& chosen, const QString& filter) {
    if (!filter.startsWith("*.") || filter.contains(';') || filter.contains(' ')) return chosen;
    const QString ext = filter.mid(2);
    const QString suffix = QFileInfo(chosen).suffix();
    if (suffix.isEmpty()) return chosen.endsWith('.') ? chosen + ext : chosen + "." + ext;
    return suffix.compare(ext, Qt::CaseInsensitive) == 0 ? chosen : QString();
}

// The folder the dialog starts in: the one asked for, unless it cannot be written (an
// installed program's folder), where every save would fail: then the home folder.
QString startFolder(const char* dir) {
    const QString d = QString::fromLocal8Bit(dir ? dir : "");
    const QFileInfo info(d.isEmpty() ? QDir::currentPath() : d);
    return info.isDir() && info.isWritable() ? d : QDir::homePath();
}

} // namespace

int FileSelectPopupN(const char* defaultDir, const char* defaultFile, const char* filterList,
                     const char* title, int /*buttonLabel*/, int restrictDir, int restrictExt,
                     int allowCancel, int allowMakeDir, char* path, std::size_t pathSize) {
    if (!path || pathSize == 0) return UIE_BAD_VALUE;
    const std::string filter = filterList ? filterList : "";
    const QString refusedText = QString("Only files ending in %1 can be chosen here.")
                                    .arg(QString::fromStdString(filter).mid(1));
    QString chosen;
    int result = VAL_NO_FILE_SELECTED;
    const QString folder = startFolder(defaultDir);
    if (popupRoute) {
        const PopupReply a =
            popupRoute({PopupRequest::FileSelect, title ? title : "", filter, folder.toStdString(),
                        defaultFile ? defaultFile : "", Timer()});
        if (a.result <= 0) return a.result;
        chosen = QString::fromStdString(a.path);
        if (restrictExt) chosen = restrictExtension(chosen, QString::fromStdString(filter));
        if (chosen.isEmpty()) {
            MessagePopup(title, refusedText.toLocal8Bit().constData());
            return VAL_NO_FILE_SELECTED;
        }
        result = QFileInfo::exists(chosen) ? VAL_EXISTING_FILE_SELECTED : a.result;
    } else {
        if (!theApp) return UIE_BAD_PANEL;
        QFileDialog dlg(nullptr, QString::fromLocal8Bit(title ? title : ""), folder);
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setLabelText(QFileDialog::Accept, "OK");
        QString f = QString::fromStdString(filter);
        dlg.setNameFilter(f.isEmpty() ? QString("*") : f);
        if (!allowMakeDir) dlg.setOption(QFileDialog::ReadOnly, true);
        if (restrictExt && f.startsWith("*.") && f.indexOf(';') < 0) dlg.setDefaultSuffix(f.mid(2));
        if (defaultFile && *defaultFile) dlg.selectFile(QString::fromLocal8Bit(defaultFile));
        (void)restrictDir;
        (void)allowCancel;
        for (;;) {
            if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
                return VAL_NO_FILE_SELECTED;
            chosen = dlg.selectedFiles().first();
            if (restrictExt) chosen = restrictExtension(chosen, QString::fromStdString(filter));
            if (!chosen.isEmpty()) break;
            MessagePopup(title, refusedText.toLocal8Bit().constData());
        }
        result = QFileInfo::exists(chosen) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
    }
    const QByteArray bytes = QFile::encodeName(QDir::toNativeSeparators(chosen));
    if (std::size_t(bytes.size()) + 1 > pathSize) return UIE_BUFFER_TOO_SMALL;
    std::memcpy(path, bytes.constData(), std::size_t(bytes.size()));
    path[bytes.size()] = '\0';
    return result;
}

} // namespace runtime
