// Sensor operations and the panel rules: parameter transfer, live acquisition and its
// displays, the jump buffer, the parameter file, control conversions and pages.
#pragma once

namespace gui {

constexpr int HistoryLen = 500; // 100 records of 5 traces, interleaved
constexpr int JumpBufLen = 16;
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

int GetData();
// Live records taken as good: the line was found quiet behind them.
extern int confirmedRecords;
// Called by a reading request before it flushes the queues while an acquisition waits
// between cycles: the acquisition's last record is checked now, as the flush would hide
// what followed it.
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
