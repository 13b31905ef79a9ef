// The sensor layer's fixture: the virtual clock and scripted peers bound to port numbers.
#pragma once

#include "runtime/endpoint.h"
#include "runtime/runtime.h"
#include "runtime/testhooks.h"
#include "scripted_peer.h"
#include "test_constants.h"
#include "sensor/link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace rt = runtime;
namespace th = runtime::test;

inline const Bytes sensorEeprom{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
inline const Bytes sensorJump{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};

inline Bytes frame(std::uint8_t code, const Bytes& block = Bytes(15, 0)) {
    Bytes f(2 + block.size());
    f[0] = 0x55;
    f[1] = code;
    std::copy(block.begin(), block.end(), f.begin() + 2);
    return f;
}

inline Bytes bytesOf(const unsigned char* p, int n) {
    return Bytes(p, p + n);
}

class SensorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        th::UseVirtualClock(true, 0.001);
        th::SetClock(0.0);
        th::SetPumpHook(nullptr);
        rt::ResetSerialBindings();
    }
    void TearDown() override {
        th::SetPumpHook(nullptr);
        rt::ResetSerialBindings();
        th::UseVirtualClock(false);
    }

    // A peer on `port` that answers each request code with `answers[code]` after `delay`.
    std::shared_ptr<ScriptedPeer> sensorOn(int port, std::map<int, Bytes> answers,
                                           double delay = 0.005) {
        auto p = std::make_shared<ScriptedPeer>();
        p->onFrame = [answers, delay](const Bytes& f, double) {
            std::vector<ScriptedPeer::Chunk> c;
            auto it = answers.find(f[1]);
            if (it != answers.end() && !it->second.empty()) c.push_back({delay, it->second});
            return c;
        };
        rt::BindSerialEndpoint(port, p);
        return p;
    }
    std::map<int, Bytes> standard() {
        return {{3, block15},
                {4, sensorEeprom},
                {5, record1},
                {6, sensorJump},
                {7, lineOk}};
    }
    Bytes written(int port) {
        const std::string w = th::WrittenBytes(port);
        return Bytes(w.begin(), w.end());
    }
};
