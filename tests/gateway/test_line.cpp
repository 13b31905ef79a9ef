// varno-line against a real broker and real gateways on scripted sensors: a recipe saved
// and applied all or nothing, a refusal rolled back, an offline sensor and a recipe out of
// range sending nothing, and the broker's ACL deciding who may change the line.
#include "gateway_fixture.h"

#include <QDir>

namespace {

struct Ran {
    int code = -1;
    std::string out, err;
};

class Line : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    mqtt_test::Broker broker;
    PtySensor sensors[3];
    std::unique_ptr<GatewayProcess> gws[3];
    mqtt_test::Client sub;

    void SetUp() override {
        ASSERT_TRUE(broker.start()) << broker.error();
        ASSERT_TRUE(sub.connect(broker.port()));
        ASSERT_TRUE(sub.subscribe("varno/#"));
        for (int i = 0; i < 3; ++i) startGateway(i, {"--allow-write", "ram"});
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(sub.waitForCount(id(i) + "/live", 1, 15000)) << gws[i]->log();
    }
    static std::string id(int i) { return "varno/s" + std::to_string(i + 1); }
    void startGateway(int i, const QStringList& extra) {
        gws[i] = std::make_unique<GatewayProcess>(dir.filePath(QString("gw%1.log").arg(i)));
        ASSERT_TRUE(gws[i]->start(QStringList{"--port", QString::fromStdString(sensors[i].path()),
                                              "--broker", QString::fromStdString(broker.url()),
                                              "--sensor", QString("s%1").arg(i + 1),
                                              "--keepalive", "5"} +
                                  extra));
    }
    Ran line(const QStringList& args, int ms = 60000) {
        QProcess p;
        p.start(VARNO_LINE_PATH, QStringList{"--broker", QString::fromStdString(broker.url())} + args);
        Ran r;
        if (!p.waitForFinished(ms)) return r;
        r.code = p.exitCode();
        r.out = p.readAllStandardOutput().toStdString();
        r.err = p.readAllStandardError().toStdString();
        return r;
    }
    // A recipe file with each sensor's block `base` + i, hysteresis marking the sensor.
    QString recipeFile(const char* name, const Bytes& base, int override = -1) {
        QJsonObject sensorsObj;
        const char* names[15] = {"threshold", "hysteresis", "power", "pmod", "hold", "trigger",
                                 "backlim", "regcnt", "average", "deadtimemode", "deadtime",
                                 "outmode", "trshmod", "deltatrsh", "frei15"};
        for (int i = 0; i < 3; ++i) {
            QJsonObject p;
            for (int k = 0; k < 15; ++k)
                p[names[k]] = base[k] + (k == 1 ? i : 0);
            if (override >= 0 && i == 2) p["power"] = override;
            sensorsObj[QString("s%1").arg(i + 1)] = p;
        }
        const QString path = dir.filePath(QString(name) + ".json");
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QJsonDocument(QJsonObject{{"recipe", name}, {"sensors", sensorsObj}}).toJson());
        return path;
    }
    static Bytes blockWith(const Bytes& base, int i) {
        Bytes b = base;
        b[1] = std::uint8_t(b[1] + i);
        return b;
    }
    std::size_t writesOnLines(const std::size_t (&marks)[3]) {
        std::size_t n = 0;
        for (int i = 0; i < 3; ++i)
            for (const Bytes& f : sensors[i].framesBesidesLive(marks[i]))
                n += f[1] == 1 || f[1] == 2;
        return n;
    }
};

const Bytes productB{90, 140, 20, 0, 7, 0, 11, 21, 3, 1, 6, 1, 0, 25, 9};

TEST_F(Line, StatusSaveAndApplyAChangedRecipeToEverySensor) {
    Ran st = line({"status", "--json"});
    ASSERT_EQ(st.code, 0) << st.err;
    const QJsonArray rows = jsonOf(st.out)["sensors"].toArray();
    ASSERT_EQ(rows.size(), 3) << st.out;
    for (const QJsonValue& r : rows) EXPECT_EQ(r.toObject()["state"].toString(), "online");

    const QString saved = dir.filePath("now.json");
    Ran sv = line({"save", saved});
    ASSERT_EQ(sv.code, 0) << sv.err;
    QFile f(saved);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject rec = QJsonDocument::fromJson(f.readAll()).object();
    EXPECT_EQ(rec["recipe"].toString(), "now");
    ASSERT_EQ(rec["sensors"].toObject().size(), 3);
    for (const QJsonValue& v : rec["sensors"].toObject()) {
        EXPECT_EQ(v.toObject().size(), 15);
        EXPECT_EQ(v.toObject()["threshold"].toInt(), sampleRam[0]);
        EXPECT_EQ(v.toObject()["frei15"].toInt(), sampleRam[14]);
    }
    // The saved recipe is what the line holds now.
    Ran st2 = line({"status", "--recipes", dir.path(), "--json"});
    EXPECT_EQ(jsonOf(st2.out)["sensors"].toArray()[0].toObject()["recipe"].toString(), "now") << st2.out;

    std::size_t marks[3];
    for (int i = 0; i < 3; ++i) marks[i] = sensors[i].frames().size();
    const auto t0 = std::chrono::steady_clock::now();
    Ran ap = line({"apply", recipeFile("product-b", productB), "--to", "ram", "--by", "anna"});
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(ap.code, 0) << ap.out << ap.err;
    EXPECT_LT(took, 20.0);
    for (int i = 0; i < 3; ++i) {
        const auto fr = sensors[i].waitBesidesLive(marks[i], 3);
        bool written = false;
        for (const Bytes& x : fr) written = written || x == frame(1, blockWith(productB, i));
        EXPECT_TRUE(written) << "sensor " << i;
        EXPECT_EQ(sensors[i].ram(), blockWith(productB, i));
    }
    ASSERT_TRUE(sub.waitForCount("varno/+/audit", 3, 5000));
    for (const QJsonObject& a : payloads(sub, "varno/+/audit")) {
        EXPECT_EQ(a["recipe"].toString(), "product-b");
        EXPECT_EQ(a["by"].toString(), "anna");
        EXPECT_EQ(a["verify"].toString(), "match");
        EXPECT_FALSE(a["changeover"].toString().isEmpty());
    }
    mqtt_test::Client late;
    ASSERT_TRUE(late.connect(broker.port()));
    ASSERT_TRUE(late.subscribe("varno/_line/changeover"));
    auto co = late.waitForMessage("varno/_line/changeover", 5000);
    ASSERT_TRUE(co);
    EXPECT_TRUE(co->retained);
    EXPECT_EQ(jsonOf(co->payload)["recipe"].toString(), "product-b");
    EXPECT_EQ(jsonOf(co->payload)["result"].toString(), "applied");
    EXPECT_EQ(jsonOf(co->payload)["by"].toString(), "anna");
}

TEST_F(Line, OneSensorRefusingSetsTheOthersBack) {
    gws[2]->terminate();
    startGateway(2, {}); // no --allow-write
    ASSERT_TRUE(sub.waitForMessage("varno/s3/status", 15000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "online";
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::size_t marks[3];
    for (int i = 0; i < 3; ++i) marks[i] = sensors[i].frames().size();
    Ran ap = line({"apply", recipeFile("product-b", productB), "--to", "ram"});
    EXPECT_NE(ap.code, 0) << ap.out;
    EXPECT_NE(ap.err.find("s3"), std::string::npos) << ap.err;
    EXPECT_NE(ap.err.find("not allowed"), std::string::npos) << ap.err;
    for (int i = 0; i < 2; ++i) {
        // The old block written last, and held.
        Bytes lastWrite;
        for (const Bytes& x : sensors[i].framesBesidesLive(marks[i]))
            if (x[1] == 1) lastWrite = x;
        EXPECT_EQ(lastWrite, frame(1, sampleRam)) << "sensor " << i;
        EXPECT_EQ(sensors[i].ram(), sampleRam);
    }
    for (const Bytes& x : sensors[2].framesBesidesLive(marks[2])) EXPECT_NE(x[1], 1);
}

TEST_F(Line, AnOfflineSensorOrAValueOutOfRangeSendsNothing) {
    std::size_t marks[3];
    for (int i = 0; i < 3; ++i) marks[i] = sensors[i].frames().size();
    Ran bad = line({"apply", recipeFile("bad", productB, 300), "--to", "ram"});
    EXPECT_EQ(bad.code, 4);
    EXPECT_NE(bad.err.find("sensor s3: parameter power is 300"), std::string::npos) << bad.err;
    gws[1]->signal(SIGKILL);
    ASSERT_TRUE(sub.waitForMessage("varno/s2/status", 15000, [](const mqtt_test::Message& m) {
        return jsonOf(m.payload)["state"].toString() == "offline";
    }));
    Ran off = line({"apply", recipeFile("product-b", productB), "--to", "ram"});
    EXPECT_NE(off.code, 0);
    EXPECT_NE(off.err.find("s2 (offline)"), std::string::npos) << off.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(writesOnLines(marks), 0u);
}

// Only the operator account may change the line or take a port away.
TEST(LineAcl, OnlyTheOperatorMayPublishLineYieldAndResume) {
    QFile aclFile(QString(VARNO_SOURCE_DIR) + "/docs/examples/mosquitto-varno.acl");
    ASSERT_TRUE(aclFile.open(QIODevice::ReadOnly));
    mqtt_test::BrokerOptions bo;
    bo.users = {{"operator", "op"}, {"dashboard", "dash"}, {"s1", "gw"}};
    bo.acl = aclFile.readAll().toStdString();
    mqtt_test::Broker broker(bo);
    ASSERT_TRUE(broker.start()) << broker.error();
    auto as = [&](const char* user, const char* pw) {
        mqtt_test::Client::Options o;
        o.username = user;
        o.password = pw;
        auto c = std::make_unique<mqtt_test::Client>(o);
        EXPECT_TRUE(c->connect(broker.port())) << c->error();
        return c;
    };
    auto op = as("operator", "op");
    auto dash = as("dashboard", "dash");
    auto gw = as("s1", "gw");
    for (const char* t : {"varno/_line/changeover", "varno/s1/cmd/yield", "varno/s1/cmd/resume"}) {
        EXPECT_TRUE(op->publish(t, "{}", 1, std::string(t).find("_line") != std::string::npos).accepted()) << t;
        EXPECT_FALSE(dash->publish(t, "{}").accepted()) << t;
        EXPECT_FALSE(gw->publish(t, "{}").accepted()) << t;
    }
}

} // namespace
