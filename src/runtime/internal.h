// Shared internals of the seam; not for the application modules.
#pragma once

#include "testhooks.h"

#include <functional>
#include <string>

class QApplication;
class QComboBox;
class QWidget;

namespace runtime::detail {

// ---- engine, event loop and pop-ups (engine.cpp, eventloop.cpp, popups.cpp) ----------
extern QApplication* theApp;
void StartClock();
extern bool virtualOn;
extern double virtualNow;
extern double virtualTick;
extern std::function<void(double)> pumpHook;
extern bool quitFlag;
extern int quitCode;
extern std::function<test::PopupAnswer(const test::Popup&)> popupHandler;

// The widget of a loaded control (null when the panel has no such control).
QWidget* CtrlWidget(int panel, int control);

// ---- serial ---------------------------------------------------------------------------
// The PORT selector: filled with the numbered ports, and filled again each time it opens.
void FillPortSelector(QComboBox* box);
void WatchPortSelector(QComboBox* box);

// Drive in-process serial peers and the port bookkeeping once per pump.
void ServiceSerial();
// Seconds until an in-process peer next delivers something (infinity if nothing due).
double SerialNextDue();
// Close every port (shutdown, tests).
void CloseAllPorts();

// Port numbering (serial_ports.cpp) over the bindings kept by serial.cpp.
void EnumeratePorts(bool rescan);
void ForgetEnumeration();
bool PortBound(int port);
bool DeviceNumbered(const std::string& device);
void NumberDevice(int port, const std::string& device);
std::string PortDevice(int port); // "" for in-process peers
std::string PortLabel(int port);  // what the selector shows after the number
int HighestBoundPort();

// Why the last opening of a port failed ("" after a good one), and a port whose device
// went away while open.
void SetOpenFailure(int port, const std::string& reason);

// The watch on lost ports (serial_watch.cpp): a port whose device went away is looked at
// about once a second until it opens again.
void NotifyPortLost(int port);
void PortOpened(int port);
void WatchLostPorts();
void ForgetWatches();
bool Watched(int port);
// True when the device (or in-process peer) bound to a port is there to be opened.
bool PortPresent(int port);
bool DevicePresent(const std::string& path);
// The reason a device would not open, with what to do about it (serial_advice.cpp): no
// such device, not a serial device (and what it is), permission (PermissionAdvice), busy.
std::string ExplainOpenFailure(const std::string& path, bool notFound, const std::string& osText);
// The permission hint for a device with this owner, group and mode: join the group only
// where the group may read and write it and is not root; else who may open it and how an
// administrator changes that.
std::string PermissionAdvice(const std::string& path, const std::string& owner,
                             const std::string& group, unsigned gid, unsigned mode);
// True when `path` names something that cannot be a serial device (a regular file, a FIFO,
// a directory, a socket...): `what` says what it is. Found without opening it.
bool NotASerialDevice(const std::string& path, std::string& what);

// The program's periodic callbacks whose time has come (ticker.cpp); run by every pump.
void ServiceTickers();

// Whether Qt will find a display to start on (display.cpp); `why` says what is wrong.
bool DisplayReachable(int argc, char** argv, std::string& why);

// A panel has just been shown (a screenshot asked for before may be taken now).
void PanelShown(QWidget* top);

// Folder of the running program.
std::string ProgramDir();
// A file name without a folder is looked up in the program's folder.
std::string ResolveBeside(const char* file);

} // namespace runtime::detail
