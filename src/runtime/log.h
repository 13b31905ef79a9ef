// One logger for every program, on Qt's logging categories: varno.link (the sensor link;
// at debug level the byte trace), varno.port (ports lost, back, not opening), varno.record
// (recording), varno.cli (varno-cli's reports). Plain C++ for the application modules;
// code that knows Qt may use the categories of log_categories.h directly.
//
// The handler prints a category's messages as the programs always printed them: a warning
// or an information line as it stands ("varno-cli: read ram: no reply ..."), a debug line
// behind its category ("varno.link: ..."). Which levels show is Qt's rule
// (QT_LOGGING_RULES="varno.link.debug=true"); debug is off by default.
#pragma once

#include <cstdio>
#include <string>

namespace runtime::log {

enum Category { Link, Port, Record, Cli, Panel };

// Installs the handler (once; later calls do nothing). Messages of other categories go on
// to the handler that was there before.
void Install();
// Where the handler prints (stderr by default); returns the sink it replaces.
std::FILE* SetSink(std::FILE* sink);
// Switches on the byte trace (varno.link at debug level), as --trace does.
void EnableTrace();
// True when `category` logs at debug level (so that a trace line is only built when shown).
bool DebugOn(Category category);

void Debug(Category category, const std::string& text);
void Info(Category category, const std::string& text);
void Warning(Category category, const std::string& text);
// The same, the text formatted as printf formats it.
void WarningF(Category category, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

} // namespace runtime::log
