// varno-gateway as a program: its options and exit codes, and the broker accounts and ACL
// that docs/ sets up.
#include "gateway_fixture.h"

#include <sys/stat.h>

namespace {

// ---- the program's options and exit codes -----------------------------------------------

int runGateway(const QStringList& args, std::string* out = nullptr,
               const QString& program = VARNO_GATEWAY_PATH) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out) *out = (p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

TEST(GatewayProgram, HelpVersionUsageAndConfigurationErrors) {
    std::string out;
    EXPECT_EQ(runGateway({"--help"}, &out), 0);
    for (const char* opt : {"--port", "--broker", "--prefix", "--sensor", "--allow-write",
                            "--username", "--password-file", "--cafile", "--cert", "--key",
                            "--keepalive", "--buffer", "--config", "--version"})
        EXPECT_NE(out.find(opt), std::string::npos) << opt;
    EXPECT_EQ(runGateway({"--version"}, &out), 0);
    EXPECT_NE(out.find("varno-gateway"), std::string::npos);
    EXPECT_EQ(runGateway({"--allow-write", "yes"}, &out), 2);
    EXPECT_NE(out.find("--allow-write wants none, ram or eeprom"), std::string::npos) << out;
    EXPECT_EQ(runGateway({"--password", "x"}, &out), 2);
    EXPECT_EQ(runGateway({"--username", "u", "--password-file", "/nonexistent/pw"}, &out), 4);
    EXPECT_NE(out.find("/nonexistent/pw"), std::string::npos) << out;
    EXPECT_EQ(runGateway({"--config", "/nonexistent/gateway.conf"}, &out), 4);
}

TEST(GatewayProgram, APortThatMayNotBeOpenedEndsWithFour) {
    // A terminal the gateway's user may not open (as a device outside the dialout group):
    // run as nobody when the test runs as root.
    PtySensor sensor;
    ASSERT_TRUE(sensor.ok());
    ASSERT_EQ(::chmod(sensor.path().c_str(), 0600), 0);
    QStringList args{"--port", QString::fromStdString(sensor.path()), "--broker",
                     "mqtt://127.0.0.1:1"};
    QString program = VARNO_GATEWAY_PATH;
    QTemporaryDir dir;
    if (::geteuid() == 0) {
        program = "setpriv";
        args =
            QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", VARNO_GATEWAY_PATH} +
            args;
    } else {
        const QString dev = dir.filePath("tty");
        QFile f(dev);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        f.setPermissions(QFile::ReadOwner);
        args[1] = dev;
    }
    std::string out;
    // No broker needed: the port's verdict comes first, and retrying cannot mend it.
    EXPECT_EQ(runGateway(args, &out, program), 4) << out;
    if (program != VARNO_GATEWAY_PATH) // the terminal: the system's word for it
        EXPECT_NE(out.find("ermission"), std::string::npos) << out;
}

// ---- the broker's accounts and ACL, as docs/ sets them up ------------------------------

TEST(GatewayAcl, GatewayUnderItsOwnAccountOnlyTheOperatorMayCommand) {
    QFile aclFile(VARNO_SOURCE_DIR "/docs/examples/mosquitto-varno.acl");
    ASSERT_TRUE(aclFile.open(QIODevice::ReadOnly));
    mqtt_test::BrokerOptions bo;
    bo.users = {{"s1", "gw-secret"}, {"operator", "op-secret"}, {"dashboard", "dash-secret"}};
    bo.acl = aclFile.readAll().toStdString();
    mqtt_test::Broker broker(bo);
    ASSERT_TRUE(broker.start()) << broker.error();
    QTemporaryDir dir;
    const QString pw = dir.filePath("pw");
    QFile p(pw);
    ASSERT_TRUE(p.open(QIODevice::WriteOnly));
    p.write("gw-secret\n");
    p.close();
    PtySensor sensor;
    ASSERT_TRUE(sensor.ok());
    mqtt_test::Client::Options op;
    op.username = "operator";
    op.password = "op-secret";
    mqtt_test::Client oper(op);
    ASSERT_TRUE(oper.connect(broker.port())) << oper.error();
    ASSERT_TRUE(oper.subscribe("varno/#"));
    GatewayProcess gw(dir.filePath("gw.log"));
    ASSERT_TRUE(gw.start({"--port", QString::fromStdString(sensor.path()), "--broker",
                          QString::fromStdString(broker.url()), "--sensor", "s1", "--username",
                          "s1", "--password-file", pw, "--allow-write", "ram"}));
    ASSERT_TRUE(oper.waitForCount("varno/s1/live", 2, 15000)) << gw.log();
    auto st = oper.waitForMessage("varno/s1/status", 3000);
    ASSERT_TRUE(st);
    EXPECT_EQ(jsonOf(st->payload)["state"].toString(), "online");

    // A dashboard may not command: the broker refuses, nothing reaches the gateway.
    mqtt_test::Client::Options db;
    db.username = "dashboard";
    db.password = "dash-secret";
    mqtt_test::Client dash(db);
    ASSERT_TRUE(dash.connect(broker.port()));
    const std::size_t mark = sensor.frames().size();
    const auto refused =
        dash.publish("varno/s1/cmd/write",
                     R"({"id":"d1","to":"ram","values":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15]})");
    EXPECT_FALSE(refused.accepted());
    // The operator may.
    ASSERT_TRUE(oper.publish("varno/s1/cmd/check", R"({"id":"o1","by":"operator"})").accepted());
    auto reply = oper.waitForMessage("varno/s1/reply", 10000);
    ASSERT_TRUE(reply) << gw.log();
    EXPECT_EQ(jsonOf(reply->payload)["id"].toString(), "o1");
    EXPECT_TRUE(jsonOf(reply->payload)["ok"].toBool());
    for (const auto& m : oper.messages("varno/s1/reply"))
        EXPECT_EQ(jsonOf(m.payload)["id"].toString(), "o1");
    const auto besides = sensor.framesBesidesLive(mark);
    ASSERT_EQ(besides.size(), 1u);
    EXPECT_EQ(besides[0][1], 7);
    EXPECT_EQ(gw.terminate(), 0);
}

} // namespace
