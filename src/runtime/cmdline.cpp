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

Args::Args(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        argv_.emplace_back(argv[i] ? argv[i] : "");
}

bool Args::next(Arg& a) {
    if (i_ >= argv_.size()) return false;
    a = Arg{};
    a.given = argv_[i_++];
    const std::string& g = a.given;
    if (words_ || g.size() < 2 || g[0] != '-') {
        a.name = g;
        return true;
    }
    a.dashes = g[1] == '-' ? 2 : 1;
    a.name = g.substr(std::size_t(a.dashes));
    if (const auto eq = a.name.find('='); eq != std::string::npos) {
        a.inlineValue = true;
        a.value = a.name.substr(eq + 1);
        a.name.erase(eq);
    }
    if (g == "--") words_ = true;
    return true;
}

bool Args::takeValue(Arg& a) {
    if (a.inlineValue) return true;
    if (i_ >= argv_.size()) return false;
    a.value = argv_[i_++];
    return true;
}

namespace {

bool listed(const char* const* names, std::size_t n, const std::string& name) {
    for (std::size_t i = 0; i < n; ++i)
        if (name == names[i]) return true;
    return false;
}

} // namespace

// Qt's way: single-dash words are long options; Qt's own options pass over; "--" ends the
// options; the messages are QCommandLineParser's.
CommandLine ParseCommandLine(const std::vector<OptionSpec>& options, int argc, char** argv) {
    CommandLine cl;
    Args args(argc, argv);
    Arg a;
    while (args.next(a)) {
        if (a.dashes == 0) {
            cl.positional.push_back(a.given);
            continue;
        }
        if (a.given == "--") continue;
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& o : options)
            for (const std::string& n : o.names)
                if (n == a.name) spec = &o;
        const std::size_t nv = sizeof qtValueOptions / sizeof qtValueOptions[0];
        const std::size_t nf = sizeof qtFlagOptions / sizeof qtFlagOptions[0];
        const bool qtValue = !spec && listed(qtValueOptions, nv, a.name);
        const bool qtFlag = !spec && listed(qtFlagOptions, nf, a.name);
        if (!spec && !qtValue && !qtFlag) {
            if (cl.unknownOption.empty()) cl.unknownOption = a.name;
            continue;
        }
        const bool wantsValue = spec ? !spec->valueName.empty() : qtValue;
        const std::string shown = a.given.substr(0, a.given.find('='));
        if (!wantsValue && a.inlineValue) {
            if (cl.errorText.empty()) cl.errorText = "Unexpected value after '" + shown + "'.";
            continue;
        }
        if (wantsValue && !args.takeValue(a)) {
            if (cl.errorText.empty()) cl.errorText = "Missing value after '" + shown + "'.";
            continue;
        }
        if (!spec) continue; // Qt's own: the engine reads it
        for (const std::string& n : spec->names)
            cl.uses[n].push_back(wantsValue ? a.value : std::string());
    }
    // As QCommandLineParser: an unknown option is the fault named first.
    cl.ok = cl.unknownOption.empty() && cl.errorText.empty();
    if (!cl.unknownOption.empty()) cl.errorText.clear();
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
