// The sensor link: frames, opening results, the line check and the reply-wait rule, on
// the virtual clock with a scripted peer.
#include "fixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QMouseEvent>

namespace {


class Link : public PanelTest {
protected:
    std::shared_ptr<ScriptedPeer> peer;
    void SetUp() override {
        PanelTest::SetUp();
        initVars();
        peer = bindPeer(1);
    }
    // Opens COM1 without a line check.
    void openQuietly() {
        ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
        com232::com = 1;
    }
    double popupTime(const std::string& title) {
        for (auto& p : popups)
            if (p.title == title) return p.time;
        return -1;
    }
};

} // namespace

TEST_F(Link, FrameIsSyncCodeAndTheParameterBlock) {
    com232::FillTxBuf(7);
    EXPECT_EQ(Bytes(com232::szWriteBuf, com232::szWriteBuf + 17), frameFor(7, nullptr));
    for (int i = 0; i < 15; ++i) com232::pp[i] = static_cast<unsigned char>(i * 17);
    com232::FillTxBuf(5);
    EXPECT_EQ(Bytes(com232::szWriteBuf, com232::szWriteBuf + 17), frameFor(5, com232::pp));
}

TEST_F(Link, EachWayAPortFailsToOpenShowsItsOwnText) {
    const std::pair<const char*, const char*> cases[] = {
        {"/nonexistent/serial/device", "No serial port found"},
        {"/dev/null", "Unknown I/0 error"}, // not a serial device
    };
    int n = 20;
    for (auto [device, text] : cases) {
        rt::BindSerialDevice(n, device);
        com232::InitRS232(n++);
        EXPECT_EQ(status(), text) << device;
    }
    com232::InitRS232(300);
    EXPECT_EQ(status(), "Invalid port number");
    // Codes the run-time has no cause for today still get the texts an operator knows.
    EXPECT_STREQ(com232::OpenResultText(-99), "Timeout");
    EXPECT_STREQ(com232::OpenResultText(-100), "RS-232 error!");
    EXPECT_TRUE(popups.empty());
}

TEST_F(Link, AFailedOpeningShowsOnlyItsTextAndSendsNothing) {
    rt::BindSerialDevice(4, "/nonexistent/serial/device");
    com232::com = 4;
    com232::poll = 1;
    com232::InitRS232(4);
    EXPECT_EQ(com232::poll, 0);
    EXPECT_EQ(com232::ret, rt::RS_NO_PORT_FOUND);
    EXPECT_EQ(status(), "No serial port found");
    EXPECT_STREQ(com232::szStatus, "No serial port found");
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(th::WrittenBytes(4), "");
    com232::InitRS232(0);
    EXPECT_EQ(status(), "Invalid port number");
    rt::BindSerialDevice(5, "/dev/null"); // not a serial device
    com232::InitRS232(5);
    EXPECT_LT(com232::ret, 0);
    EXPECT_TRUE(popups.empty());
    // A later request on the closed port: the write takes nothing, the report follows.
    gui::SendPara();
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(countPopups("INFO"), 1);
}

TEST_F(Link, LineCheckPassesThenReadsTheParameters) {
    peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.02, lineOk}};
        if (f[1] == 3) return {{0.05, block15}};
        return {};
    };
    com232::InitRS232(1);
    ASSERT_EQ(peer->frames.size(), 2u);
    EXPECT_EQ(peer->frames[0], frameFor(7, nullptr));
    EXPECT_EQ(peer->frames[1], frameFor(3, nullptr));
    EXPECT_EQ(status(), lineOkText);
    EXPECT_EQ(std::string(com232::szStatus).size(), 41u);
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(Bytes(com232::pp, com232::pp + 15), block15);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 100);
    EXPECT_EQ(com232::frei15, 37);
}

TEST_F(Link, WrongShortOrLongLineCheckRepliesFail) {
    for (const Bytes& reply : {Bytes{0xAA, 0x03, 0x01}, Bytes{0xAA, 0x03}, Bytes{0xAA, 0x03, 0x00, 0x00}}) {
        popups.clear();
        peer->frames.clear();
        peer->onFrame = [reply](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
            if (f[1] == 7) return {{0.02, reply}};
            return {};
        };
        SCOPED_TRACE(reply.size());
        com232::InitRS232(1);
        EXPECT_EQ(status(), "TIMEOUT");
        ASSERT_EQ(popups.size(), 1u);
        EXPECT_EQ(popups[0].title, "INFO");
        EXPECT_EQ(popups[0].text, com232::InfoTimeout);
        EXPECT_EQ(peer->frames.size(), 1u); // no parameter read follows
        EXPECT_EQ(com232::nBytesR, int(reply.size()));
    }
}

TEST_F(Link, AReplyInTwoPartsWithinTheWaitIsAccepted) {
    peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.5, {0xAA}}, {2.9, {0x03, 0x00}}};
        if (f[1] == 3) return {{0.05, block15}};
        return {};
    };
    openQuietly();
    com232::CheckComLine();
    EXPECT_EQ(status(), lineOkText);
    EXPECT_TRUE(popups.empty());
    ASSERT_EQ(peer->frameTimes.size(), 2u);
    // The parameter read follows once the line has stayed quiet behind the reply.
    EXPECT_NEAR(peer->frameTimes[1], 2.9 + com232::SettleTime, 0.01);
}

TEST_F(Link, NoReplyReportsJustAfterThreeSecondsAndOnlyThen) {
    openQuietly();
    double statusAt = -1;
    th::SetPumpHook([&](double now) {
        if (statusAt < 0 && status() == "TIMEOUT") statusAt = now;
    });
    onPopup = [&](const th::Popup&) {
        if (statusAt < 0 && status() == "TIMEOUT") statusAt = rt::Timer();
    };
    com232::CheckComLine();
    EXPECT_GT(statusAt, 3.0);
    EXPECT_LT(statusAt, 3.01);
    EXPECT_GT(popupTime("INFO"), 3.0);
    EXPECT_LT(popupTime("INFO"), 3.01);
    EXPECT_EQ(com232::nBytesR, 0);
}

TEST_F(Link, OneByteShortAtTheDeadlineFailsAndTheLateByteWaitsForTheNextFlush) {
    peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.1, {0xAA, 0x03}}, {3.05, {0x00}}};
        return {};
    };
    openQuietly();
    com232::CheckComLine();
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(com232::nBytesR, 2);
    th::AdvanceClock(0.1);
    EXPECT_EQ(rt::GetInQLen(1), 1);
    rt::FlushInQ(1);
    EXPECT_EQ(rt::GetInQLen(1), 0);
}

TEST_F(Link, FourBytesWaitingFailTheLineCheck) {
    peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.1, {0xAA, 0x03, 0x00, 0x55}}};
        return {};
    };
    openQuietly();
    com232::CheckComLine();
    EXPECT_EQ(com232::nBytesR, 4);
    EXPECT_EQ(status(), "TIMEOUT");
}

TEST_F(Link, ANestedRequestRestartsTheSharedClockOfTheOuterWait) {
    // The jump-buffer read gets no answer; 2.0 s into its wait a Get runs nested and is
    // answered. The outer wait then measures from the inner request's start.
    peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 3) return {{0.05, block15}};
        return {};
    };
    openQuietly();
    com232::target = com232::RAM;
    bool fired = false;
    double innerStart = -1;
    th::SetPumpHook([&](double now) {
        if (!fired && now >= 2.0) {
            fired = true;
            th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
            innerStart = com232::tstart;
        }
    });
    gui::GetJmpBuf();
    ASSERT_TRUE(fired);
    ASSERT_EQ(peer->frames.size(), 2u);
    EXPECT_EQ(peer->frames[1][1], 3);
    EXPECT_NEAR(peer->frameTimes[1], 2.1, 0.01); // after the 0.1 s pre-request delay
    EXPECT_NEAR(innerStart, 2.1, 0.01);
    ASSERT_EQ(countPopups("INFO"), 1);
    EXPECT_NEAR(popupTime("INFO"), innerStart + 3.0, 0.01);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 100);
}

TEST_F(Link, AVanishedPeerClosesThePortAndChoosingItAgainReopens) {
    peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.02, lineOk}};
        if (f[1] == 3) return {{0.05, block15}};
        return {};
    };
    com232::InitRS232(1);
    ASSERT_TRUE(th::PortOpen(1));
    peer->gone = true;
    rt::ProcessSystemEvents();
    EXPECT_FALSE(th::PortOpen(1));
    popups.clear();
    gui::SendPara(); // the write takes nothing: reported at once
    EXPECT_EQ(countPopups("INFO"), 1);
    const double t0 = rt::Timer();
    gui::GetPara(); // a read waits its 3 s, then reports
    EXPECT_EQ(countPopups("INFO"), 2);
    EXPECT_GT(rt::Timer() - t0, 3.0);
    // The adapter is back: the operator chooses the port again.
    peer->gone = false;
    peer->frames.clear();
    rt::SetCtrlVal(panel, PANEL_COMPORT, 1);
    th::FireEvent(panel, PANEL_COMPORT, rt::EVENT_COMMIT);
    EXPECT_TRUE(th::PortOpen(1));
    EXPECT_EQ(status(), lineOkText);
    EXPECT_EQ(peer->frames.size(), 2u);
}

TEST_F(Link, AFloodOfBytesNeverRunsPastTheReadBuffer) {
    peer->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.02, Bytes(5000, 0x42)}};
        return {};
    };
    openQuietly();
    com232::CheckComLine();
    EXPECT_LE(com232::nBytesR, 1024);
    EXPECT_EQ(com232::nBytesR, 1024);
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_LE(rt::GetInQLen(1), 1024);
}

TEST_F(Link, PortChangeClosesTheOldPortAndOpensTheNewOne) {
    auto second = bindPeer(3);
    second->onFrame = [](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
        if (f[1] == 7) return {{0.02, lineOk}};
        if (f[1] == 3) return {{0.05, block15}};
        return {};
    };
    openQuietly();
    com232::poll = 1;
    {
        // The selector, made after the bindings, shows each number with its device.
        const int other = rt::LoadPanel(0, "Varnov30.uir", 1);
        auto* box = qobject_cast<QComboBox*>(th::ControlWidget(other, PANEL_COMPORT));
        ASSERT_GE(box->count(), 3);
        EXPECT_TRUE(box->itemText(2).contains("COM3")) << box->itemText(2).toStdString();
        EXPECT_TRUE(box->itemText(2).contains("simulated")) << box->itemText(2).toStdString();
        EXPECT_EQ(box->itemData(2).toInt(), 3);
        rt::DiscardPanel(other);
    }
    std::string statusDuringOpen;
    second->onFrame = [&, inner = second->onFrame](const Bytes& f, double now) {
        if (statusDuringOpen.empty()) statusDuringOpen = status();
        return inner(f, now);
    };
    rt::SetCtrlVal(panel, PANEL_COMPORT, 3);
    th::FireEvent(panel, PANEL_COMPORT, rt::EVENT_COMMIT);
    EXPECT_EQ(com232::poll, 0);
    EXPECT_EQ(statusDuringOpen, "Init COM-Port ...");
    EXPECT_FALSE(th::PortOpen(1));
    EXPECT_TRUE(th::PortOpen(3));
    EXPECT_EQ(com232::com, 3);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 100);
    // A number that cannot be opened: the old port is closed, com keeps the new number.
    rt::SetCtrlVal(panel, PANEL_COMPORT, 7);
    th::FireEvent(panel, PANEL_COMPORT, rt::EVENT_COMMIT);
    EXPECT_FALSE(th::PortOpen(3));
    EXPECT_EQ(com232::com, 7);
    EXPECT_EQ(status(), "No serial port found");
}

TEST_F(Link, ThePortListIsRenewedWhenOpenedAndKeepsItsNumbers) {
    auto* box = qobject_cast<QComboBox*>(th::ControlWidget(panel, PANEL_COMPORT));
    auto open = [box] {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), box->mapToGlobal(QPointF(5, 5)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &press);
        box->hidePopup();
    };
    open();
    const QString first = box->itemText(0);
    EXPECT_TRUE(first.contains("simulated")) << first.toStdString(); // COM1 is the peer now
    rt::BindSerialEndpoint(12, std::make_shared<ScriptedPeer>()); // plugged in after start
    ASSERT_LT(box->count(), 12);
    open();
    ASSERT_GE(box->count(), 12);
    EXPECT_TRUE(box->itemText(11).contains("COM12"));
    EXPECT_EQ(box->itemData(11).toInt(), 12);
    EXPECT_EQ(box->itemText(0), first);
    EXPECT_EQ(intVal(PANEL_COMPORT), 1); // the selection stays
}
