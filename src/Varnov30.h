// The program's frame: start-up, the panel callback, every control callback and the
// help texts. The control ids are those of the panel file Varnov30.uir.
#pragma once

#include "panel_ids.h"

namespace Varnov30 {

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
VARNO_CTRL_CALLBACK(CBF_ToggleRecord);
VARNO_CTRL_CALLBACK(CBF_DispRecord);
VARNO_CTRL_CALLBACK(CBF_ButtonExport);

// ---- help texts ---------------------------------------------------------------------
extern const char InfoButtonGo[], InfoButtonStop[], InfoButtonSend[], InfoButtonGet[],
    InfoButtonGetBuff[], InfoEditThreshold[], InfoEditThrsMod[], InfoEditDeltaTrsh[],
    InfoEditHysteresis[], InfoEditTrigger[], InfoEditPmod[], InfoEditPower[], InfoEditHold[],
    InfoEditBacklim[], InfoEditRegcnt[], InfoEditAverage[], InfoEditOutmode[],
    InfoEditDeadTimeMode[], InfoEditDeadTime[], InfoEditConnect[], InfoSelectSource[],
    InfoSelectMEM[], InfoSwitchPara[], InfoDispDat0[], InfoDispDat1[], InfoDispNORM[],
    InfoDispEDGE[], InfoDispWIN[], InfoDispTrsh[], InfoStatus[], InfoGraph[], InfoGraphData1[],
    InfoGraphData2[], InfoButtonRecord[], InfoDispRecord[], InfoButtonExport[];

} // namespace Varnov30
