// Keeping what the sensor measured: the Record control (the live records taken as good,
// one CSV row each, see record.h) and the export of the graph on view.
#pragma once

namespace capture {

// The file named on the command line (--record); recording into it starts with Init.
void SetStartupFile(const char* path);
// Once the panel is up: shows the recording state and starts the start-up recording.
void Init();
// Ends a recording (program end).
void Finish();

// A live record has just been shown: note when it came, and the hysteresis it was shown
// with, for its row.
void Arrived();
// The record shown last (its 10 bytes, as the link holds them) was taken as good: its row
// goes to the file while recording.
void Confirmed(const unsigned char* record);
// The acquisition has ended: the row count shown is brought up to date.
void AcquisitionEnded();

// The Record control was switched: asks for a file and starts, or ends the recording.
void ToggleRecord();
// Saves the graph on view as PNG, or the jump buffer given (16 values, and the working
// threshold drawn with it) as CSV, by the name's ending.
void Export(const unsigned char* jumpbuf, unsigned char threshold);

// The jump buffer with its threshold line: a header, then 16 rows sample,value,threshold,
// written as a whole (runtime::WriteWholeFile). Returns its result: 0 when written.
int WriteJumpBufferCsv(const char* path, const unsigned char* jumpbuf, unsigned char threshold);

} // namespace capture
