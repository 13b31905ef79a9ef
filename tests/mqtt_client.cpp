// The tests' MQTT 5 client on libmosquitto (see mqtt_client.h).
#include "mqtt_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace mqtt_test {

namespace {

using Clock = std::chrono::steady_clock;

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string newClientId() {
    static std::atomic<int> counter{0};
    return "test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

bool matches(const std::string& filter, const std::string& topic) {
    if (filter.empty()) return true;
    bool result = false;
    return mosquitto_topic_matches_sub(filter.c_str(), topic.c_str(), &result) ==
               MOSQ_ERR_SUCCESS &&
           result;
}

} // namespace

Client::Client() : Client(Options{}) {}

Client::Client(Options options) : options_(std::move(options)) {
    initLibrary();
    if (options_.clientId.empty()) options_.clientId = newClientId();
    mosq_ = mosquitto_new(options_.clientId.c_str(), !options_.persistentSession, this);
    if (!mosq_) {
        error_ = "mosquitto_new failed";
        return;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_reconnect_delay_set(mosq_, 0, 1, false);
    mosquitto_connect_v5_callback_set(mosq_, onConnect);
    mosquitto_disconnect_v5_callback_set(mosq_, onDisconnect);
    mosquitto_message_v5_callback_set(mosq_, onMessage);
    mosquitto_publish_v5_callback_set(mosq_, onPublish);
    mosquitto_subscribe_v5_callback_set(mosq_, onSubscribe);
    if (!options_.username.empty())
        mosquitto_username_pw_set(mosq_, options_.username.c_str(),
                                  options_.password.empty() ? nullptr : options_.password.c_str());
}

Client::~Client() {
    disconnect();
    if (mosq_) mosquitto_destroy(mosq_);
}

bool Client::connect(int port, int timeoutMs) {
    if (!mosq_) return false;
    {
        std::lock_guard lock(mutex_);
        connackReason_ = -1;
    }
    mosquitto_property* props = nullptr;
    if (options_.persistentSession)
        mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL, 3600);
    // The first connection is made here, in the caller's thread; the network thread then
    // keeps it and reconnects.
    int rc =
        mosquitto_connect_bind_v5(mosq_, "127.0.0.1", port, options_.keepalive, nullptr, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) {
        error_ = std::string("cannot connect: ") + mosquitto_strerror(rc);
        return false;
    }
    if (!loopRunning_) {
        rc = mosquitto_loop_start(mosq_);
        if (rc != MOSQ_ERR_SUCCESS) {
            error_ = std::string("cannot start the network thread: ") + mosquitto_strerror(rc);
            return false;
        }
        loopRunning_ = true;
    }
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return connected_ || connackReason_ > 0; })) {
        error_ = "no CONNACK within " + std::to_string(timeoutMs) + " ms";
        return false;
    }
    if (!connected_) {
        error_ = std::string("connection refused: ") + mosquitto_reason_string(connackReason_);
        return false;
    }
    return true;
}

void Client::disconnect() {
    if (!mosq_ || !loopRunning_) return;
    {
        std::lock_guard lock(mutex_);
        filters_.clear();
    }
    mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    mosquitto_loop_stop(mosq_, false);
    loopRunning_ = false;
    std::lock_guard lock(mutex_);
    connected_ = false;
}

bool Client::connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

bool Client::waitConnected(bool up, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return connected_ == up; });
}

int Client::connackReason() const {
    std::lock_guard lock(mutex_);
    return connackReason_;
}

int Client::connects() const {
    std::lock_guard lock(mutex_);
    return connects_;
}

int Client::disconnects() const {
    std::lock_guard lock(mutex_);
    return disconnects_;
}

bool Client::subscribe(const std::string& filter, int qos, int timeoutMs) {
    if (!mosq_) return false;
    {
        std::lock_guard lock(mutex_);
        filters_[filter] = qos;
    }
    int mid = 0;
    const int rc = mosquitto_subscribe_v5(mosq_, &mid, filter.c_str(), qos, 0, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        error_ = "cannot subscribe to " + filter + ": " + mosquitto_strerror(rc);
        return false;
    }
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return subacks_.count(mid) > 0; })) {
        error_ = "no SUBACK for " + filter;
        return false;
    }
    const int granted = subacks_[mid];
    if (granted >= 0x80) {
        error_ = "subscription to " + filter + " refused: " + mosquitto_reason_string(granted);
        return false;
    }
    return true;
}

PublishResult Client::publish(const std::string& topic, const std::string& payload, int qos,
                              bool retain, const PublishProperties& p, int timeoutMs) {
    PublishResult r;
    if (!mosq_) {
        r.error = "no client";
        return r;
    }
    mosquitto_property* props = nullptr;
    if (p.responseTopic)
        mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, p.responseTopic->c_str());
    if (p.correlationData)
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, p.correlationData->data(),
                                      std::uint16_t(p.correlationData->size()));
    for (const auto& [k, v] : p.userProperties)
        mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, k.c_str(), v.c_str());
    int mid = 0;
    const int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), int(payload.size()),
                                        payload.data(), qos, retain, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) {
        r.error = std::string("cannot publish: ") + mosquitto_strerror(rc);
        return r;
    }
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return acks_.count(mid) > 0; })) {
        r.error = qos > 0 ? "no PUBACK within " + std::to_string(timeoutMs) + " ms"
                          : "not sent within " + std::to_string(timeoutMs) + " ms";
        return r;
    }
    r.sent = true;
    if (qos > 0) r.reasonCode = acks_[mid];
    acks_.erase(mid);
    return r;
}

std::vector<Message> Client::messages(const std::string& filter) const {
    std::lock_guard lock(mutex_);
    std::vector<Message> out;
    for (const auto& m : messages_)
        if (matches(filter, m.topic)) out.push_back(m);
    return out;
}

void Client::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

bool Client::waitFor(const std::function<bool(const std::vector<Message>&)>& pred, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return pred(messages_); });
}

std::optional<Message> Client::waitForMessage(const std::string& filter, int timeoutMs,
                                              const std::function<bool(const Message&)>& pred) {
    std::optional<Message> found;
    waitFor(
        [&](const std::vector<Message>& all) {
            for (const auto& m : all)
                if (matches(filter, m.topic) && (!pred || pred(m))) {
                    found = m;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

bool Client::waitForCount(const std::string& filter, std::size_t count, int timeoutMs) {
    return waitFor(
        [&](const std::vector<Message>& all) {
            std::size_t n = 0;
            for (const auto& m : all)
                n += matches(filter, m.topic);
            return n >= count;
        },
        timeoutMs);
}

// ---- callbacks, on the network thread ----------------------------------------------------

void Client::onConnect(mosquitto* m, void* obj, int rc, int, const mqtt5__property*) {
    auto* self = static_cast<Client*>(obj);
    std::map<std::string, int> filters;
    {
        std::lock_guard lock(self->mutex_);
        self->connackReason_ = rc;
        self->connected_ = rc == 0;
        if (rc == 0) ++self->connects_;
        filters = self->filters_;
    }
    self->changed_.notify_all();
    if (rc != 0) {
        // A refusal is final for a test: no reconnecting with the same credentials.
        mosquitto_disconnect_v5(m, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
        return;
    }
    for (const auto& [filter, qos] : filters)
        mosquitto_subscribe_v5(m, nullptr, filter.c_str(), qos, 0, nullptr);
}

void Client::onDisconnect(mosquitto*, void* obj, int, const mqtt5__property*) {
    auto* self = static_cast<Client*>(obj);
    {
        std::lock_guard lock(self->mutex_);
        if (self->connected_) ++self->disconnects_;
        self->connected_ = false;
    }
    self->changed_.notify_all();
}

void Client::onMessage(mosquitto*, void* obj, const mosquitto_message* msg,
                       const mqtt5__property* props) {
    auto* self = static_cast<Client*>(obj);
    Message m;
    m.receivedAt = std::chrono::system_clock::now();
    m.receivedSteady = Clock::now();
    m.topic = msg->topic ? msg->topic : "";
    m.payload.assign(static_cast<const char*>(msg->payload), std::size_t(msg->payloadlen));
    m.qos = msg->qos;
    m.retained = msg->retain;
    char* text = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &text, false)) {
        m.responseTopic = text;
        std::free(text);
    }
    void* data = nullptr;
    std::uint16_t len = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &len, false)) {
        m.correlationData = std::string(static_cast<const char*>(data), len);
        std::free(data);
    }
    for (const mosquitto_property* p = props; p; p = mosquitto_property_next(p)) {
        char *k = nullptr, *v = nullptr;
        if (mosquitto_property_identifier(p) == MQTT_PROP_USER_PROPERTY &&
            mosquitto_property_read_string_pair(p, MQTT_PROP_USER_PROPERTY, &k, &v, false)) {
            m.userProperties.emplace_back(k, v);
            std::free(k);
            std::free(v);
        }
    }
    {
        std::lock_guard lock(self->mutex_);
        self->messages_.push_back(std::move(m));
    }
    self->changed_.notify_all();
}

void Client::onPublish(mosquitto*, void* obj, int mid, int reasonCode, const mqtt5__property*) {
    auto* self = static_cast<Client*>(obj);
    {
        std::lock_guard lock(self->mutex_);
        self->acks_[mid] = reasonCode;
    }
    self->changed_.notify_all();
}

void Client::onSubscribe(mosquitto*, void* obj, int mid, int count, const int* granted,
                         const mqtt5__property*) {
    auto* self = static_cast<Client*>(obj);
    {
        std::lock_guard lock(self->mutex_);
        self->subacks_[mid] = count > 0 ? granted[0] : 0x80;
    }
    self->changed_.notify_all();
}

} // namespace mqtt_test
