// Runs Debian's mosquitto as a child process for the tests (see mqtt_broker.h).
#include "mqtt_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef MOSQUITTO_BROKER_PATH
#define MOSQUITTO_BROKER_PATH "/usr/sbin/mosquitto"
#endif
#ifndef MOSQUITTO_PASSWD_PATH
#define MOSQUITTO_PASSWD_PATH "/usr/bin/mosquitto_passwd"
#endif

extern char** environ;

namespace mqtt_test {

namespace {

using Clock = std::chrono::steady_clock;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return bool(out);
}

// Runs a program to its end; its exit status, or -1 when it could not be run.
int runToEnd(const std::vector<std::string>& argv, const std::string& outPath) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Connects to 127.0.0.1:port within the deadline; -1 when refused or timed out.
int connectTcp(int port, Clock::time_point deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    if (errno == EINPROGRESS) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (left.count() > 0 && poll(&p, 1, int(left.count())) == 1 &&
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
            return fd;
    }
    close(fd);
    return -1;
}

} // namespace

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

Broker::Broker(BrokerOptions options) : options_(std::move(options)) {
    char templ[] = "/tmp/varno-mqtt-XXXXXX";
    if (mkdtemp(templ)) dir_ = templ;
}

Broker::~Broker() {
    if (pid_ > 0) stop(2000);
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

std::string Broker::url() const {
    return "mqtt://127.0.0.1:" + std::to_string(port_);
}

std::string Broker::log() const {
    return readText(dir_ + "/mosquitto.log") + readText(dir_ + "/stderr.txt");
}

// Writes the configuration, the password file and the ACL file.
bool Broker::prepare() {
    if (dir_.empty()) {
        error_ = "no temporary directory for the broker";
        return false;
    }
    if (access(MOSQUITTO_BROKER_PATH, X_OK) != 0) {
        error_ = std::string(MOSQUITTO_BROKER_PATH) +
                 " is missing: install Debian's mosquitto (scripts/deps.sh)";
        return false;
    }
    std::ostringstream conf;
    // As root, mosquitto would change to the user `mosquitto`, which cannot read this
    // directory; `root` keeps it as it is. As any other user the setting has no effect.
    if (geteuid() == 0) conf << "user root\n";
    conf << "listener " << port_ << " 127.0.0.1\n"
         << "log_dest file " << dir_ << "/mosquitto.log\n"
         << "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
         << "connection_messages true\n"
         << "log_timestamp_format %H:%M:%S\n"
         << "set_tcp_nodelay true\n";
    if (options_.users.empty()) {
        conf << "allow_anonymous true\n";
    } else {
        bool first = true;
        for (const auto& [user, password] : options_.users) {
            std::vector<std::string> argv{MOSQUITTO_PASSWD_PATH, "-b"};
            if (first) argv.insert(argv.begin() + 1, "-c");
            argv.insert(argv.end(), {passwordPath(), user, password});
            if (runToEnd(argv, dir_ + "/passwd.txt") != 0) {
                error_ =
                    "mosquitto_passwd failed for " + user + ": " + readText(dir_ + "/passwd.txt");
                return false;
            }
            first = false;
        }
        conf << "password_file " << passwordPath() << "\n"
             << "allow_anonymous " << (options_.allowAnonymous ? "true" : "false") << "\n";
    }
    if (!options_.acl.empty()) {
        if (!writeText(aclPath(), options_.acl)) {
            error_ = "cannot write " + aclPath();
            return false;
        }
        conf << "acl_file " << aclPath() << "\n";
    }
    if (options_.persistence)
        conf << "persistence true\npersistence_location " << dir_ << "/\n"
             << "autosave_interval 1\n";
    conf << options_.extraConfig << "\n";
    if (!writeText(configPath(), conf.str())) {
        error_ = "cannot write " + configPath();
        return false;
    }
    return true;
}

bool Broker::spawn() {
    const std::string prog = MOSQUITTO_BROKER_PATH, conf = configPath(), err = dir_ + "/stderr.txt";
    char* argv[] = {const_cast<char*>(prog.c_str()), const_cast<char*>("-c"),
                    const_cast<char*>(conf.c_str()), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    // Its own process group: a Ctrl-C meant for the test run reaches it through us only.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    const int rc = posix_spawn(&pid_, prog.c_str(), &fa, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        pid_ = -1;
        error_ = "cannot start " + prog + ": " + std::strerror(rc);
        return false;
    }
    return true;
}

// True once the broker answers a CONNECT with a CONNACK, whatever its verdict.
bool Broker::answers(int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = connectTcp(port_, deadline);
    if (fd < 0) return false;
    // MQTT 3.1.1 CONNECT: clean session, keepalive 10 s, empty client id.
    static const unsigned char connectPacket[] = {0x10, 12, 0, 4, 'M', 'Q', 'T',
                                                  'T',  4,  2, 0, 10,  0,   0};
    bool ok = false;
    if (send(fd, connectPacket, sizeof connectPacket, MSG_NOSIGNAL) == sizeof connectPacket) {
        unsigned char reply[4];
        std::size_t got = 0;
        while (got < sizeof reply) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) != 1) break;
            const ssize_t n = recv(fd, reply + got, sizeof reply - got, 0);
            if (n <= 0) break;
            got += std::size_t(n);
        }
        ok = got == sizeof reply && reply[0] == 0x20 && reply[1] == 2;
        static const unsigned char disconnectPacket[] = {0xE0, 0};
        if (ok) (void)!send(fd, disconnectPacket, sizeof disconnectPacket, MSG_NOSIGNAL);
    }
    close(fd);
    return ok;
}

bool Broker::start(int timeoutMs) {
    if (pid_ > 0) return true;
    error_.clear();
    // The first start may lose its free port to another process in between: then a new one.
    const int attempts = prepared_ ? 1 : 3;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!prepared_) {
            port_ = freePort();
            if (port_ == 0 || !prepare()) {
                if (error_.empty()) error_ = "no free TCP port on 127.0.0.1";
                return false;
            }
        }
        if (!spawn()) return false;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                error_ =
                    "mosquitto ended at start (status " + std::to_string(status) + "):\n" + log();
                break;
            }
            if (answers(200)) {
                prepared_ = true;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (pid_ > 0) {
            reap(500);
            error_ = "mosquitto did not answer on port " + std::to_string(port_) + " within " +
                     std::to_string(timeoutMs) + " ms:\n" + log();
            return false;
        }
    }
    return false;
}

void Broker::reap(int graceMs) {
    if (pid_ <= 0) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    int status = 0;
    while (Clock::now() < deadline) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    kill(pid_, SIGCONT);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

bool Broker::stop(int graceMs) {
    if (pid_ <= 0) return false;
    const pid_t pid = pid_;
    kill(pid, SIGTERM);
    kill(pid, SIGCONT); // a frozen broker handles the SIGTERM once it runs on
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    int status = 0;
    while (Clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid_ = -1;
            return WIFEXITED(status) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reap(0);
    return false;
}

void Broker::kill9() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    reap(2000);
}

bool Broker::restart(int timeoutMs) {
    kill9();
    return start(timeoutMs);
}

void Broker::freeze() {
    if (pid_ > 0) kill(pid_, SIGSTOP);
}

void Broker::thaw() {
    if (pid_ > 0) kill(pid_, SIGCONT);
}

bool Broker::waitSaved(int timeoutMs) {
    const std::string db = dir_ + "/mosquitto.db";
    auto stamp = [&db]() -> std::pair<long long, long long> {
        struct stat st {};
        if (::stat(db.c_str(), &st) != 0) return {-1, -1};
        return {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    };
    // The database is written in the broker's one thread, between handling packets: a
    // write that completes after this mark began after everything acknowledged before it.
    const auto before = stamp();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (stamp() != before) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "the broker did not write " + db + " within " + std::to_string(timeoutMs) + " ms";
    return false;
}

} // namespace mqtt_test
