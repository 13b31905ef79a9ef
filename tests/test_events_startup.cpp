// The event rules on real widgets, the data model, start-up state and shutdown.
#include "fixture.h"

#include "analysis.h"
#include "startup.h"
#include "child.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <QFile>

namespace {

struct Event {
    std::string cb;
    int control;
    int event;
};
std::vector<Event> seen;

#define RECORDER(name)                                                                     \
    int name##_rec(int, int control, int event, void*, int, int) {                        \
        seen.push_back({#name, control, event});                                           \
        return 0;                                                                          \
    }
RECORDER(CBF_EditThreshold)
RECORDER(CBF_EditTrigger)
RECORDER(CBF_SelectEEPROM)
RECORDER(CBF_DECO1)
RECORDER(CBF_ButtonGo)
RECORDER(CBF_EditDeltaTrsh)
RECORDER(CBF_DispStatus)
int panelEvents = 0;
int CBF_P_rec(int, int event, void*, int, int) {
    if (event == rt::EVENT_CLOSE) ++panelEvents;
    return 0;
}

// Loads the panel with recording callbacks for a few controls, the rest as usual.
class EventRules : public ::testing::Test {
protected:
    void SetUp() override {
        th::UseVirtualClock(false);
        th::ClearPopupHandler();
        seen.clear();
        panelEvents = 0;
        Varnov30::RegisterCallbackTable();
        static const rt::CallbackEntry recorders[] = {
            {"CBF_EditThreshold", CBF_EditThreshold_rec, nullptr},
            {"CBF_EditTrigger", CBF_EditTrigger_rec, nullptr},
            {"CBF_SelectEEPROM", CBF_SelectEEPROM_rec, nullptr},
            {"CBF_DECO1", CBF_DECO1_rec, nullptr},
            {"CBF_ButtonGo", CBF_ButtonGo_rec, nullptr},
            {"CBF_EditDeltaTrsh", CBF_EditDeltaTrsh_rec, nullptr},
            {"CBF_DispStatus", CBF_DispStatus_rec, nullptr},
            {"CBF_P", nullptr, CBF_P_rec},
        };
        rt::RegisterCallbacks(recorders, std::size(recorders));
        panel = rt::LoadPanel(0, "Varnov30.uir", 1);
        ASSERT_GT(panel, 0);
        Varnov30::panel = panel;
        rt::DisplayPanel(panel);
        window = th::PanelWidget(panel)->windowHandle();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    void TearDown() override {
        rt::DiscardPanel(panel);
        Varnov30::RegisterCallbackTable();
    }
    QWidget* w(int id) { return th::ControlWidget(panel, id); }
    QPoint centreOf(QWidget* widget) {
        return widget->mapTo(th::PanelWidget(panel), widget->rect().center());
    }
    void rightClick(QWidget* widget, QPoint at = {}) {
        const QPoint p = at.isNull() ? centreOf(widget) : at;
        QTest::mouseClick(window, Qt::RightButton, Qt::NoModifier, p);
        QApplication::processEvents();
    }
    std::vector<int> eventsOf(const std::string& cb) {
        std::vector<int> v;
        for (auto& e : seen)
            if (e.cb == cb) v.push_back(e.event);
        return v;
    }
    int panel = -1;
    QWindow* window = nullptr;
};

} // namespace

TEST_F(EventRules, NumericCommitsOnEnterAndOnEveryArrowStepButNotWhenSetByTheProgram) {
    auto* spin = qobject_cast<QSpinBox*>(w(PANEL_THRESHOLD));
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, 10);
    EXPECT_TRUE(eventsOf("CBF_EditThreshold").empty());
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "42");
    EXPECT_TRUE(eventsOf("CBF_EditThreshold").empty()); // typing alone commits nothing
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(eventsOf("CBF_EditThreshold"), (std::vector<int>{rt::EVENT_COMMIT}));
    unsigned char v = 0;
    rt::GetCtrlVal(panel, PANEL_THRESHOLD, &v);
    EXPECT_EQ(v, 42);
    QTest::keyClick(spin, Qt::Key_Up);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(eventsOf("CBF_EditThreshold").size(), 3u);
    rt::GetCtrlVal(panel, PANEL_THRESHOLD, &v);
    EXPECT_EQ(v, 44);
}

TEST_F(EventRules, RingCommitsOnSelectionToggleSendsValueChangedThenCommit) {
    auto* box = qobject_cast<QComboBox*>(w(PANEL_TRIGGER));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(eventsOf("CBF_EditTrigger"), (std::vector<int>{rt::EVENT_COMMIT}));
    rt::SetCtrlVal(panel, PANEL_TRIGGER, 0);
    EXPECT_EQ(eventsOf("CBF_EditTrigger").size(), 1u);

    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centreOf(w(PANEL_SELECT_EEPROM)));
    EXPECT_EQ(eventsOf("CBF_SelectEEPROM"),
              (std::vector<int>{rt::EVENT_VAL_CHANGED, rt::EVENT_COMMIT}));
    int on = 0;
    rt::GetCtrlVal(panel, PANEL_SELECT_EEPROM, &on);
    EXPECT_EQ(on, 1);
}

TEST_F(EventRules, RightClickReachesControlsDecorationsAndDimmedControls) {
    rightClick(w(PANEL_THRESHOLD));
    EXPECT_EQ(eventsOf("CBF_EditThreshold"), (std::vector<int>{rt::EVENT_RIGHT_CLICK}));
    // A point of decoration 1 that no control covers: its left margin.
    QWidget* deco = w(PANEL_DECO1);
    rightClick(deco, deco->mapTo(th::PanelWidget(panel), QPoint(4, deco->height() / 2)));
    EXPECT_EQ(eventsOf("CBF_DECO1"), (std::vector<int>{rt::EVENT_RIGHT_CLICK}));
    rightClick(w(PANEL_STATUS));
    EXPECT_EQ(eventsOf("CBF_DispStatus"), (std::vector<int>{rt::EVENT_RIGHT_CLICK}));
    ASSERT_TRUE(th::GetControlInfo(panel, PANEL_DELTATRSH).dimmed);
    rightClick(w(PANEL_DELTATRSH));
    EXPECT_EQ(eventsOf("CBF_EditDeltaTrsh"), (std::vector<int>{rt::EVENT_RIGHT_CLICK}));
    // A left click on a dimmed control does nothing.
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centreOf(w(PANEL_DELTATRSH)));
    EXPECT_EQ(eventsOf("CBF_EditDeltaTrsh").size(), 1u);
}

TEST_F(EventRules, ShortcutKeyPressesItsButton) {
    w(PANEL_THRESHOLD)->setFocus();
    QTest::keyClick(window, Qt::Key_F11);
    QElapsedTimer t;
    t.start();
    while (eventsOf("CBF_ButtonGo").empty() && t.elapsed() < 2000) QTest::qWait(20);
    EXPECT_EQ(eventsOf("CBF_ButtonGo"), (std::vector<int>{rt::EVENT_COMMIT}));
}

TEST_F(EventRules, ClosingTheWindowAsksThePanelCallbackAndDoesNotCloseIt) {
    th::PanelWidget(panel)->close(); // what a window manager's close button does
    QApplication::processEvents();
    EXPECT_EQ(panelEvents, 1);
    EXPECT_TRUE(th::PanelWidget(panel)->isVisible());
}

// ---- data model -------------------------------------------------------------------------

TEST(DataModel, PackUnpackRoundTripsEveryByteFrei15IncludedAndClipsNothing) {
    resetModuleState();
    for (int i = 0; i < com232::AnzPara; ++i) com232::pp[i] = static_cast<unsigned char>(200 + i);
    com232::pp[14] = 37;
    com232::CopyPPtoVars();
    EXPECT_EQ(com232::threshold, 200);
    EXPECT_EQ(com232::deadtime, 210);
    EXPECT_EQ(com232::deltatrsh, 213);
    EXPECT_EQ(com232::frei15, 37);
    unsigned char before[15];
    std::memcpy(before, com232::pp, 15);
    std::memset(com232::pp, 0, 15);
    com232::CopyVarsToPP();
    EXPECT_EQ(0, std::memcmp(before, com232::pp, 15));

    std::memset(com232::pp, 255, 15);
    com232::CopyPPtoVars();
    for (unsigned char v : {com232::threshold, com232::hysteresis, com232::power, com232::pmod,
                            com232::hold, com232::trigger, com232::backlim, com232::regcnt,
                            com232::average, com232::deadtimemode, com232::deadtime,
                            com232::outmode, com232::trshmod, com232::deltatrsh, com232::frei15})
        EXPECT_EQ(v, 255);
}

TEST(DataModel, LiveRecordUnpacksInItsOrder) {
    resetModuleState();
    const unsigned char rec[10] = {10, 20, 128, 0x34, 0x12, 0x00, 0x02, 0x00, 0x01, 99};
    std::memcpy(com232::databuf, rec, 10);
    com232::CopyDatatoVars();
    EXPECT_EQ(com232::dataDat0, 10);
    EXPECT_EQ(com232::dataDat1, 20);
    EXPECT_EQ(com232::dataNorm, 128);
    EXPECT_EQ(com232::dataAdjedgeL + 256 * com232::dataAdjedgeH, 4660);
    EXPECT_EQ(com232::dataAdjin0L + 256 * com232::dataAdjin0H, 512);
    EXPECT_EQ(com232::dataAdjin1L + 256 * com232::dataAdjin1H, 256);
    EXPECT_EQ(com232::dataTrshWork, 99);
}

// ---- start-up -----------------------------------------------------------------------------

TEST_F(PanelTest, InitVarsSetsTheDefaultsAndReadsThePanel) {
    const int mismatches = th::TypeMismatchCount();
    com232::com = 5;
    com232::poll = 1;
    initVars();
    EXPECT_EQ(com232::com, 1);
    EXPECT_EQ(com232::sync, 0x55);
    EXPECT_EQ(com232::order, 1);
    EXPECT_EQ(com232::target, com232::RAM);
    EXPECT_EQ(com232::poll, 0);
    EXPECT_STREQ(com232::szStatus, "InitVars");
    EXPECT_EQ(status(), "InitVars");
    EXPECT_EQ(gui::para, 1);
    for (int id : {PANEL_THRESHOLD, PANEL_TRSHMOD, PANEL_DELTATRSH, PANEL_HYSTERESIS,
                   PANEL_TRIGGER, PANEL_PMOD, PANEL_POWER, PANEL_HOLD})
        EXPECT_TRUE(visible(id)) << id;
    for (int id : {PANEL_BACKLIM, PANEL_REGCNT, PANEL_AVERAGE, PANEL_OUTMODE, PANEL_DEADTIMEMODE,
                   PANEL_DEADTIME})
        EXPECT_FALSE(visible(id)) << id;
    // The panel's stored values are in the variables, the power as the sensor's code.
    EXPECT_EQ(com232::threshold, ucharVal(PANEL_THRESHOLD));
    EXPECT_EQ(com232::hysteresis, ucharVal(PANEL_HYSTERESIS));
    EXPECT_EQ(com232::power, gui::PowerPercentToCode(ucharVal(PANEL_POWER)));
    EXPECT_EQ(com232::deadtime, ucharVal(PANEL_DEADTIME));
    // Nothing has been packed yet.
    for (unsigned char b : com232::pp) EXPECT_EQ(b, 0);
    EXPECT_EQ(th::TypeMismatchCount(), mismatches);
}

TEST_F(PanelTest, ClosingThePanelClearsPollAndEndsTheLoop) {
    com232::poll = 1;
    th::FirePanelEvent(panel, rt::EVENT_CLOSE);
    EXPECT_EQ(com232::poll, 0);
    EXPECT_TRUE(th::QuitRequested());
    th::ResetQuit();
    th::FirePanelEvent(panel, rt::EVENT_COMMIT); // other panel events do nothing
    EXPECT_FALSE(th::QuitRequested());
}

// WinMain on the real event loop: start-up with a sensor, then the window is closed.
TEST(WinMain, RunsUntilTheWindowIsClosedThenClosesThePortAndReturnsZero) {
    th::UseVirtualClock(false);
    th::SetPopupHandler([](const th::Popup&) { return th::PopupAnswer{}; });
    rt::ResetSerialBindings();
    resetModuleState();
    auto peer = std::make_shared<ScriptedPeer>();
    peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.01, lineOk}};
        if (f[1] == 3) return {{0.01, block15}};
        return {};
    };
    rt::BindSerialEndpoint(1, peer);
    bool closed = false;
    bool openWhileRunning = false;
    QElapsedTimer started;
    started.start();
    // Closes the window once it is on screen (start-up may take a while on a slow build);
    // a start-up that never shows it ends the loop after 20 s and fails below.
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (!closed && top->isVisible() && top->property("resourceId").isValid()) {
                openWhileRunning = th::PortOpen(1);
                top->close();
                closed = true;
            }
        if (!closed && started.elapsed() > 20000) rt::QuitUserInterface(0);
    });
    watch.start();
    const int rc = Varnov30::WinMain(nullptr, nullptr, nullptr, 1);
    watch.stop();
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(openWhileRunning);
    EXPECT_FALSE(th::PortOpen(1));
    ASSERT_GE(peer->frames.size(), 2u);
    EXPECT_EQ(peer->frames[0], frameFor(7, nullptr));
    EXPECT_EQ(peer->frames[1], frameFor(3, nullptr));
    EXPECT_EQ(com232::threshold, 100);
    EXPECT_EQ(com232::frei15, 37);
    th::ClearPopupHandler();
    rt::ResetSerialBindings();
}

// ---- the program binary ---------------------------------------------------------------------

namespace {
} // namespace

TEST(Program, EndsAtOnceWith255WhenThePanelFileIsMissing) {
    QTemporaryDir dir;
    const QString copy = dir.filePath("varno");
    ASSERT_TRUE(QFile::copy(VARNO_PATH, copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(runProgram(copy, {"--simulate"}), 255);
    EXPECT_LT(t.elapsed(), 5000);
}

TEST(Program, HelpVersionAndBadOptions) {
    QByteArray out;
    EXPECT_EQ(runProgram(VARNO_PATH, {"--help"}, &out), 0);
    EXPECT_TRUE(out.contains("--port N=PATH"));
    EXPECT_EQ(runProgram(VARNO_PATH, {"--version"}, &out), 0);
    EXPECT_TRUE(out.contains("3.0"));
    EXPECT_EQ(runProgram(VARNO_PATH, {"--bogus"}, &out), 2);
    EXPECT_TRUE(out.contains("unknown option --bogus"));
    EXPECT_EQ(runProgram(VARNO_PATH, {"--port", "0=/dev/null"}, &out), 2);
}

TEST(Program, StartupOptionsAreParsed) {
    const char* argv[] = {"varno", "-platform", "offscreen", "--port", "3=/dev/pts/7",
                          "--port=1=/tmp/x", "--simulate"};
    const auto o = startup::ParseStartupOptions(7, const_cast<char**>(argv));
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_TRUE(o.simulate);
    ASSERT_EQ(o.ports.size(), 2u);
    EXPECT_EQ(o.ports[0], (std::pair<int, std::string>{3, "/dev/pts/7"}));
    EXPECT_EQ(o.ports[1], (std::pair<int, std::string>{1, "/tmp/x"}));
    const char* bad[] = {"varno", "--port", "x=/dev/null"};
    EXPECT_FALSE(startup::ParseStartupOptions(3, const_cast<char**>(bad)).error.empty());
}

TEST(ProjectDir, IsTheProgramsFolderAndNeverTruncated) {
    char dir[260];
    ASSERT_EQ(rt::GetProjectDir(dir), 0);
    EXPECT_EQ(QString::fromLocal8Bit(dir), QCoreApplication::applicationDirPath());
    char tiny[4] = "abc";
    EXPECT_EQ(rt::GetProjectDir(tiny), rt::UIE_BUFFER_TOO_SMALL);
    EXPECT_EQ(tiny[0], '\0'); // empty, not a cut-off folder
}
