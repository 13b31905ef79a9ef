// The signal side of the simulated sensor: the optical levels, power regulation and
// the edge detector, stepped on simulated time; and its random numbers.
#include "sensor_model.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Beam geometry, as a fraction of the interval between targets. The IN0 trigger fires at
// phase 0; the target centre passes at kTargetCentre, covering +-kTargetHalfWidth.
constexpr double kTargetCentre = 0.3;
constexpr double kTargetHalfWidth = 0.1;
constexpr double kWindowExt = 0.6;      // active window after an IN0 pulse (EXT, ADJ EXT)
constexpr double kWindowExtStat = 0.5;  // IN0 high time (EXTSTAT)

// Optical levels at full power, counts before clamping to 0..255.
constexpr double kDat0Free = 320.0;  // clear beam
constexpr double kDat0Block = 0.85;  // fraction of DAT0 removed by a full-depth target
constexpr double kDat1Free = 24.0;
constexpr double kDat1Target = 280.0;

// Power regulation aims at this DAT0+DAT1 sum.
constexpr int kRegTarget = 255;
constexpr int kRegBand = 12;

std::uint64_t splitmix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint8_t clampByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<std::uint8_t>(std::lround(v));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Rng

Rng::Rng(std::uint64_t seed) : s_(splitmix64(seed) | 1u) {}

std::uint64_t Rng::next() {
    // xorshift64*
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return s_ * 0x2545F4914F6CDD1Dull;
}

double Rng::uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

double Rng::gaussian() {
    // Sum of four uniforms: variance 4/12, scaled to 1. Cheap and good enough for noise.
    double s = uniform() + uniform() + uniform() + uniform() - 2.0;
    return s * 1.7320508075688772;
}

// ---------------------------------------------------------------------------------------
// EdgeDetector

void EdgeDetector::reset() { *this = EdgeDetector{}; }

std::uint8_t EdgeDetector::workingThreshold(const DetectorSettings& s) const {
    return s.dynThreshold ? std::min(dynThr_, s.threshold) : s.threshold;
}

void EdgeDetector::finishSearch(const DetectorSettings& s, DetectorEvent& ev) {
    searching_ = false;
    ev.minimumDone = true;
    ev.minimum = min_;
    if (s.dynThreshold) {
        dynThr_ = static_cast<std::uint8_t>(std::min(255, int(min_) + int(s.deltaTrsh)));
    }
}

DetectorEvent EdgeDetector::step(const DetectorSettings& s, const DetectorInput& in) {
    DetectorEvent ev;
    if (searching_) {
        if (in.t >= searchEnd_)
            finishSearch(s, ev);
        else if (in.evaluate)
            min_ = std::min(min_, in.norm);
    }
    if (!in.evaluate || in.t < deadUntil_) return ev;  // no evaluation / blind
    if (!armed_) {
        if (in.norm > s.hysteresis) armed_ = true;
        return ev;
    }
    if (in.inWindow && in.norm < workingThreshold(s)) {
        if (searching_) finishSearch(s, ev);
        armed_ = false;
        ++edges_;
        ev.edge = true;
        deadUntil_ = in.t + s.deadTime;
        holdUntil_ = in.t + s.hold;
        searching_ = true;
        min_ = in.norm;
        searchEnd_ = std::max(s.windowed ? in.windowEnd : deadUntil_, holdUntil_);
    }
    return ev;
}

// ---------------------------------------------------------------------------------------
// SensorModel: signal side

double SensorModel::in0Period() const {
    return cfg_.targetRate > 0 ? 1.0 / cfg_.targetRate : 0.0;
}

double SensorModel::windowFraction() const {
    return ram_[kTrigger] == kTrigExtStat ? kWindowExtStat : kWindowExt;
}

DetectorSettings SensorModel::settings() const {
    DetectorSettings s;
    s.threshold = ram_[kThreshold];
    s.hysteresis = ram_[kHysteresis];
    s.dynThreshold = ram_[kTrshmod] != 0;
    s.deltaTrsh = ram_[kDeltaTrsh];
    s.hold = ram_[kHold] * 0.001;
    s.windowed = ram_[kTrigger] != kTrigCont;
    const int k = std::min<int>(ram_[kDeadtime], 15);
    if (ram_[kDeadtimeMode] != 0) {
        s.deadTime = 0.002 * k;
    } else {
        const double interval = s.windowed ? in0Period() : edgeInterval_;
        s.deadTime = 0.06 * k * interval;
    }
    return s;
}

std::uint8_t SensorModel::workingThreshold() const { return det_.workingThreshold(settings()); }

bool SensorModel::out0() const { return det_.holdActive(simTime_) != (ram_[kOutmode] != 0); }

void SensorModel::advanceTo(double now) {
    if (!started_) {
        // The clock starts with the first call; the first main-loop run happens right then.
        started_ = true;
        simTime_ = now - kLoopPeriod;
    }
    if (!(now - simTime_ < kMaxCatchUp)) {
        // Long idle gap: skip ahead, keeping the targets' phase.
        const double skip = std::floor((now - kMaxCatchUp - simTime_) / kLoopPeriod) * kLoopPeriod;
        if (skip > 0) {
            phase_ += std::max(0.0, cfg_.targetRate) * skip;
            simTime_ += skip;
        }
    }
    // Compare against a tolerance so that repeated additions do not lose a step.
    while (simTime_ + kLoopPeriod <= now + 1e-9) stepOnce();
}

void SensorModel::stepOnce() {
    simTime_ += kLoopPeriod;
    const double t = simTime_;
    const double rate = std::max(0.0, cfg_.targetRate);
    phase_ += rate * kLoopPeriod;

    if (ram_[kPmod] == 0) power_ = std::min<int>(ram_[kPower], kPowerOff);
    const double intensity = double(kPowerOff - power_) / kPowerOff;

    const double whole = std::floor(phase_);
    const double ph = phase_ - whole;
    const double u = (ph - kTargetCentre) / kTargetHalfWidth;
    double shade = 0.0;
    if (u > -1.0 && u < 1.0) {
        const double c = std::cos(u * kPi / 2);
        shade = c * c;
    }
    // Every target has its own depth, so that the edge minima differ.
    const auto index = static_cast<std::uint64_t>(static_cast<std::int64_t>(whole));
    const double depth =
        0.85 + 0.15 * double(splitmix64(index ^ (std::uint64_t(cfg_.seed) << 32)) >> 11) /
                   9007199254740992.0;
    const double g0 = rng_.gaussian();
    const double g1 = rng_.gaussian();
    const double ds = depth * shade;
    const std::uint8_t raw0 =
        clampByte(intensity * kDat0Free * (1.0 - kDat0Block * ds) + cfg_.noise * g0);
    const std::uint8_t raw1 =
        clampByte(intensity * (kDat1Free + kDat1Target * ds) + cfg_.noise * g1);

    // Moving average over the last `average` runs.
    avg0_[avgPos_] = raw0;
    avg1_[avgPos_] = raw1;
    avgPos_ = (avgPos_ + 1) % avg0_.size();
    avgFill_ = std::min(avgFill_ + 1, avg0_.size());
    const std::size_t n =
        std::min<std::size_t>(std::clamp<int>(ram_[kAverage], 1, int(avg0_.size())), avgFill_);
    unsigned sum0 = 0, sum1 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t j = (avgPos_ + avg0_.size() - 1 - i) % avg0_.size();
        sum0 += avg0_[j];
        sum1 += avg1_[j];
    }
    dat0_ = static_cast<std::uint8_t>((sum0 + n / 2) / n);
    dat1_ = static_cast<std::uint8_t>((sum1 + n / 2) / n);
    const unsigned total = unsigned(dat0_) + dat1_;
    norm_ = total == 0 ? 0 : static_cast<std::uint8_t>(dat0_ * 255u / total);

    // Power regulation.
    if (ram_[kPmod] != 0) {
        if (++regTick_ >= std::max<int>(1, ram_[kRegcnt])) {
            regTick_ = 0;
            if (int(total) < kRegTarget - kRegBand && power_ > 0)
                --power_;
            else if (int(total) > kRegTarget + kRegBand && power_ < kPowerOff)
                ++power_;
        }
    } else {
        regTick_ = 0;
    }

    // Edge detection.
    const DetectorSettings s = settings();
    DetectorInput in;
    in.t = t;
    in.norm = norm_;
    in.evaluate = dat0_ >= ram_[kBacklim];
    const double period = in0Period();
    if (s.windowed) {
        const double frac = windowFraction();
        in.inWindow = period > 0 && ph < frac;
        in.windowEnd = in.inWindow ? t + (frac - ph) * period : t;
    }
    const DetectorEvent ev = det_.step(s, in);
    if (ev.minimumDone) {
        std::rotate(jump_.begin(), jump_.begin() + 1, jump_.end());
        jump_.back() = ev.minimum;
    }
    if (ev.edge) {
        edgePos_ = static_cast<std::uint16_t>(
            std::min(65535.0, std::round(ph * period / kTimeUnit)));
        if (lastEdge_ >= 0) edgeInterval_ = t - lastEdge_;
        lastEdge_ = t;
    }
}

std::array<std::uint8_t, kLiveSize> SensorModel::buildLive() const {
    std::array<std::uint8_t, kLiveSize> r{};
    r[0] = dat0_;
    r[1] = dat1_;
    r[2] = norm_;
    if (ram_[kTrigger] == kTrigAdjExt) {
        const double period = in0Period();
        const auto periodUnits =
            static_cast<unsigned>(std::min(65535.0, std::round(period / kTimeUnit)));
        const auto winUnits = static_cast<unsigned>(std::lround(windowFraction() * periodUnits));
        r[3] = edgePos_ & 0xFF;
        r[4] = edgePos_ >> 8;
        r[5] = periodUnits & 0xFF;
        r[6] = (periodUnits >> 8) & 0xFF;
        r[7] = winUnits & 0xFF;
        r[8] = (winUnits >> 8) & 0xFF;
    }
    r[9] = workingThreshold();
    return r;
}

std::array<std::uint8_t, kLiveSize> SensorModel::liveRecord(double now) {
    advanceTo(now);
    return buildLive();
}

}  // namespace sim
