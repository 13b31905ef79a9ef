// Puts the program's module state back to what it is at program start.
#pragma once

#include "com232.h"
#include "gui.h"

#include <cstring>
#include <initializer_list>

inline void clearModuleState() {
    using namespace com232;
    target = 0;
    for (unsigned char* v : {&threshold, &hysteresis, &power, &pmod, &hold, &trigger, &backlim,
                             &regcnt, &average, &deadtimemode, &deadtime, &outmode, &trshmod,
                             &deltatrsh, &frei15, &dataDat0, &dataDat1, &dataNorm, &dataAdjedgeL,
                             &dataAdjedgeH, &dataAdjin0L, &dataAdjin0H, &dataAdjin1L,
                             &dataAdjin1H, &dataTrshWork})
        *v = 0;
    std::memset(pp, 0, sizeof pp);
    std::memset(databuf, 0, sizeof databuf);
    com = 0;
    ret = 0;
    com232::sync = 0;
    order = 0;
    std::memset(szWriteBuf, 0, sizeof szWriteBuf);
    std::memset(szReadBuf, 0, sizeof szReadBuf);
    std::memset(szStatus, 0, sizeof szStatus);
    tstart = tdiff = 0.0;
    nBytesW = nBytesR = 0;
    com232::poll = 0;
    com232::unattended = false;
    gui::para = 0;
    gui::source = 0;
    std::memset(gui::alldata, 0, sizeof gui::alldata);
    std::memset(gui::jumpbuf, 0, sizeof gui::jumpbuf);
    gui::jumpline = 0;
    std::memset(gui::file_name, 0, sizeof gui::file_name);
    gui::confirmedRecords = 0;
    PanelLink().ForgetRecords();
    PanelLink().ClearStop();
}
