// Reading the commands' JSON: every refusal says why, nothing unchecked reaches the line.
#include "commands.h"

#include "sensor/paramfile.h"
#include "sensor/protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace gateway {

namespace {

struct Kind {
    const char* name;
    CommandKind kind;
    std::set<QString> keys; // besides id and by
};

const Kind kinds[] = {
    {"read", CommandKind::Read, {"from"}},
    {"write", CommandKind::Write, {"to", "values", "verify"}},
    {"jumpbuf", CommandKind::JumpBuf, {}},
    {"check", CommandKind::Check, {}},
};

bool shortString(const QJsonObject& obj, const char* key, std::string& out, std::string& error) {
    if (!obj.contains(key)) return true;
    const QJsonValue v = obj.value(key);
    if (!v.isString()) {
        error = std::string("\"") + key + "\" must be a string";
        return false;
    }
    const QString s = v.toString();
    if (s.size() > MaxIdLength) {
        error = std::string("\"") + key + "\" must be at most " + std::to_string(MaxIdLength) +
                " characters";
        return false;
    }
    out = s.toStdString();
    return true;
}

bool target(const QJsonObject& obj, const char* key, bool required, int& out, std::string& error) {
    if (!obj.contains(key)) {
        if (!required) return true;
        error = std::string("\"") + key + "\" is missing (\"ram\" or \"eeprom\")";
        return false;
    }
    const QJsonValue v = obj.value(key);
    if (v == QJsonValue("ram"))
        out = sensor::RAM;
    else if (v == QJsonValue("eeprom"))
        out = sensor::EEPROM;
    else {
        error = std::string("\"") + key + "\" must be \"ram\" or \"eeprom\"";
        return false;
    }
    return true;
}

// The values as a parameter file would hold them, one a line, then the parameter file's
// own check: a value that is not a whole number from 0 to 255 is refused as it would be
// there.
bool values(const QJsonObject& obj, unsigned char* out, std::string& error) {
    if (!obj.contains("values")) {
        error = "\"values\" is missing (15 whole numbers from 0 to 255)";
        return false;
    }
    const QJsonValue v = obj.value("values");
    if (!v.isArray()) {
        error = "\"values\" must be an array of 15 whole numbers from 0 to 255";
        return false;
    }
    const QJsonArray a = v.toArray();
    std::string text;
    for (int i = 0; i < a.size(); ++i) {
        if (!a[i].isDouble()) {
            error = "values[" + std::to_string(i) + "] is not a number";
            return false;
        }
        const double d = a[i].toDouble();
        char line[64];
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15)
            std::snprintf(line, sizeof line, "%.0f\n", d);
        else
            std::snprintf(line, sizeof line, "%g\n", d);
        text += line;
    }
    std::string why;
    if (!sensor::ReadParamText(text, out, why)) {
        // One value a line: the parameter file's line is the value's place.
        if (why.rfind("line ", 0) == 0) {
            const int i = std::atoi(why.c_str() + 5) - 1;
            const std::string shown =
                i >= 0 && i < a.size() ? a[i].toVariant().toString().toStdString() : "?";
            why = "values[" + std::to_string(i) + "] (" + shown +
                  ") is not a whole number from 0 to 255";
        } else if (why.rfind("it holds", 0) == 0) {
            why = "\"values\" holds " + std::to_string(a.size()) + " numbers, not 15";
        }
        error = why;
        return false;
    }
    return true;
}

} // namespace

bool ParseCommand(const std::string& name, const QByteArray& payload, bool retained, Command& c,
                  std::string& error) {
    c.name = name;
    error.clear();
    if (payload.size() > MaxPayload) {
        error = "the payload has " + std::to_string(payload.size()) + " bytes, more than " +
                std::to_string(MaxPayload);
        return false;
    }
    QJsonParseError perr{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &perr);
    if (perr.error != QJsonParseError::NoError) {
        error = payload.trimmed().isEmpty() ? "the payload is empty: a command is a JSON object"
                                            : "invalid JSON: " + perr.errorString().toStdString() +
                                                  " at offset " + std::to_string(perr.offset);
        return false;
    }
    if (!doc.isObject()) {
        error = "the payload must be a JSON object";
        return false;
    }
    const QJsonObject obj = doc.object();
    // id first, so that even a refusal can name the request it answers.
    std::string idError;
    if (shortString(obj, "id", c.id, idError)) c.hasId = obj.contains("id");
    if (retained) {
        error = "a retained command is not run (only commands sent while the gateway listens)";
        return false;
    }
    if (!idError.empty()) {
        error = idError;
        return false;
    }
    const Kind* kind = nullptr;
    for (const Kind& k : kinds)
        if (name == k.name) kind = &k;
    if (!kind) {
        error = "unknown command \"" + name + "\" (read, write, jumpbuf, check)";
        return false;
    }
    c.kind = kind->kind;
    if (!shortString(obj, "by", c.by, error)) return false;
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        if (it.key() == "id" || it.key() == "by" || kind->keys.count(it.key())) continue;
        error = "unknown key \"" + it.key().toStdString() + "\" for " + name;
        return false;
    }
    switch (c.kind) {
    case CommandKind::Read:
        return target(obj, "from", false, c.target, error);
    case CommandKind::Write:
        if (!target(obj, "to", true, c.target, error)) return false;
        if (obj.contains("verify") && !obj.value("verify").isBool()) {
            error = "\"verify\" must be true or false";
            return false;
        }
        c.verify = obj.value("verify").toBool(false);
        return values(obj, c.values, error);
    default:
        return true;
    }
}

} // namespace gateway
