// varno-gateway: the engine without a display, the options, then the event loop until
// SIGTERM, SIGINT or SIGHUP (all three end it cleanly: offline published, exit 0).
#include "gateway/gateway.h"
#include "gateway/payloads.h"
#include "gateway/options.h"
#include "runtime/claims.h"
#include "runtime/endpoint.h"
#include "runtime/log.h"
#include "runtime/runtime.h"
#include "sensor/port_arg.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#ifndef VARNO_VERSION
#define VARNO_VERSION "3.0"
#endif

Q_DECLARE_LOGGING_CATEGORY(lcGateway)

namespace {

int signalPipe[2] = {-1, -1};
gateway::Poller* thePoller = nullptr;

void onSignal(int) {
    const char b = 1;
    (void)!::write(signalPipe[1], &b, 1);
}

void onPortEvent(int port, int event) {
    if (thePoller) thePoller->portEvent(port, event);
}

// The sensor's port and its id in the topics.
struct Sensor {
    int port = 1;
    std::string portName; // as the operator named it: a path, or COMn
    std::string device;   // the device it opens
    std::string id;
};

// A path stands for port 1, as in varno-cli. False, having said why, when the id made from
// the port's name is one the topics use themselves.
bool findSensor(const gateway::Options& o, Sensor& s) {
    s.port = sensor::PortNumber(o.port);
    s.portName = o.port;
    if (s.port == 0) {
        s.port = 1;
        runtime::BindSerialDevice(s.port, o.port.c_str());
    } else {
        s.portName = "COM" + std::to_string(s.port);
    }
    s.device = runtime::PortDeviceName(s.port);
    s.id = o.sensor;
    if (!s.id.empty()) return true;
    s.id = s.device.empty() ? s.portName : gateway::SensorIdFor(s.device);
    if (!gateway::ReservedSensorId(s.id)) return true;
    std::fprintf(stderr,
                 "varno-gateway: the port %s gives the sensor id \"%s\", a name the topics "
                 "themselves use: give it one with --sensor\n",
                 s.portName.c_str(), s.id.c_str());
    return false;
}

// One gateway per topic root and broker on this machine: two port names that give the same
// sensor id ("s.1" and "s 1") would otherwise take each other's topics. The claim's note
// names the device, so that a program refused the port can name the gateway that holds it.
bool claimTopics(const gateway::Options& o, const Sensor& s, const std::string& base) {
    std::string holder;
    bool held = false;
    const std::string claim =
        "varno-gateway:" + o.host + ":" + std::to_string(o.brokerPort) + "/" + base;
    const std::string note = "pid " + std::to_string(::getpid()) + ", port " + s.portName +
                             ", sensor " + s.id + ", topics " + base + ", device " + s.device;
    if (runtime::ClaimName(claim, note, holder, held)) return true;
    if (!held) {
        qCWarning(lcGateway, "varno-gateway: cannot check for a second gateway: %s",
                  holder.c_str());
        return true;
    }
    std::fprintf(stderr,
                 "varno-gateway: another varno-gateway already publishes %s on this broker "
                 "(%s)%s\n",
                 base.c_str(), holder.c_str(),
                 o.sensor.empty() ? "; the sensor id was made from the port's name: give each "
                                    "gateway its own --sensor"
                                  : "");
    return false;
}

// The broker connection's settings. False, having said why, when the password file
// cannot be read.
bool brokerSettings(const gateway::Options& o, const std::string& sensorId,
                    const std::string& base, gateway::BrokerSettings& b) {
    std::string error;
    if (!gateway::BrokerSettingsFrom(o, b, error)) {
        std::fprintf(stderr, "varno-gateway: %s\n", error.c_str());
        return false;
    }
    // The topic root names the client: two roots never share an id ("a/b" + "s1" and "a-b" +
    // "s1" did once), so two gateways never knock each other off the broker.
    b.clientId = "varno-gateway/" + o.prefix + "/" + sensorId;
    b.willTopic = base + "status";
    b.subscribe = base + "cmd/+";
    return true;
}

// SIGTERM, SIGINT and SIGHUP reach the event loop through a pipe; a second one ends at
// once, unless a write is on the line: its reply and audit are waited for.
bool installSignals(gateway::Gateway& gw, QSocketNotifier*& notifier) {
    if (::pipe(signalPipe) != 0) return false;
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read);
    static int received = 0;
    QObject::connect(notifier, &QSocketNotifier::activated, [&gw] {
        char b[16];
        (void)!::read(signalPipe[0], b, sizeof b);
        if (++received > 1) {
            if (!gw.poller().writing()) std::_Exit(gateway::ExitDone);
            qCWarning(lcGateway, "varno-gateway: a write is on the line: stopping after its "
                                 "read-back");
            return;
        }
        gw.shutdown(gateway::ExitDone, [](int code) { QCoreApplication::exit(code); });
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    static int engineArgc = 1;
    runtime::InitRuntimeNoDisplay(&engineArgc, argv);
    runtime::log::Install();
    runtime::SetSerialStderrReports(false); // the gateway says it in its own words

    gateway::Options o;
    std::string error;
    if (const int rc = gateway::ParseArgs(argc, argv, o, error); rc != gateway::ExitDone) {
        std::fprintf(stderr, "varno-gateway: %s\n(varno-gateway --help lists the options)\n",
                     error.c_str());
        return rc;
    }
    if (o.help) {
        std::fputs(gateway::HelpText(), stdout);
        return gateway::ExitDone;
    }
    if (o.version) {
        std::printf("varno-gateway (VARNO-Redev) %s\n", VARNO_VERSION);
        return gateway::ExitDone;
    }
    if (o.trace) runtime::log::EnableTrace();

    Sensor s;
    if (!findSensor(o, s)) return gateway::ExitConfig;
    const std::string base = o.prefix + "/" + s.id + "/";
    if (!claimTopics(o, s, base)) return gateway::ExitConfig;
    gateway::BrokerSettings b;
    if (!brokerSettings(o, s.id, base, b)) return gateway::ExitConfig;

    gateway::Gateway gw(o, b, s.port, s.portName, s.id);
    gw.setMeta(gateway::MetaPayload(VARNO_VERSION, s.id, s.portName,
                                    o.allowWrite != gateway::WriteAllow::None,
                                    o.allowWrite == gateway::WriteAllow::Eeprom));
    thePoller = &gw.poller();
    runtime::InstallPortEventCallback(onPortEvent);
    QSocketNotifier* sig = nullptr;
    if (!installSignals(gw, sig)) return gateway::ExitConfig;

    qCInfo(lcGateway, "varno-gateway: %s, topics %s#, broker %s", s.portName.c_str(),
           base.c_str(), o.broker.c_str());
    gw.start();
    const int rc = QCoreApplication::exec();
    delete sig;
    thePoller = nullptr;
    runtime::InstallPortEventCallback(nullptr);
    return rc;
}
