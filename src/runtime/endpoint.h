// A serial peer that lives inside the process: the built-in simulated sensor and the
// scripted peers of the tests. Time is the run-time's Timer(), real or virtual.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace runtime {

class SerialEndpoint {
  public:
    virtual ~SerialEndpoint() = default;
    // Bytes the program handed to the line at `now`.
    virtual void receive(const std::uint8_t* data, std::size_t n, double now) = 0;
    // Bytes that have reached the program's side of the line by `now`, at most `max`.
    virtual std::size_t transmit(std::uint8_t* out, std::size_t max, double now) = 0;
    // Earliest future time something more is delivered (infinity when nothing is due).
    virtual double nextEventTime() const = 0;
    // False once the peer has gone (an adapter pulled out).
    virtual bool connected(double now) const = 0;
    // True when a write at `now` fails at the driver (an adapter that breaks mid-write).
    virtual bool writeFails(double /*now*/) const { return false; }
};

// Binds COM `port` to an in-process peer (replaces any device binding).
void BindSerialEndpoint(int port, std::shared_ptr<SerialEndpoint> endpoint);
// Binds COM `port` to a device path (a pseudo-terminal path works).
void BindSerialDevice(int port, const char* path);
// Removes every binding and closes every port.
void ResetSerialBindings();
// The device or peer behind a port number, as the port selector shows it after the
// number: the device and what the system knows of it ("" if none).
std::string SerialPortLabel(int port);
// Gives numbers to serial devices that appeared since start (an adapter plugged in).
void RescanSerialPorts();
// Highest port number the selector offers.
int SerialPortCount();

// Sees what the program sends on its ports (for a record of the line).
class SerialWatcher {
  public:
    virtual ~SerialWatcher() = default;
    // A port is about to be opened (whether or not the opening then succeeds).
    virtual void opening(int /*port*/) {}
    // `n` bytes went out on `port`.
    virtual void sent(int port, const char* data, int n) = 0;
    // Every binding has been removed.
    virtual void reset() {}
};
// Puts `watcher` in place (it must outlive its use); null removes it.
void WatchSerialWrites(SerialWatcher* watcher);

} // namespace runtime
