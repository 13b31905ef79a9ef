#include "gui.h"

#include "panel_ids.h"
#include "analysis.h"
#include "capture.h"
#include "com232.h"
#include "runtime/runtime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace runtime;
using com232::AnzData;
using com232::AnzPara;
using com232::DATFILE;
using com232::EEPROM;
using com232::RAM;

namespace gui {

unsigned char para = 0;
int source = 0;
double alldata[HistoryLen] = {};
unsigned char jumpbuf[JumpBufLen] = {};
unsigned char jumpline = 0;
char file_name[260] = {};

namespace {

int pnl() {
    return Varnov30::panel;
}

const char* const deadTimeMs[16] = {"0",  "2",  "4",  "6",  "8",  "10", "12", "14",
                                    "16", "18", "20", "22", "24", "26", "28", "30"};
const char* const deadTimePercent[16] = {"0",  "6",  "12", "18", "24", "30", "36", "42",
                                         "48", "54", "60", "66", "72", "78", "84", "90"};

// False after a live record with an IN0 period of 0: the percentages have no meaning
// then, so the displays keep their values and the markers are left as they stand.
bool adjValid = true;

void setVisible(int control, int on) {
    SetCtrlAttribute(pnl(), control, ATTR_VISIBLE, on);
}
void setDimmed(int control, int on) {
    SetCtrlAttribute(pnl(), control, ATTR_DIMMED, on);
}

// Pumps events for `seconds`, without a pause between pumps; cut short when the
// program is closing.
void PumpFor(double seconds) {
    com232::tstart = Timer();
    com232::tdiff = 0.0;
    while (seconds > com232::tdiff && !QuitPending()) {
        ProcessSystemEvents();
        com232::tdiff = Timer() - com232::tstart;
    }
}

void fileMessage(const std::string& text) {
    MessagePopup("Parameter file", text.c_str());
}

} // namespace

// ---- conversions --------------------------------------------------------------------

unsigned char PowerPercentToCode(unsigned char percent) {
    // As the sensor's codes have always been sent: truncating, low 8 bits.
    return static_cast<unsigned char>(46 - (int(percent) * 46) / 100);
}

unsigned char PowerCodeToPercent(unsigned char code) {
    if (code > 46) return 0; // beyond "no intensity": the nearest meaning is 0 %
    // Of the percentages that are sent as this very code, the one nearest the exact
    // value: a block read from the sensor goes back unchanged.
    const double exact = (46 - code) * 100.0 / 46.0;
    int best = -1;
    for (int p = 0; p <= 100; ++p) {
        if (PowerPercentToCode(static_cast<unsigned char>(p)) != code) continue;
        if (best < 0 || std::abs(p - exact) < std::abs(best - exact)) best = p;
    }
    return static_cast<unsigned char>(best);
}

void GetPanelValues() {
    using namespace com232;
    GetCtrlVal(pnl(), PANEL_THRESHOLD, &threshold);
    GetCtrlVal(pnl(), PANEL_HYSTERESIS, &hysteresis);
    GetCtrlVal(pnl(), PANEL_TRIGGER, &trigger);
    GetCtrlVal(pnl(), PANEL_PMOD, &pmod);
    GetCtrlVal(pnl(), PANEL_POWER, &power);
    power = PowerPercentToCode(power);
    GetCtrlVal(pnl(), PANEL_HOLD, &hold);
    GetCtrlVal(pnl(), PANEL_BACKLIM, &backlim);
    GetCtrlVal(pnl(), PANEL_REGCNT, &regcnt);
    GetCtrlVal(pnl(), PANEL_AVERAGE, &average);
    GetCtrlVal(pnl(), PANEL_OUTMODE, &outmode);
    GetCtrlVal(pnl(), PANEL_DEADTIMEMODE, &deadtimemode);
    GetCtrlVal(pnl(), PANEL_DEADTIME, &deadtime);
    GetCtrlVal(pnl(), PANEL_TRSHMOD, &trshmod);
    GetCtrlVal(pnl(), PANEL_DELTATRSH, &deltatrsh);
}

void SetPanelValues() {
    using namespace com232;
    SetCtrlVal(pnl(), PANEL_THRESHOLD, unsigned(threshold));
    SetCtrlVal(pnl(), PANEL_HYSTERESIS, unsigned(hysteresis));
    SetCtrlVal(pnl(), PANEL_TRIGGER, unsigned(trigger));
    SetCtrlVal(pnl(), PANEL_PMOD, unsigned(pmod));
    power = PowerCodeToPercent(power);
    SetCtrlVal(pnl(), PANEL_POWER, unsigned(power));
    SetCtrlVal(pnl(), PANEL_HOLD, unsigned(hold));
    SetCtrlVal(pnl(), PANEL_BACKLIM, unsigned(backlim));
    SetCtrlVal(pnl(), PANEL_REGCNT, unsigned(regcnt));
    SetCtrlVal(pnl(), PANEL_AVERAGE, unsigned(average));
    SetCtrlVal(pnl(), PANEL_OUTMODE, unsigned(outmode));
    SetCtrlVal(pnl(), PANEL_DEADTIMEMODE, unsigned(deadtimemode));
    SetCtrlVal(pnl(), PANEL_DEADTIME, unsigned(deadtime));
    SetCtrlVal(pnl(), PANEL_TRSHMOD, unsigned(trshmod));
    SetCtrlVal(pnl(), PANEL_DELTATRSH, unsigned(deltatrsh));
}

// ---- dependency rules ---------------------------------------------------------------

void ApplyTrshModRule() {
    GetCtrlVal(pnl(), PANEL_TRSHMOD, &com232::trshmod);
    if (com232::trshmod == 0) {
        setDimmed(PANEL_DELTATRSH, 1);
        SetCtrlAttribute(pnl(), PANEL_THRESHOLD, ATTR_LABEL_TEXT, "TRESHOLD");
    } else {
        setDimmed(PANEL_DELTATRSH, 0);
        SetCtrlAttribute(pnl(), PANEL_THRESHOLD, ATTR_LABEL_TEXT, "MAX TRSH");
    }
}

void ApplyPmodRule() {
    GetCtrlVal(pnl(), PANEL_PMOD, &com232::pmod);
    if (com232::pmod == 0) {
        setDimmed(PANEL_POWER, 0);
        setDimmed(PANEL_REGCNT, 1);
    } else {
        setDimmed(PANEL_POWER, 1);
        setDimmed(PANEL_REGCNT, 0);
    }
}

void ApplyDeadTimeModeRule() {
    GetCtrlVal(pnl(), PANEL_DEADTIMEMODE, &com232::deadtimemode);
    const char* const* labels = com232::deadtimemode == 0 ? deadTimePercent : deadTimeMs;
    SetCtrlAttribute(pnl(), PANEL_DEADTIME, ATTR_LABEL_TEXT,
                     com232::deadtimemode == 0 ? "DEAD TIME[%]" : "DEAD TIME[ms]");
    for (int i = 0; i < 16; ++i)
        ReplaceListItem(pnl(), PANEL_DEADTIME, i, labels[i], i);
}

void ApplyTriggerRule() {
    GetCtrlVal(pnl(), PANEL_TRIGGER, &com232::trigger);
    const int dim = com232::trigger == 0 ? 0 : 1;
    setDimmed(PANEL_DEADTIMEMODE, dim);
    setDimmed(PANEL_DEADTIME, dim);
}

void InitPanelValues() {
    ApplyTrshModRule();
    ApplyPmodRule();
    ApplyDeadTimeModeRule();
    ApplyTriggerRule();
}

void ParaVis() {
    for (int c : {PANEL_BACKLIM, PANEL_REGCNT, PANEL_AVERAGE, PANEL_OUTMODE, PANEL_DEADTIMEMODE,
                  PANEL_DEADTIME})
        setVisible(c, 0);
    for (int c : {PANEL_THRESHOLD, PANEL_TRSHMOD, PANEL_DELTATRSH, PANEL_HYSTERESIS, PANEL_TRIGGER,
                  PANEL_PMOD, PANEL_POWER, PANEL_HOLD})
        setVisible(c, 1);
}

void ParaInVis() {
    for (int c : {PANEL_THRESHOLD, PANEL_TRSHMOD, PANEL_DELTATRSH, PANEL_HYSTERESIS, PANEL_TRIGGER,
                  PANEL_PMOD, PANEL_POWER, PANEL_HOLD})
        setVisible(c, 0);
    for (int c : {PANEL_BACKLIM, PANEL_REGCNT, PANEL_AVERAGE, PANEL_OUTMODE, PANEL_DEADTIMEMODE,
                  PANEL_DEADTIME})
        setVisible(c, 1);
}

// ---- parameter transfer -------------------------------------------------------------

void SendPara() {
    com232::poll = 0;
    const unsigned char code = com232::target == RAM ? 1 : 2;
    GetPanelValues();
    com232::CopyVarsToPP();
    com232::SendRequest(code);
    if (com232::nBytesW != AnzPara + 2) com232::TimeoutReport();
}

void GetPara() {
    com232::poll = 0;
    // Only EEPROM has a read of its own; any other target reads the working RAM.
    const unsigned char code = com232::target == EEPROM ? 4 : 3;
    SettlePendingRecord();
    FlushInQ(com232::com);
    FlushOutQ(com232::com);
    com232::SendRequest(code);
    if (com232::AwaitReply(AnzPara) == com232::Reply::Complete) {
        com232::GetRxBufPara();
        com232::CopyPPtoVars();
        SetPanelValues();
        InitPanelValues();
    } else {
        com232::TimeoutReport();
    }
}

void PreRequestDelay() {
    PumpFor(com232::target == 2 ? 1.5 : 0.1);
}

// ---- live data ----------------------------------------------------------------------

namespace {

// The record shown last is taken as good only once the line was found quiet behind it
// (at the next cycle's flush, or when the acquisition ends); until then what it replaced
// is kept, so that a record followed by strays can be taken back.
bool recordPending = false;
unsigned char heldRecord[AnzData] = {};
double heldHistory[HistoryLen] = {};

void holdRecord() {
    std::memcpy(heldRecord, com232::databuf, AnzData);
    std::memcpy(heldHistory, alldata, sizeof alldata);
}

// Stray bytes behind the last record: it may have been the front of a longer reply.
// The displays, the history and the live values go back to the record before it.
void takeBackRecord() {
    std::memcpy(com232::databuf, heldRecord, AnzData);
    com232::CopyDatatoVars();
    std::memcpy(alldata, heldHistory, sizeof alldata);
    ShowLiveValues();
    if (source != 2) ShowGraph();
}

// A record still waiting for its check is settled before any reading request flushes the
// queues, since the flush would hide what followed it: taken as good when the line is
// quiet, otherwise marked spoiled for the acquisition to take back and report.
bool spoiled = false;

} // namespace

void SettlePendingRecord() {
    if (!recordPending) return;
    recordPending = false;
    if (GetInQLen(com232::com) > 0) {
        spoiled = true;
        return;
    }
    ++confirmedRecords;
    capture::Confirmed(); // its row, when recording
}

namespace {

// True when the last record is confirmed (or there is none); false after strays, which
// have then been reported. Requests run inside the pump settle it themselves first.
bool confirmRecord() {
    if (recordPending) {
        ProcessSystemEvents(); // what arrived during the pause reaches the input queue
        SettlePendingRecord();
    }
    if (!spoiled) return true;
    spoiled = false;
    takeBackRecord();
    com232::TimeoutReport();
    return false;
}

} // namespace

int confirmedRecords = 0;

int GetData() {
    if (QuitPending()) return 0; // the window is closing: no new acquisition
    com232::order = 5;
    com232::poll = 1;
    DispVis();
    // Started inside another acquisition's pause: that one's last record is settled here.
    if (!confirmRecord()) {
        com232::poll = 0;
        return 0;
    }
    while (com232::poll == 1) {
        if (!confirmRecord()) {
            com232::poll = 0;
            break;
        }
        if (com232::poll != 1) break; // stopped while the line was looked at
        FlushInQ(com232::com);
        FlushOutQ(com232::com);
        com232::SendRequest(com232::order);
        const com232::Reply r = com232::AwaitReply(AnzData, true);
        if (r == com232::Reply::Stopped) {
            capture::AcquisitionEnded();
            return 0;
        }
        if (r == com232::Reply::Complete) {
            holdRecord();
            com232::GetRxBufData();
            com232::CopyDatatoVars();
            SetPanelData();
            ShowGraph();
            capture::Arrived();
            recordPending = true;
        } else {
            com232::TimeoutReport();
            com232::poll = 0;
        }
        ProcessSystemEvents();
        Sleep(50);
    }
    // Ended between cycles (Stop, close, another request): the last record is checked as
    // the next flush would have.
    confirmRecord();
    recordPending = false;
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
    PumpFor(1.0);
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
    com232::order = 6;
    SettlePendingRecord();
    FlushInQ(com232::com);
    FlushOutQ(com232::com);
    com232::SendRequest(com232::order);
    if (com232::AwaitReply(JumpBufLen) != com232::Reply::Complete) {
        com232::TimeoutReport();
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

// ---- parameter file -----------------------------------------------------------------

namespace {

// The dialog, shared by save and load. Returns its result; a path too long for
// file_name is refused with a message and counts as no choice.
int ChooseParameterFile() {
    const int r =
        FileSelectPopup(Varnov30::proj_dir, "init.dat", "*.dat", "init", 0, 0, 1, 1, 1, file_name);
    if (r == UIE_BUFFER_TOO_SMALL) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "The chosen path is too long: at most %zu characters are possible.\n"
                      "Please choose a shorter path.",
                      sizeof file_name - 1);
        fileMessage(text);
    }
    return r;
}

} // namespace

int SendParaToFile() {
    const int r = ChooseParameterFile();
    if (r < 1) return r;
    GetPanelValues();
    com232::CopyVarsToPP();
    const int rc =
        ArrayToFile(file_name, com232::pp, VAL_UNSIGNED_CHAR, AnzPara, 1, 0, 0, 0, 4, 1, 0);
    if (rc == FILE_NOT_A_FILE) {
        const char* what = "a special file";
        ExaminePath(file_name, &what);
        fileMessage(std::string("The parameter file\n") + file_name +
                    "\ncould not be saved: it is " + what +
                    ", not a regular file, and was left as it is.\n"
                    "The parameters are still on the panel; nothing was lost.");
        return rc;
    }
    if (rc < 0) {
        fileMessage(std::string("The parameter file\n") + file_name +
                    "\ncould not be saved (the folder may be protected or the disk full).\n"
                    "The parameters are still on the panel; nothing was lost.");
        return rc;
    }
    return 0;
}

void ReadParaFromFile() {
    if (ChooseParameterFile() < 1) return;
    unsigned char block[AnzPara];
    const int rc = FileToArray(file_name, block, VAL_UNSIGNED_CHAR, AnzPara, 1, 0, 0, 1);
    if (rc < 0) {
        std::string why;
        const int line = LastFileErrorLine();
        switch (rc) {
        case FILE_CANNOT_OPEN: {
            // Said without opening it again: a FIFO would hold the program.
            const char* what = "nothing";
            const PathKind kind = ExaminePath(file_name, &what);
            if (kind == PathKind::NotAFile)
                why = std::string("it is ") + what + ", not a regular file";
            else if (kind == PathKind::Absent)
                why = "it does not exist";
            else if (*LastFileOpenError())
                why = std::string("it cannot be opened (") + LastFileOpenError() + ")";
            else
                why = "it does not exist or cannot be opened";
            break;
        }
        case FILE_TOO_FEW_VALUES:
            why = "it holds fewer than 15 values";
            break;
        case FILE_TOO_MANY_VALUES:
            why = "it holds more than 15 values (the 16th is on line " + std::to_string(line) + ")";
            break;
        case FILE_TOO_LARGE:
            why = "it is far too large to be a parameter file";
            break;
        case FILE_BAD_VALUE:
            why = "line " + std::to_string(line) +
                  " holds a value that is not a whole number from 0 to 255";
            break;
        default:
            why = "it is not a parameter file";
            break;
        }
        fileMessage(std::string("The parameter file\n") + file_name +
                    "\ncould not be loaded: " + why + ".\nThe panel is unchanged.");
        return;
    }
    std::memcpy(com232::pp, block, AnzPara);
    com232::CopyPPtoVars();
    SetPanelValues();
    InitPanelValues();
}

} // namespace gui
