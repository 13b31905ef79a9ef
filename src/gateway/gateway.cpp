// varno-gateway: the poller's events as MQTT messages, MQTT commands to the poller.
#include "gateway.h"

#include "gateway/payloads.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcGateway, "varno.gateway")

namespace gateway {

namespace {

constexpr double shutdownWait = 3.0; // seconds the last messages may take to be delivered

} // namespace

// The will says offline, with the time of the connection it goes with and what was
// dropped by then.
BrokerSettings Gateway::withWill(BrokerSettings b, const std::string& port, Gateway* self) {
    b.willPayload = [port, self] {
        return QByteArray::fromStdString(WillPayload(port, IsoNow(), self->dropped()));
    };
    b.maxIncoming = MaxPayload;
    return b;
}

Dropped Gateway::dropped() const {
    return {outbox_.droppedLive(), outbox_.droppedOther(), outbox_.droppedRefused()};
}

Gateway::Gateway(const Options& o, const BrokerSettings& broker, int port,
                 const std::string& portName, const std::string& sensorId, QObject* parent)
    : QObject(parent), o_(o), base_(o.prefix + "/" + sensorId + "/"), portName_(portName),
      mqtt_(withWill(broker, portName, this), this), outbox_(o.buffer, 1000, broker.maxInflight),
      poller_(o, port, portName, this) {
    since_ = IsoNow();
    mqtt_.onConnected = [this] { connected(); };
    mqtt_.onDisconnected = [this](const std::string&) { disconnected(); };
    mqtt_.onPublished = [this](int mid) {
        if (closing_ && mid == offlineMid_) offlineAcked_ = true;
        outbox_.acknowledged(mid);
        pump();
    };
    mqtt_.onMessage = [this](const Incoming& in) { message(in); };

    poller_.onState = [this](SensorState) {
        since_ = IsoNow();
        publishStatus();
    };
    poller_.onParams = [this](int target, const unsigned char* block) {
        params_ = ParamsPayload(target, block, IsoNow());
        publishRetained("params", params_);
    };
    poller_.onRecord = [this](const sensor::LiveRecord& r, double seconds, unsigned char hyst) {
        push({topic("live"), LivePayload(text::IsoTime(r.wall).c_str(), seconds, r.bytes, hyst, ++seq_),
              true});
    };
    poller_.onReply = [this](const Command& c, const std::string& json) { reply(c, json); };
    poller_.onAudit = [this](const std::string& json) {
        Message m{topic("audit"), json, false};
        m.keep = true; // an audit line is never dropped
        push(std::move(m));
    };
    poller_.onFatal = [this](int code, const std::string& why) {
        qCCritical(lcGateway, "varno-gateway: %s: %s", portName_.c_str(), why.c_str());
        shutdown(code, [](int c) { QCoreApplication::exit(c); });
    };
}

void Gateway::start() {
    mqtt_.start();
    poller_.start();
}

void Gateway::connected() {
    // Retained state first, then what waited, in order.
    publishStatus();
    if (!meta_.empty()) publishRetained("meta", meta_);
    if (!params_.empty()) publishRetained("params", params_);
    if (outbox_.waiting())
        qCInfo(lcGateway, "varno-gateway: broker back: delivering %zu waiting messages",
               outbox_.waiting());
    pump();
}

void Gateway::disconnected() {
    outbox_.connectionLost();
    if (closing_) finishShutdown();
}

void Gateway::publishRetained(const std::string& leaf, const std::string& payload) {
    if (!mqtt_.connected()) return; // published again on the next connection
    const int mid = mqtt_.publish(topic(leaf.c_str()), QByteArray::fromStdString(payload), 1, true);
    if (leaf == "status" && closing_) offlineMid_ = mid;
}

void Gateway::publishStatus() {
    // Nothing is said before the sensor side knows its state.
    if (!closing_ && poller_.state() == SensorState::Starting) return;
    const char* state = closing_ ? "offline" : StateName(poller_.state());
    droppedShown_ = dropped();
    lastStatusAt_ = Now();
    publishRetained("status", StatusPayload(state, portName_, since_, droppedShown_,
                                            closing_ ? std::string() : poller_.yieldedUntil()));
}

void Gateway::push(Message m) {
    outbox_.push(std::move(m));
    pump();
}

void Gateway::pump() {
    if (!mqtt_.connected()) return;
    outbox_.pump([this](const Message& m) {
        return mqtt_.publish(m.topic, QByteArray::fromStdString(m.payload), 1, false, {},
                             QByteArray::fromStdString(m.correlation));
    });
    // Records or replies dropped while connected (a broker slower than the sensor, a flood
    // of commands, a response topic that cannot be published on): status says so, at most
    // once a second.
    if (dropped() != droppedShown_ && Now() - lastStatusAt_ > 1.0) publishStatus();
    if (closing_ && offlineAcked_ && outbox_.waiting() == 0) finishShutdown();
}

void Gateway::message(const Incoming& in) {
    const std::string prefix = topic("cmd/");
    if (in.topic.rfind(prefix, 0) != 0) return;
    Command c;
    c.responseTopic = in.responseTopic;
    c.correlation = in.correlation;
    std::string error;
    bool ok = false;
    if (in.oversized) {
        c.name = in.topic.substr(prefix.size());
        error = "the payload has " + std::to_string(in.size) + " bytes, more than " +
                std::to_string(MaxPayload);
    } else {
        ok = ParseCommand(in.topic.substr(prefix.size()), in.payload, in.retained, c, error);
    }
    if (!ok) {
        if (c.silent) return;
        // A refusal goes to a response topic only when that topic was checked and found good.
        if (c.correlation.size() > MaxCorrelation || c.responseTopic.size() > MaxResponseTopic ||
            c.responseTopic.find_first_of("+#") != std::string::npos) {
            c.responseTopic.clear();
            c.correlation.clear();
        }
        qCWarning(lcGateway, "varno-gateway: %s refused: %s", in.topic.c_str(), error.c_str());
        reply(c, ReplyHead(c.hasId, c.id, c.name, portName_)
                     .boolean("ok", false)
                     .num("exit", ExitUsage)
                     .str("error", error)
                     .done());
        return;
    }
    poller_.enqueue(std::move(c));
}

void Gateway::reply(const Command& c, const std::string& json) {
    push({topic("reply"), json, false});
    // MQTT 5: also where the request asked, with its correlation data.
    if (!c.responseTopic.empty()) push({c.responseTopic, json, false, c.correlation.toStdString()});
}

void Gateway::shutdown(int code, std::function<void(int)> done) {
    if (done_ || closing_) return;
    exitCode_ = code;
    done_ = std::move(done);
    poller_.stop([this] {
        closing_ = true;
        closingSince_ = Now();
        since_ = IsoNow();
        publishStatus();
        if (!mqtt_.connected()) return finishShutdown();
        pump();
        // The broker gets a little time to take what is left.
        auto* t = new QTimer(this);
        connect(t, &QTimer::timeout, this, [this] {
            if (Now() - closingSince_ > shutdownWait) finishShutdown();
        });
        t->start(100);
    });
}

void Gateway::finishShutdown() {
    if (!done_ || finishing_) return;
    finishing_ = true;
    // Outside the MQTT client's callbacks, which may have brought us here.
    QTimer::singleShot(0, this, [this] {
        mqtt_.stop();
        if (outbox_.waiting())
            qCWarning(lcGateway, "varno-gateway: %zu messages were not delivered",
                      outbox_.waiting());
        auto done = std::move(done_);
        done_ = nullptr;
        done(exitCode_);
    });
}

} // namespace gateway
