// The simulated sensor as an in-process serial peer of the run-time (--simulate, tests).
#pragma once

#include "runtime/endpoint.h"
#include "sensor_model.h"

namespace sim {

class SimEndpoint : public runtime::SerialEndpoint {
public:
    explicit SimEndpoint(Config c = {}) : model_(std::move(c)) {}
    void receive(const std::uint8_t* data, std::size_t n, double now) override {
        model_.receive(data, n, now);
    }
    std::size_t transmit(std::uint8_t* out, std::size_t max, double now) override {
        return model_.transmit(out, max, now);
    }
    double nextEventTime() const override { return model_.nextEventTime(); }
    bool connected(double now) const override { return model_.connected(now); }
    SensorModel& model() { return model_; }

private:
    SensorModel model_;
};

} // namespace sim
