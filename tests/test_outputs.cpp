// Output targets and the paths the programs are pointed at: what a path names, the whole-file
// replace (through links, keeping the mode), varno-cli's -o and write against devices, FIFOs,
// folders, sockets and links to each, its JSON for every outcome, ports that are no serial
// device, and the permission hint.
#include "cli/session.h"
#include "cli_fixture.h"
#include "pty_peer.h"
#include "runtime/internal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What a path is, as the file system says it (lstat), with a link's target.
struct Node {
    bool exists = false;
    mode_t mode = 0;
    dev_t rdev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::string link;
    bool operator==(const Node&) const = default;
};

Node node(const std::string& p) {
    Node n;
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return n;
    n = {true, st.st_mode, st.st_rdev, st.st_ino, S_ISREG(st.st_mode) ? st.st_size : 0, {}};
    if (S_ISLNK(st.st_mode)) {
        char buf[4096];
        const ssize_t len = ::readlink(p.c_str(), buf, sizeof buf);
        if (len > 0) n.link.assign(buf, std::size_t(len));
    }
    return n;
}

std::string slurp(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool makeSocket(const std::string& p) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (p.size() >= sizeof a.sun_path) return ::close(fd), false;
    std::memcpy(a.sun_path, p.c_str(), p.size() + 1);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd); // the socket file stays
    return ok;
}

// A temporary folder holding one of each kind of thing that is not a regular file, and a
// symbolic link to each. The character device is one of our own (mknod c 1 7, as root);
// elsewhere /dev/null, which a user cannot replace anyway.
struct Targets {
    QTemporaryDir dir;
    std::vector<std::pair<std::string, std::string>> kinds; // path, what it is
    std::string p(const char* name) const { return dir.filePath(name).toStdString(); }

    Targets() {
        const std::string fifo = p("fifo"), folder = p("folder"), sock = p("sock");
        std::string dev = p("full");
        if (::mknod(dev.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) dev = "/dev/null";
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        EXPECT_TRUE(QDir().mkdir(QString::fromStdString(folder)));
        EXPECT_TRUE(makeSocket(sock));
        kinds = {{dev, "a character device"},
                 {fifo, "a FIFO"},
                 {folder, "a directory"},
                 {sock, "a socket"}};
        const std::size_t direct = kinds.size();
        for (std::size_t i = 0; i < direct; ++i) {
            const std::string link = kinds[i].first + "-link";
            const std::string l = link.rfind("/dev/", 0) == 0 ? p("dev-link") : link;
            EXPECT_EQ(::symlink(kinds[i].first.c_str(), l.c_str()), 0);
            kinds.push_back({l, kinds[i].second});
        }
    }
};

} // namespace

// ---- what a path names, and the whole-file replace ---------------------------------------

TEST(OutputTargets, EachKindIsNamedWithoutOpeningIt) {
    Targets t;
    for (const auto& [path, what] : t.kinds) {
        const char* said = nullptr;
        EXPECT_EQ(rt::ExaminePath(path.c_str(), &said), rt::PathKind::NotAFile) << path;
        EXPECT_STREQ(said, what.c_str()) << path;
    }
    const std::string file = t.p("file"), loop = t.p("loop");
    std::ofstream(file) << "x";
    const char* said = nullptr;
    EXPECT_EQ(rt::ExaminePath(file.c_str(), &said), rt::PathKind::RegularFile);
    EXPECT_STREQ(said, "a regular file");
    EXPECT_EQ(rt::ExaminePath(t.p("nothing").c_str(), &said), rt::PathKind::Absent);
    ASSERT_EQ(::symlink("loop", loop.c_str()), 0);
    EXPECT_EQ(rt::ExaminePath(loop.c_str(), &said), rt::PathKind::NotAFile);
    EXPECT_STREQ(said, "a loop of symbolic links");
}

TEST(OutputTargets, AWriteIsRefusedForEveryKindThatIsNoFileAndLeavesItAsItIs) {
    Targets t;
    for (const auto& [path, what] : t.kinds) {
        const Node before = node(path);
        struct stat target {};
        ASSERT_EQ(::stat(path.c_str(), &target), 0) << path;
        EXPECT_EQ(rt::WriteWholeFile(path.c_str(), "new\n", 4), rt::FILE_NOT_A_FILE) << path;
        EXPECT_EQ(node(path), before) << path;
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0) << path;
        EXPECT_EQ(after.st_mode, target.st_mode) << path;
        EXPECT_EQ(after.st_rdev, target.st_rdev) << path;
        EXPECT_EQ(after.st_ino, target.st_ino) << path;
    }
    // Nothing was left behind in the folder: only the things made for the test.
    EXPECT_EQ(QDir(t.dir.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                  .size(),
              qsizetype(t.kinds.size() - (t.kinds[0].first == "/dev/null" ? 1 : 0)));
}

TEST(OutputTargets, ALinkToAFileReplacesTheFileItNamesAndKeepsItsMode) {
    QTemporaryDir dir;
    const std::string sub = dir.filePath("real").toStdString();
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(sub)));
    const std::string file = sub + "/params.dat", link = dir.filePath("params.dat").toStdString();
    std::ofstream(file) << "old\n";
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    ASSERT_EQ(::symlink("real/params.dat", link.c_str()), 0); // relative, as ln -s makes it
    const Node linkBefore = node(link);
    EXPECT_EQ(rt::WriteWholeFile(link.c_str(), "new content\n", 12), rt::FILE_OK);
    EXPECT_EQ(node(link), linkBefore); // still the same link
    EXPECT_EQ(slurp(file), "new content\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    // The new content was made beside the file, in its own folder, and nothing is left.
    EXPECT_EQ(QDir(QString::fromStdString(sub)).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(OutputTargets, ANewFileFollowsTheUmaskAndALinkToNothingMakesItsTarget) {
    QTemporaryDir dir;
    const mode_t old = ::umask(027);
    const std::string fresh = dir.filePath("fresh.dat").toStdString();
    EXPECT_EQ(rt::WriteWholeFile(fresh.c_str(), "1\n", 2), rt::FILE_OK);
    struct stat st {};
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ::umask(old);
    const std::string link = dir.filePath("later").toStdString();
    ASSERT_EQ(::symlink("made-through-link.dat", link.c_str()), 0);
    EXPECT_EQ(rt::WriteWholeFile(link.c_str(), "2\n", 2), rt::FILE_OK);
    EXPECT_EQ(node(link).link, "made-through-link.dat");
    EXPECT_EQ(slurp(dir.filePath("made-through-link.dat").toStdString()), "2\n");
    // Into a folder that is not there: a failure, and nothing made.
    EXPECT_EQ(rt::WriteWholeFile(dir.filePath("none/x").toStdString().c_str(), "3", 1),
              rt::FILE_WRITE_FAILED);
}

// ---- varno-cli read -o, write ------------------------------------------------------------

TEST_F(Cli, ReadToAnyTargetThatIsNoFileExitsFourAndLeavesItAsItIs) {
    auto p = peer(standardAnswer);
    Targets t;
    for (const auto& [target, what] : t.kinds) {
        const Node before = node(target);
        const Result r = run({"read", "ram", "-o", target});
        EXPECT_EQ(r.code, 4) << target;
        EXPECT_NE(r.err.find("it is " + what + ", not a regular file"), std::string::npos) << r.err;
        EXPECT_EQ(node(target), before) << target;
        const Result j = run({"--json", "read", "ram", "-o", target});
        EXPECT_EQ(j.code, 4);
        EXPECT_EQ(j.out.rfind("{\"command\":\"read\",\"port\":\"COM1\",\"ok\":false,"
                              "\"target\":\"ram\",\"exit\":4,\"error\":",
                              0),
                  0u)
            << j.out;
        EXPECT_EQ(node(target), before) << target;
    }
    struct stat st {};
    ASSERT_EQ(::stat(t.kinds[0].first.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)); // the device is still a device
}

TEST_F(Cli, ReadOverAReadOnlyFileKeepsItsModeAndALinkKeepsBeingALink) {
    peer(standardAnswer);
    const std::string f = path("ro.dat"), link = path("link.dat");
    writeFile(f, "old\n");
    ASSERT_EQ(::chmod(f.c_str(), 0444), 0);
    ASSERT_EQ(::symlink(f.c_str(), link.c_str()), 0);
    Result r = run({"read", "ram", "-o", f});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(slurp(f), fileText(block15));
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    writeFile(f, "older\n");
    r = run({"read", "ram", "-o", link});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(node(link).link, f);
    EXPECT_EQ(slurp(f), fileText(block15));
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(Cli, WriteFromAFifoIsRefusedAtOnceWithNothingOnTheLine) {
    auto p = peer(standardAnswer);
    const std::string fifo = path("params.fifo"), link = path("fifo-link");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
    for (const std::string& f : {fifo, link}) {
        const Result r = run({"write", f, "ram"});
        EXPECT_EQ(r.code, 4);
        EXPECT_NE(r.err.find("it is a FIFO, not a regular file; nothing was sent"),
                  std::string::npos)
            << r.err;
        EXPECT_LT(r.seconds, 0.01);
    }
    EXPECT_TRUE(p->frames.empty());
    EXPECT_EQ(written(), "");
    // A file that is not there is still named so.
    const Result r = run({"write", path("none.dat"), "ram"});
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

// ---- varno-cli as a program --------------------------------------------------------------

namespace {

struct Ran {
    int code = -1000;
    std::string out, err;
    qint64 ms = 0;
};

// Runs varno-cli; a sensor on `pty`, when given, answers the reading of RAM.
Ran runCli(const QStringList& args, PtyPeer* pty = nullptr, int timeoutMs = 10000) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(VARNO_CLI_PATH, args);
    Ran r;
    if (!p.waitForStarted(5000)) return r;
    while (!p.waitForFinished(5) && t.elapsed() < timeoutMs) {
        Bytes f;
        while (pty && pty->nextFrame(f))
            if (f[1] == 3) pty->send(block15);
    }
    r.ms = t.elapsed();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(3000);
        return r;
    }
    if (pty) pty->poll();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2000;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

bool validUtf8(const std::string& s) {
    QStringDecoder d(QStringDecoder::Utf8);
    (void)QString(d(QByteArrayView(s.data(), qsizetype(s.size()))));
    return !d.hasError();
}

} // namespace

TEST(CliTargets, TheProgramRefusesADeviceAndAFifoQuicklyAndPutsNothingOnTheLine) {
    PtyPeer pty;
    ASSERT_TRUE(pty.ok());
    Targets t;
    const QString port = QString::fromStdString(pty.path());
    for (const auto& [target, what] : t.kinds) {
        if (what != "a character device" && what != "a FIFO") continue;
        const Node before = node(target);
        pty.all.clear();
        // write: refused before the port is even opened, so nothing can reach the line.
        Ran r = runCli({"--port", port, "write", QString::fromStdString(target), "ram"}, &pty);
        EXPECT_EQ(r.code, 4) << target << r.err;
        EXPECT_LT(r.ms, 5000);
        EXPECT_TRUE(pty.all.empty()) << target;
        EXPECT_EQ(node(target), before) << target;
        // read -o: the block is read, then the target refused and left as it is.
        pty.all.clear();
        r = runCli({"--port", port, "read", "ram", "-o", QString::fromStdString(target)}, &pty);
        EXPECT_EQ(r.code, 4) << target << r.err;
        EXPECT_NE(r.err.find("it is " + what + ", not a regular file"), std::string::npos) << r.err;
        EXPECT_EQ(pty.all, frameFor(3, zeros15.data()));
        EXPECT_EQ(node(target), before) << target;
    }
    struct stat st {};
    ASSERT_EQ(::stat(t.kinds[0].first.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, t.kinds[0].first == "/dev/null" ? makedev(1, 3) : makedev(1, 7));
}

TEST(CliTargets, HelpIntoAFullDeviceExitsFour) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::FILE* err = std::tmpfile();
    const char* argv[] = {"varno-cli", "--help"};
    EXPECT_EQ(cli::Main(2, argv, full, err), 4);
    std::fclose(full);
    EXPECT_NE(readAll(err).find("the output could not be written"), std::string::npos);
    // The program, its standard output on /dev/full, as a shell redirection makes it.
    QProcess p;
    p.setStandardOutputFile("/dev/full");
    p.start(VARNO_CLI_PATH, {"--version"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 4);
}

// ---- JSON: one shape, valid UTF-8 --------------------------------------------------------

TEST_F(Cli, JsonHasOneShapeForSuccessFailureAndUsage) {
    peer(standardAnswer);
    Result r = run({"--json", "read", "eeprom"});
    EXPECT_EQ(r.out.rfind(
                  "{\"command\":\"read\",\"port\":\"COM1\",\"ok\":true,\"target\":\"eeprom\",", 0),
              0u)
        << r.out;
    r = run({"--json", "read", "ram", "-o", path("none/x.dat")});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out.rfind("{\"command\":\"read\",\"port\":\"COM1\",\"ok\":false,\"target\":\"ram\","
                          "\"exit\":4,\"error\":\"the parameter file ",
                          0),
              0u)
        << r.out;
    // Usage errors print their object too, wherever --json stands.
    for (auto args : std::vector<std::vector<std::string>>{{"--json", "read", "flash"},
                                                           {"--json", "--bogus"},
                                                           {"--bogus", "--json"},
                                                           {"--json"},
                                                           {"live", "--json"},
                                                           {"--json", "--count", "010", "live"}}) {
        r = run(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_NE(r.out.find(",\"port\":\"COM1\",\"ok\":false,\"exit\":2,\"error\":\""),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.rfind("{\"command\":", 0), 0u) << r.out;
    }
    r = run({"--json", "--port", "COM300", "check"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out.rfind("{\"command\":null,\"port\":\"COM300\",\"ok\":false,\"exit\":2,", 0), 0u)
        << r.out;
    r = run({"--json", "frobnicate"});
    EXPECT_EQ(r.out.rfind("{\"command\":null,", 0), 0u) << r.out;
    r = run({"--json", "live"});
    EXPECT_EQ(r.out.rfind("{\"command\":\"live\",", 0), 0u) << r.out;
}

TEST_F(Cli, JsonIsValidUtf8WhateverThePath) {
    peer(standardAnswer);
    const std::string bad = path("caf\xe9-\xff.dat"); // Latin-1 bytes, not UTF-8
    const std::string good = path("caf\xc3\xa9.dat");
    Result r = run({"--json", "read", "ram", "-o", bad + "/x"});
    EXPECT_EQ(r.code, 4);
    EXPECT_TRUE(validUtf8(r.out)) << r.out;
    EXPECT_NE(r.out.find("caf\xef\xbf\xbd-\xef\xbf\xbd.dat"), std::string::npos) << r.out;
    r = run({"--json", "read", "ram", "-o", good});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("caf\xc3\xa9.dat"), std::string::npos) << r.out; // kept as it is
    EXPECT_EQ(cli::jsonString("a\"b\\\n\x01\x7f"), "\"a\\\"b\\\\\\n\\u0001\\u007F\"");
    // Overlong forms, surrogates, code points beyond U+10FFFF and cut sequences are no UTF-8.
    for (const std::string s :
         {"\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\xf0\x8f\xbf\xbf"}) {
        const std::string j = cli::jsonString(s);
        EXPECT_TRUE(validUtf8(j)) << j;
        EXPECT_NE(j.find("\xef\xbf\xbd"), std::string::npos) << j;
    }
    EXPECT_EQ(cli::jsonString("\xf0\x9f\x98\x80\xe2\x82\xac"), "\"\xf0\x9f\x98\x80\xe2\x82\xac\"");
}

TEST_F(Cli, CountTakesPlainDecimalDigitsOnly) {
    for (const char* bad : {" 5", "+2", "010", "5 ", "0x5", "-1", "1e3", "", "00"}) {
        const Result r = run({"live", "--count", bad});
        EXPECT_EQ(r.code, 2) << "'" << bad << "'";
        EXPECT_NE(r.err.find("--count wants"), std::string::npos) << r.err;
    }
    cli::Options o;
    std::string error;
    const char* argv[] = {"varno-cli", "live", "--count", "1000000000"};
    ASSERT_TRUE(cli::ParseArgs(4, argv, o, error)) << error;
    EXPECT_EQ(o.count, 1000000000L);
    const char* argv2[] = {"varno-cli", "live", "--count=12"};
    ASSERT_TRUE(cli::ParseArgs(3, argv2, o, error)) << error;
    EXPECT_EQ(o.count, 12);
}

// ---- ports that are no serial device -----------------------------------------------------

TEST(NotATerminal, EachKindIsNamedAndNeverCalledBusy) {
    Targets t;
    const std::string file = t.p("file");
    std::ofstream(file) << "x";
    for (const auto& [path, what] : t.kinds) {
        const std::string why = rt::detail::ExplainOpenFailure(path, false, std::strerror(ENOTTY));
        EXPECT_EQ(why.find("busy"), std::string::npos) << why;
        if (what == "a character device")
            EXPECT_EQ(why, path + ": not a serial device (a character device that is not a "
                                  "terminal)");
        else
            EXPECT_EQ(why, path + ": not a serial device (it is " + what + ")");
    }
    EXPECT_EQ(rt::detail::ExplainOpenFailure(file, false, ""),
              file + ": not a serial device (it is a regular file)");
    // A port bound to such a path does not open, and says why.
    for (const std::string& dev : {t.kinds[1].first, t.kinds[5].first, file}) {
        rt::BindSerialDevice(7, dev.c_str());
        QElapsedTimer e;
        e.start();
        EXPECT_LT(rt::OpenComConfig(7, "", 4800, 0, 8, 1, 1024, 1024), 0);
        EXPECT_LT(e.elapsed(), 2000);
        EXPECT_NE(std::string(rt::PortOpenFailure(7)).find(dev + ": not a serial device"),
                  std::string::npos)
            << rt::PortOpenFailure(7);
    }
    rt::ResetSerialBindings();
}

TEST(NotATerminal, TheProgramSaysNotASerialDeviceAndExitsFour) {
    Targets t;
    const std::string file = t.p("file");
    std::ofstream(file) << "x";
    for (const std::string& port :
         {std::string("/dev/null"), t.kinds[1].first, t.kinds[2].first, t.kinds[4].first, file}) {
        const Ran r = runCli({"--port", QString::fromStdString(port), "check"});
        EXPECT_EQ(r.code, 4) << port;
        EXPECT_NE(r.err.find("not a serial device"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("busy"), std::string::npos) << r.err;
        EXPECT_LT(r.ms, 5000);
    }
}

// ---- the permission hint -----------------------------------------------------------------

TEST(PermissionHint, AGroupIsAdvisedOnlyWhereItMayReadAndWriteAndIsNotRoot) {
    using rt::detail::PermissionAdvice;
    const std::string dev = "/dev/ttyUSB0";
    std::string s = PermissionAdvice(dev, "root", "dialout", 20, 020660);
    EXPECT_EQ(s, dev + ": permission denied. The device belongs to the group \"dialout\"; add "
                       "yourself to it with\n  sudo usermod -aG dialout $USER\nthen log out "
                       "and in again.");
    for (auto [group, gid, mode] :
         {std::tuple{"root", 0u, 0600u}, std::tuple{"root", 0u, 0660u},
          std::tuple{"dialout", 20u, 0640u}, std::tuple{"dialout", 20u, 0600u},
          std::tuple{"dialout", 20u, 0620u}, std::tuple{"wheel", 0u, 0660u}}) {
        s = PermissionAdvice(dev, "root", group, gid, 020000 | mode);
        EXPECT_EQ(s.find("usermod"), std::string::npos) << s;
        EXPECT_NE(s.find("Only its owner (\"root\") may open it"), std::string::npos) << s;
        EXPECT_NE(s.find("udev rule"), std::string::npos) << s;
        char bits[8];
        std::snprintf(bits, sizeof bits, "%04o", mode);
        EXPECT_NE(s.find(std::string("mode ") + bits), std::string::npos) << s;
    }
    s = PermissionAdvice(dev, "alice", "uucp", 10, 020666);
    EXPECT_NE(s.find("sudo usermod -aG uucp $USER"), std::string::npos) << s;
}
