// A gateway gives its port away on request (cmd/yield, cmd/resume), so that the panel or
// varno-cli can use the sensor meanwhile; a port a gateway holds is named as the gateway's.
#include "gateway_fixture.h"

namespace {

class GatewayYield : public GatewayOnPty {
  protected:
    void SetUp() override {
        GatewayOnPty::SetUp();
        if (HasFatalFailure()) return;
        startGateway();
        waitLive();
    }
    std::optional<mqtt_test::Message> status(const char* state, int ms) {
        return sub.waitForMessage(base + "status", ms, [state](const mqtt_test::Message& m) {
            return jsonOf(m.payload)["state"].toString() == state;
        });
    }
    // varno-cli on the sensor's port: exit code and what it printed.
    std::pair<int, std::string> cli(const QStringList& args) {
        QProcess p;
        p.start(VARNO_CLI_PATH, QStringList{"--port", QString::fromStdString(sensor.path())} + args);
        if (!p.waitForFinished(15000)) return {-1, "did not end"};
        return {p.exitCode(), (p.readAllStandardOutput() + p.readAllStandardError()).toStdString()};
    }
};

TEST_F(GatewayYield, APortAGatewayHoldsIsNamedAsTheGatewaysWithHowToGetIt) {
    const auto [rc, out] = cli({"check"});
    EXPECT_EQ(rc, 4) << out;
    EXPECT_NE(out.find("varno-gateway holds it for the sensor s1"), std::string::npos) << out;
    EXPECT_NE(out.find("varno/s1/cmd/yield"), std::string::npos) << out;
    EXPECT_NE(out.find("systemctl stop varno-gateway@s1"), std::string::npos) << out;
}

TEST_F(GatewayYield, YieldedThePortIsFreeThenTakenBackByItself) {
    ASSERT_TRUE(sub.publish(base + "cmd/yield", R"({"id":"y","seconds":5})").accepted());
    auto y = status("yielded", 5000);
    ASSERT_TRUE(y) << gw->log();
    EXPECT_FALSE(jsonOf(y->payload)["until"].toString().isEmpty()) << y->payload;
    const auto t0 = std::chrono::steady_clock::now();
    sub.clear(); // from here on, only what came after the yield
    // No live records meanwhile, and the port opens for varno-cli.
    const std::size_t live = sub.messages(base + "live").size();
    const auto [rc, out] = cli({"check"});
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("LINE OK"), std::string::npos) << out;
    EXPECT_LE(sub.messages(base + "live").size(), live + 1); // one in flight at most
    // A command meanwhile is refused with nothing sent.
    ASSERT_TRUE(sub.publish(base + "cmd/check", R"({"id":"c"})").accepted());
    auto c = sub.waitForMessage(base + "reply", 5000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["id"].toString() == "c";
    });
    ASSERT_TRUE(c);
    EXPECT_NE(c->payload.find("yielded until"), std::string::npos) << c->payload;
    // Back online within 10 s of the yield, live records again.
    ASSERT_TRUE(status("online", 10000)) << gw->log();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_TRUE(sub.waitForCount(base + "live", sub.messages(base + "live").size() + 2, 5000));
}

TEST_F(GatewayYield, ResumeTakesThePortBackNowAndBadSecondsAreRefused) {
    for (const char* bad : {R"({"id":"b","seconds":0})", R"({"id":"b","seconds":3601})",
                            R"({"id":"b","seconds":1.5})", R"({"id":"b"})"}) {
        sub.clear();
        ASSERT_TRUE(sub.publish(base + "cmd/yield", bad).accepted());
        auto r = sub.waitForMessage(base + "reply", 5000);
        ASSERT_TRUE(r) << bad;
        EXPECT_FALSE(jsonOf(r->payload)["ok"].toBool()) << bad;
        EXPECT_NE(r->payload.find("must be a whole number of seconds from 1 to 3600"), std::string::npos)
            << r->payload;
    }
    ASSERT_TRUE(sub.publish(base + "cmd/yield", R"({"seconds":600})").accepted());
    ASSERT_TRUE(status("yielded", 5000));
    const auto t0 = std::chrono::steady_clock::now();
    sub.clear();
    ASSERT_TRUE(sub.publish(base + "cmd/resume", R"({"id":"r"})").accepted());
    ASSERT_TRUE(status("online", 5000)) << gw->log();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

} // namespace
