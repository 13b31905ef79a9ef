// The parameter file: 15 lines, one whole number from 0 to 255 each (in a field 4 wide),
// in the parameter block's order. The reader and its reasons, once for every program.
#pragma once

#include "sensor/protocol.h"

#include <string>

namespace sensor {

// Reads `path` into `block`. On any failure `block` is untouched and `why` says what is
// wrong with the file, as a user reads it: "it does not exist", "it is a FIFO, not a
// regular file", "it cannot be opened (Permission denied)", "it holds fewer than 15
// values", "line 3 holds a value that is not a whole number from 0 to 255", "it is far
// too large to be a parameter file", ... The file is never opened twice (a FIFO would
// hold the program). `osWords`, when given, gets the system's own words for a file that
// could not be opened ("No such file or directory"; "" otherwise).
bool ReadParamFile(const char* path, unsigned char block[ParamLen], std::string& why,
                   std::string* osWords = nullptr);

// Checks `text` exactly as a parameter file's content is checked (the same rules and
// reasons; a line number is the value's place when the text holds one value a line), and
// reads it into `block`. For values that come from elsewhere than a file (a remote
// command): `block` is untouched on failure.
bool ReadParamText(const std::string& text, unsigned char block[ParamLen], std::string& why);

// Writes `block` as a parameter file; the file is replaced only once the new one is
// complete. False when it cannot be written (the old file is then unchanged, and a path
// that names no regular file is not touched); `why`, when given, then says "it is a FIFO,
// not a regular file" for such a path, or is empty.
bool WriteParamFile(const char* path, const unsigned char block[ParamLen],
                    std::string* why = nullptr);

} // namespace sensor
