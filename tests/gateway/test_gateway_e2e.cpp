// varno-gateway against a real broker and a scripted sensor on a pseudo-terminal: what it
// publishes, the commands and their replies, the guards (nothing on the line), the audit.
#include "gateway_fixture.h"

#include <algorithm>

namespace {

class GatewayE2e : public GatewayOnPty {
  protected:
    // Sends a command and returns its reply (matched by id).
    QJsonObject command(const std::string& name, const std::string& payload, const std::string& id,
                        int timeoutMs = 10000) {
        EXPECT_TRUE(sub.publish(base + "cmd/" + name, payload).accepted());
        auto m = sub.waitForMessage(base + "reply", timeoutMs, [&](const mqtt_test::Message& m) {
            return jsonOf(m.payload)["id"].toString().toStdString() == id;
        });
        if (!m) {
            ADD_FAILURE() << "no reply to " << name << " " << payload << "\n" << gw->log();
            return {};
        }
        return jsonOf(m->payload);
    }
};

TEST_F(GatewayE2e, StatusParamsAndLiveAsSpecified) {
    startGateway();
    waitLive();
    // A subscriber arriving later gets the retained state.
    mqtt_test::Client late;
    ASSERT_TRUE(late.connect(broker.port()));
    ASSERT_TRUE(late.subscribe(base + "+"));
    auto status = late.waitForMessage(base + "status", 5000);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->retained);
    const QJsonObject st = jsonOf(status->payload);
    EXPECT_EQ(st["state"].toString(), "online");
    EXPECT_EQ(st["port"].toString().toStdString(), sensor.path());
    EXPECT_TRUE(QDateTime::fromString(st["since"].toString(), Qt::ISODateWithMs).isValid());
    EXPECT_EQ(st["dropped"].toInt(), 0);
    auto params = late.waitForMessage(base + "params", 5000);
    ASSERT_TRUE(params);
    EXPECT_TRUE(params->retained);
    const QJsonObject p = jsonOf(params->payload);
    EXPECT_EQ(p["source"].toString(), "ram");
    EXPECT_EQ(bytesOf(p["values"]), sampleRam);
    EXPECT_EQ(p["named"].toObject()["threshold"].toInt(), 100);
    // The line: the line check, the RAM read, then live requests carrying the RAM block.
    const auto frames = sensor.frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0], frame(7, Bytes(15, 0)));
    EXPECT_EQ(frames[1], frame(3, Bytes(15, 0)));
    EXPECT_EQ(frames[2], frame(5, sampleRam));

    // Live: about 9 a second at most, seq rising by one, the recording's columns.
    sub.clear();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto live = payloads(sub, base + "live");
    EXPECT_GE(live.size(), 8u);
    EXPECT_LE(live.size(), 40u);
    for (std::size_t i = 1; i < live.size(); ++i)
        EXPECT_EQ(live[i]["seq"].toInteger(), live[i - 1]["seq"].toInteger() + 1);
    ASSERT_FALSE(live.empty());
    const QJsonObject r = live.back();
    for (const char* col : {"time", "t_s", "dat0", "dat1", "norm", "edge", "in0", "in1", "trsh",
                            "hysteresis", "edge_pct", "win_pct", "seq"})
        EXPECT_TRUE(r.contains(col)) << col;
    EXPECT_EQ(r["edge"].toInt(), 300);
    EXPECT_EQ(r["in0"].toInt(), 1000);
    EXPECT_EQ(r["hysteresis"].toInt(), 150); // the RAM block's
    EXPECT_EQ(r["edge_pct"].toInt(), 30);
    for (const auto& m : sub.messages(base + "live"))
        EXPECT_FALSE(m.retained);
    EXPECT_EQ(gw->terminate(), 0) << gw->log();
}

TEST_F(GatewayE2e, ReadEepromJumpBufAndCheckAnsweredWithTheirIds) {
    startGateway();
    waitLive();
    const std::size_t mark = sensor.frames().size();
    QJsonObject r = command("read", R"({"from":"eeprom","id":"r1"})", "r1");
    EXPECT_EQ(r["command"].toString(), "read");
    EXPECT_TRUE(r["ok"].toBool()) << r["error"].toString().toStdString();
    EXPECT_EQ(r["target"].toString(), "eeprom");
    EXPECT_EQ(bytesOf(r["values"]), sampleEeprom);
    EXPECT_EQ(r["parameters"].toObject()["threshold"].toInt(), 1);
    auto besides = sensor.framesBesidesLive(mark);
    ASSERT_EQ(besides.size(), 1u);
    EXPECT_EQ(besides[0], frame(4, sampleRam));
    // params now says what was read.
    auto params = sub.waitForMessage(base + "params", 3000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["source"].toString() == "eeprom";
    });
    ASSERT_TRUE(params);
    EXPECT_EQ(bytesOf(jsonOf(params->payload)["values"]), sampleEeprom);

    r = command("jumpbuf", R"({"id":"j1"})", "j1");
    EXPECT_TRUE(r["ok"].toBool());
    ASSERT_EQ(r["values"].toArray().size(), 16);
    EXPECT_EQ(r["values"].toArray()[0].toInt(), 10);
    EXPECT_EQ(r["trsh"].toInt(), 77); // the last live record's working threshold
    r = command("check", R"({"id":"c1","by":"anna"})", "c1");
    EXPECT_TRUE(r["ok"].toBool());
    EXPECT_EQ(r["line"].toString(), "LINE OK");
    // Live polling goes on after the commands, with the RAM block again.
    const std::size_t after = sensor.frames().size();
    ASSERT_TRUE(sub.waitForCount(base + "live", sub.messages(base + "live").size() + 3, 5000));
    const auto frames = sensor.frames();
    ASSERT_GT(frames.size(), after);
    EXPECT_EQ(frames.back(), frame(5, sampleRam));
}

TEST_F(GatewayE2e, WritesRefusedWithoutAllowWriteNothingOnTheLine) {
    startGateway();
    waitLive();
    const std::size_t mark = sensor.frames().size();
    QJsonObject r = command(
        "write", R"({"to":"ram","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15],"id":"w0"})", "w0");
    EXPECT_FALSE(r["ok"].toBool());
    EXPECT_NE(r["error"].toString().indexOf("--allow-write none"), -1)
        << r["error"].toString().toStdString();
    EXPECT_TRUE(sensor.waitBesidesLive(mark, 1, 500).empty());
    EXPECT_EQ(sensor.ram(), sampleRam);
    EXPECT_TRUE(sub.messages(base + "audit").empty());
}

TEST_F(GatewayE2e, EveryMalformedCommandAnsweredNothingOnTheLine) {
    startGateway({"--allow-write", "ram"});
    waitLive();
    const std::size_t mark = sensor.frames().size();
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"write", R"({"id":"m1","to":"ram","values":[1,2,300,4,5,6,7,8,9,10,11,12,13,14,15]})"},
        {"write", R"({"id":"m2","to":"eeprom","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15]})"},
        {"write", R"({"id":"m3","to":"ram","values":[1,2,3]})"},
        {"write", R"({"id":"m4","to":"ram","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,"x"]})"},
        {"read", R"({"id":"m5","from":"flash"})"},
        {"read", R"({"id":"m6","colour":"red"})"},
        {"check", R"({"id":"m7","by":)" + std::string("\"") + std::string(70, 'x') + "\"}"},
        {"jumpbuf", R"({"id":"m8")"},
        {"reboot", R"({"id":"m9"})"},
        {"check", R"({"id":"m10","pad":")" + std::string(5000, ' ') + "\"}"},
    };
    for (const auto& [name, payload] : bad)
        ASSERT_TRUE(sub.publish(base + "cmd/" + name, payload).accepted());
    // Every one is answered (the unparsable ones without an id), none with ok.
    ASSERT_TRUE(sub.waitForCount(base + "reply", bad.size(), 10000)) << gw->log();
    const auto replies = payloads(sub, base + "reply");
    for (const auto& r : replies) {
        EXPECT_FALSE(r["ok"].toBool());
        EXPECT_FALSE(r["error"].toString().isEmpty());
    }
    auto byId = [&](const char* id) {
        for (const auto& r : replies)
            if (r["id"].toString() == id) return r["error"].toString().toStdString();
        return std::string("(no reply)");
    };
    EXPECT_NE(byId("m1").find("values[2] (300)"), std::string::npos) << byId("m1");
    EXPECT_NE(byId("m2").find("not allowed"), std::string::npos) << byId("m2");
    EXPECT_NE(byId("m3").find("not 15"), std::string::npos) << byId("m3");
    EXPECT_NE(byId("m6").find("unknown key \"colour\""), std::string::npos) << byId("m6");
    EXPECT_NE(byId("m9").find("unknown command"), std::string::npos) << byId("m9");
    EXPECT_EQ(std::count_if(replies.begin(), replies.end(),
                            [](const QJsonObject& r) {
                                return r["error"].toString().startsWith("invalid JSON");
                            }),
              1);
    // Nothing but live requests reached the line, and the gateway still runs.
    EXPECT_TRUE(sensor.waitBesidesLive(mark, 1, 500).empty());
    EXPECT_EQ(sensor.ram(), sampleRam);
    EXPECT_EQ(gw->process().state(), QProcess::Running);
    const QJsonObject ok = command("check", R"({"id":"fine"})", "fine");
    EXPECT_TRUE(ok["ok"].toBool());
}

TEST_F(GatewayE2e, WriteWithVerifyAnsweredAndAudited) {
    startGateway({"--allow-write", "ram"});
    waitLive();
    const std::size_t mark = sensor.frames().size();
    const Bytes mine{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    QJsonObject r = command(
        "write",
        R"({"id":"w1","by":"anna","to":"ram","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15],"verify":true})",
        "w1");
    EXPECT_TRUE(r["ok"].toBool()) << r["error"].toString().toStdString();
    EXPECT_TRUE(r["verified"].toBool());
    EXPECT_EQ(bytesOf(r["values"]), mine);
    // On the line: 55 01 with the block, then the read-back 55 03 (carrying it).
    const auto besides = sensor.framesBesidesLive(mark);
    ASSERT_EQ(besides.size(), 2u);
    EXPECT_EQ(besides[0], frame(1, mine));
    EXPECT_EQ(besides[1], frame(3, mine));
    EXPECT_EQ(sensor.ram(), mine);
    auto audit = sub.waitForMessage(base + "audit", 3000);
    ASSERT_TRUE(audit);
    EXPECT_FALSE(audit->retained);
    const QJsonObject a = jsonOf(audit->payload);
    EXPECT_EQ(a["id"].toString(), "w1");
    EXPECT_EQ(a["by"].toString(), "anna");
    EXPECT_EQ(a["target"].toString(), "ram");
    EXPECT_EQ(bytesOf(a["before"]), sampleRam);
    EXPECT_EQ(bytesOf(a["after"]), mine);
    EXPECT_EQ(a["verify"].toString(), "match");
    EXPECT_TRUE(QDateTime::fromString(a["time"].toString(), Qt::ISODateWithMs).isValid());
    // The same line in the log, and params say the new block; live goes on with it.
    EXPECT_NE(gw->log().find("\"by\":\"anna\""), std::string::npos) << gw->log();
    auto params = sub.waitForMessage(base + "params", 3000, [&](const mqtt_test::Message& m) {
        return bytesOf(jsonOf(m.payload)["values"]) == mine;
    });
    ASSERT_TRUE(params);
    ASSERT_TRUE(sub.waitForCount(base + "live", sub.messages(base + "live").size() + 2, 5000));
    EXPECT_EQ(sensor.frames().back(), frame(5, mine));
    EXPECT_EQ(payloads(sub, base + "live").back()["hysteresis"].toInt(), 2);
}

TEST_F(GatewayE2e, RetainedCommandRefusedAndResponseTopicHonoured) {
    // A retained command left on the broker is not run when the gateway subscribes.
    ASSERT_TRUE(sub.publish(base + "cmd/write",
                            R"({"id":"old","to":"ram","values":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]})",
                            1, true)
                    .accepted());
    startGateway({"--allow-write", "ram"});
    auto refused = sub.waitForMessage(base + "reply", 10000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["id"].toString() == "old";
    });
    ASSERT_TRUE(refused) << gw->log();
    EXPECT_FALSE(jsonOf(refused->payload)["ok"].toBool());
    EXPECT_NE(refused->payload.find("retained"), std::string::npos);
    waitLive();
    EXPECT_EQ(sensor.ram(), sampleRam);

    // MQTT 5: the reply also goes to the response topic, with the correlation data.
    ASSERT_TRUE(sub.subscribe("app/replies"));
    mqtt_test::PublishProperties props;
    props.responseTopic = "app/replies";
    props.correlationData = std::string("\x01\x02req-7", 7);
    ASSERT_TRUE(sub.publish(base + "cmd/check", R"({"id":"c7"})", 1, false, props).accepted());
    auto answer = sub.waitForMessage("app/replies", 10000);
    ASSERT_TRUE(answer) << gw->log();
    EXPECT_EQ(jsonOf(answer->payload)["id"].toString(), "c7");
    EXPECT_TRUE(jsonOf(answer->payload)["ok"].toBool());
    ASSERT_TRUE(answer->correlationData);
    EXPECT_EQ(*answer->correlationData, std::string("\x01\x02req-7", 7));
}

TEST_F(GatewayE2e, SigtermPublishesOfflineAndExitsZero) {
    startGateway();
    waitLive();
    EXPECT_EQ(gw->terminate(), 0) << gw->log();
    auto st = sub.waitForMessage(base + "status", 5000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "offline";
    });
    ASSERT_TRUE(st) << gw->log();
    mqtt_test::Client late;
    ASSERT_TRUE(late.connect(broker.port()));
    ASSERT_TRUE(late.subscribe(base + "status"));
    auto retained = late.waitForMessage(base + "status", 5000);
    ASSERT_TRUE(retained);
    EXPECT_EQ(jsonOf(retained->payload)["state"].toString(), "offline");
}

TEST_F(GatewayE2e, SigkillLeavesOfflineFromTheWill) {
    startGateway();
    waitLive();
    const auto t0 = std::chrono::steady_clock::now();
    gw->signal(SIGKILL);
    auto st = sub.waitForMessage(base + "status", 8000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "offline";
    });
    ASSERT_TRUE(st);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(7500));
}

TEST_F(GatewayE2e, SilentSensorIsNoReplyThenOnline) {
    sensor.silent(true);
    startGateway();
    auto st = sub.waitForMessage(base + "status", 10000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "no-reply";
    });
    ASSERT_TRUE(st) << gw->log();
    EXPECT_TRUE(sub.messages(base + "live").empty());
    sensor.silent(false);
    st = sub.waitForMessage(base + "status", 10000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "online";
    });
    ASSERT_TRUE(st) << gw->log();
    waitLive();
}

} // namespace

namespace {

TEST_F(GatewayE2e, EepromWriteReadsTheBlockBeforeAndIsAudited) {
    startGateway({"--allow-write", "eeprom"});
    waitLive();
    const std::size_t mark = sensor.frames().size();
    const Bytes mine{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5};
    const QJsonObject r = command(
        "write", R"({"id":"e1","to":"eeprom","values":[9,8,7,6,5,4,3,2,1,0,1,2,3,4,5]})", "e1");
    EXPECT_TRUE(r["ok"].toBool()) << r["error"].toString().toStdString();
    EXPECT_FALSE(r["verify"].toBool());
    // The EEPROM block was never read: it is read first, for the audit's "before".
    const auto besides = sensor.waitBesidesLive(mark, 2);
    ASSERT_EQ(besides.size(), 2u);
    EXPECT_EQ(besides[0], frame(4, sampleRam));
    EXPECT_EQ(besides[1], frame(2, mine));
    auto audit = sub.waitForMessage(base + "audit", 3000);
    ASSERT_TRUE(audit);
    const QJsonObject a = jsonOf(audit->payload);
    EXPECT_EQ(a["target"].toString(), "eeprom");
    EXPECT_EQ(bytesOf(a["before"]), sampleEeprom);
    // Not read back: what the sensor holds now is not known, and the audit says so.
    EXPECT_TRUE(a["after"].isNull());
    EXPECT_EQ(bytesOf(a["sent"]), mine);
    EXPECT_EQ(a["verify"].toString(), "not asked");
    EXPECT_FALSE(a.contains("by")); // no "by" in the command: none in the audit
    // The live requests go on with the RAM block, not the one written to EEPROM.
    ASSERT_TRUE(sub.waitForCount(base + "live", sub.messages(base + "live").size() + 2, 5000));
    EXPECT_EQ(sensor.frames().back(), frame(5, sampleRam));
}

TEST_F(GatewayE2e, FrozenGatewayGoesOfflineAndComesBackByItself) {
    startGateway();
    waitLive();
    gw->signal(SIGSTOP);
    // The broker's keepalive check (1.5 x 5 s, looked at on its own schedule).
    auto off = sub.waitForMessage(base + "status", 15000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "offline";
    });
    gw->signal(SIGCONT);
    ASSERT_TRUE(off) << gw->log();
    sub.clear();
    auto on = sub.waitForMessage(base + "status", 15000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "online";
    });
    ASSERT_TRUE(on) << gw->log();
    ASSERT_TRUE(sub.waitForCount(base + "live", 5, 10000));
    EXPECT_TRUE(continuous(seqs(sub, base + "live")));
}

} // namespace
