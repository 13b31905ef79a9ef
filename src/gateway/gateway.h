// varno-gateway: one sensor's poller and one MQTT connection joined. Topics under
// <prefix>/<sensor>/: status and params (retained), live, reply, audit; commands on cmd/+.
// Nothing is handed to the MQTT client while the broker is away: the outbox keeps it.
#pragma once

#include "gateway/mqtt_client.h"
#include "gateway/options.h"
#include "gateway/outbox.h"
#include "gateway/payloads.h"
#include "gateway/poller.h"

#include <QObject>

#include <functional>
#include <string>

namespace gateway {

class Gateway : public QObject {
  public:
    Gateway(const Options& o, const BrokerSettings& broker, int port, const std::string& portName,
            const std::string& sensorId, QObject* parent = nullptr);

    void start();
    // Ends cleanly: the sensor side idle, the outbox and the offline status delivered
    // (for at most a few seconds), the connection closed. `done(code)` is called then.
    void shutdown(int code, std::function<void(int)> done);
    Poller& poller() { return poller_; }

    std::string topic(const char* leaf) const { return base_ + leaf; }
    // The retained meta message, published again on every connection.
    void setMeta(std::string meta) { meta_ = std::move(meta); }

  private:
    static BrokerSettings withWill(BrokerSettings b, const std::string& port, Gateway* self);
    void connected();
    void disconnected();
    void message(const Incoming& in);
    void reply(const Command& c, const std::string& json);
    void push(Message m);
    void pump();
    void publishStatus();
    void publishRetained(const std::string& leaf, const std::string& payload);
    void finishShutdown();

    const Options& o_;
    std::string base_; // "<prefix>/<sensor>/"
    std::string portName_;
    MqttClient mqtt_;
    Outbox outbox_;
    Poller poller_;
    std::string since_;  // when the present state began
    std::string params_; // the last params payload, published again on every connection
    std::string meta_;
    long long seq_ = 0;
    Dropped dropped() const;
    Dropped droppedShown_{-1, -1, -1};
    double lastStatusAt_ = -1e9;
    // Shutting down.
    bool closing_ = false;
    bool finishing_ = false;
    int exitCode_ = 0;
    int offlineMid_ = 0;
    bool offlineAcked_ = false;
    double closingSince_ = 0.0;
    std::function<void(int)> done_;
};

} // namespace gateway
