// The parameter file: saving the panel's block, loading it back, and refusing files that
// are not parameter files without touching anything.
#include "fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>

#if defined(__unix__)
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

using Block = std::array<std::uint8_t, 15>;

const int blockCtrls[14] = {PANEL_THRESHOLD, PANEL_HYSTERESIS, PANEL_POWER,  PANEL_PMOD,
                            PANEL_HOLD,      PANEL_TRIGGER,    PANEL_BACKLIM, PANEL_REGCNT,
                            PANEL_AVERAGE,   PANEL_DEADTIMEMODE, PANEL_DEADTIME, PANEL_OUTMODE,
                            PANEL_TRSHMOD,   PANEL_DELTATRSH};

constexpr Block fileBlock = {140, 170, 31, 1, 25, 2, 60, 9, 4, 1, 5, 1, 1, 12, 201};

class ParamFileTest : public PanelTest {
protected:
    QTemporaryDir dir;

    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        std::snprintf(Varnov30::proj_dir, sizeof Varnov30::proj_dir, "%s",
                      QDir::toNativeSeparators(dir.path()).toLocal8Bit().constData());
        com232::target = com232::DATFILE;
        com232::sync = 0x55;
    }
    void TearDown() override {
        Varnov30::proj_dir[0] = '\0';
        PanelTest::TearDown();
    }
    std::string path(const char* name) { return dir.filePath(name).toStdString(); }
    void write(const std::string& p, const std::string& content) {
        QFile f(QString::fromStdString(p));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content.data(), qint64(content.size()));
    }
    std::string read(const std::string& p) {
        QFile f(QString::fromStdString(p));
        if (!f.open(QIODevice::ReadOnly)) return "<missing>";
        return f.readAll().toStdString();
    }
    void save(const std::string& p, int result = 2) {
        fileAnswer = {result, p};
        th::FireEvent(panel, PANEL_BUTTON_SEND, rt::EVENT_COMMIT);
    }
    void load(const std::string& p, int result = 1) {
        fileAnswer = {result, p};
        th::FireEvent(panel, PANEL_BUTTON_GET, rt::EVENT_COMMIT);
    }
    Block pp() {
        Block b{};
        std::memcpy(b.data(), com232::pp, 15);
        return b;
    }
    std::vector<int> panelValues() {
        std::vector<int> v;
        for (int id : blockCtrls) v.push_back(ucharVal(id));
        return v;
    }
    // Everything a refused load must leave alone.
    struct State {
        Block pp, vars;
        std::vector<int> panel;
        std::vector<bool> dims;
        std::string thLabel, dtLabel;
        bool operator==(const State&) const = default;
    };
    State state() {
        State s{pp(), {}, panelValues(), {}, label(PANEL_THRESHOLD), label(PANEL_DEADTIME)};
        unsigned char* vars[15] = {&com232::threshold, &com232::hysteresis, &com232::power,
                                   &com232::pmod, &com232::hold, &com232::trigger,
                                   &com232::backlim, &com232::regcnt, &com232::average,
                                   &com232::deadtimemode, &com232::deadtime, &com232::outmode,
                                   &com232::trshmod, &com232::deltatrsh, &com232::frei15};
        for (int i = 0; i < 15; ++i) s.vars[i] = *vars[i];
        for (int id : blockCtrls) s.dims.push_back(dimmed(id));
        return s;
    }
    std::vector<th::Popup> messages() {
        std::vector<th::Popup> m;
        for (auto& p : popups)
            if (p.kind == th::Popup::Message) m.push_back(p);
        return m;
    }
    // Puts a block on the panel and in the variables, as a read would.
    void showBlock(const Block& b) {
        std::memcpy(com232::pp, b.data(), 15);
        com232::CopyPPtoVars();
        gui::SetPanelValues();
        gui::InitPanelValues();
    }
};

TEST_F(ParamFileTest, TheDialogIsTheSameForSaveAndLoad) {
    save(path("a.dat"), 0);
    load(path("a.dat"), 0);
    ASSERT_EQ(popups.size(), 2u);
    for (const auto& p : popups) {
        EXPECT_EQ(p.kind, th::Popup::FileSelect);
        EXPECT_EQ(p.title, "init");
        EXPECT_EQ(p.defaultFile, "init.dat");
        EXPECT_EQ(p.text, "*.dat");
        EXPECT_EQ(p.defaultDir, Varnov30::proj_dir);
    }
}

TEST_F(ParamFileTest, SaveThenLoadReturnsEveryByte) {
    showBlock(fileBlock);
    const std::string f = path("block.dat");
    save(f);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(read(f), fileText(fileBlock));
    // Change everything, then load.
    showBlock(Block{1, 2, 46, 0, 3, 0, 4, 5, 6, 0, 7, 0, 0, 8, 9});
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, 99); // an unsent edit is replaced too
    load(f);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(pp(), fileBlock);
    EXPECT_EQ(com232::frei15, 201);
    EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 140);
    EXPECT_EQ(ucharVal(PANEL_POWER), 33);
    EXPECT_EQ(label(PANEL_THRESHOLD), "MAX TRSH"); // the rules follow the load
    EXPECT_TRUE(dimmed(PANEL_POWER));
    EXPECT_TRUE(dimmed(PANEL_DEADTIME));
    EXPECT_EQ(label(PANEL_DEADTIME), "DEAD TIME[ms]");
    // And what was loaded is saved again byte for byte.
    const std::string g = path("again.dat");
    save(g);
    EXPECT_EQ(read(g), read(f));
}

TEST_F(ParamFileTest, PowerIsSavedAsTheSensorCode) {
    for (auto [percent, code] : {std::pair{100, 0}, {0, 46}, {50, 23}, {33, 31}}) {
        rt::SetCtrlVal(panel, PANEL_POWER, percent);
        const std::string f = path("power.dat");
        save(f);
        const std::string text = read(f);
        char expect[8];
        std::snprintf(expect, sizeof expect, "%4d\n", code);
        ASSERT_EQ(text.size(), 75u);
        EXPECT_EQ(text.substr(10, 5), expect) << percent << " %";
    }
}

TEST_F(ParamFileTest, SavingOverALongerFileLeavesExactlyFifteenLines) {
    const std::string f = path("long.dat");
    std::string longer;
    for (int i = 0; i < 40; ++i) longer += "     123\n";
    write(f, longer);
    showBlock(fileBlock);
    save(f, 1);
    EXPECT_EQ(read(f), fileText(fileBlock));
    EXPECT_TRUE(messages().empty());
}

TEST_F(ParamFileTest, CancelChangesNothingAndShowsNothingElse) {
    showBlock(fileBlock);
    rt::SetCtrlVal(panel, PANEL_HOLD, 77);
    const State before = state();
    const std::string f = path("never.dat");
    save(f, 0);
    load(f, 0);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(popups.size(), 2u);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(f)));
    EXPECT_TRUE(state() == before);
}

TEST_F(ParamFileTest, GetFromFileWaitsATenthSendToFileDoesNot) {
    th::SetClock(5.0);
    save(path("t.dat"), 0);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_LT(popups[0].time - 5.0, 0.002);
    th::SetClock(8.0);
    load(path("t.dat"), 0);
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_GE(popups[1].time - 8.0, 0.1);
    EXPECT_LT(popups[1].time - 8.0, 0.11);
}

struct BadFile {
    const char* name;
    std::string content; // "<none>": no file at all
    const char* why;     // part of the message
};

TEST_F(ParamFileTest, BadFilesAreRefusedWithNothingChanged) {
    const std::string good = fileText(fileBlock);
    auto replaceLine = [&](int line, const std::string& with) {
        std::string s;
        for (int i = 0; i < 15; ++i) s += (i == line - 1 ? with : std::to_string(fileBlock[i])) + "\n";
        return s;
    };
    const BadFile cases[] = {
        {"missing.dat", "<none>", "does not exist"},
        {"fourteen.dat", good.substr(0, 70), "fewer than 15"},
        {"sixteen.dat", good + "   7\n", "more than 15"},
        {"big.dat", replaceLine(4, "256"), "line 4"},
        {"negative.dat", replaceLine(2, "-1"), "line 2"},
        {"fraction.dat", replaceLine(15, "1.5"), "line 15"},
        {"letters.dat", replaceLine(1, "abc"), "line 1"},
        {"empty.dat", "", "fewer than 15"},
    };
    showBlock(Block{1, 2, 46, 0, 3, 0, 4, 5, 6, 0, 7, 0, 0, 8, 9});
    rt::SetCtrlVal(panel, PANEL_HYSTERESIS, 222); // an unsent edit must survive
    rt::SetCtrlVal(panel, PANEL_TRSHMOD, 1);
    const State before = state();
    for (const auto& c : cases) {
        popups.clear();
        const std::string f = path(c.name);
        if (c.content != "<none>") write(f, c.content);
        load(f);
        const auto m = messages();
        ASSERT_EQ(m.size(), 1u) << c.name;
        EXPECT_NE(m[0].text.find(f), std::string::npos) << c.name << ": " << m[0].text;
        EXPECT_NE(m[0].text.find(c.why), std::string::npos) << c.name << ": " << m[0].text;
        EXPECT_TRUE(state() == before) << c.name;
    }
}

TEST_F(ParamFileTest, LineEndsTabsSpacesAndBlankLinesAreAccepted) {
    std::string crlf, tabs, spaced, trailing;
    for (auto v : fileBlock) {
        crlf += std::to_string(v) + "\r\n";
        tabs += "\t" + std::to_string(v) + "\t\n";
        spaced += "   " + std::to_string(v) + "  \n";
        trailing += std::to_string(v) + "\n";
    }
    trailing += "\n\n  \n";
    for (const std::string& content : {crlf, tabs, spaced, trailing}) {
        showBlock(Block{});
        popups.clear();
        const std::string f = path("variant.dat");
        write(f, content);
        load(f);
        EXPECT_TRUE(messages().empty());
        EXPECT_EQ(pp(), fileBlock);
        EXPECT_EQ(ucharVal(PANEL_AVERAGE), 4);
    }
}

TEST_F(ParamFileTest, AFailedSaveIsReportedAndHarmsNoGoodFile) {
    showBlock(fileBlock);
    const std::string good = path("good.dat");
    save(good);
    const std::string kept = read(good);
    ASSERT_EQ(kept, fileText(fileBlock));
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, 3);
    for (const std::string& bad : {path("no-such-folder/x.dat"), good + "/x.dat"}) {
        popups.clear();
        save(bad);
        const auto m = messages();
        ASSERT_EQ(m.size(), 1u) << bad;
        EXPECT_NE(m[0].text.find(bad), std::string::npos) << m[0].text;
        EXPECT_NE(m[0].text.find("could not be saved"), std::string::npos) << m[0].text;
        EXPECT_EQ(read(good), kept);
        EXPECT_EQ(ucharVal(PANEL_THRESHOLD), 3);
    }
}

#if defined(__unix__)
TEST_F(ParamFileTest, ASaveThatFailsHalfwayLeavesTheOldFileWhole) {
    showBlock(fileBlock);
    const std::string f = path("full.dat");
    save(f);
    const std::string kept = read(f);
    ASSERT_EQ(kept.size(), 75u);
    rt::SetCtrlVal(panel, PANEL_THRESHOLD, 3);
    // A file size limit makes the write fail part way, as a full disk would.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    save(f, 1);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    const auto m = messages();
    ASSERT_EQ(m.size(), 1u) << "file now: [" << read(f) << "] files: "
                            << QDir(dir.path()).entryList(QDir::Files).join(",").toStdString();
    EXPECT_NE(m[0].text.find(f), std::string::npos);
    EXPECT_EQ(read(f), kept);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1) << "a temporary file was left";
}
#endif

TEST_F(ParamFileTest, APathLongerThanTheBufferIsRefused) {
    showBlock(fileBlock);
    rt::SetCtrlVal(panel, PANEL_HOLD, 55);
    const State before = state();
    const std::string longPath = path((std::string(300, 'p') + ".dat").c_str());
    ASSERT_GE(longPath.size(), sizeof gui::file_name);
    save(longPath);
    load(longPath);
    const auto m = messages();
    ASSERT_EQ(m.size(), 2u);
    for (const auto& msg : m) EXPECT_NE(msg.text.find("too long"), std::string::npos) << msg.text;
    EXPECT_EQ(gui::file_name[0], '\0');
    EXPECT_TRUE(state() == before);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(ParamFileTest, APathThatJustFitsIsUsed) {
    // Folders deep enough that the file's path is exactly 259 characters.
    QString d = dir.path();
    while (d.size() < 200) {
        d += "/" + QString(40, 'd');
        ASSERT_TRUE(QDir().mkpath(d));
    }
    const int rest = 259 - int(d.size()) - 1;
    ASSERT_GT(rest, 4);
    const std::string p = (d + "/" + QString(rest - 4, 'f') + ".dat").toStdString();
    ASSERT_EQ(p.size(), 259u);
    showBlock(fileBlock);
    save(p);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(read(p), fileText(fileBlock));
    showBlock(Block{});
    load(p);
    EXPECT_EQ(pp(), fileBlock);
    // One more character does not fit.
    popups.clear();
    save(p + "x");
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(p + "x")));
}

} // namespace

TEST_F(ParamFileTest, LeadingZerosAndTrailingWhiteSpaceOfAnyLengthLoad) {
    std::string zeros;
    for (auto v : fileBlock) {
        char line[16];
        std::snprintf(line, sizeof line, "%04u\n", unsigned(v)); // "0140", "0007" ...
        zeros += line;
    }
    write(path("zeros.dat"), zeros);
    load(path("zeros.dat"));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(pp(), fileBlock);

    showBlock(Block{});
    // Far more white space than a parameter file holds: still 15 values, not "more".
    write(path("padded.dat"), fileText(fileBlock) + std::string(3 << 20, ' ') + "\n\n");
    load(path("padded.dat"));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(pp(), fileBlock);

    // An editor's no-break spaces and byte-order mark separate values too.
    std::string nbsp = "\xEF\xBB\xBF";
    for (auto v : fileBlock) nbsp += std::to_string(v) + "\xC2\xA0\n";
    showBlock(Block{});
    write(path("nbsp.dat"), nbsp);
    load(path("nbsp.dat"));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(pp(), fileBlock);
}

TEST_F(ParamFileTest, WhatIsReallyWrongIsNamed) {
    showBlock(Block{});
    const State before = state();
    write(path("sixteen.dat"), fileText(fileBlock) + "\n\n   7\n");
    load(path("sixteen.dat"));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].text.find("line 18"), std::string::npos) << messages()[0].text;
    popups.clear();
    write(path("huge.dat"), fileText(fileBlock) + std::string(2 << 20, ' ') + "x\n");
    load(path("huge.dat"));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].text.find("too large"), std::string::npos) << messages()[0].text;
    EXPECT_TRUE(state() == before);
}

TEST_F(ParamFileTest, TheDialogKeepsToDatFiles) {
    showBlock(fileBlock);
    save(path("noext"));
    EXPECT_EQ(read(path("noext.dat")), fileText(fileBlock)) << "the name gets .dat";
    EXPECT_EQ(read(path("noext")), "<missing>");
    EXPECT_EQ(std::string(gui::file_name), path("noext.dat"));
    popups.clear();
    save(path("notes.txt"));
    EXPECT_EQ(read(path("notes.txt")), "<missing>") << "another extension cannot be chosen";
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].text.find(".dat"), std::string::npos);
    // Loading a .txt is refused the same way, with nothing changed.
    write(path("other.txt"), fileText(Block{}));
    const State before = state();
    popups.clear();
    load(path("other.txt"));
    EXPECT_TRUE(state() == before);
}

TEST_F(ParamFileTest, AFolderThatCannotBeWrittenIsNotWhereTheDialogStarts) {
    std::snprintf(Varnov30::proj_dir, sizeof Varnov30::proj_dir, "/nonexistent/varno/bin");
    save(path("x.dat"), 0);
    ASSERT_FALSE(popups.empty());
    EXPECT_EQ(popups[0].defaultDir, QDir::homePath().toStdString());
}
