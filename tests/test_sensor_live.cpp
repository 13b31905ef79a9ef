// The live acquisition's rules on the sensor link (a record counts once the line is quiet
// behind it), and two links speaking to two sensors from one process.
#include "sensor_fixture.h"

#include <vector>

using sensor::Link;
using sensor::Result;

namespace {

class SensorLive : public SensorTest {
  protected:
    std::vector<Bytes> good; // records as the hook heard of them

    void hook(Link& link) {
        link.OnGoodRecord([this](const sensor::LiveRecord& r) {
            good.push_back(bytesOf(r.bytes, sensor::RecordLen));
        });
    }
};

const Bytes secondRecord{201, 101, 151, 0x11, 0x00, 0x41, 0x00, 0x21, 0x00, 78};

} // namespace

TEST_F(SensorLive, ARecordIsTakenAsGoodOnlyOnceTheLineWasQuietBehindIt) {
    auto peer = sensorOn(1, standard());
    Link link(1);
    hook(link);
    ASSERT_TRUE(link.Open().ok());
    link.SetBlock(block15.data());
    link.StartLive();
    ASSERT_TRUE(link.LiveCycle().ok());
    EXPECT_TRUE(link.RecordHeld());
    EXPECT_EQ(bytesOf(link.HeldRecord().bytes, 10), record1);
    EXPECT_TRUE(good.empty()) << "not before the line was looked at";
    link.CyclePause();
    ASSERT_TRUE(link.LiveCycle().ok());
    ASSERT_EQ(good.size(), 1u);
    EXPECT_EQ(good[0], record1);
    EXPECT_EQ(link.GoodRecords(), 1);
    link.StopLive();
    EXPECT_TRUE(link.EndLive().ok());
    EXPECT_EQ(good.size(), 2u);
    EXPECT_FALSE(link.RecordHeld());
    // Each cycle: the live request with the block it carries, 50 ms after the last reply.
    ASSERT_EQ(peer->frames.size(), 2u);
    EXPECT_EQ(peer->frames[0], frame(0x05, block15));
    EXPECT_EQ(peer->frames[1], frame(0x05, block15));
    EXPECT_NEAR(peer->frameTimes[1] - peer->frameTimes[0], 0.005 + 0.05, 0.005);
}

TEST_F(SensorLive, StraysBehindARecordSpoilItAndTheNextCycleSaysSo) {
    auto peer = std::make_shared<ScriptedPeer>();
    int n = 0;
    peer->onFrame = [&n](const Bytes&, double) {
        std::vector<ScriptedPeer::Chunk> c{{0.005, n == 0 ? record1 : secondRecord}};
        if (n++ == 1) c.push_back({0.020, {0x42}}); // behind the second record
        return c;
    };
    rt::BindSerialEndpoint(1, peer);
    Link link(1);
    hook(link);
    ASSERT_TRUE(link.Open().ok());
    link.StartLive();
    ASSERT_TRUE(link.LiveCycle().ok());
    link.CyclePause();
    ASSERT_TRUE(link.LiveCycle().ok()); // the first is taken as good here
    link.CyclePause();
    const Result r = link.LiveCycle();
    EXPECT_EQ(r.code(), Result::Strays);
    EXPECT_EQ(r.text(),
              "stray bytes followed the reply to 55 05 (record 2): it was not a live record");
    ASSERT_EQ(good.size(), 1u);
    EXPECT_EQ(bytesOf(link.LastGood().bytes, 10), record1) << "the spoiled one is not kept";
    EXPECT_EQ(peer->frames.size(), 2u) << "no request after the strays";
    EXPECT_TRUE(link.EndLive().ok()) << "told once";
}

TEST_F(SensorLive, AnotherRequestsFlushSettlesTheHeldRecordFirst) {
    auto peer = sensorOn(1, standard());
    Link link(1);
    hook(link);
    ASSERT_TRUE(link.Open().ok());
    link.StartLive();
    ASSERT_TRUE(link.LiveCycle().ok());
    link.StopLive();
    ASSERT_TRUE(link.ReadBlock(sensor::RAM).ok());
    EXPECT_EQ(good.size(), 1u);
    EXPECT_FALSE(link.RecordHeld());
}

TEST_F(SensorLive, EndingTheAcquisitionDuringTheWaitReadsNothing) {
    auto peer = sensorOn(1, standard(), 0.5);
    Link link(1);
    hook(link);
    ASSERT_TRUE(link.Open().ok());
    th::SetPumpHook([&](double now) {
        if (now > 0.2) link.StopLive();
    });
    link.StartLive();
    const Result r = link.LiveCycle();
    EXPECT_EQ(r.code(), Result::Stopped);
    EXPECT_FALSE(link.RecordHeld());
    EXPECT_EQ(link.ReplyCount(), 0);
    EXPECT_EQ(link.LiveCycle().code(), Result::Stopped) << "no new request once ended";
    EXPECT_EQ(peer->frames.size(), 1u);
}

TEST_F(SensorLive, APortLostBetweenCyclesEndsTheAcquisition) {
    auto peer = sensorOn(1, standard());
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    link.StartLive();
    ASSERT_TRUE(link.LiveCycle().ok());
    peer->gone = true;
    link.CyclePause();
    const Result r = link.LiveCycle();
    EXPECT_EQ(r.code(), Result::PortLost);
    EXPECT_EQ(r.text(), "the port was lost");
    EXPECT_EQ(peer->frames.size(), 1u);
}

TEST_F(SensorLive, TwoLinksSpeakToTwoSensorsFromOneProcess) {
    auto first = sensorOn(1, standard());
    auto second = sensorOn(
        2, {{3, Bytes(15, 9)}, {4, block15}, {5, secondRecord}, {7, lineOk}}, 0.012);
    Link a(1), b(2);
    std::vector<Bytes> goodA, goodB;
    a.OnGoodRecord([&](const sensor::LiveRecord& r) { goodA.push_back(bytesOf(r.bytes, 10)); });
    b.OnGoodRecord([&](const sensor::LiveRecord& r) { goodB.push_back(bytesOf(r.bytes, 10)); });
    ASSERT_TRUE(a.Open().ok());
    ASSERT_TRUE(b.Open().ok());
    ASSERT_TRUE(a.LineCheck().ok());
    ASSERT_TRUE(b.LineCheck().ok());
    ASSERT_TRUE(a.ReadBlock(sensor::RAM).ok());
    ASSERT_TRUE(b.ReadBlock(sensor::EEPROM).ok());
    EXPECT_EQ(bytesOf(a.Block(), 15), block15);
    EXPECT_EQ(bytesOf(b.Block(), 15), block15);
    a.StartLive();
    b.StartLive();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(a.LiveCycle().ok());
        ASSERT_TRUE(b.LiveCycle().ok());
        a.CyclePause();
    }
    a.StopLive();
    b.StopLive();
    ASSERT_TRUE(a.EndLive().ok());
    ASSERT_TRUE(b.EndLive().ok());
    EXPECT_EQ(goodA, std::vector<Bytes>(3, record1));
    EXPECT_EQ(goodB, std::vector<Bytes>(3, secondRecord));

    // Exactly each link's own frames on each line, in order.
    Bytes lineA = frame(0x07);
    for (const Bytes& f : {frame(0x03), frame(0x05, block15), frame(0x05, block15),
                           frame(0x05, block15)})
        lineA.insert(lineA.end(), f.begin(), f.end());
    Bytes lineB = frame(0x07);
    for (const Bytes& f : {frame(0x04), frame(0x05, block15), frame(0x05, block15),
                           frame(0x05, block15)})
        lineB.insert(lineB.end(), f.begin(), f.end());
    EXPECT_EQ(written(1), lineA);
    EXPECT_EQ(written(2), lineB);
}

TEST_F(SensorLive, ARequestOnOneLinkInsideTheOthersWaitLeavesItsReplyAlone) {
    auto first = sensorOn(1, standard(), 0.4);
    auto second = sensorOn(2, {{6, sensorJump}}, 0.005);
    Link a(1), b(2);
    ASSERT_TRUE(a.Open().ok());
    ASSERT_TRUE(b.Open().ok());
    bool inner = false;
    Result innerResult;
    th::SetPumpHook([&](double now) {
        if (inner || now < 0.1) return;
        inner = true; // once, inside a's wait for its block
        innerResult = b.Request(sensor::req::JumpBuffer);
    });
    const Result r = a.Request(sensor::req::ReadRam);
    th::SetPumpHook(nullptr);
    ASSERT_TRUE(inner);
    EXPECT_TRUE(innerResult.ok()) << innerResult.text();
    EXPECT_EQ(bytesOf(b.Reply(), 16), sensorJump);
    ASSERT_TRUE(r.ok()) << r.text();
    EXPECT_EQ(bytesOf(a.Reply(), 15), block15);
    EXPECT_EQ(written(1), frame(0x03));
    EXPECT_EQ(written(2), frame(0x06));
}
