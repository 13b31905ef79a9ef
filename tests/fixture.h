// Shared test fixture: the real panel (offscreen), the virtual clock, recorded pop-ups and
// scripted serial peers.
#pragma once

#include "Varnov30.h" // the callbacks and help texts
#include "panel_ids.h"
#include "com232.h"
#include "gui.h"
#include "module_state.h"
#include "scripted_peer.h"
#include "test_constants.h"
#include "runtime/endpoint.h"
#include "runtime/runtime.h"
#include "runtime/testhooks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace rt = runtime;
namespace th = runtime::test;


inline Bytes frameFor(std::uint8_t code, const std::uint8_t* block) {
    Bytes f{0x55, code};
    for (int i = 0; i < 15; ++i) f.push_back(block ? block[i] : 0);
    return f;
}

inline Bytes asBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline void resetModuleState() { clearModuleState(); }

// What every in-process test starts from: the virtual clock at 0, no serial bindings, no
// quit asked for, the modules' state of program start, and pop-ups recorded and answered
// instead of shown.
class SeamTest : public ::testing::Test {
protected:
    std::vector<th::Popup> popups;
    // Answer for the next file dialogs (result, path); default: cancelled.
    th::PopupAnswer fileAnswer{0, ""};
    // Called when a pop-up opens (after it is recorded), e.g. to act inside it.
    std::function<void(const th::Popup&)> onPopup;

    void SetUp() override {
        th::UseVirtualClock(true, 0.001);
        th::SetClock(0.0);
        th::SetPumpHook(nullptr);
        rt::ResetSerialBindings();
        th::ResetQuit();
        th::SetPopupHandler([this](const th::Popup& p) {
            popups.push_back(p);
            if (onPopup) onPopup(p);
            return p.kind == th::Popup::FileSelect ? fileAnswer : th::PopupAnswer{};
        });
        resetModuleState();
    }

    // Runs the event pump for `seconds` of the clock in use.
    void pumpFor(double seconds) {
        const double end = rt::Timer() + seconds;
        while (rt::Timer() < end)
            rt::ProcessSystemEvents();
    }
    // Runs the event pump until `done` holds (true) or `seconds` have passed (false).
    bool pumpUntil(const std::function<bool()>& done, double seconds) {
        const double end = rt::Timer() + seconds;
        while (!done()) {
            if (rt::Timer() > end) return false;
            rt::ProcessSystemEvents();
        }
        return true;
    }

    void TearDown() override {
        th::SetPumpHook(nullptr);
        th::ClearPopupHandler();
        rt::ResetSerialBindings();
        th::UseVirtualClock(false);
    }
};

class PanelTest : public SeamTest {
protected:
    int panel = -1;

    void SetUp() override {
        SeamTest::SetUp();
        Varnov30::RegisterCallbackTable();
        panel = rt::LoadPanel(0, "Varnov30.uir", 1);
        ASSERT_GT(panel, 0);
        Varnov30::panel = panel;
    }

    void TearDown() override {
        SeamTest::TearDown();
        if (panel > 0) rt::DiscardPanel(panel);
    }

    // Start-up as the program does it, up to the port opening.
    void initVars() { Varnov30::InitVars(); }
    // The same, with a scripted peer on COM1 that answers each frame by `onFrame`.
    std::shared_ptr<ScriptedPeer> startWithPeer(decltype(ScriptedPeer::onFrame) onFrame) {
        initVars();
        auto p = bindPeer(1);
        p->onFrame = std::move(onFrame);
        return p;
    }

    std::shared_ptr<ScriptedPeer> bindPeer(int port = 1) {
        auto peer = std::make_shared<ScriptedPeer>();
        rt::BindSerialEndpoint(port, peer);
        return peer;
    }

    std::string status() {
        char buf[256] = {};
        rt::GetCtrlVal(panel, PANEL_STATUS, buf, sizeof buf);
        return buf;
    }
    int intVal(int control) {
        int v = -1;
        EXPECT_EQ(rt::GetCtrlVal(panel, control, &v), 0) << "control " << control;
        return v;
    }
    int ucharVal(int control) {
        unsigned char v = 0;
        EXPECT_EQ(rt::GetCtrlVal(panel, control, &v), 0) << "control " << control;
        return v;
    }
    int countPopups(const std::string& title) {
        int n = 0;
        for (auto& p : popups) n += p.title == title;
        return n;
    }
    bool visible(int control) { return th::GetControlInfo(panel, control).visible; }
    bool dimmed(int control) { return th::GetControlInfo(panel, control).dimmed; }
    std::string label(int control) { return th::GetControlInfo(panel, control).label; }
};
