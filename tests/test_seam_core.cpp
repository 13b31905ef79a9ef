// The seam's core on its own: a program linked with varno_seam alone (no widgets, no
// panels, no test hooks) gets time from the clock it installs, serial peers that wait on
// that clock, a watcher of what goes out, and the command-line reader.
#include "runtime/clock.h"
#include "runtime/cmdline.h"
#include "runtime/endpoint.h"
#include "runtime/runtime.h"
#include "scripted_peer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace rt = runtime;

namespace {

// A clock that moves only when told, as a program's own replacement would.
class StepClock : public rt::Clock {
  public:
    double t = 0.0;
    std::vector<double> pumps;
    double now() override { return t; }
    void sleep(int ms) override { t += ms / 1000.0; }
    bool stepped() const override { return true; }
    void step() override { t += 0.001; }
    bool waitForPeer(double due, double deadline) override {
        if (!std::isfinite(due) || due > deadline) return false;
        t = std::max(t, due);
        return true;
    }
    void pumped(double now) override { pumps.push_back(now); }
};

class Recorder : public rt::SerialWatcher {
  public:
    std::vector<std::string> events;
    void opening(int port) override { events.push_back("open " + std::to_string(port)); }
    void sent(int port, const char* data, int n) override {
        events.push_back("sent " + std::to_string(port) + " " + std::to_string(n) + " " +
                         std::to_string(static_cast<unsigned char>(data[0])));
    }
    void reset() override { events.push_back("reset"); }
};

class SeamCore : public ::testing::Test {
  protected:
    StepClock clock;
    void SetUp() override {
        rt::InstallClock(&clock);
        rt::ResetSerialBindings();
    }
    void TearDown() override {
        rt::WatchSerialWrites(nullptr);
        rt::SetSerialStderrReports(true);
        rt::ResetSerialBindings();
        rt::InstallClock(nullptr);
    }
    std::shared_ptr<ScriptedPeer> peerAnswering(double delay, Bytes answer) {
        auto p = std::make_shared<ScriptedPeer>();
        p->onFrame = [delay, answer](const Bytes&, double) {
            return std::vector<ScriptedPeer::Chunk>{{delay, answer}};
        };
        rt::BindSerialEndpoint(1, p);
        return p;
    }
};

const char frame[17] = {0x55, 7};

} // namespace

TEST_F(SeamCore, TimerSleepAndThePumpRunOnTheInstalledClock) {
    clock.t = 5.0;
    EXPECT_EQ(rt::Timer(), 5.0);
    rt::Sleep(250);
    EXPECT_DOUBLE_EQ(rt::Timer(), 5.25);
    rt::ProcessSystemEvents();
    EXPECT_DOUBLE_EQ(rt::Timer(), 5.251);
    ASSERT_EQ(clock.pumps.size(), 1u);
    EXPECT_DOUBLE_EQ(clock.pumps[0], 5.251);

    // Back on the system clock: real time again, moving on by itself.
    rt::InstallClock(nullptr);
    const double a = rt::Timer();
    rt::Sleep(20);
    EXPECT_GE(rt::Timer() - a, 0.019);
    EXPECT_EQ(clock.pumps.size(), 1u);
}

TEST_F(SeamCore, AReadWaitsOnTheClockForThePeerAndNoLonger) {
    peerAnswering(0.2, {0xAA, 0x03, 0x00});
    ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
    ASSERT_EQ(rt::SetComTime(1, 2.0), 0);
    ASSERT_EQ(rt::ComWrt(1, frame, 17), 17);
    char in[8] = {};
    EXPECT_EQ(rt::ComRd(1, in, 3), 3);
    EXPECT_DOUBLE_EQ(rt::Timer(), 0.2); // exactly when the peer's answer was due
    EXPECT_EQ(static_cast<unsigned char>(in[0]), 0xAA);

    // An answer due after the read's deadline is not waited for.
    peerAnswering(3.0, {0xAA, 0x03, 0x00});
    ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
    ASSERT_EQ(rt::SetComTime(1, 2.0), 0);
    ASSERT_EQ(rt::ComWrt(1, frame, 17), 17);
    EXPECT_EQ(rt::ComRd(1, in, 3), 0);
    EXPECT_LT(rt::Timer(), 2.2 + 1e-9);
}

TEST_F(SeamCore, TheWatcherSeesOpeningsWhatGoesOutAndTheReset) {
    Recorder rec;
    rt::WatchSerialWrites(&rec);
    rt::SetSerialStderrReports(false); // the lost port below is expected
    auto peer = peerAnswering(0.01, {});
    EXPECT_EQ(rt::ComWrt(1, frame, 17), rt::RS_PORT_NOT_OPEN); // not open: nothing went out
    ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
    ASSERT_EQ(rt::ComWrt(1, frame, 17), 17);
    peer->gone = true; // the adapter is pulled out: the next write fails
    EXPECT_LT(rt::ComWrt(1, frame, 17), 0);
    EXPECT_EQ(rt::OpenComConfig(250, "", 4800, 0, 8, 1, 1024, 1024), rt::RS_NO_PORT_FOUND);
    rt::ResetSerialBindings();
    const std::vector<std::string> want{"open 1", "sent 1 17 85", "open 250", "reset"};
    EXPECT_EQ(rec.events, want);
}

TEST(CommandLine, OptionsValuesAndQtsOwnOptions) {
    const std::vector<rt::OptionSpec> opts{{{"port"}, "A port.", "N=PATH"},
                                           {{"q", "quiet"}, "Say less.", ""}};
    const char* argv[] = {"prog", "--port", "1=/a", "-platform", "offscreen", "--port=2=/b", "-q"};
    const rt::CommandLine cl = rt::ParseCommandLine(opts, 7, const_cast<char**>(argv));
    ASSERT_TRUE(cl.ok) << cl.errorText;
    EXPECT_EQ(cl.values("port"), (std::vector<std::string>{"1=/a", "2=/b"}));
    EXPECT_EQ(cl.value("port"), "2=/b"); // the last one given
    EXPECT_TRUE(cl.isSet("quiet"));
    EXPECT_TRUE(cl.isSet("q"));
    EXPECT_TRUE(cl.positional.empty());
    EXPECT_FALSE(cl.isSet("platform")); // Qt's own: passed over

    const char* unknown[] = {"prog", "--nope", "x"};
    const rt::CommandLine bad = rt::ParseCommandLine(opts, 3, const_cast<char**>(unknown));
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.unknownOption, "nope");

    const char* missing[] = {"prog", "--port"};
    const rt::CommandLine none = rt::ParseCommandLine(opts, 2, const_cast<char**>(missing));
    EXPECT_FALSE(none.ok);
    EXPECT_TRUE(none.unknownOption.empty());
    EXPECT_NE(none.errorText.find("port"), std::string::npos) << none.errorText;

    const char* extra[] = {"prog", "file.txt"};
    EXPECT_EQ(rt::ParseCommandLine(opts, 2, const_cast<char**>(extra)).positional,
              std::vector<std::string>{"file.txt"});

    const std::string help = rt::CommandLineHelp(opts, "prog", "Does things.");
    EXPECT_EQ(help.rfind("Usage: prog [options]\nDoes things.\n", 0), 0u) << help;
    EXPECT_NE(help.find("--port N=PATH"), std::string::npos) << help;
    EXPECT_NE(help.find("-q, --quiet"), std::string::npos) << help;
    EXPECT_EQ(help.find("platform"), std::string::npos) << help;
}

// The one reader of argv under every program's options: in order, options told from words,
// a value taken whatever it looks like, nothing after "--" an option.
TEST(CommandLine, ArgsReadInOrderWithValuesAsGiven) {
    const char* argv[] = {"prog", "--port", "-3", "-o=f.dat", "read", "-", "--x=", "--", "--y"};
    rt::Args args(9, argv);
    rt::Arg a;
    ASSERT_TRUE(args.next(a));
    EXPECT_EQ(a.dashes, 2);
    EXPECT_EQ(a.name, "port");
    ASSERT_TRUE(args.takeValue(a));
    EXPECT_EQ(a.value, "-3"); // a value that looks like an option is still the value
    ASSERT_TRUE(args.next(a));
    EXPECT_EQ(a.dashes, 1);
    EXPECT_EQ(a.name, "o");
    EXPECT_TRUE(a.inlineValue);
    EXPECT_EQ(a.value, "f.dat");
    ASSERT_TRUE(args.takeValue(a)); // the inline one, nothing taken
    ASSERT_TRUE(args.next(a));
    EXPECT_EQ(a.dashes, 0);
    EXPECT_EQ(a.given, "read");
    ASSERT_TRUE(args.next(a));
    EXPECT_EQ(a.dashes, 0); // "-" alone is a word
    ASSERT_TRUE(args.next(a));
    EXPECT_TRUE(a.inlineValue);
    EXPECT_EQ(a.value, ""); // "--x=": an empty value, given
    ASSERT_TRUE(args.next(a));
    EXPECT_EQ(a.given, "--");
    ASSERT_TRUE(args.next(a));
    EXPECT_EQ(a.dashes, 0); // after "--" every argument is a word
    EXPECT_EQ(a.given, "--y");
    EXPECT_FALSE(args.next(a));
    EXPECT_FALSE(args.takeValue(a));
}

TEST(CommandLine, TheQtWayOfThePanelWithItsMessages) {
    const std::vector<rt::OptionSpec> opts{{{"record"}, "Record.", "FILE"},
                                           {{"simulate"}, "Simulate.", ""}};
    const char* single[] = {"prog", "-record", "r.csv", "-simulate"};
    const rt::CommandLine cl = rt::ParseCommandLine(opts, 4, const_cast<char**>(single));
    ASSERT_TRUE(cl.ok) << cl.errorText;
    EXPECT_EQ(cl.value("record"), "r.csv"); // single-dash words are long options
    EXPECT_TRUE(cl.isSet("simulate"));
    const char* flagValue[] = {"prog", "--simulate=yes"};
    const rt::CommandLine fv = rt::ParseCommandLine(opts, 2, const_cast<char**>(flagValue));
    EXPECT_FALSE(fv.ok);
    EXPECT_EQ(fv.errorText, "Unexpected value after '--simulate'.");
    const char* missing[] = {"prog", "--record"};
    EXPECT_EQ(rt::ParseCommandLine(opts, 2, const_cast<char**>(missing)).errorText,
              "Missing value after '--record'.");
    const char* both[] = {"prog", "--record", "--bogus"};
    const rt::CommandLine b = rt::ParseCommandLine(opts, 3, const_cast<char**>(both));
    EXPECT_TRUE(b.ok);
    EXPECT_EQ(b.value("record"), "--bogus"); // the value is taken as given, as Qt takes it
    // An unknown option is the fault named, whatever else is wrong.
    const char* unknownAndMissing[] = {"prog", "--bogus", "--record"};
    const rt::CommandLine u = rt::ParseCommandLine(opts, 3, const_cast<char**>(unknownAndMissing));
    EXPECT_EQ(u.unknownOption, "bogus");
    EXPECT_TRUE(u.errorText.empty());
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    rt::InitRuntimeNoDisplay(&argc, argv);
    return RUN_ALL_TESTS();
}
