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
#include <sys/stat.h>
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

    // A path stands for port 1, as in varno-cli.
    int port = sensor::PortNumber(o.port);
    std::string portName = o.port;
    if (port == 0) {
        port = 1;
        runtime::BindSerialDevice(port, o.port.c_str());
    } else {
        portName = "COM" + std::to_string(port);
    }
    std::string sensorId = o.sensor;
    if (sensorId.empty()) {
        const std::string device = runtime::PortDeviceName(port);
        sensorId = device.empty() ? portName : gateway::SensorIdFor(device);
        if (gateway::ReservedSensorId(sensorId)) {
            std::fprintf(stderr,
                         "varno-gateway: the port %s gives the sensor id \"%s\", a name the "
                         "topics themselves use: give it one with --sensor\n",
                         portName.c_str(), sensorId.c_str());
            return gateway::ExitConfig;
        }
    }
    const std::string base = o.prefix + "/" + sensorId + "/";
    // One gateway per topic root and broker on this machine: two port names that give the
    // same sensor id ("s.1" and "s 1") would otherwise take each other's topics.
    {
        std::string holder;
        bool held = false;
        const std::string claim = "varno-gateway:" + o.host + ":" + std::to_string(o.brokerPort) +
                                  "/" + base;
        const std::string note = "pid " + std::to_string(::getpid()) + ", port " + portName +
                                 ", sensor " + sensorId + ", topics " + base;
        if (!runtime::ClaimName(claim, note, holder, held)) {
            if (held) {
                std::fprintf(stderr,
                             "varno-gateway: another varno-gateway already publishes %s on "
                             "this broker (%s)%s\n",
                             base.c_str(), holder.c_str(),
                             o.sensor.empty() ? "; the sensor id was made from the port's "
                                                "name: give each gateway its own --sensor"
                                              : "");
                return gateway::ExitConfig;
            }
            qCWarning(lcGateway, "varno-gateway: cannot check for a second gateway: %s",
                      holder.c_str());
        }
    }

    gateway::BrokerSettings b;
    b.host = o.host;
    b.port = o.brokerPort;
    b.tls = o.tls;
    b.cafile = o.cafile;
    b.cert = o.cert;
    b.key = o.key;
    b.username = o.username;
    if (!o.passwordFile.empty() && !gateway::ReadPasswordFile(o.passwordFile, b.password, error)) {
        std::fprintf(stderr, "varno-gateway: %s\n", error.c_str());
        return gateway::ExitConfig;
    }
    if (struct stat st {}; !o.passwordFile.empty() &&
                           ::stat(o.passwordFile.c_str(), &st) == 0 && (st.st_mode & S_IROTH))
        qCWarning(lcGateway,
                  "varno-gateway: the password file %s can be read by everyone on this machine "
                  "(chmod 600 %s)",
                  o.passwordFile.c_str(), o.passwordFile.c_str());
    b.keepalive = o.keepalive;
    // The topic root names the client: two roots never share an id ("a/b" + "s1" and "a-b" +
    // "s1" did once), so two gateways never knock each other off the broker.
    b.clientId = "varno-gateway/" + o.prefix + "/" + sensorId;
    b.willTopic = base + "status";
    b.subscribe = base + "cmd/+";

    gateway::Gateway gw(o, b, port, portName, sensorId);
    gw.setMeta(gateway::MetaPayload(VARNO_VERSION, sensorId, portName,
                                    o.allowWrite != gateway::WriteAllow::None,
                                    o.allowWrite == gateway::WriteAllow::Eeprom));
    thePoller = &gw.poller();
    runtime::InstallPortEventCallback(onPortEvent);

    // SIGTERM, SIGINT and SIGHUP reach the event loop through a pipe; a second one ends at
    // once, unless a write is on the line: its reply and audit are waited for.
    if (::pipe(signalPipe) != 0) return gateway::ExitConfig;
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    QSocketNotifier sig(signalPipe[0], QSocketNotifier::Read);
    int received = 0;
    QObject::connect(&sig, &QSocketNotifier::activated, [&] {
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

    qCInfo(lcGateway, "varno-gateway: %s, topics %s#, broker %s", portName.c_str(), base.c_str(),
           o.broker.c_str());
    gw.start();
    const int rc = QCoreApplication::exec();
    thePoller = nullptr;
    runtime::InstallPortEventCallback(nullptr);
    return rc;
}
