// Sensor simulator model: an edge-counting optical sensor behind a 4800 baud 8N1 line.
//
// The model is driven only by the time values its caller passes in (seconds, double), so it
// runs on a virtual clock in unit tests just as well as on a monotonic clock in the
// stand-alone simulator. It performs no I/O and uses no OS services.
//
// Conventions chosen for this model (the host program must not depend on anything else):
//  * Frames: 0x55, code, 15 parameter bytes. No checksum. Bytes before a 0x55 are skipped;
//    a 0x55 followed by a code outside 1..7 is dropped and the search restarts at the next
//    byte. A frame whose code is valid is taken as complete after its 17th byte, whatever
//    the payload contains.
//  * Code 1 writes RAM. Code 2 writes EEPROM only; RAM is left unchanged. The EEPROM block is
//    copied into RAM at construction and by powerCycle().
//  * Codes 3..7 ignore the payload. Replies: 3 -> 15 RAM bytes, 4 -> 15 EEPROM bytes,
//    5 -> 10-byte live record, 6 -> 16-byte jump buffer, 7 -> AA 03 00.
//  * Jump buffer: a shift register of the last 16 edge minima, returned oldest first,
//    newest at index 15. Slots not yet filled since power-up read 0.
//  * Live record: DAT0/DAT1 are the averaged values (over `average` main-loop runs) and
//    NORM = DAT0*255/(DAT0+DAT1) with integer division (0 when both are 0), so byte 2 is
//    always consistent with bytes 0 and 1. Bytes 3..8 (edge position, IN0 period, window
//    length) are only filled in trigger mode 3 (ADJ EXT) and read 0 otherwise. Byte 9 is
//    the working threshold.
//  * Time unit of bytes 3..8: 1/10240 s, so an IN0 period at 20 targets/s is 512 units.
//  * hold: 1 ms per unit. deadtime: k = 0..15 (larger values are clamped to 15), 2*k ms in
//    ms mode, 6*k percent of the interval between targets in percent mode (the IN0 period
//    in the external trigger modes, the last measured edge-to-edge interval in CONT; 0 until
//    two edges have been seen).
//  * Hysteresis is an absolute NORM level: after an edge the detector re-arms only once
//    NORM has risen above `hysteresis` (and the dead time is over).
//  * average: 0 and 1 both mean no averaging; values above 64 are clamped to 64.
//  * power: code 0 = full intensity, 46 (or more) = none, linear in between.
//  * DYN power (pmod != 0): every `regcnt` main-loop runs (0 counts as 1) the power code is
//    moved one step so that DAT0+DAT1 approaches 255 (dead band +-12). The regulated code is
//    internal (currentPower()); the RAM block keeps the value the host wrote.
//  * DYN threshold (trshmod != 0): whenever the minimum search of an edge finishes, the
//    working threshold becomes min(threshold, minimum + deltatrsh).
//  * Main loop: one run every 0.5 ms of model time. After an idle gap longer than 2 s only
//    the last 2 s are simulated (targets keep their phase).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <vector>

namespace sim {

// Parameter block layout (byte index in the 15-byte block).
enum Param : std::size_t {
    kThreshold = 0,
    kHysteresis = 1,
    kPower = 2,
    kPmod = 3,
    kHold = 4,
    kTrigger = 5,
    kBacklim = 6,
    kRegcnt = 7,
    kAverage = 8,
    kDeadtimeMode = 9,
    kDeadtime = 10,
    kOutmode = 11,
    kTrshmod = 12,
    kDeltaTrsh = 13,
    kFrei15 = 14,
};

enum Trigger : std::uint8_t { kTrigCont = 0, kTrigExt = 1, kTrigExtStat = 2, kTrigAdjExt = 3 };

constexpr std::uint8_t kSync = 0x55;
constexpr std::size_t kFrameSize = 17;
constexpr std::size_t kParamSize = 15;
constexpr std::size_t kLiveSize = 10;
constexpr std::size_t kJumpSize = 16;
constexpr int kPowerOff = 46;           // power code meaning 0 % intensity
constexpr double kLoopPeriod = 0.0005;  // one main-loop run, seconds
constexpr double kTimeUnit = 1.0 / 10240.0;  // unit of edge position / IN0 / window, seconds
constexpr double kMaxCatchUp = 2.0;     // longest stretch simulated after an idle gap, seconds

using ParamBlock = std::array<std::uint8_t, kParamSize>;

struct Faults {
    bool silent = false;          // never reply (writes still take effect)
    bool shortReply = false;      // drop the last byte of every reply
    int extraBytes = 0;           // append this many stray bytes to every reply
    double lateReply = 0.0;       // extra delay before every reply, seconds
    int splitParts = 1;           // send every reply in this many parts ...
    double splitGap = 0.0;        // ... separated by this gap, seconds
    bool wrongLineCheck = false;  // line check answers AA 03 01
    double disconnectAt = -1;     // from this time on the line is gone (< 0: never)
};

inline constexpr ParamBlock kDefaultEeprom = {
    128,  // threshold
    160,  // hysteresis (re-arm level)
    16,   // power code
    0,    // pmod STAT
    10,   // hold 10 ms
    0,    // trigger CONT
    10,   // backlim
    20,   // regcnt
    2,    // average
    1,    // deadtime in ms
    10,   // deadtime step -> 20 ms
    0,    // outmode DIRECT
    0,    // trshmod FIX
    30,   // deltatrsh
    0,    // frei15
};

struct Config {
    double baud = 4800;
    double latency = 0.002;  // s from the end of a request to the start of the first reply byte
    bool pacing = true;      // bytes take 10/baud s each on the line
    double targetRate = 20;  // targets per second (0: no targets, no IN0 trigger)
    double noise = 2.0;      // standard deviation of DAT0/DAT1 noise, counts
    std::uint32_t seed = 1;
    Faults faults;
    ParamBlock eeprom = kDefaultEeprom;
};

// Edge detector state machine, one step per main-loop run. Pure: it sees only what is
// passed in, so it can be driven with synthetic NORM sequences.
struct DetectorSettings {
    std::uint8_t threshold = 128;
    std::uint8_t hysteresis = 160;
    bool dynThreshold = false;
    std::uint8_t deltaTrsh = 0;
    double deadTime = 0.0;  // seconds
    double hold = 0.0;      // seconds
    bool windowed = false;  // external trigger: minimum search runs to the window end
};

struct DetectorInput {
    double t = 0.0;
    std::uint8_t norm = 0;
    bool evaluate = true;   // false while DAT0 is below backlim
    bool inWindow = true;   // edges are only taken inside the active window
    double windowEnd = 0.0; // end of the current active window (windowed mode)
};

struct DetectorEvent {
    bool edge = false;
    bool minimumDone = false;  // a minimum search finished on this step
    std::uint8_t minimum = 0;
};

class EdgeDetector {
public:
    DetectorEvent step(const DetectorSettings& s, const DetectorInput& in);
    std::uint8_t workingThreshold(const DetectorSettings& s) const;
    bool armed() const { return armed_; }
    bool blind(double t) const { return t < deadUntil_; }
    bool holdActive(double t) const { return t < holdUntil_; }
    bool searching() const { return searching_; }
    std::uint64_t edges() const { return edges_; }
    void reset();

private:
    void finishSearch(const DetectorSettings& s, DetectorEvent& ev);

    bool armed_ = false;
    bool searching_ = false;
    std::uint8_t min_ = 255;
    std::uint8_t dynThr_ = 255;
    double deadUntil_ = -std::numeric_limits<double>::infinity();
    double holdUntil_ = -std::numeric_limits<double>::infinity();
    double searchEnd_ = 0.0;
    std::uint64_t edges_ = 0;
};

// Deterministic noise and per-target variation.
class Rng {
public:
    explicit Rng(std::uint64_t seed);
    std::uint64_t next();
    double uniform();   // [0, 1)
    double gaussian();  // approx. N(0, 1)
private:
    std::uint64_t s_;
};

class SensorModel {
public:
    explicit SensorModel(Config c = {});

    // Bytes the host wrote at `now`. With pacing, byte i finishes arriving at
    // now + (i+1)*10/baud, queued behind bytes still on the wire. Complete frames are
    // handled at the time their last byte arrives; bytes arriving after a disconnect are lost.
    void receive(const std::uint8_t* data, std::size_t n, double now);
    // Copies up to `max` reply bytes that have arrived at the host by `now` and removes them.
    std::size_t transmit(std::uint8_t* out, std::size_t max, double now);
    // Reply bytes arrived by `now` and not yet taken.
    std::size_t pending(double now) const;
    // Arrival time of the next reply byte not yet taken (may lie in the past if it has not
    // been taken yet); infinity if nothing more will be delivered.
    double nextEventTime() const;
    bool connected(double now) const;

    const ParamBlock& ram() const { return ram_; }
    const ParamBlock& eeprom() const { return eeprom_; }
    void setEeprom(const ParamBlock& block);  // EEPROM only (as a code-2 write; not counted)
    void setRam(const ParamBlock& block);     // RAM only (as a code-1 write)
    void powerCycle();                        // RAM := EEPROM, signal state reset
    Config& config() { return cfg_; }
    const Config& config() const { return cfg_; }

    // Number of code-2 writes handled so far (lets a front end persist the EEPROM).
    std::uint32_t eepromWriteCount() const { return eepromWrites_; }

    // Signal inspection. advanceTo() runs the main loop up to `now` (never backwards).
    void advanceTo(double now);
    std::array<std::uint8_t, kLiveSize> liveRecord(double now);  // advances first
    std::array<std::uint8_t, kJumpSize> jumpBuffer() const { return jump_; }
    std::uint8_t norm() const { return norm_; }
    std::uint8_t dat0() const { return dat0_; }
    std::uint8_t dat1() const { return dat1_; }
    std::uint8_t workingThreshold() const;
    int currentPower() const { return power_; }
    bool out0() const;  // OUT0 level after outmode
    std::uint64_t edgeCount() const { return det_.edges(); }
    double simTime() const { return simTime_; }
    const EdgeDetector& detector() const { return det_; }

private:
    struct TimedByte {
        std::uint8_t b;
        double t;
    };
    void parseFrames();
    void handleFrame(std::uint8_t code, const ParamBlock& payload, double t);
    void queueReply(std::vector<std::uint8_t> bytes, double done);
    bool lineUp(double t) const;
    void stepOnce();
    DetectorSettings settings() const;
    std::array<std::uint8_t, kLiveSize> buildLive() const;
    double in0Period() const;  // seconds, 0 if no trigger
    double windowFraction() const;

    Config cfg_;
    ParamBlock ram_{};
    ParamBlock eeprom_{};
    std::uint32_t eepromWrites_ = 0;

    // line
    std::deque<TimedByte> rx_;
    std::deque<TimedByte> tx_;
    double rxStart_ = -std::numeric_limits<double>::infinity();  // start of the current burst
    std::uint64_t rxCount_ = 0;                                   // bytes in that burst
    double txFree_ = -std::numeric_limits<double>::infinity();

    // signal
    bool started_ = false;
    double simTime_ = 0.0;
    double phase_ = 0.0;  // targets passed so far (fraction = position within the period)
    Rng rng_;
    int power_ = 0;
    int regTick_ = 0;
    std::array<std::uint8_t, 64> avg0_{};
    std::array<std::uint8_t, 64> avg1_{};
    std::size_t avgPos_ = 0;
    std::size_t avgFill_ = 0;
    std::uint8_t dat0_ = 0, dat1_ = 0, norm_ = 0;
    EdgeDetector det_;
    double lastEdge_ = -1.0;
    double edgeInterval_ = 0.0;
    std::uint16_t edgePos_ = 0;
    std::array<std::uint8_t, kJumpSize> jump_{};
};

// Helpers shared by the model and its front end.
bool parseParamText(const char* text, ParamBlock& out);  // 15 decimal numbers, whitespace
std::string formatParamText(const ParamBlock& block);  // one line, trailing newline

}  // namespace sim
