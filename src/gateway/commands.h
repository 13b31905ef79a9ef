// Commands as they arrive on <prefix>/<sensor>/cmd/...: their JSON payloads checked before
// anything reaches the line, and what a refusal says.
#pragma once

#include <QByteArray>

#include <string>

namespace gateway {

constexpr int MaxPayload = 4096; // bytes a command may have
constexpr int MaxIdLength = 64;  // characters of "id" and "by"

enum class CommandKind { Read, Write, JumpBuf, Check };

struct Command {
    CommandKind kind = CommandKind::Check;
    std::string name; // "read", "write", "jumpbuf", "check" (or the topic's last level)
    std::string id, by;
    bool hasId = false;
    int target = 1; // sensor::RAM or sensor::EEPROM ("from" or "to")
    unsigned char values[15] = {};
    bool verify = false;
    // MQTT 5: where the requester wants its reply, and the data it is to carry.
    std::string responseTopic;
    QByteArray correlation;
};

// Reads the command named by the topic's last level (`name`) from `payload`. False, with
// `error` saying why, when it is refused: a retained message, a payload over MaxPayload,
// invalid JSON, not an object, an unknown key, a wrong type or value. `c` then holds as
// much as was read (name, id) for the reply. Write values are checked exactly as a
// parameter file is.
bool ParseCommand(const std::string& name, const QByteArray& payload, bool retained, Command& c,
                  std::string& error);

} // namespace gateway
