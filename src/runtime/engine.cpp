// Starting the engine (the QApplication) and the program's folder.
#include "internal.h"
#include "runtime.h"

#include <QApplication>
#include <QElapsedTimer>

#include <csignal>
#include <cstdio>
#include <string>

namespace runtime {

namespace detail {
QApplication* theApp = nullptr;
}

using detail::theApp;

namespace {

// A file grown past the size limit of the process (ulimit -f) is a failed write the
// program reports, as a full disk is, rather than a signal that ends it with the last
// row cut short.
void writeErrorsInsteadOfSignals() {
#if defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

} // namespace

int InitRuntime(int* argc, char** argv) {
    writeErrorsInsteadOfSignals();
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
    writeErrorsInsteadOfSignals();
    if (!QCoreApplication::instance()) new QCoreApplication(*argc, argv);
    detail::StartClock();
    return 0;
}

bool RuntimeReady() {
    return QCoreApplication::instance() != nullptr;
}

} // namespace runtime
