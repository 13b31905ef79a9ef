// Commands as they arrive on <prefix>/<sensor>/cmd/...: their JSON payloads checked before
// anything reaches the line, and what a refusal says.
#pragma once

#include "sensor/protocol.h"

#include <QByteArray>

#include <string>

namespace gateway {

constexpr int MaxPayload = 4096; // bytes a command may have
constexpr int MaxIdLength = 64;  // characters (not bytes) of "id" and "by"
// MQTT 5 properties of a command, bytes: a response topic and correlation data beyond
// these are refused (the 4 KiB of a payload do not cover them).
constexpr int MaxResponseTopic = 1024;
constexpr int MaxCorrelation = 1024;

enum class CommandKind { Read, Write, JumpBuf, Check, Yield, Resume };
constexpr int MaxYieldSeconds = 3600; // the longest a gateway gives its port away

struct Command {
    CommandKind kind = CommandKind::Check;
    std::string name; // "read", "write", "jumpbuf", "check", "yield", "resume" (or the
                      // topic's last level)
    std::string id, by;
    bool hasId = false, hasBy = false;
    // Nothing to answer: an empty retained message, which clears a retained command.
    bool silent = false;
    int target = 1; // sensor::RAM or sensor::EEPROM ("from" or "to")
    unsigned char values[sensor::ParamLen] = {};
    bool verify = false;
    int seconds = 0; // yield: how long the port is given away
    // write: the recipe and the changeover it belongs to (varno-line), kept in the audit.
    std::string recipe, changeover;
    // MQTT 5: where the requester wants its reply, and the data it is to carry.
    std::string responseTopic;
    QByteArray correlation;
};

// Reads the command named by the topic's last level (`name`) from `payload`; `c` may hold
// the MQTT 5 response topic and correlation data already, and they are checked too. False,
// with `error` saying why, when it is refused: a retained message, a payload over
// MaxPayload, invalid JSON, not an object, an unknown key, a wrong type or value, a
// response topic that cannot be published on (a wildcard, not UTF-8, too long; the reply
// then goes to `reply` alone) or correlation data over MaxCorrelation. `c` then holds as
// much as was read (name, id) for the reply; c.silent when nothing is to be answered. Write
// values are whole numbers from 0 to 255, exactly, as a parameter file holds them.
bool ParseCommand(const std::string& name, const QByteArray& payload, bool retained, Command& c,
                  std::string& error);

} // namespace gateway
