// The line side of the simulated sensor: frames in, replies out at 4800 baud, and the
// EEPROM's text form.
#include "sensor_model.h"

#include "runtime/bytelist.h"
#include "sensor/protocol.h" // the request codes, as the programs send them

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr std::uint8_t kStrayBase = 0xF0;

}  // namespace

// ---------------------------------------------------------------------------------------
// SensorModel: line side

SensorModel::SensorModel(Config c) : cfg_(c), rng_(c.seed) {
    eeprom_ = cfg_.eeprom;
    ram_ = eeprom_;
    power_ = std::min<int>(ram_[kPower], kPowerOff);
}

void SensorModel::setEeprom(const ParamBlock& block) {
    eeprom_ = block;
    cfg_.eeprom = block;
}

void SensorModel::setRam(const ParamBlock& block) { ram_ = block; }

void SensorModel::powerCycle() {
    ram_ = eeprom_;
    rng_ = Rng(cfg_.seed);
    power_ = std::min<int>(ram_[kPower], kPowerOff);
    regTick_ = 0;
    avg0_.fill(0);
    avg1_.fill(0);
    avgPos_ = avgFill_ = 0;
    dat0_ = dat1_ = norm_ = 0;
    det_.reset();
    lastEdge_ = -1.0;
    edgeInterval_ = 0.0;
    edgePos_ = 0;
    jump_.fill(0);
    rx_.clear();
}

bool SensorModel::lineUp(double t) const {
    return cfg_.faults.disconnectAt < 0 || t < cfg_.faults.disconnectAt;
}

bool SensorModel::connected(double now) const { return lineUp(now); }

void SensorModel::receive(const std::uint8_t* data, std::size_t n, double now) {
    if (!lineUp(now)) return;
    const double byteTime = 10.0 / cfg_.baud;
    for (std::size_t i = 0; i < n; ++i) {
        double arrival = now;
        if (cfg_.pacing) {
            // Times are start + count * byteTime rather than a running sum, so a long
            // burst does not pile up rounding errors.
            if (!(now < rxStart_ + double(rxCount_) * byteTime)) {
                rxStart_ = now;  // the line was idle
                rxCount_ = 0;
            }
            arrival = rxStart_ + double(++rxCount_) * byteTime;
        }
        if (!lineUp(arrival)) break;  // the rest never reaches the sensor
        rx_.push_back({data[i], arrival});
    }
    parseFrames();
}

void SensorModel::parseFrames() {
    for (;;) {
        while (!rx_.empty() && rx_.front().b != kSync) rx_.pop_front();
        if (rx_.size() < 2) return;
        const std::uint8_t code = rx_[1].b;
        if (code < 1 || code > 7) {
            rx_.pop_front();  // not a frame start after all; search again from the next byte
            continue;
        }
        if (rx_.size() < kFrameSize) return;
        ParamBlock payload{};
        for (std::size_t i = 0; i < kParamSize; ++i) payload[i] = rx_[2 + i].b;
        const double done = rx_[kFrameSize - 1].t;
        rx_.erase(rx_.begin(), rx_.begin() + kFrameSize);
        handleFrame(code, payload, done);
    }
}

void SensorModel::handleFrame(std::uint8_t code, const ParamBlock& payload, double t) {
    advanceTo(t);
    switch (code) {
    case sensor::req::WriteRam:
        ram_ = payload;
        break;
    case sensor::req::WriteEeprom:
        setEeprom(payload);
        ++eepromWrites_;
        break;
    case sensor::req::ReadRam:
        queueReply({ram_.begin(), ram_.end()}, t);
        break;
    case sensor::req::ReadEeprom:
        queueReply({eeprom_.begin(), eeprom_.end()}, t);
        break;
    case sensor::req::Live: {
        const auto live = buildLive();
        queueReply({live.begin(), live.end()}, t);
        break;
    }
    case sensor::req::JumpBuffer:
        queueReply({jump_.begin(), jump_.end()}, t);
        break;
    case sensor::req::LineCheck:
        queueReply({0xAA, 0x03, static_cast<std::uint8_t>(cfg_.faults.wrongLineCheck ? 1 : 0)},
                   t);
        break;
    default:
        break;
    }
}

void SensorModel::queueReply(std::vector<std::uint8_t> bytes, double done) {
    const Faults& f = cfg_.faults;
    if (f.silent) return;
    if (f.shortReply && !bytes.empty()) bytes.pop_back();
    for (int i = 0; i < f.extraBytes; ++i)
        bytes.push_back(static_cast<std::uint8_t>(kStrayBase | (i & 0x0F)));
    if (bytes.empty()) return;

    const double byteTime = cfg_.pacing ? 10.0 / cfg_.baud : 0.0;
    const double gap = std::max(0.0, f.splitGap);
    // The sensor sends one reply after the other: a reply never starts before the previous
    // one has left the line.
    const double start = std::max(done + cfg_.latency + std::max(0.0, f.lateReply), txFree_);
    const std::size_t parts =
        static_cast<std::size_t>(std::clamp<long>(f.splitParts, 1, long(bytes.size())));
    const std::size_t base = bytes.size() / parts;
    const std::size_t extra = bytes.size() % parts;  // the first `extra` parts get one more
    std::size_t idx = 0;
    double t = start;
    for (std::size_t p = 0; p < parts; ++p) {
        const std::size_t n = base + (p < extra ? 1 : 0);
        for (std::size_t j = 0; j < n; ++j, ++idx) {
            t = start + double(p) * gap + double(idx + 1) * byteTime;
            tx_.push_back({bytes[idx], t});
        }
    }
    txFree_ = t;
}

std::size_t SensorModel::transmit(std::uint8_t* out, std::size_t max, double now) {
    std::size_t n = 0;
    while (n < max && !tx_.empty() && tx_.front().t <= now && lineUp(tx_.front().t)) {
        out[n++] = tx_.front().b;
        tx_.pop_front();
    }
    return n;
}

std::size_t SensorModel::pending(double now) const {
    std::size_t n = 0;
    for (const auto& tb : tx_) {
        if (tb.t > now || !lineUp(tb.t)) break;
        ++n;
    }
    return n;
}

double SensorModel::nextEventTime() const {
    if (tx_.empty() || !lineUp(tx_.front().t)) return std::numeric_limits<double>::infinity();
    return tx_.front().t;
}

// ---------------------------------------------------------------------------------------
// EEPROM text form

bool parseParamText(const char* text, ParamBlock& out) {
    // The same reader as the operator program's parameter files.
    unsigned char block[kParamSize];
    if (runtime::ParseByteList(text, std::strlen(text), block, int(kParamSize), nullptr) != 0)
        return false;
    std::copy(block, block + kParamSize, out.begin());
    return true;
}

std::string formatParamText(const ParamBlock& block) {
    std::string s;
    for (std::size_t i = 0; i < kParamSize; ++i) {
        if (i) s += ' ';
        s += std::to_string(block[i]);
    }
    s += '\n';
    return s;
}

}  // namespace sim
