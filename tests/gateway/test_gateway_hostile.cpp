// varno-gateway against a hostile or careless network, each case on a real broker with the
// real program and a scripted sensor: no command silences it, floods stay bounded, every
// refusal is true, and nothing refused reaches the line.
#include "gateway_fixture.h"

#include <QDir>
#include <QFileInfo>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

class GatewayHostile : public GatewayOnPty {
  protected:
    explicit GatewayHostile(mqtt_test::BrokerOptions o = {}) : GatewayOnPty(std::move(o)) {}
    // Live messages arriving within `ms` from now.
    std::size_t liveWithin(int ms) {
        const std::size_t before = sub.messages(base + "live").size();
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return sub.messages(base + "live").size() - before;
    }
    std::size_t writesOnLine(std::size_t from = 0) {
        std::size_t n = 0;
        for (const Bytes& f : sensor.framesBesidesLive(from))
            n += f[1] == 1 || f[1] == 2;
        return n;
    }
};

// ---- response topics and properties -----------------------------------------------------

TEST_F(GatewayHostile, AWildcardResponseTopicIsRefusedAndNothingStops) {
    startGateway();
    waitLive();
    for (const char* topic : {"a/+/b", "x/#"}) {
        mqtt_test::PublishProperties props;
        props.responseTopic = topic;
        const std::string id = std::string("wild-") + topic;
        ASSERT_TRUE(sub.publish(base + "cmd/check", R"({"id":")" + id + R"("})", 1, false, props)
                        .accepted());
        auto r = replyWithId(id);
        ASSERT_TRUE(r) << gw->log();
        EXPECT_FALSE(jsonOf(r->payload)["ok"].toBool());
        EXPECT_NE(r->payload.find("wildcard"), std::string::npos) << r->payload;
    }
    // Live records and replies go on within 3 s.
    EXPECT_GE(liveWithin(3000), 10u) << gw->log();
    ASSERT_TRUE(sub.publish(base + "cmd/check", R"({"id":"after"})").accepted());
    auto after = replyWithId("after", 3000);
    ASSERT_TRUE(after) << gw->log();
    EXPECT_TRUE(jsonOf(after->payload)["ok"].toBool());
}

TEST_F(GatewayHostile, CorrelationDataBeyondTheBoundIsRefused) {
    startGateway();
    waitLive();
    mqtt_test::PublishProperties props;
    props.responseTopic = "app/r";
    props.correlationData = std::string(5000, 'c');
    ASSERT_TRUE(sub.publish(base + "cmd/check", R"({"id":"big"})", 1, false, props).accepted());
    auto r = replyWithId("big");
    ASSERT_TRUE(r) << gw->log();
    EXPECT_FALSE(jsonOf(r->payload)["ok"].toBool());
    EXPECT_NE(r->payload.find("correlation data"), std::string::npos) << r->payload;
    EXPECT_TRUE(sensor.framesBesidesLive().size() <= 2u); // the start's check and read only
}

// A broker whose packets are small: a reply too large for it is refused by the client
// library; it is dropped and counted, and what follows still leaves.
class GatewaySmallPackets : public GatewayHostile {
  protected:
    GatewaySmallPackets() : GatewayHostile(smallPackets()) {}
    static mqtt_test::BrokerOptions smallPackets() {
        mqtt_test::BrokerOptions o;
        o.extraConfig = "max_packet_size 900\n";
        return o;
    }
};

TEST_F(GatewaySmallPackets, AReplyTheBrokerCannotTakeIsDroppedAndCounted) {
    startGateway();
    waitLive();
    mqtt_test::PublishProperties props;
    props.responseTopic = "app/" + std::string(850, 'r'); // under our bound, over the broker's
    ASSERT_TRUE(sub.publish(base + "cmd/check", R"({"id":"long"})", 1, false, props).accepted());
    ASSERT_TRUE(replyWithId("long")) << gw->log(); // on reply, which fits
    EXPECT_GE(liveWithin(3000), 10u) << gw->log();
    auto st = sub.waitForMessage(base + "status", 5000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["refused"].toInt() >= 1;
    });
    ASSERT_TRUE(st) << gw->log();
    EXPECT_EQ(jsonOf(st->payload)["state"].toString(), "online");
}

// ---- retained commands, values ------------------------------------------------------------

TEST_F(GatewayHostile, ARetainedCommandPublishedWhileListeningIsRefusedAndItsClearingIgnored) {
    startGateway({"--allow-write", "ram"});
    waitLive();
    const std::size_t mark = sensor.frames().size();
    ASSERT_TRUE(sub.publish(base + "cmd/write",
                            R"({"id":"ret","to":"ram","values":[1,1,1,1,1,1,1,1,1,1,1,1,1,1,1]})",
                            1, true)
                    .accepted());
    auto r = replyWithId("ret");
    ASSERT_TRUE(r) << gw->log();
    EXPECT_FALSE(jsonOf(r->payload)["ok"].toBool());
    EXPECT_NE(r->payload.find("retained"), std::string::npos);
    // Clearing it draws no reply.
    const std::size_t replies = sub.messages(base + "reply").size();
    ASSERT_TRUE(sub.publish(base + "cmd/write", "", 1, true).accepted());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(sub.messages(base + "reply").size(), replies);
    EXPECT_EQ(writesOnLine(mark), 0u);
    EXPECT_EQ(sensor.ram(), sampleRam);
}

TEST_F(GatewayHostile, ValuesThatAreNotExactlyWholeAreRefusedNothingOnTheLine) {
    startGateway({"--allow-write", "ram"});
    waitLive();
    const std::size_t mark = sensor.frames().size();
    ASSERT_TRUE(
        sub.publish(base + "cmd/write",
                    R"({"id":"v","to":"ram","values":[99.9999999,1,1,1,1,1,1,1,1,1,1,1,1,1,1]})")
            .accepted());
    auto r = replyWithId("v");
    ASSERT_TRUE(r);
    EXPECT_FALSE(jsonOf(r->payload)["ok"].toBool());
    EXPECT_NE(r->payload.find("values[0] (99.9999999) is not a whole number"), std::string::npos)
        << r->payload;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(writesOnLine(mark), 0u);
}

// ---- floods -------------------------------------------------------------------------------

TEST_F(GatewayHostile, LiveRecordsGoOnThroughAFloodOfChecksAndTheQueueIsBounded) {
    startGateway();
    waitLive();
    for (int i = 0; i < 300; ++i)
        sub.publish(base + "cmd/check", R"({"id":"f)" + std::to_string(i) + R"("})", 0);
    // Commands and live cycles take turns: at least 2 records a second meanwhile.
    const std::size_t live = liveWithin(4000);
    EXPECT_GE(live, 8u) << gw->log();
    // Beyond the queue's bound the rest are answered busy at once, nothing sent for them.
    ASSERT_TRUE(sub.waitFor(
        [](const std::vector<mqtt_test::Message>& ms) {
            return std::count_if(ms.begin(), ms.end(), [](const mqtt_test::Message& m) {
                       return m.payload.find("busy") != std::string::npos;
                   }) > 100;
        },
        10000));
    std::size_t checks = 0;
    for (const Bytes& f : sensor.framesBesidesLive())
        checks += f[1] == 7;
    EXPECT_LT(checks, 100u); // the start's one and at most the queue's worth and a few
}

TEST_F(GatewayHostile, AWriteAmidAFloodOfRefusedCommandsIsAudited) {
    startGateway({"--allow-write", "ram"});
    waitLive();
    for (int i = 0; i < 3000; ++i)
        sub.publish(base + "cmd/nonsense", "{}", 0);
    ASSERT_TRUE(sub.publish(base + "cmd/write",
                            R"({"id":"w","to":"ram","values":[5,6,7,8,9,10,11,12,13,14,15,16,17,18,19],"verify":true,"by":"anna"})")
                    .accepted());
    for (int i = 0; i < 5000; ++i)
        sub.publish(base + "cmd/nonsense", "{}", 0);
    auto audit = sub.waitForMessage(base + "audit", 30000);
    ASSERT_TRUE(audit) << gw->log().substr(0, 2000);
    const QJsonObject a = jsonOf(audit->payload);
    EXPECT_EQ(a["id"].toString(), "w");
    EXPECT_EQ(a["by"].toString(), "anna");
    EXPECT_EQ(a["verify"].toString(), "match");
    // The replies dropped under the flood are counted and said.
    auto st = sub.waitForMessage(base + "status", 10000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["dropped_replies"].toInt() > 0;
    });
    EXPECT_TRUE(st) << "no status counted dropped replies";
}

// ---- the sensor side: busy port, unknown blocks -----------------------------------------

TEST_F(GatewayHostile, APortAnotherProgramHoldsIsPortBusy) {
    startGateway();
    waitLive();
    GatewayProcess second(dir.filePath("gw2.log"));
    ASSERT_TRUE(second.start({"--port", QString::fromStdString(sensor.path()), "--broker",
                              QString::fromStdString(broker.url()), "--sensor", "s2"}));
    auto st = sub.waitForMessage("varno/s2/status", 10000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "port-busy";
    });
    ASSERT_TRUE(st) << second.log();
    EXPECT_EQ(second.terminate(), 0);
}

TEST_F(GatewayHostile, AWriteToASilentSensorClaimsNothingItDoesNotKnow) {
    startGateway({"--allow-write", "ram"});
    waitLive();
    sensor.silent(true);
    ASSERT_TRUE(sub.waitForMessage(base + "status", 10000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "no-reply";
    }));
    const std::size_t params = sub.messages(base + "params").size();
    ASSERT_TRUE(sub.publish(base + "cmd/write",
                            R"({"id":"s","to":"ram","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15],"verify":true})")
                    .accepted());
    auto audit = sub.waitForMessage(base + "audit", 20000);
    ASSERT_TRUE(audit) << gw->log();
    const QJsonObject a = jsonOf(audit->payload);
    EXPECT_TRUE(a["before"].isNull()) << audit->payload;
    EXPECT_TRUE(a["after"].isNull()) << audit->payload;
    EXPECT_EQ(a["verify"].toString(), "failed");
    auto r = replyWithId("s", 5000);
    ASSERT_TRUE(r);
    EXPECT_FALSE(jsonOf(r->payload)["ok"].toBool());
    EXPECT_EQ(sub.messages(base + "params").size(), params); // nothing claimed as its block
}

// ---- signals, the will ----------------------------------------------------------------------

TEST_F(GatewayHostile, SighupEndsCleanlyAndTheWillNamesItsConnection) {
    startGateway();
    waitLive();
    gw->signal(SIGHUP);
    EXPECT_EQ(gw->waitExit(10000), 0) << gw->log();
    auto off = sub.waitForMessage(base + "status", 5000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "offline";
    });
    ASSERT_TRUE(off);
    EXPECT_TRUE(jsonOf(off->payload).contains("since")); // a clean stop knows when

    sub.clear();
    startGateway();
    waitLive();
    gw->signal(SIGKILL);
    auto will = sub.waitForMessage(base + "status", 10000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "offline";
    });
    ASSERT_TRUE(will);
    const QJsonObject w = jsonOf(will->payload);
    EXPECT_FALSE(w.contains("since")) << will->payload;
    EXPECT_TRUE(w.contains("connected")) << will->payload;
}

// ---- ids ----------------------------------------------------------------------------------

TEST_F(GatewayHostile, PrefixesThatOnceGaveOneClientIdBothStayOnline) {
    PtySensor other;
    ASSERT_TRUE(other.ok());
    GatewayProcess a(dir.filePath("a.log")), b(dir.filePath("b.log"));
    ASSERT_TRUE(a.start({"--port", QString::fromStdString(sensor.path()), "--broker",
                         QString::fromStdString(broker.url()), "--prefix", "a/b", "--sensor",
                         "s1"}));
    ASSERT_TRUE(b.start({"--port", QString::fromStdString(other.path()), "--broker",
                         QString::fromStdString(broker.url()), "--prefix", "a-b", "--sensor",
                         "s1"}));
    ASSERT_TRUE(sub.subscribe("a/#"));
    ASSERT_TRUE(sub.subscribe("a-b/#"));
    std::this_thread::sleep_for(std::chrono::seconds(8));
    for (const char* t : {"a/b/s1/status", "a-b/s1/status"}) {
        const auto st = payloads(sub, t);
        ASSERT_FALSE(st.empty()) << t;
        EXPECT_LE(st.size(), 2u) << t << "\n" << a.log() << b.log();
        EXPECT_EQ(st.back()["state"].toString(), "online") << t;
    }
}

TEST_F(GatewayHostile, TwoPortNamesGivingOneSensorIdAreAClearError) {
    const QString l1 = dir.filePath("s.1"), l2 = dir.filePath("s 1");
    ASSERT_TRUE(QFile::link(QString::fromStdString(sensor.path()), l1));
    PtySensor other;
    ASSERT_TRUE(QFile::link(QString::fromStdString(other.path()), l2));
    GatewayProcess a(dir.filePath("a.log")), b(dir.filePath("b.log"));
    ASSERT_TRUE(a.start({"--port", l1, "--broker", QString::fromStdString(broker.url())}));
    ASSERT_TRUE(sub.waitForCount(base + "live", 1, 15000)) << a.log();
    ASSERT_TRUE(b.start({"--port", l2, "--broker", QString::fromStdString(broker.url())}));
    EXPECT_EQ(b.waitExit(5000), 4) << b.log();
    EXPECT_NE(b.log().find("another varno-gateway already publishes varno/s1/"),
              std::string::npos)
        << b.log();
    EXPECT_NE(b.log().find("--sensor"), std::string::npos);
    EXPECT_EQ(a.process().state(), QProcess::Running);
}

// ---- options and config files -------------------------------------------------------------

TEST_F(GatewayHostile, ConfigFilesThatAreNoFilesAndBadPrefixesEndAtOnce) {
    GatewayProcess g(dir.filePath("opt.log"));
    auto run = [&](const QStringList& args) {
        GatewayProcess p(dir.filePath("run.log"));
        EXPECT_TRUE(p.start(args + QStringList{"--port", QString::fromStdString(sensor.path()),
                                               "--broker",
                                               QString::fromStdString(broker.url())}));
        const int rc = p.waitExit(5000);
        return std::make_pair(rc, p.log());
    };
    auto [dirRc, dirLog] = run({"--config", dir.path()});
    EXPECT_EQ(dirRc, 4) << dirLog;
    EXPECT_NE(dirLog.find("a directory"), std::string::npos) << dirLog;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    auto [fifoRc, fifoLog] = run({"--config", fifo});
    EXPECT_EQ(fifoRc, 4) << fifoLog;
    QFile nul(dir.filePath("nul.conf"));
    ASSERT_TRUE(nul.open(QIODevice::WriteOnly));
    nul.write(QByteArray("keepalive 10\nsensor s\0x\n", 24));
    nul.close();
    auto [nulRc, nulLog] = run({"--config", nul.fileName()});
    EXPECT_EQ(nulRc, 4);
    EXPECT_NE(nulLog.find("line 2: holds a NUL byte"), std::string::npos) << nulLog;
    QFile longLine(dir.filePath("long.conf"));
    ASSERT_TRUE(longLine.open(QIODevice::WriteOnly));
    longLine.write("prefix " + QByteArray(5000, 'p') + "\n");
    longLine.close();
    EXPECT_EQ(run({"--config", longLine.fileName()}).first, 4);
    EXPECT_EQ(run({"--config", nul.fileName(), "--config", nul.fileName()}).first, 2);
    {
        // A byte that is not UTF-8 in argv, as a shell passes it.
        QProcess p;
        p.start("/bin/sh", {"-c", "exec \"$0\" --prefix \"$(printf 'pl\\377ant')\" --port \"$1\" "
                                  "--broker \"$2\"",
                            VARNO_GATEWAY_PATH, QString::fromStdString(sensor.path()),
                            QString::fromStdString(broker.url())});
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitCode(), 2) << p.readAllStandardError().toStdString();
    }
    EXPECT_EQ(run({"--prefix", "pl\x7f" "ant"}).first, 2);
    EXPECT_EQ(run({"--prefix", "$SYS"}).first, 2);
    EXPECT_EQ(run({"--prefix", "varno/s1", "--sensor", "cmd"}).first, 2);
    EXPECT_EQ(run({"--trace=maybe"}).first, 2);
    // "-3" is no port: the same answer as varno-cli's, never "COM-3" waited for.
    auto [minusRc, minusLog] = run({"--port", "-3"});
    EXPECT_EQ(minusRc, 2) << minusLog;
    EXPECT_NE(minusLog.find("--port wants a device path or a COM number from 1 to 255"),
              std::string::npos)
        << minusLog;
    // Nothing of any of them reached the line.
    EXPECT_TRUE(sensor.frames().empty());
}

// ---- the broker: refusals, silence --------------------------------------------------------

class GatewayAccounts : public GatewayHostile {
  protected:
    GatewayAccounts() : GatewayHostile(accounts()) {}
    static mqtt_test::BrokerOptions accounts() {
        mqtt_test::BrokerOptions o;
        o.users = {{"gw", "right"}};
        return o;
    }
    void SetUp() override {
        ASSERT_TRUE(sensor.ok());
        ASSERT_TRUE(broker.start()) << broker.error();
    }
};

TEST_F(GatewayAccounts, AWrongPasswordIsLoggedWithItsReasonAndNotHammered) {
    QFile pw(dir.filePath("pw"));
    ASSERT_TRUE(pw.open(QIODevice::WriteOnly));
    pw.write("wrong\n");
    pw.close();
    pw.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    startGateway({"--username", "gw", "--password-file", pw.fileName()});
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const std::string log = gw->log();
    // mosquitto 2.0 answers a wrong password with "not authorized" (MQTT 5 reason 0x87).
    EXPECT_NE(log.find("connection refused: Not authorized"), std::string::npos) << log;
    EXPECT_EQ(log.find("unknown reason"), std::string::npos) << log;
    EXPECT_NE(log.find("asking again every 30 s"), std::string::npos) << log;
    EXPECT_NE(log.find("can be read by everyone"), std::string::npos) << log;
    // Said once, not at every attempt, and no attempt again within the 30 s.
    std::size_t said = 0;
    for (std::size_t at = log.find("connection refused"); at != std::string::npos;
         at = log.find("connection refused", at + 1))
        ++said;
    EXPECT_EQ(said, 1u) << log;
}

// A broker that accepts the connection, then sends one byte of a packet every second: no
// whole packet is silence, noticed within 1.5 x keepalive.
TEST(GatewayTrickle, ABrokerThatTricklesBytesIsGivenUp) {
    const int srv = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(srv, 0);
    int one = 1;
    ::setsockopt(srv, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(srv, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(srv, reinterpret_cast<sockaddr*>(&addr), &len);
    ::listen(srv, 4);
    const int port = ntohs(addr.sin_port);
    std::atomic<bool> stop{false};
    std::atomic<int> connections{0};
    std::thread fake([&] {
        while (!stop) {
            pollfd p{srv, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int c = ::accept(srv, nullptr, nullptr);
            if (c < 0) continue;
            ++connections;
            std::uint8_t buf[512];
            (void)!::read(c, buf, sizeof buf); // CONNECT
            // CONNACK for MQTT 5: success, no properties; then a PUBLISH that never ends.
            const std::uint8_t connack[] = {0x20, 0x03, 0x00, 0x00, 0x00};
            (void)!::write(c, connack, sizeof connack);
            const std::uint8_t start[] = {0x30, 0x7F};
            (void)!::write(c, start, sizeof start);
            for (int i = 0; i < 30 && !stop; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1000));
                const std::uint8_t b = 'x';
                if (::write(c, &b, 1) != 1) break;
                while (::recv(c, buf, sizeof buf, MSG_DONTWAIT) > 0) {
                }
            }
            ::close(c);
        }
    });
    PtySensor sensor;
    QTemporaryDir dir;
    GatewayProcess gw(dir.filePath("gw.log"));
    ASSERT_TRUE(gw.start({"--port", QString::fromStdString(sensor.path()), "--broker",
                          "mqtt://127.0.0.1:" + QString::number(port), "--sensor", "s1",
                          "--keepalive", "5"}));
    const auto t0 = std::chrono::steady_clock::now();
    bool noticed = false;
    while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(12) && !noticed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        noticed = gw.log().find("stopped answering") != std::string::npos;
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    stop = true;
    gw.terminate();
    fake.join();
    ::close(srv);
    EXPECT_TRUE(noticed) << gw.log();
    EXPECT_LT(took, 9.0); // 1.5 x 5 s, and the start
}

} // namespace
