// The tests' MQTT broker and client themselves, against Debian's real mosquitto: what the
// gateway tests lean on has to hold first.
#include "mqtt_broker.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace mqtt_test;

namespace {

std::string sourceFile(const std::string& rel) {
    std::ifstream in(std::string(VARNO_SOURCE_DIR) + "/" + rel);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> payloads(const std::vector<Message>& ms) {
    std::vector<std::string> out;
    for (const auto& m : ms)
        out.push_back(m.payload);
    return out;
}

} // namespace

TEST(MqttHarness, BrokerAnswersAndCarriesRetainAndProperties) {
    Broker broker;
    ASSERT_TRUE(broker.start()) << broker.error();
    EXPECT_GT(broker.port(), 0);
    EXPECT_EQ(broker.url(), "mqtt://127.0.0.1:" + std::to_string(broker.port()));

    Client pub, sub;
    ASSERT_TRUE(pub.connect(broker.port())) << pub.error();
    ASSERT_TRUE(pub.publish("varno/s1/status", R"({"state": "online"})", 1, true).accepted());
    ASSERT_TRUE(sub.connect(broker.port())) << sub.error();
    ASSERT_TRUE(sub.subscribe("varno/#")) << sub.error();

    // The retained message arrives flagged as retained; a live one does not.
    auto status = sub.waitForMessage("varno/+/status", 5000);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->retained);
    EXPECT_EQ(status->payload, R"({"state": "online"})");

    PublishProperties props;
    props.responseTopic = "varno/s1/reply/op-7";
    props.correlationData = std::string("\x01\x00\xff", 3);
    props.userProperties = {{"by", "operator"}};
    const auto r = pub.publish("varno/s1/cmd/read", R"({"from": "eeprom"})", 1, false, props);
    ASSERT_TRUE(r.accepted()) << r.error << " " << r.reasonCode;
    EXPECT_EQ(r.reasonCode, 0);
    auto cmd = sub.waitForMessage("varno/s1/cmd/#", 5000);
    ASSERT_TRUE(cmd);
    EXPECT_FALSE(cmd->retained);
    EXPECT_EQ(cmd->qos, 1);
    EXPECT_EQ(cmd->topic, "varno/s1/cmd/read");
    EXPECT_EQ(cmd->responseTopic.value_or(""), "varno/s1/reply/op-7");
    EXPECT_EQ(cmd->correlationData.value_or(""), std::string("\x01\x00\xff", 3));
    ASSERT_EQ(cmd->userProperties.size(), 1u);
    EXPECT_EQ(cmd->userProperties[0].second, "operator");

    // In order, none lost, and the filter picks only its topics.
    for (int i = 1; i <= 50; ++i)
        ASSERT_TRUE(pub.publish("varno/s1/live", std::to_string(i)).accepted());
    ASSERT_TRUE(sub.waitForCount("varno/s1/live", 50, 5000));
    std::vector<std::string> want;
    for (int i = 1; i <= 50; ++i)
        want.push_back(std::to_string(i));
    EXPECT_EQ(payloads(sub.messages("varno/s1/live")), want);
    EXPECT_EQ(sub.messages("varno/+/status").size(), 1u);

    const pid_t pid = broker.pid();
    EXPECT_TRUE(broker.stop());
    EXPECT_FALSE(broker.running());
    EXPECT_NE(kill(pid, 0), 0) << "the broker's process is still there";
    EXPECT_TRUE(sub.waitConnected(false, 5000));
}

TEST(MqttHarness, RetainedAndSessionSurviveKillAndRestartWithPersistence) {
    BrokerOptions o;
    o.persistence = true;
    Broker broker(o);
    ASSERT_TRUE(broker.start()) << broker.error();
    const int port = broker.port();

    Client::Options so;
    so.clientId = "harness-watcher";
    so.persistentSession = true;
    Client sub(so);
    ASSERT_TRUE(sub.connect(port)) << sub.error();
    ASSERT_TRUE(sub.subscribe("varno/s1/live")) << sub.error();
    {
        Client pub;
        ASSERT_TRUE(pub.connect(port)) << pub.error();
        ASSERT_TRUE(pub.publish("varno/s1/params", "block-1", 1, true).accepted());
    }
    ASSERT_TRUE(broker.waitSaved()) << broker.error();

    const pid_t before = broker.pid();
    ASSERT_TRUE(broker.restart()) << broker.error();
    EXPECT_NE(broker.pid(), before);
    EXPECT_EQ(broker.port(), port);

    // Published at once after the restart, before the watcher is back: its session keeps
    // them for it, in order.
    Client pub;
    ASSERT_TRUE(pub.connect(port)) << pub.error();
    for (int i = 1; i <= 20; ++i)
        ASSERT_TRUE(pub.publish("varno/s1/live", std::to_string(i)).accepted());
    ASSERT_TRUE(sub.waitForCount("varno/s1/live", 20, 10000))
        << sub.messages().size() << " received\n"
        << broker.log();
    std::vector<std::string> want;
    for (int i = 1; i <= 20; ++i)
        want.push_back(std::to_string(i));
    EXPECT_EQ(payloads(sub.messages("varno/s1/live")), want);
    EXPECT_GE(sub.connects(), 2);

    Client late;
    ASSERT_TRUE(late.connect(port)) << late.error();
    ASSERT_TRUE(late.subscribe("varno/+/params"));
    auto params = late.waitForMessage("varno/s1/params", 5000);
    ASSERT_TRUE(params) << broker.log();
    EXPECT_TRUE(params->retained);
    EXPECT_EQ(params->payload, "block-1");
}

TEST(MqttHarness, WithoutPersistenceAKillLosesRetained) {
    Broker broker;
    ASSERT_TRUE(broker.start()) << broker.error();
    {
        Client pub;
        ASSERT_TRUE(pub.connect(broker.port())) << pub.error();
        ASSERT_TRUE(pub.publish("varno/s1/params", "block-1", 1, true).accepted());
    }
    ASSERT_TRUE(broker.restart()) << broker.error();
    Client late;
    ASSERT_TRUE(late.connect(broker.port())) << late.error();
    ASSERT_TRUE(late.subscribe("varno/#"));
    EXPECT_FALSE(late.waitForMessage("varno/s1/params", 500));
}

TEST(MqttHarness, DocumentedAclKeepsEachAccountToItsTopics) {
    BrokerOptions o;
    o.users = {{"operator", "op-secret"},
               {"dashboard", "dash-secret"},
               {"line1-s01", "gw1-secret"},
               {"line1-s02", "gw2-secret"}};
    o.acl = sourceFile("docs/examples/mosquitto-varno.acl");
    ASSERT_NE(o.acl.find("pattern"), std::string::npos);
    Broker broker(o);
    ASSERT_TRUE(broker.start()) << broker.error();

    auto account = [&](const std::string& user, const std::string& password) {
        Client::Options co;
        co.username = user;
        co.password = password;
        return std::make_unique<Client>(co);
    };
    auto watch = account("operator", "op-secret");
    ASSERT_TRUE(watch->connect(broker.port())) << watch->error();
    ASSERT_TRUE(watch->subscribe("varno/#"));

    auto gw = account("line1-s01", "gw1-secret");
    ASSERT_TRUE(gw->connect(broker.port())) << gw->error();
    ASSERT_TRUE(gw->subscribe("varno/line1-s01/cmd/#"));
    auto op = account("operator", "op-secret");
    ASSERT_TRUE(op->connect(broker.port())) << op->error();
    auto dash = account("dashboard", "dash-secret");
    ASSERT_TRUE(dash->connect(broker.port())) << dash->error();

    // A gateway publishes under its own sensor only, and never a command.
    EXPECT_EQ(gw->publish("varno/line1-s01/live", "own").reasonCode, 0);
    EXPECT_EQ(gw->publish("varno/line1-s02/live", "other").reasonCode, 0x87);
    EXPECT_EQ(gw->publish("varno/line1-s01/cmd/write", "self").reasonCode, 0x87);
    EXPECT_EQ(gw->publish("varno/line1-s02/cmd/write", "other").reasonCode, 0x87);
    // Only the operator sends commands; a dashboard only reads.
    EXPECT_EQ(dash->publish("varno/line1-s01/cmd/write", "dash").reasonCode, 0x87);
    EXPECT_EQ(op->publish("varno/line1-s01/cmd/write", "op").reasonCode, 0);
    EXPECT_EQ(op->publish("varno/line1-s02/cmd/read", "op2").reasonCode, 0);

    ASSERT_TRUE(watch->waitForCount("varno/#", 3, 5000));
    // The gateway receives its own command and not the other sensor's.
    auto cmd = gw->waitForMessage("varno/line1-s01/cmd/write", 5000);
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->payload, "op");
    // Nothing refused got through (the accepted ones before it arrived first).
    Client probe(Client::Options{"", "operator", "op-secret", 10, false});
    ASSERT_TRUE(probe.connect(broker.port()));
    ASSERT_TRUE(probe.publish("varno/line1-s01/end", "end").accepted());
    ASSERT_TRUE(watch->waitForMessage("varno/line1-s01/end", 5000));
    EXPECT_EQ(payloads(watch->messages("varno/#")),
              (std::vector<std::string>{"own", "op", "op2", "end"}));
    EXPECT_EQ(payloads(gw->messages()), std::vector<std::string>{"op"});

    // Wrong password and no account are refused at connect.
    auto bad = account("line1-s01", "wrong");
    EXPECT_FALSE(bad->connect(broker.port()));
    // mosquitto 2.0 answers a wrong password with "not authorized" (0x87), not 0x86.
    EXPECT_TRUE(bad->connackReason() == 0x86 || bad->connackReason() == 0x87)
        << bad->connackReason();
    Client anonymous;
    EXPECT_FALSE(anonymous.connect(broker.port()));
    EXPECT_GE(anonymous.connackReason(), 0x80);
}

TEST(MqttHarness, FrozenBrokerHoldsAcknowledgementsUntilThawed) {
    Broker broker;
    ASSERT_TRUE(broker.start()) << broker.error();
    Client pub, sub;
    ASSERT_TRUE(pub.connect(broker.port()));
    ASSERT_TRUE(sub.connect(broker.port()));
    ASSERT_TRUE(sub.subscribe("t/#"));
    broker.freeze();
    const auto r = pub.publish("t/x", "held", 1, false, {}, 500);
    EXPECT_FALSE(r.sent);
    EXPECT_TRUE(sub.messages().empty());
    broker.thaw();
    auto m = sub.waitForMessage("t/x", 5000);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, "held");
}
