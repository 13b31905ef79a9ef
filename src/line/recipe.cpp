// Recipe files, checked against the parameter table before anything is sent.
#include "line/recipe.h"

#include "gateway/options.h"
#include "runtime/runtime.h"
#include "sensor/params.h"
#include "text/json.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace line {

bool ParseRecipe(const std::string& json, Recipe& r, std::string& error) {
    r = Recipe{};
    QJsonParseError perr{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &perr);
    if (perr.error != QJsonParseError::NoError || !doc.isObject()) {
        error = perr.error != QJsonParseError::NoError
                    ? "not JSON: " + perr.errorString().toStdString() + " at offset " +
                          std::to_string(perr.offset)
                    : "not a recipe (a JSON object with \"recipe\" and \"sensors\")";
        return false;
    }
    const QJsonObject top = doc.object();
    for (auto it = top.begin(); it != top.end(); ++it)
        if (it.key() != "recipe" && it.key() != "sensors") {
            error = "unknown key \"" + it.key().toStdString() + "\" (recipe, sensors)";
            return false;
        }
    if (!top.value("recipe").isString() || top.value("recipe").toString().isEmpty() ||
        top.value("recipe").toString().toUcs4().size() > 64) {
        error = "\"recipe\" must be a name of 1 to 64 characters";
        return false;
    }
    r.name = top.value("recipe").toString().toStdString();
    if (!top.value("sensors").isObject() || top.value("sensors").toObject().isEmpty()) {
        error = "\"sensors\" must be an object with at least one sensor";
        return false;
    }
    const QJsonObject sensors = top.value("sensors").toObject();
    for (auto s = sensors.begin(); s != sensors.end(); ++s) {
        const std::string id = s.key().toStdString();
        if (!gateway::ValidSensorId(id)) {
            error = "sensor \"" + id + "\": not a sensor id (letters, digits, - and _)";
            return false;
        }
        if (!s.value().isObject()) {
            error = "sensor " + id + ": its parameters must be an object by name";
            return false;
        }
        const QJsonObject params = s.value().toObject();
        for (auto p = params.begin(); p != params.end(); ++p)
            if (!sensor::FindParam(p.key().toStdString())) {
                error = "sensor " + id + ": unknown parameter \"" + p.key().toStdString() + "\"";
                return false;
            }
        Block b{};
        for (int i = 0; i < sensor::ParamCount; ++i) {
            const sensor::Param& p = sensor::Params()[i];
            if (!params.contains(p.name)) {
                error = "sensor " + id + ": parameter " + p.name + " is missing";
                return false;
            }
            const QJsonValue v = params.value(p.name);
            if (!v.isDouble() || !sensor::InRange(p, v.toDouble())) {
                error = "sensor " + id + ": parameter " + p.name + " is " +
                        (v.isDouble() ? v.toVariant().toString().toStdString()
                                      : std::string("not a number")) +
                        ", not a whole number from " + std::to_string(p.min) + " to " +
                        std::to_string(p.max);
                return false;
            }
            b[std::size_t(i)] = static_cast<unsigned char>(v.toDouble());
        }
        r.sensors[id] = b;
    }
    return true;
}

bool ReadRecipe(const std::string& path, Recipe& r, std::string& error) {
    const char* what = "";
    if (runtime::ExaminePath(path.c_str(), &what) != runtime::PathKind::RegularFile) {
        error = path + ": it is " + std::string(what) + ", not a regular file";
        return false;
    }
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
        error = path + ": " + f.errorString().toStdString();
        return false;
    }
    const QByteArray text = f.read(1 << 20);
    if (!ParseRecipe(text.toStdString(), r, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::string NamedBlock(const Block& b) {
    std::string out = "{";
    for (int i = 0; i < sensor::ParamCount; ++i)
        out += std::string(i ? ", " : "") + text::JsonString(sensor::Params()[i].name) + ": " +
               std::to_string(b[std::size_t(i)]);
    return out + "}";
}

std::string RecipeJson(const Recipe& r) {
    std::string out = "{\"recipe\": " + text::JsonString(r.name) + ",\n \"sensors\": {";
    bool first = true;
    for (const auto& [id, b] : r.sensors) {
        out += std::string(first ? "\n  " : ",\n  ") + text::JsonString(id) + ": " + NamedBlock(b);
        first = false;
    }
    return out + "}}\n";
}

} // namespace line
