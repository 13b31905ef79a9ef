// What a new user meets: help on label texts, a dark desktop, the strip chart's history,
// and starting without a display or with a damaged panel file.
#include "child.h"
#include "fixture.h"
#include "startup.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPalette>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWidget>

TEST_F(PanelTest, RightClickOnALabelTextGivesItsControlsHelp) {
    initVars();
    for (auto [id, text] : {std::pair{PANEL_THRESHOLD, Varnov30::InfoEditThreshold},
                            std::pair{PANEL_COMPORT, Varnov30::InfoEditConnect},
                            std::pair{PANEL_NORM, Varnov30::InfoDispNORM}}) {
        popups.clear();
        QWidget* l = th::LabelWidget(panel, id);
        ASSERT_NE(l, nullptr) << id;
        QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(2, 2), l->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(l, &ev);
        ASSERT_EQ(popups.size(), 1u) << id;
        EXPECT_EQ(popups[0].title, "Info");
        EXPECT_EQ(popups[0].text, text);
    }
}

TEST_F(PanelTest, UnderADarkThemeTheRowLabelsStayDarkOnLight) {
    const QPalette old = QApplication::palette();
    QPalette dark(QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    QApplication::setPalette(dark);
    const int second = rt::LoadPanel(0, "Varnov30.uir", 1);
    ASSERT_GT(second, 0);
    for (int id : {PANEL_THRESHOLD, PANEL_HYSTERESIS, PANEL_POWER, PANEL_HOLD}) {
        auto* l = qobject_cast<QLabel*>(th::LabelWidget(second, id));
        ASSERT_NE(l, nullptr);
        l->ensurePolished();
        EXPECT_LT(l->palette().color(QPalette::WindowText).lightness(), 100) << id;
        EXPECT_GT(th::PanelWidget(second)->palette().color(QPalette::Window).lightness(), 150);
    }
    rt::DiscardPanel(second);
    QApplication::setPalette(old);
}

TEST_F(PanelTest, TheStripChartShowsExactlyTheLastHundredRecords) {
    initVars();
    auto peer = bindPeer(1);
    unsigned char norm = 0;
    peer->onFrame = [&](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] != 5) return {};
        ++norm;
        return {{0.03, Bytes{1, 2, norm, 0, 0, 0, 1, 0, 0, 9}}};
    };
    ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
    com232::com = 1;
    rt::SetCtrlVal(panel, PANEL_SOURCE, 1);
    th::SetPumpHook([&](double) {
        if (th::StripAppendCount(panel, PANEL_GRAPH_RAW) >= 1) com232::poll = 0;
    });
    gui::GetData();
    std::vector<double> trace = th::StripTrace(panel, PANEL_GRAPH_RAW, 3);
    ASSERT_EQ(trace.size(), 100u) << "no point left from an earlier drawing";
    EXPECT_EQ(trace.back(), 1.0);
    for (std::size_t i = 0; i + 1 < trace.size(); ++i)
        ASSERT_EQ(trace[i], 0.0) << i;
    th::SetPumpHook([&](double) {
        if (th::StripAppendCount(panel, PANEL_GRAPH_RAW) >= 130) com232::poll = 0;
    });
    gui::GetData();
    trace = th::StripTrace(panel, PANEL_GRAPH_RAW, 3);
    ASSERT_EQ(trace.size(), 100u);
    for (std::size_t i = 0; i < 100; ++i)
        EXPECT_EQ(trace[i], gui::alldata[5 * i + 2]) << i;
}

// ---- options and start-up ----------------------------------------------------------------

TEST(Options, QtsOwnFormsPassThroughAndStrayArgumentsAreRefused) {
    const char* forms[][3] = {{"varno", "-platform", "offscreen"},
                              {"varno", "--platform", "offscreen"},
                              {"varno", "-style", "Fusion"}};
    for (auto& f : forms)
        EXPECT_TRUE(startup::ParseStartupOptions(3, const_cast<char**>(f)).error.empty()) << f[1];
    const char* stray[] = {"varno", "params.dat"};
    EXPECT_FALSE(startup::ParseStartupOptions(2, const_cast<char**>(stray)).error.empty());
    EXPECT_NE(std::string(startup::UsageText()).find("--simulate"), std::string::npos);
}

TEST(Program, WithoutAReachableDisplayItEndsWith255AndSaysWhy) {
    QByteArray out;
    QTemporaryDir noX;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(runProgram(VARNO_PATH, {"--simulate"}, &out, 10000,
                         {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", ""}}),
              255);
    EXPECT_TRUE(out.contains(":97")) << out.toStdString();
    EXPECT_EQ(runProgram(VARNO_PATH, {"--simulate"}, &out, 10000, {{"QT_QPA_PLATFORM", "nosuch"}}),
              255);
    EXPECT_TRUE(out.contains("nosuch")) << out.toStdString();
    EXPECT_LT(t.elapsed(), 8000);
}

TEST(Program, APanelFileWithoutTheStatusLineEndsWith255AndNamesIt) {
    QTemporaryDir dir;
    const QString copy = dir.filePath("varno");
    ASSERT_TRUE(QFile::copy(VARNO_PATH, copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile in(QFileInfo(VARNO_PATH).dir().filePath("Varnov30.uir"));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QString ui = QString::fromUtf8(in.readAll());
    // Remove the STATUS line (a well-formed file that simply lacks it).
    const QRegularExpression status(R"(<widget class="QLineEdit" name="status">.*?</widget>)",
                                    QRegularExpression::DotMatchesEverythingOption);
    ASSERT_TRUE(ui.contains(status));
    ui.remove(status);
    QFile out(dir.filePath("Varnov30.uir"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(ui.toUtf8());
    out.close();
    QFile::copy(QFileInfo(VARNO_PATH).dir().filePath("Ko.bmp"), dir.filePath("Ko.bmp"));
    QByteArray text;
    EXPECT_EQ(runProgram(copy, {"--simulate"}, &text), 255);
    EXPECT_TRUE(text.contains("STATUS")) << text.toStdString();
}
