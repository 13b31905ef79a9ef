// Starting the engine without a display: serial ports, the event pump, time and files.
#include "internal.h"
#include "runtime.h"

#include <QCoreApplication>

#include <csignal>

namespace runtime {

namespace detail {

// A file grown past the size limit of the process (ulimit -f) is a failed write the
// program reports, as a full disk is, rather than a signal that ends it with the last
// row cut short.
void WriteErrorsInsteadOfSignals() {
#if defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

} // namespace detail

int InitRuntimeNoDisplay(int* argc, char** argv) {
    detail::WriteErrorsInsteadOfSignals();
    if (!QCoreApplication::instance()) new QCoreApplication(*argc, argv);
    detail::StartClock();
    return 0;
}

bool RuntimeReady() {
    return QCoreApplication::instance() != nullptr;
}

} // namespace runtime
