// varno-gateway's command line and config file.
#include "options.h"

#include "runtime/cmdline.h"
#include "runtime/runtime.h"
#include "sensor/port_arg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>

Q_DECLARE_LOGGING_CATEGORY(lcGateway)

namespace gateway {

const char* HelpText() {
    return "Usage: varno-gateway [OPTIONS]\n"
           "Publishes one sensor's state, parameters and live records to an MQTT broker and\n"
           "runs the commands sent to it (read, write, jumpbuf, check). One gateway per\n"
           "sensor port, each with its own MQTT connection and last will.\n"
           "\n"
           "Options (also in a config file, --config FILE, one \"name value\" a line):\n"
           "  --port PATH|N          the sensor's port: a device path or a COM number as\n"
           "                         the panel numbers them. Default: COM1\n"
           "  --broker URL           mqtt://host[:port] or mqtts://host[:port] (TLS).\n"
           "                         Default: mqtt://localhost:1883 (8883 for mqtts)\n"
           "  --prefix P             topics are P/SENSOR/... Default: varno\n"
           "  --sensor ID            the sensor's name in the topics (letters, digits, - and\n"
           "                         _). Default: from the port, its /dev/serial/by-id name\n"
           "                         or device name\n"
           "  --allow-write none|ram|eeprom\n"
           "                         which writes cmd/write may make; eeprom allows ram too.\n"
           "                         Default: none\n"
           "  --username U           the broker account\n"
           "  --password-file F      its password, the first line of F (never on the\n"
           "                         command line)\n"
           "  --cafile F, --cert F, --key F\n"
           "                         TLS: the CA to trust, the client certificate and key\n"
           "  --keepalive S          MQTT keepalive in seconds (5 to 3600). A broker that\n"
           "                         stops answering is noticed within 1.5 x S. Default: 10\n"
           "  --buffer N             live records kept while the broker is away, the oldest\n"
           "                         dropped beyond (counted in status). Default: 36000\n"
           "  --config FILE          read the options from FILE first\n"
           "  --trace                every frame sent and byte received, in hex, on stderr\n"
           "  --help                 show this text and exit\n"
           "  --version              show the version and exit\n"
           "\n"
           "Topics under PREFIX/SENSOR/: status (retained), params (retained), live, reply,\n"
           "audit; commands on cmd/read, cmd/write, cmd/jumpbuf, cmd/check.\n"
           "\n"
           "Exit codes:\n"
           "  0  stopped by SIGTERM or SIGINT (offline status published first)\n"
           "  2  usage: unknown option, missing or wrong value\n"
           "  4  a file, port or configuration error that retrying cannot mend\n"
           "A sensor or broker that is not there yet is waited for.\n";
}

namespace {

bool wholeNumber(const std::string& v, long lo, long hi, long& out) {
    if (v.empty() || v.size() > 12) return false;
    for (char c : v)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    out = std::strtol(v.c_str(), nullptr, 10);
    return out >= lo && out <= hi;
}

// A port given as COM3, 3 or a path, as every program reads it.
bool validPort(const std::string& v) {
    return sensor::PortNumber(v) >= 0;
}

bool validUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size())).toUtf8() ==
           QByteArray(s.data(), qsizetype(s.size()));
}

// A bool's spellings, as the config file takes them.
bool boolValue(const std::string& v, bool& out) {
    if (v.empty() || v == "true" || v == "yes" || v == "1")
        out = true;
    else if (v == "false" || v == "no" || v == "0")
        out = false;
    else
        return false;
    return true;
}

// Applies one option; `error` set when its value is wrong.
void apply(const std::string& name, const std::string& v, Options& o, std::string& error) {
    long n = 0;
    if (name == "port") {
        if (!validPort(v))
            error = "--port wants a device path or a COM number from 1 to 255, not \"" + v + "\"";
        o.port = v;
    } else if (ApplyBrokerOption(name, v, o, error)) {
        // the broker's: --broker, --prefix, --username, --password-file, --cafile, --cert, --key
    } else if (name == "sensor") {
        if (!ValidSensorId(v))
            error = "--sensor wants letters, digits, - and _ only, not \"" + v + "\"";
        else if (ReservedSensorId(v))
            error = "--sensor " + v + " is a name the topics themselves use: choose another";
        o.sensor = v;
    } else if (name == "allow-write") {
        if (v == "none")
            o.allowWrite = WriteAllow::None;
        else if (v == "ram")
            o.allowWrite = WriteAllow::Ram;
        else if (v == "eeprom")
            o.allowWrite = WriteAllow::Eeprom;
        else
            error = "--allow-write wants none, ram or eeprom, not \"" + v + "\"";
    } else if (name == "keepalive") {
        if (!wholeNumber(v, 5, 3600, n))
            error = "--keepalive wants whole seconds from 5 to 3600, not \"" + v + "\"";
        o.keepalive = int(n);
    } else if (name == "buffer") {
        if (!wholeNumber(v, 1, 10000000, n))
            error = "--buffer wants a number of records from 1 to 10000000, not \"" + v + "\"";
        o.buffer = n;
    } else {
        error = "unknown option --" + name;
    }
}

constexpr const char* valued[] = {"port",        "broker",   "prefix",        "sensor",
                                  "allow-write", "username", "password-file", "cafile",
                                  "cert",        "key",      "keepalive",     "buffer"};

bool takesValue(const std::string& name) {
    for (const char* v : valued)
        if (name == v) return true;
    return name == "config";
}

// Reads the config file into `o`: "name value", "name=value" or "name = value" a line,
// '#' starting a comment, names with or without "--".
constexpr std::size_t maxLine = 4096;         // bytes of a config file's line
constexpr qint64 maxConfig = 1024 * 1024;       // bytes of a config file

int readConfig(const std::string& path, Options& o, std::string& error) {
    // What the path names is looked at first: a FIFO would hold the opening, a folder
    // reads as empty.
    const char* what = "";
    if (runtime::ExaminePath(path.c_str(), &what) != runtime::PathKind::RegularFile) {
        error = "the config file " + path + " is " + what + ", not a regular file";
        return ExitConfig;
    }
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "the config file " + path + " cannot be read: " + file.errorString().toStdString();
        return ExitConfig;
    }
    const QByteArray all = file.read(maxConfig + 1);
    if (all.size() > maxConfig) {
        error = "the config file " + path + " is larger than 1 MiB";
        return ExitConfig;
    }
    std::istringstream in(all.toStdString());
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.find('\0') != std::string::npos) {
            error = path + " line " + std::to_string(number) + ": holds a NUL byte";
            return ExitConfig;
        }
        if (line.size() > maxLine) {
            error = path + " line " + std::to_string(number) + ": longer than " +
                    std::to_string(maxLine) + " bytes";
            return ExitConfig;
        }
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        auto trim = [](std::string s) {
            const auto b = s.find_first_not_of(" \t\r");
            if (b == std::string::npos) return std::string();
            return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
        };
        line = trim(line);
        if (line.empty()) continue;
        std::string name, value;
        const auto sep = line.find_first_of(" \t=");
        name = line.substr(0, sep);
        if (sep != std::string::npos) value = trim(line.substr(sep + 1));
        if (!value.empty() && value[0] == '=') value = trim(value.substr(1));
        if (name.rfind("--", 0) == 0) name = name.substr(2);
        const std::string where = path + " line " + std::to_string(number) + ": ";
        if (name == "trace") {
            if (!boolValue(value, o.trace)) {
                error = where + "trace wants true or false";
                return ExitConfig;
            }
            continue;
        }
        if (!takesValue(name) || name == "config") {
            error = where + "unknown option \"" + name + "\"";
            return ExitConfig;
        }
        if (value.empty()) {
            error = where + name + " needs a value";
            return ExitConfig;
        }
        apply(name, value, o, error);
        if (!error.empty()) {
            error = where + error;
            return ExitConfig;
        }
    }
    return ExitDone;
}

} // namespace

// A topic path a broker takes: UTF-8 without control characters, no wildcard, no empty
// level, and not one of the broker's own ($SYS/...).
bool ValidPrefix(const std::string& p) {
    if (p.empty() || p.front() == '/' || p.back() == '/' || p.size() > 200) return false;
    if (p.front() == '$' || !validUtf8(p)) return false;
    for (unsigned char c : p)
        if (c == '+' || c == '#' || c < 0x20 || c == 0x7F) return false;
    return p.find("//") == std::string::npos;
}

bool ApplyBrokerOption(const std::string& name, const std::string& v, Options& o,
                       std::string& error) {
    if (name == "broker") {
        o.broker = v;
        ParseBrokerUrl(v, o, error);
    } else if (name == "prefix") {
        if (!ValidPrefix(v))
            error = "--prefix wants a topic level or path without +, # or empty levels, not \"" +
                    v + "\"";
        o.prefix = v;
    } else if (name == "username") {
        o.username = v;
    } else if (name == "password-file") {
        o.passwordFile = v;
    } else if (name == "cafile") {
        o.cafile = v;
    } else if (name == "cert") {
        o.cert = v;
    } else if (name == "key") {
        o.key = v;
    } else {
        return false;
    }
    return true;
}

bool CheckBrokerOptions(const Options& o, std::string& error) {
    if (!o.passwordFile.empty() && o.username.empty())
        error = "--password-file goes with --username";
    else if (!o.tls && !(o.cafile.empty() && o.cert.empty() && o.key.empty()))
        error = "--cafile, --cert and --key go with an mqtts:// broker";
    else if (o.cert.empty() != o.key.empty())
        error = "--cert and --key go together";
    return error.empty();
}

bool BrokerSettingsFrom(const Options& o, BrokerSettings& b, std::string& error) {
    b.host = o.host;
    b.port = o.brokerPort;
    b.tls = o.tls;
    b.cafile = o.cafile;
    b.cert = o.cert;
    b.key = o.key;
    b.username = o.username;
    b.keepalive = o.keepalive;
    if (o.passwordFile.empty()) return true;
    if (!ReadPasswordFile(o.passwordFile, b.password, error)) return false;
    if (struct stat st {}; ::stat(o.passwordFile.c_str(), &st) == 0 && (st.st_mode & S_IROTH))
        qCWarning(lcGateway,
                  "%s: the password file %s can be read by everyone on this machine (chmod 600 "
                  "%s)",
                  QCoreApplication::applicationName().toUtf8().constData(),
                  o.passwordFile.c_str(), o.passwordFile.c_str());
    return true;
}

bool ParseBrokerUrl(const std::string& url, Options& o, std::string& error) {
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        o.tls = false;
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        o.tls = true;
        rest = url.substr(8);
    } else {
        error = "--broker wants mqtt://host[:port] or mqtts://host[:port], not \"" + url + "\"";
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find('@') != std::string::npos) {
        error = "--broker takes no account in the URL: use --username and --password-file";
        return false;
    }
    std::string host = rest, port;
    if (!rest.empty() && rest[0] == '[') { // [::1]:1883
        const auto close = rest.find(']');
        if (close == std::string::npos)
            host.clear();
        else {
            host = rest.substr(1, close - 1);
            if (close + 1 < rest.size()) {
                if (rest[close + 1] != ':') host.clear();
                port = rest.substr(close + 2);
                if (port.empty()) host.clear();
            }
        }
    } else if (const auto colon = rest.find(':'); colon != std::string::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (port.empty()) host.clear();
    }
    long n = o.tls ? 8883 : 1883;
    if (host.empty() || host.find('/') != std::string::npos ||
        (!port.empty() && !wholeNumber(port, 1, 65535, n))) {
        error = "--broker wants mqtt://host[:port] or mqtts://host[:port], not \"" + url + "\"";
        return false;
    }
    o.host = host;
    o.brokerPort = int(n);
    return true;
}

bool ReservedSensorId(const std::string& id) {
    // <prefix>/cmd/... would be read as commands by the gateway of <prefix>'s last level;
    // _line is the line's own topic.
    return id == "cmd" || id == "_line";
}

bool ValidSensorId(const std::string& id) {
    if (id.empty() || id.size() > 128) return false;
    for (unsigned char c : id)
        if (!std::isalnum(c) && c != '-' && c != '_') return false;
    return true;
}

std::string SensorIdFor(const std::string& device) {
    auto reduce = [](const std::string& s) {
        std::string out;
        for (unsigned char c : s)
            if (std::isalnum(c) || c == '-' || c == '_') out += char(c);
        return out.substr(0, 128);
    };
    const QFileInfo info(QString::fromStdString(device));
    if (info.absolutePath() == "/dev/serial/by-id") return reduce(info.fileName().toStdString());
    const QString canon = info.canonicalFilePath();
    if (!canon.isEmpty()) {
        const QDir byId("/dev/serial/by-id");
        for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files))
            if (link.canonicalFilePath() == canon) return reduce(link.fileName().toStdString());
    }
    std::string name =
        device.rfind("/dev/", 0) == 0 ? device.substr(5) : info.fileName().toStdString();
    std::string id = reduce(name);
    return id.empty() ? "sensor" : id;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
        error = "the password file " + path + " cannot be read: " + f.errorString().toStdString();
        return false;
    }
    QByteArray line = f.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    password = line.toStdString();
    return true;
}

namespace {

// The --config file named on the command line (one only), "" when none.
int findConfig(int argc, const char* const* argv, std::string& file, std::string& error) {
    runtime::Args args(argc, argv);
    runtime::Arg a;
    while (args.next(a)) {
        if (a.dashes != 2 || a.name != "config") continue;
        if (!args.takeValue(a)) break; // said when the options are read
        if (a.value.empty()) {
            error = "--config needs a file name";
            return ExitUsage;
        }
        if (!file.empty()) {
            error = "--config is given twice (one config file only)";
            return ExitUsage;
        }
        file = a.value;
    }
    return ExitDone;
}

// Files named must be there, and be what they are named for: retrying cannot mend a
// missing one, and a CA or certificate that is none would fail every TLS handshake.
int checkFiles(const Options& o, std::string& error) {
    struct Named {
        const std::string* path;
        const char* what;   // for the message
        const char* marker; // what a PEM file of its kind holds
    };
    for (const Named& n : {Named{&o.passwordFile, "password file", nullptr},
                           Named{&o.cafile, "CA file", "-----BEGIN CERTIFICATE-----"},
                           Named{&o.cert, "certificate", "-----BEGIN CERTIFICATE-----"},
                           Named{&o.key, "key", "PRIVATE KEY-----"}}) {
        const std::string& f = *n.path;
        if (f.empty()) continue;
        const char* kind = "";
        if (runtime::ExaminePath(f.c_str(), &kind) != runtime::PathKind::RegularFile) {
            error = "the " + std::string(n.what) + " " + f + " is " + kind +
                    ", not a regular file";
            return ExitConfig;
        }
        QFile file(QString::fromStdString(f));
        if (!file.open(QIODevice::ReadOnly)) {
            error = "cannot read " + f + ": " + file.errorString().toStdString();
            return ExitConfig;
        }
        if (n.marker && !file.read(maxConfig).contains(n.marker)) {
            error = "the " + std::string(n.what) + " " + f + " holds no PEM " +
                    (std::strcmp(n.what, "key") == 0 ? "private key" : "certificate") +
                    " (\"" + n.marker + "\" not found)";
            return ExitConfig;
        }
    }
    return ExitDone;
}

} // namespace

int ParseArgs(int argc, const char* const* argv, Options& o, std::string& error) {
    o = Options{};
    error.clear();
    // The config file first, so that the command line wins.
    std::string file;
    if (int rc = findConfig(argc, argv, file, error); rc != ExitDone) return rc;
    if (!file.empty()) {
        o.config = file;
        if (int rc = readConfig(file, o, error); rc != ExitDone) return rc;
    }
    runtime::Args args(argc, argv);
    runtime::Arg a;
    while (args.next(a)) {
        if ((a.given == "--help" || a.given == "-h")) {
            o.help = true;
            return ExitDone;
        }
        if (a.given == "--version") {
            o.version = true;
            return ExitDone;
        }
        if (a.dashes == 2 && a.name == "trace") {
            if (a.inlineValue ? !boolValue(a.value, o.trace) : !boolValue("", o.trace)) {
                error = "--trace wants true or false, not \"" + a.value + "\"";
                return ExitUsage;
            }
            continue;
        }
        if (a.dashes != 2) {
            error = "unexpected argument \"" + a.given + "\" (options start with --)";
            return ExitUsage;
        }
        if (a.name == "password") {
            error = "a password is never given on the command line: use --password-file";
            return ExitUsage;
        }
        if (!takesValue(a.name)) {
            error = "unknown option --" + a.name;
            return ExitUsage;
        }
        if (!args.takeValue(a)) {
            error = "--" + a.name + " needs a value";
            return ExitUsage;
        }
        if (a.name == "config") continue; // read above
        apply(a.name, a.value, o, error);
        if (!error.empty()) return ExitUsage;
    }
    if (!CheckBrokerOptions(o, error)) return o.config.empty() ? ExitUsage : ExitConfig;
    return checkFiles(o, error);
}

} // namespace gateway
