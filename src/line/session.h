// varno-line's view of a line on the broker: one MQTT connection, the retained state of
// every sensor under the prefix (status, params) and of the line (_line/changeover), and
// commands sent to the gateways with their replies matched by id, many at once.
#pragma once

#include "gateway/mqtt_client.h"
#include "line/recipe.h"

#include <QJsonObject>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace line {

struct SensorState {
    std::string state = "unknown", since, until, port;
    std::optional<Block> params;
    std::string paramsSource;
};

struct Request {
    std::string sensor;
    std::string command;  // "read", "write", "yield", ...
    QJsonObject payload;  // without id: one is given
    QJsonObject reply;    // filled in; empty when none came
};

class Session {
  public:
    Session(gateway::BrokerSettings broker, std::string prefix);
    // Connects and takes the retained state. False, with `error`, when the broker cannot be
    // reached or refuses within `seconds`.
    bool connect(double seconds, std::string& error);
    const std::map<std::string, SensorState>& sensors() const { return sensors_; }
    const std::optional<QJsonObject>& changeover() const { return changeover_; }
    // Sends every request at once and waits for all replies (or `seconds`).
    void run(std::vector<Request>& requests, double seconds);
    // Publishes a retained message under the prefix (QoS 1) and waits for the broker to
    // take it. False when it did not within `seconds`.
    bool publishRetained(const std::string& leaf, const std::string& json, double seconds);
    void close();

  private:
    void message(const gateway::Incoming& in);
    bool waitUntil(const std::function<bool()>& done, double seconds);

    std::string prefix_;
    gateway::MqttClient mqtt_;
    std::map<std::string, SensorState> sensors_;
    std::optional<QJsonObject> changeover_;
    std::map<std::string, QJsonObject> replies_; // by request id
    std::map<int, bool> acked_;
    double lastRetained_ = 0.0;
    long serial_ = 0;
};

// A new changeover or request id: the time and a random part.
std::string NewId(const char* kind);

} // namespace line
