// varno-cli in-process: write (a bad file puts nothing on the line, --verify names every
// differing byte) and live (a row only per confirmed record, strays, a clean stop, an
// output that fills).
#include "cli_fixture.h"
#include "sim_endpoint.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>

#include <sys/resource.h>

// ---- write --------------------------------------------------------------------------------

TEST_F(Cli, WriteRamWithVerifyAgainstTheSimulatedSensor) {
    auto sensor = std::make_shared<sim::SimEndpoint>();
    rt::BindSerialEndpoint(1, sensor);
    const std::string f = path("p.dat");
    writeFile(f, fileText(block15));
    const Result r = run({"write", f, "ram", "--verify"});
    EXPECT_EQ(r.code, 0) << r.err;
    // The block, then its read-back, whose frame carries the block just sent.
    EXPECT_EQ(asBytes(written()),
              concat({frameFor(1, block15.data()), frameFor(3, block15.data())}));
    EXPECT_TRUE(std::equal(block15.begin(), block15.end(), sensor->model().ram().begin()));
    EXPECT_NE(r.out.find("all 15 bytes match"), std::string::npos) << r.out;
}

TEST_F(Cli, WriteEepromSendsTheBlockAndNothingElse) {
    auto sensor = std::make_shared<sim::SimEndpoint>();
    rt::BindSerialEndpoint(1, sensor);
    const std::string f = path("p.dat");
    writeFile(f, fileText(block15));
    const Result r = run({"write", f, "eeprom"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(asBytes(written()), frameFor(2, block15.data()));
    // The frame has time to leave before the port closes.
    EXPECT_GE(r.seconds, 0.1);
    // Let the frame reach the sensor.
    for (int i = 0; i < 100; ++i)
        rt::ProcessSystemEvents();
    EXPECT_EQ(sensor->model().eepromWriteCount(), 1u);
}

TEST_F(Cli, VerifyNamesEveryByteThatDiffersAndExitsThree) {
    auto p = peer([](std::uint8_t code) {
        Bytes b = block15;
        b[5] = 3; // trigger
        b[14] = 0;
        return code == 4 ? b : Bytes{};
    });
    const std::string f = path("p.dat");
    writeFile(f, fileText(block15));
    const Result r = run({"write", f, "eeprom", "--verify"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(asBytes(written()),
              concat({frameFor(2, block15.data()), frameFor(4, block15.data())}));
    EXPECT_NE(r.err.find("byte 6 (trigger): sent 0, read back 3"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("byte 15 (frei15): sent 37, read back 0"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 of 15 bytes"), std::string::npos) << r.err;
    ASSERT_EQ(p->frameTimes.size(), 2u);
    EXPECT_GE(p->frameTimes[1] - p->frameTimes[0], 1.5); // the EEPROM pause
}

TEST_F(Cli, ABadFilePutsNothingOnTheLine) {
    auto p = peer(standardAnswer);
    const std::string f = path("bad.dat");
    writeFile(f, "1\n300\n2\n");
    Result r = run({"write", f, "ram", "--verify"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("line 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was sent"), std::string::npos) << r.err;
    EXPECT_FALSE(th::PortOpen(1));
    EXPECT_TRUE(p->frames.empty());
    writeFile(f, "1\n2\n3\n");
    r = run({"write", f, "ram"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("fewer than 15"), std::string::npos) << r.err;
    r = run({"write", path("missing.dat"), "eeprom"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;
    EXPECT_TRUE(p->frames.empty());
}

// ---- live ---------------------------------------------------------------------------------

namespace {

Bytes liveRecord(int n) {
    return Bytes{std::uint8_t(n), std::uint8_t(200 - n), 50, 0, 1, 0, 2, 0, 1, 77};
}

} // namespace

TEST_F(Cli, LivePrintsTheRecordingsHeaderAndARowPerConfirmedRecord) {
    int records = 0;
    auto p = peer([&](std::uint8_t code) {
        if (code == 5) return liveRecord(++records);
        return standardAnswer(code);
    });
    const Result r = run({"live", "--count", "3"});
    EXPECT_EQ(r.code, 0) << r.err;
    // The RAM read, then three live requests carrying the sensor's own block.
    EXPECT_EQ(asBytes(written()),
              concat({frameFor(3, zeros15.data()), frameFor(5, block15.data()),
                      frameFor(5, block15.data()), frameFor(5, block15.data())}));
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "time,t_s,dat0,dat1,norm,edge,in0,in1,trsh,hysteresis,edge_pct,win_pct");
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(std::getline(lines, line)) << r.out;
        const auto comma = line.find(',');
        // dat0, dat1, norm, edge, in0, in1, trsh, the RAM block's hysteresis, percentages.
        EXPECT_EQ(line.substr(line.find(',', comma + 1) + 1), std::to_string(i) + "," +
                                                                  std::to_string(200 - i) +
                                                                  ",50,256,512,256,77,150,50,50")
            << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
    // 50 ms between cycles.
    ASSERT_EQ(p->frameTimes.size(), 4u);
    EXPECT_GE(p->frameTimes[3] - p->frameTimes[2], 0.05);
    EXPECT_LT(p->frameTimes[3] - p->frameTimes[2], 0.07);
}

TEST_F(Cli, LiveStraysBehindARecordTakeItBackAndExitOne) {
    int records = 0;
    auto p = std::make_shared<ScriptedPeer>();
    p->onFrame = [&](const Bytes& f, double) {
        std::vector<ScriptedPeer::Chunk> c;
        if (f[1] == 3) c.push_back({0.005, block15});
        if (f[1] == 5 && ++records <= 2) c.push_back({0.005, liveRecord(records)});
        if (f[1] == 5 && records == 2) c.push_back({0.020, Bytes{0x13}}); // a stray
        return c;
    };
    rt::BindSerialEndpoint(1, p);
    const Result r = run({"live", "--count", "5"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("stray"), std::string::npos) << r.err;
    // The header and the first record only; the second was followed by strays.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_EQ(p->frames.size(), 3u); // no request after the strays
}

TEST_F(Cli, LiveStopsCleanlyAfterTheCurrentCycle) {
    int records = 0;
    peer([&](std::uint8_t code) {
        if (code != 5) return standardAnswer(code);
        if (++records == 2) cli::RequestStop(); // as Ctrl-C during the second cycle
        return liveRecord(records);
    });
    const Result r = run({"live"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(records, 2);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
}

TEST_F(Cli, LiveWithoutAnAnswerToTheRamReadExitsOneWithoutLiveRequests) {
    auto p = peer([](std::uint8_t) { return Bytes{}; });
    const Result r = run({"live", "--count", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(asBytes(written()), frameFor(3, zeros15.data()));
    EXPECT_EQ(r.out, "");
}

// ---- live into an output that fills -------------------------------------------------------

namespace {

// varno-cli live with its rows going to `out`; the result's out is empty.
Result runInto(std::FILE* out, std::vector<std::string> args) {
    args.insert(args.begin(), "varno-cli");
    std::vector<const char*> argv;
    for (auto& a : args)
        argv.push_back(a.c_str());
    std::FILE* err = std::tmpfile();
    const double t0 = rt::Timer();
    const int code = cli::Main(int(argv.size()), argv.data(), out, err);
    const double t = rt::Timer() - t0;
    return {code, "", readAll(err), t};
}

} // namespace

TEST_F(Cli, LiveIntoAFullDeviceExitsFourBeforeAnyLiveRequest) {
    std::FILE* full = std::fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full here";
    auto p = peer([](std::uint8_t code) {
        return code == 5 ? liveRecord(1) : standardAnswer(code);
    });
    const Result r = runInto(full, {"live"});
    std::fclose(full);
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("could not be written"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    // The header could not be written: no live request went out.
    EXPECT_EQ(asBytes(written()), frameFor(3, zeros15.data()));
}

TEST_F(Cli, LiveIntoAFileThatFillsExitsFourAndTheFileEndsWithAWholeRow) {
    int records = 0;
    peer([&](std::uint8_t code) { return code == 5 ? liveRecord(++records) : standardAnswer(code); });
    const std::string file = path("rows.csv");
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    // A size limit makes a write fail part way through a row, as a full disk does.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 73 + 1 + 3 * 60 + 25; // the header, three rows and part of the fourth
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Result r = runInto(out, {"live"});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    std::fclose(out);
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ends with the last whole row"), std::string::npos) << r.err;
    EXPECT_LT(r.seconds, 3.0);
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << text;
    // The header and whole rows, each with the record's values, none after the failure.
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "time,t_s,dat0,dat1,norm,edge,in0,in1,trsh,hysteresis,edge_pct,win_pct");
    int rows = 0;
    while (std::getline(lines, line)) {
        ++rows;
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 11) << line;
        EXPECT_NE(line.find("," + std::to_string(rows) + "," + std::to_string(200 - rows) +
                            ",50,256,512,256,77,150,50,50"),
                  std::string::npos)
            << line;
    }
    EXPECT_GE(rows, 2);
    EXPECT_LE(rows, 4);
    EXPECT_LE(records, rows + 1); // no cycle after the failed row
}
