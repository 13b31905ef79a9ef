// The panel's live data and jump buffer: the acquisition over the panel's link, the
// numeric displays, the strip chart, the adjustment graph and the jump-buffer graph.
#include "gui.h"

#include "panel_ids.h"
#include "analysis.h"
#include "capture.h"
#include "com232.h"
#include "runtime/runtime.h"

#include <cstring>

using namespace runtime;
using com232::AnzData;

namespace gui {

namespace {

int pnl() {
    return Varnov30::panel;
}

void setVisible(int control, int on) {
    SetCtrlAttribute(pnl(), control, ATTR_VISIBLE, on);
}

// False after a live record with an IN0 period of 0: the percentages have no meaning
// then, so the displays keep their values and the markers are left as they stand.
bool adjValid = true;

} // namespace

// ---- live data ----------------------------------------------------------------------

namespace {

// The link holds the record shown last until the line was found quiet behind it (at the
// next cycle, at another request's flush, or when the acquisition ends). Until then the
// history it was added to and the record shown before it are kept, so that a record
// followed by strays can be taken back.
double heldHistory[HistoryLen] = {};
unsigned char heldData[AnzData] = {};

// Stray bytes behind the last record: it may have been the front of a longer reply.
// One rule: a record taken back restores what was shown before it (the displays, the
// history and the live values).
void takeBackRecord() {
    std::memcpy(com232::databuf, heldData, AnzData);
    com232::CopyDatatoVars();
    std::memcpy(alldata, heldHistory, sizeof alldata);
    ShowLiveValues();
    if (source != 2) ShowGraph();
}

// True when the last record is confirmed (or there is none); false after strays, which
// have then been reported. Requests run inside the pump settle it themselves first.
bool confirmRecord() {
    if (com232::PanelLink().ConfirmHeld()) return true;
    takeBackRecord();
    TimeoutReport();
    return false;
}

} // namespace

int confirmedRecords = 0;

void RecordTakenAsGood(const sensor::LiveRecord& record) {
    ++confirmedRecords;
    capture::Confirmed(record.bytes); // its row, when recording
}

void SettlePendingRecord() {
    com232::PanelLink().SettleHeld();
}

int GetData() {
    if (QuitPending()) return 0; // the window is closing: no new acquisition
    sensor::Link& link = com232::PanelLink();
    com232::order = sensor::req::Live;
    link.StartLive();
    DispVis();
    // Started inside another acquisition's pause: that one's last record is settled here.
    if (!confirmRecord()) {
        link.StopLive();
        return 0;
    }
    while (link.Live()) {
        if (!confirmRecord()) {
            link.StopLive();
            break;
        }
        if (!link.Live()) break;                       // stopped while the line was looked at
        const sensor::Result r = link.RequestRecord(); // flush, 55 05, the live wait
        if (r.code() == sensor::Result::Stopped) {
            capture::AcquisitionEnded();
            return 0;
        }
        if (r) {
            std::memcpy(heldHistory, alldata, sizeof alldata);
            std::memcpy(heldData, com232::databuf, AnzData);
            com232::GetRxBufData();
            com232::CopyDatatoVars();
            SetPanelData();
            ShowGraph();
            capture::Arrived();
        } else {
            TimeoutReport();
            link.StopLive();
        }
        link.CyclePause();
    }
    // Ended between cycles (Stop, close, another request): the last record is checked as
    // the next flush would have.
    if (!link.EndLive()) {
        takeBackRecord();
        TimeoutReport();
    }
    capture::AcquisitionEnded();
    return 0;
}

void ShowLiveValues() {
    using namespace com232;
    const unsigned edge = dataAdjedgeL + 256u * dataAdjedgeH;
    const unsigned in0 = dataAdjin0L + 256u * dataAdjin0H;
    const unsigned in1 = dataAdjin1L + 256u * dataAdjin1H;
    adjValid = in0 != 0;
    if (adjValid) {
        const unsigned win = (100u * in1) / in0;
        const unsigned edgePct = (100u * edge) / in0;
        SetCtrlVal(pnl(), PANEL_WIN, int(win));
        SetCtrlVal(pnl(), PANEL_EDGE, int(edgePct));
    }
    SetCtrlVal(pnl(), PANEL_DAT0, int(dataDat0));
    SetCtrlVal(pnl(), PANEL_DAT1, int(dataDat1));
    SetCtrlVal(pnl(), PANEL_NORM, int(dataNorm));
    SetCtrlVal(pnl(), PANEL_TRSH, int(dataTrshWork));
}

void SetPanelData() {
    using namespace com232;
    ShowLiveValues();
    GetCtrlVal(pnl(), PANEL_HYSTERESIS, &hysteresis);
    analysis::Shift(alldata, HistoryLen, -5, alldata);
    alldata[495] = dataDat0;
    alldata[496] = dataDat1;
    alldata[497] = dataNorm;
    alldata[498] = dataTrshWork;
    alldata[499] = hysteresis;
}

void ShowGraph() {
    if (source != 2) {
        // The chart shows exactly the history: the last 100 records, nothing from an
        // earlier drawing of it.
        SetCtrlAttribute(pnl(), PANEL_GRAPH_RAW, ATTR_POINTS_PER_SCREEN, 101);
        ClearStripChart(pnl(), PANEL_GRAPH_RAW);
        PlotStripChart(pnl(), PANEL_GRAPH_RAW, alldata, HistoryLen, 0, 0, VAL_DOUBLE);
        return;
    }
    com232::PanelLink().Pause(1.0);
    if (!adjValid) return;
    int edgeVal = 0, winVal = 0;
    GetCtrlVal(pnl(), PANEL_EDGE, &edgeVal);
    GetCtrlVal(pnl(), PANEL_WIN, &winVal);
    const unsigned char e = static_cast<unsigned char>(edgeVal & 0xFF);
    const unsigned char w = static_cast<unsigned char>(winVal & 0xFF);
    unsigned char edgeMarks[AdjPoints] = {};
    unsigned char winMarks[AdjPoints] = {};
    if (e < AdjPoints) edgeMarks[e] = 150;
    if (w < AdjPoints) winMarks[w] = 150;
    DeleteGraphPlot(pnl(), PANEL_GRAPH_ADJ, -1, 1);
    PlotY(pnl(), PANEL_GRAPH_ADJ, edgeMarks, AdjPoints, VAL_UNSIGNED_CHAR, VAL_CONNECTED_POINTS,
          VAL_EMPTY_SQUARE, VAL_SOLID, 1, VAL_BLUE);
    PlotY(pnl(), PANEL_GRAPH_ADJ, winMarks, AdjPoints, VAL_UNSIGNED_CHAR, VAL_CONNECTED_POINTS,
          VAL_EMPTY_SQUARE, VAL_SOLID, 1, VAL_RED);
}

void DispVis() {
    GetCtrlVal(pnl(), PANEL_SOURCE, &source);
    if (source == 0 || source == 1) {
        for (int c : {PANEL_GRAPH_JMPBUF, PANEL_GRAPH_ADJ, PANEL_EDGE, PANEL_WIN})
            setVisible(c, 0);
        for (int c : {PANEL_DAT0, PANEL_DAT1, PANEL_NORM, PANEL_GRAPH_RAW})
            setVisible(c, 1);
        const int raw = source == 0 ? 1 : 0;
        SetTraceAttribute(pnl(), PANEL_GRAPH_RAW, 1, ATTR_TRACE_VISIBLE, raw);
        SetTraceAttribute(pnl(), PANEL_GRAPH_RAW, 2, ATTR_TRACE_VISIBLE, raw);
        SetTraceAttribute(pnl(), PANEL_GRAPH_RAW, 3, ATTR_TRACE_VISIBLE, 1 - raw);
        SetTraceAttribute(pnl(), PANEL_GRAPH_RAW, 4, ATTR_TRACE_VISIBLE, 1 - raw);
        SetTraceAttribute(pnl(), PANEL_GRAPH_RAW, 5, ATTR_TRACE_VISIBLE, 1 - raw);
    } else if (source == 2) {
        for (int c : {PANEL_GRAPH_JMPBUF, PANEL_GRAPH_RAW, PANEL_DAT0, PANEL_DAT1, PANEL_NORM})
            setVisible(c, 0);
        for (int c : {PANEL_EDGE, PANEL_WIN, PANEL_GRAPH_ADJ})
            setVisible(c, 1);
    }
}

// ---- jump buffer --------------------------------------------------------------------

void GetJmpBuf() {
    com232::poll = 0;
    // The request's flush first settles a live record still waiting for its check.
    if (!com232::PanelLink().Request(sensor::req::JumpBuffer)) {
        TimeoutReport();
        return;
    }
    unsigned char line[JumpBufLen];
    for (int i = 0; i < JumpBufLen; ++i) {
        jumpbuf[i] = com232::szReadBuf[i];
        line[i] = com232::dataTrshWork;
    }
    jumpline = com232::dataTrshWork;
    DeleteGraphPlot(pnl(), PANEL_GRAPH_JMPBUF, -1, 1);
    setVisible(PANEL_GRAPH_ADJ, 0);
    setVisible(PANEL_GRAPH_RAW, 0);
    setVisible(PANEL_GRAPH_JMPBUF, 1);
    PlotY(pnl(), PANEL_GRAPH_JMPBUF, jumpbuf, JumpBufLen, VAL_UNSIGNED_CHAR, VAL_CONNECTED_POINTS,
          VAL_EMPTY_SQUARE, VAL_SOLID, 1, VAL_BLUE);
    PlotY(pnl(), PANEL_GRAPH_JMPBUF, line, JumpBufLen, VAL_UNSIGNED_CHAR, VAL_CONNECTED_POINTS,
          VAL_EMPTY_SQUARE, VAL_SOLID, 1, VAL_BLACK);
}

} // namespace gui
