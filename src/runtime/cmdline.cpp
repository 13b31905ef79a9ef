// Command-line options on QCommandLineParser, with Qt's own options passing through.
#include "cmdline.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QStringList>

#include <memory>

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
    std::vector<QCommandLineOption> own;

    Parser(const std::vector<OptionSpec>& options, const char* description) {
        if (description) p.setApplicationDescription(QString::fromUtf8(description));
        p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const OptionSpec& o : options) {
            QStringList names;
            for (const std::string& n : o.names)
                names << QString::fromStdString(n);
            own.emplace_back(names, QString::fromStdString(o.description),
                             QString::fromStdString(o.valueName));
        }
        p.addOptions(QList<QCommandLineOption>(own.begin(), own.end()));
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

std::string CommandLine::value(const std::string& name) const {
    auto it = uses.find(name);
    return it == uses.end() || it->second.empty() ? std::string() : it->second.back();
}

std::vector<std::string> CommandLine::values(const std::string& name) const {
    auto it = uses.find(name);
    return it == uses.end() ? std::vector<std::string>{} : it->second;
}

CommandLine ParseCommandLine(const std::vector<OptionSpec>& options, int argc, char** argv) {
    CommandLine cl;
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty()) args << "program";
    Parser parser(options, nullptr);
    if (!parser.p.parse(args)) {
        const QStringList unknown = parser.p.unknownOptionNames();
        if (!unknown.isEmpty())
            cl.unknownOption = unknown.first().toStdString();
        else
            cl.errorText = parser.p.errorText().toStdString();
        return cl;
    }
    cl.ok = true;
    for (const QString& a : parser.p.positionalArguments())
        cl.positional.push_back(a.toStdString());
    for (std::size_t i = 0; i < options.size(); ++i) {
        const QCommandLineOption& o = parser.own[i];
        if (!parser.p.isSet(o)) continue;
        std::vector<std::string> given;
        if (o.valueName().isEmpty())
            given.emplace_back();
        else
            for (const QString& v : parser.p.values(o))
                given.push_back(v.toStdString());
        for (const std::string& n : options[i].names)
            cl.uses[n] = given;
    }
    return cl;
}

std::string CommandLineHelp(const std::vector<OptionSpec>& options, const char* program,
                            const char* description) {
    Parser parser(options, description);
    QString h = parser.p.helpText();
    h.replace(QRegularExpression("^Usage: \\S+"), QString("Usage: ") + program);
    h.replace(QRegularExpression("<([A-Z=]+)>"), "\\1");
    return h.toStdString();
}

} // namespace runtime
