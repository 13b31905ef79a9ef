// Recording of the live data and the export of the graphs: the CSV rows against the records
// fed in, appending, strays, write errors, a killed program, the pictures and the controls.
#include "child.h"
#include "recording_fixture.h"

#include "capture.h"
#include "recording/record.h"
#include "startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

TEST_F(Recording, EveryConfirmedRecordIsOneRowWithTheValuesAsReceivedInOrder) {
    rt::SetCtrlVal(panel, PANEL_HYSTERESIS, 171);
    const std::string file = path("run.csv");
    recordInto(file);
    EXPECT_TRUE(record::Active());
    EXPECT_EQ(intVal(PANEL_RECORD), 1);
    acquire(12);
    const auto l = lines(file);
    ASSERT_EQ(l.size(), 13u);
    EXPECT_EQ(l[0], "time,t_s,dat0,dat1,norm,edge,in0,in1,trsh,hysteresis,edge_pct,win_pct");
    expectRows({l.begin() + 1, l.end()}, sentRecords, 171);
    // Time: ISO 8601 UTC with milliseconds; t_s rising from the start, 0.11 s a cycle.
    double last = -1;
    for (std::size_t i = 1; i < l.size(); ++i) {
        const auto f = split(l[i]);
        EXPECT_EQ(f[0].size(), 24u) << f[0];
        EXPECT_EQ(f[0][10], 'T');
        EXPECT_EQ(f[0][19], '.');
        EXPECT_EQ(f[0].back(), 'Z');
        const double t = std::stod(f[1]);
        EXPECT_GT(t, last);
        if (i > 1) {
            EXPECT_NEAR(t - last, 0.11, 0.01);
        }
        last = t;
    }
    EXPECT_EQ(rowsText(), "12 rows in run.csv");
    EXPECT_EQ(messages(), 0);
    recordOff();
    EXPECT_FALSE(record::Active());
    EXPECT_EQ(rowsText(), "Stopped: 12 rows in run.csv");
    acquire(3); // not recording: nothing more
    EXPECT_EQ(lines(file).size(), 13u);
}

TEST_F(Recording, AppendingKeepsTheRowsAndWritesTheHeaderOnce) {
    const std::string file = path("run.csv");
    recordInto(file);
    acquire(4);
    recordOff();
    recordInto(file);
    acquire(5);
    recordOff();
    const auto l = lines(file);
    ASSERT_EQ(l.size(), 10u);
    EXPECT_EQ(l[0], record::Header());
    expectRows({l.begin() + 1, l.end()}, sentRecords, 160);
    EXPECT_EQ(messages(), 0);
}

TEST_F(Recording, ARecordFollowedByStraysIsNotWritten) {
    const std::string file = path("run.csv");
    strayAfter = 3;
    recordInto(file);
    acquire(6); // the strays end the acquisition at the next cycle with a report
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(sent, 3); // the next cycle found the strays before its request
    const auto l = lines(file);
    ASSERT_EQ(l.size(), 3u);
    expectRows({l.begin() + 1, l.end()}, {sentRecords[0], sentRecords[1]}, 160);
    EXPECT_TRUE(record::Active()); // the recording itself goes on
}

TEST_F(Recording, CancelledChooserLeavesRecordOffAndAFileOfAnotherKindIsNotTouched) {
    fileAnswer = {0, ""};
    rt::SetCtrlVal(panel, PANEL_RECORD, 1);
    th::FireEvent(panel, PANEL_RECORD, rt::EVENT_COMMIT);
    EXPECT_EQ(intVal(PANEL_RECORD), 0);
    EXPECT_FALSE(record::Active());
    ASSERT_EQ(countPopups("Record live data"), 1);
    EXPECT_EQ(popups[0].text, "*.csv");
    EXPECT_EQ(popups[0].defaultFile, "recording.csv");
    const std::string other = path("notes.csv");
    std::ofstream(other) << "a,b\n1,2\n";
    recordInto(other);
    EXPECT_EQ(intVal(PANEL_RECORD), 0);
    EXPECT_FALSE(record::Active());
    EXPECT_EQ(rowsText().rfind("Recording not started: Not a recording", 0), 0u) << rowsText();
    EXPECT_EQ(rowsColor(), rt::VAL_RED);
    EXPECT_EQ(lines(other), (std::vector<std::string>{"a,b", "1,2"}));
}

#if defined(__unix__)
TEST_F(Recording, AWriteErrorStopsTheRecordingWithAMessageAndTheAcquisitionGoesOn) {
    const std::string file = path("full.csv");
    recordInto(file);
    ASSERT_TRUE(record::Active());
    // A file size limit makes a write fail part way, as a full disk would.
    const std::size_t limit = std::strlen(record::Header()) + 1 + 3 * 60;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int confirmedBefore = gui::confirmedRecords;
    acquire(10);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(gui::confirmedRecords - confirmedBefore, 10); // the acquisition went on
    EXPECT_FALSE(record::Active());
    EXPECT_EQ(intVal(PANEL_RECORD), 0);
    EXPECT_EQ(rowsText().rfind("Recording stopped: Cannot write to " + file, 0), 0u) << rowsText();
    EXPECT_NE(rowsText().find("large"), std::string::npos) << rowsText(); // EFBIG
    EXPECT_EQ(rowsColor(), rt::VAL_RED);
    EXPECT_EQ(messages(), 0); // no pop-up in the acquisition
    const auto l = lines(file);
    ASSERT_GE(l.size(), 3u);
    EXPECT_LE(QFileInfo(QString::fromStdString(file)).size(), qint64(limit));
    // The row the limit cut short was cut off: the file ends with a whole row, and the
    // whole rows written are the records sent, in order.
    std::string content;
    {
        std::ifstream in(file, std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_FALSE(content.empty());
    EXPECT_EQ(content.back(), '\n');
    const std::size_t whole = l.size() - 1; // all but the header
    EXPECT_GE(whole, 2u);
    // No whole row was cut off with it: one more would not have fitted.
    EXPECT_GT(content.size() + l.back().size() + 3, limit);
    expectRows({l.begin() + 1, l.begin() + 1 + whole},
               {sentRecords.begin(), sentRecords.begin() + whole}, 160);
    // Recording again into the same file: its rows follow the last whole row.
    recordInto(file);
    ASSERT_TRUE(record::Active());
    acquire(2);
    recordOff();
    const auto after = lines(file);
    ASSERT_EQ(after.size(), l.size() + 2);
    expectRows({after.end() - 2, after.end()}, {sentRecords.end() - 2, sentRecords.end()}, 160);
}
#endif

// Helper for the test below, run in a child process: records until killed.
TEST_F(Recording, DISABLED_ChildRecordsUntilKilled) {
    const char* file = std::getenv("VARNO_RECORD_CHILD");
    ASSERT_NE(file, nullptr);
    th::UseVirtualClock(false);
    capture::SetStartupFile(file);
    capture::Init();
    ASSERT_TRUE(record::Active());
    th::SetPumpHook([this](double) {
        if (sent == 21) { // record 21 has arrived: the parent looks, then kills
            std::printf("RECORDS 21\n");
            std::fflush(stdout);
            for (;;)
                pause();
        }
    });
    gui::GetData();
}

#if defined(__unix__)
TEST(RecordingKilled, RowsWrittenBeforeAKillAreOnDisk) {
    QTemporaryDir dir;
    const QString file = dir.filePath("killed.csv");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VARNO_RECORD_CHILD", file);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests",
                 "--gtest_filter=Recording.DISABLED_ChildRecordsUntilKilled"});
    ASSERT_TRUE(child.waitForStarted(5000));
    QElapsedTimer t;
    t.start();
    QByteArray out;
    while (!out.contains("RECORDS 21") && t.elapsed() < 30000 &&
           child.state() == QProcess::Running) {
        child.waitForReadyRead(200);
        out += child.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("RECORDS 21")) << out.toStdString();
    const auto whileRunning = lines(file.toStdString());
    ::kill(pid_t(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    // 21 records arrived, 20 of them confirmed: all 20 rows are there, while it ran and
    // after the kill alike.
    EXPECT_EQ(whileRunning.size(), 21u);
    const auto l = lines(file.toStdString());
    ASSERT_EQ(l.size(), 21u);
    EXPECT_EQ(l[0], record::Header());
    for (int i = 1; i <= 20; ++i) {
        const auto f = split(l[i]);
        ASSERT_EQ(f.size(), 12u);
        EXPECT_EQ(std::vector<std::string>(f.begin() + 2, f.end()),
                  expectedFields(recordNo(i), 160));
    }
}
#endif

TEST_F(Recording, TheRecordFileOfTheCommandLineIsRecordedIntoFromTheStart) {
    const char* argv[] = {"varno", "--record", "/tmp/a.csv"};
    EXPECT_EQ(startup::ParseStartupOptions(3, const_cast<char**>(argv)).record, "/tmp/a.csv");
    const char* argv2[] = {"varno", "--record=/tmp/b.csv"};
    EXPECT_EQ(startup::ParseStartupOptions(2, const_cast<char**>(argv2)).record, "/tmp/b.csv");
    const char* bad[] = {"varno", "--record"};
    EXPECT_FALSE(startup::ParseStartupOptions(2, const_cast<char**>(bad)).error.empty());

    const std::string file = path("start.csv");
    capture::SetStartupFile(file.c_str());
    capture::Init();
    EXPECT_TRUE(record::Active());
    EXPECT_EQ(intVal(PANEL_RECORD), 1);
    acquire(2);
    EXPECT_EQ(lines(file).size(), 3u);
    // A file that cannot be opened: said on the panel, the program goes on.
    record::Stop();
    capture::SetStartupFile(path("no-such-folder/x.csv").c_str());
    capture::Init();
    EXPECT_FALSE(record::Active());
    EXPECT_EQ(intVal(PANEL_RECORD), 0);
    EXPECT_EQ(rowsText().rfind("Recording not started: Cannot open", 0), 0u) << rowsText();
    EXPECT_NE(rowsText().find("No such file or directory"), std::string::npos);
    EXPECT_EQ(rowsColor(), rt::VAL_RED);
    acquire(2);
    EXPECT_EQ(messages(), 0);
}

TEST_F(Recording, ExportSavesTheGraphOnViewAsPngOfItsSize) {
    acquire(3);
    const std::string png = path("graph.png");
    fileAnswer = {2, png};
    th::FireEvent(panel, PANEL_BUTTON_EXPORT, rt::EVENT_COMMIT);
    ASSERT_EQ(countPopups("Export the graph"), 1);
    EXPECT_EQ(popups[0].defaultFile, "graph.png");
    QImage img(QString::fromStdString(png));
    ASSERT_FALSE(img.isNull());
    const QWidget* g = th::ControlWidget(panel, PANEL_GRAPH_RAW);
    EXPECT_EQ(img.size(), g->size() * g->devicePixelRatioF());
    EXPECT_EQ(img.size(), QSize(540, 400));
    // A name without an ending gets .png; another ending is refused with a message.
    fileAnswer = {2, path("plain")};
    th::FireEvent(panel, PANEL_BUTTON_EXPORT, rt::EVENT_COMMIT);
    EXPECT_FALSE(QImage(QString::fromStdString(path("plain.png"))).isNull());
    fileAnswer = {2, path("graph.svg")};
    th::FireEvent(panel, PANEL_BUTTON_EXPORT, rt::EVENT_COMMIT);
    EXPECT_EQ(countPopups("Export"), 1);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("graph.svg"))));
    // CSV only for the jump buffer.
    fileAnswer = {2, path("graph.csv")};
    th::FireEvent(panel, PANEL_BUTTON_EXPORT, rt::EVENT_COMMIT);
    EXPECT_EQ(countPopups("Export"), 2);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("graph.csv"))));
    // Into a folder that does not exist: a message.
    fileAnswer = {2, path("no-such-folder/g.png")};
    th::FireEvent(panel, PANEL_BUTTON_EXPORT, rt::EVENT_COMMIT);
    ASSERT_EQ(countPopups("Export"), 3);
    EXPECT_NE(popups.back().text.find("could not be saved"), std::string::npos);
}

TEST_F(Recording, TheJumpBufferIsSavedAsCsvWithItsThresholdAndAsPicture) {
    acquire(2); // the working threshold of the last record: 92
    gui::GetJmpBuf();
    ASSERT_TRUE(visible(PANEL_GRAPH_JMPBUF));
    const std::string csv = path("jump.csv");
    fileAnswer = {2, csv};
    th::FireEvent(panel, PANEL_BUTTON_EXPORT, rt::EVENT_COMMIT);
    ASSERT_EQ(countPopups("Export the graph"), 1);
    EXPECT_EQ(popups.back().text, "*.png *.csv");
    const auto l = lines(csv);
    ASSERT_EQ(l.size(), 17u);
    EXPECT_EQ(l[0], "sample,value,threshold");
    const int values[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(l[i + 1], std::to_string(i) + "," + std::to_string(values[i]) + ",92");
    const std::string png = path("jump.png");
    fileAnswer = {2, png};
    th::FireEvent(panel, PANEL_BUTTON_EXPORT, rt::EVENT_COMMIT);
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(540, 400));
    EXPECT_EQ(countPopups("Export"), 0);
}

TEST_F(Recording, TheNewControlsHaveTheirHelpAndLeaveTheSystemsControlsAlone) {
    for (auto [id, text] : {std::pair{PANEL_RECORD, Varnov30::InfoButtonRecord},
                            std::pair{PANEL_RECORD_ROWS, Varnov30::InfoDispRecord},
                            std::pair{PANEL_BUTTON_EXPORT, Varnov30::InfoButtonExport}}) {
        popups.clear();
        th::FireEvent(panel, id, rt::EVENT_RIGHT_CLICK);
        ASSERT_EQ(popups.size(), 1u) << id;
        EXPECT_EQ(popups[0].title, "Info");
        EXPECT_EQ(popups[0].text, text);
        EXPECT_EQ(popups[0].text[0], ' ');
    }
    EXPECT_EQ(th::GetControlInfo(panel, PANEL_RECORD).kind, "toggle");
    EXPECT_EQ(th::GetControlInfo(panel, PANEL_RECORD_ROWS).kind, "string");
    EXPECT_EQ(th::GetControlInfo(panel, PANEL_BUTTON_EXPORT).kind, "command");
    // The new controls lie on free places of the panel: on no control of the system.
    for (int mine : {PANEL_RECORD, PANEL_RECORD_ROWS, PANEL_BUTTON_EXPORT}) {
        const QRect r = th::ControlWidget(panel, mine)->geometry();
        for (int other : th::ControlIds(panel)) {
            if (other >= 70 && other <= 72) continue;
            if (other == PANEL_LOGO_FRAME) continue; // the header's background
            QWidget* w = th::ControlWidget(panel, other);
            EXPECT_FALSE(r.intersects(w->geometry())) << mine << " on " << other;
            if (QWidget* l = th::LabelWidget(panel, other)) {
                EXPECT_FALSE(r.intersects(l->geometry())) << mine << " on label of " << other;
            }
        }
    }
    // F7 presses Export.
    QWidget* window = th::PanelWidget(panel);
    rt::DisplayPanel(panel);
    fileAnswer = {0, ""};
    QTest::keyClick(window, Qt::Key_F7);
    QElapsedTimer t;
    t.start();
    while (countPopups("Export the graph") == 0 && t.elapsed() < 2000)
        QTest::qWait(20);
    EXPECT_EQ(countPopups("Export the graph"), 1);
}

// The program as started with --record FILE, on the real event loop: Go (F11), the sensor
// answering 30 live records, Stop (F12), the window closed.
TEST(RecordingProgram, ThirtyRecordsGoToTheFileOfTheCommandLine) {
    th::UseVirtualClock(false);
    th::SetPopupHandler([](const th::Popup&) { return th::PopupAnswer{}; });
    rt::ResetSerialBindings();
    resetModuleState();
    record::Stop();
    QTemporaryDir dir;
    const std::string file = dir.filePath("live.csv").toStdString();
    capture::SetStartupFile(file.c_str());
    auto peer = std::make_shared<ScriptedPeer>();
    int sent = 0;
    peer->onFrame = [&](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.01, lineOk}};
        if (f[1] == 3) return {{0.01, block15}};
        if (f[1] == 5 && sent < 30) return {{0.06, recordNo(++sent)}};
        return {};
    };
    rt::BindSerialEndpoint(1, peer);
    QWidget* window = nullptr;
    bool went = false, stopped = false, closed = false;
    std::size_t rowsAt21 = 0;
    QElapsedTimer started;
    started.start();
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!window)
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->isVisible() && top->property("resourceId").isValid()) window = top;
        if (!window) {
            if (started.elapsed() > 20000) rt::QuitUserInterface(0);
            return;
        }
        if (!went && started.elapsed() > 300) { // after the start-up's line check and read
            went = true;
            QTest::keyClick(window, Qt::Key_F11);
        } else if (sent >= 21 && rowsAt21 == 0) {
            rowsAt21 = lines(file).size() - 1;
        } else if (sent >= 30 && !stopped) {
            stopped = true;
            QTest::keyClick(window, Qt::Key_F12);
        } else if (stopped && !closed && com232::poll == 0) {
            closed = true;
            window->close();
        }
        if (started.elapsed() > 40000) rt::QuitUserInterface(0);
    });
    watch.start();
    const int rc = Varnov30::WinMain(nullptr, nullptr, nullptr, 1);
    watch.stop();
    th::ClearPopupHandler();
    rt::ResetSerialBindings();
    capture::SetStartupFile("");
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(record::Active()); // closed at the end
    // The hysteresis column: the panel's value, here as read from the sensor at start-up.
    EXPECT_GE(rowsAt21, 18u);
    const auto l = lines(file);
    ASSERT_EQ(l.size(), 31u);
    EXPECT_EQ(l[0], record::Header());
    for (int i = 1; i <= 30; ++i) {
        const auto f = split(l[i]);
        ASSERT_EQ(f.size(), 12u);
        EXPECT_EQ(std::vector<std::string>(f.begin() + 2, f.end()),
                  expectedFields(recordNo(i), 150))
            << "row " << i;
    }
}

TEST(RecordingProgram, AnEmptyRecordFileNameIsAUsageError) {
    for (const char* form : {"--record=", "--record"}) {
        std::vector<const char*> argv{"varno", form};
        if (std::string(form) == "--record") argv.push_back("");
        const auto o = startup::ParseStartupOptions(int(argv.size()), const_cast<char**>(argv.data()));
        EXPECT_NE(o.error.find("--record"), std::string::npos) << form << ": " << o.error;
    }
    // Also once another recording was named: no empty name is passed over.
    const char* twice[] = {"varno", "--record", "a.csv", "--record", ""};
    EXPECT_FALSE(startup::ParseStartupOptions(5, const_cast<char**>(twice)).error.empty());
    QByteArray out;
    EXPECT_EQ(runProgram(VARNO_PATH, {"--record", ""}, &out, 10000), 2);
    EXPECT_NE(out.indexOf("--record wants the name of a CSV file"), -1) << out.toStdString();
}
