// The far end of a pseudo-terminal, for real-time tests through QSerialPort, and the
// stand-alone simulated sensor on one.
#pragma once

#include "fixture.h"
#include "pty.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

// The far end of a pseudo-terminal, playing the sensor.
class PtyPeer {
  public:
    bool ok() const { return pty_.ok(); }
    const std::string& path() const { return pty_.path(); }
    void close() { pty_.close(); }
    // Everything that has arrived, frames or not (cleared by the test).
    Bytes all;
    // Collects what has arrived.
    Bytes& poll() {
        std::uint8_t buf[256];
        for (;;) {
            const ssize_t n = pty_.fd() >= 0 ? ::read(pty_.fd(), buf, sizeof buf) : -1;
            if (n <= 0) break;
            in_.insert(in_.end(), buf, buf + n);
            all.insert(all.end(), buf, buf + n);
        }
        return in_;
    }
    void send(const Bytes& b) { (void)!::write(pty_.fd(), b.data(), b.size()); }
    // Removes and returns the next complete 17-byte frame, if any.
    bool nextFrame(Bytes& f) {
        poll();
        if (in_.size() < 17) return false;
        f.assign(in_.begin(), in_.begin() + 17);
        in_.erase(in_.begin(), in_.begin() + 17);
        return true;
    }

  private:
    Pty pty_;
    Bytes in_;
};

// Binds COM1 to the near end of `sensor`'s terminal and opens it as the link's port,
// without a line check. False when the terminal or the opening failed.
[[nodiscard]] inline bool openOnPty(const PtyPeer& sensor) {
    if (!sensor.ok()) return false;
    rt::BindSerialDevice(1, sensor.path().c_str());
    if (rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024) != 0) return false;
    com232::com = 1;
    return true;
}

#ifdef VARNO_SENSOR_SIM_PATH
// Starts varno-sensor-sim on a new pseudo-terminal behind the symbolic link `link`, with
// `extra` options; true once it runs and has told the terminal's path.
inline bool startSensorSim(QProcess& sim, const QString& link, const QStringList& extra = {}) {
    sim.start(VARNO_SENSOR_SIM_PATH, QStringList{"--link", link} + extra);
    return sim.waitForStarted(5000) && sim.waitForReadyRead(5000);
}
#endif
