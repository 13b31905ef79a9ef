// Unplugging and plugging back: a lost port is told once and opened again by itself when
// its device returns; a port that will not open says why. On the virtual clock with
// scripted peers, and in real time over pseudo-terminals reached through a symbolic link.
#include "fixture.h"
#include "pty_peer.h"
#include "runtime/internal.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace {


double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Start-up as WinMain does it, up to the port opening, with the port events installed.
class Reconnect : public PanelTest {
  protected:
    std::shared_ptr<ScriptedPeer> peer;

    void SetUp() override {
        PanelTest::SetUp();
        initVars();
        rt::InstallPortEventCallback(Varnov30::PortEvent);
        peer = answering(bindPeer(1));
    }
    void TearDown() override {
        rt::InstallPortEventCallback(nullptr);
        PanelTest::TearDown();
    }

    static std::shared_ptr<ScriptedPeer> answering(std::shared_ptr<ScriptedPeer> p) {
        p->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
            if (f[1] == 7) return {{0.02, lineOk}};
            if (f[1] == 3) return {{0.05, block15}};
            if (f[1] == 5) return {{0.03, record1}};
            return {};
        };
        return p;
    }

    void openWithLineCheck() {
        com232::InitRS232(1);
        ASSERT_EQ(status(), lineOkText);
        ASSERT_EQ(peer->frames.size(), 2u);
    }
    void unplug() {
        peer->gone = true;
        ASSERT_TRUE(pumpUntil([&] { return status().rfind("Port lost", 0) == 0; }, 0.1))
            << status();
    }
};

} // namespace

TEST_F(Reconnect, ALostPortIsToldOnceAndOpensAgainByItself) {
    openWithLineCheck();
    unplug();
    EXPECT_EQ(status(), "Port lost: simulated sensor");
    EXPECT_FALSE(th::PortOpen(1));
    // A second report would overwrite this; nothing may be sent or shown while lost.
    rt::SetCtrlVal(panel, PANEL_STATUS, "marker");
    pumpFor(5.0);
    EXPECT_EQ(status(), "marker");
    EXPECT_EQ(peer->frames.size(), 2u);
    EXPECT_TRUE(popups.empty());

    rt::SetCtrlVal(panel, PANEL_THRESHOLD, static_cast<unsigned char>(7));
    peer->gone = false;
    const double back = rt::Timer();
    ASSERT_TRUE(pumpUntil([&] { return peer->frames.size() >= 4; }, 3.0));
    EXPECT_EQ(peer->frames[2], frameFor(7, block15.data())); // the block read before
    EXPECT_LE(peer->frameTimes[2] - back, 1.2);
    EXPECT_EQ(peer->frames[3], frameFor(3, block15.data()));
    EXPECT_EQ(status(), lineOkText);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 100);
    EXPECT_TRUE(th::PortOpen(1));
    EXPECT_TRUE(popups.empty());

    gui::SendPara(); // F9
    ASSERT_EQ(peer->frames.size(), 5u);
    EXPECT_EQ(peer->frames[4], frameFor(1, block15.data()));
    // Back and open: no further openings.
    pumpFor(3.0);
    EXPECT_EQ(peer->frames.size(), 5u);
    EXPECT_TRUE(popups.empty());
}

TEST_F(Reconnect, AnAcquisitionRunningWhenThePortIsLostEndsWithOneReport) {
    openWithLineCheck();
    double lostAt = -1;
    th::SetPumpHook([&](double now) {
        if (lostAt < 0 && peer->frames.size() >= 6) {
            peer->gone = true;
            lostAt = now;
        }
        if (lostAt >= 0 && now - lostAt > 10.0) com232::poll = 0; // never hang the test
    });
    gui::GetData();
    th::SetPumpHook(nullptr);
    ASSERT_GE(lostAt, 0.0);
    // Ends at once, not after a whole reply wait.
    EXPECT_LT(rt::Timer() - lostAt, 0.5);
    EXPECT_EQ(com232::poll, 0);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "INFO");
    EXPECT_EQ(popups[0].text, com232::InfoTimeout);
    EXPECT_EQ(status(), "Port lost: simulated sensor");
    const std::size_t sent = peer->frames.size();
    pumpFor(5.0);
    EXPECT_EQ(popups.size(), 1u);
    EXPECT_EQ(peer->frames.size(), sent);
    // It comes back like an idle port; the acquisition stays ended.
    peer->gone = false;
    ASSERT_TRUE(pumpUntil([&] { return peer->frames.size() >= sent + 2; }, 3.0));
    EXPECT_EQ(peer->frames[sent], frameFor(7, block15.data()));
    EXPECT_EQ(status(), lineOkText);
    EXPECT_EQ(com232::poll, 0);
    EXPECT_EQ(popups.size(), 1u);
}

TEST_F(Reconnect, ARequestWhileLostIsReportedOnceAndThePortStillComesBack) {
    openWithLineCheck();
    unplug();
    gui::SendPara(); // F9 with the adapter out
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(peer->frames.size(), 2u);
    pumpFor(3.0);
    EXPECT_EQ(countPopups("INFO"), 1);
    peer->gone = false;
    ASSERT_TRUE(pumpUntil([&] { return peer->frames.size() >= 4; }, 1.5));
    EXPECT_EQ(peer->frames[2], frameFor(7, block15.data())); // the block read before
    EXPECT_EQ(peer->frames[3], frameFor(3, block15.data()));
    EXPECT_EQ(status(), lineOkText);
    EXPECT_EQ(popups.size(), 1u);
}

TEST_F(Reconnect, APortChosenWhileTheOldOneWasLostIsKept) {
    auto other = answering(bindPeer(2));
    openWithLineCheck();
    unplug();
    rt::SetCtrlVal(panel, PANEL_COMPORT, 2);
    th::FireEvent(panel, PANEL_COMPORT, rt::EVENT_COMMIT);
    ASSERT_EQ(com232::com, 2);
    ASSERT_EQ(other->frames.size(), 2u);
    EXPECT_EQ(status(), lineOkText);
    peer->gone = false; // COM1's device returns: it is not the chosen port any more
    pumpFor(3.0);
    EXPECT_EQ(peer->frames.size(), 2u);
    EXPECT_EQ(other->frames.size(), 2u);
    EXPECT_FALSE(th::PortOpen(1));
    EXPECT_TRUE(th::PortOpen(2));
    EXPECT_EQ(com232::com, 2);
    EXPECT_EQ(status(), lineOkText);
    EXPECT_TRUE(popups.empty());
}

TEST_F(Reconnect, TheWatchLooksAboutOnceASecond) {
    // A peer that counts how often it is asked whether it is there.
    class CountingPeer : public ScriptedPeer {
      public:
        mutable int asked = 0;
        bool connected(double now) const override {
            ++asked;
            return ScriptedPeer::connected(now);
        }
    };
    auto counting = std::make_shared<CountingPeer>();
    answering(counting);
    rt::BindSerialEndpoint(1, counting);
    peer = counting;
    openWithLineCheck();
    unplug();
    const int before = counting->asked;
    pumpFor(10.0);
    const int looks = counting->asked - before;
    EXPECT_GE(looks, 8);
    EXPECT_LE(looks, 11);
    EXPECT_TRUE(rt::detail::Watched(1));
    // A port that never opened is not watched.
    rt::BindSerialDevice(3, "/nonexistent/serial/device");
    EXPECT_EQ(rt::OpenComConfig(3, "", 4800, 0, 8, 1, 1024, 1024), rt::RS_NO_PORT_FOUND);
    EXPECT_FALSE(rt::detail::Watched(3));
}

TEST_F(Reconnect, ADeviceGoneAgainDuringTheReconnectsLineCheckSaysPortLostWithoutAPopUp) {
    openWithLineCheck();
    unplug();
    // It comes back, and goes again before it answers the line check.
    double checkAt = -1;
    peer->onFrame = [&](const Bytes& f, double now) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7 && checkAt < 0) checkAt = now;
        return {}; // late: no answer yet
    };
    th::SetPumpHook([&](double now) {
        if (checkAt >= 0 && now - checkAt > 0.5) peer->gone = true;
    });
    peer->gone = false;
    ASSERT_TRUE(pumpUntil([&] { return checkAt >= 0; }, 2.0));
    ASSERT_TRUE(pumpUntil([&] { return rt::Timer() - checkAt > 3.2; }, 4.0));
    th::SetPumpHook(nullptr);
    EXPECT_EQ(status(), "Port lost: simulated sensor");
    EXPECT_TRUE(popups.empty()); // the operator asked for nothing
    EXPECT_FALSE(th::PortOpen(1));
    EXPECT_TRUE(rt::detail::Watched(1));
    // Watched still: when it is back for good, it opens and answers.
    answering(peer);
    peer->gone = false;
    ASSERT_TRUE(pumpUntil([&] { return status() == lineOkText; }, 3.0)) << status();
    EXPECT_TRUE(th::PortOpen(1));
    EXPECT_TRUE(popups.empty());
}

TEST_F(Reconnect, ADeviceBackButSilentSaysTimeoutOnTheStatusLineOnlyUnlessTheOperatorAsks) {
    openWithLineCheck();
    unplug();
    peer->onFrame = [](const Bytes&, double) { return std::vector<ScriptedPeer::Chunk>{}; };
    peer->gone = false;
    const std::size_t before = peer->frames.size();
    ASSERT_TRUE(pumpUntil([&] { return peer->frames.size() > before; }, 2.0));
    pumpFor(3.5);
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_TRUE(popups.empty());
    EXPECT_TRUE(th::PortOpen(1));

    // Again, and this time the operator presses Get (F10) while the line check waits: his
    // request is reported as ever, the program's own check still is not.
    unplug();
    peer->gone = false;
    const std::size_t lost = peer->frames.size();
    bool pressed = false;
    th::SetPumpHook([&](double) {
        if (!pressed && peer->frames.size() > lost) {
            pressed = true;
            th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
        }
    });
    ASSERT_TRUE(pumpUntil([&] { return pressed; }, 2.0));
    pumpFor(4.0);
    th::SetPumpHook(nullptr);
    ASSERT_EQ(peer->frames.size(), lost + 2); // the line check and the operator's read
    EXPECT_EQ(peer->frames[lost][1], 7);
    EXPECT_EQ(peer->frames[lost + 1][1], 3);
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(status(), "TIMEOUT");
}

// ---- real time over pseudo-terminals ---------------------------------------------------

namespace {

class RealReconnect : public PanelTest {
  protected:
    QTemporaryDir dir;
    std::string link;
    PtyPeer* far = nullptr; // the far end plugged in now, if any
    std::vector<Bytes> frames;

    void SetUp() override {
        PanelTest::SetUp();
        th::UseVirtualClock(false);
        initVars();
        rt::InstallPortEventCallback(Varnov30::PortEvent);
        ASSERT_TRUE(dir.isValid());
        link = dir.path().toStdString() + "/sensor";
        // The far end answers the line check, the parameter read and the data request.
        th::SetPumpHook([this](double) {
            Bytes f;
            while (far && far->nextFrame(f)) {
                frames.push_back(f);
                if (f[1] == 7) far->send(lineOk);
                if (f[1] == 3) far->send(block15);
            }
        });
    }
    void TearDown() override {
        th::SetPumpHook(nullptr);
        rt::InstallPortEventCallback(nullptr);
        PanelTest::TearDown();
    }

    // Points the link at a far end, replacing whatever it pointed to, in one step.
    void pointLinkAt(const std::string& target) {
        const std::string tmp = link + ".new";
        ::unlink(tmp.c_str());
        ASSERT_EQ(::symlink(target.c_str(), tmp.c_str()), 0);
        ASSERT_EQ(::rename(tmp.c_str(), link.c_str()), 0);
    }
    // The program's idle loop, as between operator actions, for up to `seconds` or until
    // `done` holds (looked at every 20 ms).
    void idle(double seconds, const std::function<bool()>& done = {}) {
        QTimer stop;
        stop.setSingleShot(true);
        QObject::connect(&stop, &QTimer::timeout, [] { rt::QuitUserInterface(0); });
        stop.start(int(seconds * 1000));
        QTimer look;
        if (done) {
            QObject::connect(&look, &QTimer::timeout, [&] {
                if (done()) rt::QuitUserInterface(0);
            });
            look.start(20);
        }
        rt::RunUserInterface();
    }
    // A terminal behind the link as COM1, checked and read as the program starts
    // (null when no terminal could be had).
    std::unique_ptr<PtyPeer> startBehindLink() {
        auto first = std::make_unique<PtyPeer>();
        if (!first->ok()) return nullptr;
        pointLinkAt(first->path());
        rt::BindSerialDevice(1, link.c_str());
        far = first.get();
        com232::InitRS232(1);
        return first;
    }
};

} // namespace

TEST_F(RealReconnect, AnAdapterPulledOutAndPluggedBackAsAnotherNode) {
    auto first = startBehindLink();
    ASSERT_TRUE(first);
    ASSERT_EQ(status(), lineOkText);
    ASSERT_EQ(frames.size(), 2u);

    // Pulled out: the far end closes and the link goes.
    far = nullptr;
    first->close();
    ASSERT_EQ(::unlink(link.c_str()), 0);
    idle(0.5);
    EXPECT_EQ(status(), "Port lost: " + link);
    EXPECT_FALSE(th::PortOpen(1));
    // Lost and idle: no spinning core (the precise figure is in the benchmark).
    const double cpu0 = cpuSeconds();
    idle(2.0);
    const double cpu = cpuSeconds() - cpu0;
    EXPECT_LT(cpu, 0.1) << "CPU seconds in 2 s while lost";
    EXPECT_TRUE(popups.empty());

    // Plugged back: a new terminal behind the same link.
    auto second = std::make_unique<PtyPeer>();
    ASSERT_TRUE(second->ok());
    pointLinkAt(second->path());
    far = second.get();
    frames.clear();
    const double t0 = rt::Timer();
    ASSERT_TRUE(pumpUntil([&] { return frames.size() >= 2 && status() == lineOkText; }, 5.0))
        << "after " << rt::Timer() - t0 << " s: " << frames.size() << " frames, " << status();
    // Every frame carries the parameter block held, here the one read before.
    EXPECT_EQ(frames[0], frameFor(7, block15.data()));
    EXPECT_EQ(frames[1], frameFor(3, block15.data()));
    pumpUntil([&] { return ucharVal(PANEL_THRESHOLD) == 100; }, 1.0);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 100);
    EXPECT_TRUE(popups.empty());

    gui::SendPara(); // F9: the block goes out on the new line
    ASSERT_TRUE(pumpUntil([&] { return frames.size() >= 3; }, 1.0));
    EXPECT_EQ(frames[2], frameFor(1, block15.data()));
    EXPECT_TRUE(popups.empty());
}

TEST_F(RealReconnect, ARepointedLinkComesBackWhileTheProgramIdles) {
    auto first = startBehindLink();
    ASSERT_TRUE(first);
    ASSERT_EQ(status(), lineOkText);

    // The far end closes; the link is left pointing at something that is not there.
    far = nullptr;
    first->close();
    pointLinkAt(dir.path().toStdString() + "/nothing");
    idle(0.5);
    ASSERT_EQ(status(), "Port lost: " + link);

    rt::SetCtrlVal(panel, PANEL_THRESHOLD, static_cast<unsigned char>(7));
    auto second = std::make_unique<PtyPeer>();
    ASSERT_TRUE(second->ok());
    frames.clear();
    pointLinkAt(second->path());
    far = second.get();
    const double t0 = rt::Timer();
    // Nobody pumps here: the idle loop itself must notice and open it.
    idle(6.0, [&] { return ucharVal(PANEL_THRESHOLD) == 100; });
    EXPECT_LT(rt::Timer() - t0, 5.0);
    ASSERT_GE(frames.size(), 2u);
    // Every frame carries the parameter block held, here the one read before.
    EXPECT_EQ(frames[0], frameFor(7, block15.data()));
    EXPECT_EQ(frames[1], frameFor(3, block15.data()));
    EXPECT_EQ(status(), lineOkText);
    EXPECT_TRUE(popups.empty());
}

TEST_F(RealReconnect, TheStandAloneSimulatorStoppedAndStartedOnTheSameLink) {
    // The terminal's path on stdout says the link is in place.
    QProcess sim;
    ASSERT_TRUE(startSensorSim(sim, QString::fromStdString(link)));
    rt::BindSerialDevice(1, link.c_str());
    com232::InitRS232(1);
    ASSERT_EQ(status(), lineOkText);

    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the simulator leaves its link behind";
    idle(0.5);
    EXPECT_EQ(status(), "Port lost: " + link);

    rt::SetCtrlVal(panel, PANEL_THRESHOLD, static_cast<unsigned char>(7));
    QProcess again;
    ASSERT_TRUE(startSensorSim(again, QString::fromStdString(link)));
    const double t0 = rt::Timer();
    idle(6.0, [&] { return ucharVal(PANEL_THRESHOLD) != 7; });
    EXPECT_LT(rt::Timer() - t0, 5.0);
    EXPECT_EQ(status(), lineOkText);
    EXPECT_TRUE(th::PortOpen(1));
    EXPECT_TRUE(popups.empty());
    again.terminate();
    EXPECT_TRUE(again.waitForFinished(5000));
}

TEST_F(RealReconnect, ATerminalGoneAgainDuringTheReconnectsLineCheckSaysPortLost) {
    auto first = std::make_unique<PtyPeer>();
    ASSERT_TRUE(first->ok());
    pointLinkAt(first->path());
    rt::BindSerialDevice(1, link.c_str());
    far = first.get();
    com232::InitRS232(1);
    ASSERT_EQ(status(), lineOkText);
    far = nullptr;
    first->close();
    ASSERT_EQ(::unlink(link.c_str()), 0);
    idle(0.5);
    ASSERT_EQ(status(), "Port lost: " + link);

    // Back as a terminal whose far end takes the line check, then goes before answering.
    auto second = std::make_unique<PtyPeer>();
    ASSERT_TRUE(second->ok());
    double checkAt = -1;
    th::SetPumpHook([&](double now) {
        Bytes f;
        while (checkAt < 0 && second->nextFrame(f))
            if (f[1] == 7) checkAt = now;
        if (checkAt >= 0 && now - checkAt > 0.3 && second->ok()) {
            second->close();
            ::unlink(link.c_str());
        }
    });
    pointLinkAt(second->path());
    idle(8.0, [&] { return checkAt >= 0 && rt::Timer() - checkAt > 3.3; });
    th::SetPumpHook(nullptr);
    ASSERT_GE(checkAt, 0.0) << "the line check never came";
    EXPECT_EQ(status(), "Port lost: " + link);
    EXPECT_TRUE(popups.empty());
    EXPECT_FALSE(th::PortOpen(1));
}

// ---- why a port will not open ----------------------------------------------------------

TEST_F(RealReconnect, ABusyPortSaysAnotherProgramHoldsIt) {
    PtyPeer sensor;
    ASSERT_TRUE(sensor.ok());
    rt::BindSerialDevice(1, sensor.path().c_str());
    rt::BindSerialDevice(2, sensor.path().c_str());
    ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
    com232::com = 2;
    testing::internal::CaptureStderr();
    com232::InitRS232(2);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status(), "Cannot open port");
    const std::string why = rt::PortOpenFailure(2);
    EXPECT_NE(why.find("busy"), std::string::npos) << why;
    EXPECT_NE(why.find("another program"), std::string::npos) << why;
    EXPECT_NE(why.find(sensor.path()), std::string::npos) << why;
    // Shown on the status line's tooltip and printed, without a pop-up.
    EXPECT_EQ(th::ControlWidget(panel, PANEL_STATUS)->toolTip().toStdString(), why);
    EXPECT_NE(err.find(why), std::string::npos) << err;
    EXPECT_TRUE(popups.empty());

    // Freed by the other holder: it opens and the reason goes away.
    ASSERT_EQ(rt::CloseCom(1), 0);
    far = &sensor;
    com232::InitRS232(2);
    EXPECT_EQ(status(), lineOkText);
    EXPECT_STREQ(rt::PortOpenFailure(2), "");
    EXPECT_FALSE(th::ControlWidget(panel, PANEL_STATUS)->toolTip().contains("busy")); // the reason is gone
    far = nullptr;
}

TEST_F(RealReconnect, APermissionErrorNamesTheGroupAndTheCommand) {
    PtyPeer sensor;
    ASSERT_TRUE(sensor.ok());
    const std::string dev = sensor.path();
    std::string group;
    if (geteuid() == 0) {
        // Root opens anything: the device is given to a group, and a child that is
        // neither its owner nor in that group tries it.
        const struct group* g = ::getgrnam("dialout");
        const gid_t gid = g ? g->gr_gid : 20;
        const struct group* named = ::getgrgid(gid);
        group = named ? named->gr_name : "dialout";
        ASSERT_EQ(::chown(dev.c_str(), 0, gid), 0);
        ASSERT_EQ(::chmod(dev.c_str(), 0660), 0);
    } else {
        // The user owns the terminal's far side: taking the owner's rights away, the
        // group keeping read and write, does it.
        struct stat st {};
        ASSERT_EQ(::stat(dev.c_str(), &st), 0);
        const struct group* named = ::getgrgid(st.st_gid);
        group = named ? named->gr_name : "dialout";
        ASSERT_EQ(::chmod(dev.c_str(), 0060), 0);
    }
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
             ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(77);
        rt::BindSerialDevice(5, dev.c_str());
        const int rc = rt::OpenComConfig(5, "", 4800, 0, 8, 1, 1024, 1024);
        const std::string said = std::to_string(rc) + "\n" + rt::PortOpenFailure(5);
        (void)!::write(out[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string said;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        said.append(buf, std::size_t(n));
    ::close(out[0]);
    int st = 0;
    ASSERT_EQ(::waitpid(child, &st, 0), child);
    ASSERT_TRUE(WIFEXITED(st));
    if (WEXITSTATUS(st) == 77) GTEST_SKIP() << "cannot take another user's identity here";
    ASSERT_EQ(WEXITSTATUS(st), 0);
    const auto nl = said.find('\n');
    ASSERT_NE(nl, std::string::npos) << said;
    EXPECT_EQ(said.substr(0, nl), std::to_string(rt::RS_CANNOT_OPEN_PORT));
    const std::string why = said.substr(nl + 1);
    EXPECT_NE(why.find(dev + ": permission denied"), std::string::npos) << why;
    EXPECT_NE(why.find("\"" + group + "\""), std::string::npos) << why;
    EXPECT_NE(why.find("sudo usermod -aG " + group + " $USER"), std::string::npos) << why;
    EXPECT_NE(why.find("log out and in again"), std::string::npos) << why;
}

TEST(PortAdvice, AMissingDeviceIsNamedAsMissing) {
    const std::string why =
        rt::detail::ExplainOpenFailure("/dev/serial/by-id/usb-none", true, "No such file");
    EXPECT_EQ(why, "/dev/serial/by-id/usb-none: no such device (No such file)");
    EXPECT_FALSE(rt::detail::DevicePresent("/dev/serial/by-id/usb-none"));
}
