// Sensor operations and the panel rules: parameter transfer, live acquisition and its
// displays, the jump buffer, the parameter file, control conversions and pages.
#pragma once

#include "sensor/link.h"

namespace gui {

constexpr int HistoryLen = 500; // 100 records of 5 traces, interleaved
constexpr int JumpBufLen = sensor::JumpBufLen;
constexpr int AdjPoints = 101; // 0..100 % of the IN0 period

extern unsigned char para; // 1 while parameter page 1 is shown
extern int source;         // signal group shown in the graph area: 0, 1, 2
extern double alldata[HistoryLen];
extern unsigned char jumpbuf[JumpBufLen];
extern unsigned char jumpline; // the working threshold drawn with the jump buffer
extern char file_name[260];

// Power: sensor code 46 is 0 %, 0 is 100 %. A percentage goes out as it always has
// (truncating); a code is shown as the percentage nearest its exact value among those
// that go out as that same code, so every code survives a trip through the panel.
unsigned char PowerCodeToPercent(unsigned char code);
unsigned char PowerPercentToCode(unsigned char percent);

void GetPanelValues();
void SetPanelValues();
void InitPanelValues();
void ApplyTrshModRule();
void ApplyPmodRule();
void ApplyDeadTimeModeRule();
void ApplyTriggerRule();
void ParaVis();
void ParaInVis();

void SendPara();
void GetPara();
void PreRequestDelay();

// The panel's side of the link: "TIMEOUT" in the status line, then the modal INFO pop-up;
// nothing once the program is closing. The link module reports through it.
void TimeoutReport();

int GetData();
// Live records taken as good: the line was found quiet behind them.
extern int confirmedRecords;
// The panel's link took a live record as good (the line was quiet behind it): counted,
// and its row written when recording.
void RecordTakenAsGood(const sensor::LiveRecord& record);
// The acquisition's last record is checked now, as a flush would hide what followed it
// (every request's flush does this first).
void SettlePendingRecord();
void SetPanelData();
// The numeric displays of the live values (part of SetPanelData).
void ShowLiveValues();
void ShowGraph();
void DispVis();

void GetJmpBuf();

int SendParaToFile();
void ReadParaFromFile();

} // namespace gui
