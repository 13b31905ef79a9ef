// The program's logging categories, for code that knows Qt (see log.h).
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)   // varno.link
Q_DECLARE_LOGGING_CATEGORY(lcPort)   // varno.port
Q_DECLARE_LOGGING_CATEGORY(lcRecord) // varno.record
Q_DECLARE_LOGGING_CATEGORY(lcCli)    // varno.cli
Q_DECLARE_LOGGING_CATEGORY(lcPanel)  // varno.panel
