// Sensor link: the data model, the request frame, the reply wait, the line check.
#pragma once

namespace com232 {

// ---- data model ---------------------------------------------------------------------
constexpr int AnzPara = 15; // bytes in the parameter block
constexpr int AnzData = 10; // bytes in the live record
constexpr int RAM = 1;      // target codes
constexpr int EEPROM = 2;
constexpr int DATFILE = 3;

extern int target;

// The fifteen parameter bytes, in block order.
extern unsigned char threshold, hysteresis, power, pmod, hold, trigger, backlim, regcnt, average,
    deadtimemode, deadtime, outmode, trshmod, deltatrsh, frei15;
extern unsigned char pp[AnzPara];

// The live values and the live record.
extern unsigned char dataDat0, dataDat1, dataNorm, dataAdjedgeL, dataAdjedgeH, dataAdjin0L,
    dataAdjin0H, dataAdjin1L, dataAdjin1H, dataTrshWork;
extern unsigned char databuf[AnzData];

void CopyVarsToPP();
void CopyPPtoVars();
void CopyDatatoVars();

// ---- link ---------------------------------------------------------------------------
constexpr int BufSize = 1024;
constexpr double ReplyTimeout = 3.0; // seconds every reading request waits

extern int com;
extern int ret;
extern unsigned char sync;
extern unsigned char order;
extern char szWriteBuf[BufSize];
extern unsigned char szReadBuf[BufSize];
extern char szStatus[64];
extern double tstart;
extern double tdiff;
extern int nBytesW;
extern int nBytesR;
extern int poll;

extern const char InfoTimeout[];
extern const char LineOkText[];

void InitRS232(int port);
void FillTxBuf(unsigned char code);
void GetRxBufPara();
void GetRxBufData();
void CheckComLine();

// The status text for an opening result.
const char* OpenResultText(int result);

// Sends the frame for `code` with the present pp.
void SendRequest(unsigned char code);

enum class Reply { Complete, Failed, Stopped };
// The reply wait: pumps events until `expected` bytes wait or 3.0 s have passed, then
// reads what waits. With `stopOnPollClear`, returns Stopped (nothing read) as soon as
// poll is found cleared.
Reply AwaitReply(int expected, bool stopOnPollClear = false);

// The failure report: "TIMEOUT" in the status line, then the modal INFO pop-up.
void TimeoutReport();

} // namespace com232
