// Reading the commands' JSON: every refusal says why, nothing unchecked reaches the line.
#include "commands.h"

#include "sensor/params.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
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
    {"write", CommandKind::Write, {"to", "values", "verify", "recipe", "changeover"}},
    {"jumpbuf", CommandKind::JumpBuf, {}},
    {"check", CommandKind::Check, {}},
    {"yield", CommandKind::Yield, {"seconds"}},
    {"resume", CommandKind::Resume, {}},
};

bool shortString(const QJsonObject& obj, const char* key, std::string& out, std::string& error) {
    if (!obj.contains(key)) return true;
    const QJsonValue v = obj.value(key);
    if (!v.isString()) {
        error = std::string("\"") + key + "\" must be a string";
        return false;
    }
    const QString s = v.toString();
    if (s.toUcs4().size() > MaxIdLength) {
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

// 15 whole numbers from 0 to 255, exactly: 99.9999999 is not 100, 1e2 is 100.
bool values(const QJsonObject& obj, unsigned char* out, std::string& error) {
    const std::string what = "15 whole numbers from 0 to 255";
    if (!obj.contains("values")) {
        error = "\"values\" is missing (" + what + ")";
        return false;
    }
    const QJsonValue v = obj.value("values");
    if (!v.isArray()) {
        error = "\"values\" must be an array of " + what;
        return false;
    }
    const QJsonArray a = v.toArray();
    for (int i = 0; i < a.size() && i < sensor::ParamLen; ++i) {
        if (!a[i].isDouble()) {
            error = "values[" + std::to_string(i) + "] is not a number";
            return false;
        }
        const double d = a[i].toDouble();
        if (!sensor::InRange(sensor::Params()[i], d)) {
            error = "values[" + std::to_string(i) + "] (" +
                    a[i].toVariant().toString().toStdString() +
                    ") is not a whole number from 0 to 255";
            return false;
        }
        out[i] = static_cast<unsigned char>(d);
    }
    if (a.size() != sensor::ParamLen) {
        error = "\"values\" holds " + std::to_string(a.size()) + " numbers, not " +
                std::to_string(sensor::ParamLen);
        return false;
    }
    return true;
}

// A topic the reply can be published on: UTF-8, no wildcard, no NUL, not too long.
bool responseTopic(const std::string& t, std::string& error) {
    if (t.empty()) return true;
    if (t.size() > std::size_t(MaxResponseTopic)) {
        error = "the response topic has " + std::to_string(t.size()) + " bytes, more than " +
                std::to_string(MaxResponseTopic);
        return false;
    }
    if (t.find_first_of("+#") != std::string::npos || t.find('\0') != std::string::npos) {
        error = "the response topic holds a wildcard (+ or #): a reply cannot be published there";
        return false;
    }
    const QString u = QString::fromUtf8(t.data(), qsizetype(t.size()));
    if (u.toUtf8() != QByteArray(t.data(), qsizetype(t.size()))) {
        error = "the response topic is not UTF-8";
        return false;
    }
    return true;
}

} // namespace

bool ParseCommand(const std::string& name, const QByteArray& payload, bool retained, Command& c,
                  std::string& error) {
    c.name = name;
    error.clear();
    if (retained && payload.isEmpty()) {
        c.silent = true; // a retained command being cleared: nothing was asked
        error = "an empty retained message (a retained command cleared)";
        return false;
    }
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
    // Where the reply is to go, and what it is to carry: refused ones are answered on
    // reply alone.
    if (!responseTopic(c.responseTopic, error) || c.correlation.size() > MaxCorrelation) {
        if (error.empty())
            error = "the correlation data has " + std::to_string(c.correlation.size()) +
                    " bytes, more than " + std::to_string(MaxCorrelation);
        c.responseTopic.clear();
        c.correlation.clear();
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
        error = "unknown command \"" + name + "\" (read, write, jumpbuf, check, yield, resume)";
        return false;
    }
    c.kind = kind->kind;
    if (!shortString(obj, "by", c.by, error)) return false;
    c.hasBy = obj.contains("by");
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
        if (!shortString(obj, "recipe", c.recipe, error) ||
            !shortString(obj, "changeover", c.changeover, error))
            return false;
        if (obj.contains("verify") && !obj.value("verify").isBool()) {
            error = "\"verify\" must be true or false";
            return false;
        }
        c.verify = obj.value("verify").toBool(false);
        return values(obj, c.values, error);
    case CommandKind::Yield: {
        const QJsonValue v = obj.value("seconds");
        const double d = v.toDouble(-1);
        if (!v.isDouble() || !(d == std::floor(d) && d >= 1 && d <= MaxYieldSeconds)) {
            error = "\"seconds\" must be a whole number of seconds from 1 to " +
                    std::to_string(MaxYieldSeconds);
            return false;
        }
        c.seconds = int(d);
        return true;
    }
    default:
        return true;
    }
}

} // namespace gateway
