// The program's frame: start-up, the panel callback, every control callback and the
// help texts. The control ids are those of the panel file Varnov30.uir.
#pragma once

// ---- panel and control ids ----------------------------------------------------------
constexpr int PANEL = 1;
constexpr int PANEL_COMPORT = 2;
constexpr int PANEL_SELECT_FILE = 9;
constexpr int PANEL_SELECT_EEPROM = 10;
constexpr int PANEL_SELECT_RAM = 11;
constexpr int PANEL_LOGO = 12;
constexpr int PANEL_STATUS = 13;
constexpr int PANEL_OUTMODE = 14;
constexpr int PANEL_AVERAGE = 15;
constexpr int PANEL_HOLD = 16;
constexpr int PANEL_TRIGGER = 18;
constexpr int PANEL_DEADTIME = 19;
constexpr int PANEL_DEADTIMEMODE = 20;
constexpr int PANEL_GRAPH_ADJ = 21;
constexpr int PANEL_GRAPH_JMPBUF = 22;
constexpr int PANEL_SOURCE = 23;
constexpr int PANEL_REGCNT = 24;
constexpr int PANEL_TRSHMOD = 25;
constexpr int PANEL_PMOD = 26;
constexpr int PANEL_BACKLIM = 27;
constexpr int PANEL_DAT0 = 28;
constexpr int PANEL_DAT1 = 29;
constexpr int PANEL_TRSH = 31;
constexpr int PANEL_NORM = 32;
constexpr int PANEL_EDGE = 33;
constexpr int PANEL_WIN = 34;
constexpr int PANEL_PARA_VISIBLE = 35;
constexpr int PANEL_POWER = 36;
constexpr int PANEL_DELTATRSH = 37;
constexpr int PANEL_HYSTERESIS = 38;
constexpr int PANEL_THRESHOLD = 40;
constexpr int PANEL_LOGO_FRAME = 41;
constexpr int PANEL_GRAPH_RAW = 42;
// Command buttons and decorations (never addressed by the program).
constexpr int PANEL_BUTTON_SEND = 50;
constexpr int PANEL_BUTTON_GET = 51;
constexpr int PANEL_BUTTON_GO = 52;
constexpr int PANEL_BUTTON_STOP = 53;
constexpr int PANEL_BUTTON_GETBUFF = 54;
constexpr int PANEL_DECO1 = 61;
constexpr int PANEL_DECO2 = 62;
constexpr int PANEL_DECO3 = 63;
constexpr int PANEL_DECO4 = 64;
constexpr int PANEL_DECO5 = 65;
constexpr int PANEL_DECO6 = 66;

namespace Varnov30 {

extern int panel;
extern char proj_dir[260];

int WinMain(void* hInstance, void* hPrevInstance, char* lpszCmdLine, int nCmdShow);
void InitVars();
// The steps of a port change: the port chosen in PORT is opened again, checked and read.
// Also run by itself when a lost port's device comes back.
void ReopenPort();
// A port that went away while open (PORT_LOST: the status line says so, a running
// acquisition ends) and its device coming back (PORT_BACK: ReopenPort). Installed as the
// run-time's port-event callback by WinMain.
void PortEvent(int port, int event);
// Registers the callback names of the panel file with the run-time.
void RegisterCallbackTable();

int CBF_P(int panel, int event, void* callbackData, int eventData1, int eventData2);

#define VARNO_CTRL_CALLBACK(name)                                                          \
    int name(int panel, int control, int event, void* callbackData, int eventData1,        \
             int eventData2)
VARNO_CTRL_CALLBACK(CBF_EditConnect);
VARNO_CTRL_CALLBACK(CBF_ButtonSend);
VARNO_CTRL_CALLBACK(CBF_ButtonGet);
VARNO_CTRL_CALLBACK(CBF_ButtonGo);
VARNO_CTRL_CALLBACK(CBF_ButtonStop);
VARNO_CTRL_CALLBACK(CBF_ButtonGetBuff);
VARNO_CTRL_CALLBACK(CBF_SelectRAM);
VARNO_CTRL_CALLBACK(CBF_SelectEEPROM);
VARNO_CTRL_CALLBACK(CBF_SelectFILE);
VARNO_CTRL_CALLBACK(CBF_ParaVisible);
VARNO_CTRL_CALLBACK(CBF_SelectSource);
VARNO_CTRL_CALLBACK(CBF_EditThreshold);
VARNO_CTRL_CALLBACK(CBF_EditTrshMod);
VARNO_CTRL_CALLBACK(CBF_EditDeltaTrsh);
VARNO_CTRL_CALLBACK(CBF_EditHysteresis);
VARNO_CTRL_CALLBACK(CBF_EditTrigger);
VARNO_CTRL_CALLBACK(CBF_EditPmod);
VARNO_CTRL_CALLBACK(CBF_EditPower);
VARNO_CTRL_CALLBACK(CBF_EditHold);
VARNO_CTRL_CALLBACK(CBF_EditBacklim);
VARNO_CTRL_CALLBACK(CBF_EditRegcnt);
VARNO_CTRL_CALLBACK(CBF_EditAverage);
VARNO_CTRL_CALLBACK(CBF_EditOutmode);
VARNO_CTRL_CALLBACK(CBF_EditDeadTimeMode);
VARNO_CTRL_CALLBACK(CBF_EditDeadTime);
VARNO_CTRL_CALLBACK(CBF_DECO1);
VARNO_CTRL_CALLBACK(CBF_DECO2);
VARNO_CTRL_CALLBACK(CBF_DECO3);
VARNO_CTRL_CALLBACK(CBF_DECO4);
VARNO_CTRL_CALLBACK(CBF_DECO5);
VARNO_CTRL_CALLBACK(CBF_DECO6);
VARNO_CTRL_CALLBACK(CBF_DispDat0);
VARNO_CTRL_CALLBACK(CBF_DispDat1);
VARNO_CTRL_CALLBACK(CBF_DispNORM);
VARNO_CTRL_CALLBACK(CBF_DispTRSH);
VARNO_CTRL_CALLBACK(CBF_DispEdge);
VARNO_CTRL_CALLBACK(CBF_DispWin);
VARNO_CTRL_CALLBACK(CBF_DispStatus);
VARNO_CTRL_CALLBACK(CBF_GraphRaw1);
VARNO_CTRL_CALLBACK(CBF_GraphData1);
VARNO_CTRL_CALLBACK(CBF_GraphData2);

// ---- help texts ---------------------------------------------------------------------
extern const char InfoButtonGo[], InfoButtonStop[], InfoButtonSend[], InfoButtonGet[],
    InfoButtonGetBuff[], InfoEditThreshold[], InfoEditThrsMod[], InfoEditDeltaTrsh[],
    InfoEditHysteresis[], InfoEditTrigger[], InfoEditPmod[], InfoEditPower[], InfoEditHold[],
    InfoEditBacklim[], InfoEditRegcnt[], InfoEditAverage[], InfoEditOutmode[],
    InfoEditDeadTimeMode[], InfoEditDeadTime[], InfoEditConnect[], InfoSelectSource[],
    InfoSelectMEM[], InfoSwitchPara[], InfoDispDat0[], InfoDispDat1[], InfoDispNORM[],
    InfoDispEDGE[], InfoDispWIN[], InfoDispTrsh[], InfoStatus[], InfoGraph[], InfoGraphData1[],
    InfoGraphData2[];

} // namespace Varnov30
