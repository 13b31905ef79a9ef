// The run-time services the application modules are written against: panels and
// controls, the event loop, graphs, pop-ups, the RS-232 library, file utilities and
// timing. This header is plain C++; only the implementation knows Qt and the OS.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace runtime {

// ---- event codes --------------------------------------------------------------
constexpr int EVENT_COMMIT = 1;
constexpr int EVENT_VAL_CHANGED = 2;
constexpr int EVENT_RIGHT_CLICK = 5;
constexpr int EVENT_CLOSE = 11;

// ---- control attributes -------------------------------------------------------
constexpr int ATTR_DIMMED = 500;
constexpr int ATTR_VISIBLE = 530;
constexpr int ATTR_LEFT = 531;
constexpr int ATTR_TOP = 532;
constexpr int ATTR_FRAME_COLOR = 550;
constexpr int ATTR_LABEL_TEXT = 641;
constexpr int ATTR_TEXT_COLOR = 680;
constexpr int ATTR_TEXT_FONT = 682;
constexpr int ATTR_TEXT_POINT_SIZE = 686;
constexpr int ATTR_TEXT_BGCOLOR = 690;
constexpr int ATTR_POINTS_PER_SCREEN = 1171;
constexpr int ATTR_TRACE_VISIBLE = 1234;
constexpr int ATTR_TOOLTIP_TEXT = 4000; // the text shown when the pointer rests on a control

// ---- data types, styles, colours ---------------------------------------------
constexpr int VAL_DOUBLE = 4;
constexpr int VAL_UNSIGNED_CHAR = 8;
constexpr int CTRL_TEXT_MSG = 160;
constexpr int VAL_CONNECTED_POINTS = 5; // plot style used for markers and the jump buffer
constexpr int VAL_EMPTY_SQUARE = 0;     // point style
constexpr int VAL_SOLID = 0;            // line style
constexpr int VAL_WHITE = 0xFFFFFF;
constexpr int VAL_BLACK = 0x000000;
constexpr int VAL_RED = 0xFF0000;
constexpr int VAL_BLUE = 0x0000FF;
constexpr int VAL_GRAY = 0x808080;
constexpr int VAL_TRANSPARENT = 0x1000000;
constexpr const char* VAL_APP_META_FONT = "AppDefault"; // the application's own font

// ---- result codes -------------------------------------------------------------
constexpr int UIE_NO_ERROR = 0;
constexpr int UIE_BAD_PANEL = -1;
constexpr int UIE_BAD_CONTROL = -2;
constexpr int UIE_TYPE_MISMATCH = -3;
constexpr int UIE_BAD_ATTRIBUTE = -4;
constexpr int UIE_BAD_VALUE = -5;
constexpr int UIE_FILE_NOT_FOUND = -6;
constexpr int UIE_BAD_FILE = -7;
constexpr int UIE_UNKNOWN_CALLBACK = -8;
constexpr int UIE_BUFFER_TOO_SMALL = -9;

constexpr int VAL_NO_FILE_SELECTED = 0;
constexpr int VAL_EXISTING_FILE_SELECTED = 1;
constexpr int VAL_NEW_FILE_SELECTED = 2;

// File utility results (negative = failure, nothing written into the caller's array).
constexpr int FILE_OK = 0;
constexpr int FILE_CANNOT_OPEN = -1;
constexpr int FILE_TOO_FEW_VALUES = -2;
constexpr int FILE_TOO_MANY_VALUES = -3;
constexpr int FILE_BAD_VALUE = -4;
constexpr int FILE_WRITE_FAILED = -5;
constexpr int FILE_BAD_ARGUMENT = -6;
constexpr int FILE_TOO_LARGE = -7;
constexpr int FILE_NOT_A_FILE = -8; // a device, FIFO, directory or socket: left as it is

// RS-232 results.
constexpr int RS_UNKNOWN_SYS_ERROR = -1;
constexpr int RS_INVALID_PORT_NUM = -2;
constexpr int RS_PORT_NOT_OPEN = -3;
constexpr int RS_UNKNOWN_IO_ERROR = -4;
constexpr int RS_INTERNAL_ERROR = -5;
constexpr int RS_NO_PORT_FOUND = -6;
constexpr int RS_CANNOT_OPEN_PORT = -7;
constexpr int RS_TIMEOUT = -99;

// ---- callbacks ----------------------------------------------------------------
using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);
using PanelCallbackPtr = int (*)(int panel, int event, void* callbackData, int eventData1,
                                 int eventData2);

struct CallbackEntry {
    const char* name;
    CtrlCallbackPtr control; // set for control callbacks
    PanelCallbackPtr panel;  // set for panel callbacks
};

// The program's table of callback names; LoadPanel binds the names stored in the
// panel file through it and fails on a name the table lacks.
void RegisterCallbacks(const CallbackEntry* table, std::size_t count);

// ---- engine -------------------------------------------------------------------
// Starts the engine (the QApplication). Returns 0, or a negative value when no
// display can be reached. Safe to call more than once; later calls only confirm.
int InitRuntime(int* argc, char** argv);
// Starts the engine without a display (for programs without panels): serial ports, the
// event pump, time and files work; panels and pop-ups do not. Returns 0.
int InitRuntimeNoDisplay(int* argc, char** argv);
bool RuntimeReady();

// ---- panels and controls ------------------------------------------------------
int LoadPanel(int parent, const char* file, int resourceId);
int DisplayPanel(int panel);
int DiscardPanel(int panel);
int RunUserInterface();
int QuitUserInterface(int returnCode);
// True once QuitUserInterface has been called, until the event loop has ended: the
// program is closing and starts no more work. A quit asked for before the event loop
// runs ends it at once.
bool QuitPending();

int GetCtrlVal(int panel, int control, unsigned char* value);
int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, double* value);
// Copies at most size - 1 characters and the terminating zero; a longer text is an error.
int GetCtrlVal(int panel, int control, char* value, std::size_t size);

int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned int value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char* value);

int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char* value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);

// The kind of a loaded control ("numeric", "ring", "toggle", "command", "string",
// "decoration", "picture", "strip", "graph", "textmsg"), or null when the panel has no
// such control.
const char* CtrlKindName(int panel, int control);

int NewCtrl(int panel, int style, const char* label, int top, int left);
int ReplaceListItem(int panel, int control, int index, const char* label, int value);
int DisplayImageFile(int panel, int control, const char* file);

int DeleteGraphPlot(int panel, int control, int plot, int refresh);
int PlotY(int panel, int control, const void* array, int count, int dataType, int plotStyle,
          int pointStyle, int lineStyle, int pointFrequency, int color);
int PlotStripChart(int panel, int control, const void* array, int count, int start, int skip,
                   int dataType);
int ClearStripChart(int panel, int control);
int SetTraceAttribute(int panel, int control, int trace, int attribute, int value);

// ---- pop-ups ------------------------------------------------------------------
int MessagePopup(const char* title, const char* text);

int FileSelectPopupN(const char* defaultDir, const char* defaultFile, const char* filterList,
                     const char* title, int buttonLabel, int restrictDir, int restrictExt,
                     int allowCancel, int allowMakeDir, char* path, std::size_t pathSize);
// The chosen path is written into `path`; a path that does not fit is refused with
// UIE_BUFFER_TOO_SMALL. Without a choice the buffer keeps what it held.
template <std::size_t N>
int FileSelectPopup(const char* defaultDir, const char* defaultFile, const char* filterList,
                    const char* title, int buttonLabel, int restrictDir, int restrictExt,
                    int allowCancel, int allowMakeDir, char (&path)[N]) {
    return FileSelectPopupN(defaultDir, defaultFile, filterList, title, buttonLabel, restrictDir,
                            restrictExt, allowCancel, allowMakeDir, path, N);
}

// ---- events and time ----------------------------------------------------------
int ProcessSystemEvents();
// The pump of a loop that waits for input until a deadline (a reply, a quiet line, a
// pause): as ProcessSystemEvents, but when nothing is pending it sleeps in the event loop
// until something arrives (serial data, a key, a timer) or `seconds` have passed, at most
// MaxWaitSlice. A wait built on it wakes a few times per reply instead of every
// millisecond.
constexpr double MaxWaitSlice = 0.020;
int ProcessSystemEventsFor(double seconds);
double Timer();
void Sleep(int milliseconds);

// A function called about every `periodSeconds` (from the event pump, on the run-time's
// clock, and while the program idles in its event loop), until stopped. Starting it
// again restarts its period.
using TickCallbackPtr = void (*)();
void StartTicker(TickCallbackPtr callback, double periodSeconds);
void StopTicker(TickCallbackPtr callback);

// ---- files --------------------------------------------------------------------
// Text files only (fileType 1), one group, values one per line. The save replaces the
// file only once the new content is complete (WriteWholeFile), and refuses a path that
// names no regular file with FILE_NOT_A_FILE.
int ArrayToFile(const char* file, const void* array, int dataType, int numElements, int numGroups,
                int arrayDataOrder, int fileLayout, int colSepStyle, int fieldWidth, int fileType,
                int fileAction);
// Reads exactly numElements whole numbers that fit the data type; on any failure the
// array is left untouched.
int FileToArray(const char* file, void* array, int dataType, int numElements, int numGroups,
                int arrayDataOrder, int fileLayout, int fileType);

// Line of the offending value after FILE_BAD_VALUE or FILE_TOO_MANY_VALUES (1 = first).
int LastFileErrorLine();
// The operating system's words for why the last FileToArray could not open its file
// ("" when it did, or when the file was refused without an opening).
const char* LastFileOpenError();

// ---- what a path names ----------------------------------------------------------
// Looked at without opening it (opening a FIFO waits for its other side, a device may act
// on it), following symbolic links. A file is written or read only where this says
// RegularFile, and written only where it says Absent or RegularFile.
enum class PathKind { Absent, RegularFile, NotAFile };
// `what`, when given, gets a few words for the operator: "a regular file", "a directory",
// "a FIFO", "a character device", "a block device", "a socket", "a special file", "a
// loop of symbolic links", or "nothing".
PathKind ExaminePath(const char* path, const char** what = nullptr);
// Makes `data` the whole content of `path`: written into a new file beside it that then
// takes its place, so a failure leaves the old file as it was. A symbolic link is
// followed (the file it names is replaced, the link stays); a replaced file keeps its
// permissions. FILE_OK, FILE_NOT_A_FILE (nothing opened or changed) or FILE_WRITE_FAILED.
int WriteWholeFile(const char* path, const void* data, std::size_t size);

// Files written a row at a time. Null while `path` still names the file `file` has open;
// else why not, to follow the path in a message: "was deleted", "was renamed or moved
// away", "was replaced by another file". A path that cannot be looked at for another
// reason (a folder's permissions) counts as still naming it.
const char* FileGoneFromPath(std::FILE* file, const char* path);
// The size of the regular file `file` has open, or -1 when it is not a regular file.
long long RegularFileSize(std::FILE* file);
// After a failed write: drops what `file` still holds unwritten and, when it is a regular
// file grown past `wholeSize` (its RegularFileSize after the last whole row), cuts it back
// to that size, so that no row is left written in part. errno is kept. False when it
// could not be cut (not a regular file, or the system refused).
bool CutToLastWholeRow(std::FILE* file, long long wholeSize);

int GetProjectDirN(char* dir, std::size_t size);
template <std::size_t N> int GetProjectDir(char (&dir)[N]) {
    return GetProjectDirN(dir, N);
}

// ---- saving what the operator sees ---------------------------------------------
// A picture of a graph or strip chart as shown, at its size on the panel, saved as PNG.
// Returns 0, UIE_BAD_CONTROL, FILE_NOT_A_FILE when the path names no regular file, or
// FILE_WRITE_FAILED when the file cannot be written. Written as WriteWholeFile does.
int SaveGraphImage(int panel, int control, const char* path);
// After `delayMs` of the event loop, saves a picture of the shown panel to `path` and
// asks the event loop to end (a panel not shown by then is pictured once it is).
void ScheduleScreenshot(const std::string& path, int delayMs);
// The folder the operator's own files are offered in: the home folder when it can be
// written to, else the working folder. Empty when neither fits into `dir`.
int GetUserDirN(char* dir, std::size_t size);
template <std::size_t N> int GetUserDir(char (&dir)[N]) {
    return GetUserDirN(dir, N);
}

// ---- RS-232 -------------------------------------------------------------------
int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
int SetComTime(int port, double timeoutSeconds);
int SetCTSMode(int port, int mode);
int FlushInQ(int port);
int FlushOutQ(int port);
int ComWrt(int port, const char* buffer, int count);
int ComRd(int port, char* buffer, int count);
int GetInQLen(int port);
int CloseCom(int port);

// ---- port watch ---------------------------------------------------------------
// Beyond the RS-232 library: a port whose device goes away while open (an adapter pulled
// out) is closed and reported once with PORT_LOST; while lost, its device path is watched
// and PORT_BACK is reported (about once a second) whenever it is there to be opened again,
// until an opening succeeds. Delivered from the event loop.
constexpr int PORT_LOST = 1;
constexpr int PORT_BACK = 2;
using PortEventCallbackPtr = void (*)(int port, int event);
void InstallPortEventCallback(PortEventCallbackPtr callback);
// Why the last opening of a port failed, in the operating system's words and with what
// to do about it ("" after a good opening).
const char* PortOpenFailure(int port);
// What kind of failure that was, for a program that acts on it (set with the text).
enum class OpenFailureKind { None, NotThere, NotSerial, Permission, Busy, Other };
OpenFailureKind PortOpenFailureKind(int port);
// The device a port number stands for, as the operator knows it ("" if none).
const char* PortDeviceName(int port);
// A lost port and a failed opening are also written to stderr (on by default); a program
// that reports them in its own words turns this off.
void SetSerialStderrReports(bool on);

} // namespace runtime
