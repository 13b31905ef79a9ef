// An MQTT 5 client for tests, on libmosquitto with its own network thread
// (mosquitto_loop_start): it collects every message of its subscriptions with the topic,
// payload, retained flag and properties, lets a test wait for a condition with a time
// limit, and publishes with a retain flag and MQTT 5 properties.
//
// After a lost connection it reconnects by itself (a pause of 100 ms up to 1 s) and
// subscribes again. Messages published while it is away reach it only through a session the
// broker keeps for it: Options::persistentSession, and for a broker that is killed, a broker
// with persistence that has saved the session (Broker::waitSaved() after subscribe()).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;
struct mqtt5__property;
struct mosquitto_message;

namespace mqtt_test {

struct Message {
    std::string topic;
    std::string payload;
    int qos = 0;
    bool retained = false;
    std::optional<std::string> responseTopic;   // MQTT 5 response topic
    std::optional<std::string> correlationData; // MQTT 5 correlation data (bytes)
    std::vector<std::pair<std::string, std::string>> userProperties;
    std::chrono::system_clock::time_point receivedAt; // wall clock, as a payload's time
    std::chrono::steady_clock::time_point receivedSteady;
};

struct PublishProperties {
    std::optional<std::string> responseTopic;
    std::optional<std::string> correlationData;
    std::vector<std::pair<std::string, std::string>> userProperties;
};

// What publish() learnt: the broker's reason code in its PUBACK (QoS 1; 0 is success,
// 0x87 "not authorized" when an ACL refuses the topic), or the library's error.
struct PublishResult {
    bool sent = false;   // handed to the broker (QoS 0) or acknowledged (QoS 1)
    int reasonCode = -1; // PUBACK reason code; -1 without one
    std::string error;
    bool accepted() const { return sent && reasonCode < 0x80; }
};

class Client {
  public:
    struct Options {
        std::string clientId; // generated when empty
        std::string username; // none when empty
        std::string password;
        int keepalive = 10;             // seconds
        bool persistentSession = false; // clean start off, session kept for an hour
    };

    Client();
    explicit Client(Options options);
    ~Client(); // disconnects and stops the network thread
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Connects to 127.0.0.1:port (MQTT 5) and waits for the broker's CONNACK. False with
    // error() saying why, connackReason() the broker's reason code when it refused
    // (mosquitto 2.0 gives 0x87 "not authorized" for a wrong password and for no account).
    bool connect(int port, int timeoutMs = 5000);
    void disconnect();
    bool connected() const;
    // Waits until the connection is up (true) or down (false); false when the time ran out.
    bool waitConnected(bool up, int timeoutMs);
    int connackReason() const;
    int connects() const;    // successful connections so far (reconnects included)
    int disconnects() const; // connections lost or ended so far

    // Subscribes (QoS 1 by default) and waits for the SUBACK; false when refused or timed
    // out. The subscription is renewed after every reconnect.
    bool subscribe(const std::string& filter, int qos = 1, int timeoutMs = 5000);

    // Publishes; with QoS 1 waits for the PUBACK.
    PublishResult publish(const std::string& topic, const std::string& payload, int qos = 1,
                          bool retain = false, const PublishProperties& props = {},
                          int timeoutMs = 5000);

    // Everything received so far (optionally only the topics matching an MQTT filter).
    std::vector<Message> messages(const std::string& filter = {}) const;
    void clear();

    // Waits until pred(messages received so far) holds; false when the time ran out. pred
    // runs under the client's lock: it must not call the client.
    bool waitFor(const std::function<bool(const std::vector<Message>&)>& pred, int timeoutMs);
    // The first message on a topic matching `filter` (and `pred`, when given) among those
    // received so far or arriving within the time limit.
    std::optional<Message> waitForMessage(const std::string& filter, int timeoutMs,
                                          const std::function<bool(const Message&)>& pred = {});
    // The number of messages on topics matching `filter` reaching `count`.
    bool waitForCount(const std::string& filter, std::size_t count, int timeoutMs);

    const std::string& error() const { return error_; }

  private:
    static void onConnect(mosquitto*, void*, int, int, const mqtt5__property*);
    static void onDisconnect(mosquitto*, void*, int, const mqtt5__property*);
    static void onMessage(mosquitto*, void*, const ::mosquitto_message*, const mqtt5__property*);
    static void onPublish(mosquitto*, void*, int, int, const mqtt5__property*);
    static void onSubscribe(mosquitto*, void*, int, int, const int*, const mqtt5__property*);

    Options options_;
    mosquitto* mosq_ = nullptr;
    bool loopRunning_ = false;
    std::string error_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
    std::map<std::string, int> filters_; // filter -> qos, renewed on reconnect
    std::map<int, int> acks_;            // mid -> PUBACK reason code
    std::map<int, int> subacks_;         // mid -> first granted QoS / reason code
    bool connected_ = false;
    int connackReason_ = -1;
    int connects_ = 0, disconnects_ = 0;
};

} // namespace mqtt_test
