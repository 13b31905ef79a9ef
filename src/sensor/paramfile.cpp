#include "sensor/paramfile.h"

#include "runtime/bytelist.h"
#include "runtime/runtime.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace runtime;

namespace sensor {

namespace {

// Why FileToArray could not open `path`: said from what the path names and what the
// reader met, never by opening it again (a FIFO would hold the program for ever).
std::string cannotOpen(const char* path, std::string& osWords) {
    const char* what = "nothing";
    switch (ExaminePath(path, &what)) {
    case PathKind::Absent:
        osWords = std::strerror(ENOENT);
        return "it does not exist";
    case PathKind::NotAFile:
        return std::string("it is ") + what + ", not a regular file";
    default:
        break;
    }
    osWords = LastFileOpenError();
    if (osWords.empty()) return "it does not exist or cannot be opened";
    return "it cannot be opened (" + osWords + ")";
}

// The reason for a reader's result, as a user reads it.
std::string reason(int rc, int line, const char* path, std::string& os) {
    std::string why;
    switch (rc) {
    case FILE_CANNOT_OPEN:
        why = cannotOpen(path, os);
        break;
    case FILE_TOO_FEW_VALUES:
        why = "it holds fewer than 15 values";
        break;
    case FILE_TOO_MANY_VALUES:
        why = "it holds more than 15 values (the 16th is on line " + std::to_string(line) + ")";
        break;
    case FILE_TOO_LARGE:
        why = "it is far too large to be a parameter file";
        break;
    case FILE_BAD_VALUE:
        why = "line " + std::to_string(line) +
              " holds a value that is not a whole number from 0 to 255";
        break;
    default:
        why = "it is not a parameter file";
        break;
    }
    return why;
}

} // namespace

bool ReadParamFile(const char* path, unsigned char block[ParamLen], std::string& why,
                   std::string* osWords) {
    std::string os;
    unsigned char values[ParamLen];
    const int rc = FileToArray(path, values, VAL_UNSIGNED_CHAR, ParamLen, 1, 0, 0, 1);
    if (rc >= 0) {
        std::memcpy(block, values, ParamLen);
        why.clear();
        if (osWords) osWords->clear();
        return true;
    }
    why = reason(rc, LastFileErrorLine(), path, os);
    if (osWords) *osWords = os;
    return false;
}

bool ReadParamText(const std::string& text, unsigned char block[ParamLen], std::string& why) {
    unsigned char values[ParamLen];
    int line = 0;
    const int rc = ParseByteList(text.data(), text.size(), values, ParamLen, &line);
    if (rc == FILE_OK) {
        std::memcpy(block, values, ParamLen);
        why.clear();
        return true;
    }
    std::string os;
    why = reason(rc, line, "", os);
    return false;
}

bool WriteParamFile(const char* path, const unsigned char block[ParamLen], std::string* why) {
    const int rc = ArrayToFile(path, block, VAL_UNSIGNED_CHAR, ParamLen, 1, 0, 0, 0, 4, 1, 0);
    if (rc >= 0) return true;
    if (why) {
        const char* what = "a special file";
        if (rc == FILE_NOT_A_FILE) {
            ExaminePath(path, &what);
            *why = std::string("it is ") + what + ", not a regular file";
        } else {
            why->clear(); // the caller says it in its own words (folder, disk)
        }
    }
    return false;
}

} // namespace sensor
