#include "sensor/paramfile.h"

#include "runtime/bytelist.h"
#include "runtime/runtime.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace runtime;

namespace sensor {

namespace {

std::string cannotOpen(const char* path) {
    errno = 0;
    std::FILE* f = std::fopen(path, "rb");
    const int e = errno;
    if (f) std::fclose(f);
    if (e == ENOENT) return std::string("it does not exist (") + std::strerror(e) + ")";
    return std::string("it cannot be opened (") + (e ? std::strerror(e) : "not a regular file") +
           ")";
}

// The reason for a reader's result, as a user reads it.
std::string reason(int rc, int line, const char* path) {
    std::string why;
    switch (rc) {
    case FILE_CANNOT_OPEN:
        why = cannotOpen(path);
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

bool ReadParamFile(const char* path, unsigned char block[ParamLen], std::string& why) {
    unsigned char values[ParamLen];
    const int rc = FileToArray(path, values, VAL_UNSIGNED_CHAR, ParamLen, 1, 0, 0, 1);
    if (rc >= 0) {
        std::memcpy(block, values, ParamLen);
        why.clear();
        return true;
    }
    why = reason(rc, LastFileErrorLine(), path);
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
    why = reason(rc, line, "");
    return false;
}

bool WriteParamFile(const char* path, const unsigned char block[ParamLen]) {
    return ArrayToFile(path, block, VAL_UNSIGNED_CHAR, ParamLen, 1, 0, 0, 0, 4, 1, 0) >= 0;
}

} // namespace sensor
