// The parameter table and the record type: names, positions, ranges and the arithmetic of
// the live record, checked against what the other programs and files already rely on.
#include "gui.h"
#include "recording/record.h"
#include "sensor/params.h"
#include "sensor/reading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

namespace {

TEST(ParamTable, NamesPositionsAndRangesAsFilesAndTopicsUseThem) {
    const char* names[] = {"threshold", "hysteresis",   "power",    "pmod",    "hold",
                           "trigger",   "backlim",      "regcnt",   "average", "deadtimemode",
                           "deadtime",  "outmode",      "trshmod",  "deltatrsh", "frei15"};
    std::set<std::string> seen;
    for (int i = 0; i < sensor::ParamCount; ++i) {
        const sensor::Param& p = sensor::Params()[i];
        EXPECT_STREQ(p.name, names[i]);
        EXPECT_EQ(p.byte, i);
        // Every byte travels as it is: a block read from a sensor is never out of range.
        EXPECT_EQ(p.min, 0);
        EXPECT_EQ(p.max, 255);
        EXPECT_GT(std::string(p.meaning).size(), 10u) << p.name;
        EXPECT_TRUE(seen.insert(p.name).second) << p.name;
        EXPECT_EQ(sensor::FindParam(p.name), &p);
    }
    EXPECT_EQ(sensor::FindParam("threshold ") , nullptr);
    EXPECT_EQ(sensor::FindParam(""), nullptr);
    EXPECT_EQ(sensor::param::hysteresis, 1);
    EXPECT_EQ(sensor::param::frei15, 14);
}

TEST(ParamTable, RangesTakeWholeNumbersOnly) {
    const sensor::Param& t = sensor::Params()[sensor::param::threshold];
    for (double ok : {0.0, 1.0, 100.0, 255.0, 1e2})
        EXPECT_TRUE(sensor::InRange(t, ok)) << ok;
    for (double bad : {-1.0, 256.0, 300.0, 99.9999999, 0.5, 1e300, std::nan("")})
        EXPECT_FALSE(sensor::InRange(t, bad)) << bad;
}

TEST(ParamTable, ThePowersPercentAsThePanelConvertsIt) {
    const sensor::Param& p = sensor::Params()[sensor::param::power];
    EXPECT_EQ(p.percentCodeAt0, 46);
    EXPECT_EQ(p.percentCodeAt100, 0);
    for (int code = 0; code <= 255; ++code)
        EXPECT_EQ(sensor::PowerPercent(code), gui::PowerCodeToPercent(static_cast<unsigned char>(code)))
            << code;
    for (int pct = 0; pct <= 100; ++pct)
        EXPECT_EQ(sensor::PowerCode(pct), gui::PowerPercentToCode(static_cast<unsigned char>(pct)))
            << pct;
    // A mode with choices names them; a plain number has none.
    ASSERT_NE(sensor::Params()[sensor::param::trigger].choices, nullptr);
    EXPECT_STREQ(sensor::Params()[sensor::param::trigger].choices[3].label, "ADJ EXT");
    EXPECT_EQ(sensor::Params()[sensor::param::hold].choices, nullptr);
}

TEST(RecordType, DecodesTheTenBytesOnce) {
    // DAT0 112, DAT1 96, NORM 137, edge 0x019C = 412, IN0 0x03E8 = 1000, IN1 0x0258 = 600,
    // working threshold 128.
    const unsigned char rec[10] = {112, 96, 137, 0x9C, 0x01, 0xE8, 0x03, 0x58, 0x02, 128};
    const sensor::Reading r = sensor::Decode(rec);
    EXPECT_EQ(r.dat0, 112u);
    EXPECT_EQ(r.dat1, 96u);
    EXPECT_EQ(r.norm, 137u);
    EXPECT_EQ(r.edge, 412u);
    EXPECT_EQ(r.in0, 1000u);
    EXPECT_EQ(r.in1, 600u);
    EXPECT_EQ(r.trsh, 128u);
    ASSERT_TRUE(r.edgePct && r.winPct);
    EXPECT_EQ(*r.edgePct, 41u); // whole percent, truncated as the displays show it
    EXPECT_EQ(*r.winPct, 60u);
    // The largest values: 16 bits each, and percentages above 100.
    const unsigned char big[10] = {255, 255, 255, 0xFF, 0xFF, 0x01, 0x00, 0xFF, 0xFF, 255};
    const sensor::Reading b = sensor::Decode(big);
    EXPECT_EQ(b.edge, 65535u);
    EXPECT_EQ(b.in0, 1u);
    EXPECT_EQ(*b.edgePct, 6553500u);
    // No IN0 period: no percentages, never a division by zero.
    const unsigned char none[10] = {1, 2, 3, 4, 5, 0, 0, 7, 8, 9};
    const sensor::Reading n = sensor::Decode(none);
    EXPECT_FALSE(n.edgePct);
    EXPECT_FALSE(n.winPct);
    EXPECT_EQ(n.in1, 7u + 256u * 8u);
}

TEST(RecordType, FieldsInTheRecordingsColumnOrder) {
    int count = 0;
    const sensor::Field* f = sensor::RecordFields(count);
    std::string names = "time,t_s";
    for (int i = 0; i < count; ++i) {
        names += std::string(",") + f[i].name;
        if (std::string(f[i].name) == "trsh") names += ",hysteresis";
    }
    EXPECT_EQ(names, record::Header());
}

TEST(JumpBufferCsv, BothHeadersAndAnEmptyThresholdWhenNoneIsKnown) {
    unsigned char v[16];
    for (int i = 0; i < 16; ++i)
        v[i] = static_cast<unsigned char>(200 + i);
    const std::string panel = record::JumpBufferCsv("sample,value,threshold", v, 128u);
    EXPECT_EQ(panel.substr(0, 33), "sample,value,threshold\n0,200,128\n");
    EXPECT_NE(panel.find("\n15,215,128\n"), std::string::npos);
    const std::string cli = record::JumpBufferCsv("i,jump,trsh", v, std::nullopt);
    EXPECT_EQ(cli.substr(0, 20), "i,jump,trsh\n0,200,\n1");
    EXPECT_EQ(std::count(cli.begin(), cli.end(), '\n'), 17);
}

} // namespace

#include "sensor/port_arg.h"

namespace {

TEST(PortArgument, OneAnswerForEveryProgram) {
    EXPECT_EQ(sensor::PortNumber("3"), 3);
    EXPECT_EQ(sensor::PortNumber("COM3"), 3);
    EXPECT_EQ(sensor::PortNumber("com255"), 255);
    EXPECT_EQ(sensor::PortNumber("/dev/ttyUSB0"), 0);
    EXPECT_EQ(sensor::PortNumber("./-3"), 0);
    EXPECT_EQ(sensor::PortNumber("COMx"), 0);
    for (const char* no : {"-3", "+3", "COM-3", "0", "COM0", "256", "COM256", "1234567", ""})
        EXPECT_EQ(sensor::PortNumber(no), -1) << no;
}

} // namespace
