// Shared internals of the seam; not for the application modules.
#pragma once

#include <string>

namespace runtime::detail {

// Drive in-process serial peers and the port bookkeeping once per pump.
void ServiceSerial();
// Seconds until an in-process peer next delivers something (infinity if nothing due).
double SerialNextDue();
// Close every port (shutdown, tests).
void CloseAllPorts();

// Folder of the running program.
std::string ProgramDir();
// A file name without a folder is looked up in the program's folder.
std::string ResolveBeside(const char* file);

} // namespace runtime::detail
