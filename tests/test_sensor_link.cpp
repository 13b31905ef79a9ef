// The sensor link on its own: frames, pauses, the reply wait and its verdicts, the line
// check, the parameter file, and the byte trace.
#include "runtime/log.h"
#include "sensor/paramfile.h"
#include "sensor_fixture.h"

#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>

using sensor::Link;
using sensor::Result;

TEST_F(SensorTest, RequestCodesAndReplyLengthsAreTheProtocols) {
    EXPECT_EQ(sensor::WriteCode(sensor::RAM), 0x01);
    EXPECT_EQ(sensor::WriteCode(sensor::EEPROM), 0x02);
    EXPECT_EQ(sensor::ReadCode(sensor::RAM), 0x03);
    EXPECT_EQ(sensor::ReadCode(sensor::EEPROM), 0x04);
    EXPECT_EQ(sensor::ReplyLength(sensor::req::ReadRam), 15);
    EXPECT_EQ(sensor::ReplyLength(sensor::req::Live), 10);
    EXPECT_EQ(sensor::ReplyLength(sensor::req::JumpBuffer), 16);
    EXPECT_EQ(sensor::ReplyLength(sensor::req::LineCheck), 3);
    EXPECT_EQ(sensor::ReplyLength(sensor::req::WriteRam), 0);
}

TEST_F(SensorTest, ReadingRamPausesATenthThenSendsTheFrameAndTakesTheBlock) {
    auto peer = sensorOn(1, standard());
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    const double t0 = rt::Timer();
    const Result r = link.ReadBlock(sensor::RAM);
    ASSERT_TRUE(r.ok()) << r.text();
    ASSERT_EQ(peer->frames.size(), 1u);
    EXPECT_EQ(peer->frames[0], frame(0x03));
    EXPECT_NEAR(peer->frameTimes[0] - t0, 0.1, 0.005);
    EXPECT_EQ(bytesOf(link.Block(), 15), block15);
    EXPECT_EQ(link.state().order, 0x03);
    EXPECT_EQ(link.ReplyCount(), 15);
}

TEST_F(SensorTest, ReadingEepromPausesOneAndAHalfSecondsAndSendsTheBlockItHolds) {
    auto peer = sensorOn(1, standard());
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    link.SetBlock(block15.data());
    const double t0 = rt::Timer();
    ASSERT_TRUE(link.ReadBlock(sensor::EEPROM).ok());
    ASSERT_EQ(peer->frames.size(), 1u);
    EXPECT_EQ(peer->frames[0], frame(0x04, block15));
    EXPECT_NEAR(peer->frameTimes[0] - t0, 1.5, 0.005);
    EXPECT_EQ(bytesOf(link.Block(), 15), sensorEeprom);
}

TEST_F(SensorTest, EachFailedReplyHasItsCodeAndItsText) {
    struct Case {
        Bytes answer;
        Bytes later; // 10 ms after the answer, inside the settle time
        Result::Code code;
        const char* text;
    } cases[] = {
        {{}, {}, Result::NoReply, "no reply from the sensor to the request 55 03 within 3.0 s"},
        {{1, 2, 3, 4, 5},
         {},
         Result::ShortReply,
         "the sensor answered the request 55 03 with 5 of 15 bytes within 3.0 s"},
        {block15,
         {9},
         Result::TooLong,
         "the reply to the request 55 03 was too long (more than 15 bytes)"},
        {Bytes(16, 7),
         {},
         Result::TooLong,
         "the reply to the request 55 03 was too long (more than 15 bytes)"},
    };
    for (const Case& c : cases) {
        rt::ResetSerialBindings();
        auto peer = std::make_shared<ScriptedPeer>();
        peer->onFrame = [&c](const Bytes&, double) {
            std::vector<ScriptedPeer::Chunk> out;
            if (!c.answer.empty()) out.push_back({0.005, c.answer});
            if (!c.later.empty()) out.push_back({0.015, c.later});
            return out;
        };
        rt::BindSerialEndpoint(1, peer);
        Link link(1);
        ASSERT_TRUE(link.Open().ok());
        link.SetBlock(block15.data()); // kept on failure
        const double t0 = rt::Timer();
        const Result r = link.Request(sensor::req::ReadRam);
        EXPECT_EQ(r.code(), c.code) << c.text;
        EXPECT_EQ(r.text(), c.text);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.request(), 0x03);
        EXPECT_EQ(bytesOf(link.Block(), 15), block15);
        if (c.code == Result::NoReply) {
            EXPECT_GT(rt::Timer() - t0, 3.0);
            EXPECT_LT(rt::Timer() - t0, 3.01);
        }
    }
}

TEST_F(SensorTest, AReplyCountsOnlyAfterTheLineStayedQuietForTheSettleTime) {
    auto peer = sensorOn(1, standard());
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    ASSERT_TRUE(link.Request(sensor::req::ReadRam).ok());
    // Sent at 0, whole at 5 ms: read once 30 ms passed quietly behind it.
    EXPECT_NEAR(link.state().tdiff, 0.005 + sensor::SettleTime, 0.003);
}

TEST_F(SensorTest, TheLineCheckWantsAA0300) {
    auto good = sensorOn(1, standard());
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    EXPECT_TRUE(link.LineCheck().ok());
    EXPECT_EQ(good->frames.at(0), frame(0x07));

    sensorOn(2, {{7, {0xAA, 0x03, 0x01}}});
    Link other(2);
    ASSERT_TRUE(other.Open().ok());
    const Result r = other.LineCheck();
    EXPECT_EQ(r.code(), Result::WrongReply);
    EXPECT_EQ(r.text(),
              "the sensor answered the line check 55 07 wrongly: AA 03 01 instead of AA 03 00");
}

TEST_F(SensorTest, WritingSendsTheBlockAndReadsNothing) {
    auto peer = sensorOn(1, standard());
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    ASSERT_TRUE(link.WriteBlock(sensor::EEPROM, sensorEeprom.data()).ok());
    ASSERT_TRUE(link.WriteBlock(sensor::RAM).ok()); // the block it holds now
    EXPECT_EQ(written(1), [] {
        Bytes all = frame(0x02, sensorEeprom);
        Bytes second = frame(0x01, sensorEeprom);
        all.insert(all.end(), second.begin(), second.end());
        return all;
    }());
    EXPECT_EQ(link.ReplyCount(), 0);

    link.Close();
    const Result r = link.WriteBlock(sensor::RAM);
    EXPECT_EQ(r.code(), Result::WriteFailed);
    EXPECT_EQ(r.text(), "the request 55 01 could not be written: the port failed or was lost");
    EXPECT_TRUE(r.portFault());
}

TEST_F(SensorTest, APortThatWillNotOpenSaysWhy) {
    Link missing(9); // nothing bound
    Result r = missing.Open();
    EXPECT_EQ(r.code(), Result::OpenFailed);
    EXPECT_EQ(r.text().rfind("cannot open the port: ", 0), 0u) << r.text();
    EXPECT_LT(missing.state().openResult, 0);
    EXPECT_FALSE(missing.IsOpen());

    rt::BindSerialDevice(3, "/nonexistent/serial/device");
    Link gone(3);
    r = gone.Open();
    EXPECT_EQ(r.code(), Result::OpenFailed);
    EXPECT_NE(r.text().find("/nonexistent/serial/device"), std::string::npos) << r.text();
    EXPECT_STREQ(sensor::OpenResultText(-7), "Cannot open port");
    EXPECT_STREQ(sensor::OpenResultText(-100), "RS-232 error!");
}

TEST_F(SensorTest, APortLostDuringTheWaitIsToldAsSuch) {
    auto peer = sensorOn(1, {});
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    th::SetPumpHook([&](double now) {
        if (now > 1.0) peer->gone = true;
    });
    const Result r = link.Request(sensor::req::JumpBuffer);
    EXPECT_EQ(r.code(), Result::PortLost);
    EXPECT_EQ(r.text(), "the port was lost while waiting for the reply to 55 06");
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SensorTest, AStopEndsTheWaitAtOnce) {
    sensorOn(1, {});
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    th::SetPumpHook([&](double now) {
        if (now > 0.5) link.RequestStop();
    });
    const double t0 = rt::Timer();
    const Result r = link.Request(sensor::req::ReadEeprom);
    EXPECT_EQ(r.code(), Result::Stopped);
    EXPECT_LT(rt::Timer() - t0, 0.51);
    EXPECT_EQ(link.ReplyCount(), 0);
    // Until cleared, a pause ends at once too.
    const double t1 = rt::Timer();
    link.Pause(1.0);
    EXPECT_LT(rt::Timer() - t1, 0.01);
    th::SetPumpHook(nullptr);
    link.ClearStop();
    const double t2 = rt::Timer();
    link.Pause(0.2);
    EXPECT_NEAR(rt::Timer() - t2, 0.2, 0.005);
}

TEST_F(SensorTest, TheJumpBufferIsReadAfterTheRamPause) {
    auto peer = sensorOn(1, standard());
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    unsigned char jump[sensor::JumpBufLen] = {};
    const double t0 = rt::Timer();
    ASSERT_TRUE(link.ReadJumpBuffer(jump).ok());
    EXPECT_EQ(peer->frames.at(0), frame(0x06));
    EXPECT_NEAR(peer->frameTimes[0] - t0, 0.1, 0.005);
    EXPECT_EQ(bytesOf(jump, 16), sensorJump);
}

TEST_F(SensorTest, TheTraceShowsEveryFrameSentAndEveryByteReceivedInHex) {
    sensorOn(1, standard());
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    rt::log::Install();
    std::FILE* sink = std::tmpfile();
    std::FILE* before = rt::log::SetSink(sink);
    rt::log::EnableTrace();
    const bool ok = link.ReadBlock(sensor::RAM).ok();
    QLoggingCategory::setFilterRules(QStringLiteral("varno.link.debug=false"));
    rt::log::SetSink(before == stderr ? nullptr : before);
    ASSERT_TRUE(ok);
    std::rewind(sink);
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, sink))
        text += buf;
    std::fclose(sink);
    EXPECT_NE(text.find("varno.link:"), std::string::npos) << text;
    EXPECT_NE(text.find("COM1 sent 17: 55 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("COM1 received 15: 64 96 17 01 05 00 09 08 07 01 04 00 01 28 25"),
              std::string::npos)
        << text;
    // A millisecond time stamp: the frame went out 0.100 s after the pause began.
    EXPECT_NE(text.find(".1"), std::string::npos) << text;
}

TEST(ParamFile, EveryWayAFileIsWrongHasItsReasonAndTheBlockStaysUntouched) {
    QTemporaryDir dir;
    auto write = [&](const char* name, const std::string& text) {
        const std::string p = dir.filePath(name).toStdString();
        std::ofstream(p) << text;
        return p;
    };
    std::string good;
    for (int i = 0; i < 15; ++i)
        good += "  " + std::to_string(10 + i) + "\n";
    const std::pair<std::string, std::string> cases[] = {
        {dir.filePath("missing.dat").toStdString(), "it does not exist"},
        {dir.path().toStdString(), "it is a directory, not a regular file"},
        {write("few.dat", "   1\n   2\n"), "it holds fewer than 15 values"},
        {write("many.dat", good + "   7\n"),
         "it holds more than 15 values (the 16th is on line 16)"},
        {write("bad.dat", "   1\n 300\n"),
         "line 2 holds a value that is not a whole number from 0 to 255"},
        {write("huge.dat", std::string((1 << 20) + 10, ' ') + "7\n"),
         "it is far too large to be a parameter file"},
    };
    for (const auto& [path, reason] : cases) {
        unsigned char block[15];
        std::memset(block, 0xEE, sizeof block);
        std::string why;
        EXPECT_FALSE(sensor::ReadParamFile(path.c_str(), block, why)) << path;
        EXPECT_EQ(why, reason) << path;
        EXPECT_EQ(bytesOf(block, 15), Bytes(15, 0xEE)) << path;
    }
    unsigned char block[15] = {};
    std::string why;
    ASSERT_TRUE(sensor::ReadParamFile(write("good.dat", good).c_str(), block, why)) << why;
    EXPECT_EQ(block[0], 10);
    EXPECT_EQ(block[14], 24);
    const std::string out = dir.filePath("out.dat").toStdString();
    ASSERT_TRUE(sensor::WriteParamFile(out.c_str(), block));
    unsigned char back[15] = {};
    ASSERT_TRUE(sensor::ReadParamFile(out.c_str(), back, why));
    EXPECT_EQ(bytesOf(back, 15), bytesOf(block, 15));
}

TEST_F(SensorTest, AVerifiedWriteReadsTheBlockBackFromTheSameTarget) {
    Bytes eeprom = sensorEeprom;
    bool stubborn = false;
    auto peer = std::make_shared<ScriptedPeer>();
    peer->onFrame = [&](const Bytes& f, double) {
        std::vector<ScriptedPeer::Chunk> c;
        if (f[1] == 0x02 && !stubborn) eeprom.assign(f.begin() + 2, f.end());
        if (f[1] == 0x04) c.push_back({0.005, eeprom});
        return c;
    };
    rt::BindSerialEndpoint(1, peer);
    Link link(1);
    ASSERT_TRUE(link.Open().ok());
    const double t0 = rt::Timer();
    EXPECT_TRUE(link.WriteVerified(sensor::EEPROM, block15.data()).ok());
    ASSERT_EQ(peer->frames.size(), 2u);
    EXPECT_EQ(peer->frames[0], frame(0x02, block15));
    EXPECT_EQ(peer->frames[1], frame(0x04, block15));
    EXPECT_NEAR(peer->frameTimes[1] - t0, 1.5, 0.005) << "the EEPROM read's pause";

    stubborn = true; // keeps what it holds
    Bytes other = block15;
    other[0] ^= 1;
    other[14] ^= 1;
    const Result r = link.WriteVerified(sensor::EEPROM, other.data());
    EXPECT_EQ(r.code(), Result::Mismatch);
    EXPECT_EQ(r.got(), 2);
    EXPECT_EQ(r.text(), "verify failed: 2 of 15 bytes read back differ");
    EXPECT_EQ(bytesOf(link.Block(), 15), block15) << "what was read back";
}
