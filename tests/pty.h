// A pseudo-terminal for tests: the far end (the master) in raw mode and non-blocking, the
// near end's path for the program under test to open as a serial device. Plain POSIX.
#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

class Pty {
  public:
    Pty() {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) return;
        path_ = ptsname(fd_);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return fd_ >= 0 && !path_.empty(); }
    int fd() const { return fd_; }
    // The near end, as the program opens it.
    const std::string& path() const { return path_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    std::string path_;
};
