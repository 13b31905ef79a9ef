// The panel of Varnov30.uir: its control ids, the handle of the loaded panel and the
// program's folder. Every module that addresses the panel includes this header.
#pragma once

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
// Keeping the measured data: recording of the live records and the export of the graph.
constexpr int PANEL_RECORD = 70;
constexpr int PANEL_RECORD_ROWS = 71;
constexpr int PANEL_BUTTON_EXPORT = 72;

namespace Varnov30 {

extern int panel;          // the loaded panel
extern char proj_dir[260]; // the program's folder, where the file dialog starts

} // namespace Varnov30
