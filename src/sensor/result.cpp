#include "sensor/result.h"

#include "sensor/protocol.h"

#include <cstdio>

namespace sensor {

std::string Hex(const unsigned char* bytes, int n) {
    std::string s;
    char b[4];
    for (int i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", unsigned(bytes[i]));
        s += b;
    }
    return s;
}

std::string RequestName(unsigned char code) {
    const unsigned char frame[2] = {Sync, code};
    return Hex(frame, 2);
}

Result Result::Fail(Code code, unsigned char request, int got, int expected,
                    const std::string& detail) {
    Result r;
    r.code_ = code;
    r.request_ = request;
    r.got_ = got;
    r.expected_ = expected;
    const std::string name = RequestName(request);
    const std::string req = "the request " + name;
    switch (code) {
    case Ok:
        break;
    case NoReply:
        r.text_ = "no reply from the sensor to " + req + " within 3.0 s";
        break;
    case ShortReply:
        r.text_ = "the sensor answered " + req + " with " + std::to_string(got) + " of " +
                  std::to_string(expected) + " bytes within 3.0 s";
        break;
    case TooLong:
        r.text_ = "the reply to " + req + " was too long (more than " + std::to_string(expected) +
                  " bytes)";
        break;
    case WrongReply:
        r.text_ = "the sensor answered the line check " + name + " wrongly: " + detail +
                  " instead of " + Hex(LineOk, LineCheckLen);
        break;
    case Strays:
        r.text_ = "stray bytes followed the reply to " + name +
                  (detail.empty() ? "" : " (" + detail + ")") + ": it was not a live record";
        break;
    case PortLost:
        r.text_ = request ? "the port was lost while waiting for the reply to " + name
                          : std::string("the port was lost");
        break;
    case WriteFailed:
        r.text_ = req + " could not be written: the port failed or was lost";
        break;
    case OpenFailed:
        r.text_ = "cannot open the port: " + detail;
        break;
    case Stopped:
        r.text_ = "the wait for the reply to " + name + " was stopped";
        break;
    case Mismatch:
        r.text_ = "verify failed: " + std::to_string(got) + " of " + std::to_string(expected) +
                  " bytes read back differ";
        break;
    }
    return r;
}

} // namespace sensor
