// The JSON the gateway publishes: status, params, live, reply and audit payloads, with
// their keys in a fixed order. Plain C++.
#pragma once

#include "text/isotime.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace gateway {

// An object built key by key, in order.
class JsonObject {
  public:
    JsonObject& str(const char* key, const std::string& v);
    JsonObject& num(const char* key, long long v);
    JsonObject& real(const char* key, double v, int decimals);
    JsonObject& boolean(const char* key, bool v);
    JsonObject& null(const char* key);
    JsonObject& array(const char* key, const unsigned char* v, int n);
    JsonObject& raw(const char* key, const std::string& json); // a value already in JSON
    std::string done() const { return body_ + "}"; }

  private:
    JsonObject& key(const char* k);
    std::string body_ = "{";
};

using text::IsoNow; // times: text/isotime.h

// The head of every reply, success or refusal alike: {"id" (null without one), "command",
// "port", ... (the object is left open for the rest).
JsonObject ReplyHead(bool hasId, const std::string& id, const std::string& command,
                     const std::string& port);

// What the outbox dropped: live records beyond its bound, replies beyond theirs, and
// messages the MQTT client refused for good (a response topic it cannot publish on).
struct Dropped {
    long live = 0, replies = 0, refused = 0;
    bool operator!=(const Dropped& o) const {
        return live != o.live || replies != o.replies || refused != o.refused;
    }
};
// {"state","port","since","dropped","dropped_replies","refused"}, and "until" (when the
// port is taken back) for a yielded one.
std::string StatusPayload(const std::string& state, const std::string& port,
                          const std::string& since, const Dropped& dropped,
                          const std::string& until = {});
// The last will: {"state":"offline","port","connected","dropped",...}. A will is composed
// when the connection is made and cannot know when it will be sent: it names the time of
// its connection, not a "since".
std::string WillPayload(const std::string& port, const std::string& connected,
                        const Dropped& dropped);
// {"source","values","named","time"}.
std::string ParamsPayload(int target, const unsigned char* block, const std::string& time);
// {"threshold": n, ...}: the block's bytes by name.
std::string NamedParams(const unsigned char* block);
// What a page or a tool needs to read this sensor's messages without a copy of the
// protocol: the gateway's version, the sensor id and port, the writes allowed, every
// parameter (name, byte, range, label, meaning, unit, choices, the power's percentage) and
// the live message's fields with their meanings. Retained on <prefix>/<sensor>/meta.
std::string MetaPayload(const std::string& version, const std::string& sensor,
                        const std::string& port, bool ramAllowed, bool eepromAllowed);
// One live record: the recording's columns as keys (a percentage without an IN0 period is
// null), then seq. `seconds` counts from the gateway's first record.
std::string LivePayload(const char* isoTime, double seconds, const unsigned char* record,
                        unsigned char hysteresis, long long seq);

} // namespace gateway
