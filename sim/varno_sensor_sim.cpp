// varno-sensor-sim: serves the simulated sensor on a pseudo-terminal or a serial device.
//
// The model (sensor_model.h) decides what is sent and when; this program only moves bytes
// between the line and the model on a CLOCK_MONOTONIC time base and sleeps in ppoll() until
// the next byte is due or the host writes something.

#include "sensor_model.h"
#include "sim_options.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

double monotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool setRaw4800(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// EEPROM file: 15 decimal numbers. Missing file: keep defaults. Returns false on a bad file.
bool loadEeprom(const std::string& path, sim::ParamBlock& block) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return errno == ENOENT;
    std::string text;
    char buf[256];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < 4096)
        text.append(buf, n);
    std::fclose(f);
    return sim::parseParamText(text.c_str(), block);
}

bool saveEeprom(const std::string& path, const sim::ParamBlock& block) {
    const std::string tmp = path + ".tmp." + std::to_string(getpid());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string text = sim::formatParamText(block);
    bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), path.c_str()) == 0) return true;
    unlink(tmp.c_str());
    return false;
}

struct Line {
    int fd = -1;      // master side of the pty, or the serial device
    int slaveFd = -1; // our own handle on the pty slave (keeps it from hanging up)
    std::string name; // what is printed on stdout
    std::string link; // symbolic link to remove at exit
};

bool openPty(Line& line) {
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return false;
    if (grantpt(m) != 0 || unlockpt(m) != 0) {
        close(m);
        return false;
    }
    const char* name = ptsname(m);
    if (!name) {
        close(m);
        return false;
    }
    line.name = name;
    line.slaveFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.slaveFd < 0 || !setRaw4800(line.slaveFd)) {
        if (line.slaveFd >= 0) close(line.slaveFd);
        close(m);
        return false;
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    line.fd = m;
    return true;
}

bool openDevice(Line& line, const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (!setRaw4800(fd)) {
        close(fd);
        return false;
    }
    line.fd = fd;
    line.name = path;
    return true;
}

// Points PATH at the terminal. A link left by an earlier run (or held by one still
// running) is replaced in one step, so a program watching PATH never finds it missing
// in between; anything but a symbolic link is left alone.
bool makeLink(const std::string& target, const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        errno = EEXIST;
        return false;
    }
    const std::string tmp = path + ".new." + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0) return false;
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        unlink(tmp.c_str());
        errno = e;
        return false;
    }
    return true;
}

void removeLink(const Line& line) {
    if (line.link.empty()) return;
    char buf[4096];
    const ssize_t n = readlink(line.link.c_str(), buf, sizeof buf - 1);
    if (n < 0) return;
    buf[n] = '\0';
    if (line.name == buf) unlink(line.link.c_str()); // only if it is still ours
}

void closeLine(Line& line) {
    if (line.fd >= 0) close(line.fd);
    if (line.slaveFd >= 0) close(line.slaveFd);
    line.fd = line.slaveFd = -1;
    removeLink(line);
}

// The model's settings from the options.
sim::Config configFrom(const simopt::Options& opt) {
    sim::Config cfg;
    cfg.latency = opt.latencyMs / 1000.0;
    cfg.targetRate = opt.rate;
    cfg.seed = static_cast<std::uint32_t>(opt.seed);
    cfg.pacing = opt.pacing;
    cfg.faults.silent = opt.silent;
    cfg.faults.shortReply = opt.shortReply;
    cfg.faults.extraBytes = opt.extra;
    cfg.faults.lateReply = opt.lateMs / 1000.0;
    cfg.faults.splitParts = opt.split;
    cfg.faults.splitGap = opt.splitGapMs / 1000.0;
    cfg.faults.wrongLineCheck = opt.wrongLineCheck;
    cfg.faults.disconnectAt = opt.disconnectAfter; // model time starts at 0 in serve()
    return cfg;
}

// The line the sensor answers on: the device named, or a new pseudo-terminal, with the
// link asked for. False, having said why.
bool openLine(const simopt::Options& opt, Line& line) {
    if (!opt.device.empty()) {
        if (!openDevice(line, opt.device)) {
            std::fprintf(stderr, "varno-sensor-sim: cannot open %s: %s\n", opt.device.c_str(),
                         std::strerror(errno));
            return false;
        }
    } else if (!openPty(line)) {
        std::fprintf(stderr, "varno-sensor-sim: cannot create a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return false;
    }
    if (opt.link.empty()) return true;
    if (!makeLink(line.name, opt.link)) {
        std::fprintf(stderr, "varno-sensor-sim: cannot create link %s: %s\n", opt.link.c_str(),
                     std::strerror(errno));
        closeLine(line);
        return false;
    }
    line.link = opt.link;
    return true;
}

// Signals are only delivered inside ppoll(), so a stop request cannot be missed; `waitMask`
// is the mask ppoll() waits with.
void installSignals(sigset_t& waitMask) {
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Hands the line what the model released and the line takes now.
void writeOut(int fd, std::vector<std::uint8_t>& out) {
    if (out.size() > 65536) out.clear(); // nobody is reading; stale replies are useless
    while (!out.empty()) {
        const ssize_t w = write(fd, out.data(), out.size());
        if (w > 0) {
            out.erase(out.begin(), out.begin() + w);
        } else {
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) out.clear(); // EIO etc.
            break;
        }
    }
}

// Gives the model what the host wrote. True when the line hung up (no client on it, or
// the device went away).
bool readIn(int fd, sim::SensorModel& model, double t) {
    std::uint8_t buf[512];
    for (;;) {
        const ssize_t r = read(fd, buf, sizeof buf);
        if (r > 0) {
            model.receive(buf, std::size_t(r), t);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        return r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
}

// Answers on the line until a signal, the disconnect time or a poll error (1).
int serve(const simopt::Options& opt, sim::SensorModel& model, Line& line,
          const sigset_t& waitMask) {
    const double t0 = monotonicSeconds();
    auto now = [t0]() { return monotonicSeconds() - t0; };
    model.advanceTo(0.0);
    std::vector<std::uint8_t> out; // released by the model, not yet accepted by the line
    std::uint32_t savedWrites = 0;
    double quietUntil = 0.0; // after a hangup/EIO: do not read before this time
    while (!stopRequested) {
        double t = now();
        if (opt.disconnectAfter >= 0 && t >= opt.disconnectAfter) break;
        std::uint8_t buf[512];
        for (std::size_t n; (n = model.transmit(buf, sizeof buf, t)) > 0;)
            out.insert(out.end(), buf, buf + n);
        writeOut(line.fd, out);

        // Sleep until the next byte is due, the host writes, or the disconnect time.
        double deadline = model.nextEventTime();
        if (opt.disconnectAfter >= 0) deadline = std::min(deadline, opt.disconnectAfter);
        const bool reading = t >= quietUntil;
        if (!reading) deadline = std::min(deadline, quietUntil);
        pollfd pfd{line.fd, 0, 0};
        if (reading) pfd.events |= POLLIN;
        if (!out.empty()) pfd.events |= POLLOUT;
        timespec ts{};
        timespec* tsp = nullptr;
        if (std::isfinite(deadline)) {
            const double d = std::max(0.0, deadline - t) + 50e-6; // never wake up too early
            ts.tv_sec = static_cast<time_t>(d);
            ts.tv_nsec = static_cast<long>((d - double(ts.tv_sec)) * 1e9);
            tsp = &ts;
        }
        const int pr =
            pfd.events ? ppoll(&pfd, 1, tsp, &waitMask) : ppoll(nullptr, 0, tsp, &waitMask);
        if (pr < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "varno-sensor-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (pr == 0 || !pfd.events) continue;

        t = now();
        bool hangup = (pfd.revents & (POLLHUP | POLLERR)) != 0;
        if (pfd.revents & POLLIN) hangup = readIn(line.fd, model, t) || hangup;
        // No client on the line (or the device went away): look again a little later
        // instead of spinning on a permanent hangup condition.
        if (hangup) quietUntil = t + 0.1;
        if (!opt.eepromFile.empty() && model.eepromWriteCount() != savedWrites) {
            savedWrites = model.eepromWriteCount();
            if (!saveEeprom(opt.eepromFile, model.eeprom()))
                std::fprintf(stderr, "varno-sensor-sim: cannot save EEPROM file '%s': %s\n",
                             opt.eepromFile.c_str(), std::strerror(errno));
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    simopt::Options opt;
    if (const int rc = simopt::parseArgs(argc, argv, opt); rc >= 0) return rc;
    sim::Config cfg = configFrom(opt);
    if (!opt.eepromFile.empty() && !loadEeprom(opt.eepromFile, cfg.eeprom)) {
        std::fprintf(stderr, "varno-sensor-sim: cannot read EEPROM file '%s'\n",
                     opt.eepromFile.c_str());
        return 1;
    }
    Line line;
    if (!openLine(opt, line)) return 1;
    sigset_t waitMask;
    installSignals(waitMask);
    std::printf("%s\n", line.name.c_str());
    std::fflush(stdout);
    sim::SensorModel model(cfg);
    const int rc = serve(opt, model, line, waitMask);
    closeLine(line);
    return rc;
}
