// Starting the engine (the QApplication) and the program's folder.
#include "internal.h"
#include "runtime.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <string>

namespace runtime {

namespace detail {
QApplication* theApp = nullptr;
}

using detail::theApp;

int InitRuntime(int* argc, char** argv) {
    if (QCoreApplication::instance()) {
        theApp = qobject_cast<QApplication*>(QCoreApplication::instance());
        detail::StartClock();
        return theApp ? 0 : -1;
    }
    // Without a display Qt would abort; end with a clear message and -1 instead.
    std::string why;
    if (!detail::DisplayReachable(*argc, argv, why)) {
        std::fprintf(stderr, "varno: %s\n", why.c_str());
        return -1;
    }
    theApp = new QApplication(*argc, argv);
    detail::StartClock();
    return 0;
}

int InitRuntimeNoDisplay(int* argc, char** argv) {
    if (!QCoreApplication::instance()) new QCoreApplication(*argc, argv);
    detail::StartClock();
    return 0;
}

bool RuntimeReady() {
    return QCoreApplication::instance() != nullptr;
}

} // namespace runtime
