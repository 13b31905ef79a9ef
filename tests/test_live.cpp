// Live acquisition, its displays and graphs, and the jump buffer, on the virtual clock.
#include "fixture.h"

#include "analysis.h"
#include "sim_endpoint.h"

#include <QtCharts/QChartView>

namespace {


class Live : public PanelTest {
protected:
    std::shared_ptr<ScriptedPeer> peer;
    Bytes record = record1;
    Bytes jump;
    double replyDelay = 0.06;
    int recordsSent = 0;

    void SetUp() override {
        PanelTest::SetUp();
        peer = startWithPeer([this](const Bytes& f, double) -> std::vector<ScriptedPeer::Chunk> {
            if (f[1] == 5) {
                ++recordsSent;
                return {{replyDelay, record}};
            }
            if (f[1] == 6 && !jump.empty()) return {{0.05, jump}};
            return {};
        });
        ASSERT_EQ(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024), 0);
        com232::com = 1;
    }
    // Stops the acquisition once `n` records have been shown.
    void stopAfterRecords(int n) {
        th::SetPumpHook([this, n](double) {
            if (th::StripAppendCount(panel, PANEL_GRAPH_RAW) >= n || adjDraws() >= n)
                com232::poll = 0;
        });
    }
    int adjDraws() { return int(adjPlotsSeen); }
    size_t adjPlotsSeen = 0;
    int framesWithCode(int code) {
        int n = 0;
        for (auto& f : peer->frames) n += f[1] == code;
        return n;
    }
    void selectSource(int s) {
        rt::SetCtrlVal(panel, PANEL_SOURCE, s);
        th::FireEvent(panel, PANEL_SOURCE, rt::EVENT_COMMIT);
    }
};

} // namespace

TEST(Shift, MovesCopiesAndRefusesBadArguments) {
    const double x[5] = {1, 2, 3, 4, 5};
    double y[5];
    EXPECT_EQ(analysis::Shift(x, 5, 2, y), 0);
    EXPECT_EQ(std::vector<double>(y, y + 5), (std::vector<double>{0, 0, 1, 2, 3}));
    EXPECT_EQ(analysis::Shift(x, 5, -2, y), 0);
    EXPECT_EQ(std::vector<double>(y, y + 5), (std::vector<double>{3, 4, 5, 0, 0}));
    EXPECT_EQ(analysis::Shift(x, 5, 0, y), 0);
    EXPECT_EQ(std::vector<double>(y, y + 5), (std::vector<double>{1, 2, 3, 4, 5}));
    double z[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(analysis::Shift(x, 5, 5, z), analysis::ERR_SHIFT_TOO_LARGE);
    EXPECT_EQ(analysis::Shift(x, 5, -5, z), analysis::ERR_SHIFT_TOO_LARGE);
    EXPECT_EQ(std::vector<double>(z, z + 5), (std::vector<double>{9, 9, 9, 9, 9}));
    EXPECT_EQ(analysis::Shift(x, 0, 0, z), analysis::ERR_TOO_FEW_ELEMENTS);
    EXPECT_EQ(analysis::Copy1D(x, 0, z), analysis::ERR_TOO_FEW_ELEMENTS);
    // In place, in both directions.
    double a[5] = {1, 2, 3, 4, 5};
    analysis::Shift(a, 5, 2, a);
    EXPECT_EQ(std::vector<double>(a, a + 5), (std::vector<double>{0, 0, 1, 2, 3}));
    double b[5] = {1, 2, 3, 4, 5};
    analysis::Shift(b, 5, -2, b);
    EXPECT_EQ(std::vector<double>(b, b + 5), (std::vector<double>{3, 4, 5, 0, 0}));
}

TEST_F(Live, ARecordReachesTheDisplaysTheHistoryAndTheFiveTraces) {
    rt::SetCtrlVal(panel, PANEL_HYSTERESIS, 170); // shown, not yet sent: still drawn
    stopAfterRecords(1);
    gui::GetData();
    EXPECT_EQ(intVal(PANEL_DAT0), 10);
    EXPECT_EQ(intVal(PANEL_DAT1), 20);
    EXPECT_EQ(intVal(PANEL_NORM), 128);
    EXPECT_EQ(intVal(PANEL_TRSH), 99);
    EXPECT_EQ(intVal(PANEL_WIN), 50);
    EXPECT_EQ(intVal(PANEL_EDGE), 910);
    EXPECT_EQ(com232::hysteresis, 170);
    for (int i = 0; i < 495; ++i) ASSERT_EQ(gui::alldata[i], 0.0) << i;
    EXPECT_EQ(std::vector<double>(gui::alldata + 495, gui::alldata + 500),
              (std::vector<double>{10, 20, 128, 99, 170}));
    EXPECT_EQ(th::StripPointsPerScreen(panel, PANEL_GRAPH_RAW), 101);
    const double expected[5] = {10, 20, 128, 99, 170};
    for (int t = 1; t <= 5; ++t) {
        const auto trace = th::StripTrace(panel, PANEL_GRAPH_RAW, t);
        ASSERT_EQ(trace.size(), 100u);
        EXPECT_EQ(trace.back(), expected[t - 1]);
        EXPECT_EQ(trace.front(), 0.0);
    }
    // The second record moves the history on by one record.
    record = {1, 2, 3, 0, 0, 0, 1, 0, 0, 4};
    stopAfterRecords(2);
    gui::GetData();
    EXPECT_EQ(std::vector<double>(gui::alldata + 490, gui::alldata + 500),
              (std::vector<double>{10, 20, 128, 99, 170, 1, 2, 3, 4, 170}));
    EXPECT_TRUE(popups.empty());
}

TEST_F(Live, EveryCycleFlushesSendsCodeFiveAndPausesFiftyMilliseconds) {
    stopAfterRecords(3);
    gui::GetData();
    ASSERT_GE(peer->frames.size(), 3u);
    for (auto& f : peer->frames) EXPECT_EQ(f, frameFor(5, com232::pp));
    const double gap = peer->frameTimes[2] - peer->frameTimes[1];
    EXPECT_GE(gap, replyDelay + 0.050);
    EXPECT_LT(gap, replyDelay + 0.050 + 0.005);
    EXPECT_EQ(com232::order, 5);
}

TEST_F(Live, StopDuringTheWaitEndsAtOnceWithoutReportOrRead) {
    replyDelay = 1.0;
    th::SetPumpHook([&](double now) {
        if (now >= 0.5) th::FireEvent(panel, PANEL_BUTTON_STOP, rt::EVENT_COMMIT);
    });
    gui::GetData();
    EXPECT_NEAR(rt::Timer(), 0.5, 0.01);
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(intVal(PANEL_DAT0), 0);
    th::SetPumpHook(nullptr);
    // The late reply stays queued until a request flushes it.
    th::AdvanceClock(1.0);
    EXPECT_EQ(rt::GetInQLen(1), 10);
}

TEST_F(Live, ATimeoutGivesOneReportAndEndsTheLoop) {
    stopAfterRecords(100); // never reached
    record = Bytes(9, 1);  // one byte short
    gui::GetData();
    EXPECT_EQ(com232::poll, 0);
    EXPECT_EQ(countPopups("INFO"), 1);
    EXPECT_EQ(status(), "TIMEOUT");
    EXPECT_EQ(framesWithCode(5), 1);
    EXPECT_EQ(intVal(PANEL_DAT0), 0); // nothing shown from the broken record
    for (double v : gui::alldata) ASSERT_EQ(v, 0.0);
}

TEST_F(Live, GoInsideARunningAcquisitionNestsAndOneStopEndsBoth) {
    int depth = 0, maxDepth = 0;
    bool fired = false, stopped = false;
    th::SetPumpHook([&](double now) {
        if (!fired && now > 0.3) {
            fired = true;
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            th::FireEvent(panel, PANEL_BUTTON_GO, rt::EVENT_COMMIT);
            --depth;
        }
        if (!stopped && now > 1.0) {
            stopped = true;
            th::FireEvent(panel, PANEL_BUTTON_STOP, rt::EVENT_COMMIT);
        }
    });
    gui::GetData();
    EXPECT_TRUE(fired);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_LT(rt::Timer(), 1.2); // the outer loop ended too, without another cycle
    EXPECT_TRUE(popups.empty());
}

TEST_F(Live, GetBuffDuringAcquisitionShowsTheBufferAndEndsTheAcquisition) {
    for (int i = 0; i < 16; ++i) jump.push_back(static_cast<std::uint8_t>(i));
    bool fired = false;
    th::SetPumpHook([&](double now) {
        if (!fired && now > 0.4) {
            fired = true;
            th::FireEvent(panel, PANEL_BUTTON_GETBUFF, rt::EVENT_COMMIT);
        }
    });
    gui::GetData();
    EXPECT_EQ(com232::poll, 0);
    EXPECT_TRUE(visible(PANEL_GRAPH_JMPBUF));
    EXPECT_FALSE(visible(PANEL_GRAPH_RAW));
    EXPECT_FALSE(visible(PANEL_GRAPH_ADJ));
    const auto plots = th::GraphPlots(panel, PANEL_GRAPH_JMPBUF);
    ASSERT_EQ(plots.size(), 2u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(plots[0].y[i], i);
    EXPECT_EQ(plots[0].color, rt::VAL_BLUE);
    EXPECT_EQ(plots[1].y, std::vector<double>(16, 99.0)); // the last working threshold
    EXPECT_EQ(plots[1].color, rt::VAL_BLACK);
    EXPECT_TRUE(popups.empty());
}

TEST_F(Live, JumpBufferBeforeAnyRecordHasItsThresholdLineAtZero) {
    jump = Bytes(16, 7);
    gui::GetJmpBuf();
    ASSERT_EQ(framesWithCode(6), 1);
    const auto plots = th::GraphPlots(panel, PANEL_GRAPH_JMPBUF);
    ASSERT_EQ(plots.size(), 2u);
    EXPECT_EQ(plots[1].y, std::vector<double>(16, 0.0));
    EXPECT_EQ(Bytes(gui::jumpbuf, gui::jumpbuf + 16), jump);
}

TEST_F(Live, AShortOrLongJumpBufferReplyLeavesTheGraphsAsTheyWere) {
    jump = Bytes(16, 3);
    gui::GetJmpBuf();
    selectSource(1); // graph area back to the strip chart
    for (const Bytes& bad : {Bytes(15, 9), Bytes(17, 9)}) {
        popups.clear();
        jump = bad;
        gui::GetJmpBuf();
        EXPECT_EQ(countPopups("INFO"), 1);
        EXPECT_EQ(Bytes(gui::jumpbuf, gui::jumpbuf + 16), Bytes(16, 3));
        EXPECT_FALSE(visible(PANEL_GRAPH_JMPBUF));
        EXPECT_TRUE(visible(PANEL_GRAPH_RAW));
        EXPECT_EQ(th::GraphPlots(panel, PANEL_GRAPH_JMPBUF)[0].y, std::vector<double>(16, 3.0));
    }
}

TEST_F(Live, AdjustmentMarkersInPercentOfThePeriod) {
    selectSource(2);
    EXPECT_TRUE(visible(PANEL_GRAPH_ADJ));
    th::SetPumpHook([&](double) {
        if (!th::GraphPlots(panel, PANEL_GRAPH_ADJ).empty()) com232::poll = 0;
    });
    const double t0 = rt::Timer();
    gui::GetData();
    EXPECT_GE(rt::Timer() - t0, 1.0); // the adjustment display pauses a second
    const auto plots = th::GraphPlots(panel, PANEL_GRAPH_ADJ);
    ASSERT_EQ(plots.size(), 2u);
    EXPECT_EQ(plots[0].color, rt::VAL_BLUE); // EDGE 910 %: off the scale, no marker
    EXPECT_EQ(plots[0].y, std::vector<double>(101, 0.0));
    EXPECT_EQ(plots[1].color, rt::VAL_RED); // WIN 50 %
    std::vector<double> win(101, 0.0);
    win[50] = 150;
    EXPECT_EQ(plots[1].y, win);

    // 0 % and 100 % land on the first and the last point.
    record = {1, 1, 127, 0, 0, 0x00, 0x02, 0x00, 0x02, 5}; // edge 0, window = period
    th::SetPumpHook([&](double) {
        const auto p = th::GraphPlots(panel, PANEL_GRAPH_ADJ);
        if (!p.empty() && p[1].y[100] != 0) com232::poll = 0;
    });
    gui::GetData();
    const auto p2 = th::GraphPlots(panel, PANEL_GRAPH_ADJ);
    EXPECT_EQ(p2[0].y[0], 150);
    EXPECT_EQ(p2[1].y[100], 150);
}

TEST_F(Live, AZeroPeriodKeepsThePercentagesAndTheMarkersButUpdatesTheRest) {
    selectSource(2);
    th::SetPumpHook([&](double) {
        if (!th::GraphPlots(panel, PANEL_GRAPH_ADJ).empty()) com232::poll = 0;
    });
    gui::GetData();
    const auto before = th::GraphPlots(panel, PANEL_GRAPH_ADJ);
    record = {30, 40, 109, 5, 0, 0, 0, 9, 0, 77}; // IN0 period 0
    const int cyclesBefore = recordsSent;
    th::SetPumpHook([&](double) {
        if (recordsSent > cyclesBefore && rt::Timer() > 5.0) com232::poll = 0;
    });
    gui::GetData();
    EXPECT_EQ(intVal(PANEL_WIN), 50);
    EXPECT_EQ(intVal(PANEL_EDGE), 910);
    EXPECT_EQ(intVal(PANEL_DAT0), 30);
    EXPECT_EQ(intVal(PANEL_TRSH), 77);
    EXPECT_EQ(gui::alldata[499 - 4], 30);
    const auto after = th::GraphPlots(panel, PANEL_GRAPH_ADJ);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[1].y, before[1].y);
    EXPECT_TRUE(popups.empty());
}

TEST_F(Live, SignalGroupsShowTheirDisplaysGraphsAndTraces) {
    selectSource(0);
    for (int id : {PANEL_DAT0, PANEL_DAT1, PANEL_NORM, PANEL_GRAPH_RAW, PANEL_TRSH})
        EXPECT_TRUE(visible(id)) << id;
    for (int id : {PANEL_GRAPH_JMPBUF, PANEL_GRAPH_ADJ, PANEL_EDGE, PANEL_WIN})
        EXPECT_FALSE(visible(id)) << id;
    const bool raw[5] = {true, true, false, false, false};
    for (int t = 1; t <= 5; ++t) EXPECT_EQ(th::StripTraceVisible(panel, PANEL_GRAPH_RAW, t), raw[t - 1]);
    EXPECT_EQ(gui::source, 0);

    selectSource(1);
    for (int t = 1; t <= 5; ++t) EXPECT_EQ(th::StripTraceVisible(panel, PANEL_GRAPH_RAW, t), !raw[t - 1]);
    EXPECT_TRUE(visible(PANEL_GRAPH_RAW));

    selectSource(2);
    for (int id : {PANEL_EDGE, PANEL_WIN, PANEL_GRAPH_ADJ, PANEL_TRSH}) EXPECT_TRUE(visible(id)) << id;
    for (int id : {PANEL_DAT0, PANEL_DAT1, PANEL_NORM, PANEL_GRAPH_RAW, PANEL_GRAPH_JMPBUF})
        EXPECT_FALSE(visible(id)) << id;
    // The traces keep what source 1 set.
    for (int t = 1; t <= 5; ++t) EXPECT_EQ(th::StripTraceVisible(panel, PANEL_GRAPH_RAW, t), !raw[t - 1]);
    EXPECT_EQ(gui::source, 2);
}

TEST_F(Live, ClosingTheWindowDuringAcquisitionEndsTheLoop) {
    th::SetPumpHook([&](double now) {
        if (now > 0.3) th::FirePanelEvent(panel, rt::EVENT_CLOSE);
    });
    gui::GetData();
    EXPECT_EQ(com232::poll, 0);
    EXPECT_TRUE(th::QuitRequested());
    EXPECT_LT(rt::Timer(), 0.5);
}

TEST_F(Live, AcquisitionAgainstTheSimulatedSensorKeepsThePaceOfTheLine) {
    auto sensor = std::make_shared<sim::SimEndpoint>();
    rt::BindSerialEndpoint(2, sensor);
    ASSERT_EQ(rt::OpenComConfig(2, "", 4800, 0, 8, 1, 1024, 1024), 0);
    com232::com = 2;
    stopAfterRecords(20);
    const double t0 = rt::Timer();
    gui::GetData();
    const double perCycle = (rt::Timer() - t0) / 20;
    // 27 bytes at 10 bits and 4800 baud, the 50 ms pause, the sensor's latency.
    EXPECT_GT(perCycle, 0.27 * 10 / 48 + 0.050);
    EXPECT_LT(perCycle, 0.27 * 10 / 48 + 0.050 + 0.010);
    EXPECT_TRUE(popups.empty());
    // NORM as the sensor forms it from the raw values.
    EXPECT_EQ(intVal(PANEL_NORM), intVal(PANEL_DAT0) * 255 / std::max(1, intVal(PANEL_DAT0) + intVal(PANEL_DAT1)));
}

TEST_F(Live, RedrawingAGraphOnEveryRecordCreatesNothingNew) {
    auto* view = qobject_cast<QChartView*>(th::ControlWidget(panel, PANEL_GRAPH_ADJ));
    ASSERT_NE(view, nullptr);
    unsigned char marks[101] = {};
    auto redraw = [&](int k) {
        marks[k % 101] = 150;
        rt::DeleteGraphPlot(panel, PANEL_GRAPH_ADJ, -1, 1);
        rt::PlotY(panel, PANEL_GRAPH_ADJ, marks, 101, rt::VAL_UNSIGNED_CHAR, 5, 0, 0, 1, rt::VAL_BLUE);
        rt::PlotY(panel, PANEL_GRAPH_ADJ, marks, 101, rt::VAL_UNSIGNED_CHAR, 5, 0, 0, 1, rt::VAL_RED);
        marks[k % 101] = 0;
    };
    for (int k = 0; k < 5; ++k) redraw(k);
    const auto objects = view->findChildren<QObject*>().size();
    const auto items = view->scene()->items().size();
    for (int k = 5; k < 300; ++k) redraw(k);
    EXPECT_EQ(view->chart()->series().size(), 2);
    EXPECT_EQ(view->findChildren<QObject*>().size(), objects);
    EXPECT_EQ(view->scene()->items().size(), items);
    ASSERT_EQ(th::GraphPlots(panel, PANEL_GRAPH_ADJ).size(), 2u);
    EXPECT_EQ(th::GraphPlots(panel, PANEL_GRAPH_ADJ)[1].y[299 % 101], 150);
}
