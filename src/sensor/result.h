// A link's verdict on one exchange: what happened and how it is told, always together.
#pragma once

#include <string>

namespace sensor {

class Result {
  public:
    enum Code {
        Ok,
        NoReply,     // nothing came within the reply wait
        ShortReply,  // some bytes, fewer than the reply has
        TooLong,     // more than the reply has, or a byte behind it within the settle time
        WrongReply,  // the right length, the wrong content (the line check)
        Strays,      // bytes behind a live record: it was not one
        PortLost,    // the port went away (or is not open)
        WriteFailed, // the frame did not go out whole
        OpenFailed,  // the port would not open; detail() is the system's reason
        Stopped,     // the wait was asked to stop
        Mismatch,    // a block read back after a write differs; got() is how many bytes
    };

    Result() = default; // Ok

    // The one place where a failure's code and its text are set. `request` is the request
    // code it concerns (0: none), `got`/`expected` the byte counts of a reply, `detail` what
    // the code adds (the reason a port would not open, the bytes of a wrong reply, which
    // live record was spoiled).
    static Result Fail(Code code, unsigned char request, int got = 0, int expected = 0,
                       const std::string& detail = {});

    Code code() const { return code_; }
    bool ok() const { return code_ == Ok; }
    explicit operator bool() const { return ok(); }
    // What went wrong, in words a user reads ("" when Ok): "no reply from the sensor to
    // the request 55 03 within 3.0 s".
    const std::string& text() const { return text_; }
    unsigned char request() const { return request_; }
    int got() const { return got_; }
    int expected() const { return expected_; }
    // A port's fault (lost, write failed, not opened) rather than the sensor's answer.
    bool portFault() const {
        return code_ == PortLost || code_ == WriteFailed || code_ == OpenFailed;
    }

  private:
    Code code_ = Ok;
    std::string text_;
    unsigned char request_ = 0;
    int got_ = 0, expected_ = 0;
};

// "55 03" for request code 3.
std::string RequestName(unsigned char code);
// Bytes as upper-case hex pairs with a blank between them: "AA 03 00".
std::string Hex(const unsigned char* bytes, int n);

} // namespace sensor
