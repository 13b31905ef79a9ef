// The parameter controls: reading and writing them, the power conversion, the panel rules,
// the two parameter pages, the target toggles, and the transfer to and from the sensor.
#include "fixture.h"

#include <QComboBox>
#include <array>
#include <map>

namespace {

// Block position -> variable and control (frei15 has no control).
unsigned char* const blockVars[15] = {
    &com232::threshold, &com232::hysteresis, &com232::power,    &com232::pmod,
    &com232::hold,      &com232::trigger,    &com232::backlim,  &com232::regcnt,
    &com232::average,   &com232::deadtimemode, &com232::deadtime, &com232::outmode,
    &com232::trshmod,   &com232::deltatrsh,  &com232::frei15};
const int blockCtrls[14] = {PANEL_THRESHOLD, PANEL_HYSTERESIS, PANEL_POWER,  PANEL_PMOD,
                            PANEL_HOLD,      PANEL_TRIGGER,    PANEL_BACKLIM, PANEL_REGCNT,
                            PANEL_AVERAGE,   PANEL_DEADTIMEMODE, PANEL_DEADTIME, PANEL_OUTMODE,
                            PANEL_TRSHMOD,   PANEL_DELTATRSH};
constexpr int PowerPos = 2;

using Block = std::array<std::uint8_t, 15>;

// A block as a sensor holds it: every mode switched away from its default, power code 31.
constexpr Block sensorBlock = {140, 170, 31, 1, 25, 2, 60, 9, 4, 1, 5, 1, 1, 12, 37};

Block varsNow() {
    Block b{};
    for (int i = 0; i < 15; ++i) b[i] = *blockVars[i];
    return b;
}
Block ppNow() {
    Block b{};
    std::memcpy(b.data(), com232::pp, 15);
    return b;
}

// A typed percentage goes out as it always has: truncating.
int expectedCode(int percent) { return 46 - (percent * 46) / 100; }

class ParameterTest : public PanelTest {
protected:
    std::shared_ptr<ScriptedPeer> peer;
    // Replies by request code: (delay, bytes).
    std::map<int, std::pair<double, Bytes>> replies;

    void openPort() {
        peer = bindPeer(1);
        peer->onFrame = [this](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
            auto it = replies.find(f[1]);
            if (it == replies.end()) return {};
            return {{it->second.first, it->second.second}};
        };
        com232::com = 1;
        com232::sync = 0x55;
        com232::target = com232::RAM;
        ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
    }
    void answer(int code, const Block& b, double delay = 0.02) {
        replies[code] = {delay, Bytes(b.begin(), b.end())};
    }
    // The panel's 14 parameter values as the controls hold them (power in percent).
    std::vector<int> panelValues() {
        std::vector<int> v;
        for (int id : blockCtrls) v.push_back(ucharVal(id));
        return v;
    }
    // Puts a block on the panel as a read would, without the rules.
    void showBlock(const Block& b) {
        for (int i = 0; i < 15; ++i) *blockVars[i] = b[i];
        gui::SetPanelValues();
    }
};

// ---- reading and writing the controls -------------------------------------------------

TEST_F(ParameterTest, GetPanelValuesReadsEachControlIntoItsOwnVariable) {
    const int mismatches = th::TypeMismatchCount();
    const int values[14] = {11, 12, 50, 1, 15, 2, 17, 18, 19, 1, 9, 1, 1, 24};
    for (int i = 0; i < 14; ++i) rt::SetCtrlVal(panel, blockCtrls[i], values[i]);
    com232::frei15 = 99;
    gui::GetPanelValues();
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(*blockVars[i], i == PowerPos ? 23 : values[i]) << "block position " << i;
    EXPECT_EQ(com232::frei15, 99); // no control of its own: untouched
    EXPECT_EQ(th::TypeMismatchCount(), mismatches);
}

TEST_F(ParameterTest, SetPanelValuesWritesEachVariableToItsOwnControl) {
    const int mismatches = th::TypeMismatchCount();
    showBlock(sensorBlock);
    const std::vector<int> shown = panelValues();
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(shown[i], i == PowerPos ? 33 : sensorBlock[i]) << "block position " << i;
    EXPECT_EQ(com232::power, 33); // the percent is what stays in the variable
    EXPECT_EQ(th::TypeMismatchCount(), mismatches);
}

TEST_F(ParameterTest, EveryPowerCodeComesBackUnchangedThroughThePanel) {
    for (int code = 0; code <= 46; ++code) {
        com232::power = static_cast<unsigned char>(code);
        gui::SetPanelValues();
        const int shown = ucharVal(PANEL_POWER);
        EXPECT_EQ(com232::power, shown) << "code " << code;
        // Of all percentages that go out as this code, the one shown is nearest the
        // exact value.
        const double exact = (46 - code) * 100.0 / 46.0;
        for (int p = 0; p <= 100; ++p)
            if (expectedCode(p) == code) {
                EXPECT_LE(std::abs(shown - exact), std::abs(p - exact) + 1e-9)
                    << "code " << code << " shows " << shown << " %, " << p << " % is nearer";
            }
        gui::GetPanelValues();
        EXPECT_EQ(com232::power, code) << "code " << code;
    }
}

TEST_F(ParameterTest, EveryPercentGoesOutAsItAlwaysHas) {
    for (int percent = 0; percent <= 100; ++percent) {
        rt::SetCtrlVal(panel, PANEL_POWER, percent);
        gui::GetPanelValues();
        EXPECT_EQ(com232::power, expectedCode(percent)) << percent << " %";
    }
}

TEST_F(ParameterTest, PowerConversionFixedPoints) {
    EXPECT_EQ(gui::PowerCodeToPercent(31), 33);
    EXPECT_EQ(gui::PowerCodeToPercent(10), 79);
    EXPECT_EQ(gui::PowerPercentToCode(78), 11);
    EXPECT_EQ(gui::PowerPercentToCode(33), 31);
    EXPECT_EQ(gui::PowerPercentToCode(65), 17); // the panel's stored default
    EXPECT_EQ(gui::PowerPercentToCode(2), 46);
    EXPECT_EQ(gui::PowerPercentToCode(0), 46);
    EXPECT_EQ(gui::PowerPercentToCode(50), 23);
    EXPECT_EQ(gui::PowerPercentToCode(100), 0);
    // A code beyond "no intensity" shows 0 %, not a wrapped or huge value.
    for (int code : {47, 60, 128, 255}) {
        com232::power = static_cast<unsigned char>(code);
        gui::SetPanelValues();
        EXPECT_EQ(ucharVal(PANEL_POWER), 0) << "code " << code;
    }
}

TEST_F(ParameterTest, RingValueNoItemHoldsIsKeptAndSentBackUnchanged) {
    openPort();
    Block odd = sensorBlock;
    odd[5] = 7;   // trigger
    odd[10] = 20; // deadtime beyond the 16 steps
    odd[11] = 5;  // outmode
    answer(3, odd);
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    ASSERT_EQ(ppNow(), odd);
    auto* trig = qobject_cast<QComboBox*>(th::ControlWidget(panel, PANEL_TRIGGER));
    EXPECT_EQ(trig->currentText().toStdString(), "7");
    EXPECT_EQ(ucharVal(PANEL_TRIGGER), 7);
    EXPECT_EQ(ucharVal(PANEL_DEADTIME), 20);
    EXPECT_EQ(ucharVal(PANEL_OUTMODE), 5);
    rt::FlushInQ(1);
    th::ClearWrittenBytes(1);
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    EXPECT_EQ(asBytes(th::WrittenBytes(1)), frameFor(1, odd.data()));
}

// ---- the four rules ------------------------------------------------------------------

TEST_F(ParameterTest, TrshModRuleReadsItsControlAndSetsDimmingAndLabel) {
    for (int mode : {1, 0, 1}) {
        rt::SetCtrlVal(panel, PANEL_TRSHMOD, mode);
        com232::trshmod = static_cast<unsigned char>(1 - mode);
        th::FireEvent(panel, PANEL_TRSHMOD, rt::EVENT_COMMIT);
        EXPECT_EQ(com232::trshmod, mode);
        EXPECT_EQ(dimmed(PANEL_DELTATRSH), mode == 0);
        EXPECT_EQ(label(PANEL_THRESHOLD), mode == 0 ? "TRESHOLD" : "MAX TRSH");
    }
}

TEST_F(ParameterTest, PmodRuleDimsPowerOrRegcnt) {
    for (int mode : {1, 0, 1}) {
        rt::SetCtrlVal(panel, PANEL_PMOD, mode);
        com232::pmod = static_cast<unsigned char>(1 - mode);
        th::FireEvent(panel, PANEL_PMOD, rt::EVENT_COMMIT);
        EXPECT_EQ(com232::pmod, mode);
        EXPECT_EQ(dimmed(PANEL_POWER), mode != 0);
        EXPECT_EQ(dimmed(PANEL_REGCNT), mode == 0);
    }
}

TEST_F(ParameterTest, DeadTimeModeRuleRelabelsTheStepsAndKeepsTheSelection) {
    auto* dt = qobject_cast<QComboBox*>(th::ControlWidget(panel, PANEL_DEADTIME));
    rt::SetCtrlVal(panel, PANEL_DEADTIME, 5);
    for (int mode : {1, 0, 1}) {
        rt::SetCtrlVal(panel, PANEL_DEADTIMEMODE, mode);
        th::FireEvent(panel, PANEL_DEADTIMEMODE, rt::EVENT_COMMIT);
        EXPECT_EQ(com232::deadtimemode, mode);
        EXPECT_EQ(label(PANEL_DEADTIME), mode == 0 ? "DEAD TIME[%]" : "DEAD TIME[ms]");
        ASSERT_EQ(dt->count(), 16);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(dt->itemText(i).toStdString(), std::to_string(i * (mode == 0 ? 6 : 2)));
            EXPECT_EQ(dt->itemData(i).toInt(), i);
        }
        EXPECT_EQ(dt->currentIndex(), 5);
        EXPECT_EQ(dt->currentText().toStdString(), mode == 0 ? "30" : "10");
        EXPECT_EQ(ucharVal(PANEL_DEADTIME), 5);
    }
}

TEST_F(ParameterTest, TriggerRuleDimsTheDeadTimeControlsOutsideContinuousMode) {
    for (int mode : {2, 0, 1, 0, 3}) {
        rt::SetCtrlVal(panel, PANEL_TRIGGER, mode);
        th::FireEvent(panel, PANEL_TRIGGER, rt::EVENT_COMMIT);
        EXPECT_EQ(com232::trigger, mode);
        EXPECT_EQ(dimmed(PANEL_DEADTIMEMODE), mode != 0) << "trigger " << mode;
        EXPECT_EQ(dimmed(PANEL_DEADTIME), mode != 0) << "trigger " << mode;
    }
}

TEST_F(ParameterTest, ModeCallbacksApplyNoRuleOnOtherEvents) {
    rt::SetCtrlVal(panel, PANEL_TRSHMOD, 1);
    rt::SetCtrlVal(panel, PANEL_PMOD, 1);
    rt::SetCtrlVal(panel, PANEL_DEADTIMEMODE, 1);
    rt::SetCtrlVal(panel, PANEL_TRIGGER, 2);
    const bool dts = dimmed(PANEL_DELTATRSH), pw = dimmed(PANEL_POWER),
               dt = dimmed(PANEL_DEADTIME);
    const std::string dtl = label(PANEL_DEADTIME), thl = label(PANEL_THRESHOLD);
    for (int ev : {rt::EVENT_VAL_CHANGED, 3, 4, rt::EVENT_CLOSE})
        for (int id : {PANEL_TRSHMOD, PANEL_PMOD, PANEL_DEADTIMEMODE, PANEL_TRIGGER})
            th::FireEvent(panel, id, ev);
    EXPECT_EQ(dimmed(PANEL_DELTATRSH), dts);
    EXPECT_EQ(dimmed(PANEL_POWER), pw);
    EXPECT_EQ(dimmed(PANEL_DEADTIME), dt);
    EXPECT_EQ(label(PANEL_DEADTIME), dtl);
    EXPECT_EQ(label(PANEL_THRESHOLD), thl);
    EXPECT_TRUE(popups.empty());
}

TEST_F(ParameterTest, AfterAReadAllFourRulesAreInForce) {
    openPort();
    // The panel starts in the opposite state of every rule.
    rt::SetCtrlAttribute(panel, PANEL_DELTATRSH, rt::ATTR_DIMMED, 1);
    rt::SetCtrlAttribute(panel, PANEL_POWER, rt::ATTR_DIMMED, 0);
    rt::SetCtrlAttribute(panel, PANEL_REGCNT, rt::ATTR_DIMMED, 1);
    rt::SetCtrlAttribute(panel, PANEL_DEADTIME, rt::ATTR_DIMMED, 0);
    rt::SetCtrlAttribute(panel, PANEL_DEADTIMEMODE, rt::ATTR_DIMMED, 0);
    answer(3, sensorBlock);
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    ASSERT_EQ(ppNow(), sensorBlock);
    EXPECT_FALSE(dimmed(PANEL_DELTATRSH));
    EXPECT_EQ(label(PANEL_THRESHOLD), "MAX TRSH");
    EXPECT_TRUE(dimmed(PANEL_POWER));
    EXPECT_FALSE(dimmed(PANEL_REGCNT));
    EXPECT_EQ(label(PANEL_DEADTIME), "DEAD TIME[ms]");
    EXPECT_EQ(qobject_cast<QComboBox*>(th::ControlWidget(panel, PANEL_DEADTIME))
                  ->currentText()
                  .toStdString(),
              "10");
    EXPECT_TRUE(dimmed(PANEL_DEADTIMEMODE));
    EXPECT_TRUE(dimmed(PANEL_DEADTIME));
}

TEST_F(ParameterTest, DimmedControlsAreStillReadAndSent) {
    openPort();
    rt::SetCtrlVal(panel, PANEL_PMOD, 0);
    rt::SetCtrlVal(panel, PANEL_TRIGGER, 1);
    gui::InitPanelValues();
    ASSERT_TRUE(dimmed(PANEL_REGCNT));
    ASSERT_TRUE(dimmed(PANEL_DEADTIME));
    rt::SetCtrlVal(panel, PANEL_REGCNT, 77);
    rt::SetCtrlVal(panel, PANEL_DEADTIME, 9);
    rt::SetCtrlVal(panel, PANEL_DEADTIMEMODE, 1);
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    const std::string w = th::WrittenBytes(1);
    ASSERT_EQ(w.size(), 17u);
    EXPECT_EQ(std::uint8_t(w[2 + 7]), 77);
    EXPECT_EQ(std::uint8_t(w[2 + 10]), 9);
    EXPECT_EQ(std::uint8_t(w[2 + 9]), 1);
}

// ---- pages ---------------------------------------------------------------------------

const int page1[] = {PANEL_THRESHOLD, PANEL_TRSHMOD, PANEL_DELTATRSH, PANEL_HYSTERESIS,
                     PANEL_TRIGGER,   PANEL_PMOD,    PANEL_POWER,     PANEL_HOLD};
const int page2[] = {PANEL_BACKLIM, PANEL_REGCNT, PANEL_AVERAGE, PANEL_OUTMODE,
                     PANEL_DEADTIMEMODE, PANEL_DEADTIME};

TEST_F(ParameterTest, ParaVisAndParaInVisShowOnePageEach) {
    gui::ParaInVis();
    for (int id : page1) EXPECT_FALSE(visible(id)) << id;
    for (int id : page2) EXPECT_TRUE(visible(id)) << id;
    for (int id : page2) EXPECT_TRUE(th::LabelWidget(panel, id)->isVisibleTo(th::PanelWidget(panel)));
    gui::ParaVis();
    for (int id : page1) EXPECT_TRUE(visible(id)) << id;
    for (int id : page2) EXPECT_FALSE(visible(id)) << id;
}

TEST_F(ParameterTest, ParaVisibleSwitchChangesPagesButNoValueOrDimming) {
    showBlock(sensorBlock);
    gui::InitPanelValues();
    const std::vector<int> values = panelValues();
    std::vector<bool> dims;
    for (int id : blockCtrls) dims.push_back(dimmed(id));
    for (int on : {0, 1, 0, 1}) {
        rt::SetCtrlVal(panel, PANEL_PARA_VISIBLE, on);
        gui::para = 7;
        th::FireEvent(panel, PANEL_PARA_VISIBLE, rt::EVENT_COMMIT);
        EXPECT_EQ(gui::para, on);
        for (int id : page1) EXPECT_EQ(visible(id), on == 1) << id;
        for (int id : page2) EXPECT_EQ(visible(id), on == 0) << id;
        EXPECT_EQ(panelValues(), values);
        for (int i = 0; i < 14; ++i) EXPECT_EQ(dimmed(blockCtrls[i]), dims[i]) << blockCtrls[i];
    }
}

// ---- target toggles ------------------------------------------------------------------

class TargetTest : public ParameterTest {
protected:
    void toggles(int ram, int ee, int file) {
        rt::SetCtrlVal(panel, PANEL_SELECT_RAM, ram);
        rt::SetCtrlVal(panel, PANEL_SELECT_EEPROM, ee);
        rt::SetCtrlVal(panel, PANEL_SELECT_FILE, file);
    }
    std::array<int, 3> state() {
        return {intVal(PANEL_SELECT_RAM), intVal(PANEL_SELECT_EEPROM), intVal(PANEL_SELECT_FILE)};
    }
};

TEST_F(TargetTest, SwitchingRamOffLeavesRamOn) {
    toggles(0, 0, 0);
    com232::target = com232::EEPROM;
    th::FireEvent(panel, PANEL_SELECT_RAM, rt::EVENT_VAL_CHANGED);
    EXPECT_EQ(state(), (std::array<int, 3>{1, 0, 0}));
    EXPECT_EQ(com232::target, com232::RAM);
}

TEST_F(TargetTest, SwitchingEepromOnTurnsTheOthersOff) {
    toggles(1, 1, 1); // FILE was on, EEPROM has just been switched on
    com232::target = com232::DATFILE;
    th::FireEvent(panel, PANEL_SELECT_EEPROM, rt::EVENT_VAL_CHANGED);
    EXPECT_EQ(state(), (std::array<int, 3>{0, 1, 0}));
    EXPECT_EQ(com232::target, 2);
}

TEST_F(TargetTest, SwitchingFileOnAndOff) {
    toggles(1, 0, 1);
    th::FireEvent(panel, PANEL_SELECT_FILE, rt::EVENT_VAL_CHANGED);
    EXPECT_EQ(state(), (std::array<int, 3>{0, 0, 1}));
    EXPECT_EQ(com232::target, com232::DATFILE);
    rt::SetCtrlVal(panel, PANEL_SELECT_FILE, 0);
    th::FireEvent(panel, PANEL_SELECT_FILE, rt::EVENT_VAL_CHANGED);
    EXPECT_EQ(state(), (std::array<int, 3>{1, 0, 0}));
    EXPECT_EQ(com232::target, com232::RAM);
}

TEST_F(TargetTest, TogglesActOnlyOnValueChanged) {
    toggles(0, 1, 1);
    com232::target = com232::EEPROM;
    for (int id : {PANEL_SELECT_RAM, PANEL_SELECT_EEPROM, PANEL_SELECT_FILE})
        for (int ev : {rt::EVENT_COMMIT, 3, 4, rt::EVENT_CLOSE}) th::FireEvent(panel, id, ev);
    EXPECT_EQ(state(), (std::array<int, 3>{0, 1, 1}));
    EXPECT_EQ(com232::target, com232::EEPROM);
}

// ---- transfer -------------------------------------------------------------------------

TEST_F(ParameterTest, SendToRamWritesOneFrameAndReadsNothing) {
    openPort();
    showBlock(sensorBlock);
    rt::SetCtrlVal(panel, PANEL_STATUS, "before");
    answer(1, sensorBlock); // a reply the program must leave alone
    com232::poll = 1;
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    EXPECT_EQ(asBytes(th::WrittenBytes(1)), frameFor(1, sensorBlock.data()));
    EXPECT_EQ(ppNow(), sensorBlock);
    EXPECT_EQ(com232::poll, 0);
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(status(), "before");
    th::AdvanceClock(0.1);
    EXPECT_EQ(rt::GetInQLen(1), 15); // the reply is still waiting: nothing was read
}

TEST_F(ParameterTest, SendToEepromUsesCode2) {
    openPort();
    showBlock(sensorBlock);
    com232::target = com232::EEPROM;
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    EXPECT_EQ(asBytes(th::WrittenBytes(1)), frameFor(2, sensorBlock.data()));
    EXPECT_TRUE(popups.empty());
}

TEST_F(ParameterTest, SendOnAClosedPortGivesTheTimeoutReport) {
    openPort();
    rt::CloseCom(1);
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    EXPECT_EQ(status(), "TIMEOUT");
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "INFO");
    EXPECT_EQ(popups[0].text, com232::InfoTimeout);
    EXPECT_TRUE(peer->frames.empty());
}

TEST_F(ParameterTest, ABlockReadInGoesOutAgainWhole) {
    openPort();
    answer(3, sensorBlock);
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    ASSERT_EQ(varsNow()[14], 37);
    th::ClearWrittenBytes(1);
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    EXPECT_EQ(asBytes(th::WrittenBytes(1)), frameFor(1, sensorBlock.data()));
}

TEST_F(ParameterTest, GetFromRamWaitsATenthThenSendsCode3) {
    openPort();
    answer(3, sensorBlock);
    th::SetClock(10.0);
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    ASSERT_EQ(peer->frames.size(), 1u);
    EXPECT_EQ(peer->frames[0][0], 0x55);
    EXPECT_EQ(peer->frames[0][1], 3);
    EXPECT_GE(peer->frameTimes[0] - 10.0, 0.1);
    EXPECT_LT(peer->frameTimes[0] - 10.0, 0.11);
    EXPECT_EQ(ppNow(), sensorBlock);
    EXPECT_EQ(varsNow(), ([] {
                  Block b = sensorBlock;
                  b[PowerPos] = 33; // the percent stays in the variable after the display
                  return b;
              }()));
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 140);
    EXPECT_EQ(ucharVal(PANEL_POWER), 33);
    EXPECT_TRUE(popups.empty());
}

TEST_F(ParameterTest, GetFromEepromWaitsOneAndAHalfSecondsThenSendsCode4) {
    openPort();
    com232::target = com232::EEPROM;
    answer(4, sensorBlock);
    th::SetClock(20.0);
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    ASSERT_EQ(peer->frames.size(), 1u);
    EXPECT_EQ(peer->frames[0][1], 4);
    EXPECT_GE(peer->frameTimes[0] - 20.0, 1.5);
    EXPECT_LT(peer->frameTimes[0] - 20.0, 1.51);
    EXPECT_EQ(ppNow(), sensorBlock);
    EXPECT_EQ(ucharVal(PANEL_HOLD), 25);
}

TEST_F(ParameterTest, RepliesOfWrongLengthLeaveEverythingAsItWas) {
    openPort();
    for (std::size_t n : {14u, 16u}) {
        popups.clear();
        const Block before = {1, 2, 40, 0, 5, 0, 7, 8, 9, 0, 3, 0, 0, 14, 15};
        std::memcpy(com232::pp, before.data(), 15);
        com232::CopyPPtoVars();
        gui::SetPanelValues();
        gui::InitPanelValues();
        rt::SetCtrlVal(panel, PANEL_HYSTERESIS, 222); // an unsent edit
        const Block vars = varsNow();
        const std::vector<int> shown = panelValues();
        Bytes reply(sensorBlock.begin(), sensorBlock.end());
        reply.resize(n, 0x11);
        replies[3] = {0.02, reply};
        th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
        EXPECT_EQ(status(), "TIMEOUT") << n << " bytes";
        ASSERT_EQ(popups.size(), 1u) << n << " bytes";
        EXPECT_EQ(popups[0].title, "INFO");
        EXPECT_EQ(popups[0].text, com232::InfoTimeout);
        EXPECT_EQ(ppNow(), before) << n << " bytes";
        EXPECT_EQ(varsNow(), vars) << n << " bytes";
        EXPECT_EQ(panelValues(), shown) << n << " bytes";
        EXPECT_FALSE(dimmed(PANEL_POWER));
        rt::FlushInQ(1);
    }
}

TEST_F(ParameterTest, GetDuringAnAcquisitionReadsAndEndsIt) {
    openPort();
    replies[5] = {0.01, Bytes{10, 20, 85, 0, 0, 0, 0, 0, 0, 90}};
    answer(3, sensorBlock);
    bool fired = false, runaway = false;
    double firedAt = 0;
    th::SetPumpHook([&](double now) {
        if (!fired && now >= 0.6) {
            fired = true;
            firedAt = now;
            th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
        }
        if (now > 30.0 && com232::poll) {
            runaway = true;
            com232::poll = 0;
        }
    });
    gui::GetData();
    th::SetPumpHook(nullptr);
    ASSERT_FALSE(runaway) << "the acquisition did not end";
    ASSERT_TRUE(fired);
    EXPECT_EQ(com232::poll, 0);
    EXPECT_EQ(ppNow(), sensorBlock);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 140);
    // Live frames before the read, the read, and nothing after it.
    int reads = 0, liveBefore = 0;
    for (std::size_t i = 0; i < peer->frames.size(); ++i) {
        if (peer->frames[i][1] == 3) {
            ++reads;
            EXPECT_EQ(i, peer->frames.size() - 1) << "a frame followed the parameter read";
            EXPECT_GE(peer->frameTimes[i] - firedAt, 0.1);
        } else {
            EXPECT_EQ(peer->frames[i][1], 5);
            ++liveBefore;
        }
    }
    EXPECT_EQ(reads, 1);
    EXPECT_GT(liveBefore, 1);
    EXPECT_TRUE(popups.empty());
}

TEST_F(ParameterTest, PortChangeWithFileTargetReadsTheRam) {
    auto other = bindPeer(2);
    other->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.02, lineOk}};
        if (f[1] == 3) return {{0.02, Bytes(sensorBlock.begin(), sensorBlock.end())}};
        return {};
    };
    com232::com = 1;
    com232::sync = 0x55;
    com232::target = com232::DATFILE;
    rt::SetCtrlVal(panel, PANEL_COMPORT, 2);
    th::FireEvent(panel, PANEL_COMPORT, rt::EVENT_COMMIT);
    EXPECT_EQ(com232::com, 2);
    ASSERT_EQ(other->frames.size(), 2u);
    EXPECT_EQ(other->frames[0][1], 7);
    EXPECT_EQ(other->frames[1][1], 3);
    EXPECT_EQ(ppNow(), sensorBlock);
    EXPECT_EQ(status(), com232::LineOkText);
    EXPECT_EQ(com232::target, com232::DATFILE);
    EXPECT_TRUE(popups.empty());
}

TEST_F(ParameterTest, StartUpChecksTheLineAndReadsTheRam) {
    initVars();
    auto p = bindPeer(1);
    p->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.02, lineOk}};
        if (f[1] == 3) return {{0.02, Bytes(sensorBlock.begin(), sensorBlock.end())}};
        return {};
    };
    com232::InitRS232(1);
    ASSERT_EQ(p->frames.size(), 2u);
    EXPECT_EQ(p->frames[0][0], 0x55);
    EXPECT_EQ(p->frames[0][1], 7);
    EXPECT_EQ(p->frames[1][1], 3);
    EXPECT_EQ(status(), com232::LineOkText);
    EXPECT_EQ(ppNow(), sensorBlock);
    EXPECT_EQ(ucharVal(PANEL_POWER), 33);
    EXPECT_EQ(label(PANEL_THRESHOLD), "MAX TRSH");
    EXPECT_TRUE(dimmed(PANEL_DEADTIME));
    EXPECT_TRUE(popups.empty());
    // And what was read goes back out unchanged.
    th::ClearWrittenBytes(1);
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    EXPECT_EQ(asBytes(th::WrittenBytes(1)), frameFor(1, sensorBlock.data()));
}

} // namespace
