// A serial peer whose answers are scripted, on the run-time's clock: shared by the tests
// and the link fuzz target, so that both play the sensor by the same timing rules.
#pragma once

#include "runtime/endpoint.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A serial peer whose answers a test scripts: every complete 17-byte frame is handed to
// `onFrame`, which schedules reply chunks (delay after the frame, bytes).
class ScriptedPeer : public runtime::SerialEndpoint {
  public:
    struct Chunk {
        double delay;
        Bytes bytes;
    };
    std::function<std::vector<Chunk>(const Bytes& frame, double now)> onFrame;
    std::vector<Bytes> frames;
    std::vector<double> frameTimes;
    bool gone = false;

    void receive(const std::uint8_t* data, std::size_t n, double now) override {
        pending_.insert(pending_.end(), data, data + n);
        while (pending_.size() >= 17) {
            Bytes f(pending_.begin(), pending_.begin() + 17);
            pending_.erase(pending_.begin(), pending_.begin() + 17);
            frames.push_back(f);
            frameTimes.push_back(now);
            if (onFrame)
                for (auto& c : onFrame(f, now))
                    schedule(now + c.delay, c.bytes);
        }
    }
    std::size_t transmit(std::uint8_t* out, std::size_t max, double now) override {
        std::size_t n = 0;
        while (n < max && !out_.empty() && out_.front().first <= now) {
            out[n++] = out_.front().second;
            out_.pop_front();
        }
        return n;
    }
    double nextEventTime() const override {
        return out_.empty() ? std::numeric_limits<double>::infinity() : out_.front().first;
    }
    bool connected(double) const override { return !gone; }

    void schedule(double at, const Bytes& b) {
        for (auto x : b)
            out_.push_back({at, x});
        std::stable_sort(out_.begin(), out_.end(),
                         [](auto& a, auto& c) { return a.first < c.first; });
    }

  private:
    Bytes pending_;
    std::deque<std::pair<double, std::uint8_t>> out_;
};
