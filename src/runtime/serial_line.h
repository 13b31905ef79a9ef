// The back ends of the serial line. The front end (serial.cpp) keeps the port numbers,
// the bindings, the argument checks and the input queue; a back end moves bytes to and
// from one transport: a QSerialPort device (serial_qt.cpp) or an in-process peer
// (serial_peer.cpp). A further transport is one more file implementing SerialLine.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace runtime {
class SerialEndpoint;
}

namespace runtime::detail {

struct LineSettings {
    long baud = 4800;
    int parity = 0; // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int dataBits = 8;
    int stopBits = 1;
};

class SerialLine {
  public:
    virtual ~SerialLine() = default;
    // Hands `n` bytes to the line now. Returns the count taken or a negative RS_ code.
    virtual int write(const char* data, int n) = 0;
    // Moves what has arrived into `queue`, never past `cap` bytes: what does not fit is
    // dropped, as a driver's full queue drops it, and reading goes on.
    virtual void pull(std::vector<std::uint8_t>& queue, std::size_t cap) = 0;
    // Blocks until more bytes may have arrived or `deadline` (Timer() seconds) has come.
    // False when nothing more can arrive by then.
    virtual bool wait(double deadline) = 0;
    // Discards what the transport holds that has not been pulled yet.
    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;
    virtual int setHandshake(bool cts) = 0;
    // False once the device is gone (adapter pulled out, peer disconnected, I/O error).
    virtual bool alive() = 0;
    // Why the line was lost, for the log ("" while alive).
    virtual std::string lostReason() const { return {}; }
    // Seconds until the transport delivers by itself (in-process peers); infinity if not.
    virtual double nextDue(double /*now*/) const { return std::numeric_limits<double>::infinity(); }
};

// Opens a serial device. On failure returns null and puts the RS_ code into `code` and
// the operating system's reason into `reason`.
std::unique_ptr<SerialLine> OpenDeviceLine(const std::string& path, const LineSettings& s,
                                           int& code, std::string& reason);
// Opens an in-process peer; null (RS_CANNOT_OPEN_PORT) when it is not connected.
std::unique_ptr<SerialLine> OpenPeerLine(std::shared_ptr<SerialEndpoint> peer, int& code);

} // namespace runtime::detail
