// Shared by the varno-cli tests: the commands run in-process on the virtual clock with
// their output captured, scripted peers, and the parameter file's text.
#pragma once

#include "cli/cli.h"
#include "fixture.h"

#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <sstream>

inline std::string readAll(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Result {
    int code;
    std::string out, err;
    double seconds; // on the virtual clock
};

class Cli : public SeamTest {
  protected:
    QTemporaryDir dir;

    void TearDown() override {
        // The program has no panel: nothing it does may open a pop-up.
        EXPECT_TRUE(popups.empty());
        SeamTest::TearDown();
    }

    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), "varno-cli");
        std::vector<const char*> argv;
        for (auto& a : args)
            argv.push_back(a.c_str());
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const double t0 = rt::Timer();
        const int code = cli::Main(int(argv.size()), argv.data(), out, err);
        const double t = rt::Timer() - t0;
        return {code, readAll(out), readAll(err), t};
    }

    // A peer on COM1 that answers each reading request with `answer(code)`.
    std::shared_ptr<ScriptedPeer> peer(std::function<Bytes(std::uint8_t code)> answer,
                                       double delay = 0.005) {
        auto p = std::make_shared<ScriptedPeer>();
        p->onFrame = [answer, delay](const Bytes& f, double) {
            std::vector<ScriptedPeer::Chunk> c;
            Bytes b = answer(f[1]);
            if (!b.empty()) c.push_back({delay, b});
            return c;
        };
        rt::BindSerialEndpoint(1, p);
        return p;
    }
    std::string written() { return th::WrittenBytes(1); }
    std::string path(const char* name) { return dir.filePath(name).toStdString(); }
    void writeFile(const std::string& p, const std::string& text) { std::ofstream(p) << text; }
};

inline Bytes standardAnswer(std::uint8_t code) {
    switch (code) {
    case 3:
        return block15;
    case 4:
        return Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    case 6:
        return Bytes{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
    case 7:
        return lineOk;
    default:
        return {};
    }
}
