// varno-cli as a program: without a display, against a pseudo-terminal playing the sensor
// and against the stand-alone simulated sensor.
#include "cli_fixture.h"
#include "pty_peer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <tuple>

#include <sys/resource.h>

namespace {


struct Ran {
    int code = -1;
    std::string out, err;
    double seconds = 0;
};

// Runs varno-cli without a display while `sensor` answers frames on the pty.
Ran runProgram(const QStringList& args, PtyPeer* pty = nullptr,
               std::function<Bytes(const Bytes&)> sensor = nullptr,
               const QString& loggingRules = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.remove("QT_LOGGING_RULES");
    if (!loggingRules.isEmpty()) env.insert("QT_LOGGING_RULES", loggingRules);
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(VARNO_CLI_PATH, args);
    Ran r;
    if (!p.waitForStarted(5000)) return r;
    while (!p.waitForFinished(2) && t.elapsed() < 20000) {
        Bytes f;
        while (pty && pty->nextFrame(f))
            if (Bytes answer = sensor(f); !answer.empty()) pty->send(answer);
    }
    r.seconds = t.elapsed() / 1000.0;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(3000);
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TEST(CliProgram, ReadWriteVerifyAndJumpBufOnAPseudoTerminalWithoutADisplay) {
    PtyPeer pty;
    ASSERT_TRUE(pty.ok());
    Bytes ram = block15;
    auto sensor = [&](const Bytes& f) -> Bytes {
        if (f[1] == 1) ram.assign(f.begin() + 2, f.end());
        if (f[1] == 3) return ram;
        return standardAnswer(f[1]);
    };
    Ran r = runProgram({"--port", q(pty.path()), "read", "ram"}, &pty, sensor);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, fileText(block15));
    EXPECT_EQ(pty.all, frameFor(3, zeros15.data()));

    QTemporaryDir dir;
    const std::string f = dir.filePath("p.dat").toStdString();
    const Bytes mine{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    std::ofstream(f) << fileText(mine);
    pty.all.clear();
    r = runProgram({"--port", q(pty.path()), "write", q(f), "ram", "--verify"}, &pty, sensor);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(pty.all, concat({frameFor(1, mine.data()), frameFor(3, mine.data())}));
    EXPECT_EQ(ram, mine);

    // A sensor that keeps one byte of its own.
    auto stubborn = [&](const Bytes& fr) -> Bytes {
        Bytes b = sensor(fr);
        if (fr[1] == 3) b[7] ^= 1;
        return b;
    };
    r = runProgram({"--port", q(pty.path()), "write", q(f), "ram", "--verify"}, &pty, stubborn);
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("byte 8 (regcnt): sent 8, read back 9"), std::string::npos) << r.err;

    pty.all.clear();
    r = runProgram({"--port", q(pty.path()), "write", q(f), "eeprom"}, &pty, sensor);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(pty.all, frameFor(2, mine.data()));

    pty.all.clear();
    r = runProgram({"--port", q(pty.path()), "jumpbuf"}, &pty, sensor);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 17) << r.out;
    EXPECT_EQ(pty.all, frameFor(6, zeros15.data()));
}

TEST(CliProgram, LiveAgainstTheStandAloneSimulatedSensor) {
    QTemporaryDir dir;
    const QString link = dir.filePath("sensor");
    QProcess sim;
    ASSERT_TRUE(startSensorSim(sim, link, {"--latency", "1"}));
    const Ran r = runProgram({"--port", link, "live", "--count", "5"});
    EXPECT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("time,t_s,dat0,", 0), 0u) << r.out;
    int rows = 0;
    while (std::getline(lines, line))
        rows += std::count(line.begin(), line.end(), ',') == 11;
    EXPECT_EQ(rows, 5) << r.out;
    sim.terminate();
    sim.waitForFinished(3000);
}

TEST(CliProgram, NoReplyExitsOneAfterTheReplyWait) {
    QTemporaryDir dir;
    const QString link = dir.filePath("sensor");
    QProcess sim;
    ASSERT_TRUE(startSensorSim(sim, link, {"--silent"}));
    const Ran r = runProgram({"--port", link, "read", "ram"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_GE(r.seconds, 2.9);
    EXPECT_LE(r.seconds, 4.5);
    EXPECT_NE(r.err.find("no reply from the sensor to the request 55 03"), std::string::npos)
        << r.err;
    sim.terminate();
    sim.waitForFinished(3000);
}

TEST(CliProgram, UsageAndPortErrors) {
    Ran r = runProgram({"frobnicate"});
    EXPECT_EQ(r.code, 2);
    r = runProgram({"--port", "/nonexistent/tty", "check"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("no such device"), std::string::npos) << r.err;
}

// live with its output on a full file system (a file size limit, as a full disk fails a
// write part way) and on /dev/full: exit 4 at the first failed write, whole rows only.
TEST(CliProgram, LiveIntoAFullOutputExitsFourWithWholeRowsOnly) {
    QTemporaryDir dir;
    const QString link = dir.filePath("sensor");
    QProcess sim;
    sim.start(VARNO_SENSOR_SIM_PATH, {"--link", link, "--latency", "1"});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    auto liveInto = [&](const QString& out, rlim_t limit, double& seconds) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(out);
        if (limit > 0)
            p.setChildProcessModifier([limit] {
                rlimit r{};
                getrlimit(RLIMIT_FSIZE, &r);
                r.rlim_cur = limit;
                setrlimit(RLIMIT_FSIZE, &r);
            });
        QElapsedTimer t;
        t.start();
        p.start(VARNO_CLI_PATH, {"--port", link, "live"});
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(3000);
            return std::pair<int, std::string>{-1, "did not end"};
        }
        seconds = t.elapsed() / 1000.0;
        return std::pair<int, std::string>{
            p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            p.readAllStandardError().toStdString()};
    };
    const QString file = dir.filePath("rows.csv");
    double seconds = 0;
    auto [code, err] = liveInto(file, 600, seconds);
    EXPECT_EQ(code, 4) << err;
    EXPECT_LT(seconds, 3.0);
    EXPECT_NE(err.find("File too large"), std::string::npos) << err;
    std::ifstream in(file.toStdString(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_LE(text.size(), 600u);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("time,t_s,dat0,", 0), 0u) << text;
    int rows = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 11) << line;
        ++rows;
    }
    EXPECT_GE(rows, 5); // rows of about 60 bytes: 8 fit
    EXPECT_GT(text.size() + 70, 600u); // and no whole row was cut off with the part

    if (QFileInfo::exists("/dev/full")) {
        std::tie(code, err) = liveInto("/dev/full", 0, seconds);
        EXPECT_EQ(code, 4) << err;
        EXPECT_LT(seconds, 3.0);
        EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    }
    sim.terminate();
    sim.waitForFinished(3000);
}

// The byte trace, as a service engineer switches it on: every frame sent and every byte
// received, in hex with a time stamp, on stderr; nothing of it without the switch.
TEST(CliProgram, TheTraceShowsTheFrameAndTheFifteenBytesReceived) {
    QTemporaryDir dir;
    const QString link = dir.filePath("sensor");
    QProcess sim;
    sim.start(VARNO_SENSOR_SIM_PATH, {"--link", link, "--latency", "1"});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const std::string frame = "sent 17: 55 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    for (int way = 0; way < 3; ++way) {
        const Ran r = way == 0   ? runProgram({"--port", link, "read", "ram"}, nullptr, nullptr,
                                              "varno.link.debug=true")
                      : way == 1 ? runProgram({"--port", link, "--trace", "read", "ram"})
                                 : runProgram({"--port", link, "read", "ram"});
        ASSERT_EQ(r.code, 0) << r.err;
        // The block printed on stdout is the 15 bytes the trace shows received.
        std::istringstream values(r.out);
        std::string hex;
        unsigned v = 0;
        int n = 0;
        char b[4];
        while (values >> v) {
            std::snprintf(b, sizeof b, "%02X", v);
            hex += (n++ ? " " : "") + std::string(b);
        }
        ASSERT_EQ(n, 15) << r.out;
        if (way == 2) {
            EXPECT_EQ(r.err.find("varno.link"), std::string::npos) << r.err;
            continue;
        }
        EXPECT_NE(r.err.find(frame), std::string::npos) << way << "\n" << r.err;
        const std::size_t got = r.err.find("received 15: " + hex);
        EXPECT_NE(got, std::string::npos) << way << "\n" << r.err;
        // Each line: the category, then seconds with milliseconds.
        const std::size_t line = r.err.rfind("varno.link: ", got);
        ASSERT_NE(line, std::string::npos) << r.err;
        std::istringstream stamp(r.err.substr(line + 12));
        std::string seconds;
        stamp >> seconds;
        const std::size_t dot = seconds.find('.');
        EXPECT_NE(dot, std::string::npos) << seconds;
        EXPECT_EQ(seconds.size() - dot - 1, 3u) << seconds;
    }
    sim.terminate();
    sim.waitForFinished(3000);
}
