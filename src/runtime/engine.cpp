// Starting the engine without a display: serial ports, the event pump, time and files.
#include "internal.h"
#include "runtime.h"

#include <QCoreApplication>

namespace runtime {

int InitRuntimeNoDisplay(int* argc, char** argv) {
    if (!QCoreApplication::instance()) new QCoreApplication(*argc, argv);
    detail::StartClock();
    return 0;
}

bool RuntimeReady() {
    return QCoreApplication::instance() != nullptr;
}

} // namespace runtime
