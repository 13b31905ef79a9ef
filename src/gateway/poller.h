// The gateway's sensor side: one sensor::Link, kept open and answering. It runs live
// cycles, and the commands queued for it between two cycles; it tells the gateway what
// happened through the hooks below and never calls the MQTT side itself. Its state is
// online (the sensor answers), no-reply (the port is open, the sensor silent), port-lost
// (the device is gone or not there yet: waited for), port-busy (another program holds
// it: waited for) or yielded (the port given away on request, for a time: the panel or
// varno-cli may use the sensor meanwhile). While commands wait, they and live cycles take turns, so live records
// keep coming; at most MaxQueued commands wait, one more is answered "busy" at once.
#pragma once

#include "gateway/commands.h"
#include "gateway/options.h"
#include "sensor/link.h"

#include <QObject>

#include <deque>
#include <functional>
#include <string>

class QTimer;

namespace gateway {

enum class SensorState { Starting, Online, NoReply, PortLost, PortBusy, Yielded };
constexpr std::size_t MaxQueued = 32;
const char* StateName(SensorState s);

class Poller : public QObject {
  public:
    Poller(const Options& o, int port, std::string portName, QObject* parent = nullptr);
    ~Poller() override;

    // Starts: open, line check, RAM read, then live cycles.
    void start();
    // Queues a command checked by ParseCommand; it runs between two live cycles.
    void enqueue(Command c);
    // Ends the waits in progress and runs nothing more; `done` is called once the sensor
    // side is idle (the port closed).
    void stop(std::function<void()> done);
    SensorState state() const { return state_; }
    // A write is on the line (its frame, or its read-back): a stop waits for it.
    bool writing() const { return writing_; }
    // While yielded: when the port is taken back (ISO 8601 UTC).
    const std::string& yieldedUntil() const { return yieldedUntil_; }
    std::size_t queued() const { return queue_.size(); }

    std::function<void(SensorState)> onState;
    std::function<void(int target, const unsigned char* block)> onParams;
    std::function<void(const sensor::LiveRecord&, double seconds, unsigned char hysteresis)>
        onRecord;
    // The reply to a command: its JSON payload (without id; the gateway adds it).
    std::function<void(const Command&, const std::string& json)> onReply;
    std::function<void(const std::string& json)> onAudit;
    // A port error that retrying cannot mend (permission): the program ends with `code`.
    std::function<void(int code, const std::string& why)> onFatal;

    // The port watch's notices (the seam's port-event callback).
    void portEvent(int port, int event);

  private:
    void schedule(int ms);
    void step();
    void connectSensor();
    void probe();
    void liveCycle();
    void runCommand(const Command& c);
    std::string cmdRead(const Command& c);
    std::string cmdWrite(const Command& c);
    std::string cmdJumpBuf(const Command& c);
    std::string cmdCheck(const Command& c);
    std::string cmdYield(const Command& c);
    // Takes the port back after a yield: opened again at the next step.
    void takeBack();
    std::string failure(const Command& c, int exit, const std::string& why);
    void setState(SensorState s);
    void lost(const sensor::Result& r);
    // A failed exchange: the state it means, the reply that tells it.
    std::string sensorFailure(const Command& c, const sensor::Result& r);

    const Options& o_;
    sensor::Link link_;
    std::string portName_;
    SensorState state_ = SensorState::Starting;
    bool open_ = false;
    bool running_ = false; // inside step(): a nested pump must not start another
    bool stopping_ = false;
    bool live_ = false;
    bool writing_ = false;
    bool liveTurn_ = false; // a command ran: one live cycle before the next
    std::string yieldedUntil_;
    QTimer* yieldTimer_ = nullptr;
    std::function<void()> stopped_;
    std::deque<Command> queue_;
    QTimer* timer_ = nullptr;
    unsigned char ram_[sensor::ParamLen] = {}; // the RAM block as last read or written
    unsigned char eeprom_[sensor::ParamLen] = {};
    bool ramKnown_ = false; // ram_ was read from this sensor (or written and read back)
    bool eepromKnown_ = false;
    double liveEpoch_ = -1.0; // the first record's request: t_s counts from there
    long failures_ = 0;       // live cycles in a row without a good reply
};

} // namespace gateway
