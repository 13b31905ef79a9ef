// Finds out, before Qt starts, whether a display can be reached: Qt aborts the program
// when its platform plug-in is missing or the display does not answer.
#include "internal_ui.h"

#include <QByteArray>
#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <string>

#if defined(Q_OS_LINUX)
#include <dlfcn.h>
#endif

namespace runtime::detail {

namespace {

std::string platformArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strncmp(a, "--", 2) == 0) ++a;
        if (std::strcmp(a, "-platform") == 0 && i + 1 < argc) return argv[i + 1];
        if (std::strncmp(a, "-platform=", 10) == 0) return a + 10;
    }
    return {};
}

std::string displayArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strncmp(a, "--", 2) == 0) ++a;
        if (std::strcmp(a, "-display") == 0 && i + 1 < argc) return argv[i + 1];
    }
    return {};
}

bool pluginExists(const QString& name) {
    QStringList dirs;
    const QByteArray extra = qgetenv("QT_PLUGIN_PATH");
    for (const QString& d :
         QString::fromLocal8Bit(extra).split(QDir::listSeparator(), Qt::SkipEmptyParts))
        dirs << d;
    dirs << QLibraryInfo::path(QLibraryInfo::PluginsPath);
    for (const QString& d : dirs) {
        const QDir platforms(d + "/platforms");
        const QStringList found =
            platforms.entryList({"libq" + name + ".so", "q" + name + ".dll", "q" + name + "d.dll",
                                 "libq" + name + ".dylib"},
                                QDir::Files);
        if (!found.isEmpty()) return true;
    }
    return false;
}

// Opens and closes a connection to the X server, as the xcb plug-in would.
bool xReachable(const std::string& display) {
#if defined(Q_OS_LINUX)
    void* lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return true; // cannot tell: let Qt try
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(lib, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(lib, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(lib, "xcb_disconnect"));
    bool ok = true;
    if (connect && hasError && disconnect) {
        void* c = connect(display.empty() ? nullptr : display.c_str(), nullptr);
        ok = c && hasError(c) == 0;
        if (c) disconnect(c);
    }
    dlclose(lib);
    return ok;
#else
    (void)display;
    return true;
#endif
}

} // namespace

bool DisplayReachable(int argc, char** argv, std::string& why) {
#if defined(Q_OS_LINUX)
    std::string spec = platformArgument(argc, argv);
    if (spec.empty()) spec = qEnvironmentVariable("QT_QPA_PLATFORM").toStdString();
    std::string display = displayArgument(argc, argv);
    if (display.empty()) display = qEnvironmentVariable("DISPLAY").toStdString();
    if (spec.empty()) {
        if (display.empty() && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            why = "no display found (set DISPLAY, or run with -platform offscreen)";
            return false;
        }
        spec = display.empty() ? "wayland" : "xcb";
    }
    // "name:options", and "a;b" lists where Qt takes the first that works.
    std::string reasons;
    for (const QString& item : QString::fromStdString(spec).split(';', Qt::SkipEmptyParts)) {
        const QString name = item.section(':', 0, 0).trimmed();
        if (!pluginExists(name)) {
            reasons += (reasons.empty() ? "" : "; ") +
                       ("no display platform \"" + name.toStdString() + "\" is installed");
            continue;
        }
        if (name == "xcb" && (display.empty() || !xReachable(display))) {
            reasons += (reasons.empty() ? "" : "; ") +
                       (display.empty() ? std::string("DISPLAY is not set")
                                        : "the X display " + display + " does not answer");
            continue;
        }
        if (name == "wayland" && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            reasons += (reasons.empty() ? "" : "; ") + std::string("WAYLAND_DISPLAY is not set");
            continue;
        }
        return true;
    }
    why = "no display can be reached: " + reasons;
    return false;
#else
    (void)argc;
    (void)argv;
    (void)why;
    return true;
#endif
}

} // namespace runtime::detail
