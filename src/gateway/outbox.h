// What waits to reach the broker: every non-retained message (live records, replies,
// audit lines) in the order made, kept until the broker has acknowledged it (QoS 1
// PUBACK), and handed to the MQTT client only while connected, at most `window` at a time.
// While the broker is away live records pile up to a bound, and replies to another: beyond
// them the oldest of their kind are dropped and counted. An audit line is never dropped
// (writes are few: the command queue bounds them). A message the client refuses for good
// (a topic it can never publish on) is dropped and counted, and never holds up the ones
// behind it. Plain C++.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <utility>

namespace gateway {

struct Message {
    Message(std::string t, std::string p, bool isLive, std::string corr = {})
        : topic(std::move(t)), payload(std::move(p)), live(isLive), correlation(std::move(corr)) {}
    std::string topic;
    std::string payload;
    bool live = false;       // a live record: counted against the buffer bound
    bool keep = false;       // an audit line: never dropped for a bound
    std::string correlation; // MQTT 5 correlation data (replies to a response topic)
    int mid = 0;             // the client's message id while handed over
};

class Outbox {
  public:
    // `liveLimit` live records and `otherLimit` other messages are kept at most, besides
    // the ones handed over and not yet acknowledged.
    explicit Outbox(long liveLimit, long otherLimit = 1000, int window = 64);

    void push(Message m);
    // Hands waiting messages to `send` in order while fewer than `window` are
    // unacknowledged; `send` returns the message id, 0 when it could not (then it stops),
    // or a negative number when it never can (that message is dropped, the next goes).
    void pump(const std::function<int(const Message&)>& send);
    // The broker acknowledged message `mid`.
    void acknowledged(int mid);
    // The connection ended: what was handed over and not acknowledged goes again, in
    // order, on the next connection.
    void connectionLost();

    std::size_t waiting() const { return queue_.size(); }
    std::size_t inflight() const { return sent_; }
    long liveWaiting() const { return live_; }
    long droppedLive() const { return droppedLive_; }
    long droppedOther() const { return droppedOther_; }
    long droppedRefused() const { return droppedRefused_; }

  private:
    void dropOldest(bool live);

    std::deque<Message> queue_; // queue_[0, sent_) handed over, the rest waiting
    std::size_t sent_ = 0;
    long live_ = 0, other_ = 0;
    long liveSent_ = 0; // live records among those handed over
    long liveLimit_, otherLimit_;
    int window_;
    long droppedLive_ = 0, droppedOther_ = 0, droppedRefused_ = 0;
};

} // namespace gateway
