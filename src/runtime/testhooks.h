// Hooks for the tests: a virtual clock, a pop-up handler, a record of the bytes sent, and
// firing events at controls as the event loop would. They live in a library of their own
// (varno_testing) that the shipped programs do not link.
#pragma once

#include "popup_route.h"

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace runtime::test {

// Virtual clock: Timer() returns virtual seconds; each ProcessSystemEvents() advances
// it by `tick` seconds and Sleep() by its duration.
void UseVirtualClock(bool on, double tick = 0.001);
bool VirtualClock();
void AdvanceClock(double seconds);
void SetClock(double seconds);

// Called at the end of every ProcessSystemEvents(), with the current Timer() value.
void SetPumpHook(std::function<void(double now)> hook);

using Popup = PopupRequest;
using PopupAnswer = PopupReply;
// With a handler set, pop-ups are not shown; the handler records and answers them.
void SetPopupHandler(std::function<PopupAnswer(const Popup&)> handler);
void ClearPopupHandler();

// Delivers an event to a control's callback exactly as the event loop does.
int FireEvent(int panel, int control, int event, int eventData1 = 0, int eventData2 = 0);
// Delivers an event to the panel callback.
int FirePanelEvent(int panel, int event);

QWidget* ControlWidget(int panel, int control);
QWidget* PanelWidget(int panel);
QWidget* LabelWidget(int panel, int control);

// Facts about a loaded control, for checking the panel file.
struct ControlInfo {
    bool exists = false;
    std::string
        kind; // numeric, ring, toggle, command, string, decoration, picture, strip, graph, textmsg
    std::string dataType; // uchar, int, string, double or ""
    std::string callback;
    std::string label;
    bool visible = false;
    bool dimmed = false;
};
ControlInfo GetControlInfo(int panel, int control);
// Ids of every control of a panel, in id order.
std::vector<int> ControlIds(int panel);

// Count of type-mismatched GetCtrlVal/SetCtrlVal calls since start (a programming error).
int TypeMismatchCount();

// Graph contents, for checks.
struct PlotInfo {
    std::vector<double> y;
    int color = 0;
    int style = 0;
};
std::vector<PlotInfo> GraphPlots(int panel, int control);
// Strip chart: points currently held per trace (oldest first), and trace visibility.
std::vector<double> StripTrace(int panel, int control, int trace);
bool StripTraceVisible(int panel, int control, int trace);
int StripPointsPerScreen(int panel, int control);
int StripAppendCount(int panel, int control);

// Serial: bytes written to a port since it was opened (for ports bound to a peer and
// devices alike), and a way to forget them.
std::string WrittenBytes(int port);
void ClearWrittenBytes(int port);
bool PortOpen(int port);

// The status of the quit request; reset between tests.
bool QuitRequested();
void ResetQuit();

} // namespace runtime::test
