// Starting the engine with a display (the QApplication), for programs with panels.
#include "internal_ui.h"
#include "log.h"
#include "runtime.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <cstdio>
#include <string>

namespace runtime {

namespace detail {
QApplication* theApp = nullptr;
}

using detail::theApp;

namespace {

// A pop-up still open (a report, a help text, a file dialog) would hold the program in
// its own loop after its window has gone: on quitting it closes, as if cancelled.
void closeDialogs() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
            QTimer::singleShot(0, dialog, &QDialog::reject);
}

} // namespace

int InitRuntime(int* argc, char** argv) {
    detail::WriteErrorsInsteadOfSignals();
    if (QCoreApplication::instance()) {
        theApp = qobject_cast<QApplication*>(QCoreApplication::instance());
        detail::StartClock();
        if (theApp) detail::quitHook = closeDialogs;
        return theApp ? 0 : -1;
    }
    // Without a display Qt would abort; end with a clear message and -1 instead.
    std::string why;
    if (!detail::DisplayReachable(*argc, argv, why)) {
        log::WarningF(log::Panel, "varno: %s", why.c_str());
        return -1;
    }
    theApp = new QApplication(*argc, argv);
    detail::StartClock();
    detail::quitHook = closeDialogs;
    return 0;
}

} // namespace runtime
