// Fuzz target: the sensor link fed arbitrary replies.
//
// The real panel is loaded (offscreen) and COM1 is bound to an in-process peer that
// answers each request frame with bytes taken from the input, in chunks and with delays
// taken from the input, on the virtual clock. One request runs per input:
//
//   byte 0 % 5:  0 line check (and the parameter read it leads to), 1 parameter read from
//                RAM, 2 parameter read from EEPROM, 3 one cycle of the live acquisition,
//                4 jump buffer read
//   then chunk headers, each followed by its bytes:
//     0xFF       the following chunks answer the next request frame
//     0xFE b     a burst of 1030 + b % 64 bytes of value b, at once
//     other h    h & 0x1F bytes (at most what is left), delivered ((h >> 5) & 7) steps after
//                the previous chunk (steps: 0, 2 ms, 10 ms, 50 ms, 0.5 s, 1 s, 2 s, 3.5 s);
//                at most 16 chunks a frame
//
// The clock ticks 10 ms a pump and skips idle time up to the next delivery, so a run
// costs a few dozen pumps even when the reply never comes.
//
// After each run: at most 1024 bytes were read; after a failure (the TIMEOUT pop-up) pp,
// databuf and jumpbuf are unchanged; after a success they are the reply's bytes; the
// status line shows a known text; the request frames are right; the run ended in time.
#include "Varnov30.h" // the callbacks and help texts
#include "panel_ids.h"
#include "com232.h"
#include "gui.h"
#include "runtime/endpoint.h"
#include "runtime/runtime.h"
#include "runtime/testhooks.h"
#include "module_state.h"
#include "scripted_peer.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace rt = runtime;
namespace th = runtime::test;

namespace {

#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "fuzz_link: check failed: %s (line %d)\n", #cond,         \
                         __LINE__);                                                        \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

constexpr int FrameLen = com232::AnzPara + 2;
constexpr int MaxFrames = 2;          // the line check leads to a second request
constexpr int MaxChunksPerFrame = 16; // keeps a run short
// 2 ms is one byte at 4800 baud: a stray byte right behind a reply, at line speed.
constexpr double Steps[8] = {0.0, 0.002, 0.01, 0.05, 0.5, 1.0, 2.0, 3.5};
constexpr double Tick = 0.01;         // virtual seconds per event pump
constexpr double MaxSkip = 0.25;      // most the clock skips in one idle pump

struct Piece {
    double delay; // after the previous chunk (the first: after the frame)
    Bytes bytes;
};

// The sensor side: answers the n-th request frame with replies[n], played by the tests'
// scripted peer, and notes what reached the program after each frame.
class FuzzPeer : public ScriptedPeer {
public:
    std::vector<std::vector<Piece>> replies;
    // Bytes handed to the program after each frame, until the next frame came.
    std::vector<Bytes> delivered;

    FuzzPeer() {
        onFrame = [this](const Bytes&, double) {
            delivered.emplace_back();
            std::vector<ScriptedPeer::Chunk> out;
            const std::size_t k = frames.size() - 1;
            double at = 0;
            if (k < replies.size())
                for (const Piece& c : replies[k]) out.push_back({at += c.delay, c.bytes});
            return out;
        };
    }
    std::size_t transmit(std::uint8_t* out, std::size_t max, double now) override {
        const std::size_t n = ScriptedPeer::transmit(out, max, now);
        if (n > 0 && !delivered.empty()) delivered.back().insert(delivered.back().end(), out, out + n);
        return n;
    }
};

std::vector<std::vector<Piece>> decodeReplies(const std::uint8_t* d, std::size_t n) {
    std::vector<std::vector<Piece>> r(1);
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t h = d[i++];
        if (h == 0xFF) {
            if (r.size() == std::size_t(MaxFrames)) break;
            r.emplace_back();
            continue;
        }
        if (r.back().size() == std::size_t(MaxChunksPerFrame)) continue;
        if (h == 0xFE) {
            const std::uint8_t b = i < n ? d[i++] : 0;
            r.back().push_back({0.0, Bytes(1030 + b % 64, b)});
            continue;
        }
        const std::size_t len = std::min<std::size_t>(h & 0x1F, n - i);
        r.back().push_back({Steps[(h >> 5) & 7], Bytes(d + i, d + i + len)});
        i += len;
    }
    return r;
}

int panel = 0;
std::vector<th::Popup> popups;
std::shared_ptr<FuzzPeer> peer;

// The module state as the program has it before a request.
void resetModuleState() {
    using namespace com232;
    clearModuleState();
    // Recognisable contents, to see whether a request changed them.
    for (int i = 0; i < AnzPara; ++i) pp[i] = static_cast<unsigned char>(0x11 * i + 7);
    for (int i = 0; i < AnzData; ++i) databuf[i] = static_cast<unsigned char>(0x13 * i + 5);
    for (int i = 0; i < gui::JumpBufLen; ++i)
        gui::jumpbuf[i] = static_cast<unsigned char>(0x17 * i + 3);
    com = 1;
    com232::sync = 0x55;
    order = 1;
    nBytesR = -1; // a read sets it
}

std::string statusText() {
    char buf[256] = {};
    rt::GetCtrlVal(panel, PANEL_STATUS, buf, sizeof buf);
    return buf;
}

bool sameBytes(const unsigned char* a, const Bytes& b, std::size_t n) {
    return b.size() >= n && std::memcmp(a, b.data(), n) == 0;
}

Bytes expectedFrame(std::uint8_t code, const unsigned char* block) {
    Bytes f{0x55, code};
    f.insert(f.end(), block, block + com232::AnzPara);
    return f;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
#ifdef _WIN32
        _putenv_s("QT_QPA_PLATFORM", "offscreen");
#else
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
    }
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    if (rt::InitRuntime(&qtArgc, qtArgv) != 0) {
        std::fprintf(stderr, "fuzz_link: no Qt application\n");
        std::abort();
    }
    Varnov30::RegisterCallbackTable();
    panel = rt::LoadPanel(0, "Varnov30.uir", PANEL);
    if (panel <= 0) {
        std::fprintf(stderr, "fuzz_link: Varnov30.uir not found beside the program\n");
        std::abort();
    }
    Varnov30::panel = panel;
    th::UseVirtualClock(true, Tick);
    th::SetPopupHandler([](const th::Popup& p) {
        popups.push_back(p);
        return th::PopupAnswer{};
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int op = data[0] % 5;

    resetModuleState();
    const Bytes ppBefore(com232::pp, com232::pp + com232::AnzPara);
    const Bytes dataBefore(com232::databuf, com232::databuf + com232::AnzData);
    const Bytes jumpBefore(gui::jumpbuf, gui::jumpbuf + gui::JumpBufLen);
    const char* const initial = "InitVars";
    std::strcpy(com232::szStatus, initial);
    rt::SetCtrlVal(panel, PANEL_STATUS, initial);
    popups.clear();
    th::SetClock(0.0);
    th::SetPumpHook(nullptr);

    peer = std::make_shared<FuzzPeer>();
    peer->replies = decodeReplies(data + 1, size - 1);
    rt::BindSerialEndpoint(1, peer);
    FUZZ_CHECK(rt::OpenComConfig(1, "", 4800, 0, 8, 1, 1024, 1024) == 0);

    // Waiting loops pump the events; while nothing can arrive before the next delivery the
    // clock skips ahead to it (at most a quarter second a pump), so a 3 s wait for bytes
    // that never come takes a few pumps instead of 300. Deliveries keep their times.
    th::SetPumpHook([op](double now) {
        // The acquisition runs one cycle: it stops once the first reply has been read, or
        // after 4 s at the latest.
        if (op == 3 && (com232::nBytesR >= 0 || now >= 4.0)) com232::poll = 0;
        const double skip = std::min(peer->nextEventTime() - now, MaxSkip);
        if (skip > Tick) th::AdvanceClock(skip - Tick);
    });

    std::uint8_t firstCode = 0;
    switch (op) {
    case 0:
        com232::target = com232::RAM;
        firstCode = 7;
        com232::CheckComLine();
        break;
    case 1:
    case 2:
        com232::target = op == 1 ? com232::RAM : com232::EEPROM;
        firstCode = op == 1 ? 3 : 4;
        gui::GetPara();
        break;
    case 3:
        com232::target = com232::RAM;
        firstCode = 5;
        gui::GetData();
        break;
    default:
        com232::target = com232::RAM;
        firstCode = 6;
        gui::GetJmpBuf();
        break;
    }
    th::SetPumpHook(nullptr);

    // ---- what every run must hold ----
    FUZZ_CHECK(com232::nBytesR >= 0 && com232::nBytesR <= com232::BufSize);
    FUZZ_CHECK(rt::Timer() < 10.0);
    FUZZ_CHECK(com232::poll == 0);
    int timeouts = 0;
    for (const th::Popup& p : popups) {
        FUZZ_CHECK(p.kind == th::Popup::Message);
        FUZZ_CHECK(p.title == "INFO" && p.text == com232::InfoTimeout);
        ++timeouts;
    }
    FUZZ_CHECK(timeouts <= 1);
    const bool failed = timeouts == 1;
    const std::string status = statusText();
    FUZZ_CHECK(status == initial || status == "TIMEOUT" || status == com232::LineOkText);
    FUZZ_CHECK(status == com232::szStatus || status == "TIMEOUT");
    FUZZ_CHECK(failed == (status == "TIMEOUT"));

    // The frames sent.
    FUZZ_CHECK(!peer->frames.empty());
    FUZZ_CHECK(peer->frames[0] == expectedFrame(firstCode, ppBefore.data()));
    const std::size_t frames = peer->frames.size();
    if (op == 0) {
        FUZZ_CHECK(frames <= 2);
        if (frames == 2) {
            // The line check passed on exactly AA 03 00; then came the parameter read.
            FUZZ_CHECK(sameBytes(Bytes{0xAA, 0x03, 0x00}.data(), peer->delivered[0], 3));
            FUZZ_CHECK(peer->delivered[0].size() == 3); // and nothing right behind it
            FUZZ_CHECK(peer->frames[1] == expectedFrame(3, ppBefore.data()));
        }
        FUZZ_CHECK(failed || frames == 2);
        if (!failed) FUZZ_CHECK(status == com232::LineOkText);
    } else {
        FUZZ_CHECK(frames == 1);
        if (!failed) FUZZ_CHECK(status == initial);
    }

    // Failure leaves the data alone; success takes exactly the reply, and only when the
    // line stayed quiet behind it: a reply with bytes right behind it is no reply.
    const Bytes& reply = peer->delivered.back();
    const std::size_t expected = op <= 2 ? com232::AnzPara : op == 3 ? com232::AnzData : gui::JumpBufLen;
    if (!failed) FUZZ_CHECK(reply.size() == expected);
    const bool readsPara = op <= 2;
    if (failed) {
        FUZZ_CHECK(sameBytes(com232::pp, ppBefore, com232::AnzPara));
        FUZZ_CHECK(sameBytes(com232::databuf, dataBefore, com232::AnzData));
        FUZZ_CHECK(sameBytes(gui::jumpbuf, jumpBefore, gui::JumpBufLen));
    } else if (readsPara) {
        FUZZ_CHECK(com232::nBytesR == com232::AnzPara);
        FUZZ_CHECK(sameBytes(com232::pp, reply, com232::AnzPara));
        FUZZ_CHECK(sameBytes(com232::databuf, dataBefore, com232::AnzData));
        FUZZ_CHECK(sameBytes(gui::jumpbuf, jumpBefore, gui::JumpBufLen));
        FUZZ_CHECK(com232::threshold == com232::pp[0] && com232::frei15 == com232::pp[14]);
    } else if (op == 3) {
        FUZZ_CHECK(com232::nBytesR == com232::AnzData);
        FUZZ_CHECK(sameBytes(com232::databuf, reply, com232::AnzData));
        FUZZ_CHECK(sameBytes(com232::pp, ppBefore, com232::AnzPara));
        FUZZ_CHECK(sameBytes(gui::jumpbuf, jumpBefore, gui::JumpBufLen));
        FUZZ_CHECK(com232::dataDat0 == com232::databuf[0] &&
                   com232::dataTrshWork == com232::databuf[9]);
        int dat0 = -1;
        FUZZ_CHECK(rt::GetCtrlVal(panel, PANEL_DAT0, &dat0) == 0 && dat0 == com232::databuf[0]);
    } else {
        FUZZ_CHECK(com232::nBytesR == gui::JumpBufLen);
        FUZZ_CHECK(sameBytes(gui::jumpbuf, reply, gui::JumpBufLen));
        FUZZ_CHECK(sameBytes(com232::pp, ppBefore, com232::AnzPara));
        FUZZ_CHECK(sameBytes(com232::databuf, dataBefore, com232::AnzData));
    }

    rt::CloseCom(1);
    peer.reset();
    // Back in the event loop, as after every callback in the program: objects whose
    // deletion Qt deferred (chart items of replaced plots) go now, not at some later time.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
