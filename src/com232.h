// Sensor link of the operator program: its data model, and the panel's one link to the
// sensor (src/sensor) under the names the panel has always used.
#pragma once

#include "sensor/link.h"

namespace com232 {

// ---- data model ---------------------------------------------------------------------
constexpr int AnzPara = sensor::ParamLen;  // bytes in the parameter block
constexpr int AnzData = sensor::RecordLen; // bytes in the live record
constexpr int RAM = sensor::RAM;           // target codes
constexpr int EEPROM = sensor::EEPROM;
constexpr int DATFILE = 3;

extern int target;

// The fifteen parameter bytes, in block order.
extern unsigned char threshold, hysteresis, power, pmod, hold, trigger, backlim, regcnt, average,
    deadtimemode, deadtime, outmode, trshmod, deltatrsh, frei15;

// The live values and the live record.
extern unsigned char dataDat0, dataDat1, dataNorm, dataAdjedgeL, dataAdjedgeH, dataAdjin0L,
    dataAdjin0H, dataAdjin1L, dataAdjin1H, dataTrshWork;
extern unsigned char databuf[AnzData];

void CopyVarsToPP();
void CopyPPtoVars();
void CopyDatatoVars();

// ---- link ---------------------------------------------------------------------------
constexpr int BufSize = sensor::BufSize;
constexpr double ReplyTimeout = sensor::ReplyTimeout;
constexpr double SettleTime = sensor::SettleTime;

// The panel's link. The variables below are its state: every request of the panel
// shares them, as it always has.
sensor::Link& PanelLink();

extern int& com; // the port number
extern int& ret; // what the last opening returned
extern unsigned char& sync;
extern unsigned char& order;
extern char (&szWriteBuf)[BufSize];
extern unsigned char (&szReadBuf)[BufSize];
extern unsigned char (&pp)[AnzPara]; // the parameter block every frame carries
extern double& tstart;
extern double& tdiff;
extern int& nBytesW;
extern int& nBytesR;
extern int& poll;
extern char szStatus[64];

extern const char InfoTimeout[];
extern const char LineOkText[];

// Set while the program opens the port again by itself (its device came back), not at the
// operator's request: a failure then shows on the status line only, never as a pop-up,
// and a device gone again meanwhile is said as such ("Port lost: <device>").
extern bool unattended;

// "Port lost: <device>" on the status line, the whole device name however long.
void ShowPortLost(int port);

// What the link leaves to the panel: the status line and its tooltip, the TIMEOUT report,
// and what follows a good line check (the parameter read). Set by the panel's side.
struct PanelSide {
    void (*showStatus)(const char* text) = nullptr;
    void (*showOpenFailure)(const char* reason) = nullptr; // "" after a good opening
    void (*timeoutReport)() = nullptr;
    void (*lineOk)() = nullptr;
};
void SetPanelSide(const PanelSide& side);

void InitRS232(int port);
void FillTxBuf(unsigned char code);
void GetRxBufPara();
void GetRxBufData();
// A good line check goes on to what the panel's side does next (the parameter read), as
// start-up and a port change rely on it.
void CheckComLine();
// True when the reply read last is the line check's good answer, AA 03 00.
bool LineCheckReplyOk();

// The status text for an opening result.
const char* OpenResultText(int result);

// Sends the frame for `code` with the present pp.
void SendRequest(unsigned char code);

enum class Reply { Complete, Failed, Stopped };
// The reply wait (sensor::Link::Await): pumps events until `expected` bytes wait or
// 3.0 s have passed, then reads what waits; a reply counts only when the line then stays
// quiet for SettleTime. For live records (`live`) there is no settle time, and the wait
// returns Stopped, nothing read, as soon as poll is found cleared. Once the program is
// closing, the wait gives up at once.
Reply AwaitReply(int expected, bool live = false);

// The failure report, by the panel's side: "TIMEOUT" in the status line, then the modal
// INFO pop-up. Nothing is reported once the program is closing. While `unattended`, only
// the status line says it: "Port lost: <device>" when the port was lost, else "TIMEOUT".
void TimeoutReport();

} // namespace com232
