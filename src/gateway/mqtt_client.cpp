// libmosquitto on Qt's event loop: its socket watched by notifiers, its housekeeping on a
// timer, a fresh client for every connection (so nothing it queued for an old connection
// is ever sent twice), the broker's silence watched.
#include "mqtt_client.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cstring>

// Debug (libmosquitto's own chatter) only when asked for: QT_LOGGING_RULES=varno.gateway.mqtt.debug=true
Q_LOGGING_CATEGORY(lcMqtt, "varno.gateway.mqtt", QtInfoMsg)

namespace gateway {

namespace {

constexpr double firstPause = 0.5; // seconds before the first retry; doubled up to maxPause
// Under 10 s: a broker back from a long outage is tried within 8 s, which leaves the time
// to deliver what waited within 10 s of its return.
constexpr double maxPause = 8.0;
constexpr int miscMs = 250; // libmosquitto's housekeeping and the silence watch
// After a refusal that will not change by retrying (a wrong account, not authorised,
// banned): the broker is asked again no faster than this.
constexpr double lastingPause = 30.0;

void initLibrary() {
    static bool done = false;
    if (!done) mosquitto_lib_init();
    done = true;
}

std::string errorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

// A broker's refusal of a connection, in its own words: MQTT 5 reason codes (0x80 and up)
// and MQTT 3.1.1 return codes (1 to 5) are different tables.
std::string refusalText(bool v5, int rc) {
    if (v5 && rc >= 0x80) return mosquitto_reason_string(rc);
    return mosquitto_connack_string(rc);
}

// Refusals that the same attempt will meet again: the account or the broker's ACL.
bool lastingRefusal(bool v5, int rc) {
    if (v5 && rc >= 0x80)
        return rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD || rc == MQTT_RC_NOT_AUTHORIZED ||
               rc == MQTT_RC_BANNED || rc == MQTT_RC_CLIENTID_NOT_VALID;
    return rc == CONNACK_REFUSED_BAD_USERNAME_PASSWORD || rc == CONNACK_REFUSED_NOT_AUTHORIZED ||
           rc == CONNACK_REFUSED_IDENTIFIER_REJECTED;
}

} // namespace

double Now() {
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock.nsecsElapsed() / 1e9;
}

MqttClient::MqttClient(BrokerSettings settings, QObject* parent)
    : QObject(parent), s_(std::move(settings)) {
    initLibrary();
    misc_ = new QTimer(this);
    misc_->setInterval(miscMs);
    connect(misc_, &QTimer::timeout, this, [this] { housekeeping(); });
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, [this] { attempt(); });
}

MqttClient::~MqttClient() {
    unwatchSocket();
    if (mosq_) mosquitto_destroy(mosq_);
}

void MqttClient::start() {
    if (state_ != State::Idle) return;
    attempt();
}

bool MqttClient::configure(std::string& why) {
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION,
                         v5_ ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    // Our own window: libmosquitto never holds back a message we handed it.
    mosquitto_int_option(mosq_, MOSQ_OPT_RECEIVE_MAXIMUM, 100);
    // Room for the retained messages published beside the outbox's window.
    mosquitto_max_inflight_messages_set(mosq_, unsigned(s_.maxInflight + 16));
    int rc = MOSQ_ERR_SUCCESS;
    if (!s_.willTopic.empty()) {
        const QByteArray will = s_.willPayload ? s_.willPayload() : QByteArray();
        rc = mosquitto_will_set(mosq_, s_.willTopic.c_str(), int(will.size()), will.constData(), 1,
                                true);
    }
    if (rc == MOSQ_ERR_SUCCESS && !s_.username.empty())
        rc = mosquitto_username_pw_set(mosq_, s_.username.c_str(),
                                       s_.password.empty() ? nullptr : s_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && s_.tls) {
        rc = mosquitto_tls_set(mosq_, s_.cafile.empty() ? nullptr : s_.cafile.c_str(),
                               s_.cafile.empty() ? "/etc/ssl/certs" : nullptr,
                               s_.cert.empty() ? nullptr : s_.cert.c_str(),
                               s_.key.empty() ? nullptr : s_.key.c_str(), nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        why = errorText(rc);
        return false;
    }
    mosquitto_connect_v5_callback_set(mosq_, connectCb);
    mosquitto_disconnect_v5_callback_set(mosq_, disconnectCb);
    mosquitto_publish_v5_callback_set(mosq_, publishCb);
    mosquitto_message_v5_callback_set(mosq_, messageCb);
    mosquitto_subscribe_v5_callback_set(mosq_, subscribeCb);
    mosquitto_unsubscribe_v5_callback_set(mosq_, unsubscribeCb);
    mosquitto_log_callback_set(mosq_, logCb);
    return true;
}

void MqttClient::attempt() {
    if (state_ == State::Stopped) return;
    state_ = State::Connecting;
    attemptStarted_ = Now();
    lastIn_ = attemptStarted_;
    probed_ = false;
    mosq_ = mosquitto_new(s_.clientId.c_str(), true, this);
    std::string why;
    if (!mosq_) {
        why = "out of memory";
    } else if (configure(why)) {
        const int rc =
            mosquitto_connect_bind_async(mosq_, s_.host.c_str(), s_.port, s_.keepalive, nullptr);
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0) {
            watchSocket();
            misc_->start();
            return;
        }
        why = rc == MOSQ_ERR_SUCCESS ? "no socket" : errorText(rc);
    }
    drop(why);
}

void MqttClient::watchSocket() {
    const int fd = mosquitto_socket(mosq_);
    readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { readReady(); });
    writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { writeReady(); });
    updateWriteInterest();
}

void MqttClient::unwatchSocket() {
    // The notifiers go before the socket closes, so none fires on a stale descriptor.
    delete readNotifier_;
    delete writeNotifier_;
    readNotifier_ = writeNotifier_ = nullptr;
}

void MqttClient::updateWriteInterest() {
    if (writeNotifier_ && mosq_) writeNotifier_->setEnabled(mosquitto_want_write(mosq_));
}

void MqttClient::heard() {
    lastIn_ = Now();
    probed_ = false;
}

// Bytes alone say nothing: a broker that trickles a packet a byte at a time is as silent
// as one that sends nothing. Only a whole packet (one of the callbacks) counts.
void MqttClient::readReady() {
    if (!mosq_) return;
    const int rc = mosquitto_loop_read(mosq_, 1);
    if (!mosq_) return; // a callback dropped the connection
    if (rc != MOSQ_ERR_SUCCESS) return drop("read: " + errorText(rc));
    updateWriteInterest();
}

void MqttClient::writeReady() {
    if (!mosq_) return;
    const int rc = mosquitto_loop_write(mosq_, 1);
    if (!mosq_) return;
    if (rc != MOSQ_ERR_SUCCESS) return drop("write: " + errorText(rc));
    updateWriteInterest();
}

void MqttClient::housekeeping() {
    if (!mosq_) return;
    const int rc = mosquitto_loop_misc(mosq_);
    if (!mosq_) return;
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) return drop(errorText(rc));
    const double silent = Now() - lastIn_;
    const double ka = s_.keepalive;
    if (state_ == State::Connecting && silent > ka)
        return drop("no answer to the connection within " + std::to_string(s_.keepalive) + " s");
    if (state_ == State::Connected) {
        // Half a keepalive of silence: ask for an answer (an unsubscribe from a topic never
        // subscribed is answered by any broker, whatever its ACLs). Nothing by 1.5 x
        // keepalive: the broker is gone, even though the connection never closed.
        if (silent > 0.5 * ka && !probed_) {
            probed_ = true;
            mosquitto_unsubscribe(mosq_, nullptr, (s_.willTopic + "/probe").c_str());
        }
        // One housekeeping period early, so that it is noticed within the limit.
        if (silent > 1.5 * ka - miscMs / 1000.0) return drop("the broker stopped answering");
    }
    updateWriteInterest();
}

void MqttClient::drop(const std::string& why) {
    const bool wasConnected = state_ == State::Connected;
    unwatchSocket();
    misc_->stop();
    if (mosq_) {
        mosquitto* old = mosq_;
        mosq_ = nullptr;
        mosquitto_user_data_set(old, nullptr); // its callbacks no longer reach us
        // Destroyed outside libmosquitto's own call chain.
        QTimer::singleShot(0, [old] {
            mosquitto_disconnect(old);
            mosquitto_destroy(old);
        });
    }
    if (state_ == State::Stopped) return;
    // The same failure again and again is said once, until something else happens.
    if (wasConnected || backoff_ == 0.0 || why != lastError_)
        qCWarning(lcMqtt, "varno-gateway: broker %s:%d: %s", s_.host.c_str(), s_.port, why.c_str());
    lastError_ = why;
    state_ = State::Waiting;
    scheduleRetry();
    if (wasConnected && onDisconnected) onDisconnected(why);
}

void MqttClient::scheduleRetry() {
    if (lasting_) {
        lasting_ = false;
        backoff_ = lastingPause;
    } else {
        backoff_ = backoff_ == 0.0 ? firstPause : std::min(maxPause, backoff_ * 2);
    }
    retry_->start(int(backoff_ * 1000));
}

int MqttClient::publish(const std::string& topic, const QByteArray& payload, int qos, bool retain,
                        const std::string& responseTopic, const QByteArray& correlation) {
    if (state_ != State::Connected || !mosq_) return 0;
    int mid = 0;
    mosquitto_property* props = nullptr;
    if (v5_ && !correlation.isEmpty())
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.constData(),
                                      uint16_t(correlation.size()));
    (void)responseTopic; // the reply is sent to the response topic itself
    const int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), int(payload.size()),
                                        payload.constData(), qos, retain, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO ||
            rc == MOSQ_ERR_NOMEM) {
            drop("publish: " + errorText(rc));
            return 0;
        }
        // The library will never send this one (a wildcard in the topic, a packet over the
        // broker's maximum size, a topic that is not UTF-8): trying again cannot help.
        qCWarning(lcMqtt, "varno-gateway: cannot publish on %s: %s (dropped)", topic.c_str(),
                  errorText(rc).c_str());
        return Refused;
    }
    updateWriteInterest();
    return mid;
}

void MqttClient::stop() {
    if (state_ == State::Stopped) return;
    const bool wasConnected = state_ == State::Connected;
    state_ = State::Stopped; // the disconnect callback below changes nothing then
    retry_->stop();
    if (mosq_ && wasConnected) {
        mosquitto_disconnect(mosq_);
        // The DISCONNECT leaves now, while the socket is still ours.
        for (int i = 0; i < 10 && mosquitto_want_write(mosq_); ++i)
            mosquitto_loop_write(mosq_, 1);
    }
    unwatchSocket();
    misc_->stop();
    if (mosq_) mosquitto_destroy(mosq_);
    mosq_ = nullptr;
}

// ---- libmosquitto's callbacks (called from loop_read/write/misc, in this thread) ----------

// Callbacks from a client already dropped (its deferred disconnect) are ignored.
void MqttClient::connectCb(mosquitto* m, void* self, int rc, int, const mqtt5__property*) {
    auto* c = static_cast<MqttClient*>(self);
    if (!c || m != c->mosq_) return;
    if (rc != 0) {
        // A broker that knows only MQTT 3.1.1 refuses version 5: not a refusal of ours; the
        // next attempt, at once, asks for 3.1.1 (and stays with it).
        if (c->v5_ && (rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION ||
                       rc == CONNACK_REFUSED_PROTOCOL_VERSION)) {
            c->v5_ = false;
            qCInfo(lcMqtt, "varno-gateway: broker %s:%d speaks MQTT 3.1.1, not 5: using 3.1.1",
                   c->s_.host.c_str(), c->s_.port);
            c->backoff_ = 0.0;
            c->unwatchSocket();
            c->misc_->stop();
            mosquitto* old = c->mosq_;
            c->mosq_ = nullptr;
            mosquitto_user_data_set(old, nullptr);
            QTimer::singleShot(0, [old] { mosquitto_destroy(old); });
            c->state_ = State::Waiting;
            c->retry_->start(0);
            return;
        }
        c->lasting_ = lastingRefusal(c->v5_, rc);
        std::string why = "connection refused: " + refusalText(c->v5_, rc);
        if (c->lasting_) why += " (asking again every 30 s)";
        c->drop(why);
        return;
    }
    c->state_ = State::Connected;
    c->backoff_ = 0.0;
    c->lastError_.clear();
    c->heard();
    qCInfo(lcMqtt, "varno-gateway: connected to %s:%d (MQTT %s)", c->s_.host.c_str(), c->s_.port,
           c->v5_ ? "5" : "3.1.1");
    // MQTT 5: "retain as published", so that a command published retained while we listen
    // still carries its retain flag (the broker clears it for present subscribers
    // otherwise). MQTT 3.1.1 cannot ask for it.
    if (!c->s_.subscribe.empty())
        mosquitto_subscribe_v5(c->mosq_, nullptr, c->s_.subscribe.c_str(), 1,
                               c->v5_ ? MQTT_SUB_OPT_RETAIN_AS_PUBLISHED : 0, nullptr);
    for (const std::string& f : c->s_.alsoSubscribe)
        mosquitto_subscribe(c->mosq_, nullptr, f.c_str(), 1);
    if (c->onConnected) c->onConnected();
}

void MqttClient::disconnectCb(mosquitto* m, void* self, int rc, const mqtt5__property*) {
    auto* c = static_cast<MqttClient*>(self);
    if (!c || m != c->mosq_ || c->state_ == State::Stopped) return;
    // A broker's DISCONNECT carries an MQTT 5 reason code; a lost connection a library code.
    if (rc == MQTT_RC_SESSION_TAKEN_OVER)
        return c->drop("another client connected with this gateway's client id " +
                       c->s_.clientId +
                       " (a second gateway for the same topics? give each its own --sensor)");
    if (rc >= 0x80) return c->drop("the broker disconnected: " + refusalText(true, rc));
    c->drop(rc == 0 ? "disconnected" : "connection lost: " + errorText(rc));
}

void MqttClient::publishCb(mosquitto* m, void* self, int mid, int reason, const mqtt5__property*) {
    auto* c = static_cast<MqttClient*>(self);
    if (!c || m != c->mosq_) return;
    c->heard();
    // A v5 broker may refuse a message (not authorised by its ACL): it is acknowledged
    // all the same and not sent again.
    if (reason >= 0x80)
        qCWarning(lcMqtt, "varno-gateway: the broker refused message %d: %s", mid,
                  mosquitto_reason_string(reason));
    if (c->onPublished) c->onPublished(mid);
}

void MqttClient::messageCb(mosquitto* mosq, void* self, const mosquitto_message* m,
                           const mqtt5__property* props) {
    auto* c = static_cast<MqttClient*>(self);
    if (!c || mosq != c->mosq_) return;
    c->heard();
    if (!c->onMessage || !m || !m->topic) return;
    Incoming in;
    in.topic = m->topic;
    in.size = m->payloadlen;
    // As early as the library lets us: an oversized payload is never copied.
    in.oversized = m->payloadlen > c->s_.maxIncoming;
    if (!in.oversized) in.payload = QByteArray(static_cast<const char*>(m->payload), m->payloadlen);
    in.retained = m->retain;
    char* response = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false)) {
        in.responseTopic = response;
        free(response);
    }
    void* data = nullptr;
    uint16_t len = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &len, false)) {
        in.correlation = QByteArray(static_cast<const char*>(data), len);
        free(data);
    }
    c->onMessage(in);
}

void MqttClient::subscribeCb(mosquitto* m, void* self, int, int count, const int* granted,
                             const mqtt5__property*) {
    auto* c = static_cast<MqttClient*>(self);
    if (!c || m != c->mosq_) return;
    c->heard();
    for (int i = 0; i < count; ++i)
        if (granted[i] >= 0x80)
            qCWarning(lcMqtt, "varno-gateway: the broker refused the subscription to %s: %s",
                      c->s_.subscribe.c_str(), mosquitto_reason_string(granted[i]));
}

void MqttClient::unsubscribeCb(mosquitto* m, void* self, int, const mqtt5__property*) {
    auto* c = static_cast<MqttClient*>(self);
    if (c && m == c->mosq_) c->heard(); // the answer to the silence probe
}

// libmosquitto's own log, in the gateway's category: warnings and errors as such, the rest
// at debug level.
void MqttClient::logCb(mosquitto*, void*, int level, const char* text) {
    if (!text) return;
    if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))
        qCWarning(lcMqtt, "varno-gateway: libmosquitto: %s", text);
    else
        qCDebug(lcMqtt, "libmosquitto: %s", text);
}

} // namespace gateway
