// The panel's own files against paths that name no regular file: the parameter file's save
// and load, the graph picture, the jump buffer's CSV and the recording, each refused with
// its reason and the thing left as it is; a link to a file replaces the file it names.
#include "fixture.h"

#include "capture.h"
#include "child.h"
#include "recording/record.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

struct Node {
    bool exists = false;
    mode_t mode = 0;
    dev_t rdev = 0;
    ino_t ino = 0;
    off_t size = 0;
    bool operator==(const Node&) const = default;
};

Node node(const std::string& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return {};
    return {true, st.st_mode, st.st_rdev, st.st_ino, S_ISREG(st.st_mode) ? st.st_size : 0};
}

std::string slurp(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class PanelOutputs : public PanelTest {
  protected:
    QTemporaryDir dir;
    // Things that are no regular file, with what they are; then a link to each. Each is
    // named with the ending the save in question wants.
    std::vector<std::pair<std::string, std::string>> kinds;

    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        std::snprintf(Varnov30::proj_dir, sizeof Varnov30::proj_dir, "%s",
                      dir.path().toLocal8Bit().constData());
        com232::target = com232::DATFILE;
        com232::sync = 0x55;
        record::Stop();
        capture::SetStartupFile("");
        capture::Init();
    }
    void TearDown() override {
        record::Stop();
        capture::SetStartupFile("");
        Varnov30::proj_dir[0] = '\0';
        PanelTest::TearDown();
    }
    std::string path(const std::string& name) { return dir.filePath(name.c_str()).toStdString(); }

    void makeKinds(const std::string& ending) {
        kinds.clear();
        std::string dev = path("device" + ending);
        // Our own character device where we may make one (as root); else /dev/null,
        // which a user cannot replace anyway.
        if (::mknod(dev.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) dev = "/dev/null";
        const std::string fifo = path("fifo" + ending), folder = path("folder" + ending),
                          sock = path("sock" + ending);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        ASSERT_TRUE(QDir().mkdir(QString::fromStdString(folder)));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        ASSERT_LT(sock.size(), sizeof a.sun_path);
        std::memcpy(a.sun_path, sock.c_str(), sock.size() + 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::close(fd);
        kinds = {{dev, "a character device"},
                 {fifo, "a FIFO"},
                 {folder, "a directory"},
                 {sock, "a socket"}};
        for (std::size_t i = 0; i < 4; ++i) {
            const std::string link = path("link" + std::to_string(i) + ending);
            ASSERT_EQ(::symlink(kinds[i].first.c_str(), link.c_str()), 0);
            kinds.push_back({link, kinds[i].second});
        }
    }
    std::vector<th::Popup> messages() {
        std::vector<th::Popup> m;
        for (auto& p : popups)
            if (p.kind == th::Popup::Message) m.push_back(p);
        return m;
    }
    void save(const std::string& p) {
        fileAnswer = {2, p};
        th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    }
    void load(const std::string& p) {
        fileAnswer = {1, p};
        th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    }
    void exportTo(const std::string& p) {
        fileAnswer = {2, p};
        th::FireEvent(panel, PANEL_BUTTON_EXPORT, rt::EVENT_COMMIT);
    }
    std::string rowsText() {
        char buf[512] = {};
        rt::GetCtrlVal(panel, PANEL_RECORD_ROWS, buf, sizeof buf);
        return buf;
    }
    int rowsColor() {
        int c = -1;
        rt::GetCtrlAttribute(panel, PANEL_RECORD_ROWS, rt::ATTR_TEXT_COLOR, &c);
        return c;
    }
};

} // namespace

TEST_F(PanelOutputs, TheParameterSaveRefusesEveryTargetThatIsNoFileAndLeavesItAsItIs) {
    makeKinds(".dat");
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, 77);
    for (const auto& [target, what] : kinds) {
        popups.clear();
        const Node before = node(target);
        save(target);
        const auto m = messages();
        ASSERT_EQ(m.size(), 1u) << target;
        EXPECT_EQ(m[0].title, "Parameter file");
        EXPECT_NE(m[0].text.find(target), std::string::npos) << m[0].text;
        EXPECT_NE(m[0].text.find("could not be saved: it is " + what + ", not a regular file"),
                  std::string::npos)
            << m[0].text;
        EXPECT_EQ(node(target), before) << target;
        EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 77); // the panel keeps its values
    }
}

TEST_F(PanelOutputs, TheParameterSaveThroughALinkReplacesTheFileAndKeepsItsMode) {
    const std::string file = path("kept.dat"), link = path("link.dat");
    std::ofstream(file) << "old\n";
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    ASSERT_EQ(::symlink("kept.dat", link.c_str()), 0);
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, 77);
    save(link);
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(link)).isSymLink());
    const std::string text = slurp(file);
    EXPECT_EQ(text.substr(0, 5), "  77\n") << text;
    EXPECT_EQ(text.size(), 75u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(PanelOutputs, LoadingAFifoOrADeviceIsRefusedAtOnceAndSaysWhatItIs) {
    makeKinds(".dat");
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, 55);
    for (std::size_t i : {0u, 1u, 4u, 5u}) { // the device, the FIFO and links to them
        popups.clear();
        QElapsedTimer t;
        t.start();
        load(kinds[i].first);
        EXPECT_LT(t.elapsed(), 2000);
        const auto m = messages();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_NE(m[0].text.find("could not be loaded: it is " + kinds[i].second +
                                 ", not a regular file"),
                  std::string::npos)
            << m[0].text;
        EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 55);
    }
    popups.clear();
    load(path("none.dat"));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].text.find("could not be loaded: it does not exist."), std::string::npos)
        << messages()[0].text;
}

TEST_F(PanelOutputs, TheGraphPictureRefusesEveryTargetThatIsNoFile) {
    makeKinds(".png");
    for (const auto& [target, what] : kinds) {
        const Node before = node(target);
        EXPECT_EQ(rt::SaveGraphImage(panel, PANEL_GRAPH_RAW, target.c_str()), rt::FILE_NOT_A_FILE)
            << target;
        EXPECT_EQ(node(target), before) << target;
    }
    // Through the Export button: the reason in the pop-up the export already uses.
    for (std::size_t i : {1u, 4u}) {
        popups.clear();
        const Node before = node(kinds[i].first);
        exportTo(kinds[i].first);
        const auto m = messages();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].title, "Export");
        EXPECT_NE(m[0].text.find("is " + kinds[i].second +
                                 ", not a regular file: it was left as "
                                 "it is and nothing was saved"),
                  std::string::npos)
            << m[0].text;
        EXPECT_EQ(node(kinds[i].first), before);
    }
    // A link to a picture replaces the picture it names.
    const std::string png = path("old.png"), link = path("new.png");
    std::ofstream(png) << "not yet a picture";
    ASSERT_EQ(::symlink(png.c_str(), link.c_str()), 0);
    popups.clear();
    exportTo(link);
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(link)).isSymLink());
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(540, 400));
}

TEST_F(PanelOutputs, TheJumpBufferCsvRefusesEveryTargetThatIsNoFile) {
    makeKinds(".csv");
    for (const auto& [target, what] : kinds) {
        const Node before = node(target);
        EXPECT_EQ(capture::WriteJumpBufferCsv(target.c_str(), gui::jumpbuf, gui::jumpline), rt::FILE_NOT_A_FILE) << target;
        EXPECT_EQ(node(target), before) << target;
    }
    // The jump buffer on view, exported into a FIFO: the reason, the FIFO left alone.
    rt::SetCtrlAttribute(panel, PANEL_GRAPH_JMPBUF, rt::ATTR_VISIBLE, 1);
    popups.clear();
    exportTo(kinds[1].first);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].text.find("is a FIFO, not a regular file"), std::string::npos)
        << messages()[0].text;
    EXPECT_EQ(node(kinds[1].first).mode & S_IFMT, unsigned(S_IFIFO));
    // Into a regular file through a link: the file named gets the rows.
    const std::string csv = path("jump.csv"), link = path("jump-link.csv");
    std::ofstream(csv) << "old";
    ASSERT_EQ(::chmod(csv.c_str(), 0604), 0);
    ASSERT_EQ(::symlink("jump.csv", link.c_str()), 0);
    EXPECT_EQ(capture::WriteJumpBufferCsv(link.c_str(), gui::jumpbuf, gui::jumpline), rt::FILE_OK);
    EXPECT_EQ(slurp(csv).rfind("sample,value,threshold\n0,", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(csv.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(PanelOutputs, ARecordingIntoAnythingButAFileIsRefusedInRedAndNothingWaits) {
    makeKinds(".csv");
    for (const auto& [target, what] : kinds) {
        const Node before = node(target);
        // Named at the start (--record).
        QElapsedTimer t;
        t.start();
        capture::SetStartupFile(target.c_str());
        capture::Init();
        EXPECT_LT(t.elapsed(), 2000);
        EXPECT_FALSE(record::Active());
        EXPECT_EQ(intVal(PANEL_RECORD), 0);
        EXPECT_EQ(rowsText(), "Recording not started: Not a file to record into (it is " + what +
                                  "): " + target);
        EXPECT_EQ(rowsColor(), rt::VAL_RED);
        // Chosen with the Record control.
        capture::SetStartupFile("");
        capture::Init();
        fileAnswer = {2, target};
        rt::SetCtrlVal(panel, PANEL_RECORD, 1);
        th::FireEvent(panel, PANEL_RECORD, rt::EVENT_COMMIT);
        EXPECT_FALSE(record::Active());
        EXPECT_EQ(intVal(PANEL_RECORD), 0);
        EXPECT_NE(rowsText().find("(it is " + what + ")"), std::string::npos) << rowsText();
        EXPECT_EQ(rowsColor(), rt::VAL_RED);
        EXPECT_EQ(node(target), before) << target;
    }
    EXPECT_TRUE(messages().empty()); // said on the panel, never in a pop-up
}

TEST(RecordProgram, AFifoNamedAtTheStartIsRefusedAndThePanelComesUp) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("rec.csv"), shot = dir.filePath("shot.png");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0644), 0);
    QElapsedTimer t;
    t.start();
    QByteArray out;
    EXPECT_EQ(
        runProgram(VARNO_PATH, {"--simulate", "--record", fifo, "--screenshot", shot}, &out, 20000),
        0)
        << out.toStdString();
    EXPECT_LT(t.elapsed(), 15000); // the start-up alone, not a wait at the FIFO
    EXPECT_TRUE(QFileInfo(shot).size() > 0);
    EXPECT_NE(out.indexOf("Recording not started: Not a file to record into (it is a FIFO): " +
                          fifo.toLocal8Bit()),
              -1)
        << out.toStdString();
    EXPECT_EQ(node(fifo.toStdString()).mode & S_IFMT, unsigned(S_IFIFO));
}

TEST(RecordProgram, AScreenshotIntoAFifoIsRefusedAndTheProgramEnds) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("shot.png");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0644), 0);
    QByteArray out;
    EXPECT_EQ(runProgram(VARNO_PATH, {"--simulate", "--screenshot", fifo}, &out, 20000), 0)
        << out.toStdString();
    EXPECT_NE(out.indexOf("cannot save " + fifo.toLocal8Bit() + ": it is a FIFO"), -1)
        << out.toStdString();
    EXPECT_EQ(node(fifo.toStdString()).mode & S_IFMT, unsigned(S_IFIFO));
}

// The panel's byte trace: the line check and the RAM read at start-up, sent and received
// in hex on stderr; nothing of it without the switch.
TEST(PanelTrace, TraceShowsTheStartUpExchangeInHex) {
    QTemporaryDir dir;
    const QString shot = dir.filePath("shot.png");
    QByteArray out;
    ASSERT_EQ(runProgram(VARNO_PATH, {"--simulate", "--trace", "--screenshot", shot}, &out, 20000,
                         {{"QT_LOGGING_RULES", ""}}),
              0)
        << out.toStdString();
    const std::string text = out.toStdString();
    EXPECT_NE(text.find("varno.link:"), std::string::npos) << text;
    EXPECT_NE(text.find("COM1 sent 17: 55 07 00 00"), std::string::npos) << text;
    EXPECT_NE(text.find("COM1 received 3: AA 03 00"), std::string::npos) << text;
    const std::size_t read = text.find("COM1 sent 17: 55 03");
    ASSERT_NE(read, std::string::npos) << text;
    EXPECT_NE(text.find("COM1 received 15: ", read), std::string::npos) << text;
    ASSERT_EQ(runProgram(VARNO_PATH, {"--simulate", "--screenshot", shot}, &out, 20000,
                         {{"QT_LOGGING_RULES", ""}}),
              0);
    EXPECT_EQ(out.toStdString().find("varno.link"), std::string::npos) << out.toStdString();
}
