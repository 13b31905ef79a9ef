// The line cannot fool the program: bytes trailing a reply, floods, held keys, closing
// during requests, and files that are not files. Virtual clock unless said otherwise.
#include "fixture.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

const Bytes block15b{90, 140, 23, 1, 6, 0, 9, 8, 7, 1, 4, 0, 1, 40, 37};
const Bytes recordB{30, 40, 111, 0x10, 0x00, 0x00, 0x02, 0x00, 0x01, 98};

class Trust : public PanelTest {
  protected:
    std::shared_ptr<ScriptedPeer> peer;
    // Extra bytes sent `strayDelay` after the reply of these codes.
    std::map<int, Bytes> strays;
    double strayDelay = 0.006;
    Bytes paramReply = block15;
    std::vector<Bytes> records{record1};
    int recordsSent = 0;

    void SetUp() override {
        PanelTest::SetUp();
        peer = startWithPeer([this](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
            std::vector<ScriptedPeer::Chunk> out;
            const int code = f[1];
            if (code == 7) out.push_back({0.02, lineOk});
            if (code == 3 || code == 4) out.push_back({0.05, paramReply});
            if (code == 6) out.push_back({0.05, Bytes(16, 77)});
            if (code == 5) {
                const Bytes& r = records[std::min<std::size_t>(recordsSent, records.size() - 1)];
                ++recordsSent;
                out.push_back({0.03, r});
            }
            if (strays.count(code))
                out.push_back({out.empty() ? 0.0 : out[0].delay + strayDelay, strays[code]});
            return out;
        });
    }
    void open() {
        ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
        com232::com = 1;
    }
    int frames(int code) {
        int n = 0;
        for (auto& f : peer->frames)
            n += f[1] == code;
        return n;
    }
    Bytes ppNow() { return Bytes(com232::pp, com232::pp + 15); }
    // A stray byte right behind the n-th live record (1 = first).
    void strayBehindRecord(int n) {
        peer->onFrame = [this, n, inner = peer->onFrame](const Bytes& f, double now) {
            auto out = inner(f, now);
            if (f[1] == 5 && recordsSent == n) out.push_back({0.03 + strayDelay, {0x7E}});
            return out;
        };
    }
};

} // namespace

// ---- bytes trailing a reply ------------------------------------------------------------

TEST_F(Trust, ALineCheckAnswerWithAStrayByteBehindItFailsAndReadsNothing) {
    strays[7] = {0x00};
    com232::InitRS232(1);
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(frames(3), 0) << "no parameter read after a line check that was too long";
}

TEST_F(Trust, AParameterReplyWithAStrayByteBehindItChangesNothingAndSendKeepsTheOldBlock) {
    com232::InitRS232(1);
    ASSERT_EQ(ppNow(), block15);
    ASSERT_TRUE(popups.empty());
    paramReply = block15b;
    strays[3] = {0xF0};
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(ppNow(), block15);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), block15[0]);
    th::ClearWrittenBytes(1);
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    EXPECT_EQ(asBytes(th::WrittenBytes(1)), frameFor(1, block15.data()));
}

TEST_F(Trust, AStrayByteLaterThanTheSettleTimeIsLeftForTheNextFlush) {
    strayDelay = com232::SettleTime + 0.01;
    strays[3] = {0xF0};
    com232::InitRS232(1);
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(ppNow(), block15);
}

TEST_F(Trust, AJumpBufferReplyWithAStrayByteBehindItLeavesTheGraphAlone) {
    open();
    strays[6] = {0x01};
    const auto before = th::GraphPlots(panel, PANEL_GRAPH_JMPBUF);
    gui::GetJmpBuf();
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(th::GraphPlots(panel, PANEL_GRAPH_JMPBUF).size(), before.size());
    EXPECT_EQ(gui::jumpbuf[0], 0);
}

TEST_F(Trust, ALiveRecordFollowedByStraysIsTakenBackAndReported) {
    open();
    records = {record1, recordB};
    // The second record has a stray byte behind it; the acquisition must end there.
    strayBehindRecord(2);
    gui::GetData();
    EXPECT_EQ(com232::poll, 0);
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(recordsSent, 2) << "the acquisition stops at the strays";
    EXPECT_EQ(gui::confirmedRecords, 1) << "only the first record counts as good";
    // The displays, live values and history show the first record again.
    EXPECT_EQ(intVal(PANEL_DAT0), record1[0]);
    EXPECT_EQ(intVal(PANEL_NORM), record1[2]);
    EXPECT_EQ(com232::dataDat1, record1[1]);
    EXPECT_EQ(gui::alldata[495], record1[0]);
    EXPECT_EQ(gui::alldata[490], 0.0);
}

TEST_F(Trust, RecordsWithAQuietLineBehindThemAreConfirmedUpToTheLast) {
    open();
    // Stopped between cycles: the last record is checked when the acquisition ends.
    th::SetPumpHook([this](double) {
        if (th::StripAppendCount(panel, PANEL_GRAPH_RAW) >= 5) com232::poll = 0;
    });
    gui::GetData();
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(recordsSent, 5);
    EXPECT_EQ(gui::confirmedRecords, 5);
}

// ---- floods -------------------------------------------------------------------------------

TEST_F(Trust, A1100ByteBurstOverflowsTheQueueButTheNextRequestIsAnswered) {
    open();
    peer->schedule(rt::Timer(), Bytes(1100, 0x33));
    pumpFor(0.01);
    EXPECT_EQ(rt::GetInQLen(1), 1024) << "what overflows the 1024-byte queue is dropped";
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(ppNow(), block15);
}

// ---- a write that fails -------------------------------------------------------------------

namespace {
class BrokenWritePeer : public ScriptedPeer {
  public:
    bool writeFails(double) const override { return true; }
};
} // namespace

TEST_F(Trust, AWriteThatFailsAtTheDriverIsNotReportedAsSent) {
    auto broken = std::make_shared<BrokenWritePeer>();
    rt::BindSerialEndpoint(1, broken);
    open();
    EXPECT_LT(rt::ComWrt(1, "abc", 3), 0);
    open();
    gui::SendPara();
    EXPECT_NE(com232::nBytesW, 17);
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(countPopups("INFO"), 1);
}

// ---- keys and closing ----------------------------------------------------------------------

namespace {
void key(QWidget* w, int k, bool repeat) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, QString(), repeat);
    QApplication::sendEvent(w, &press);
}
} // namespace

TEST_F(Trust, AFunctionKeyRunsItsCommandBeforeTheKeyEventReturns) {
    open();
    QWidget* focus = th::ControlWidget(panel, PANEL_THRESHOLD);
    key(focus, Qt::Key_F8, false);
    // GetBuff ran to its end inside the key event: its frame is on the line already.
    EXPECT_EQ(frames(6), 1);
    EXPECT_EQ(gui::jumpbuf[0], 77);
}

TEST_F(Trust, AHeldKeyIsOnePress) {
    open();
    QWidget* top = th::PanelWidget(panel);
    key(top, Qt::Key_F9, false);
    for (int i = 0; i < 20; ++i)
        key(top, Qt::Key_F9, true); // auto-repeat while held
    EXPECT_EQ(frames(1), 1);
}

TEST_F(Trust, DimmedButtonsIgnoreTheirKeys) {
    open();
    rt::SetCtrlAttribute(panel, PANEL_BUTTON_SEND, rt::ATTR_DIMMED, 1);
    key(th::PanelWidget(panel), Qt::Key_F9, false);
    EXPECT_EQ(frames(1), 0);
    rt::SetCtrlAttribute(panel, PANEL_BUTTON_SEND, rt::ATTR_DIMMED, 0);
    key(th::PanelWidget(panel), Qt::Key_F9, false);
    EXPECT_EQ(frames(1), 1);
}

TEST_F(Trust, OnceTheWindowIsClosingNoRequestStarts) {
    open();
    // Go pressed while the pre-request pause of another Go runs, then the window closed:
    // neither acquisition may start after the close.
    bool closed = false;
    th::SetPumpHook([&](double now) {
        if (!closed && now > 0.05) {
            closed = true;
            th::FirePanelEvent(panel, rt::EVENT_CLOSE);
        }
    });
    th::FireEvent(panel, PANEL_BUTTON_GO, rt::EVENT_COMMIT);
    EXPECT_TRUE(rt::QuitPending());
    EXPECT_EQ(frames(5), 0);
    th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    th::FireEvent(panel, PANEL_BUTTON_GETBUFF, rt::EVENT_COMMIT);
    EXPECT_TRUE(peer->frames.empty());
    EXPECT_TRUE(popups.empty());
}

TEST_F(Trust, ClosingDuringAnAcquisitionEndsItWithoutAReport) {
    open();
    th::SetPumpHook([&](double) {
        if (recordsSent == 3) th::FirePanelEvent(panel, rt::EVENT_CLOSE);
    });
    gui::GetData();
    EXPECT_EQ(recordsSent, 3);
    EXPECT_TRUE(popups.empty());
}

// ---- files that are not files --------------------------------------------------------------

TEST_F(Trust, AFifoIsRefusedWithoutOpeningIt) {
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("params.dat").toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    unsigned char out[15];
    // Opening a FIFO for reading would wait for a writer for ever.
    EXPECT_EQ(rt::FileToArray(fifo.c_str(), out, rt::VAL_UNSIGNED_CHAR, 15, 1, 0, 0, 1),
              rt::FILE_CANNOT_OPEN);
    EXPECT_EQ(rt::FileToArray(dir.path().toLocal8Bit().constData(), out, rt::VAL_UNSIGNED_CHAR, 15,
                              1, 0, 0, 1),
              rt::FILE_CANNOT_OPEN);
}

TEST_F(Trust, ARequestRunInsideTheAcquisitionSettlesItsLastRecordFirst) {
    open();
    records = {record1, recordB};
    strayBehindRecord(2);
    // GetBuff pressed right after the second record was shown: its flush would hide the
    // stray behind that record, so the record is checked before it.
    bool pressed = false;
    th::SetPumpHook([&](double) {
        if (!pressed && th::StripAppendCount(panel, PANEL_GRAPH_RAW) == 2 &&
            rt::Timer() > peer->frameTimes.back() + 0.045) {
            pressed = true;
            th::FireEvent(panel, PANEL_BUTTON_GETBUFF, rt::EVENT_COMMIT);
        }
    });
    gui::GetData();
    EXPECT_TRUE(pressed);
    EXPECT_EQ(gui::jumpbuf[0], 77) << "the nested request itself went through";
    EXPECT_EQ(gui::confirmedRecords, 1) << "the record with a stray behind it is not taken";
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(intVal(PANEL_DAT0), record1[0]);
}

TEST_F(Trust, ClosingTheWindowWhileAPopupIsOpenEndsThePopupToo) {
    // The real dialog: the window destroyed from outside while INFO is up must not leave
    // the program waiting for an operator who has closed it.
    th::ClearPopupHandler();
    bool stillOpen = false;
    QTimer::singleShot(50, [&] { th::FirePanelEvent(panel, rt::EVENT_CLOSE); });
    QTimer::singleShot(3000, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            stillOpen = true;
            box->close();
        }
    });
    rt::MessagePopup("INFO", com232::InfoTimeout);
    EXPECT_FALSE(stillOpen);
    EXPECT_TRUE(rt::QuitPending());
}
