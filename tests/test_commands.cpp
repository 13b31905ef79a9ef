// The control callbacks: the help on a right click, the events each acts on, and the
// branding header.
#include "fixture.h"
#include <QTimer>
#include "logo.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QWindow>
#include <array>
#include <algorithm>
#include <map>
#include <set>

namespace {

using namespace Varnov30;

struct Help {
    int control;
    const char* text;
};

// Every control with a callback and the help it gives (decorations on parameter page 1).
const Help helpTable[] = {
    {PANEL_COMPORT, InfoEditConnect},
    {PANEL_BUTTON_SEND, InfoButtonSend},
    {PANEL_BUTTON_GET, InfoButtonGet},
    {PANEL_BUTTON_GO, InfoButtonGo},
    {PANEL_BUTTON_STOP, InfoButtonStop},
    {PANEL_BUTTON_GETBUFF, InfoButtonGetBuff},
    {PANEL_SELECT_RAM, InfoSelectMEM},
    {PANEL_SELECT_EEPROM, InfoSelectMEM},
    {PANEL_SELECT_FILE, InfoSelectMEM},
    {PANEL_PARA_VISIBLE, InfoSwitchPara},
    {PANEL_SOURCE, InfoSelectSource},
    {PANEL_THRESHOLD, InfoEditThreshold},
    {PANEL_TRSHMOD, InfoEditThrsMod},
    {PANEL_DELTATRSH, InfoEditDeltaTrsh},
    {PANEL_HYSTERESIS, InfoEditHysteresis},
    {PANEL_TRIGGER, InfoEditTrigger},
    {PANEL_PMOD, InfoEditPmod},
    {PANEL_POWER, InfoEditPower},
    {PANEL_HOLD, InfoEditHold},
    {PANEL_BACKLIM, InfoEditBacklim},
    {PANEL_REGCNT, InfoEditRegcnt},
    {PANEL_AVERAGE, InfoEditAverage},
    {PANEL_OUTMODE, InfoEditOutmode},
    {PANEL_DEADTIMEMODE, InfoEditDeadTimeMode},
    {PANEL_DEADTIME, InfoEditDeadTime},
    {PANEL_DECO1, InfoEditThreshold},
    {PANEL_DECO2, InfoEditHysteresis},
    {PANEL_DECO3, InfoEditTrigger},
    {PANEL_DECO4, InfoEditHold},
    {PANEL_DECO5, InfoEditPmod},
    {PANEL_DECO6, InfoEditPower},
    {PANEL_DAT0, InfoDispDat0},
    {PANEL_DAT1, InfoDispDat1},
    {PANEL_NORM, InfoDispNORM},
    {PANEL_TRSH, InfoDispTrsh},
    {PANEL_EDGE, InfoDispEDGE},
    {PANEL_WIN, InfoDispWIN},
    {PANEL_STATUS, InfoStatus},
    {PANEL_GRAPH_RAW, InfoGraph},
    {PANEL_GRAPH_JMPBUF, InfoGraphData1},
    {PANEL_GRAPH_ADJ, InfoGraphData2},
    {PANEL_RECORD, InfoButtonRecord},
    {PANEL_RECORD_ROWS, InfoDispRecord},
    {PANEL_BUTTON_EXPORT, InfoButtonExport},
};

const int plainControls[] = {PANEL_THRESHOLD, PANEL_HYSTERESIS, PANEL_DELTATRSH, PANEL_POWER,
                             PANEL_HOLD,      PANEL_BACKLIM,    PANEL_REGCNT,    PANEL_AVERAGE,
                             PANEL_OUTMODE,   PANEL_DEADTIME};

class CommandTest : public PanelTest {
protected:
    std::shared_ptr<ScriptedPeer> peer;

    // A panel on which any action would show: every rule out of force, the page switch
    // disagreeing with the page shown, the source disagreeing with the displays, all
    // three target toggles off, and a peer on the open port answering every request.
    void arrange() {
        peer = bindPeer(1);
        peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
            switch (f[1]) {
            case 3: case 4: return {{0.01, Bytes(15, 9)}};
            case 5: return {{0.01, Bytes(10, 9)}};
            case 6: return {{0.01, Bytes(16, 9)}};
            case 7: return {{0.01, lineOk}};
            default: return {};
            }
        };
        com232::com = 1;
        com232::sync = 0x55;
        com232::target = com232::RAM;
        ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
        gui::para = 1;
        gui::ParaVis();
        rt::SetCtrlVal(panel, PANEL_PARA_VISIBLE, 0);
        rt::SetCtrlVal(panel, PANEL_SOURCE, 2);
        rt::SetCtrlVal(panel, PANEL_TRSHMOD, 1);
        rt::SetCtrlVal(panel, PANEL_PMOD, 1);
        rt::SetCtrlVal(panel, PANEL_DEADTIMEMODE, 1);
        rt::SetCtrlVal(panel, PANEL_TRIGGER, 2);
        rt::SetCtrlVal(panel, PANEL_COMPORT, 3);
        for (int id : {PANEL_SELECT_RAM, PANEL_SELECT_EEPROM, PANEL_SELECT_FILE})
            rt::SetCtrlVal(panel, id, 0);
        rt::SetCtrlVal(panel, PANEL_STATUS, "arranged");
        for (int i = 0; i < 15; ++i) com232::pp[i] = static_cast<unsigned char>(i + 1);
        com232::threshold = 201;
        com232::frei15 = 202;
    }

    struct Snapshot {
        std::vector<int> pp;
        std::vector<int> vars;
        int target, poll, para, source, com;
        std::string status;
        std::vector<std::string> controls; // value, visibility, dimming, label of each
        std::string written;
        std::size_t frames;
        double clock;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() {
        Snapshot s;
        s.pp.assign(com232::pp, com232::pp + 15);
        for (unsigned char* v : {&com232::threshold, &com232::hysteresis, &com232::power,
                                 &com232::pmod, &com232::hold, &com232::trigger,
                                 &com232::backlim, &com232::regcnt, &com232::average,
                                 &com232::deadtimemode, &com232::deadtime, &com232::outmode,
                                 &com232::trshmod, &com232::deltatrsh, &com232::frei15})
            s.vars.push_back(*v);
        s.target = com232::target;
        s.poll = com232::poll;
        s.para = gui::para;
        s.source = gui::source;
        s.com = com232::com;
        s.status = status();
        for (int id : th::ControlIds(panel)) {
            const auto info = th::GetControlInfo(panel, id);
            std::string v = std::to_string(id) + ":" + info.label + ":" +
                            (info.visible ? "v" : "h") + (info.dimmed ? "d" : "e");
            if (info.dataType == "uchar") v += ":" + std::to_string(ucharVal(id));
            else if (info.dataType == "int") v += ":" + std::to_string(intVal(id));
            if (auto* box = qobject_cast<QComboBox*>(th::ControlWidget(panel, id)))
                for (int i = 0; i < box->count(); ++i) v += "," + box->itemText(i).toStdString();
            s.controls.push_back(v);
        }
        s.written = th::WrittenBytes(1);
        s.frames = peer ? peer->frames.size() : 0;
        s.clock = rt::Timer();
        return s;
    }
    static std::string diff(const Snapshot& a, const Snapshot& b) {
        std::string d;
        if (a.pp != b.pp) d += " pp";
        if (a.vars != b.vars) d += " variables";
        if (a.target != b.target) d += " target";
        if (a.poll != b.poll) d += " poll";
        if (a.para != b.para) d += " para";
        if (a.source != b.source) d += " source";
        if (a.com != b.com) d += " com";
        if (a.status != b.status) d += " status";
        for (std::size_t i = 0; i < a.controls.size() && i < b.controls.size(); ++i)
            if (a.controls[i] != b.controls[i]) d += " [" + a.controls[i] + " -> " + b.controls[i] + "]";
        if (a.written != b.written) d += " written";
        if (a.frames != b.frames) d += " frames";
        if (a.clock != b.clock) d += " clock";
        return d;
    }
};

TEST_F(CommandTest, EveryCallbackGivesItsHelpOnRightClickAndDoesNothingElse) {
    arrange();
    ASSERT_EQ(std::size(helpTable), 44u); // 41 of the system, 3 of recording and export
    for (const auto& h : helpTable) {
        popups.clear();
        const Snapshot before = snapshot();
        th::FireEvent(panel, h.control, rt::EVENT_RIGHT_CLICK);
        ASSERT_EQ(popups.size(), 1u) << "control " << h.control;
        EXPECT_EQ(popups[0].kind, th::Popup::Message);
        EXPECT_EQ(popups[0].title, "Info") << "control " << h.control;
        EXPECT_EQ(popups[0].text, h.text) << "control " << h.control;
        const Snapshot after = snapshot();
        EXPECT_TRUE(after == before) << "control " << h.control << ":" << diff(before, after);
    }
}

TEST_F(CommandTest, TheTableCoversEveryCallbackOfThePanel) {
    std::set<int> withCallback;
    for (int id : th::ControlIds(panel))
        if (!th::GetControlInfo(panel, id).callback.empty()) withCallback.insert(id);
    std::set<int> inTable;
    for (const auto& h : helpTable) inTable.insert(h.control);
    EXPECT_EQ(inTable, withCallback);
}

TEST_F(CommandTest, DecorationsAnswerForThePageOnShow) {
    const std::array<const char*, 6> page1 = {InfoEditThreshold, InfoEditHysteresis,
                                              InfoEditTrigger,   InfoEditHold,
                                              InfoEditPmod,      InfoEditPower};
    const std::array<const char*, 6> page2 = {InfoEditBacklim, InfoEditRegcnt,
                                              InfoEditAverage, InfoEditOutmode,
                                              InfoEditDeadTimeMode, InfoEditDeadTime};
    for (int para : {1, 0, 2, 255}) {
        gui::para = static_cast<unsigned char>(para);
        for (int i = 0; i < 6; ++i) {
            popups.clear();
            th::FireEvent(panel, PANEL_DECO1 + i, rt::EVENT_RIGHT_CLICK);
            ASSERT_EQ(popups.size(), 1u);
            EXPECT_EQ(popups[0].title, "Info");
            EXPECT_EQ(popups[0].text, para == 1 ? page1[i] : page2[i])
                << "decoration " << i + 1 << " with para " << para;
        }
    }
}

TEST_F(CommandTest, OtherEventsAreIgnoredByEveryCallback) {
    arrange();
    for (const auto& h : helpTable) {
        const bool toggle = h.control == PANEL_SELECT_RAM || h.control == PANEL_SELECT_EEPROM ||
                            h.control == PANEL_SELECT_FILE;
        std::vector<int> events = {3, 4, rt::EVENT_CLOSE, 0, 99};
        events.push_back(toggle ? rt::EVENT_COMMIT : rt::EVENT_VAL_CHANGED);
        for (int ev : events) {
            const Snapshot before = snapshot();
            th::FireEvent(panel, h.control, ev);
            const Snapshot after = snapshot();
            EXPECT_TRUE(after == before)
                << "control " << h.control << " event " << ev << ":" << diff(before, after);
        }
    }
    EXPECT_TRUE(popups.empty());
}

TEST_F(CommandTest, CommitOnAPlainParameterControlHasNoEffect) {
    arrange();
    for (int id : plainControls) {
        const Snapshot before = snapshot();
        th::FireEvent(panel, id, rt::EVENT_COMMIT);
        const Snapshot after = snapshot();
        EXPECT_TRUE(after == before) << "control " << id << ":" << diff(before, after);
    }
    EXPECT_TRUE(popups.empty());
}

TEST_F(CommandTest, StopWithoutAnAcquisitionOnlyClearsPoll) {
    arrange();
    com232::poll = 1;
    Snapshot expect = snapshot();
    expect.poll = 0;
    th::FireEvent(panel, PANEL_BUTTON_STOP, rt::EVENT_COMMIT);
    const Snapshot after = snapshot();
    EXPECT_TRUE(after == expect) << diff(expect, after);
    EXPECT_TRUE(popups.empty());
}

TEST_F(CommandTest, TheHelpPopupKeepsEveryLineOfTheTextWhole) {
    // The real dialog, not the tests' recorder: the texts are laid out line by line, and a
    // dialog that wraps or trims them would scramble that layout.
    th::ClearPopupHandler();
    for (const char* text : {InfoGraphData2, InfoEditTrigger, com232::InfoTimeout}) {
        QString shown;
        bool wrapped = true;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) return;
            if (auto* label = box->findChild<QLabel*>()) {
                shown = label->text();
                wrapped = label->wordWrap();
            }
            box->close();
        });
        rt::MessagePopup("Info", text);
        EXPECT_EQ(shown.toStdString(), text);
        EXPECT_FALSE(wrapped);
    }
}

// A point of the window where `control` (or one of its children) is the widget hit.
QPoint hitPoint(QWidget* top, QWidget* control) {
    const QRect r(control->mapTo(top, QPoint(0, 0)), control->size());
    for (int y = r.top() + 2; y < r.bottom(); y += 3)
        for (int x = r.left() + 2; x < r.right(); x += 3) {
            QWidget* w = top->childAt(x, y);
            if (w && (w == control || control->isAncestorOf(w))) return {x, y};
        }
    return {-1, -1};
}

TEST_F(CommandTest, ARealRightClickOpensTheHelp) {
    gui::para = 1;
    gui::ParaVis();
    rt::DisplayPanel(panel);
    QWidget* top = th::PanelWidget(panel);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(top));
    QWindow* win = top->windowHandle();
    ASSERT_NE(win, nullptr);
    const std::pair<int, const char*> targets[] = {{PANEL_DECO1, InfoEditThreshold},
                                                   {PANEL_HOLD, InfoEditHold},
                                                   {PANEL_DECO6, InfoEditPower}};
    for (auto [id, text] : targets) {
        popups.clear();
        const QPoint p = hitPoint(top, th::ControlWidget(panel, id));
        ASSERT_GE(p.x(), 0) << "control " << id << " cannot be hit";
        QTest::mouseClick(win, Qt::RightButton, Qt::NoModifier, p);
        QCoreApplication::processEvents();
        ASSERT_EQ(popups.size(), 1u) << "control " << id;
        EXPECT_EQ(popups[0].title, "Info");
        EXPECT_EQ(popups[0].text, text);
    }
    // A left click is no request for help.
    popups.clear();
    QTest::mouseClick(win, Qt::LeftButton, Qt::NoModifier,
                      hitPoint(top, th::ControlWidget(panel, PANEL_DECO2)));
    EXPECT_TRUE(popups.empty());
}

// ---- the branding header ------------------------------------------------------------

class LogoTest : public PanelTest {
protected:
    int attr(int id, int a) {
        int v = -12345;
        EXPECT_EQ(rt::GetCtrlAttribute(panel, id, a, &v), 0) << id << "/" << a;
        return v;
    }
    std::string text(int id) {
        char buf[128] = {};
        EXPECT_EQ(rt::GetCtrlVal(panel, id, buf, sizeof buf), 0);
        return buf;
    }
    std::vector<int> newIds(const std::vector<int>& before) {
        std::vector<int> after = th::ControlIds(panel), added;
        for (int id : after)
            if (std::find(before.begin(), before.end(), id) == before.end()) added.push_back(id);
        return added;
    }
    QPixmap picture() {
        return qobject_cast<QLabel*>(th::ControlWidget(panel, PANEL_LOGO))->pixmap();
    }
    void scramble() {
        rt::SetCtrlAttribute(panel, PANEL_LOGO_FRAME, rt::ATTR_FRAME_COLOR, 0x123456);
        rt::SetCtrlAttribute(panel, PANEL_LOGO, rt::ATTR_TOP, 1);
        rt::SetCtrlAttribute(panel, PANEL_LOGO, rt::ATTR_LEFT, 2);
    }
    void expectVariant5Labels(const std::vector<int>& before) {
        const std::vector<int> added = newIds(before);
        ASSERT_EQ(added.size(), 4u);
        const int maxBefore = *std::max_element(before.begin(), before.end());
        const int size[4] = {18, 12, 12, 12};
        const QPoint at[4] = {{218, 30}, {15, 5}, {15, 20}, {15, 35}};
        for (int i = 0; i < 4; ++i) {
            const int id = added[i];
            EXPECT_GT(id, maxBefore);
            EXPECT_EQ(th::GetControlInfo(panel, id).kind, "textmsg");
            EXPECT_EQ(attr(id, rt::ATTR_TEXT_BGCOLOR), 0x0080FF) << i;
            EXPECT_EQ(attr(id, rt::ATTR_TEXT_COLOR), 0xFFFFFF) << i;
            EXPECT_EQ(attr(id, rt::ATTR_TEXT_POINT_SIZE), size[i]) << i;
            EXPECT_EQ(attr(id, rt::ATTR_LEFT), at[i].x()) << i;
            EXPECT_EQ(attr(id, rt::ATTR_TOP), at[i].y()) << i;
            EXPECT_EQ(th::ControlWidget(panel, id)->font().family(),
                      QApplication::font().family());
            EXPECT_FALSE(text(id).empty()) << i;
        }
        EXPECT_EQ(text(added[0]), "VARNO-Redev V3.0");
        EXPECT_EQ(attr(PANEL_LOGO_FRAME, rt::ATTR_FRAME_COLOR), 0x0080FF);
    }
};

TEST_F(LogoTest, Variant5DrawsTheColouredHeader) {
    scramble();
    const std::vector<int> before = th::ControlIds(panel);
    logo::ShowLogo(5);
    expectVariant5Labels(before);
    EXPECT_EQ(attr(PANEL_LOGO, rt::ATTR_TOP), 6);
    EXPECT_EQ(attr(PANEL_LOGO, rt::ATTR_LEFT), 168);
    const QPixmap shown = picture();
    const QPixmap file(QDir(QCoreApplication::applicationDirPath()).filePath("Ko.bmp"));
    ASSERT_FALSE(file.isNull());
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.size(), file.size());
    EXPECT_EQ(shown.toImage().convertToFormat(QImage::Format_RGB32),
              file.toImage().convertToFormat(QImage::Format_RGB32));
}

TEST_F(LogoTest, NumbersOutsideTheVariantsChangeNothing) {
    scramble();
    const std::vector<int> before = th::ControlIds(panel);
    for (int v : {-1, 12, 100}) logo::ShowLogo(v);
    EXPECT_EQ(th::ControlIds(panel), before);
    EXPECT_EQ(attr(PANEL_LOGO_FRAME, rt::ATTR_FRAME_COLOR), 0x123456);
    EXPECT_EQ(attr(PANEL_LOGO, rt::ATTR_TOP), 1);
    EXPECT_EQ(attr(PANEL_LOGO, rt::ATTR_LEFT), 2);
    EXPECT_TRUE(picture().isNull());
}

TEST_F(LogoTest, Variant0IsAPlainTitleWithoutBitmap) {
    scramble();
    const std::vector<int> before = th::ControlIds(panel);
    logo::ShowLogo(0);
    const std::vector<int> added = newIds(before);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(text(added[0]), "VARNO-Redev V3.0");
    EXPECT_EQ(attr(added[0], rt::ATTR_TEXT_BGCOLOR), 0xFFFFFF);
    EXPECT_EQ(attr(added[0], rt::ATTR_TEXT_COLOR), 0x000000);
    EXPECT_EQ(attr(added[0], rt::ATTR_TEXT_POINT_SIZE), 22);
    EXPECT_EQ(attr(added[0], rt::ATTR_LEFT), 220);
    EXPECT_EQ(attr(added[0], rt::ATTR_TOP), 20);
    EXPECT_EQ(attr(PANEL_LOGO, rt::ATTR_LEFT), 640);
    EXPECT_EQ(attr(PANEL_LOGO, rt::ATTR_TOP), 5);
    EXPECT_TRUE(picture().isNull());
    EXPECT_EQ(attr(PANEL_LOGO_FRAME, rt::ATTR_FRAME_COLOR), 0xFFFFFF);
}

TEST_F(LogoTest, Variant5WithoutItsBitmapStillDrawsTheLabels) {
    const QString bmp = QDir(QCoreApplication::applicationDirPath()).filePath("Ko.bmp");
    const QString hidden = bmp + ".hidden";
    QFile::remove(hidden);
    ASSERT_TRUE(QFile::rename(bmp, hidden));
    struct Restore {
        QString from, to;
        ~Restore() { QFile::rename(from, to); }
    } restore{hidden, bmp};
    scramble();
    const std::vector<int> before = th::ControlIds(panel);
    logo::ShowLogo(5);
    expectVariant5Labels(before);
    EXPECT_TRUE(picture().isNull());
}

} // namespace
