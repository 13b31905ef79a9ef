// The panel file against the control map, and how the seam loads it.
#include "fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <set>

namespace {

struct Expected {
    int id;
    const char* kind;
    const char* type;
    const char* callback;
};

const Expected controlMap[] = {
    {PANEL_COMPORT, "ring", "int", "CBF_EditConnect"},
    {PANEL_SELECT_FILE, "toggle", "int", "CBF_SelectFILE"},
    {PANEL_SELECT_EEPROM, "toggle", "int", "CBF_SelectEEPROM"},
    {PANEL_SELECT_RAM, "toggle", "int", "CBF_SelectRAM"},
    {PANEL_LOGO, "picture", "", ""},
    {PANEL_STATUS, "string", "string", "CBF_DispStatus"},
    {PANEL_OUTMODE, "ring", "uchar", "CBF_EditOutmode"},
    {PANEL_AVERAGE, "numeric", "uchar", "CBF_EditAverage"},
    {PANEL_HOLD, "numeric", "uchar", "CBF_EditHold"},
    {PANEL_TRIGGER, "ring", "uchar", "CBF_EditTrigger"},
    {PANEL_DEADTIME, "ring", "uchar", "CBF_EditDeadTime"},
    {PANEL_DEADTIMEMODE, "ring", "uchar", "CBF_EditDeadTimeMode"},
    {PANEL_GRAPH_ADJ, "graph", "", "CBF_GraphData2"},
    {PANEL_GRAPH_JMPBUF, "graph", "", "CBF_GraphData1"},
    {PANEL_SOURCE, "ring", "int", "CBF_SelectSource"},
    {PANEL_REGCNT, "numeric", "uchar", "CBF_EditRegcnt"},
    {PANEL_TRSHMOD, "ring", "uchar", "CBF_EditTrshMod"},
    {PANEL_PMOD, "ring", "uchar", "CBF_EditPmod"},
    {PANEL_BACKLIM, "numeric", "uchar", "CBF_EditBacklim"},
    {PANEL_DAT0, "numeric", "int", "CBF_DispDat0"},
    {PANEL_DAT1, "numeric", "int", "CBF_DispDat1"},
    {PANEL_TRSH, "numeric", "int", "CBF_DispTRSH"},
    {PANEL_NORM, "numeric", "int", "CBF_DispNORM"},
    {PANEL_EDGE, "numeric", "int", "CBF_DispEdge"},
    {PANEL_WIN, "numeric", "int", "CBF_DispWin"},
    {PANEL_PARA_VISIBLE, "toggle", "uchar", "CBF_ParaVisible"},
    {PANEL_POWER, "numeric", "uchar", "CBF_EditPower"},
    {PANEL_DELTATRSH, "numeric", "uchar", "CBF_EditDeltaTrsh"},
    {PANEL_HYSTERESIS, "numeric", "uchar", "CBF_EditHysteresis"},
    {PANEL_THRESHOLD, "numeric", "uchar", "CBF_EditThreshold"},
    {PANEL_LOGO_FRAME, "decoration", "", ""},
    {PANEL_GRAPH_RAW, "strip", "", "CBF_GraphRaw1"},
    {PANEL_BUTTON_SEND, "command", "", "CBF_ButtonSend"},
    {PANEL_BUTTON_GET, "command", "", "CBF_ButtonGet"},
    {PANEL_BUTTON_GO, "command", "", "CBF_ButtonGo"},
    {PANEL_BUTTON_STOP, "command", "", "CBF_ButtonStop"},
    {PANEL_BUTTON_GETBUFF, "command", "", "CBF_ButtonGetBuff"},
    {PANEL_DECO1, "decoration", "", "CBF_DECO1"},
    {PANEL_DECO2, "decoration", "", "CBF_DECO2"},
    {PANEL_DECO3, "decoration", "", "CBF_DECO3"},
    {PANEL_DECO4, "decoration", "", "CBF_DECO4"},
    {PANEL_DECO5, "decoration", "", "CBF_DECO5"},
    {PANEL_DECO6, "decoration", "", "CBF_DECO6"},
};

} // namespace

TEST_F(PanelTest, EveryControlOfTheMapHasItsIdKindTypeAndCallback) {
    for (const auto& e : controlMap) {
        const th::ControlInfo info = th::GetControlInfo(panel, e.id);
        ASSERT_TRUE(info.exists) << "control " << e.id;
        EXPECT_EQ(info.kind, e.kind) << "control " << e.id;
        EXPECT_EQ(info.dataType, e.type) << "control " << e.id;
        EXPECT_EQ(info.callback, e.callback) << "control " << e.id;
    }
    // 41 control callbacks of the system and 3 of recording and export, each bound once.
    std::set<std::string> callbacks;
    for (int id : th::ControlIds(panel)) {
        const auto info = th::GetControlInfo(panel, id);
        if (!info.callback.empty()) {
            EXPECT_TRUE(callbacks.insert(info.callback).second) << info.callback;
        }
    }
    EXPECT_EQ(callbacks.size(), 44u);
    EXPECT_EQ(th::PanelWidget(panel)->windowTitle().toStdString(), "VARNO-Redev V3.0");
}

TEST_F(PanelTest, RingsHoldTheAgreedItemValues) {
    auto values = [&](int id) {
        auto* box = qobject_cast<QComboBox*>(th::ControlWidget(panel, id));
        std::vector<std::pair<std::string, int>> v;
        for (int i = 0; i < box->count(); ++i)
            v.emplace_back(box->itemText(i).toStdString(), box->itemData(i).toInt());
        return v;
    };
    using V = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(values(PANEL_TRIGGER), (V{{"CONT", 0}, {"EXT", 1}, {"EXTSTAT", 2}, {"ADJ EXT", 3}}));
    EXPECT_EQ(values(PANEL_PMOD), (V{{"STAT", 0}, {"DYN", 1}}));
    EXPECT_EQ(values(PANEL_TRSHMOD), (V{{"FIX", 0}, {"DYN", 1}}));
    EXPECT_EQ(values(PANEL_OUTMODE), (V{{"DIRECT", 0}, {"INVERSE", 1}}));
    EXPECT_EQ(values(PANEL_DEADTIMEMODE)[0].second, 0);
    EXPECT_EQ(values(PANEL_DEADTIMEMODE)[1].second, 1);
    const auto dt = values(PANEL_DEADTIME);
    ASSERT_EQ(dt.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(dt[i].second, i);
    const auto src = values(PANEL_SOURCE);
    ASSERT_EQ(src.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(src[i].second, i);
}

TEST_F(PanelTest, NumericRangesAndShortcutKeys) {
    for (int id : {PANEL_THRESHOLD, PANEL_HYSTERESIS, PANEL_HOLD, PANEL_DELTATRSH, PANEL_BACKLIM,
                   PANEL_REGCNT, PANEL_AVERAGE}) {
        auto* s = qobject_cast<QSpinBox*>(th::ControlWidget(panel, id));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->minimum(), 0);
        EXPECT_EQ(s->maximum(), 255);
    }
    auto* power = qobject_cast<QSpinBox*>(th::ControlWidget(panel, PANEL_POWER));
    EXPECT_EQ(power->minimum(), 0);
    EXPECT_EQ(power->maximum(), 100);
    const std::pair<int, const char*> keys[] = {{PANEL_BUTTON_SEND, "F9"},
                                                {PANEL_BUTTON_GET, "F10"},
                                                {PANEL_BUTTON_GO, "F11"},
                                                {PANEL_BUTTON_STOP, "F12"},
                                                {PANEL_BUTTON_GETBUFF, "F8"}};
    for (auto [id, key] : keys) {
        auto* b = qobject_cast<QPushButton*>(th::ControlWidget(panel, id));
        EXPECT_EQ(b->shortcut().toString().toStdString(), key);
    }
}

TEST_F(PanelTest, StoredStartValuesAgreeWithTheirLabelsAndDimming) {
    // Start-up applies no rule, so the file itself must be consistent.
    const int trshmod = ucharVal(PANEL_TRSHMOD);
    EXPECT_EQ(dimmed(PANEL_DELTATRSH), trshmod == 0);
    EXPECT_EQ(label(PANEL_THRESHOLD), trshmod == 0 ? "TRESHOLD" : "MAX TRSH");
    const int pmod = ucharVal(PANEL_PMOD);
    EXPECT_EQ(dimmed(PANEL_POWER), pmod != 0);
    EXPECT_EQ(dimmed(PANEL_REGCNT), pmod == 0);
    const int dtm = ucharVal(PANEL_DEADTIMEMODE);
    EXPECT_EQ(label(PANEL_DEADTIME), dtm == 0 ? "DEAD TIME[%]" : "DEAD TIME[ms]");
    auto* dt = qobject_cast<QComboBox*>(th::ControlWidget(panel, PANEL_DEADTIME));
    EXPECT_EQ(dt->itemText(5).toStdString(), dtm == 0 ? "30" : "10");
    const int trig = ucharVal(PANEL_TRIGGER);
    EXPECT_EQ(dimmed(PANEL_DEADTIMEMODE), trig != 0);
    EXPECT_EQ(dimmed(PANEL_DEADTIME), trig != 0);
    EXPECT_EQ(intVal(PANEL_SELECT_RAM), 1);
    EXPECT_EQ(intVal(PANEL_SELECT_EEPROM), 0);
    EXPECT_EQ(intVal(PANEL_SELECT_FILE), 0);
    EXPECT_EQ(ucharVal(PANEL_PARA_VISIBLE), 1);
}

TEST_F(PanelTest, ReadingIntoAVariableOfAnotherTypeIsRefusedNotOverwritten) {
    const int before = th::TypeMismatchCount();
    // A one-byte variable between guards: an int written into it would hit a guard.
    struct {
        unsigned char lo[8];
        unsigned char v;
        unsigned char hi[8];
    } guarded{};
    std::memset(&guarded, 0xA5, sizeof guarded);
    EXPECT_EQ(rt::GetCtrlVal(panel, PANEL_SOURCE, &guarded.v), rt::UIE_TYPE_MISMATCH);
    for (auto b : guarded.hi) EXPECT_EQ(b, 0xA5);
    EXPECT_EQ(guarded.v, 0xA5);
    int wide = 77;
    EXPECT_EQ(rt::GetCtrlVal(panel, PANEL_THRESHOLD, &wide), rt::UIE_TYPE_MISMATCH);
    EXPECT_EQ(wide, 77);
    char text[4] = "abc";
    EXPECT_EQ(rt::GetCtrlVal(panel, PANEL_THRESHOLD, text, sizeof text), rt::UIE_TYPE_MISMATCH);
    EXPECT_EQ(th::TypeMismatchCount(), before + 3);
    // A text longer than the buffer is refused whole.
    rt::SetCtrlVal(panel, PANEL_STATUS, "a status longer than four");
    EXPECT_EQ(rt::GetCtrlVal(panel, PANEL_STATUS, text, sizeof text), rt::UIE_BUFFER_TOO_SMALL);
}

class PanelFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        Varnov30::RegisterCallbackTable();
        ASSERT_TRUE(dir.isValid());
        QFile f(QDir(QCoreApplication::applicationDirPath()).filePath("Varnov30.uir"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        good = f.readAll();
    }
    int loadText(const QByteArray& text) {
        const QString path = dir.filePath("panel.uir");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        const int h = rt::LoadPanel(0, path.toLocal8Bit().constData(), 1);
        if (h > 0) rt::DiscardPanel(h);
        return h;
    }
    QTemporaryDir dir;
    QByteArray good;
};

TEST_F(PanelFileTest, MissingTruncatedOrUnknownCallbackFails) {
    EXPECT_GT(loadText(good), 0);
    EXPECT_LT(rt::LoadPanel(0, dir.filePath("nothere.uir").toLocal8Bit().constData(), 1), 0);
    EXPECT_LT(loadText(good.left(good.size() / 2)), 0);
    EXPECT_LT(loadText(QByteArray()), 0);
    QByteArray renamed = good;
    renamed.replace("CBF_ButtonGo<", "CBF_ButtonGone<");
    ASSERT_NE(renamed, good);
    EXPECT_EQ(loadText(renamed), rt::UIE_UNKNOWN_CALLBACK);
    QByteArray badType = good;
    badType.replace("<string>uchar</string>", "<string>float</string>");
    EXPECT_LT(loadText(badType), 0);
    EXPECT_LT(rt::LoadPanel(0, "Varnov30.uir", 2), 0); // no such panel in the file
}
