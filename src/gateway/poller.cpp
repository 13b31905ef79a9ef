// The gateway's sensor side: the link kept open, live cycles, commands between them.
#include "poller.h"

#include "gateway/payloads.h"
#include "runtime/runtime.h"
#include "sensor/params.h"
#include "sensor/reading.h"
#include "text/isotime.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>

#include <cstring>

Q_DECLARE_LOGGING_CATEGORY(lcGateway)

namespace gateway {

namespace {

constexpr int retryMs = 1000; // a port not there, a sensor silent: looked at again

JsonObject begin(const Command& c, const std::string& port) {
    return ReplyHead(c.hasId, c.id, c.name, port);
}

const char* targetName(int target) {
    return target == sensor::EEPROM ? "eeprom" : "ram";
}

} // namespace

const char* StateName(SensorState s) {
    switch (s) {
    case SensorState::Online:
        return "online";
    case SensorState::NoReply:
        return "no-reply";
    case SensorState::PortLost:
        return "port-lost";
    case SensorState::PortBusy:
        return "port-busy";
    case SensorState::Yielded:
        return "yielded";
    default:
        return "starting";
    }
}

Poller::Poller(const Options& o, int port, std::string portName, QObject* parent)
    : QObject(parent), o_(o), link_(port), portName_(std::move(portName)) {
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { step(); });
    yieldTimer_ = new QTimer(this);
    yieldTimer_->setSingleShot(true);
    connect(yieldTimer_, &QTimer::timeout, this, [this] { takeBack(); });
    link_.OnGoodRecord([this](const sensor::LiveRecord& r) {
        if (onRecord) onRecord(r, r.at - liveEpoch_, ram_[sensor::param::hysteresis]);
    });
}

Poller::~Poller() {
    if (open_) link_.Close();
}

void Poller::start() {
    schedule(0);
}

void Poller::schedule(int ms) {
    if (!stopping_) timer_->start(ms);
}

void Poller::setState(SensorState s) {
    // A sensor that stopped answering may have been reset or replaced meanwhile: its
    // blocks are read again before anything is said of them.
    if (s != SensorState::Online) ramKnown_ = eepromKnown_ = false;
    if (s == state_) return;
    state_ = s;
    if (onState) onState(s);
}

void Poller::enqueue(Command c) {
    // Refusals that need no sensor are answered at once, with nothing on the line.
    if (c.kind == CommandKind::Write) {
        const bool allowed = c.target == sensor::EEPROM ? o_.allowWrite == WriteAllow::Eeprom
                                                        : o_.allowWrite != WriteAllow::None;
        if (!allowed) {
            const char* allow = o_.allowWrite == WriteAllow::None ? "none" : "ram";
            onReply(c, failure(c, ExitUsage,
                               std::string("writes to ") + targetName(c.target) +
                                   " are not allowed (the gateway runs with --allow-write " +
                                   allow + ")"));
            return;
        }
    }
    if (stopping_) {
        onReply(c, failure(c, ExitConfig, "the gateway is stopping"));
        return;
    }
    // Resume is answered at once: nothing waits for the line while the port is away.
    if (c.kind == CommandKind::Resume) {
        const bool was = state_ == SensorState::Yielded;
        if (was) takeBack();
        onReply(c, begin(c, portName_)
                       .boolean("ok", true)
                       .boolean("was_yielded", was)
                       .done());
        return;
    }
    if (state_ == SensorState::Yielded) {
        onReply(c, failure(c, ExitConfig,
                           "the port " + portName_ + " is yielded until " + yieldedUntil_ +
                               " (cmd/resume takes it back now); nothing was sent"));
        return;
    }
    if (queue_.size() >= MaxQueued) {
        onReply(c, failure(c, ExitConfig,
                           "busy: " + std::to_string(queue_.size()) +
                               " commands are waiting for the sensor; nothing was sent (ask "
                               "again later)"));
        return;
    }
    queue_.push_back(std::move(c));
    if (!running_) schedule(0);
}

void Poller::stop(std::function<void()> done) {
    stopping_ = true;
    stopped_ = std::move(done);
    timer_->stop();
    // A wait in progress ends at its next pass; a write's read-back is waited for, so that
    // its reply and audit say what the sensor holds.
    if (!writing_) link_.RequestStop();
    if (!running_) QTimer::singleShot(0, this, [this] { step(); });
}

void Poller::portEvent(int port, int event) {
    if (port != link_.Port()) return;
    if (event == runtime::PORT_LOST && open_ && !running_)
        lost(sensor::Result::Fail(sensor::Result::PortLost, 0));
    else if (event == runtime::PORT_BACK && !open_ && !running_ &&
             state_ != SensorState::Yielded)
        schedule(0);
}

void Poller::step() {
    if (running_) return;
    running_ = true;
    int next = 0;
    if (stopping_) {
        link_.StopLive();
        if (open_) {
            link_.DropHeld();
            link_.Close();
        }
        open_ = false;
        queue_.clear();
        running_ = false;
        if (auto done = std::move(stopped_)) done();
        return;
    }
    if (state_ == SensorState::Yielded) {
        running_ = false;
        return; // the port is away; takeBack() starts again
    }
    if (!open_ && !queue_.empty() &&
        (state_ == SensorState::PortLost || state_ == SensorState::PortBusy)) {
        const Command c = queue_.front();
        queue_.pop_front();
        onReply(c,
                failure(c, ExitConfig,
                        "the sensor's port " + portName_ + " is not open: " + StateName(state_)));
    } else if (!open_) {
        connectSensor();
        next = open_ && state_ == SensorState::Online ? 0 : retryMs;
    } else if (!queue_.empty() && !(liveTurn_ && state_ == SensorState::Online)) {
        const Command c = queue_.front();
        queue_.pop_front();
        runCommand(c);
        liveTurn_ = true;
    } else if (state_ == SensorState::Online) {
        liveTurn_ = false;
        liveCycle();
    } else {
        probe();
        next = state_ == SensorState::Online ? 0 : retryMs;
    }
    running_ = false;
    if (stopping_)
        QTimer::singleShot(0, this, [this] { step(); });
    else
        schedule(queue_.empty() ? next : 0);
}

void Poller::connectSensor() {
    const sensor::Result r = link_.Open();
    if (!r) {
        // A device that is there but may not be opened stays so: retrying cannot mend it.
        const QFileInfo device(runtime::PortDeviceName(link_.Port()));
        if (device.exists() && (!device.isReadable() || !device.isWritable())) {
            if (onFatal) onFatal(ExitConfig, r.text());
            return;
        }
        // Another program holds it: not lost, and waited for all the same.
        const SensorState s = runtime::PortOpenFailureKind(link_.Port()) ==
                                      runtime::OpenFailureKind::Busy
                                  ? SensorState::PortBusy
                                  : SensorState::PortLost;
        if (state_ != s)
            qCWarning(lcGateway, "varno-gateway: %s: %s (waiting for it)", portName_.c_str(),
                      r.text().c_str());
        setState(s);
        return;
    }
    open_ = true;
    probe();
}

// The line check, then the RAM block the live requests carry: the sensor answers.
void Poller::probe() {
    link_.ClearStop();
    sensor::Result r = link_.LineCheck();
    if (r) r = link_.ReadBlock(sensor::RAM);
    if (!r) {
        if (r.portFault())
            lost(r);
        else if (r.code() != sensor::Result::Stopped) {
            if (state_ != SensorState::NoReply)
                qCWarning(lcGateway, "varno-gateway: %s: %s", portName_.c_str(), r.text().c_str());
            setState(SensorState::NoReply);
        }
        return;
    }
    std::memcpy(ram_, link_.Block(), sensor::ParamLen);
    ramKnown_ = true;
    if (onParams) onParams(sensor::RAM, ram_);
    failures_ = 0;
    setState(SensorState::Online);
}

void Poller::lost(const sensor::Result& r) {
    link_.StopLive();
    link_.DropHeld();
    link_.Close();
    open_ = false;
    // The device that comes back may be another sensor: nothing of this one is known.
    ramKnown_ = eepromKnown_ = false;
    if (state_ != SensorState::PortLost)
        qCWarning(lcGateway, "varno-gateway: %s: %s", portName_.c_str(), r.text().c_str());
    setState(SensorState::PortLost);
}

void Poller::liveCycle() {
    if (!link_.Live()) {
        link_.SetBlock(ram_);
        link_.StartLive();
    }
    if (liveEpoch_ < 0) liveEpoch_ = runtime::Timer();
    const sensor::Result r = link_.LiveCycle();
    if (r) {
        failures_ = 0;
        link_.CyclePause();
        return;
    }
    switch (r.code()) {
    case sensor::Result::Stopped:
        return;
    case sensor::Result::PortLost:
    case sensor::Result::WriteFailed:
    case sensor::Result::OpenFailed:
        lost(r);
        return;
    case sensor::Result::NoReply:
        link_.StopLive();
        link_.DropHeld();
        qCWarning(lcGateway, "varno-gateway: %s: %s", portName_.c_str(), r.text().c_str());
        setState(SensorState::NoReply);
        return;
    default:
        // A garbled reply or strays behind a record: that record is not taken; the next
        // cycle goes on.
        if (++failures_ == 1 || failures_ % 100 == 0)
            qCWarning(lcGateway, "varno-gateway: %s: %s", portName_.c_str(), r.text().c_str());
        link_.CyclePause();
    }
}

void Poller::runCommand(const Command& c) {
    // Between two cycles: the record held is settled (and published when good) first.
    if (link_.Live()) {
        link_.EndLive();
        link_.StopLive();
    }
    link_.ClearStop();
    std::string json;
    switch (c.kind) {
    case CommandKind::Read:
        json = cmdRead(c);
        break;
    case CommandKind::Write:
        json = cmdWrite(c);
        break;
    case CommandKind::JumpBuf:
        json = cmdJumpBuf(c);
        break;
    case CommandKind::Check:
        json = cmdCheck(c);
        break;
    case CommandKind::Yield:
        json = cmdYield(c);
        break;
    case CommandKind::Resume: // answered when it came
        break;
    }
    if (open_) link_.SetBlock(ram_); // live requests go on with the RAM block
    onReply(c, json);
}

std::string Poller::failure(const Command& c, int exit, const std::string& why) {
    return begin(c, portName_).boolean("ok", false).num("exit", exit).str("error", why).done();
}

std::string Poller::sensorFailure(const Command& c, const sensor::Result& r) {
    if (r.portFault()) {
        lost(r);
        return failure(c, ExitConfig, r.text());
    }
    if (r.code() == sensor::Result::NoReply) setState(SensorState::NoReply);
    return failure(c, ExitNoAnswer, r.text());
}

std::string Poller::cmdRead(const Command& c) {
    const sensor::Result r = link_.ReadBlock(c.target);
    if (!r) return sensorFailure(c, r);
    unsigned char* dst = c.target == sensor::EEPROM ? eeprom_ : ram_;
    std::memcpy(dst, link_.Block(), sensor::ParamLen);
    (c.target == sensor::EEPROM ? eepromKnown_ : ramKnown_) = true;
    setState(SensorState::Online);
    if (onParams) onParams(c.target, dst);
    return begin(c, portName_)
        .boolean("ok", true)
        .str("target", targetName(c.target))
        .array("values", dst, sensor::ParamLen)
        .raw("parameters", NamedParams(dst))
        .done();
}

std::string Poller::cmdJumpBuf(const Command& c) {
    unsigned char values[sensor::JumpBufLen];
    const sensor::Result r = link_.ReadJumpBuffer(values);
    if (!r) return sensorFailure(c, r);
    setState(SensorState::Online);
    // The working threshold of the last live record; none (null) before the first.
    JsonObject j = begin(c, portName_);
    j.boolean("ok", true).array("values", values, sensor::JumpBufLen);
    if (link_.GoodRecords() > 0)
        j.num("trsh", sensor::Decode(link_.LastGood().bytes).trsh);
    else
        j.null("trsh");
    return j.done();
}

std::string Poller::cmdCheck(const Command& c) {
    link_.Flush();
    const sensor::Result r = link_.LineCheck();
    if (!r) return sensorFailure(c, r);
    setState(SensorState::Online);
    return begin(c, portName_).boolean("ok", true).str("line", "LINE OK").done();
}

// Gives the port away for c.seconds: the link closed, no live cycles and nothing buffered
// until the time is up or cmd/resume comes.
std::string Poller::cmdYield(const Command& c) {
    link_.StopLive();
    link_.DropHeld();
    if (open_) link_.Close();
    open_ = false;
    queue_.clear(); // nothing was waiting behind a yield: commands come one at a time
    yieldedUntil_ = text::IsoTime(std::chrono::system_clock::now() + std::chrono::seconds(c.seconds));
    yieldTimer_->start(c.seconds * 1000);
    qCInfo(lcGateway, "varno-gateway: %s yielded for %d s, until %s", portName_.c_str(),
           c.seconds, yieldedUntil_.c_str());
    setState(SensorState::Yielded);
    return begin(c, portName_)
        .boolean("ok", true)
        .num("seconds", c.seconds)
        .str("until", yieldedUntil_)
        .done();
}

void Poller::takeBack() {
    if (state_ != SensorState::Yielded) return;
    yieldTimer_->stop();
    yieldedUntil_.clear();
    qCInfo(lcGateway, "varno-gateway: %s: taking the port back", portName_.c_str());
    setState(SensorState::Starting);
    if (!running_) schedule(0);
}

} // namespace gateway
