#include "sensor/link.h"

#include "runtime/log.h"
#include "runtime/runtime.h"

#include <cstdio>
#include <cstring>

using namespace runtime;

namespace sensor {

namespace {

// The text for an opening result without a reason from the system.
const char* openResultText(int result) {
    switch (result) {
    case RS_UNKNOWN_SYS_ERROR:
        return "Unknown system error";
    case RS_INVALID_PORT_NUM:
        return "Invalid port number";
    case RS_PORT_NOT_OPEN:
        return "Port is not open";
    case RS_UNKNOWN_IO_ERROR:
        return "Unknown I/0 error";
    case RS_NO_PORT_FOUND:
        return "No serial port found";
    case RS_CANNOT_OPEN_PORT:
        return "Cannot open port";
    case RS_TIMEOUT:
        return "Timeout";
    default:
        return result < 0 ? "RS-232 error!" : "";
    }
}

} // namespace

const char* OpenResultText(int result) {
    return openResultText(result);
}

Link::Link(int port) {
    s_.port = port;
}

// ---- the port ---------------------------------------------------------------------------

Result Link::Open() {
    s_.poll = 0;
    s_.openResult = OpenComConfig(s_.port, "", Baud, 0, 8, 1, BufSize, BufSize);
    if (s_.openResult < 0) {
        std::string why = PortOpenFailure(s_.port);
        if (why.empty()) {
            const std::string device = PortDeviceName(s_.port);
            why = device.empty()
                      ? "COM" + std::to_string(s_.port) + " is not there (see varno-cli ports)"
                      : device + ": " + openResultText(s_.openResult);
        }
        return Result::Fail(Result::OpenFailed, 0, 0, 0, why);
    }
    SetComTime(s_.port, ReadTimeout);
    FlushInQ(s_.port);
    FlushOutQ(s_.port);
    SetCTSMode(s_.port, 0);
    if (log::DebugOn(log::Link)) {
        char line[80];
        std::snprintf(line, sizeof line, "%9.3f COM%d opened", Timer(), s_.port);
        log::Debug(log::Link, line);
    }
    return {};
}

void Link::Close() {
    CloseCom(s_.port);
}

bool Link::IsOpen() const {
    return GetInQLen(s_.port) >= 0;
}

// ---- frames and the reply wait --------------------------------------------------------------

void Link::trace(const char* what, const unsigned char* bytes, int n) const {
    if (!log::DebugOn(log::Link)) return;
    char head[64];
    std::snprintf(head, sizeof head, "%9.3f COM%d %s %d: ", Timer(), s_.port, what, n);
    log::Debug(log::Link, head + Hex(bytes, n));
}

void Link::SetBlock(const unsigned char* values) {
    std::memcpy(s_.block, values, ParamLen);
}

void Link::FillFrame(unsigned char code) {
    s_.writeBuf[0] = static_cast<char>(s_.sync);
    s_.writeBuf[1] = static_cast<char>(code);
    for (int i = 0; i < ParamLen; ++i)
        s_.writeBuf[2 + i] = static_cast<char>(s_.block[i]);
}

int Link::Send(unsigned char code) {
    s_.order = code;
    FillFrame(s_.order);
    s_.nBytesW = ComWrt(s_.port, s_.writeBuf, FrameLen);
    trace("sent", reinterpret_cast<const unsigned char*>(s_.writeBuf), FrameLen);
    return s_.nBytesW;
}

// After a whole reply: the line must stay quiet for SettleTime. Returns what then waits.
int Link::settle(int expected) {
    const double t0 = Timer();
    int count = expected;
    while (Timer() - t0 < SettleTime && !QuitPending() && !stop_) {
        ProcessSystemEventsFor(SettleTime - (Timer() - t0));
        count = GetInQLen(s_.port);
        if (count != expected) break; // a stray byte, or a nested request took the line
    }
    s_.tdiff = Timer() - s_.tstart;
    return count;
}

Result Link::Await(int expected, Wait mode) {
    const bool live = mode == Wait::Live;
    s_.tstart = Timer();
    int count = 0;
    do {
        ProcessSystemEventsFor(ReplyTimeout - (Timer() - s_.tstart));
        count = GetInQLen(s_.port);
        if ((live && s_.poll == 0) || stop_)
            return Result::Fail(Result::Stopped, s_.order, 0, expected);
        // Measured from the start of the request made last: a request made inside this
        // wait takes the line over.
        s_.tdiff = Timer() - s_.tstart;
    } while (ReplyTimeout >= s_.tdiff && count < expected && !QuitPending());
    if (!live && count == expected) count = settle(expected);
    // The queue never holds more than the buffer; the clamp keeps it so regardless.
    if (count > BufSize) count = BufSize;
    s_.nBytesR = count > 0 ? ComRd(s_.port, reinterpret_cast<char*>(s_.readBuf), count) : 0;
    if (s_.nBytesR > 0) trace("received", s_.readBuf, s_.nBytesR);
    if (s_.nBytesR == expected) return {};
    return verdict(expected);
}

Result Link::verdict(int expected) const {
    const unsigned char code = s_.order;
    if (GetInQLen(s_.port) < 0) return Result::Fail(Result::PortLost, code, s_.nBytesR, expected);
    if (s_.nBytesR <= 0) return Result::Fail(Result::NoReply, code, 0, expected);
    if (s_.nBytesR < expected) return Result::Fail(Result::ShortReply, code, s_.nBytesR, expected);
    return Result::Fail(Result::TooLong, code, s_.nBytesR, expected);
}

bool Link::LineOkReply() const {
    return s_.nBytesR == LineCheckLen && std::memcmp(s_.readBuf, LineOk, LineCheckLen) == 0;
}

void Link::Flush() {
    SettleHeld();
    if (log::DebugOn(log::Link)) {
        const int n = GetInQLen(s_.port);
        if (n > 0) {
            unsigned char unread[BufSize];
            const int got =
                ComRd(s_.port, reinterpret_cast<char*>(unread), n < BufSize ? n : BufSize);
            trace("discarded", unread, got);
        }
    }
    FlushInQ(s_.port);
    FlushOutQ(s_.port);
}

void Link::Pause(double seconds) {
    s_.tstart = Timer();
    s_.tdiff = 0.0;
    while (seconds > s_.tdiff && !QuitPending() && !stop_) {
        ProcessSystemEventsFor(seconds - s_.tdiff);
        s_.tdiff = Timer() - s_.tstart;
    }
}

// ---- requests ------------------------------------------------------------------------------

Result Link::Request(unsigned char code) {
    Flush();
    Send(code);
    return Await(ReplyLength(code));
}

Result Link::LineCheck() {
    Send(req::LineCheck);
    Result r = Await(LineCheckLen);
    if (r && !LineOkReply())
        return Result::Fail(Result::WrongReply, req::LineCheck, s_.nBytesR, LineCheckLen,
                            Hex(s_.readBuf, LineCheckLen));
    return r;
}

Result Link::ReadBlock(int target) {
    Pause(PauseBefore(target));
    if (stop_) return Result::Fail(Result::Stopped, ReadCode(target), 0, ParamLen);
    Result r = Request(ReadCode(target));
    if (r) std::memcpy(s_.block, s_.readBuf, ParamLen);
    return r;
}

Result Link::WriteBlock(int target, const unsigned char* values) {
    if (values) SetBlock(values);
    const unsigned char code = WriteCode(target);
    if (Send(code) != FrameLen) return Result::Fail(Result::WriteFailed, code);
    return {};
}

Result Link::WriteVerified(int target, const unsigned char* values) {
    unsigned char sent[ParamLen];
    std::memcpy(sent, values, ParamLen);
    if (Result r = WriteBlock(target, sent); !r) return r;
    if (Result r = ReadBlock(target); !r) return r;
    int differing = 0;
    for (int i = 0; i < ParamLen; ++i)
        differing += s_.block[i] != sent[i];
    if (differing) return Result::Fail(Result::Mismatch, ReadCode(target), differing, ParamLen);
    return {};
}

Result Link::ReadJumpBuffer(unsigned char* out) {
    Pause(RamPause);
    if (stop_) return Result::Fail(Result::Stopped, req::JumpBuffer, 0, JumpBufLen);
    Result r = Request(req::JumpBuffer);
    if (r && out) std::memcpy(out, s_.readBuf, JumpBufLen);
    return r;
}

// ---- the live acquisition -----------------------------------------------------------------

Held Link::SettleHeld() {
    if (!held_) return Held::None;
    held_ = false;
    if (GetInQLen(s_.port) > 0) {
        spoiled_ = true;
        if (log::DebugOn(log::Link)) {
            char line[96];
            std::snprintf(line, sizeof line, "%9.3f COM%d bytes behind the live record: dropped",
                          Timer(), s_.port);
            log::Debug(log::Link, line);
        }
        return Held::Spoiled;
    }
    // A port lost behind a whole record: nothing was seen behind it, it counts.
    lastGood_ = heldRecord_;
    ++goodRecords_;
    ++liveGood_;
    if (onGood_) onGood_(lastGood_);
    return Held::Good;
}

Result Link::ConfirmHeld() {
    if (held_) {
        ProcessSystemEvents(); // what arrived during the pause reaches the input queue
        SettleHeld();
    }
    if (spoiled_) {
        spoiled_ = false;
        return Result::Fail(Result::Strays, req::Live, 0, RecordLen,
                            "record " + std::to_string(liveGood_ + 1));
    }
    return {};
}

Result Link::RequestRecord() {
    Flush();
    Send(req::Live);
    Result r = Await(RecordLen, Wait::Live);
    if (!r) return r;
    std::memcpy(heldRecord_.bytes, s_.readBuf, RecordLen);
    heldRecord_.at = Timer();
    heldRecord_.wall = std::chrono::system_clock::now();
    held_ = true;
    return r;
}

Result Link::LiveCycle() {
    if (Result r = ConfirmHeld(); !r) return r;
    if (!IsOpen()) return Result::Fail(Result::PortLost, 0);
    if (!Live() || stop_) return Result::Fail(Result::Stopped, req::Live, 0, RecordLen);
    return RequestRecord();
}

void Link::CyclePause() {
    ProcessSystemEvents();
    Sleep(CyclePauseMs);
}

Result Link::EndLive() {
    Result r = ConfirmHeld();
    held_ = false;
    return r;
}

void Link::DropHeld() {
    held_ = false;
    spoiled_ = false;
}

void Link::ForgetRecords() {
    DropHeld();
    heldRecord_ = LiveRecord{};
    lastGood_ = LiveRecord{};
    goodRecords_ = 0;
    liveGood_ = 0;
}

} // namespace sensor
