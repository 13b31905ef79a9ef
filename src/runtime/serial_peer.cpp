// Serial back end for in-process peers: the built-in simulated sensor and the tests'
// scripted peers, on the clock in use (clock.h).
#include "clock.h"
#include "endpoint.h"
#include "runtime.h"
#include "serial_line.h"

#include <algorithm>

namespace runtime::detail {

namespace {

class PeerLine final : public SerialLine {
  public:
    explicit PeerLine(std::shared_ptr<SerialEndpoint> peer) : peer_(std::move(peer)) {}

    int write(const char* data, int n) override {
        if (!alive()) return RS_PORT_NOT_OPEN;
        if (peer_->writeFails(Timer())) {
            lost_ = true;
            reason_ = "a write failed";
            return RS_UNKNOWN_IO_ERROR;
        }
        peer_->receive(reinterpret_cast<const std::uint8_t*>(data), std::size_t(n), Timer());
        return n;
    }

    void pull(std::vector<std::uint8_t>& queue, std::size_t cap) override {
        if (!alive()) return;
        std::uint8_t tmp[1024];
        for (;;) {
            const std::size_t got = peer_->transmit(tmp, sizeof tmp, Timer());
            if (got == 0) break;
            const std::size_t room = cap > queue.size() ? cap - queue.size() : 0;
            queue.insert(queue.end(), tmp, tmp + std::min(room, got)); // the rest overflows
        }
    }

    bool wait(double deadline) override {
        if (!alive()) return false;
        if (Timer() >= deadline) return false;
        return CurrentClock().waitForPeer(peer_->nextEventTime(), deadline);
    }

    void discardInput() override {
        // Everything that has arrived by now is discarded.
        std::vector<std::uint8_t> sink;
        do {
            sink.clear();
            pull(sink, 1 << 20);
        } while (!sink.empty());
    }
    void discardOutput() override {}
    int setHandshake(bool) override { return 0; }
    bool alive() override {
        if (!lost_ && !peer_->connected(Timer())) {
            lost_ = true;
            reason_ = "the peer disconnected";
        }
        return !lost_;
    }
    std::string lostReason() const override { return reason_; }
    double nextDue(double now) const override {
        return lost_ ? std::numeric_limits<double>::infinity() : peer_->nextEventTime() - now;
    }

  private:
    std::shared_ptr<SerialEndpoint> peer_;
    bool lost_ = false;
    std::string reason_;
};

} // namespace

std::unique_ptr<SerialLine> OpenPeerLine(std::shared_ptr<SerialEndpoint> peer, int& code) {
    if (!peer || !peer->connected(Timer())) {
        code = RS_CANNOT_OPEN_PORT;
        return nullptr;
    }
    code = 0;
    return std::make_unique<PeerLine>(std::move(peer));
}

} // namespace runtime::detail
