// Shared by the recording tests: the Recording fixture (the panel with a peer answering
// live records, the Record control switched as the operator does) and the CSV helpers.
#pragma once

#include "fixture.h"

#include "capture.h"
#include "recording/record.h"

#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> lines(const std::string& path) {
    std::ifstream f(path);
    std::vector<std::string> out;
    for (std::string l; std::getline(f, l);)
        out.push_back(l);
    return out;
}

inline std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string f; std::getline(in, f, ',');)
        out.push_back(f);
    if (!s.empty() && s.back() == ',') out.push_back("");
    return out;
}

// Record number i: every value differs from its neighbours'; every 7th has IN0 = 0.
inline Bytes recordNo(int i) {
    const int in0 = i % 7 == 3 ? 0 : 400 + i;
    return {std::uint8_t(i),        std::uint8_t(200 - i), std::uint8_t(50 + i),
            std::uint8_t(i * 3),    std::uint8_t(1),       std::uint8_t(in0 & 0xFF),
            std::uint8_t(in0 >> 8), std::uint8_t(100 + i), std::uint8_t(0),
            std::uint8_t(90 + i)};
}

// The record's values as the CSV holds them, from dat0 to win_pct (no time columns).
inline std::vector<std::string> expectedFields(const Bytes& r, int hysteresis) {
    const unsigned edge = r[3] + 256u * r[4], in0 = r[5] + 256u * r[6], in1 = r[7] + 256u * r[8];
    std::vector<std::string> v{std::to_string(r[0]), std::to_string(r[1]),
                               std::to_string(r[2]), std::to_string(edge),
                               std::to_string(in0),  std::to_string(in1),
                               std::to_string(r[9]), std::to_string(hysteresis)};
    v.push_back(in0 ? std::to_string(100 * edge / in0) : "");
    v.push_back(in0 ? std::to_string(100 * in1 / in0) : "");
    return v;
}

class Recording : public PanelTest {
  protected:
    QTemporaryDir dir;
    std::shared_ptr<ScriptedPeer> peer;
    int sent = 0;
    std::vector<Bytes> sentRecords;
    // Extra bytes sent behind record number `strayAfter` (1-based), none when 0.
    int strayAfter = 0;

    void SetUp() override {
        PanelTest::SetUp();
        record::Stop();
        capture::SetStartupFile("");
        initVars();
        capture::Init();
        peer = bindPeer(1);
        peer->onFrame = [this](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
            if (f[1] == 6) return {{0.05, Bytes{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6}}};
            if (f[1] != 5) return {};
            const Bytes r = recordNo(++sent);
            sentRecords.push_back(r);
            if (sent == strayAfter) return {{0.06, r}, {0.065, Bytes{0x55}}};
            return {{0.06, r}};
        };
        ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
        com232::com = 1;
    }
    void TearDown() override {
        record::Stop();
        PanelTest::TearDown();
    }
    std::string path(const char* name) { return dir.filePath(name).toStdString(); }
    // The Record control switched on, the file dialog answering `file`.
    void recordInto(const std::string& file) {
        fileAnswer = {2, file};
        rt::SetCtrlVal(panel, PANEL_RECORD, 1);
        th::FireEvent(panel, PANEL_RECORD, rt::EVENT_VAL_CHANGED);
        th::FireEvent(panel, PANEL_RECORD, rt::EVENT_COMMIT);
    }
    void recordOff() {
        rt::SetCtrlVal(panel, PANEL_RECORD, 0);
        th::FireEvent(panel, PANEL_RECORD, rt::EVENT_COMMIT);
    }
    // Acquires until `n` more records have been shown (the last is confirmed as the loop
    // ends), or a failure ends it.
    void acquire(int n) {
        const int until = th::StripAppendCount(panel, PANEL_GRAPH_RAW) + n;
        th::SetPumpHook([this, until](double) {
            if (th::StripAppendCount(panel, PANEL_GRAPH_RAW) >= until) com232::poll = 0;
        });
        gui::GetData();
        th::SetPumpHook(nullptr);
    }
    int messages() {
        int n = 0;
        for (auto& p : popups)
            n += p.kind == th::Popup::Message;
        return n;
    }
    std::string rowsText() {
        char buf[512] = {};
        rt::GetCtrlVal(panel, PANEL_RECORD_ROWS, buf, sizeof buf);
        return buf;
    }
    int rowsColor() {
        int c = -1;
        rt::GetCtrlAttribute(panel, PANEL_RECORD_ROWS, rt::ATTR_TEXT_COLOR, &c);
        return c;
    }
    void expectRows(const std::vector<std::string>& rows, const std::vector<Bytes>& recs,
                    int hysteresis) {
        ASSERT_EQ(rows.size(), recs.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto f = split(rows[i]);
            ASSERT_EQ(f.size(), 12u) << rows[i];
            EXPECT_EQ(std::vector<std::string>(f.begin() + 2, f.end()),
                      expectedFields(recs[i], hysteresis))
                << "row " << i;
        }
    }
};
