// The logger: categories, the handler and the trace switch.
#include "log.h"

#include "log_categories.h"

#include <QByteArray>
#include <QString>

#include <cstdarg>
#include <cstring>
#include <vector>

Q_LOGGING_CATEGORY(lcLink, "varno.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPort, "varno.port", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRecord, "varno.record", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCli, "varno.cli", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPanel, "varno.panel", QtInfoMsg)

namespace runtime::log {

namespace {

bool installed = false;
std::FILE* sinkFile = nullptr; // null: stderr
QtMessageHandler previous = nullptr;

const QLoggingCategory& cat(Category c) {
    switch (c) {
    case Link:
        return lcLink();
    case Port:
        return lcPort();
    case Record:
        return lcRecord();
    case Cli:
        return lcCli();
    case Panel:
        break;
    }
    return lcPanel();
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category ? context.category : "";
    if (std::strncmp(category, "varno.", 6) != 0) {
        if (previous)
            previous(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(message));
        return;
    }
    std::FILE* out = sinkFile ? sinkFile : stderr;
    const QByteArray text = message.toUtf8();
    if (type == QtDebugMsg)
        std::fprintf(out, "%s: %s\n", category, text.constData());
    else
        std::fprintf(out, "%s\n", text.constData());
    std::fflush(out);
}

} // namespace

void Install() {
    if (installed) return;
    installed = true;
    previous = qInstallMessageHandler(handler);
}

std::FILE* SetSink(std::FILE* sink) {
    std::FILE* old = sinkFile ? sinkFile : stderr;
    sinkFile = sink;
    return old;
}

void EnableTrace() {
    QLoggingCategory::setFilterRules(QStringLiteral("varno.link.debug=true"));
}

bool DebugOn(Category category) {
    return cat(category).isDebugEnabled();
}

void Debug(Category category, const std::string& text) {
    const QLoggingCategory& c = cat(category);
    if (c.isDebugEnabled())
        QMessageLogger(nullptr, 0, nullptr, c.categoryName()).debug("%s", text.c_str());
}

void Info(Category category, const std::string& text) {
    const QLoggingCategory& c = cat(category);
    if (c.isInfoEnabled())
        QMessageLogger(nullptr, 0, nullptr, c.categoryName()).info("%s", text.c_str());
}

void Warning(Category category, const std::string& text) {
    const QLoggingCategory& c = cat(category);
    if (c.isWarningEnabled())
        QMessageLogger(nullptr, 0, nullptr, c.categoryName()).warning("%s", text.c_str());
}

void WarningF(Category category, const char* format, ...) {
    if (!cat(category).isWarningEnabled()) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(n > 0 ? std::size_t(n) + 1 : 1, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    Warning(category, text.data());
}

} // namespace runtime::log
