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
// Seconds the line must stay quiet after a whole reply before it counts: longer than a
// USB adapter's latency timer, so that a stray byte right behind a reply is seen.
constexpr double SettleTime = 0.030;

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

// Set while the program opens the port again by itself (its device came back), not at the
// operator's request: a failure then shows on the status line only, never as a pop-up,
// and a device gone again meanwhile is said as such ("Port lost: <device>").
extern bool unattended;

// "Port lost: <device>" on the status line, the whole device name however long.
void ShowPortLost(int port);

void InitRS232(int port);
void FillTxBuf(unsigned char code);
void GetRxBufPara();
void GetRxBufData();
// A good line check goes on to read the parameters (gui::GetPara): the one place where
// the link calls the sensor operations, as start-up and a port change rely on it.
void CheckComLine();
// True when the reply read last is the line check's good answer, AA 03 00.
bool LineCheckReplyOk();

// The status text for an opening result.
const char* OpenResultText(int result);

// Sends the frame for `code` with the present pp.
void SendRequest(unsigned char code);

enum class Reply { Complete, Failed, Stopped };
// The reply wait: pumps events until `expected` bytes wait or 3.0 s have passed, then
// reads what waits. A reply counts only when the line then stays quiet for SettleTime;
// a byte in that time makes it a reply that is too long. For live records (`live`) there
// is no settle time (the next cycle's flush tells instead), and the wait returns Stopped,
// nothing read, as soon as poll is found cleared. Once the program is closing, the wait
// gives up at once.
Reply AwaitReply(int expected, bool live = false);

// The failure report: "TIMEOUT" in the status line, then the modal INFO pop-up. Nothing
// is reported once the program is closing. While `unattended`, only the status line
// says it: "Port lost: <device>" when the port was lost, else "TIMEOUT".
void TimeoutReport();

} // namespace com232
