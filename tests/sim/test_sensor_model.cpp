// Tests for the sensor simulator: protocol, line timing, faults, signal model, and a
// round trip through the varno-sensor-sim program on a pseudo-terminal.

#include "sensor_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using sim::Config;
using sim::ParamBlock;
using sim::SensorModel;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr double kByte = 10.0 / 4800.0;
constexpr double kEps = 1e-9;  // rounding allowance for computed arrival times

Bytes frame(std::uint8_t code, const ParamBlock& pp = sim::kDefaultEeprom) {
    Bytes f(sim::kFrameSize);
    f[0] = sim::kSync;
    f[1] = code;
    std::copy(pp.begin(), pp.end(), f.begin() + 2);
    return f;
}

void send(SensorModel& m, const Bytes& b, double now) { m.receive(b.data(), b.size(), now); }

Bytes take(SensorModel& m, double now) {
    Bytes out(4096);
    out.resize(m.transmit(out.data(), out.size(), now));
    return out;
}

// Sends a frame at `now` and collects everything delivered within the next second.
Bytes ask(SensorModel& m, std::uint8_t code, double now,
          const ParamBlock& pp = sim::kDefaultEeprom) {
    send(m, frame(code, pp), now);
    return take(m, now + 1.0);
}

ParamBlock block(std::initializer_list<std::uint8_t> v) {
    ParamBlock b{};
    std::copy(v.begin(), v.end(), b.begin());
    return b;
}

Config quiet() {
    Config c;
    c.noise = 0.0;
    return c;
}

const ParamBlock kSample = block({90, 170, 12, 0, 25, 0, 5, 30, 4, 1, 7, 1, 0, 44, 0xEE});

}  // namespace

// ---------------------------------------------------------------------------------------
// Commands

TEST(Protocol, LineCheckRepliesAA0300) {
    SensorModel m;
    EXPECT_EQ(ask(m, 7, 0.0), (Bytes{0xAA, 0x03, 0x00}));
}

TEST(Protocol, Code1WritesRamWithoutReplyAndCode3ReadsItBack) {
    SensorModel m;
    send(m, frame(1, kSample), 0.0);
    EXPECT_EQ(m.pending(5.0), 0u);
    EXPECT_TRUE(take(m, 5.0).empty());
    EXPECT_EQ(m.ram(), kSample);
    EXPECT_EQ(m.eeprom(), sim::kDefaultEeprom);  // EEPROM untouched
    const Bytes r = ask(m, 3, 5.0);
    EXPECT_EQ(r, Bytes(kSample.begin(), kSample.end()));
    EXPECT_EQ(r.back(), 0xEE);  // spare byte kept as written
}

TEST(Protocol, Code2WritesEepromOnlyAndCode4ReadsItBack) {
    SensorModel m;
    send(m, frame(2, kSample), 0.0);
    EXPECT_EQ(m.pending(5.0), 0u);
    EXPECT_EQ(m.eepromWriteCount(), 1u);
    EXPECT_EQ(ask(m, 4, 5.0), Bytes(kSample.begin(), kSample.end()));
    // RAM still holds the power-up block.
    EXPECT_EQ(ask(m, 3, 6.0), Bytes(sim::kDefaultEeprom.begin(), sim::kDefaultEeprom.end()));
    // At the next power-up the EEPROM block becomes RAM.
    m.powerCycle();
    EXPECT_EQ(ask(m, 3, 7.0), Bytes(kSample.begin(), kSample.end()));
}

TEST(Protocol, ConstructorLoadsEepromIntoRam) {
    Config c;
    c.eeprom = kSample;
    SensorModel m(c);
    EXPECT_EQ(m.ram(), kSample);
    EXPECT_EQ(ask(m, 3, 0.0), Bytes(kSample.begin(), kSample.end()));
    EXPECT_EQ(ask(m, 4, 1.0), Bytes(kSample.begin(), kSample.end()));
}

TEST(Protocol, ReadRequestsIgnoreTheirPayload) {
    SensorModel m;
    send(m, frame(1, kSample), 0.0);
    const ParamBlock other = block({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    EXPECT_EQ(ask(m, 3, 1.0, other), Bytes(kSample.begin(), kSample.end()));
    EXPECT_EQ(m.ram(), kSample);
    EXPECT_EQ(ask(m, 4, 2.0, other),
              Bytes(sim::kDefaultEeprom.begin(), sim::kDefaultEeprom.end()));
    EXPECT_EQ(ask(m, 7, 3.0, other), (Bytes{0xAA, 0x03, 0x00}));
}

TEST(Protocol, LiveRecordIsTenBytesWithConsistentNorm) {
    SensorModel m;  // default noise
    // One request plus reply occupies the line for 27 byte times + latency (58 ms).
    for (double t = 0.0; t < 3.0; t += 0.0637) {
        const Bytes r = ask(m, 5, t);
        ASSERT_EQ(r.size(), 10u);
        const unsigned sum = unsigned(r[0]) + r[1];
        ASSERT_GT(sum, 0u);
        EXPECT_EQ(r[2], r[0] * 255u / sum) << "at t=" << t;
        EXPECT_EQ(r[9], sim::kDefaultEeprom[sim::kThreshold]);  // FIX threshold
        for (int i = 3; i <= 8; ++i) EXPECT_EQ(r[i], 0) << "CONT leaves byte " << i << " empty";
    }
}

TEST(Protocol, LiveRecordShowsStateWhenTheRequestCompletes) {
    Config c;
    c.seed = 7;
    SensorModel a(c), b(c);
    a.advanceTo(0.0);
    b.advanceTo(0.0);
    send(a, frame(5), 0.3);
    const double done = 0.3 + 17 * kByte;
    const Bytes r = take(a, 2.0);
    const auto expect = b.liveRecord(done);
    EXPECT_EQ(r, Bytes(expect.begin(), expect.end()));
    // Half a target period earlier the signal looks different, so the time matters.
    SensorModel cModel(c);
    cModel.advanceTo(0.0);
    const auto earlier = cModel.liveRecord(done - 0.02);
    EXPECT_NE(Bytes(earlier.begin(), earlier.end()), r);
}

TEST(Protocol, JumpBufferIsSixteenBytesMatchingTheModel) {
    SensorModel m(quiet());
    const Bytes empty = ask(m, 6, 0.0);
    EXPECT_EQ(empty, Bytes(16, 0));
    m.advanceTo(0.18);  // three targets have passed (at 0.015, 0.065, 0.115 s)
    const Bytes r = ask(m, 6, 0.18);
    ASSERT_EQ(r.size(), 16u);
    const auto jb = m.jumpBuffer();
    EXPECT_EQ(r, Bytes(jb.begin(), jb.end()));
    EXPECT_EQ(std::count(r.begin(), r.end(), 0), 13);
    for (int i = 13; i < 16; ++i) EXPECT_GT(r[i], 0);
}

TEST(Protocol, UnknownCodesAreIgnored) {
    SensorModel m;
    for (std::uint8_t code : {0, 8, 9, 0x55, 0xAA, 0xFF}) {
        send(m, frame(code), 0.0);
        EXPECT_TRUE(take(m, 1.0).empty()) << "code " << int(code);
    }
    EXPECT_EQ(ask(m, 7, 1.0), (Bytes{0xAA, 0x03, 0x00}));
    EXPECT_EQ(m.ram(), sim::kDefaultEeprom);
}

TEST(Protocol, ResynchronisesAfterGarbage) {
    SensorModel m;
    Bytes g{0x00, 0x12, 0xFF, 0xAA};
    Bytes f = frame(7);
    g.insert(g.end(), f.begin(), f.end());
    send(m, g, 0.0);
    EXPECT_EQ(take(m, 1.0), (Bytes{0xAA, 0x03, 0x00}));

    // A sync byte followed by an invalid code is dropped and the search restarts right after
    // it, so a real frame starting on the next byte is found.
    Bytes h{0x55, 0x55};
    Bytes f7 = frame(7);
    h.insert(h.end(), f7.begin() + 1, f7.end());  // 55 55 07 ... : the second 55 starts it
    send(m, h, 1.0);
    EXPECT_EQ(take(m, 2.0), (Bytes{0xAA, 0x03, 0x00}));

    Bytes k{0x55, 0x09, 0x55, 0x00};
    Bytes f3 = frame(3);
    k.insert(k.end(), f3.begin(), f3.end());
    send(m, k, 2.0);
    EXPECT_EQ(take(m, 3.0), Bytes(m.ram().begin(), m.ram().end()));
}

TEST(Protocol, FrameMayArriveInPieces) {
    SensorModel m;
    const Bytes f = frame(1, kSample);
    double t = 0.0;
    for (std::uint8_t b : f) {
        m.receive(&b, 1, t);
        t += 0.01;
    }
    EXPECT_EQ(m.ram(), kSample);
    EXPECT_EQ(ask(m, 3, t), Bytes(kSample.begin(), kSample.end()));
}

// ---------------------------------------------------------------------------------------
// Line timing

TEST(Pacing, RequestTakesSeventeenByteTimesAndReplyIsPaced) {
    SensorModel m;  // 4800 baud, 2 ms latency
    send(m, frame(7), 1.0);
    const double done = 1.0 + 17 * kByte;
    const double first = done + 0.002 + kByte;
    EXPECT_NEAR(m.nextEventTime(), first, kEps);
    EXPECT_EQ(m.pending(first - 1e-6), 0u);
    EXPECT_EQ(m.pending(first + kEps), 1u);
    EXPECT_EQ(m.pending(first + kByte - 1e-6), 1u);
    EXPECT_EQ(m.pending(first + kByte + kEps), 2u);
    EXPECT_EQ(m.pending(done + 0.002 + 3 * kByte - 1e-6), 2u);
    EXPECT_EQ(m.pending(done + 0.002 + 3 * kByte + kEps), 3u);
    EXPECT_EQ(take(m, first + kEps), (Bytes{0xAA}));
    EXPECT_EQ(m.pending(first + kEps), 0u);
    EXPECT_EQ(take(m, done + 1.0), (Bytes{0x03, 0x00}));
    EXPECT_EQ(m.nextEventTime(), std::numeric_limits<double>::infinity());
}

TEST(Pacing, TenByteReplyArrivesOverTenByteTimes) {
    SensorModel m;
    send(m, frame(5), 0.0);
    const double done = 17 * kByte;
    EXPECT_EQ(m.pending(done + 0.002 + 10 * kByte - 1e-6), 9u);
    EXPECT_EQ(m.pending(done + 0.002 + 10 * kByte + kEps), 10u);
}

TEST(Pacing, BytesQueueBehindBytesStillOnTheWire) {
    SensorModel m;
    send(m, frame(7), 0.0);
    send(m, frame(7), 0.001);  // the first frame is still being clocked in
    const double done2 = 34 * kByte;
    // Second reply starts after its own frame plus latency (the first one is done by then).
    EXPECT_EQ(m.pending(done2 + 0.002 + 3 * kByte - 1e-6), 5u);
    EXPECT_EQ(m.pending(done2 + 0.002 + 3 * kByte + kEps), 6u);
}

TEST(Pacing, RepliesDoNotOverlapOnTheLine) {
    Config c;
    c.latency = 0.0;
    SensorModel m(c);
    Bytes two = frame(3);
    const Bytes f7 = frame(7);
    two.insert(two.end(), f7.begin(), f7.end());
    send(m, two, 0.0);
    // 15-byte reply starts at 17 byte times, ends at 32; the second frame completes at 34,
    // so its reply ends at 37 byte times.
    EXPECT_EQ(m.pending(32 * kByte + kEps), 15u);
    EXPECT_EQ(m.pending(37 * kByte - 1e-6), 17u);
    EXPECT_EQ(m.pending(37 * kByte + kEps), 18u);
}

TEST(Pacing, WithoutPacingEverythingArrivesAfterLatency) {
    Config c;
    c.pacing = false;
    c.latency = 0.005;
    SensorModel m(c);
    send(m, frame(5), 2.0);
    EXPECT_EQ(m.pending(2.005 - 1e-6), 0u);
    EXPECT_EQ(m.pending(2.005 + kEps), 10u);
}

// ---------------------------------------------------------------------------------------
// Faults

TEST(Faults, SilentNeverReplies) {
    Config c;
    c.faults.silent = true;
    SensorModel m(c);
    for (std::uint8_t code = 3; code <= 7; ++code) EXPECT_TRUE(ask(m, code, code).empty());
    EXPECT_EQ(m.nextEventTime(), std::numeric_limits<double>::infinity());
    send(m, frame(1, kSample), 10.0);
    EXPECT_EQ(m.ram(), kSample);  // it still listens
}

TEST(Faults, ShortReplyDropsTheLastByte) {
    Config c;
    c.faults.shortReply = true;
    SensorModel m(c);
    EXPECT_EQ(ask(m, 7, 0.0), (Bytes{0xAA, 0x03}));
    EXPECT_EQ(ask(m, 3, 1.0), Bytes(sim::kDefaultEeprom.begin(), sim::kDefaultEeprom.end() - 1));
    EXPECT_EQ(ask(m, 5, 2.0).size(), 9u);
    EXPECT_EQ(ask(m, 6, 3.0).size(), 15u);
}

TEST(Faults, ExtraBytesAreAppended) {
    Config c;
    c.faults.extraBytes = 3;
    SensorModel m(c);
    const Bytes r = ask(m, 7, 0.0);
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 3), (Bytes{0xAA, 0x03, 0x00}));
    EXPECT_EQ(ask(m, 4, 1.0).size(), 18u);
}

TEST(Faults, LateReplyAddsDelay) {
    Config c;
    c.faults.lateReply = 0.5;
    SensorModel m(c);
    send(m, frame(7), 0.0);
    const double last = 17 * kByte + 0.002 + 0.5 + 3 * kByte;
    EXPECT_EQ(m.pending(last - 1e-6), 2u);
    EXPECT_EQ(m.pending(last + kEps), 3u);
    EXPECT_EQ(m.pending(0.5), 0u);
}

TEST(Faults, SplitReplyComesInPartsWithAGap) {
    Config c;
    c.faults.splitParts = 3;
    c.faults.splitGap = 0.1;
    SensorModel m(c);
    send(m, frame(5), 0.0);
    const double start = 17 * kByte + 0.002;
    // 10 bytes in 3 parts: 4 + 3 + 3.
    EXPECT_EQ(m.pending(start + 4 * kByte + kEps), 4u);
    EXPECT_EQ(m.pending(start + 5 * kByte + 0.099), 4u);
    EXPECT_EQ(m.pending(start + 7 * kByte + 0.1 + kEps), 7u);
    EXPECT_EQ(m.pending(start + 8 * kByte + 0.199), 7u);
    EXPECT_EQ(m.pending(start + 10 * kByte + 0.2 + kEps), 10u);
    const Bytes r = take(m, 5.0);
    EXPECT_EQ(r.size(), 10u);
    EXPECT_EQ(r[2], r[0] * 255u / (unsigned(r[0]) + r[1]));
}

TEST(Faults, WrongLineCheck) {
    Config c;
    c.faults.wrongLineCheck = true;
    SensorModel m(c);
    EXPECT_EQ(ask(m, 7, 0.0), (Bytes{0xAA, 0x03, 0x01}));
}

TEST(Faults, DisconnectStopsEverything) {
    Config c;
    c.faults.disconnectAt = 1.0;
    SensorModel m(c);
    EXPECT_TRUE(m.connected(0.99));
    EXPECT_EQ(ask(m, 7, 0.0), (Bytes{0xAA, 0x03, 0x00}));
    // A reply that would arrive after the line is gone never shows up.
    send(m, frame(7), 1.0 - 18 * kByte);
    EXPECT_EQ(m.pending(2.0), 0u);
    EXPECT_TRUE(take(m, 2.0).empty());
    EXPECT_EQ(m.nextEventTime(), std::numeric_limits<double>::infinity());
    EXPECT_FALSE(m.connected(1.0));
    // Writes after the disconnect are lost.
    send(m, frame(1, kSample), 1.5);
    EXPECT_EQ(m.ram(), sim::kDefaultEeprom);
}

TEST(Faults, BytesThatArrivedBeforeTheDisconnectCanStillBeTaken) {
    Config c;
    c.faults.disconnectAt = 1.0;
    SensorModel m(c);
    send(m, frame(7), 0.5);
    EXPECT_EQ(take(m, 3.0), (Bytes{0xAA, 0x03, 0x00}));
}

// ---------------------------------------------------------------------------------------
// Edge detector driven with synthetic NORM values

namespace {

struct Feed {
    sim::EdgeDetector det;
    sim::DetectorSettings s;
    double t = 0.0;
    std::vector<sim::DetectorEvent> events;
    sim::DetectorEvent push(std::uint8_t norm, bool evaluate = true, bool inWindow = true,
                            double windowEnd = 0.0) {
        t += 0.001;
        sim::DetectorInput in;
        in.t = t;
        in.norm = norm;
        in.evaluate = evaluate;
        in.inWindow = inWindow;
        in.windowEnd = windowEnd;
        const auto ev = det.step(s, in);
        events.push_back(ev);
        return ev;
    }
};

}  // namespace

TEST(Detector, CountsOnlyAfterNormRisesAboveHysteresis) {
    Feed f;
    f.s.threshold = 100;
    f.s.hysteresis = 150;
    EXPECT_FALSE(f.push(50).edge);  // not armed at power-up
    EXPECT_FALSE(f.push(160).edge);
    EXPECT_TRUE(f.det.armed());
    EXPECT_TRUE(f.push(99).edge);
    EXPECT_FALSE(f.push(120).edge);  // back above threshold, below hysteresis
    EXPECT_FALSE(f.push(80).edge);   // not re-armed: no new edge
    EXPECT_FALSE(f.push(150).edge);  // equal is not above
    EXPECT_FALSE(f.det.armed());
    EXPECT_FALSE(f.push(151).edge);
    EXPECT_TRUE(f.det.armed());
    EXPECT_FALSE(f.push(100).edge);  // equal is not below
    EXPECT_TRUE(f.push(90).edge);
    EXPECT_EQ(f.det.edges(), 2u);
}

TEST(Detector, DeadTimeBlindsTheDetector) {
    Feed f;
    f.s.threshold = 100;
    f.s.hysteresis = 150;
    f.s.deadTime = 0.0045;
    f.push(200);
    ASSERT_TRUE(f.push(50).edge);  // t = 2 ms, blind until 6.5 ms
    f.push(200);                   // 3 ms: would re-arm, but blind
    f.push(200);                   // 4 ms
    f.push(200);                   // 5 ms
    EXPECT_FALSE(f.push(50).edge); // 6 ms: still blind and not armed
    EXPECT_FALSE(f.det.armed());
    EXPECT_FALSE(f.push(50).edge); // 7 ms: seeing again, but not armed
    f.push(200);                   // 8 ms: re-armed
    EXPECT_TRUE(f.push(50).edge);  // 9 ms
    EXPECT_EQ(f.det.edges(), 2u);
}

TEST(Detector, NoEvaluationWhileBelowBacklim) {
    Feed f;
    f.s.threshold = 100;
    f.s.hysteresis = 150;
    f.push(200, false);
    EXPECT_FALSE(f.det.armed());
    f.push(200);
    EXPECT_FALSE(f.push(50, false).edge);
    EXPECT_TRUE(f.push(50, true).edge);
}

TEST(Detector, MinimumSearchRunsToTheEndOfDeadTimeAndHold) {
    Feed f;
    f.s.threshold = 100;
    f.s.hysteresis = 150;
    f.s.deadTime = 0.0055;
    f.s.hold = 0.0075;
    f.push(200);
    ASSERT_TRUE(f.push(90).edge);  // 2 ms; search until max(7.5 ms, 9.5 ms)
    // 3..8 ms; staying below the hysteresis, so no new edge interferes.
    for (std::uint8_t v : {70, 40, 60, 140, 140, 140}) EXPECT_FALSE(f.push(v).minimumDone);
    EXPECT_FALSE(f.push(30).minimumDone);  // 9 ms: dead time over, still inside hold
    const auto ev = f.push(20);            // 10 ms: search over, this sample is not part of it
    EXPECT_TRUE(ev.minimumDone);
    EXPECT_EQ(ev.minimum, 30);
    EXPECT_FALSE(ev.edge);

    // Without hold the search ends with the dead time.
    Feed g;
    g.s = f.s;
    g.s.hold = 0.0;
    g.push(200);
    ASSERT_TRUE(g.push(90).edge);  // 2 ms, search until 7.5 ms
    for (std::uint8_t v : {70, 60, 60, 60, 60}) EXPECT_FALSE(g.push(v).minimumDone);
    const auto ev2 = g.push(10);  // 8 ms
    EXPECT_TRUE(ev2.minimumDone);
    EXPECT_EQ(ev2.minimum, 60);
}

TEST(Detector, WindowedSearchRunsToTheWindowEndAndEdgesNeedTheWindow) {
    Feed f;
    f.s.threshold = 100;
    f.s.hysteresis = 150;
    f.s.windowed = true;
    f.push(200, true, false);
    EXPECT_FALSE(f.push(50, true, false).edge);  // outside the window
    f.push(200, true, true, 0.0105);
    ASSERT_TRUE(f.push(60, true, true, 0.0105).edge);  // 4 ms, window ends at 10.5 ms
    for (std::uint8_t v : {55, 140, 140, 140, 45}) EXPECT_FALSE(f.push(v).minimumDone);  // ..9 ms
    EXPECT_FALSE(f.push(47).minimumDone);  // 10 ms
    const auto ev = f.push(10);            // 11 ms
    EXPECT_TRUE(ev.minimumDone);
    EXPECT_EQ(ev.minimum, 45);
}

TEST(Detector, DynamicThresholdFollowsMinimumPlusDelta) {
    Feed f;
    f.s.threshold = 100;
    f.s.hysteresis = 150;
    f.s.dynThreshold = true;
    f.s.deltaTrsh = 20;
    f.s.hold = 0.0025;
    EXPECT_EQ(f.det.workingThreshold(f.s), 100);
    f.push(200);                   // 1 ms
    ASSERT_TRUE(f.push(90).edge);  // 2 ms, search until 4.5 ms
    f.push(50);                    // 3 ms
    f.push(200);                   // 4 ms, re-armed
    EXPECT_EQ(f.det.workingThreshold(f.s), 100);  // search still running
    auto ev = f.push(75);                          // 5 ms: search over
    EXPECT_TRUE(ev.minimumDone);
    EXPECT_EQ(ev.minimum, 50);
    EXPECT_EQ(f.det.workingThreshold(f.s), 70);
    // 75 is below the fixed threshold but not below the working one.
    EXPECT_FALSE(ev.edge);
    EXPECT_TRUE(f.push(69).edge);  // 6 ms, search until 8.5 ms
    f.push(65);
    f.push(200);
    f.push(200);  // 9 ms
    EXPECT_EQ(f.det.workingThreshold(f.s), 85);
    // Never above the configured threshold.
    f.s.deltaTrsh = 200;
    EXPECT_TRUE(f.push(10).edge);  // 10 ms
    for (int i = 0; i < 3; ++i) f.push(200);
    EXPECT_EQ(f.det.workingThreshold(f.s), 100);
    // FIX mode works with the threshold as it is.
    f.s.dynThreshold = false;
    f.s.threshold = 33;
    EXPECT_EQ(f.det.workingThreshold(f.s), 33);
}

// ---------------------------------------------------------------------------------------
// Signal model

namespace {

std::uint64_t edgesBetween(SensorModel& m, double from, double to) {
    m.advanceTo(from);
    const auto a = m.edgeCount();
    m.advanceTo(to);
    return m.edgeCount() - a;
}

}  // namespace

TEST(Signal, CountsOneEdgePerTarget) {
    SensorModel m;  // default noise
    m.advanceTo(0.0);
    EXPECT_EQ(edgesBetween(m, 1.0, 2.0), 20u);
    m.config().targetRate = 7;
    EXPECT_EQ(edgesBetween(m, 3.0, 5.0), 14u);
}

TEST(Signal, NormDipsBelowThresholdForATarget) {
    SensorModel m(quiet());
    m.advanceTo(0.0);
    std::uint8_t lo = 255, hi = 0;
    for (double t = 0.0; t < 0.1; t += sim::kLoopPeriod) {
        m.advanceTo(t);
        lo = std::min(lo, m.norm());
        hi = std::max(hi, m.norm());
    }
    EXPECT_LT(lo, 70);
    EXPECT_GT(hi, 200);
}

TEST(Signal, PowerCodeScalesIntensity) {
    auto sumAt = [](std::uint8_t power) {
        Config c = quiet();
        c.targetRate = 0;
        c.eeprom[sim::kPower] = power;
        SensorModel m(c);
        const auto r = m.liveRecord(0.01);
        return std::pair<int, int>{r[0] + r[1], r[2]};
    };
    EXPECT_EQ(sumAt(46).first, 0);
    EXPECT_EQ(sumAt(60).first, 0);
    const auto a = sumAt(30), b = sumAt(16), c = sumAt(5);
    EXPECT_LT(a.first, b.first);
    EXPECT_LT(b.first, c.first);
    // NORM is a ratio: it hardly depends on intensity.
    EXPECT_NEAR(a.second, b.second, 4);
    EXPECT_NEAR(b.second, c.second, 4);
}

TEST(Signal, DynamicPowerRegulatesTowardsMidRange) {
    Config c = quiet();
    c.targetRate = 0;
    c.eeprom[sim::kPower] = 40;  // very dim
    c.eeprom[sim::kPmod] = 1;
    c.eeprom[sim::kRegcnt] = 4;
    SensorModel m(c);
    const auto before = m.liveRecord(0.0);
    EXPECT_LT(before[0] + before[1], 100);
    const auto after = m.liveRecord(1.0);
    EXPECT_NEAR(after[0] + after[1], 255, 20);
    EXPECT_LT(m.currentPower(), 40);
    EXPECT_EQ(m.ram()[sim::kPower], 40);  // the written block is not changed
    // Too bright: regulates the other way.
    c.eeprom[sim::kPower] = 0;
    SensorModel n(c);
    EXPECT_GE(n.liveRecord(0.0)[0], 250);
    const auto r = n.liveRecord(1.0);
    EXPECT_NEAR(r[0] + r[1], 255, 20);
    EXPECT_GT(n.currentPower(), 0);
}

TEST(Signal, RegulationStepsEveryRegcntRuns) {
    Config c = quiet();
    c.targetRate = 0;
    c.eeprom[sim::kPower] = 40;
    c.eeprom[sim::kPmod] = 1;
    c.eeprom[sim::kRegcnt] = 10;
    SensorModel m(c);
    m.advanceTo(0.0);  // run 1
    m.advanceTo(9 * sim::kLoopPeriod);  // run 10
    EXPECT_EQ(m.currentPower(), 39);
    m.advanceTo(18 * sim::kLoopPeriod);  // run 19
    EXPECT_EQ(m.currentPower(), 39);
    m.advanceTo(19 * sim::kLoopPeriod);  // run 20
    EXPECT_EQ(m.currentPower(), 38);
}

TEST(Signal, BacklimSuppressesEvaluation) {
    Config c;
    c.eeprom[sim::kBacklim] = 255;
    SensorModel m(c);
    m.advanceTo(0.0);
    EXPECT_EQ(edgesBetween(m, 0.0, 1.0), 0u);
    // DAT0 goes down to about 30 in a target; a backlim above that blocks the edge too.
    c.eeprom[sim::kBacklim] = 120;
    SensorModel n(c);
    n.advanceTo(0.0);
    EXPECT_EQ(edgesBetween(n, 0.0, 1.0), 0u);
    c.eeprom[sim::kBacklim] = 0;
    SensorModel k(c);
    k.advanceTo(0.0);
    EXPECT_EQ(edgesBetween(k, 0.0, 1.0), 20u);
}

TEST(Signal, AveragingReducesNoise) {
    auto spread = [](std::uint8_t average) {
        Config c;
        c.noise = 8.0;
        c.targetRate = 0;
        c.eeprom[sim::kAverage] = average;
        SensorModel m(c);
        double s = 0, s2 = 0;
        int n = 0;
        for (double t = 0.1; t < 1.1; t += 0.005, ++n) {
            m.advanceTo(t);
            s += m.norm();
            s2 += double(m.norm()) * m.norm();
        }
        return std::sqrt(s2 / n - (s / n) * (s / n));
    };
    const double one = spread(1), sixteen = spread(16);
    EXPECT_GT(one, 1.0);
    EXPECT_LT(sixteen * 2.5, one);
}

TEST(Signal, DeadTimeInMsModeSuppressesSecondEdgeOfADoubleTarget) {
    // Hysteresis at 100 re-arms while the target is still passing: the edge of a target is
    // then followed by further edges unless the dead time covers the rest of the target.
    Config c = quiet();
    c.eeprom[sim::kThreshold] = 100;
    c.eeprom[sim::kHysteresis] = 60;
    c.eeprom[sim::kDeadtimeMode] = 1;
    c.eeprom[sim::kDeadtime] = 0;
    SensorModel m(c);
    m.advanceTo(0.0);
    const auto noDead = edgesBetween(m, 0.5, 1.5);
    EXPECT_GT(noDead, 20u);
    c.eeprom[sim::kDeadtime] = 8;  // 16 ms: longer than the rest of the target
    SensorModel d(c);
    d.advanceTo(0.0);
    EXPECT_EQ(edgesBetween(d, 0.5, 1.5), 20u);
}

TEST(Signal, DeadTimeInPercentModeUsesTheTargetInterval) {
    Config c = quiet();
    c.eeprom[sim::kThreshold] = 100;
    c.eeprom[sim::kHysteresis] = 60;
    c.eeprom[sim::kDeadtimeMode] = 0;
    c.eeprom[sim::kDeadtime] = 6;  // 36 % of 50 ms = 18 ms
    SensorModel m(c);
    m.advanceTo(0.0);
    EXPECT_EQ(edgesBetween(m, 1.0, 2.0), 20u);
    c.eeprom[sim::kDeadtime] = 0;
    SensorModel n(c);
    n.advanceTo(0.0);
    EXPECT_GT(edgesBetween(n, 1.0, 2.0), 20u);
}

TEST(Signal, JumpBufferHoldsTheEdgeMinimaOldestFirst) {
    Config c = quiet();
    c.eeprom[sim::kAverage] = 1;
    SensorModel m(c);
    std::vector<int> minima;  // one per edge, minimum NORM from the edge to the next edge
    std::uint64_t edges = 0;
    for (double t = 0.0; t < 1.245; t += sim::kLoopPeriod) {
        m.advanceTo(t);
        if (m.edgeCount() != edges) {
            edges = m.edgeCount();
            minima.push_back(m.norm());
        } else if (!minima.empty()) {
            minima.back() = std::min<int>(minima.back(), m.norm());
        }
    }
    ASSERT_FALSE(m.detector().searching());
    ASSERT_GE(minima.size(), 20u);
    const auto jb = m.jumpBuffer();
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_EQ(jb[i], minima[minima.size() - 16 + i]) << "slot " << i;
    // The targets differ, so this is not one value repeated.
    EXPECT_GT(*std::max_element(jb.begin(), jb.end()) - *std::min_element(jb.begin(), jb.end()),
              5);
    EXPECT_EQ(ask(m, 6, 1.245), Bytes(jb.begin(), jb.end()));
}

TEST(Signal, DynamicThresholdIsReportedInByteNine) {
    Config c = quiet();
    c.eeprom[sim::kTrshmod] = 1;
    c.eeprom[sim::kDeltaTrsh] = 20;
    SensorModel m(c);
    m.advanceTo(0.0);
    EXPECT_EQ(m.liveRecord(0.001)[9], 128);  // no edge yet
    for (double t = 0.2; t < 2.0; t += 0.0371) {
        const auto r = m.liveRecord(t);
        if (m.detector().searching()) continue;
        const int expect = std::min(128, m.jumpBuffer().back() + 20);
        EXPECT_EQ(r[9], expect) << "t=" << t;
        EXPECT_LT(r[9], 128);
    }
    // With a small delta the minimum + delta would exceed a low threshold: capped.
    c.eeprom[sim::kThreshold] = 70;
    c.eeprom[sim::kDeltaTrsh] = 100;
    SensorModel n(c);
    n.advanceTo(0.0);
    n.advanceTo(1.0);
    EXPECT_GT(n.edgeCount(), 0u);
    EXPECT_EQ(n.liveRecord(1.0)[9], 70);
}

TEST(Signal, AdjExtReportsEdgePositionPeriodAndWindow) {
    Config c = quiet();
    c.eeprom[sim::kTrigger] = sim::kTrigAdjExt;
    SensorModel m(c);
    m.advanceTo(0.0);
    const auto r = m.liveRecord(1.0);
    const unsigned edge = r[3] | (r[4] << 8), in0 = r[5] | (r[6] << 8), win = r[7] | (r[8] << 8);
    EXPECT_EQ(in0, 512u);
    EXPECT_EQ(win, 307u);
    EXPECT_GT(edge, 0.15 * 512);
    EXPECT_LT(edge, 0.30 * 512);
    EXPECT_LT(edge, win);
    EXPECT_EQ(edgesBetween(m, 1.0, 2.0), 20u);

    m.config().targetRate = 10;
    const auto s = m.liveRecord(3.0);
    const unsigned edge2 = s[3] | (s[4] << 8), in02 = s[5] | (s[6] << 8);
    EXPECT_EQ(in02, 1024u);
    EXPECT_EQ((s[7] | (s[8] << 8)), 614);
    // Same place in the cycle, so the same ratio.
    EXPECT_NEAR(100.0 * edge2 / in02, 100.0 * edge / in0, 1.0);
}

TEST(Signal, ExternalTriggerCountsInsideTheWindow) {
    for (std::uint8_t trig : {sim::kTrigExt, sim::kTrigExtStat}) {
        Config c = quiet();
        c.eeprom[sim::kTrigger] = trig;
        SensorModel m(c);
        m.advanceTo(0.0);
        EXPECT_EQ(edgesBetween(m, 1.0, 2.0), 20u) << int(trig);
        // Without IN0 pulses there is no window, so nothing is counted.
        m.config().targetRate = 0;
        EXPECT_EQ(edgesBetween(m, 2.0, 3.0), 0u);
        const auto r = m.liveRecord(3.0);
        for (int i = 3; i <= 8; ++i) EXPECT_EQ(r[i], 0);
    }
}

TEST(Signal, HoldDrivesOut0AndOutmodeInvertsIt) {
    for (std::uint8_t inverse : {0, 1}) {
        Config c = quiet();
        c.eeprom[sim::kHold] = 8;  // 8 ms
        c.eeprom[sim::kOutmode] = inverse;
        SensorModel m(c);
        m.advanceTo(0.0);
        std::uint64_t e = 0;
        double edgeAt = -1, offAt = -1;
        for (double t = 0.0; t < 0.2 && offAt < 0; t += sim::kLoopPeriod) {
            m.advanceTo(t);
            if (edgeAt < 0 && m.edgeCount() != e) {
                edgeAt = t;
                EXPECT_EQ(m.out0(), inverse == 0);
            } else if (edgeAt >= 0 && m.out0() != (inverse == 0)) {
                offAt = t;
            }
            if (edgeAt < 0) {
                EXPECT_EQ(m.out0(), inverse != 0);
            }
        }
        EXPECT_NEAR(offAt - edgeAt, 0.008, 0.0006);
    }
}

TEST(Signal, DeterministicForASeed) {
    Config c;
    c.seed = 42;
    SensorModel a(c), b(c);
    Config d = c;
    d.seed = 43;
    SensorModel other(d);
    bool differs = false;
    for (double t = 0.0; t < 0.5; t += 0.0123) {
        // a is advanced in many small steps, b only at the sample times.
        for (double u = t - 0.0123; u < t; u += 0.001) a.advanceTo(std::max(0.0, u));
        const auto ra = a.liveRecord(t), rb = b.liveRecord(t), ro = other.liveRecord(t);
        EXPECT_EQ(ra, rb);
        differs = differs || ra != ro;
    }
    EXPECT_TRUE(differs);
}

TEST(Signal, LongIdleGapIsCheap) {
    SensorModel m;
    m.advanceTo(0.0);
    const auto t0 = std::chrono::steady_clock::now();
    m.advanceTo(100000.0);  // more than a day
    const auto spent = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(std::chrono::duration<double>(spent).count(), 0.5);
    EXPECT_EQ(edgesBetween(m, 100000.0, 100001.0), 20u);
}

TEST(Signal, EepromTextRoundTrip) {
    ParamBlock b{};
    ASSERT_TRUE(sim::parseParamText(sim::formatParamText(kSample).c_str(), b));
    EXPECT_EQ(b, kSample);
    EXPECT_TRUE(sim::parseParamText(" 1 2 3 4 5 6 7 8 9 10\n11\t12 13 14 255 \n", b));
    EXPECT_EQ(b[14], 255);
    EXPECT_FALSE(sim::parseParamText("1 2 3", b));
    EXPECT_FALSE(sim::parseParamText("1 2 3 4 5 6 7 8 9 10 11 12 13 14 256", b));
    EXPECT_FALSE(sim::parseParamText("1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16", b));
    EXPECT_FALSE(sim::parseParamText("1 2 3 4 5 6 7 8 9 10 11 12 13 14 x", b));
    EXPECT_EQ(b[14], 255);  // failed parses leave the block alone
}

// ---------------------------------------------------------------------------------------
// Round trip through the program

namespace {

std::string simPath() {
    if (const char* env = std::getenv("VARNO_SENSOR_SIM_PATH"); env && *env) return env;
#ifdef VARNO_SENSOR_SIM_PATH
    return VARNO_SENSOR_SIM_PATH;
#else
    return {};
#endif
}

class SimProcess {
public:
    ~SimProcess() { stop(); }

    // Starts the program; returns the first stdout line (empty on failure).
    std::string start(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe(fds) != 0) return {};
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            const std::string prog = simPath();
            argv.push_back(const_cast<char*>(prog.c_str()));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(prog.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
        return readLine(3000);
    }

    std::string readLine(int timeoutMs) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char ch;
            if (read(out_, &ch, 1) != 1) break;
            if (ch == '\n') return line;
            line += ch;
        }
        return {};
    }

    // Waits for the program to end; returns its exit status or -1.
    int wait(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    void terminate() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            if (wait(2000) == -1 && pid_ > 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = -1;
            }
        }
        if (out_ >= 0) close(out_);
        out_ = -1;
    }

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

int openRaw(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

Bytes readFor(int fd, std::size_t want, int timeoutMs) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0) break;
        if (!(p.revents & POLLIN)) break;
        std::uint8_t buf[64];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

bool writeAll(int fd, const Bytes& b) { return write(fd, b.data(), b.size()) == ssize_t(b.size()); }

#define REQUIRE_SIM()                                                                          \
    do {                                                                                       \
        if (simPath().empty()) {                                                               \
            GTEST_SKIP() << "VARNO_SENSOR_SIM_PATH not set";                                   \
        }                                                                                      \
    } while (0)

std::string tempName(const char* tag) {
    return std::string("/tmp/varno-sim-test-") + tag + "-" + std::to_string(getpid());
}

}  // namespace

TEST(Program, RoundTripOnPseudoTerminal) {
    REQUIRE_SIM();
    SimProcess p;
    const std::string slave = p.start({});
    ASSERT_FALSE(slave.empty());
    const int fd = openRaw(slave);
    ASSERT_GE(fd, 0) << slave;

    ASSERT_TRUE(writeAll(fd, frame(7)));
    EXPECT_EQ(readFor(fd, 3, 1000), (Bytes{0xAA, 0x03, 0x00}));

    ASSERT_TRUE(writeAll(fd, frame(1, kSample)));
    ASSERT_TRUE(writeAll(fd, frame(3)));
    EXPECT_EQ(readFor(fd, 15, 1000), Bytes(kSample.begin(), kSample.end()));
    EXPECT_TRUE(readFor(fd, 1, 200).empty());  // nothing more

    ASSERT_TRUE(writeAll(fd, frame(5)));
    const Bytes live = readFor(fd, 10, 1000);
    ASSERT_EQ(live.size(), 10u);
    EXPECT_EQ(live[2], live[0] * 255u / (unsigned(live[0]) + live[1]));
    close(fd);

    // A second client after the first has gone.
    const int fd2 = openRaw(slave);
    ASSERT_GE(fd2, 0);
    ASSERT_TRUE(writeAll(fd2, frame(7)));
    EXPECT_EQ(readFor(fd2, 3, 1000), (Bytes{0xAA, 0x03, 0x00}));
    close(fd2);

    p.terminate();
    EXPECT_EQ(p.wait(2000), 0);
}

TEST(Program, PacesRepliesAtTheLineRate) {
    REQUIRE_SIM();
    SimProcess p;
    const std::string slave = p.start({"--latency", "0"});
    const int fd = openRaw(slave);
    ASSERT_GE(fd, 0);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(writeAll(fd, frame(6)));  // 17 bytes in, 16 out: 33 byte times = 69 ms
    EXPECT_EQ(readFor(fd, 16, 1000).size(), 16u);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GT(took, 33 * kByte - 0.002);
    EXPECT_LT(took, 0.5);
    close(fd);
}

TEST(Program, IdleCostsNoCpu) {
    REQUIRE_SIM();
    SimProcess p;
    const std::string slave = p.start({});
    ASSERT_FALSE(slave.empty());
    const int fd = openRaw(slave);
    ASSERT_TRUE(writeAll(fd, frame(7)));
    ASSERT_EQ(readFor(fd, 3, 1000).size(), 3u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::ifstream st("/proc/" + std::to_string(p.pid()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(st)), std::istreambuf_iterator<char>());
    const auto rparen = text.rfind(')');
    ASSERT_NE(rparen, std::string::npos);
    std::istringstream in(text.substr(rparen + 2));
    std::vector<std::string> f;
    for (std::string w; in >> w;) f.push_back(w);
    ASSERT_GT(f.size(), 13u);
    const long ticks = std::stol(f[11]) + std::stol(f[12]);  // utime + stime
    EXPECT_LT(ticks, 10) << "CPU ticks used in ~1 s";
    close(fd);
}

TEST(Program, FaultOptionsReachTheModel) {
    REQUIRE_SIM();
    SimProcess p;
    const std::string slave = p.start({"--wrong-linecheck", "--extra", "2", "--no-pacing"});
    const int fd = openRaw(slave);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeAll(fd, frame(7)));
    const Bytes r = readFor(fd, 5, 1000);
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 3), (Bytes{0xAA, 0x03, 0x01}));
    close(fd);

    SimProcess q;
    const int fd2 = openRaw(q.start({"--silent"}));
    ASSERT_GE(fd2, 0);
    ASSERT_TRUE(writeAll(fd2, frame(7)));
    EXPECT_TRUE(readFor(fd2, 1, 400).empty());
    close(fd2);
}

TEST(Program, EepromFileIsLoadedAndSaved) {
    REQUIRE_SIM();
    const std::string file = tempName("eeprom");
    {
        std::ofstream(file) << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n";
    }
    {
        SimProcess p;
        const int fd = openRaw(p.start({"--eeprom", file}));
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(writeAll(fd, frame(3)));  // RAM comes from the EEPROM at power-up
        EXPECT_EQ(readFor(fd, 15, 1000),
                  (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
        ASSERT_TRUE(writeAll(fd, frame(2, kSample)));
        ASSERT_TRUE(writeAll(fd, frame(7)));  // its reply shows the write has been handled
        EXPECT_EQ(readFor(fd, 3, 1000).size(), 3u);
        close(fd);
    }
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ParamBlock saved{};
    ASSERT_TRUE(sim::parseParamText(text.c_str(), saved)) << text;
    EXPECT_EQ(saved, kSample);
    {
        SimProcess p;
        const int fd = openRaw(p.start({"--eeprom", file}));
        ASSERT_TRUE(writeAll(fd, frame(4)));
        EXPECT_EQ(readFor(fd, 15, 1000), Bytes(kSample.begin(), kSample.end()));
        close(fd);
    }
    std::remove(file.c_str());
}

TEST(Program, LinkIsCreatedAndRemoved) {
    REQUIRE_SIM();
    const std::string link = tempName("link");
    SimProcess p;
    const std::string slave = p.start({"--link", link});
    ASSERT_FALSE(slave.empty());
    char buf[256] = {};
    ASSERT_GT(readlink(link.c_str(), buf, sizeof buf - 1), 0);
    EXPECT_EQ(std::string(buf), slave);
    const int fd = openRaw(link);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeAll(fd, frame(7)));
    EXPECT_EQ(readFor(fd, 3, 1000), (Bytes{0xAA, 0x03, 0x00}));
    close(fd);
    p.terminate();
    EXPECT_EQ(p.wait(2000), 0);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(Program, DisconnectAfterClosesTheLineAndExitsZero) {
    REQUIRE_SIM();
    SimProcess p;
    const std::string slave = p.start({"--disconnect-after", "0.4"});
    const int fd = openRaw(slave);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeAll(fd, frame(7)));
    EXPECT_EQ(readFor(fd, 3, 300), (Bytes{0xAA, 0x03, 0x00}));
    EXPECT_EQ(p.wait(2000), 0);
    pollfd pf{fd, POLLIN, 0};
    ASSERT_EQ(poll(&pf, 1, 500), 1);
    EXPECT_TRUE(pf.revents & POLLHUP);
    close(fd);
}

TEST(Program, CommandLine) {
    REQUIRE_SIM();
    {
        SimProcess p;
        EXPECT_EQ(p.start({"--help"}), "Usage: varno-sensor-sim [OPTIONS]");
        EXPECT_EQ(p.wait(2000), 0);
    }
    {
        SimProcess p;
        EXPECT_EQ(p.start({"--version"}).rfind("varno-sensor-sim ", 0), 0u);
        EXPECT_EQ(p.wait(2000), 0);
    }
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--frobnicate"}, {"--latency"}, {"--split", "0"}, {"--rate", "fast"}}) {
        SimProcess p;
        EXPECT_EQ(p.start(bad), "");
        EXPECT_EQ(p.wait(2000), 2) << bad[0];
    }
}
