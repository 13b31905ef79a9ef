// The gateway bench's subscriber: subscribes to PREFIX/+/live and PREFIX/+/status on a
// broker at 127.0.0.1 and writes one line per message, stamped with the time it arrived:
//
//   L <receipt, µs since the epoch> <sensor> <seq> <the record's time, ms since the epoch>
//   S <receipt, µs since the epoch> <sensor> <state>
//
// It keeps a session on the broker (MQTT 3.1.1, clean session off, QoS 1), so messages
// published while it is away (a broker restarted from its database) still reach it; it
// reconnects by itself. Ends on SIGTERM or SIGINT.
//
//   varno-gateway-sub PORT [PREFIX] > lines.txt
#include <mosquitto.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace gateway_sub {

volatile std::sig_atomic_t stopRequested = 0;
std::string prefix = "varno";

void onSignal(int) {
    stopRequested = 1;
}

long long nowMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// The value after "key": in a flat JSON object (the gateway writes no nested objects in
// live and status), without its quotes; empty when missing.
std::string field(const std::string& json, const char* key) {
    const std::string k = std::string("\"") + key + "\"";
    auto p = json.find(k);
    if (p == std::string::npos) return {};
    p = json.find(':', p + k.size());
    if (p == std::string::npos) return {};
    ++p;
    while (p < json.size() && json[p] == ' ')
        ++p;
    if (p < json.size() && json[p] == '"') {
        const auto e = json.find('"', p + 1);
        return e == std::string::npos ? std::string() : json.substr(p + 1, e - p - 1);
    }
    const auto e = json.find_first_of(",}", p);
    return json.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

// 2026-12-07T09:14:05.212Z as milliseconds since the epoch; -1 when it is not that.
long long isoMillis(const std::string& s) {
    std::tm t{};
    int ms = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &ms) != 7)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<long long>(timegm(&t)) * 1000 + ms;
}

void onConnect(mosquitto* m, void*, int rc) {
    if (rc != 0) return;
    mosquitto_subscribe(m, nullptr, (prefix + "/+/live").c_str(), 1);
    mosquitto_subscribe(m, nullptr, (prefix + "/+/status").c_str(), 1);
}

void onMessage(mosquitto*, void*, const mosquitto_message* msg) {
    const long long at = nowMicros();
    const std::string topic = msg->topic ? msg->topic : "";
    const std::string payload(static_cast<const char*>(msg->payload), std::size_t(msg->payloadlen));
    // PREFIX/SENSOR/KIND
    const auto kindAt = topic.rfind('/');
    const auto sensorAt = topic.rfind('/', kindAt == 0 ? 0 : kindAt - 1);
    if (kindAt == std::string::npos || sensorAt == std::string::npos) return;
    const std::string sensor = topic.substr(sensorAt + 1, kindAt - sensorAt - 1);
    const std::string kind = topic.substr(kindAt + 1);
    if (kind == "live") {
        std::printf("L %lld %s %s %lld\n", at, sensor.c_str(), field(payload, "seq").c_str(),
                    isoMillis(field(payload, "time")));
    } else if (kind == "status") {
        std::printf("S %lld %s %s\n", at, sensor.c_str(), field(payload, "state").c_str());
    }
}

} // namespace gateway_sub

int main(int argc, char** argv) {
    using namespace gateway_sub;
    if (argc < 2 || argc > 3 || std::atoi(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: varno-gateway-sub PORT [PREFIX]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    if (argc == 3) prefix = argv[2];
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    mosquitto_lib_init();
    const std::string id = "varno-bench-sub-" + std::to_string(port);
    mosquitto* m = mosquitto_new(id.c_str(), false, nullptr);
    if (!m) {
        std::fprintf(stderr, "varno-gateway-sub: mosquitto_new failed\n");
        return 1;
    }
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(m, onConnect);
    mosquitto_message_callback_set(m, onMessage);
    bool up = mosquitto_connect(m, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS;
    if (!up) {
        std::fprintf(stderr, "varno-gateway-sub: no broker on 127.0.0.1:%d\n", port);
        return 1;
    }
    while (!stopRequested) {
        if (up) {
            up = mosquitto_loop(m, 100, 1) == MOSQ_ERR_SUCCESS;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            up = mosquitto_reconnect(m) == MOSQ_ERR_SUCCESS;
        }
    }
    mosquitto_disconnect(m);
    mosquitto_destroy(m);
    mosquitto_lib_cleanup();
    std::fflush(stdout);
    return 0;
}
