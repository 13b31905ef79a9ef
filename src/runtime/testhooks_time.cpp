// The tests' clock: virtual seconds that move only with the event pump and Sleep(), or the
// system clock; either way with a hook called at the end of every pump.
#include "clock.h"
#include "testhooks.h"

#include <algorithm>
#include <cmath>

namespace runtime::test {

namespace {

class TestClock final : public Clock {
  public:
    bool virtualOn = false;
    double virtualNow = 0.0;
    double tick = 0.001;
    std::function<void(double)> hook;

    double now() override { return virtualOn ? virtualNow : SystemClock().now(); }
    void sleep(int milliseconds) override {
        if (virtualOn)
            virtualNow += milliseconds / 1000.0;
        else
            SystemClock().sleep(milliseconds);
    }
    bool stepped() const override { return virtualOn; }
    void step() override { virtualNow += tick; }
    bool waitForPeer(double due, double deadline) override {
        if (!virtualOn) return SystemClock().waitForPeer(due, deadline);
        if (!std::isfinite(due) || due > deadline) return false;
        virtualNow += std::max(0.0, due - virtualNow);
        return true;
    }
    void pumped(double t) override {
        if (hook) hook(t);
    }
};

// Put in place on first use and kept: with the virtual clock off it is the system clock.
TestClock& testClock() {
    static TestClock c;
    InstallClock(&c);
    return c;
}

} // namespace

void UseVirtualClock(bool on, double tick) {
    testClock().virtualOn = on;
    testClock().tick = tick;
}
bool VirtualClock() {
    return testClock().virtualOn;
}
void AdvanceClock(double seconds) {
    testClock().virtualNow += seconds;
}
void SetClock(double seconds) {
    testClock().virtualNow = seconds;
}
void SetPumpHook(std::function<void(double)> hook) {
    testClock().hook = std::move(hook);
}

} // namespace runtime::test
