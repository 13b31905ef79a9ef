// The gateway's own buffer in front of the MQTT client.
#include "outbox.h"

#include <utility>

namespace gateway {

Outbox::Outbox(long liveLimit, long otherLimit, int window)
    : liveLimit_(liveLimit < 1 ? 1 : liveLimit), otherLimit_(otherLimit < 1 ? 1 : otherLimit),
      window_(window < 1 ? 1 : window) {}

void Outbox::push(Message m) {
    m.mid = 0;
    const bool live = m.live, keep = m.keep;
    queue_.push_back(std::move(m));
    if (keep) return;
    (live ? live_ : other_) += 1;
    // The bound is on what waits here; the few handed over (the window) are the client's.
    if (live ? live_ - liveSent_ > liveLimit_ : other_ > otherLimit_) dropOldest(live);
}

// The oldest message of its kind that has not been handed over goes. One handed over
// stays: the client has it, and its acknowledgement will find it.
void Outbox::dropOldest(bool live) {
    for (std::size_t i = sent_; i < queue_.size(); ++i) {
        if (queue_[i].live != live || queue_[i].keep) continue;
        queue_.erase(queue_.begin() + std::ptrdiff_t(i));
        (live ? live_ : other_) -= 1;
        (live ? droppedLive_ : droppedOther_) += 1;
        return;
    }
}

void Outbox::pump(const std::function<int(const Message&)>& send) {
    while (sent_ < queue_.size() && sent_ < std::size_t(window_)) {
        const int mid = send(queue_[sent_]);
        if (mid < 0) {
            const Message& m = queue_[sent_];
            if (!m.keep) (m.live ? live_ : other_) -= 1;
            queue_.erase(queue_.begin() + std::ptrdiff_t(sent_));
            ++droppedRefused_;
            continue;
        }
        if (mid == 0) return;
        queue_[sent_].mid = mid;
        liveSent_ += queue_[sent_].live;
        ++sent_;
    }
}

void Outbox::acknowledged(int mid) {
    for (std::size_t i = 0; i < sent_; ++i) {
        if (queue_[i].mid != mid) continue;
        if (!queue_[i].keep) (queue_[i].live ? live_ : other_) -= 1;
        liveSent_ -= queue_[i].live;
        queue_.erase(queue_.begin() + std::ptrdiff_t(i));
        --sent_;
        return;
    }
}

void Outbox::connectionLost() {
    for (std::size_t i = 0; i < sent_; ++i)
        queue_[i].mid = 0;
    sent_ = 0;
    liveSent_ = 0;
    while (live_ > liveLimit_)
        dropOldest(true);
}

} // namespace gateway
