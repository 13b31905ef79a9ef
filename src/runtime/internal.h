// Shared internals of the seam's core (event pump, time, serial ports, files); not for the
// application modules.
#pragma once

#include <string>

namespace runtime::detail {

// ---- event loop and time (eventloop.cpp) --------------------------------------------
void StartClock();
extern bool quitFlag;
extern int quitCode;
// Called by QuitUserInterface (the panels' part ends the pop-ups still open).
extern void (*quitHook)();

// ---- serial ---------------------------------------------------------------------------
// Drive in-process serial peers and the port bookkeeping once per pump.
void ServiceSerial();
// Seconds until an in-process peer next delivers something (infinity if nothing due).
double SerialNextDue();
// Close every port (shutdown, tests).
void CloseAllPorts();
// True while a port is open and its device well.
bool PortIsOpen(int port);

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
// The reason a device would not open, with what to do about it (serial_advice.cpp).
std::string ExplainOpenFailure(const std::string& path, bool notFound, const std::string& osText);

// Folder of the running program.
std::string ProgramDir();
// A file name without a folder is looked up in the program's folder.
std::string ResolveBeside(const char* file);

} // namespace runtime::detail
