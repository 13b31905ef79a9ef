// The program's own start-up options, read with QCommandLineParser; Qt's own options
// (-platform offscreen, --platform offscreen, -style ...) pass through to the engine.
#include "startup.h"

#include "runtime.h"

#include <QApplication>
#include <QBuffer>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QPixmap>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace runtime {

namespace {

// Qt's own options with a value, and without; accepted here so that they pass through.
const char* const qtValueOptions[] = {"platform",
                                      "platformpluginpath",
                                      "platformtheme",
                                      "plugin",
                                      "qmljsdebugger",
                                      "style",
                                      "stylesheet",
                                      "geometry",
                                      "qwindowgeometry",
                                      "title",
                                      "qwindowtitle",
                                      "qwindowicon",
                                      "display",
                                      "session",
                                      "name",
                                      "icon",
                                      "visual",
                                      "ncols",
                                      "cmap",
                                      "im",
                                      "qwindowsurfacetype"};
const char* const qtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

struct Parser {
    QCommandLineParser p;
    QCommandLineOption port{"port",
                            "Use device PATH as COM port number N (repeatable; a "
                            "pseudo-terminal path works).",
                            "N=PATH"};
    QCommandLineOption simulate{"simulate", "Put the built-in simulated sensor on COM1 (unless "
                                            "--port 1=... is given)."};
    QCommandLineOption screenshot{
        "screenshot", "Save a picture of the panel once it is shown, then quit.", "FILE"};
    QCommandLineOption record{"record", "Record the live data into the CSV file FILE (added to).",
                              "FILE"};
    QCommandLineOption help{QStringList{"h", "help"}, "Show this text and exit."};
    QCommandLineOption version{"version", "Show the version and exit."};

    Parser() {
        p.setApplicationDescription(
            "Operator program for the VARNO optical edge-counting sensor on an RS-232 line.");
        p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        p.addOptions({port, simulate, screenshot, record, help, version});
        for (const char* name : qtValueOptions) {
            QCommandLineOption o(name, "Qt option", "value");
            o.setFlags(QCommandLineOption::HiddenFromHelp);
            p.addOption(o);
        }
        for (const char* name : qtFlagOptions) {
            QCommandLineOption o(name, "Qt option");
            o.setFlags(QCommandLineOption::HiddenFromHelp);
            p.addOption(o);
        }
    }
};

} // namespace

const char* UsageText() {
    static std::string text;
    if (text.empty()) {
        Parser parser;
        QString h = parser.p.helpText();
        h.replace(QRegularExpression("^Usage: \\S+"), "Usage: varno");
        h.replace(QRegularExpression("<([A-Z=]+)>"), "\\1");
        h += "\nQt's own options pass through, for example: -platform offscreen\n"
             "\nExit status: 0 after the window is closed, 2 for a wrong option, 255 when the\n"
             "panel file is missing or damaged or no display can be reached.\n";
        text = h.toStdString();
    }
    return text.c_str();
}

StartupOptions ParseStartupOptions(int argc, char** argv) {
    StartupOptions o;
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty()) args << "varno";
    Parser parser;
    if (!parser.p.parse(args)) {
        const QStringList unknown = parser.p.unknownOptionNames();
        if (!unknown.isEmpty())
            o.error = "unknown option " + std::string(unknown.first().size() == 1 ? "-" : "--") +
                      unknown.first().toStdString();
        else
            o.error = parser.p.errorText().toStdString();
        return o;
    }
    if (!parser.p.positionalArguments().isEmpty()) {
        o.error = "unexpected argument \"" + parser.p.positionalArguments().first().toStdString() +
                  "\" (the program opens no file)";
        return o;
    }
    o.help = parser.p.isSet(parser.help);
    o.version = parser.p.isSet(parser.version);
    o.simulate = parser.p.isSet(parser.simulate);
    o.screenshot = parser.p.value(parser.screenshot).toStdString();
    o.record = parser.p.value(parser.record).toStdString();
    for (const QString& v : parser.p.values(parser.record))
        if (v.isEmpty()) {
            // An empty name would otherwise be taken as no recording at all, unnoticed.
            o.error = "--record wants the name of a CSV file, not an empty one";
            return o;
        }
    for (const QString& v : parser.p.values(parser.port)) {
        const int eq = int(v.indexOf('='));
        bool ok = false;
        const int n = eq > 0 ? v.left(eq).toInt(&ok) : 0;
        if (!ok || n < 1 || n > 255 || eq + 1 >= v.size()) {
            o.error = "--port wants N=PATH with N from 1 to 255, not \"" + v.toStdString() + "\"";
            return o;
        }
        o.ports.emplace_back(n, v.mid(eq + 1).toStdString());
    }
    return o;
}

namespace {
std::string pendingShot; // taken when the panel is shown, if it was not shown in time

bool saveShot(QWidget* w, const std::string& path) {
    // Written as every other output: a device or FIFO is refused, never opened.
    const char* what = "";
    if (ExaminePath(path.c_str(), &what) == PathKind::NotAFile) {
        std::fprintf(stderr, "varno: cannot save %s: it is %s, not a regular file\n", path.c_str(),
                     what);
        return false;
    }
    QByteArray format = QFileInfo(QString::fromStdString(path)).suffix().toUpper().toLatin1();
    if (format.isEmpty()) format = "PNG";
    QByteArray picture;
    QBuffer buffer(&picture);
    if (buffer.open(QIODevice::WriteOnly) && w->grab().save(&buffer, format.constData()) &&
        WriteWholeFile(path.c_str(), picture.constData(), std::size_t(picture.size())) == FILE_OK)
        return true;
    std::fprintf(stderr, "varno: cannot save %s\n", path.c_str());
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
