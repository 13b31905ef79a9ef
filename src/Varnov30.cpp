#include "Varnov30.h"
#include "runtime/log.h"

#include "capture.h"
#include "com232.h"
#include "gui.h"
#include "logo.h"
#include "runtime/runtime.h"

#include <cstdio>
#include <cstring>

using namespace runtime;

namespace Varnov30 {

int panel = 0;
char proj_dir[260] = {};

// ---- start-up and shutdown ----------------------------------------------------------

namespace {

// The controls the program addresses, with the kind each must be.
struct MapEntry {
    int id;
    const char* name;
    const char* kind;
};
const MapEntry controlMap[] = {
    {PANEL_COMPORT, "PORT (PANEL_COMPORT)", "ring"},
    {PANEL_SELECT_FILE, "FILE (PANEL_SELECT_FILE)", "toggle"},
    {PANEL_SELECT_EEPROM, "EE (PANEL_SELECT_EEPROM)", "toggle"},
    {PANEL_SELECT_RAM, "RAM (PANEL_SELECT_RAM)", "toggle"},
    {PANEL_LOGO, "PANEL_LOGO", "picture"},
    {PANEL_STATUS, "STATUS (PANEL_STATUS)", "string"},
    {PANEL_OUTMODE, "PANEL_OUTMODE", "ring"},
    {PANEL_AVERAGE, "PANEL_AVERAGE", "numeric"},
    {PANEL_HOLD, "PANEL_HOLD", "numeric"},
    {PANEL_TRIGGER, "PANEL_TRIGGER", "ring"},
    {PANEL_DEADTIME, "PANEL_DEADTIME", "ring"},
    {PANEL_DEADTIMEMODE, "PANEL_DEADTIMEMODE", "ring"},
    {PANEL_GRAPH_ADJ, "PANEL_GRAPH_ADJ", "graph"},
    {PANEL_GRAPH_JMPBUF, "PANEL_GRAPH_JMPBUF", "graph"},
    {PANEL_SOURCE, "SOURCE (PANEL_SOURCE)", "ring"},
    {PANEL_REGCNT, "PANEL_REGCNT", "numeric"},
    {PANEL_TRSHMOD, "PANEL_TRSHMOD", "ring"},
    {PANEL_PMOD, "PANEL_PMOD", "ring"},
    {PANEL_BACKLIM, "PANEL_BACKLIM", "numeric"},
    {PANEL_DAT0, "PANEL_DAT0", "numeric"},
    {PANEL_DAT1, "PANEL_DAT1", "numeric"},
    {PANEL_TRSH, "PANEL_TRSH", "numeric"},
    {PANEL_NORM, "PANEL_NORM", "numeric"},
    {PANEL_EDGE, "PANEL_EDGE", "numeric"},
    {PANEL_WIN, "PANEL_WIN", "numeric"},
    {PANEL_PARA_VISIBLE, "PANEL_PARA_VISIBLE", "toggle"},
    {PANEL_POWER, "PANEL_POWER", "numeric"},
    {PANEL_DELTATRSH, "PANEL_DELTATRSH", "numeric"},
    {PANEL_HYSTERESIS, "PANEL_HYSTERESIS", "numeric"},
    {PANEL_THRESHOLD, "PANEL_THRESHOLD", "numeric"},
    {PANEL_LOGO_FRAME, "PANEL_LOGO_FRAME", "decoration"},
    {PANEL_GRAPH_RAW, "PANEL_GRAPH_RAW", "strip"},
};

// A panel file is damaged when a control of the map is missing or of another kind.
bool PanelComplete(int pnl) {
    bool ok = true;
    for (const MapEntry& e : controlMap) {
        const char* kind = CtrlKindName(pnl, e.id);
        if (kind && std::strcmp(kind, e.kind) == 0) continue;
        log::WarningF(log::Panel, "varno: panel file Varnov30.uir is damaged: control %s (id %d) %s",
                     e.name, e.id, kind ? "is of another kind" : "is missing");
        ok = false;
    }
    return ok;
}

} // namespace

namespace {
bool reconnecting = false; // the port is being opened again after its device came back

// What the operator starts is his, with its usual reports, even when it runs while the
// program is opening the port again by itself.
struct OperatorAction {
    bool was = com232::unattended;
    OperatorAction() { com232::unattended = false; }
    ~OperatorAction() { com232::unattended = was; }
    OperatorAction(const OperatorAction&) = delete;
    OperatorAction& operator=(const OperatorAction&) = delete;
};
} // namespace

void PortEvent(int port, int event) {
    if (port != com232::com) return; // the operator has chosen another port since
    if (event == PORT_LOST) {
        if (com232::poll == 1) {
            com232::poll = 0; // the acquisition ends as a failed reply ends it
            com232::TimeoutReport();
        }
        com232::ShowPortLost(port);
    } else if (event == PORT_BACK && !reconnecting && !QuitPending() && GetInQLen(port) < 0) {
        // (a notice still queued when the operator had reopened the port is stale; one
        // that comes while the port is being opened again is told again a second later)
        reconnecting = true;
        com232::unattended = true;
        ReopenPort();
        com232::unattended = false;
        reconnecting = false;
    }
}

void ReopenPort() {
    com232::poll = 0;
    CloseCom(com232::com);
    GetCtrlVal(panel, PANEL_COMPORT, &com232::com);
    SetCtrlVal(panel, PANEL_STATUS, "Init COM-Port ...");
    com232::InitRS232(com232::com);
}

int WinMain(void* hInstance, void* /*hPrevInstance*/, char* /*lpszCmdLine*/, int /*nCmdShow*/) {
    (void)hInstance;
    if (!RuntimeReady()) return -1;
    RegisterCallbackTable();
    panel = LoadPanel(0, "Varnov30.uir", PANEL);
    if (panel < 0) return -1;
    if (!PanelComplete(panel)) {
        DiscardPanel(panel);
        return -1;
    }
    InstallPortEventCallback(PortEvent);
    if (GetProjectDir(proj_dir) < 0) {
        // Never a truncated folder: the file dialog then starts in the working folder.
        log::WarningF(log::Panel, "varno: program folder path too long; the file dialog starts in "
                             "the working folder");
        proj_dir[0] = '\0';
    }
    InitVars();
    capture::Init();
    com232::InitRS232(com232::com);
    DisplayPanel(panel);
    RunUserInterface();
    capture::Finish();
    CloseCom(com232::com);
    DiscardPanel(panel);
    return 0;
}

void InitVars() {
    com232::com = 1;
    com232::sync = 0x55;
    com232::order = sensor::req::WriteRam; // the RAM target's write
    com232::target = com232::RAM;
    com232::poll = 0;
    std::strcpy(com232::szStatus, "InitVars");
    SetCtrlVal(panel, PANEL_STATUS, com232::szStatus);
    SetCtrlVal(panel, PANEL_PARA_VISIBLE, 1);
    GetCtrlVal(panel, PANEL_PARA_VISIBLE, &gui::para);
    gui::ParaVis();
    gui::DispVis();
    logo::ShowLogo(5);
    gui::GetPanelValues();
}

int CBF_P(int /*panel*/, int event, void*, int, int) {
    if (event == EVENT_CLOSE) {
        com232::poll = 0;
        QuitUserInterface(0);
    }
    return 0;
}

// ---- control callbacks --------------------------------------------------------------

namespace {

void help(const char* text) { MessagePopup("Info", text); }

} // namespace

#define HELP_ONLY(name, text)                                                              \
    VARNO_CTRL_CALLBACK(name) {                                                            \
        (void)panel, (void)control, (void)callbackData, (void)eventData1, (void)eventData2; \
        if (event == EVENT_RIGHT_CLICK) help(text);                                        \
        return 0;                                                                          \
    }

#define ON_COMMIT(name, text, action)                                                      \
    VARNO_CTRL_CALLBACK(name) {                                                            \
        (void)panel, (void)control, (void)callbackData, (void)eventData1, (void)eventData2; \
        if (event == EVENT_COMMIT) {                                                       \
            OperatorAction byOperator;                                                     \
            action;                                                                        \
        } else if (event == EVENT_RIGHT_CLICK) {                                           \
            help(text);                                                                    \
        }                                                                                  \
        return 0;                                                                          \
    }

// The decorations stand for one row of the parameter area: the help of the control on
// show answers.
#define DECO(name, first, second)                                                          \
    VARNO_CTRL_CALLBACK(name) {                                                            \
        (void)panel, (void)control, (void)callbackData, (void)eventData1, (void)eventData2; \
        if (event == EVENT_RIGHT_CLICK) help(gui::para == 1 ? first : second);             \
        return 0;                                                                          \
    }

// Once the window's close has been handled, no request starts: closing always ends
// the program, however many presses were waiting.
ON_COMMIT(CBF_EditConnect, InfoEditConnect, {
    if (QuitPending()) return 0;
    ReopenPort();
})

ON_COMMIT(CBF_ButtonSend, InfoButtonSend, {
    if (QuitPending()) return 0;
    if (com232::target == com232::DATFILE) gui::SendParaToFile();
    else gui::SendPara();
})

ON_COMMIT(CBF_ButtonGet, InfoButtonGet, {
    gui::PreRequestDelay();
    if (QuitPending()) return 0;
    if (com232::target == com232::DATFILE) gui::ReadParaFromFile();
    else gui::GetPara();
})

ON_COMMIT(CBF_ButtonGo, InfoButtonGo, {
    gui::PreRequestDelay();
    gui::GetData(); // starts nothing once the program is closing
})

ON_COMMIT(CBF_ButtonStop, InfoButtonStop, { com232::poll = 0; })

ON_COMMIT(CBF_ButtonGetBuff, InfoButtonGetBuff, {
    gui::PreRequestDelay();
    if (QuitPending()) return 0;
    gui::GetJmpBuf();
})

namespace {

// One of the three target toggles changed: exactly one stays on, RAM is the fallback.
void selectTarget(int panel, int own, int ownTarget, int otherA, int otherB) {
    int on = 0;
    GetCtrlVal(panel, own, &on);
    if (on == 1) {
        SetCtrlVal(panel, own, 1);
        com232::target = ownTarget;
        SetCtrlVal(panel, otherA, 0);
        SetCtrlVal(panel, otherB, 0);
    } else {
        com232::target = com232::RAM;
        SetCtrlVal(panel, PANEL_SELECT_RAM, 1);
    }
}

} // namespace

#define ON_VALUE_CHANGED(name, text, action)                                               \
    VARNO_CTRL_CALLBACK(name) {                                                            \
        (void)control, (void)callbackData, (void)eventData1, (void)eventData2;             \
        if (event == EVENT_VAL_CHANGED) {                                                  \
            action;                                                                        \
        } else if (event == EVENT_RIGHT_CLICK) {                                           \
            help(text);                                                                    \
        }                                                                                  \
        return 0;                                                                          \
    }

ON_VALUE_CHANGED(CBF_SelectRAM, InfoSelectMEM,
                 selectTarget(panel, PANEL_SELECT_RAM, com232::RAM, PANEL_SELECT_EEPROM,
                              PANEL_SELECT_FILE))
ON_VALUE_CHANGED(CBF_SelectEEPROM, InfoSelectMEM,
                 selectTarget(panel, PANEL_SELECT_EEPROM, com232::EEPROM, PANEL_SELECT_RAM,
                              PANEL_SELECT_FILE))
ON_VALUE_CHANGED(CBF_SelectFILE, InfoSelectMEM,
                 selectTarget(panel, PANEL_SELECT_FILE, com232::DATFILE, PANEL_SELECT_EEPROM,
                              PANEL_SELECT_RAM))

ON_COMMIT(CBF_ParaVisible, InfoSwitchPara, {
    GetCtrlVal(panel, PANEL_PARA_VISIBLE, &gui::para);
    if (gui::para == 0) gui::ParaInVis();
    else gui::ParaVis();
})

ON_COMMIT(CBF_SelectSource, InfoSelectSource, gui::DispVis())
HELP_ONLY(CBF_EditThreshold, InfoEditThreshold)
ON_COMMIT(CBF_EditTrshMod, InfoEditThrsMod, gui::ApplyTrshModRule())
HELP_ONLY(CBF_EditDeltaTrsh, InfoEditDeltaTrsh)
HELP_ONLY(CBF_EditHysteresis, InfoEditHysteresis)
ON_COMMIT(CBF_EditTrigger, InfoEditTrigger, gui::ApplyTriggerRule())
ON_COMMIT(CBF_EditPmod, InfoEditPmod, gui::ApplyPmodRule())
HELP_ONLY(CBF_EditPower, InfoEditPower)
HELP_ONLY(CBF_EditHold, InfoEditHold)
HELP_ONLY(CBF_EditBacklim, InfoEditBacklim)
HELP_ONLY(CBF_EditRegcnt, InfoEditRegcnt)
HELP_ONLY(CBF_EditAverage, InfoEditAverage)
HELP_ONLY(CBF_EditOutmode, InfoEditOutmode)
ON_COMMIT(CBF_EditDeadTimeMode, InfoEditDeadTimeMode, gui::ApplyDeadTimeModeRule())
HELP_ONLY(CBF_EditDeadTime, InfoEditDeadTime)
DECO(CBF_DECO1, InfoEditThreshold, InfoEditBacklim)
DECO(CBF_DECO2, InfoEditHysteresis, InfoEditRegcnt)
DECO(CBF_DECO3, InfoEditTrigger, InfoEditAverage)
DECO(CBF_DECO4, InfoEditHold, InfoEditOutmode)
DECO(CBF_DECO5, InfoEditPmod, InfoEditDeadTimeMode)
DECO(CBF_DECO6, InfoEditPower, InfoEditDeadTime)
HELP_ONLY(CBF_DispDat0, InfoDispDat0)
HELP_ONLY(CBF_DispDat1, InfoDispDat1)
HELP_ONLY(CBF_DispNORM, InfoDispNORM)
HELP_ONLY(CBF_DispTRSH, InfoDispTrsh)
HELP_ONLY(CBF_DispEdge, InfoDispEDGE)
HELP_ONLY(CBF_DispWin, InfoDispWIN)
HELP_ONLY(CBF_DispStatus, InfoStatus)
HELP_ONLY(CBF_GraphRaw1, InfoGraph)
HELP_ONLY(CBF_GraphData1, InfoGraphData1)
HELP_ONLY(CBF_GraphData2, InfoGraphData2)
ON_COMMIT(CBF_ToggleRecord, InfoButtonRecord, capture::ToggleRecord())
HELP_ONLY(CBF_DispRecord, InfoDispRecord)
ON_COMMIT(CBF_ButtonExport, InfoButtonExport, capture::Export(gui::jumpbuf, gui::jumpline))

// ---- callback table -----------------------------------------------------------------

void RegisterCallbackTable() {
#define C(fn) {#fn, fn, nullptr}
    static const CallbackEntry table[] = {
        {"CBF_P", nullptr, CBF_P},
        C(CBF_EditConnect),      C(CBF_ButtonSend),    C(CBF_ButtonGet),
        C(CBF_ButtonGo),         C(CBF_ButtonStop),    C(CBF_ButtonGetBuff),
        C(CBF_SelectRAM),        C(CBF_SelectEEPROM),  C(CBF_SelectFILE),
        C(CBF_ParaVisible),      C(CBF_SelectSource),  C(CBF_EditThreshold),
        C(CBF_EditTrshMod),      C(CBF_EditDeltaTrsh), C(CBF_EditHysteresis),
        C(CBF_EditTrigger),      C(CBF_EditPmod),      C(CBF_EditPower),
        C(CBF_EditHold),         C(CBF_EditBacklim),   C(CBF_EditRegcnt),
        C(CBF_EditAverage),      C(CBF_EditOutmode),   C(CBF_EditDeadTimeMode),
        C(CBF_EditDeadTime),     C(CBF_DECO1),         C(CBF_DECO2),
        C(CBF_DECO3),            C(CBF_DECO4),         C(CBF_DECO5),
        C(CBF_DECO6),            C(CBF_DispDat0),      C(CBF_DispDat1),
        C(CBF_DispNORM),         C(CBF_DispTRSH),      C(CBF_DispEdge),
        C(CBF_DispWin),          C(CBF_DispStatus),    C(CBF_GraphRaw1),
        C(CBF_GraphData1),       C(CBF_GraphData2),    C(CBF_ToggleRecord),
        C(CBF_DispRecord),       C(CBF_ButtonExport),
    };
#undef C
    RegisterCallbacks(table, sizeof table / sizeof table[0]);
}

} // namespace Varnov30
