// varno-gateway when things go away: the broker killed and restarted, the broker frozen,
// the sensor unplugged and back. Against the stand-alone simulated sensor.
#include "gateway_fixture.h"

#include <sys/stat.h>

namespace {

bool isState(const mqtt_test::Message& m, const char* state) {
    return jsonOf(m.payload)["state"].toString() == state;
}

class GatewayOutage : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::unique_ptr<mqtt_test::Broker> broker;
    std::unique_ptr<SimSensor> sim;
    std::unique_ptr<mqtt_test::Client> sub;
    std::unique_ptr<GatewayProcess> gw;
    const std::string base = "varno/sim/";

    QStringList extra; // further gateway options, set before SetUp runs

    void SetUp() override {
        mqtt_test::BrokerOptions bo;
        bo.persistence = true; // the subscriber's session survives the broker's death
        broker = std::make_unique<mqtt_test::Broker>(bo);
        ASSERT_TRUE(broker->start()) << broker->error();
        sim = std::make_unique<SimSensor>(dir.filePath("sensor").toStdString());
        ASSERT_TRUE(sim->start());
        mqtt_test::Client::Options co;
        co.clientId = "outage-watcher";
        co.persistentSession = true;
        sub = std::make_unique<mqtt_test::Client>(co);
        ASSERT_TRUE(sub->connect(broker->port())) << sub->error();
        ASSERT_TRUE(sub->subscribe("varno/#"));
        ASSERT_TRUE(broker->waitSaved());
        gw = std::make_unique<GatewayProcess>(dir.filePath("gw.log"));
        QStringList args{"--port",      QString::fromStdString(sim->link()),
                         "--broker",    QString::fromStdString(broker->url()),
                         "--sensor",    "sim",
                         "--keepalive", "5"};
        ASSERT_TRUE(gw->start(args + extra));
        ASSERT_TRUE(sub->waitForCount(base + "live", 5, 15000)) << gw->log();
    }
};

TEST_F(GatewayOutage, BrokerKilledAndRestartedLosesNothing) {
    const std::size_t before = sub->messages(base + "live").size();
    broker->kill9();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    ASSERT_TRUE(broker->restart()) << broker->error();
    // Records made while the broker was away arrive within 10 s of its return.
    ASSERT_TRUE(sub->waitForCount(base + "live", before + 60, 20000)) << gw->log();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(continuous(seqs(*sub, base + "live")));
    // Retained state is back for a newcomer.
    mqtt_test::Client late;
    ASSERT_TRUE(late.connect(broker->port()));
    ASSERT_TRUE(late.subscribe(base + "+"));
    auto st = late.waitForMessage(base + "status", 5000);
    ASSERT_TRUE(st);
    EXPECT_TRUE(st->retained);
    EXPECT_EQ(jsonOf(st->payload)["state"].toString(), "online");
    EXPECT_EQ(jsonOf(st->payload)["dropped"].toInt(), 0);
    auto params = late.waitForMessage(base + "params", 5000);
    ASSERT_TRUE(params);
    EXPECT_EQ(jsonOf(params->payload)["values"].toArray().size(), 15);
    EXPECT_EQ(gw->terminate(), 0);
}

TEST_F(GatewayOutage, BrokerFrozenIsNoticedAndNothingIsLost) {
    const std::size_t before = sub->messages(base + "live").size();
    broker->freeze();
    // keepalive 5: noticed within 7.5 s.
    const auto t0 = std::chrono::steady_clock::now();
    while (gw->log().find("stopped answering") == std::string::npos &&
           std::chrono::steady_clock::now() - t0 < std::chrono::seconds(12))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double noticed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(noticed, 8.5) << gw->log();
    EXPECT_GT(noticed, 2.0);
    broker->thaw();
    ASSERT_TRUE(sub->waitForCount(base + "live", before + 80, 25000)) << gw->log();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(continuous(seqs(*sub, base + "live")));
    // Whatever the will said meanwhile, the retained status ends online.
    mqtt_test::Client late;
    ASSERT_TRUE(late.connect(broker->port()));
    ASSERT_TRUE(late.subscribe(base + "status"));
    auto st = late.waitForMessage(base + "status", 5000);
    ASSERT_TRUE(st);
    EXPECT_EQ(jsonOf(st->payload)["state"].toString(), "online");
}

TEST_F(GatewayOutage, SensorUnpluggedIsPortLostThenOnlineAgain) {
    sim->stop();
    auto lost = sub->waitForMessage(
        base + "status", 8000, [](const mqtt_test::Message& m) { return isState(m, "port-lost"); });
    ASSERT_TRUE(lost) << gw->log();
    EXPECT_EQ(jsonOf(lost->payload)["port"].toString().toStdString(), sim->link());
    sub->clear();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_TRUE(sub->messages(base + "live").empty());
    ASSERT_TRUE(sim->start());
    auto back = sub->waitForMessage(
        base + "status", 10000, [](const mqtt_test::Message& m) { return isState(m, "online"); });
    ASSERT_TRUE(back) << gw->log();
    ASSERT_TRUE(sub->waitForCount(base + "live", 3, 10000));
    // seq goes on from where it was.
    const auto s = seqs(*sub, base + "live");
    EXPECT_GT(s.front(), 5);
    EXPECT_TRUE(continuous(s));
}

class GatewaySmallBuffer : public GatewayOutage {
  protected:
    void SetUp() override {
        extra = {"--buffer", "10"};
        GatewayOutage::SetUp();
    }
};

TEST_F(GatewaySmallBuffer, BeyondTheBufferTheOldestGoAndStatusCountsThem) {
    broker->kill9();
    std::this_thread::sleep_for(std::chrono::seconds(4)); // some 35 records, 10 kept
    ASSERT_TRUE(broker->restart()) << broker->error();
    auto st = sub->waitForMessage(base + "status", 15000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["dropped"].toInt() > 0;
    });
    ASSERT_TRUE(st) << gw->log();
    const long dropped = jsonOf(st->payload)["dropped"].toInt();
    EXPECT_GE(dropped, 15);
    ASSERT_TRUE(sub->waitForCount(base + "live", sub->messages(base + "live").size() + 20, 10000));
    // What the subscriber misses is exactly what status says was dropped, in one run.
    const auto s = seqs(*sub, base + "live");
    long missing = 0, last = 0;
    for (long long v : s) {
        if (v > last + 1) missing += long(v - last - 1);
        if (v > last) last = long(v);
    }
    EXPECT_EQ(missing, dropped);
}

} // namespace
