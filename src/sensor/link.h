// The link to one sensor on one port: the protocol's rules, once, for every program.
//
// A Link owns its port number, the request frame and the read buffer, the reply wait with
// its settle time, the flushes and the pauses before requests, and the live acquisition's
// rule that a record counts only once the line was found quiet behind it. It returns
// verdicts as values (Result: a code and its text together) and calls nothing above it: a
// program that wants to hear of a record taken as good subscribes with OnGoodRecord. It
// runs on the seam's serial layer and event pump (QtCore only); two Links on two port
// numbers speak to two sensors in one process.
//
// Waits pump the event loop (so a program stays responsive), and whatever runs inside a
// wait may use the same Link: a request made there takes the line over (its flush hides
// what the outer request waited for, and the outer wait goes on measuring from the inner
// request's start), as the operator program has always done.
//
// A typical use:
//   sensor::Link link(3);                  // COM3, or BindSerialDevice(3, path) first
//   if (auto r = link.Open(); !r) fail(r.text());
//   if (auto r = link.ReadBlock(sensor::RAM); r) use(link.Block());
//   link.StartLive();
//   while (...) { auto r = link.LiveCycle(); ...; link.CyclePause(); }
//   link.EndLive();
#pragma once

#include "sensor/protocol.h"
#include "sensor/result.h"

#include <chrono>
#include <functional>
#include <string>

namespace sensor {

// The text for a port opening's result code ("Cannot open port"; "" for a success).
const char* OpenResultText(int result);

// A live record as it arrived.
struct LiveRecord {
    unsigned char bytes[RecordLen] = {};
    double at = 0.0;                              // the run-time's Timer() when it was read
    std::chrono::system_clock::time_point wall{}; // the wall clock then
};

// What the settle of a held live record found.
enum class Held {
    None,    // no record was waiting for its check
    Good,    // the line was quiet behind it: taken as good
    Spoiled, // bytes were waiting behind it: it may have been the front of a longer reply
};

class Link {
  public:
    // The state the operator program names, shared by every request of this link. Other
    // programs read it through the accessors below.
    struct State {
        int port = 0;                        // the port number (COM n); a device is bound to it
        int openResult = 0;                  // what the last opening returned (negative: failed)
        unsigned char sync = Sync;           // the frame's first byte
        unsigned char order = 0;             // the request code sent last
        char writeBuf[BufSize] = {};         // the frame sent last
        unsigned char readBuf[BufSize] = {}; // the reply read last
        unsigned char block[ParamLen] = {};  // the parameter block every frame carries
        double tstart = 0.0;                 // when the present wait (or pause) started
        double tdiff = 0.0;                  // seconds it has run
        int nBytesW = 0;                     // what the last frame's write took
        int nBytesR = 0;                     // bytes the last reply wait read
        int poll = 0; // 1 while a live acquisition runs; cleared, its wait ends
    };

    explicit Link(int port = 1);
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    State& state() { return s_; }
    const State& state() const { return s_; }

    // ---- the port --------------------------------------------------------------------
    void SetPort(int port) { s_.port = port; }
    int Port() const { return s_.port; }
    // Opens the port: 4800 baud 8N1, the read time-out, both queues flushed, no handshake.
    // No request goes out. OpenFailed carries the system's reason (permission and the group
    // to join, busy, missing) or, without one, the opening result's text.
    Result Open();
    // Closes the port (nothing when it is not open).
    void Close();
    // True while the port is open and its device there.
    bool IsOpen() const;

    // ---- frames and the reply wait -----------------------------------------------------
    // The parameter block every frame carries (15 bytes). All zero until set.
    unsigned char* Block() { return s_.block; }
    const unsigned char* Block() const { return s_.block; }
    void SetBlock(const unsigned char* values);
    // Builds the frame for `code` in the write buffer: sync, code, the block.
    void FillFrame(unsigned char code);
    // Sends the frame for `code` with the present block. Returns the bytes the port took
    // (FrameLen when whole; a negative RS_ code when the port is not open).
    int Send(unsigned char code);
    enum class Wait {
        Settled, // the reply counts only when the line then stays quiet for SettleTime
        Live,    // no settle (the next cycle's flush tells); ends Stopped when poll clears
    };
    // The reply wait: pumps events until `expected` bytes wait or ReplyTimeout has passed,
    // then reads what waits into the read buffer. Ok only for exactly `expected` bytes.
    // The program closing, or RequestStop, ends the wait at once.
    Result Await(int expected, Wait mode = Wait::Settled);
    // The reply read last and its length.
    const unsigned char* Reply() const { return s_.readBuf; }
    int ReplyCount() const { return s_.nBytesR; }
    // True when the reply read last is the line check's good answer, AA 03 00.
    bool LineOkReply() const;

    // Settles a held live record (see below), then discards what both queues hold. With
    // the trace on, the bytes discarded unread are logged first.
    void Flush();
    // Pumps events for `seconds` (the pause before a request), using the wait's time
    // variables; cut short when the program closes or a stop is asked for.
    void Pause(double seconds);

    // ---- requests ----------------------------------------------------------------------
    // A reading request: flush, the frame, the wait for ReplyLength(code) bytes.
    Result Request(unsigned char code);
    // The line check 55 07, without a flush (right after Open, which flushed).
    Result LineCheck();
    // The pause before a read of `target` (0.1 s RAM, 1.5 s EEPROM), then 55 03 or 55 04;
    // the block read becomes Block().
    Result ReadBlock(int target);
    // 55 01 or 55 02 with `values` as the block (null: the present block). No reply is
    // read; Ok when the port took the whole frame.
    Result WriteBlock(int target, const unsigned char* values = nullptr);
    // Pumps events for DrainTime, so that the frame sent last leaves the port before a
    // flush (the next request's) or a close could discard it. For a write that is not
    // followed by the pause before a read.
    void Drain() { Pause(DrainTime); }
    // WriteBlock, then ReadBlock from the same target (after its pause): Ok when the block
    // read back equals `values`, Mismatch ("verify failed: 2 of 15 bytes read back differ")
    // when not. Block() then holds what was read back.
    Result WriteVerified(int target, const unsigned char* values);
    // The pause before a RAM read, then 55 06; the 16 values into `out` (may be null: they
    // stay in Reply()).
    Result ReadJumpBuffer(unsigned char* out);

    // ---- the live acquisition ------------------------------------------------------------
    // A record read by a live cycle is held until the line is found quiet behind it: at
    // the next cycle, at any flush, or when the acquisition ends. Only then is it taken as
    // good: it becomes LastGood() and the OnGoodRecord hook hears of it. Bytes behind it
    // spoil it: it is dropped, and the next ConfirmHeld says so (Strays).
    void StartLive() {
        s_.poll = 1;
        liveGood_ = 0;
    }
    // Ends the acquisition: a wait in progress returns Stopped (nothing read).
    void StopLive() { s_.poll = 0; }
    bool Live() const { return s_.poll == 1; }
    // The quiet-line rule for the held record, now. None when no record waits for it.
    Held SettleHeld();
    // Pumps events once (what came during a pause reaches the queue), settles the held
    // record, and returns Strays (once) when the record held last was spoiled.
    Result ConfirmHeld();
    // One request: flush, 55 05, the live wait for 10 bytes. Ok: the record is held.
    Result RequestRecord();
    // One cycle: ConfirmHeld, then (still live and the port there) RequestRecord. Stopped
    // when the acquisition was ended before or during it; PortLost when the port has gone.
    Result LiveCycle();
    // The pause between cycles (pumps once, then sleeps CyclePauseMs).
    void CyclePause();
    // The acquisition has ended: the held record is settled as the next flush would.
    Result EndLive();
    // Forgets a held record and a spoiled verdict without settling.
    void DropHeld();
    // Forgets every live record: held, last good (all zero again) and the counts.
    void ForgetRecords();
    bool RecordHeld() const { return held_; }
    const LiveRecord& HeldRecord() const { return heldRecord_; }
    const LiveRecord& LastGood() const { return lastGood_; }
    // Live records taken as good since the Link was made.
    long GoodRecords() const { return goodRecords_; }
    // Called for every record taken as good.
    void OnGoodRecord(std::function<void(const LiveRecord&)> hook) { onGood_ = std::move(hook); }

    // ---- stopping a wait -------------------------------------------------------------
    // Asks the present wait or pause to end (Stopped) at its next pass, and every later
    // one until ClearStop: a program's way out of a 3-second wait (a signal, a shutdown).
    void RequestStop() { stop_ = true; }
    void ClearStop() { stop_ = false; }
    bool StopRequested() const { return stop_; }

  private:
    int settle(int expected);
    Result verdict(int expected) const;
    void trace(const char* what, const unsigned char* bytes, int n) const;

    State s_;
    bool held_ = false;
    bool spoiled_ = false;
    bool stop_ = false;
    LiveRecord heldRecord_;
    LiveRecord lastGood_;
    long goodRecords_ = 0;
    long liveGood_ = 0; // taken as good since StartLive
    std::function<void(const LiveRecord&)> onGood_;
};

} // namespace sensor
