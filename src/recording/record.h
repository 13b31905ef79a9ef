// Recording of the live data: one CSV row per live record taken as good, each row on
// disk (flushed) as it arrives. Plain C++ with the C library's files.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace record {

// The first line of a new recording (no line end).
const char* Header();

// One row (no line end) for a 10-byte live record in the sensor's order: the wall-clock
// time given, seconds since the recording started, the values as received, the panel's
// hysteresis and the two percentages (empty when the IN0 period is 0). Returns the length
// written, or -1 when `out` is too small.
int FormatRow(char* out, std::size_t size, const char* isoTime, double seconds,
              const unsigned char* rec, unsigned char hysteresis);

// Times in a row: text::IsoTime (text/isotime.h).

// The jump buffer as CSV, after `header` (the panel's export: "sample,value,threshold";
// varno-cli's: "i,jump,trsh"): one row per value, numbered from 0, with the working
// threshold, empty when none is known.
std::string JumpBufferCsv(const char* header, const unsigned char* values,
                          std::optional<unsigned> threshold);

// Starts recording into `path` (appended to; the header is written only into a new or
// empty file, and a last row cut short by a crash is ended first; one cut short by a
// failed write was cut off then). `now` is the monotonic clock in seconds (the run-time's
// Timer()). Returns false, with LastError() saying why, when the file cannot be opened.
bool Start(const char* path, double now);
// Ends the recording and closes the file.
void Stop();
bool Active();
const char* Path();
// Rows written since Start.
int Rows();
// Why the last Start or Append failed, or StillInPlace found the file gone.
const char* LastError();

// Whether the recording's path still names the file written to. A file deleted, renamed
// or replaced meanwhile stops the recording (false; LastError() names the file and what
// became of it). True while not recording.
bool StillInPlace();

// Appends the row for one record, `now` and `isoTime` being when it arrived (isoTime null:
// the present time). A write error (disk full, file gone) stops the recording and returns
// false; LastError() says why. The file is left ending with its last whole row.
bool Append(const unsigned char* rec, unsigned char hysteresis, double now,
            const char* isoTime = nullptr);

} // namespace record
