// varno-cli in-process: read, check, jumpbuf, usage and ports; exact bytes on the line,
// exit codes and timing on the virtual clock.
#include "cli_fixture.h"
#include "sim_endpoint.h"

#include <algorithm>

// ---- read ---------------------------------------------------------------------------------

TEST_F(Cli, ReadRamSendsTheReadRequestAfterThePauseAndPrintsTheFileFormat) {
    auto p = peer(standardAnswer);
    const Result r = run({"--port", "1", "read", "ram"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(asBytes(written()), frameFor(3, zeros15.data()));
    EXPECT_EQ(r.out, fileText(block15));
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(p->frameTimes.size(), 1u);
    EXPECT_GE(p->frameTimes[0], 0.1);
    EXPECT_LT(p->frameTimes[0], 0.11);
    EXPECT_LT(r.seconds, 0.2); // the reply after 5 ms, then the 30 ms quiet line
}

TEST_F(Cli, ReadEepromSendsItsOwnCodeAfterOneAndAHalfSeconds) {
    auto p = peer(standardAnswer);
    const Result r = run({"read", "eeprom"}); // COM1 by default
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(asBytes(written()), frameFor(4, zeros15.data()));
    EXPECT_EQ(r.out, fileText(standardAnswer(4)));
    ASSERT_EQ(p->frameTimes.size(), 1u);
    EXPECT_GE(p->frameTimes[0], 1.5);
    EXPECT_LT(p->frameTimes[0], 1.52);
}

TEST_F(Cli, ReadToAFileWritesTheParameterFileTheLoadAccepts) {
    peer(standardAnswer);
    const std::string f = path("backup.dat");
    const Result r = run({"read", "ram", "-o", f});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::stringstream text;
    text << std::ifstream(f).rdbuf();
    EXPECT_EQ(text.str(), fileText(block15));
    unsigned char back[15] = {};
    ASSERT_EQ(rt::FileToArray(f.c_str(), back, rt::VAL_UNSIGNED_CHAR, 15, 1, 0, 0, 1), 0);
    EXPECT_EQ(Bytes(back, back + 15), block15);
}

TEST_F(Cli, ReadToAFileInAMissingFolderIsAFileErrorAndSaysWhy) {
    peer(standardAnswer);
    const Result r = run({"read", "ram", "-o", path("no/such/folder/x.dat")});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("cannot be written"), std::string::npos) << r.err;
}

TEST_F(Cli, ReadJsonIsOneObjectWithValuesAndNames) {
    peer(standardAnswer);
    const Result r = run({"read", "ram", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("{\"command\":\"read\",\"port\":\"COM1\",\"ok\":true,\"target\":\"ram\","
                         "\"values\":[100,150,23,1,5,0,9,8,7,1,4,0,1,40,37],"
                         "\"parameters\":{\"threshold\":100,\"hysteresis\":150,"),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("\"frei15\":37}}\n"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
}

TEST_F(Cli, NoReplyExitsOneJustAfterTheReplyWaitNamingTheRequest) {
    peer([](std::uint8_t) { return Bytes{}; });
    const Result r = run({"read", "ram"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no reply"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("55 03"), std::string::npos) << r.err;
    // The 0.1 s pause, then the 3.0 s reply wait.
    EXPECT_GE(r.seconds, 3.1);
    EXPECT_LT(r.seconds, 3.15);
}

TEST_F(Cli, NoReplyWithJsonStillPrintsOneObject) {
    peer([](std::uint8_t) { return Bytes{}; });
    const Result r = run({"check", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.rfind("{\"command\":\"check\",\"port\":\"COM1\",\"ok\":false,\"exit\":1,", 0),
              0u)
        << r.out;
}

TEST_F(Cli, AShortOrLongReplyIsAWrongAnswer) {
    peer([](std::uint8_t) { return Bytes(14, 9); });
    Result r = run({"read", "ram"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("14 of 15 bytes"), std::string::npos) << r.err;
    rt::ResetSerialBindings();
    peer([](std::uint8_t) { return Bytes(16, 9); });
    r = run({"read", "ram"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("too long"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

// ---- check, jumpbuf ----------------------------------------------------------------------

TEST_F(Cli, CheckSendsTheLineCheckAtOnce) {
    auto p = peer(standardAnswer);
    const Result r = run({"check"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "LINE OK\n");
    EXPECT_EQ(asBytes(written()), frameFor(7, zeros15.data()));
    ASSERT_EQ(p->frameTimes.size(), 1u);
    EXPECT_LT(p->frameTimes[0], 0.005);
}

TEST_F(Cli, AWrongLineCheckAnswerIsNamed) {
    peer([](std::uint8_t) { return Bytes{0xAA, 0x03, 0x01}; });
    const Result r = run({"check"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("AA 03 01 instead of AA 03 00"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(Cli, JumpBufPrintsSixteenValuesWithTheThreshold) {
    peer(standardAnswer);
    Result r = run({"jumpbuf"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(asBytes(written()), frameFor(6, zeros15.data()));
    std::string want = "i,jump,trsh\n";
    for (int i = 0; i < 16; ++i)
        want += std::to_string(i) + "," + std::to_string(10 + i) + ",\n";
    // No live record in a run of its own: no threshold, rather than a made-up 0.
    EXPECT_EQ(r.out, want);
    r = run({"jumpbuf", "--json"});
    EXPECT_EQ(r.out, "{\"command\":\"jumpbuf\",\"port\":\"COM1\",\"ok\":true,\"values\":[10,11,12,"
                     "13,14,15,16,17,18,19,20,21,22,23,24,25],\"trsh\":null}\n");
}

// ---- usage and ports ----------------------------------------------------------------------

TEST_F(Cli, UsageErrorsExitTwoAndPutNothingOnTheLine) {
    auto p = peer(standardAnswer);
    for (auto args : std::vector<std::vector<std::string>>{{},
                                                           {"frobnicate"},
                                                           {"read"},
                                                           {"read", "flash"},
                                                           {"write", "x.dat"},
                                                           {"live", "--json"},
                                                           {"live", "--count", "0"},
                                                           {"check", "--verify"},
                                                           {"read", "ram", "--bogus"},
                                                           {"--port", "COM300", "check"},
                                                           {"--port"}}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("varno-cli: "), std::string::npos);
    }
    EXPECT_TRUE(p->frames.empty());
}

TEST_F(Cli, HelpListsCommandsAndExitCodes) {
    const Result r = run({"--help"});
    EXPECT_EQ(r.code, 0);
    for (const char* word : {"ports", "check", "read ram|eeprom", "write FILE", "live [--count N]",
                             "jumpbuf", "--json", "Exit codes", "  4  a file or port error"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

TEST_F(Cli, PortNumbersAndPaths) {
    EXPECT_EQ(cli::PortNumber("3"), 3);
    EXPECT_EQ(cli::PortNumber("COM12"), 12);
    EXPECT_EQ(cli::PortNumber("com1"), 1);
    EXPECT_EQ(cli::PortNumber("/dev/ttyUSB0"), 0);
    EXPECT_EQ(cli::PortNumber("COM"), 0);
    EXPECT_EQ(cli::PortNumber("0"), -1);
    EXPECT_EQ(cli::PortNumber("256"), -1);
}

TEST_F(Cli, APortThatWillNotOpenIsAPortErrorWithItsReason) {
    Result r = run({"--port", "/nonexistent/tty", "read", "ram"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("/nonexistent/tty: no such device"), std::string::npos) << r.err;
    r = run({"--port", "COM250", "check"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("COM250"), std::string::npos) << r.err;
}

TEST_F(Cli, PortsListsTheBoundPorts) {
    peer(standardAnswer);
    const Result r = run({"ports"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("COM1  simulated sensor\n"), std::string::npos) << r.out;
}

TEST_F(Cli, BytesThatArriveDuringThePauseAreFlushedBeforeTheRead) {
    auto p = peer(standardAnswer);
    p->schedule(0.05, Bytes{0x13, 0x37}); // a late answer to something else
    const Result r = run({"read", "ram"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, fileText(block15));
}
