#include "gui.h"

#include "panel_ids.h"
#include "capture.h"
#include "com232.h"
#include "runtime/runtime.h"
#include "sensor/paramfile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace runtime;
using com232::AnzData;
using com232::AnzPara;

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

void setVisible(int control, int on) {
    SetCtrlAttribute(pnl(), control, ATTR_VISIBLE, on);
}
void setDimmed(int control, int on) {
    SetCtrlAttribute(pnl(), control, ATTR_DIMMED, on);
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
    GetPanelValues();
    com232::CopyVarsToPP();
    // 55 01 for RAM, 55 02 otherwise; a failure is a frame the port did not take whole.
    if (!com232::PanelLink().WriteBlock(com232::target)) TimeoutReport();
}

void GetPara() {
    com232::poll = 0;
    // Only EEPROM has a read of its own; any other target reads the working RAM. The
    // request's flush first settles a live record still waiting for its check.
    if (com232::PanelLink().Request(sensor::ReadCode(com232::target))) {
        com232::GetRxBufPara();
        com232::CopyPPtoVars();
        SetPanelValues();
        InitPanelValues();
    } else {
        TimeoutReport();
    }
}

void PreRequestDelay() {
    com232::PanelLink().Pause(sensor::PauseBefore(com232::target));
}

// ---- the panel's side of the link -----------------------------------------------------

void TimeoutReport() {
    if (QuitPending()) return;
    if (com232::unattended) {
        if (GetInQLen(com232::com) < 0) {
            com232::ShowPortLost(com232::com);
        } else {
            std::strcpy(com232::szStatus, "TIMEOUT");
            SetCtrlVal(pnl(), PANEL_STATUS, com232::szStatus);
        }
        return;
    }
    SetCtrlVal(pnl(), PANEL_STATUS, "TIMEOUT");
    MessagePopup("INFO", com232::InfoTimeout);
}

namespace {

// What the link leaves to the panel, and a row for each live record taken as good.
const bool linkSideSet = [] {
    com232::PanelSide side;
    side.showStatus = [](const char* text) { SetCtrlVal(pnl(), PANEL_STATUS, text); };
    side.showOpenFailure = [](const char* reason) {
        SetCtrlAttribute(pnl(), PANEL_STATUS, ATTR_TOOLTIP_TEXT, reason);
    };
    side.timeoutReport = TimeoutReport;
    side.lineOk = GetPara;
    com232::SetPanelSide(side);
    com232::PanelLink().OnGoodRecord(RecordTakenAsGood);
    return true;
}();

} // namespace

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
    std::string why;
    if (!sensor::WriteParamFile(file_name, com232::pp, &why)) {
        if (!why.empty()) {
            fileMessage(std::string("The parameter file\n") + file_name +
                        "\ncould not be saved: " + why +
                        ", and was left as it is.\n"
                        "The parameters are still on the panel; nothing was lost.");
            return FILE_NOT_A_FILE;
        }
        fileMessage(std::string("The parameter file\n") + file_name +
                    "\ncould not be saved (the folder may be protected or the disk full).\n"
                    "The parameters are still on the panel; nothing was lost.");
        return FILE_WRITE_FAILED;
    }
    return 0;
}

void ReadParaFromFile() {
    if (ChooseParameterFile() < 1) return;
    unsigned char block[AnzPara];
    std::string why;
    if (!sensor::ReadParamFile(file_name, block, why)) {
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
