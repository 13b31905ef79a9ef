#include "com232.h"

#include "panel_ids.h"
#include "gui.h"
#include "runtime/runtime.h"

#include <cstdio>
#include <cstring>

using namespace runtime;

namespace com232 {

int target = 0;

unsigned char threshold = 0, hysteresis = 0, power = 0, pmod = 0, hold = 0, trigger = 0,
              backlim = 0, regcnt = 0, average = 0, deadtimemode = 0, deadtime = 0, outmode = 0,
              trshmod = 0, deltatrsh = 0, frei15 = 0;
unsigned char pp[AnzPara] = {};

unsigned char dataDat0 = 0, dataDat1 = 0, dataNorm = 0, dataAdjedgeL = 0, dataAdjedgeH = 0,
              dataAdjin0L = 0, dataAdjin0H = 0, dataAdjin1L = 0, dataAdjin1H = 0, dataTrshWork = 0;
unsigned char databuf[AnzData] = {};

int com = 0;
int ret = 0;
unsigned char sync = 0;
unsigned char order = 0;
char szWriteBuf[BufSize] = {};
unsigned char szReadBuf[BufSize] = {};
char szStatus[64] = {};
double tstart = 0.0;
double tdiff = 0.0;
int nBytesW = 0;
int nBytesR = 0;
int poll = 0;
bool unattended = false;

const char InfoTimeout[] = " ATTENTION! \n \n TIMEOUT \n NO SERIAL CONNECTION TO SENSOR";
const char LineOkText[] = "LINE OK                              V3.0";

namespace {

unsigned char* const paraVars[AnzPara] = {
    &threshold, &hysteresis,   &power,    &pmod,    &hold,    &trigger,   &backlim, &regcnt,
    &average,   &deadtimemode, &deadtime, &outmode, &trshmod, &deltatrsh, &frei15};

unsigned char* const dataVars[AnzData] = {&dataDat0,     &dataDat1,    &dataNorm,    &dataAdjedgeL,
                                          &dataAdjedgeH, &dataAdjin0L, &dataAdjin0H, &dataAdjin1L,
                                          &dataAdjin1H,  &dataTrshWork};

void showStatus(const char* text) {
    std::strncpy(szStatus, text, sizeof szStatus - 1);
    szStatus[sizeof szStatus - 1] = '\0';
    SetCtrlVal(Varnov30::panel, PANEL_STATUS, szStatus);
}

} // namespace

void ShowPortLost(int port) {
    char text[320];
    std::snprintf(text, sizeof text, "Port lost: %s", PortDeviceName(port));
    std::strncpy(szStatus, text, sizeof szStatus - 1);
    szStatus[sizeof szStatus - 1] = '\0';
    SetCtrlVal(Varnov30::panel, PANEL_STATUS, text);
}

void CopyVarsToPP() {
    for (int i = 0; i < AnzPara; ++i)
        pp[i] = *paraVars[i];
}

void CopyPPtoVars() {
    for (int i = 0; i < AnzPara; ++i)
        *paraVars[i] = pp[i];
}

void CopyDatatoVars() {
    for (int i = 0; i < AnzData; ++i)
        *dataVars[i] = databuf[i];
}

const char* OpenResultText(int result) {
    switch (result) {
    case -1:
        return "Unknown system error";
    case -2:
        return "Invalid port number";
    case -3:
        return "Port is not open";
    case -4:
        return "Unknown I/0 error";
    case -5:
        return "RS-232 error!";
    case -6:
        return "No serial port found";
    case -7:
        return "Cannot open port";
    case -99:
        return "Timeout";
    default:
        return result < 0 ? "RS-232 error!" : "";
    }
}

void InitRS232(int port) {
    poll = 0;
    ret = OpenComConfig(port, "", 4800, 0, 8, 1, 1024, 1024);
    // Why a port would not open (permission, busy, missing), where the operator can
    // read it without another pop-up: the status line's tooltip.
    SetCtrlAttribute(Varnov30::panel, PANEL_STATUS, ATTR_TOOLTIP_TEXT,
                     ret < 0 ? PortOpenFailure(port) : "");
    if (ret < 0) {
        // A device that came back and went again before it could be opened is still lost
        // (and still watched).
        if (unattended && ret == RS_NO_PORT_FOUND)
            ShowPortLost(port);
        else
            showStatus(OpenResultText(ret));
        return;
    }
    SetComTime(port, 2.0);
    FlushInQ(port);
    FlushOutQ(port);
    SetCTSMode(port, 0);
    CheckComLine();
}

void FillTxBuf(unsigned char code) {
    szWriteBuf[0] = static_cast<char>(sync);
    szWriteBuf[1] = static_cast<char>(code);
    for (int i = 0; i < AnzPara; ++i)
        szWriteBuf[2 + i] = static_cast<char>(pp[i]);
}

void GetRxBufPara() {
    std::memcpy(pp, szReadBuf, AnzPara);
}

void GetRxBufData() {
    std::memcpy(databuf, szReadBuf, AnzData);
}

void SendRequest(unsigned char code) {
    order = code;
    FillTxBuf(order);
    nBytesW = ComWrt(com, szWriteBuf, AnzPara + 2);
}

namespace {

// After a whole reply: the line must stay quiet for SettleTime. Returns what then waits.
int Settle(int expected) {
    const double t0 = Timer();
    int count = expected;
    while (Timer() - t0 < SettleTime && !QuitPending()) {
        ProcessSystemEvents();
        count = GetInQLen(com);
        if (count != expected) break; // a stray byte, or a nested request took the line
    }
    tdiff = Timer() - tstart;
    return count;
}

} // namespace

Reply AwaitReply(int expected, bool live) {
    tstart = Timer();
    int count = 0;
    do {
        ProcessSystemEvents();
        count = GetInQLen(com);
        if (live && poll == 0) return Reply::Stopped;
        tdiff = Timer() - tstart;
    } while (ReplyTimeout >= tdiff && count < expected && !QuitPending());
    if (!live && count == expected) count = Settle(expected);
    // The queue never holds more than the buffer; the clamp keeps it so regardless.
    if (count > BufSize) count = BufSize;
    nBytesR = count > 0 ? ComRd(com, reinterpret_cast<char*>(szReadBuf), count) : 0;
    return nBytesR == expected ? Reply::Complete : Reply::Failed;
}

void TimeoutReport() {
    if (QuitPending()) return;
    if (unattended) {
        if (GetInQLen(com) < 0)
            ShowPortLost(com);
        else
            showStatus("TIMEOUT");
        return;
    }
    SetCtrlVal(Varnov30::panel, PANEL_STATUS, "TIMEOUT");
    MessagePopup("INFO", InfoTimeout);
}

bool LineCheckReplyOk() {
    return nBytesR == 3 && szReadBuf[0] == 0xAA && szReadBuf[1] == 0x03 && szReadBuf[2] == 0x00;
}

void CheckComLine() {
    SendRequest(7);
    const Reply r = AwaitReply(3);
    if (r == Reply::Complete && LineCheckReplyOk()) {
        showStatus(LineOkText);
        gui::GetPara();
    } else {
        TimeoutReport();
    }
}

} // namespace com232
