// Engine start, event pump, time, pop-ups, files and the program's folder.
#include "bytelist.h"
#include "internal.h"
#include "runtime.h"
#include "testhooks.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QSaveFile>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace runtime {

namespace {

QApplication* theApp = nullptr;
QElapsedTimer realClock;
bool virtualOn = false;
double virtualNow = 0.0;
double virtualTick = 0.001;
std::function<void(double)> pumpHook;
std::function<test::PopupAnswer(const test::Popup&)> popupHandler;
QTimer* wakeTimer = nullptr;
double lastPump = -1.0;

bool platformNamed(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return true;
    return false;
}

} // namespace

int InitRuntime(int* argc, char** argv) {
    if (QCoreApplication::instance()) {
        theApp = qobject_cast<QApplication*>(QCoreApplication::instance());
        if (!realClock.isValid()) realClock.start();
        return theApp ? 0 : -1;
    }
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Without a display Qt would abort; end with a clear message and -1 instead.
    if (!platformNamed(*argc, argv) && !std::getenv("QT_QPA_PLATFORM") &&
        !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "varno: no display found (set DISPLAY, or run with "
                             "-platform offscreen)\n");
        return -1;
    }
#endif
    theApp = new QApplication(*argc, argv);
    realClock.start();
    return 0;
}

int InitRuntimeNoDisplay(int* argc, char** argv) {
    if (!QCoreApplication::instance()) new QCoreApplication(*argc, argv);
    if (!realClock.isValid()) realClock.start();
    return 0;
}

bool RuntimeReady() { return QCoreApplication::instance() != nullptr; }

// ---- pump and time ------------------------------------------------------------------

int ProcessSystemEvents() {
    if (!QCoreApplication::instance()) return 0;
    detail::ServiceSerial();
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (virtualOn) {
        QCoreApplication::sendPostedEvents();
        if (dispatcher) dispatcher->processEvents(QEventLoop::AllEvents);
        virtualNow += virtualTick;
    } else if (dispatcher) {
        QCoreApplication::sendPostedEvents();
        const double now = Timer();
        // A pump called again within 2 ms is a waiting loop; a single pump never blocks.
        const bool polling = now - lastPump < 0.002;
        lastPump = now;
        if (!dispatcher->processEvents(QEventLoop::AllEvents) && polling) {
            // Nothing was pending: sleep in the event loop until something arrives
            // (serial data included), for at most a millisecond, and not past the
            // moment an in-process peer delivers.
            if (!wakeTimer) {
                wakeTimer = new QTimer(QCoreApplication::instance());
                wakeTimer->setSingleShot(true);
                wakeTimer->setTimerType(Qt::PreciseTimer);
            }
            const double due = detail::SerialNextDue();
            if (due > 0.0012) {
                wakeTimer->start(1);
                dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
                wakeTimer->stop();
            } else if (due > 0.0) {
                QThread::usleep(static_cast<unsigned long>(due * 1e6)); // sub-millisecond
            }
            lastPump = Timer();
        }
    }
    detail::ServiceSerial();
    if (pumpHook) pumpHook(Timer());
    return 0;
}

double Timer() {
    if (virtualOn) return virtualNow;
    if (!realClock.isValid()) realClock.start();
    return double(realClock.nsecsElapsed()) / 1e9;
}

void Sleep(int milliseconds) {
    if (milliseconds <= 0) return;
    if (virtualOn) {
        virtualNow += milliseconds / 1000.0;
        return;
    }
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

// ---- pop-ups ------------------------------------------------------------------------

int MessagePopup(const char* title, const char* text) {
    if (popupHandler) {
        test::Popup p{test::Popup::Message, title ? title : "", text ? text : "", "", "", Timer()};
        popupHandler(p);
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

int FileSelectPopupN(const char* defaultDir, const char* defaultFile, const char* filterList,
                     const char* title, int /*buttonLabel*/, int restrictDir, int restrictExt,
                     int allowCancel, int allowMakeDir, char* path, std::size_t pathSize) {
    if (!path || pathSize == 0) return UIE_BAD_VALUE;
    const std::string filter = filterList ? filterList : "";
    QString chosen;
    int result = VAL_NO_FILE_SELECTED;
    if (popupHandler) {
        test::Popup p{test::Popup::FileSelect, title ? title : "", filter,
                      defaultDir ? defaultDir : "", defaultFile ? defaultFile : "", Timer()};
        const test::PopupAnswer a = popupHandler(p);
        if (a.result <= 0) return a.result;
        chosen = QString::fromStdString(a.path);
        result = a.result;
    } else {
        if (!theApp) return UIE_BAD_PANEL;
        QFileDialog dlg(nullptr, QString::fromLocal8Bit(title ? title : ""),
                        QString::fromLocal8Bit(defaultDir ? defaultDir : ""));
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setLabelText(QFileDialog::Accept, "OK");
        QString f = QString::fromStdString(filter);
        dlg.setNameFilter(f.isEmpty() ? QString("*") : f);
        if (!allowMakeDir) dlg.setOption(QFileDialog::ReadOnly, true);
        if (restrictExt && f.startsWith("*.") && f.indexOf(';') < 0)
            dlg.setDefaultSuffix(f.mid(2));
        if (defaultFile && *defaultFile) dlg.selectFile(QString::fromLocal8Bit(defaultFile));
        (void)restrictDir;
        (void)allowCancel;
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return VAL_NO_FILE_SELECTED;
        chosen = dlg.selectedFiles().first();
        result = QFileInfo::exists(chosen) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
    }
    const QByteArray bytes = QFile::encodeName(QDir::toNativeSeparators(chosen));
    if (std::size_t(bytes.size()) + 1 > pathSize) return UIE_BUFFER_TOO_SMALL;
    std::memcpy(path, bytes.constData(), std::size_t(bytes.size()));
    path[bytes.size()] = '\0';
    return result;
}

// ---- files --------------------------------------------------------------------------

namespace {
int fileErrorLine = 0;
}

int LastFileErrorLine() { return fileErrorLine; }

int ArrayToFile(const char* file, const void* array, int dataType, int numElements,
                int numGroups, int /*arrayDataOrder*/, int fileLayout, int colSepStyle,
                int fieldWidth, int fileType, int fileAction) {
    if (!file || !*file || !array || numElements < 1 || numGroups != 1 || fileLayout != 0 ||
        fileType != 1 || fieldWidth < 0 || fieldWidth > 64)
        return FILE_BAD_ARGUMENT;
    if (dataType != VAL_UNSIGNED_CHAR && dataType != VAL_DOUBLE) return FILE_BAD_ARGUMENT;
    QByteArray out;
    for (int i = 0; i < numElements; ++i) {
        QByteArray v = dataType == VAL_UNSIGNED_CHAR
                           ? QByteArray::number(static_cast<const unsigned char*>(array)[i])
                           : QByteArray::number(static_cast<const double*>(array)[i], 'g', 17);
        if (colSepStyle == 0 && v.size() < fieldWidth)
            v.prepend(QByteArray(fieldWidth - v.size(), ' '));
        out += v;
        out += '\n';
    }
    const QString name = QFile::decodeName(file);
    if (fileAction != 0) { // append: the old content stays in front
        QFile old(name);
        if (old.exists()) {
            if (!old.open(QIODevice::ReadOnly)) return FILE_CANNOT_OPEN;
            out.prepend(old.readAll());
        }
    }
    QSaveFile f(name);
    if (!f.open(QIODevice::WriteOnly)) return FILE_WRITE_FAILED;
    // The content is buffered: a short write (disk full, size limit) only shows in the
    // flush, and commit() would not notice it, so flush first and check.
    if (f.write(out) != out.size() || !f.flush()) {
        f.cancelWriting();
        return FILE_WRITE_FAILED;
    }
    return f.commit() ? FILE_OK : FILE_WRITE_FAILED;
}

int FileToArray(const char* file, void* array, int dataType, int numElements, int numGroups,
                int /*arrayDataOrder*/, int fileLayout, int fileType) {
    fileErrorLine = 0;
    if (!file || !*file || !array || numElements < 1 || numGroups != 1 || fileLayout != 0 ||
        fileType != 1 || dataType != VAL_UNSIGNED_CHAR)
        return FILE_BAD_ARGUMENT;
    QFile f(QFile::decodeName(file));
    if (!f.open(QIODevice::ReadOnly)) return FILE_CANNOT_OPEN;
    // A parameter file is tiny; anything far larger is not one of ours.
    constexpr qint64 maxBytes = 1 << 20;
    const QByteArray data = f.read(maxBytes + 1);
    if (data.size() > maxBytes) return FILE_TOO_MANY_VALUES;
    return ParseByteList(data.constData(), std::size_t(data.size()),
                         static_cast<unsigned char*>(array), numElements, &fileErrorLine);
}

int GetProjectDirN(char* dir, std::size_t size) {
    if (!dir || size == 0) return UIE_BAD_VALUE;
    dir[0] = '\0';
    const QByteArray d = QFile::encodeName(QDir::toNativeSeparators(
        QString::fromStdString(detail::ProgramDir())));
    if (std::size_t(d.size()) + 1 > size) return UIE_BUFFER_TOO_SMALL;
    std::memcpy(dir, d.constData(), std::size_t(d.size()));
    dir[d.size()] = '\0';
    return 0;
}

namespace detail {

std::string ProgramDir() {
    if (QCoreApplication::instance())
        return QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
    return ".";
}

std::string ResolveBeside(const char* file) {
    if (!file) return {};
    const QString f = QFile::decodeName(file);
    if (QFileInfo(f).isAbsolute() || f.contains('/') || f.contains('\\'))
        return QFile::encodeName(f).toStdString();
    const QDir dir(QFile::decodeName(ProgramDir().c_str()));
    QString path = dir.filePath(f);
    // An installed program keeps its data files in <prefix>/share/varno.
    const QString shared = dir.filePath("../share/varno/" + f);
    if (!QFileInfo::exists(path) && QFileInfo::exists(shared)) path = QDir::cleanPath(shared);
    return QFile::encodeName(path).toStdString();
}

} // namespace detail

// ---- test hooks ---------------------------------------------------------------------

namespace test {

void UseVirtualClock(bool on, double tick) {
    virtualOn = on;
    virtualTick = tick;
}
bool VirtualClock() { return virtualOn; }
void AdvanceClock(double seconds) { virtualNow += seconds; }
void SetClock(double seconds) { virtualNow = seconds; }
void SetPumpHook(std::function<void(double)> hook) { pumpHook = std::move(hook); }
void SetPopupHandler(std::function<PopupAnswer(const Popup&)> handler) {
    popupHandler = std::move(handler);
}
void ClearPopupHandler() { popupHandler = nullptr; }

} // namespace test

} // namespace runtime
