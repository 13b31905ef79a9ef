#include "startup.h"

#include "runtime.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace runtime {

const char* UsageText() {
    return "Usage: varno [options] [Qt options]\n"
           "Operator program for the VARNO optical edge-counting sensor on an RS-232 line.\n"
           "\n"
           "Options:\n"
           "  --port N=PATH      use device PATH as COM port number N (repeatable;\n"
           "                     a pseudo-terminal path works)\n"
           "  --simulate         put the built-in simulated sensor on COM1 (unless\n"
           "                     --port 1=... is given)\n"
           "  --screenshot FILE  save a picture of the panel once it is shown, then quit\n"
           "  --record FILE      record the live data into the CSV file FILE (added to)\n"
           "  --help             show this text and exit\n"
           "  --version          show the version and exit\n"
           "\n"
           "Qt's own options pass through, for example: -platform offscreen\n";
}

StartupOptions ParseStartupOptions(int argc, char** argv) {
    StartupOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0) continue;
        auto value = [&](const char* name) -> std::string {
            const std::string prefix = std::string(name) + "=";
            if (a.rfind(prefix, 0) == 0) return a.substr(prefix.size());
            if (i + 1 < argc) return argv[++i];
            o.error = std::string(name) + " needs a value";
            return {};
        };
        if (a == "--help") o.help = true;
        else if (a == "--version") o.version = true;
        else if (a == "--simulate") o.simulate = true;
        else if (a == "--screenshot" || a.rfind("--screenshot=", 0) == 0) o.screenshot = value("--screenshot");
        else if (a == "--record" || a.rfind("--record=", 0) == 0) o.record = value("--record");
        else if (a == "--port" || a.rfind("--port=", 0) == 0) {
            const std::string v = value("--port");
            const auto eq = v.find('=');
            char* end = nullptr;
            const long n = eq == std::string::npos ? 0 : std::strtol(v.c_str(), &end, 10);
            if (eq == std::string::npos || end != v.c_str() + eq || n < 1 || n > 255 ||
                eq + 1 >= v.size()) {
                o.error = "--port wants N=PATH with N from 1 to 255, not \"" + v + "\"";
            } else {
                o.ports.emplace_back(int(n), v.substr(eq + 1));
            }
        } else {
            o.error = "unknown option " + a;
        }
        if (!o.error.empty()) break;
    }
    return o;
}

void ScheduleScreenshot(const std::string& path, int delayMs) {
    auto* t = new QTimer(QCoreApplication::instance());
    t->setSingleShot(true);
    QObject::connect(t, &QTimer::timeout, [path] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || !w->property("resourceId").isValid()) continue;
            const QPixmap pm = w->grab();
            if (!pm.save(QString::fromStdString(path)))
                std::fprintf(stderr, "varno: cannot save %s\n", path.c_str());
            break;
        }
        QuitUserInterface(0);
    });
    t->start(delayMs);
}

} // namespace runtime
