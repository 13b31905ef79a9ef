// Shared internals of the seam's core (event pump, time, serial ports, files); not for the
// application modules.
#pragma once

#include "runtime.h"

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
// A write past the process's file size limit fails as a full disk does (no SIGXFSZ).
void WriteErrorsInsteadOfSignals();
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
void SetOpenFailure(int port, const std::string& reason,
                    OpenFailureKind kind = OpenFailureKind::Other);

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
// `kind`, when given, gets what kind of failure it is.
std::string ExplainOpenFailure(const std::string& path, bool notFound, const std::string& osText,
                               OpenFailureKind* kind = nullptr);
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

// Folder of the running program.
std::string ProgramDir();
// A file name without a folder is looked up in the program's folder.
std::string ResolveBeside(const char* file);

} // namespace runtime::detail
