// Real-time end-to-end tests over pseudo-terminals through QSerialPort.
#include "fixture.h"
#include "pty_peer.h"
#include "child.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class RealTime : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        th::UseVirtualClock(false);
        initVars();
    }
};


} // namespace

TEST_F(RealTime, LineCheckAndParameterReadOverAPseudoTerminal) {
    PtyPeer sensor;
    ASSERT_TRUE(sensor.ok());
    rt::BindSerialDevice(1, sensor.path().c_str());
    std::vector<Bytes> frames;
    th::SetPumpHook([&](double) {
        Bytes f;
        while (sensor.nextFrame(f)) {
            frames.push_back(f);
            if (f[1] == 7) sensor.send(lineOk);
            if (f[1] == 3) sensor.send(block15);
        }
    });
    const double t0 = rt::Timer();
    com232::InitRS232(1);
    EXPECT_LT(rt::Timer() - t0, 1.0);
    EXPECT_EQ(status(), lineOkText);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frameFor(7, nullptr));
    EXPECT_EQ(frames[1], frameFor(3, nullptr));
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 100);
    EXPECT_TRUE(popups.empty());
}

TEST_F(RealTime, APulledOutAdapterClosesThePortAndCostsNoCpu) {
    PtyPeer sensor;
    ASSERT_TRUE(openOnPty(sensor));
    sensor.close(); // the far end vanishes
    const double cpu0 = cpuSeconds();
    const double t0 = rt::Timer();
    while (rt::Timer() - t0 < 0.5) rt::ProcessSystemEvents();
    const double cpu = cpuSeconds() - cpu0;
    EXPECT_FALSE(th::PortOpen(1));
    // A pump that spins on errors would burn the whole half second.
    EXPECT_LT(cpu, 0.25) << "CPU seconds in 0.5 s of pumping";
    gui::SendPara();
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(countPopups("INFO"), 1);
}

TEST_F(RealTime, RoundTripWithTheStandAloneSimulatedSensor) {
    QTemporaryDir dir;
    const QString link = dir.filePath("sensor");
    QProcess sim;
    ASSERT_TRUE(startSensorSim(sim, link, {"--latency", "1"}));
    rt::BindSerialDevice(1, link.toLocal8Bit().constData());
    com232::InitRS232(1);
    EXPECT_EQ(status(), lineOkText);
    EXPECT_TRUE(popups.empty());
    const int threshold = ucharVal(PANEL_THRESHOLD);
    // Change the threshold, send it to RAM, then read it back.
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, threshold == 77 ? 78 : 77);
    com232::target = com232::RAM;
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, 1);
    // Get as the button does it: its short pause lets the write leave the line before
    // the read flushes the queues.
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), threshold == 77 ? 78 : 77);
    EXPECT_TRUE(popups.empty());
    rt::CloseCom(1);
    sim.terminate();
    sim.waitForFinished(3000);
}

TEST(ProgramOnALine, FirstFrameIsTheLineCheckThenTheParameterRead) {
    PtyPeer sensor;
    ASSERT_TRUE(sensor.ok());
    QProcess varno;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    varno.setProcessEnvironment(env);
    varno.start(VARNO_PATH, {"--port", QString("1=%1").arg(sensor.path().c_str())});
    ASSERT_TRUE(varno.waitForStarted(5000));
    QElapsedTimer t;
    t.start();
    Bytes f;
    std::vector<Bytes> frames;
    while (t.elapsed() < 8000 && frames.size() < 2) {
        if (sensor.nextFrame(f)) {
            frames.push_back(f);
            if (f[1] == 7) sensor.send(lineOk);
        }
        usleep(2000);
    }
    varno.kill();
    varno.waitForFinished(3000);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frameFor(7, nullptr));
    EXPECT_EQ(frames[1], frameFor(3, nullptr));
}

TEST(ProgramOnALine, AScreenshotAskedForWhileTheLineCheckWaitsIsStillTakenAndTheProgramEnds) {
    PtyPeer sensor; // answers nothing
    ASSERT_TRUE(sensor.ok());
    QTemporaryDir dir;
    const QString shot = dir.filePath("shot.png");
    QElapsedTimer t;
    t.start();
    QByteArray out;
    EXPECT_EQ(runProgram(VARNO_PATH,
                         {"--port", QString("1=%1").arg(sensor.path().c_str()), "--screenshot", shot},
                         &out, 20000),
              0)
        << out.toStdString();
    EXPECT_TRUE(QFileInfo(shot).size() > 0);
    EXPECT_LT(t.elapsed(), 15000);
}

TEST_F(RealTime, A1100ByteBurstLeavesThePortHearing) {
    PtyPeer sensor;
    ASSERT_TRUE(openOnPty(sensor));
    sensor.send(Bytes(1100, 0x5A)); // unrequested
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300) rt::ProcessSystemEvents();
    EXPECT_LE(rt::GetInQLen(1), 1024);
    // Answer the parameter read that follows: the port must still hear it.
    bool answered = false;
    th::SetPumpHook([&](double) {
        Bytes f;
        if (!answered && sensor.nextFrame(f) && f[1] == 3) {
            sensor.send(block15);
            answered = true;
        }
    });
    gui::GetPara();
    th::SetPumpHook(nullptr);
    EXPECT_TRUE(answered);
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(Bytes(com232::pp, com232::pp + 15), block15);
}

TEST_F(RealTime, AWriteToAVanishedLineIsNotReportedAsSent) {
    auto sensor = std::make_unique<PtyPeer>();
    ASSERT_TRUE(openOnPty(*sensor));
    sensor.reset(); // the far end goes away
    gui::SendPara();
    EXPECT_NE(com232::nBytesW, 17);
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(countPopups("INFO"), 1);
}
