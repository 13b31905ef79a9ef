#include "com232.h"

#include "runtime/runtime.h"

#include <cstdio>
#include <cstring>

using namespace runtime;

namespace com232 {

int target = 0;

unsigned char threshold = 0, hysteresis = 0, power = 0, pmod = 0, hold = 0, trigger = 0,
              backlim = 0, regcnt = 0, average = 0, deadtimemode = 0, deadtime = 0, outmode = 0,
              trshmod = 0, deltatrsh = 0, frei15 = 0;

unsigned char dataDat0 = 0, dataDat1 = 0, dataNorm = 0, dataAdjedgeL = 0, dataAdjedgeH = 0,
              dataAdjin0L = 0, dataAdjin0H = 0, dataAdjin1L = 0, dataAdjin1H = 0, dataTrshWork = 0;
unsigned char databuf[AnzData] = {};

sensor::Link& PanelLink() {
    static sensor::Link link(1);
    return link;
}

namespace {
sensor::Link::State& st() {
    return PanelLink().state();
}
} // namespace

int& com = st().port;
int& ret = st().openResult;
unsigned char& sync = st().sync;
unsigned char& order = st().order;
char (&szWriteBuf)[BufSize] = st().writeBuf;
unsigned char (&szReadBuf)[BufSize] = st().readBuf;
unsigned char (&pp)[AnzPara] = st().block;
double& tstart = st().tstart;
double& tdiff = st().tdiff;
int& nBytesW = st().nBytesW;
int& nBytesR = st().nBytesR;
int& poll = st().poll;
char szStatus[64] = {};
bool unattended = false;

const char InfoTimeout[] = " ATTENTION! \n \n TIMEOUT \n NO SERIAL CONNECTION TO SENSOR";
const char LineOkText[] = "LINE OK                              V3.0";

namespace {

PanelSide panelSide;

unsigned char* const paraVars[AnzPara] = {
    &threshold, &hysteresis,   &power,    &pmod,    &hold,    &trigger,   &backlim, &regcnt,
    &average,   &deadtimemode, &deadtime, &outmode, &trshmod, &deltatrsh, &frei15};

unsigned char* const dataVars[AnzData] = {&dataDat0,     &dataDat1,    &dataNorm,    &dataAdjedgeL,
                                          &dataAdjedgeH, &dataAdjin0L, &dataAdjin0H, &dataAdjin1L,
                                          &dataAdjin1H,  &dataTrshWork};

void showStatus(const char* text) {
    std::strncpy(szStatus, text, sizeof szStatus - 1);
    szStatus[sizeof szStatus - 1] = '\0';
    if (panelSide.showStatus) panelSide.showStatus(szStatus);
}

} // namespace

void ShowPortLost(int port) {
    char text[320];
    std::snprintf(text, sizeof text, "Port lost: %s", PortDeviceName(port));
    std::strncpy(szStatus, text, sizeof szStatus - 1);
    szStatus[sizeof szStatus - 1] = '\0';
    if (panelSide.showStatus) panelSide.showStatus(text);
}

void SetPanelSide(const PanelSide& side) {
    panelSide = side;
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
    return sensor::OpenResultText(result);
}

void InitRS232(int port) {
    // The argument is the port opened; the line check and every request use com.
    sensor::Link& link = PanelLink();
    const int requests = link.Port();
    link.SetPort(port);
    link.Open(); // clears poll; the result is in ret
    link.SetPort(requests);
    // Why a port would not open (permission, busy, missing), where the operator can
    // read it without another pop-up: the status line's tooltip.
    if (panelSide.showOpenFailure) panelSide.showOpenFailure(ret < 0 ? PortOpenFailure(port) : "");
    if (ret < 0) {
        // A device that came back and went again before it could be opened is still lost
        // (and still watched).
        if (unattended && ret == RS_NO_PORT_FOUND)
            ShowPortLost(port);
        else
            showStatus(OpenResultText(ret));
        return;
    }
    CheckComLine();
}

void FillTxBuf(unsigned char code) {
    PanelLink().FillFrame(code);
}

void GetRxBufPara() {
    std::memcpy(pp, szReadBuf, AnzPara);
}

void GetRxBufData() {
    std::memcpy(databuf, szReadBuf, AnzData);
}

void SendRequest(unsigned char code) {
    PanelLink().Send(code);
}

Reply AwaitReply(int expected, bool live) {
    const sensor::Result r =
        PanelLink().Await(expected, live ? sensor::Link::Wait::Live : sensor::Link::Wait::Settled);
    if (r) return Reply::Complete;
    return r.code() == sensor::Result::Stopped ? Reply::Stopped : Reply::Failed;
}

void TimeoutReport() {
    if (panelSide.timeoutReport) panelSide.timeoutReport();
}

bool LineCheckReplyOk() {
    return PanelLink().LineOkReply();
}

void CheckComLine() {
    if (PanelLink().LineCheck()) {
        showStatus(LineOkText);
        if (panelSide.lineOk) panelSide.lineOk();
    } else {
        TimeoutReport();
    }
}

} // namespace com232
