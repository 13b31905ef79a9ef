// varno-gateway's parts without a broker: options and the config file, the commands'
// checks, the outbox's order and bounds, the payloads.
#include "sensor/params.h"
#include "text/json.h"
#include "gateway/commands.h"
#include "gateway/options.h"
#include "gateway/outbox.h"
#include "gateway/payloads.h"
#include "recording/record.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <fstream>
#include <string>
#include <vector>

using namespace gateway;

namespace {

int parse(std::vector<std::string> args, Options& o, std::string& error) {
    args.insert(args.begin(), "varno-gateway");
    std::vector<const char*> argv;
    for (auto& a : args)
        argv.push_back(a.c_str());
    return ParseArgs(int(argv.size()), argv.data(), o, error);
}

QJsonObject json(const std::string& s) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(s)).object();
}

} // namespace

// ---- options ----------------------------------------------------------------------------

TEST(GatewayOptions, DefaultsAsDocumented) {
    Options o;
    std::string e;
    ASSERT_EQ(parse({}, o, e), ExitDone) << e;
    EXPECT_EQ(o.port, "1");
    EXPECT_EQ(o.host, "localhost");
    EXPECT_EQ(o.brokerPort, 1883);
    EXPECT_FALSE(o.tls);
    EXPECT_EQ(o.prefix, "varno");
    EXPECT_EQ(o.allowWrite, WriteAllow::None);
    EXPECT_EQ(o.keepalive, 10);
    EXPECT_EQ(o.buffer, 36000);
}

TEST(GatewayOptions, BrokerUrls) {
    Options o;
    std::string e;
    ASSERT_EQ(parse({"--broker", "mqtts://broker.plant:9000"}, o, e), ExitDone) << e;
    EXPECT_TRUE(o.tls);
    EXPECT_EQ(o.host, "broker.plant");
    EXPECT_EQ(o.brokerPort, 9000);
    ASSERT_EQ(parse({"--broker=mqtts://b"}, o, e), ExitDone) << e;
    EXPECT_EQ(o.brokerPort, 8883);
    ASSERT_EQ(parse({"--broker", "mqtt://[::1]:1884"}, o, e), ExitDone) << e;
    EXPECT_EQ(o.host, "::1");
    EXPECT_EQ(o.brokerPort, 1884);
    for (const char* bad : {"http://x", "mqtt://", "mqtt://h:0", "mqtt://h:70000",
                            "mqtt://h:", "mqtt://user:pw@h", "tcp://h:1883", "mqtt://h/x"}) {
        EXPECT_EQ(parse({"--broker", bad}, o, e), ExitUsage) << bad;
        EXPECT_NE(e.find("--broker"), std::string::npos) << e;
    }
}

TEST(GatewayOptions, UsageErrorsExitTwoWithTheReason) {
    Options o;
    std::string e;
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--frobnicate"}, "unknown option --frobnicate"},
        {{"--port"}, "--port needs a value"},
        {{"--port", "COM256"}, "--port"},
        {{"--allow-write", "all"}, "--allow-write wants none, ram or eeprom"},
        {{"--keepalive", "2"}, "--keepalive"},
        {{"--keepalive", "ten"}, "--keepalive"},
        {{"--buffer", "0"}, "--buffer"},
        {{"--sensor", "a/b"}, "--sensor"},
        {{"--sensor", "a+"}, "--sensor"},
        {{"--prefix", "a/#"}, "--prefix"},
        {{"--prefix", "a//b"}, "--prefix"},
        {{"--password", "secret"}, "never given on the command line"},
        {{"--password-file", "/etc/hostname"}, "--password-file goes with --username"},
        {{"--cafile", "/etc/hostname"}, "mqtts://"},
        {{"--broker", "mqtts://h", "--cert", "/etc/hostname"}, "--cert and --key go together"},
        {{"stray"}, "unexpected argument"},
    };
    for (const auto& [args, why] : cases) {
        EXPECT_EQ(parse(args, o, e), ExitUsage) << args[0];
        EXPECT_NE(e.find(why), std::string::npos) << args[0] << ": " << e;
    }
}

TEST(GatewayOptions, AMissingFileIsAConfigurationError) {
    Options o;
    std::string e;
    EXPECT_EQ(parse({"--username", "gw", "--password-file", "/nonexistent/pw"}, o, e), ExitConfig);
    EXPECT_NE(e.find("/nonexistent/pw"), std::string::npos) << e;
    EXPECT_EQ(parse({"--config", "/nonexistent/gw.conf"}, o, e), ExitConfig);
    EXPECT_NE(e.find("/nonexistent/gw.conf"), std::string::npos) << e;
}

TEST(GatewayOptions, ConfigFileWithTheSameNamesTheCommandLineWins) {
    QTemporaryDir dir;
    const std::string conf = dir.filePath("gw.conf").toStdString();
    std::ofstream(conf) << "# line 3\n"
                           "port /dev/ttyUSB3\n"
                           "broker = mqtt://10.0.0.5:1884\n"
                           "--prefix=plant/line3   # a comment\n"
                           "\n"
                           "allow-write ram\n"
                           "keepalive 20\n"
                           "trace\n";
    Options o;
    std::string e;
    ASSERT_EQ(parse({"--config", conf, "--keepalive", "30"}, o, e), ExitDone) << e;
    EXPECT_EQ(o.port, "/dev/ttyUSB3");
    EXPECT_EQ(o.host, "10.0.0.5");
    EXPECT_EQ(o.brokerPort, 1884);
    EXPECT_EQ(o.prefix, "plant/line3");
    EXPECT_EQ(o.allowWrite, WriteAllow::Ram);
    EXPECT_EQ(o.keepalive, 30);
    EXPECT_TRUE(o.trace);

    std::ofstream(conf) << "port /dev/ttyUSB3\nbogus 1\n";
    EXPECT_EQ(parse({"--config", conf}, o, e), ExitConfig);
    EXPECT_NE(e.find("line 2"), std::string::npos) << e;
    EXPECT_NE(e.find("bogus"), std::string::npos) << e;
    std::ofstream(conf) << "allow-write everything\n";
    EXPECT_EQ(parse({"--config", conf}, o, e), ExitConfig);
    EXPECT_NE(e.find("line 1: --allow-write"), std::string::npos) << e;
    std::ofstream(conf) << "password hunter2\n";
    EXPECT_EQ(parse({"--config", conf}, o, e), ExitConfig);
}

TEST(GatewayOptions, PasswordFileFirstLineOnly) {
    QTemporaryDir dir;
    const std::string f = dir.filePath("pw").toStdString();
    std::ofstream(f) << "s3cret word\r\nsecond line\n";
    std::string pw, e;
    ASSERT_TRUE(ReadPasswordFile(f, pw, e)) << e;
    EXPECT_EQ(pw, "s3cret word");
}

TEST(GatewayOptions, SensorIdFromTheDevice) {
    EXPECT_EQ(SensorIdFor("/dev/ttyUSB0"), "ttyUSB0");
    EXPECT_EQ(SensorIdFor("/dev/pts/7"), "pts7");
    EXPECT_EQ(SensorIdFor("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
              "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(SensorIdFor("/tmp/x/line 3.sensor"), "line3sensor");
    EXPECT_TRUE(ValidSensorId("line3-left_2"));
    EXPECT_FALSE(ValidSensorId(""));
    EXPECT_FALSE(ValidSensorId("a b"));
}

// ---- commands ---------------------------------------------------------------------------

TEST(GatewayCommands, GoodCommandsAreRead) {
    Command c;
    std::string e;
    ASSERT_TRUE(ParseCommand("read", R"({"from":"eeprom","id":"r1","by":"anna"})", false, c, e))
        << e;
    EXPECT_EQ(c.kind, CommandKind::Read);
    EXPECT_EQ(c.target, 2);
    EXPECT_EQ(c.id, "r1");
    EXPECT_TRUE(c.hasId);
    EXPECT_EQ(c.by, "anna");
    ASSERT_TRUE(ParseCommand("read", "{}", false, c = Command{}, e)) << e;
    EXPECT_EQ(c.target, 1);
    EXPECT_FALSE(c.hasId);
    ASSERT_TRUE(ParseCommand(
        "write", R"({"to":"ram","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,255],"verify":true})",
        false, c = Command{}, e))
        << e;
    EXPECT_EQ(c.kind, CommandKind::Write);
    EXPECT_TRUE(c.verify);
    EXPECT_EQ(c.values[0], 1);
    EXPECT_EQ(c.values[14], 255);
    EXPECT_TRUE(ParseCommand("jumpbuf", "{}", false, c = Command{}, e)) << e;
    EXPECT_TRUE(ParseCommand("check", R"({"id":"c"})", false, c = Command{}, e)) << e;
}

TEST(GatewayCommands, EveryMalformedCommandIsRefusedWithItsReason) {
    const std::string v15 = "[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15]";
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"read", "", "empty"},
        {"read", "{", "invalid JSON"},
        {"read", "{\"from\":\"ram\",}", "invalid JSON"},
        {"read", "[]", "JSON object"},
        {"read", "42", "invalid JSON"},
        {"read", R"({"from":"flash"})", "\"from\" must be \"ram\" or \"eeprom\""},
        {"read", R"({"from":1})", "\"from\" must be"},
        {"read", R"({"to":"ram"})", "unknown key \"to\""},
        {"read", R"({"id":5})", "\"id\" must be a string"},
        {"read", R"({"by":"x","id":")" + std::string(65, 'a') + "\"}", "at most 64"},
        {"check", R"({"by":")" + std::string(65, 'b') + "\"}", "\"by\" must be at most 64"},
        {"jumpbuf", R"({"verify":true})", "unknown key \"verify\""},
        {"reboot", "{}", "unknown command \"reboot\""},
        {"write", R"({"values":)" + v15 + "}", "\"to\" is missing"},
        {"write", R"({"to":"ram"})", "\"values\" is missing"},
        {"write", R"({"to":"ram","values":"1 2 3"})", "\"values\" must be an array"},
        {"write", R"({"to":"ram","values":[1,2,3]})", "holds 3 numbers, not 15"},
        {"write", R"({"to":"ram","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16]})",
         "holds 16 numbers, not 15"},
        {"write", R"({"to":"ram","values":[1,2,300,4,5,6,7,8,9,10,11,12,13,14,15]})",
         "values[2] (300) is not a whole number from 0 to 255"},
        {"write", R"({"to":"ram","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,-1]})",
         "values[14] (-1) is not a whole number"},
        {"write", R"({"to":"ram","values":[1.5,2,3,4,5,6,7,8,9,10,11,12,13,14,15]})",
         "values[0] (1.5) is not a whole number"},
        {"write", R"({"to":"ram","values":[1,"2",3,4,5,6,7,8,9,10,11,12,13,14,15]})",
         "values[1] is not a number"},
        {"write", R"({"to":"ram","values":)" + v15 + R"(,"verify":"yes"})",
         "\"verify\" must be true or false"},
    };
    for (const auto& [name, payload, why] : cases) {
        Command c;
        std::string e;
        EXPECT_FALSE(ParseCommand(name, QByteArray::fromStdString(payload), false, c, e))
            << name << " " << payload;
        EXPECT_NE(e.find(why), std::string::npos) << payload << " -> " << e;
        EXPECT_EQ(c.name, name);
    }
}

TEST(GatewayCommands, OversizedAndRetainedAreRefusedButKeepTheirId) {
    Command c;
    std::string e;
    const std::string big = R"({"id":"big","by":")" + std::string(5000, 'x') + "\"}";
    EXPECT_FALSE(ParseCommand("check", QByteArray::fromStdString(big), false, c, e));
    EXPECT_NE(e.find("more than 4096"), std::string::npos) << e;
    c = Command{};
    EXPECT_FALSE(ParseCommand("check", R"({"id":"old"})", true, c, e));
    EXPECT_NE(e.find("retained"), std::string::npos) << e;
    EXPECT_EQ(c.id, "old");
    EXPECT_TRUE(c.hasId);
}

// ---- outbox -----------------------------------------------------------------------------

TEST(GatewayOutbox, InOrderWithinTheWindowUntilAcknowledged) {
    Outbox box(100, 10, 3);
    for (int i = 1; i <= 5; ++i)
        box.push({"live", std::to_string(i), true});
    std::vector<std::string> sent;
    int mid = 0;
    auto send = [&](const Message& m) {
        sent.push_back(m.payload);
        return ++mid;
    };
    box.pump(send);
    EXPECT_EQ(sent, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(box.inflight(), 3u);
    box.acknowledged(2); // out of order is fine
    box.pump(send);
    EXPECT_EQ(sent.back(), "4");
    EXPECT_EQ(box.waiting(), 4u);
    // The connection ends: 1, 3 and 4 go again, in order, then 5.
    box.connectionLost();
    sent.clear();
    box.pump(send);
    EXPECT_EQ(sent, (std::vector<std::string>{"1", "3", "4"}));
    box.acknowledged(mid - 2);
    box.acknowledged(mid - 1);
    box.acknowledged(mid);
    box.pump(send);
    EXPECT_EQ(sent.back(), "5");
    box.acknowledged(mid);
    EXPECT_EQ(box.waiting(), 0u);
    EXPECT_EQ(box.droppedLive(), 0);
}

TEST(GatewayOutbox, NothingIsHandedOverWhenTheClientRefuses) {
    Outbox box(100);
    box.push({"live", "1", true});
    box.pump([](const Message&) { return 0; });
    EXPECT_EQ(box.inflight(), 0u);
    EXPECT_EQ(box.waiting(), 1u);
}

TEST(GatewayOutbox, OldestLiveRecordsDroppedBeyondTheBoundOthersKept) {
    Outbox box(3, 10, 64);
    box.push({"reply", "r", false});
    for (int i = 1; i <= 6; ++i)
        box.push({"live", std::to_string(i), true});
    EXPECT_EQ(box.droppedLive(), 3);
    EXPECT_EQ(box.liveWaiting(), 3);
    std::vector<std::string> sent;
    box.pump([&](const Message& m) {
        sent.push_back(m.payload);
        return int(sent.size());
    });
    EXPECT_EQ(sent, (std::vector<std::string>{"r", "4", "5", "6"}));
}

TEST(GatewayOutbox, ARecordHandedOverIsNotDroppedForTheBound) {
    Outbox box(2, 10, 64);
    box.push({"live", "1", true});
    box.push({"live", "2", true});
    int mid = 0;
    box.pump([&](const Message&) { return ++mid; });
    // 1 and 2 are with the client: the bound is on what waits here.
    box.push({"live", "3", true});
    box.push({"live", "4", true});
    EXPECT_EQ(box.droppedLive(), 0);
    box.push({"live", "5", true}); // 3, the oldest not handed over, goes
    EXPECT_EQ(box.droppedLive(), 1);
    box.acknowledged(1);
    std::vector<std::string> sent;
    box.pump([&](const Message& m) {
        sent.push_back(m.payload);
        return ++mid;
    });
    EXPECT_EQ(sent, (std::vector<std::string>{"4", "5"}));
    // The connection ends with 2, 4 and 5 unacknowledged: back in the buffer, which keeps
    // 2 records; the oldest goes.
    box.connectionLost();
    EXPECT_EQ(box.droppedLive(), 2);
    sent.clear();
    box.pump([&](const Message& m) {
        sent.push_back(m.payload);
        return ++mid;
    });
    EXPECT_EQ(sent, (std::vector<std::string>{"4", "5"}));
}

// ---- payloads ---------------------------------------------------------------------------

TEST(GatewayPayloads, LiveCarriesTheRecordingsColumnsAndSeq) {
    const unsigned char rec[10] = {10, 20, 30, 0x2C, 0x01, 0xE8, 0x03, 0xF4, 0x01, 77};
    const std::string s = LivePayload("2026-12-07T13:45:01.123Z", 1.5, rec, 9, 42);
    const QJsonObject o = json(s);
    ASSERT_FALSE(o.isEmpty()) << s;
    // Every column of the recording's header, and seq.
    const QStringList header = QString(record::Header()).split(',');
    EXPECT_EQ(o.size(), header.size() + 1) << s;
    for (const QString& col : header)
        EXPECT_TRUE(o.contains(col)) << col.toStdString();
    EXPECT_EQ(o["time"].toString(), "2026-12-07T13:45:01.123Z");
    EXPECT_DOUBLE_EQ(o["t_s"].toDouble(), 1.5);
    EXPECT_EQ(o["edge"].toInt(), 300);
    EXPECT_EQ(o["in0"].toInt(), 1000);
    EXPECT_EQ(o["in1"].toInt(), 500);
    EXPECT_EQ(o["trsh"].toInt(), 77);
    EXPECT_EQ(o["hysteresis"].toInt(), 9);
    EXPECT_EQ(o["edge_pct"].toInt(), 30);
    EXPECT_EQ(o["win_pct"].toInt(), 50);
    EXPECT_EQ(o["seq"].toInt(), 42);
    // No IN0 period: no percentages.
    const unsigned char none[10] = {1, 2, 3, 4, 0, 0, 0, 5, 0, 6};
    const QJsonObject n = json(LivePayload("t", 0, none, 0, 1));
    EXPECT_TRUE(n["edge_pct"].isNull());
    EXPECT_TRUE(n["win_pct"].isNull());
}

TEST(GatewayPayloads, StatusAndParams) {
    const QJsonObject st =
        json(StatusPayload("no-reply", "/dev/pts/3", "2026-01-01T00:00:00.000Z", {7, 2, 1}));
    EXPECT_EQ(st["state"].toString(), "no-reply");
    EXPECT_EQ(st["port"].toString(), "/dev/pts/3");
    EXPECT_EQ(st["since"].toString(), "2026-01-01T00:00:00.000Z");
    EXPECT_EQ(st["dropped"].toInt(), 7);
    EXPECT_EQ(st["dropped_replies"].toInt(), 2);
    EXPECT_EQ(st["refused"].toInt(), 1);
    // A port path that is not UTF-8 still gives valid JSON.
    const QJsonObject bad = json(StatusPayload("online", "/dev/tty\xff", "T", {}));
    EXPECT_EQ(bad["port"].toString(), QString::fromUtf8("/dev/tty\xEF\xBF\xBD"));
    const unsigned char block[15] = {100, 150, 23, 1, 5, 0, 9, 8, 7, 1, 4, 0, 1, 40, 37};
    const QJsonObject p = json(ParamsPayload(2, block, "T"));
    EXPECT_EQ(p["source"].toString(), "eeprom");
    ASSERT_EQ(p["values"].toArray().size(), 15);
    EXPECT_EQ(p["values"].toArray()[14].toInt(), 37);
    EXPECT_EQ(p["named"].toObject()["threshold"].toInt(), 100);
    EXPECT_EQ(p["named"].toObject()["hysteresis"].toInt(), 150);
    EXPECT_EQ(p["named"].toObject().size(), 15);
    EXPECT_EQ(p["time"].toString(), "T");
    EXPECT_EQ(text::JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
}

TEST(GatewayPayloads, MetaNamesEveryParameterAndFieldFromTheTables) {
    auto json = [](const std::string& t) {
        return QJsonDocument::fromJson(QByteArray::fromStdString(t)).object();
    };
    const QJsonObject m = json(MetaPayload("3.0", "s<b>1", "/dev/ttyUSB0", true, false));
    EXPECT_EQ(m["sensor"].toString(), "s<b>1");
    EXPECT_EQ(m["allow_write"].toArray(), QJsonArray({"ram"}));
    const QJsonArray params = m["parameters"].toArray();
    ASSERT_EQ(params.size(), 15);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(params[i].toObject()["name"].toString(), sensor::Params()[i].name);
        EXPECT_EQ(params[i].toObject()["byte"].toInt(), i);
        EXPECT_EQ(params[i].toObject()["max"].toInt(), 255);
    }
    EXPECT_EQ(params[2].toObject()["percent"].toObject()["code_at_0"].toInt(), 46);
    EXPECT_EQ(params[5].toObject()["choices"].toArray().size(), 4);
    // The live message's keys are the fields meta names, in the same order.
    const unsigned char rec[10] = {1, 2, 3, 4, 0, 5, 0, 6, 0, 7};
    const std::string live = LivePayload("t", 1, rec, 9, 1);
    std::size_t at = 0;
    for (const QJsonValue& f : m["record"].toArray()) {
        const std::string key = "\"" + f.toObject()["name"].toString().toStdString() + "\":";
        const std::size_t here = live.find(key);
        ASSERT_NE(here, std::string::npos) << key;
        EXPECT_GE(here, at) << key;
        at = here;
    }
    EXPECT_EQ(json(live).size(), m["record"].toArray().size());
    EXPECT_TRUE(json(MetaPayload("3.0", "s", "p", false, false))["allow_write"].toArray().isEmpty());
}

