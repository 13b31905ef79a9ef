// A real MQTT broker for tests: Debian's mosquitto, started as a child process on
// 127.0.0.1 at a free port with a configuration written into a temporary directory, and
// stopped (and reaped) when the object goes. Plain C++ and POSIX: usable with or without Qt.
//
//   mqtt_test::Broker broker;                       // anonymous, no persistence
//   ASSERT_TRUE(broker.start()) << broker.error();
//   mqtt_test::Client sub;                          // see mqtt_client.h
//   ASSERT_TRUE(sub.connect(broker.port())) << sub.error();
//
// A restart (after stop() or kill9()) keeps the port, the configuration and, with
// persistence, the broker's database, so retained messages and persistent sessions come back.
// mosquitto writes its database every two seconds or so; waitSaved() waits for the next write.
#pragma once

#include "mqtt_client.h"

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace mqtt_test {

struct BrokerOptions {
    // Accounts (user, password), put into a password file with mosquitto_passwd. With any
    // account, anonymous clients are refused unless allowAnonymous is set.
    std::vector<std::pair<std::string, std::string>> users;
    bool allowAnonymous = false; // only looked at when there are accounts
    // The text of an ACL file (mosquitto's format: `user`, `topic`, `pattern` lines); none
    // when empty. Without one, every client may publish and subscribe to everything.
    std::string acl;
    // Keeps retained messages and sessions in a database in the directory, across restarts.
    bool persistence = false;
    // Further lines for the configuration file.
    std::string extraConfig;
};

class Broker {
  public:
    explicit Broker(BrokerOptions options = {});
    ~Broker(); // stops the broker and removes its directory
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Starts the broker and waits until it answers an MQTT CONNECT (any CONNACK counts,
    // also a refusal). The first start picks a free port; later ones reuse it. False with
    // error() saying why (and the broker's log) when it did not come up in time.
    bool start(int timeoutMs = 10000);
    // SIGTERM, then SIGKILL after graceMs; the process is reaped. True when it ended by
    // SIGTERM.
    bool stop(int graceMs = 3000);
    // SIGKILL and reap: the broker dies without closing connections or saving.
    void kill9();
    // kill9() (when running), then start() on the same port with the same configuration.
    bool restart(int timeoutMs = 10000);
    // SIGSTOP / SIGCONT: the broker keeps its connections open and stops answering.
    void freeze();
    void thaw();

    // With persistence: waits until the broker has written its database after this call.
    bool waitSaved(int timeoutMs = 6000);

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    int port() const { return port_; }
    static const char* host() { return "127.0.0.1"; }
    std::string url() const; // mqtt://127.0.0.1:PORT
    const std::string& dir() const { return dir_; }
    std::string configPath() const { return dir_ + "/mosquitto.conf"; }
    std::string passwordPath() const { return dir_ + "/passwd"; }
    std::string aclPath() const { return dir_ + "/acl"; }
    std::string log() const; // the broker's log file and its stderr
    const std::string& error() const { return error_; }

  private:
    bool prepare();
    bool spawn();
    bool answers(int timeoutMs) const;
    void reap(int graceMs);

    BrokerOptions options_;
    std::string dir_, error_;
    pid_t pid_ = -1;
    int port_ = 0;
    bool prepared_ = false;
};

// A TCP port on 127.0.0.1 that was free a moment ago (0 when none could be had).
int freePort();

} // namespace mqtt_test
