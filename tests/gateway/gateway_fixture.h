// varno-gateway tests from outside: the program as a child process, a real broker
// (mqtt_broker.h), and the sensor either as a scripted peer on a pseudo-terminal that
// answers from its own thread and keeps every frame, or as the stand-alone simulator.
#pragma once

#include "mqtt_broker.h"
#include "pty.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline const Bytes sampleRam{100, 150, 23, 1, 5, 0, 9, 8, 7, 1, 4, 0, 1, 40, 37};
inline const Bytes sampleEeprom{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

inline QJsonObject jsonOf(const std::string& s) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(s)).object();
}

inline Bytes bytesOf(const QJsonValue& v) {
    Bytes out;
    for (const QJsonValue& x : v.toArray())
        out.push_back(std::uint8_t(x.toInt()));
    return out;
}

inline Bytes frame(std::uint8_t code, const Bytes& block) {
    Bytes f(2 + block.size());
    f[0] = 0x55;
    f[1] = code;
    std::copy(block.begin(), block.end(), f.begin() + 2);
    return f;
}

// A sensor on a pseudo-terminal, answering from its own thread: the line check, RAM and
// EEPROM blocks (writes change them), live records, the jump buffer. Keeps every frame.
class PtySensor {
  public:
    PtySensor() {
        if (!pty_.ok()) return;
        fd_ = pty_.fd();
        // The far end stays usable while the gateway opens and closes its side.
        keep_ = ::open(pty_.path().c_str(), O_RDWR | O_NOCTTY);
        thread_ = std::thread([this] { run(); });
    }
    ~PtySensor() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (keep_ >= 0) ::close(keep_);
    }
    bool ok() const { return pty_.ok(); }
    const std::string& path() const { return pty_.path(); }

    std::vector<Bytes> frames() {
        std::lock_guard<std::mutex> lock(m_);
        return frames_;
    }
    // Frames with a code other than the live request's, from `from` on.
    std::vector<Bytes> framesBesidesLive(std::size_t from = 0) {
        std::vector<Bytes> out;
        const auto all = frames();
        for (std::size_t i = from; i < all.size(); ++i)
            if (all[i][1] != 5) out.push_back(all[i]);
        return out;
    }
    // Waits (up to `ms`) until `count` such frames have come, and returns them.
    std::vector<Bytes> waitBesidesLive(std::size_t from, std::size_t count, int ms = 3000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        auto out = framesBesidesLive(from);
        while (out.size() < count && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            out = framesBesidesLive(from);
        }
        return out;
    }
    Bytes ram() {
        std::lock_guard<std::mutex> lock(m_);
        return ram_;
    }
    void silent(bool on) { silent_ = on; }

  private:
    void run() {
        Bytes in;
        std::uint8_t counter = 0;
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) continue;
            in.insert(in.end(), buf, buf + n);
            while (in.size() >= 17) {
                Bytes f(in.begin(), in.begin() + 17);
                in.erase(in.begin(), in.begin() + 17);
                Bytes answer;
                {
                    std::lock_guard<std::mutex> lock(m_);
                    frames_.push_back(f);
                    const Bytes block(f.begin() + 2, f.end());
                    switch (f[1]) {
                    case 1:
                        ram_ = block;
                        break;
                    case 2:
                        eeprom_ = block;
                        break;
                    case 3:
                        answer = ram_;
                        break;
                    case 4:
                        answer = eeprom_;
                        break;
                    case 5:
                        ++counter;
                        answer = {counter, 20, 30, 0x2C, 0x01, 0xE8, 0x03, 0xF4, 0x01, 77};
                        break;
                    case 6:
                        for (int i = 0; i < 16; ++i)
                            answer.push_back(std::uint8_t(10 + i));
                        break;
                    case 7:
                        answer = {0xAA, 0x03, 0x00};
                        break;
                    }
                }
                if (!answer.empty() && !silent_) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    (void)!::write(fd_, answer.data(), answer.size());
                }
            }
        }
    }

    Pty pty_;
    int fd_ = -1, keep_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false}, silent_{false};
    std::mutex m_;
    std::vector<Bytes> frames_;
    Bytes ram_ = sampleRam, eeprom_ = sampleEeprom;
};

// The stand-alone simulated sensor behind a symbolic link.
class SimSensor {
  public:
    explicit SimSensor(std::string link) : link_(std::move(link)) {}
    ~SimSensor() { stop(); }
    bool start() {
        p_.start(VARNO_SENSOR_SIM_PATH, {QString::fromStdString(link_).prepend("--link=")});
        // The terminal's path on stdout says the link is in place.
        return p_.waitForStarted(5000) && p_.waitForReadyRead(5000);
    }
    void stop() {
        if (p_.state() == QProcess::NotRunning) return;
        p_.terminate();
        if (!p_.waitForFinished(5000)) p_.kill();
        p_.waitForFinished(2000);
    }
    const std::string& link() const { return link_; }

  private:
    std::string link_;
    QProcess p_;
};

// varno-gateway as a child process; what it logs goes to a file.
class GatewayProcess {
  public:
    explicit GatewayProcess(const QString& logFile) : log_(logFile) {}
    ~GatewayProcess() {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(3000);
        }
    }
    bool start(const QStringList& args) {
        p_.setStandardOutputFile(log_, QIODevice::Append);
        p_.setStandardErrorFile(log_, QIODevice::Append);
        p_.start(VARNO_GATEWAY_PATH, args);
        return p_.waitForStarted(5000);
    }
    // SIGTERM; the exit code, or -1 when it did not end within `ms`.
    int terminate(int ms = 10000) {
        p_.terminate();
        if (!p_.waitForFinished(ms)) return -1;
        return p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -2;
    }
    void signal(int sig) { ::kill(pid_t(p_.processId()), sig); }
    int waitExit(int ms) {
        if (!p_.waitForFinished(ms)) return -1;
        return p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -2;
    }
    std::string log() const {
        QFile f(log_);
        f.open(QIODevice::ReadOnly);
        return f.readAll().toStdString();
    }
    QProcess& process() { return p_; }

  private:
    QString log_;
    QProcess p_;
};

// The gateway's messages seen by a client, decoded.
inline std::vector<QJsonObject> payloads(const mqtt_test::Client& c, const std::string& filter) {
    std::vector<QJsonObject> out;
    for (const auto& m : c.messages(filter))
        out.push_back(jsonOf(m.payload));
    return out;
}

// seq of every live message, in arrival order.
inline std::vector<long long> seqs(const mqtt_test::Client& c, const std::string& filter) {
    std::vector<long long> out;
    for (const auto& o : payloads(c, filter))
        out.push_back(o["seq"].toInteger());
    return out;
}

// True when the live seq values seen cover every number from the first to the last, each
// first seen in order (a duplicate after a reconnect is allowed; a gap is not).
inline ::testing::AssertionResult continuous(const std::vector<long long>& s) {
    if (s.empty()) return ::testing::AssertionFailure() << "no live messages";
    long long next = s.front();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] < next) continue; // a repeat of one already seen
        if (s[i] != next)
            return ::testing::AssertionFailure()
                   << "seq " << next << " missing (" << s[i] << " came at index " << i << ")";
        ++next;
    }
    return ::testing::AssertionSuccess() << s.front() << ".." << next - 1;
}

// A real broker, a subscriber on varno/#, a scripted sensor on a pty and the gateway
// for it as sensor s1: what most of the gateway's tests start from.
class GatewayOnPty : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    mqtt_test::Broker broker;
    PtySensor sensor;
    mqtt_test::Client sub;
    std::unique_ptr<GatewayProcess> gw;
    const std::string base = "varno/s1/";

    explicit GatewayOnPty(mqtt_test::BrokerOptions o = {}) : broker(std::move(o)) {}
    void SetUp() override {
        ASSERT_TRUE(sensor.ok());
        ASSERT_TRUE(broker.start()) << broker.error();
        ASSERT_TRUE(sub.connect(broker.port())) << sub.error();
        ASSERT_TRUE(sub.subscribe("varno/#"));
    }
    void startGateway(QStringList extra = {}) {
        gw = std::make_unique<GatewayProcess>(dir.filePath("gw.log"));
        QStringList args{"--port",      QString::fromStdString(sensor.path()),
                         "--broker",    QString::fromStdString(broker.url()),
                         "--sensor",    "s1",
                         "--keepalive", "5"};
        ASSERT_TRUE(gw->start(args + extra));
    }
    // Waits until the gateway runs live cycles (a live message arrived).
    void waitLive() { ASSERT_TRUE(sub.waitForCount(base + "live", 2, 15000)) << gw->log(); }
    // The reply with this id, received so far or within `ms`.
    std::optional<mqtt_test::Message> replyWithId(const std::string& id, int ms = 10000) {
        return sub.waitForMessage(base + "reply", ms, [&](const mqtt_test::Message& m) {
            return jsonOf(m.payload)["id"].toString().toStdString() == id;
        });
    }
};
