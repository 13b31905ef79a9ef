// One MQTT connection, libmosquitto driven from Qt's event loop through its socket: a
// socket notifier for reading and writing, a timer for its housekeeping. No thread of
// libmosquitto's own runs, so everything happens in the program's thread. Reconnects by
// itself with a growing pause (0.5 s doubled up to 8 s; 30 s after a refusal that retrying
// cannot mend, such as a wrong password); a broker that sends no whole packet for 1.5 x
// keepalive is given up, even when bytes still trickle in.
#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mqtt5__property;
struct mosquitto_message;

namespace gateway {

struct BrokerSettings {
    std::string host = "localhost";
    int port = 1883;
    bool tls = false;
    std::string cafile, cert, key;
    std::string username, password;
    int keepalive = 10;
    std::string clientId;
    std::string willTopic; // retained, QoS 1
    // The will's payload, asked for at each connection attempt (its time then).
    std::function<QByteArray()> willPayload;
    std::string subscribe; // the topic filter subscribed to on every connection
    std::vector<std::string> alsoSubscribe; // further filters (plain options)
    int maxInflight = 64;
    // Bytes a message may have to be taken: a bigger one is refused before it is copied
    // (onMessage gets it with `oversized` set and no payload).
    int maxIncoming = 1 << 20;
};

struct Incoming {
    std::string topic;
    QByteArray payload;
    bool retained = false;
    std::string responseTopic; // MQTT 5, empty if none
    QByteArray correlation;
    long size = 0;          // the payload's size in bytes
    bool oversized = false; // over maxIncoming: the payload was not taken
};

class MqttClient : public QObject {
  public:
    explicit MqttClient(BrokerSettings settings, QObject* parent = nullptr);
    ~MqttClient() override;

    // Starts connecting; from then on it reconnects by itself until stop().
    void start();
    bool connected() const { return state_ == State::Connected; }
    bool v5() const { return v5_; }
    // Hands one message to libmosquitto. Returns its message id (> 0); 0 when not
    // connected (try again later); Refused (< 0) when the library will never send it (a
    // topic with a wildcard, a packet over the broker's maximum size): the caller drops it.
    // Messages are only ever handed over while connected.
    static constexpr int Refused = -1;
    int publish(const std::string& topic, const QByteArray& payload, int qos, bool retain,
                const std::string& responseTopic = {}, const QByteArray& correlation = {});
    // Ends the connection cleanly (DISCONNECT, so the will is not sent) and stops
    // reconnecting.
    void stop();
    // Seconds until the next attempt, for the log.
    double backoff() const { return backoff_; }
    // Why the last attempt or connection failed ("" while connected).
    const std::string& lastError() const { return lastError_; }

    std::function<void()> onConnected;
    std::function<void(const std::string& why)> onDisconnected;
    std::function<void(int mid)> onPublished; // QoS 1: the broker's PUBACK
    std::function<void(const Incoming&)> onMessage;

  private:
    enum class State { Idle, Connecting, Connected, Waiting, Stopped };

    void attempt();
    void drop(const std::string& why);
    void scheduleRetry();
    void watchSocket();
    void unwatchSocket();
    void readReady();
    void writeReady();
    void housekeeping();
    void updateWriteInterest();
    bool configure(std::string& why);

    static void connectCb(mosquitto*, void*, int, int, const mqtt5__property*);
    static void disconnectCb(mosquitto*, void*, int, const mqtt5__property*);
    static void publishCb(mosquitto*, void*, int, int, const mqtt5__property*);
    static void messageCb(mosquitto*, void*, const mosquitto_message*, const mqtt5__property*);
    static void subscribeCb(mosquitto*, void*, int, int, const int*, const mqtt5__property*);
    static void unsubscribeCb(mosquitto*, void*, int, const mqtt5__property*);
    static void logCb(mosquitto*, void*, int, const char*);
    // A whole packet came from the broker: the silence watch starts again.
    void heard();

    BrokerSettings s_;
    mosquitto* mosq_ = nullptr;
    State state_ = State::Idle;
    bool v5_ = true;
    double backoff_ = 0.0;
    double lastIn_ = 0.0; // when the broker's last whole packet came
    double attemptStarted_ = 0.0;
    bool probed_ = false;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer* misc_ = nullptr;
    QTimer* retry_ = nullptr;
    std::string lastError_;
    bool lasting_ = false; // the last refusal will not change by retrying
};

// Seconds on a monotonic clock.
double Now();

} // namespace gateway
