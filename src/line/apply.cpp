// apply: a recipe onto the line, all or nothing. Every sensor online first; each present
// block read; the recipe's blocks written with verify, all at once; if any fails, every
// sensor the write reached gets its block back, verified. The line's changeover message
// says how it ended.
#include "line/commands.h"

#include "sensor/params.h"
#include "text/isotime.h"
#include "text/json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLine)

namespace line {

namespace {

constexpr double readWait = 15.0;  // seconds for the reads (an EEPROM read takes 1.5 s)
constexpr double writeWait = 30.0; // for the writes with their read-backs

QJsonArray valuesOf(const Block& b) {
    QJsonArray a;
    for (unsigned char v : b)
        a.append(int(v));
    return a;
}

Block blockOf(const QJsonArray& a) {
    Block b{};
    for (int i = 0; i < sensor::ParamLen && i < a.size(); ++i)
        b[std::size_t(i)] = static_cast<unsigned char>(a[i].toInt());
    return b;
}

std::string why(const Request& q) {
    return q.reply.isEmpty() ? "no reply from its gateway"
                             : q.reply.value("error").toString().toStdString();
}

// The write reached the sensor: its reply names what was sent (a refusal does not).
bool reached(const Request& q) {
    return q.reply.isEmpty() || q.reply.contains("values");
}

std::vector<Request> writes(const std::map<std::string, Block>& blocks, const Options& o,
                            const std::string& recipe, const std::string& changeover) {
    std::vector<Request> w;
    for (const auto& [id, b] : blocks) {
        QJsonObject p{{"to", o.target == sensor::EEPROM ? "eeprom" : "ram"},
                      {"values", valuesOf(b)},
                      {"verify", true},
                      {"recipe", QString::fromStdString(recipe)},
                      {"changeover", QString::fromStdString(changeover)}};
        if (!o.by.empty()) p["by"] = QString::fromStdString(o.by);
        w.push_back({id, "write", p, {}});
    }
    return w;
}

} // namespace

int CmdApply(const Options& o, const Recipe& r, Session& s, std::FILE* out) {
    // Every sensor of the recipe online, or nothing is sent.
    std::string notOnline;
    for (const auto& [id, b] : r.sensors) {
        auto it = s.sensors().find(id);
        const std::string state = it == s.sensors().end() ? "not on the broker" : it->second.state;
        if (state != "online") notOnline += (notOnline.empty() ? "" : ", ") + id + " (" + state + ")";
    }
    if (!notOnline.empty())
        return Fail(o, out, ExitNoAnswer, "not every sensor of the recipe is online: " + notOnline +
                                              "; nothing was sent");
    if (o.dryRun) {
        const int rc = CmdDiff(o, r, s, out);
        if (!o.json) std::fprintf(out, "dry run: nothing was sent\n");
        return rc;
    }
    const std::string changeover = NewId("changeover");
    // The present blocks, for setting them back.
    std::vector<Request> reads;
    for (const auto& [id, b] : r.sensors)
        reads.push_back({id, "read", QJsonObject{{"from", o.target == sensor::EEPROM ? "eeprom" : "ram"}}, {}});
    s.run(reads, readWait);
    std::map<std::string, Block> before;
    for (const Request& q : reads) {
        if (!q.reply.value("ok").toBool())
            return Fail(o, out, ExitNoAnswer,
                        "sensor " + q.sensor + ": its block could not be read (" + why(q) +
                            "); nothing was written");
        before[q.sensor] = blockOf(q.reply.value("values").toArray());
    }
    // The recipe, everywhere at once.
    std::vector<Request> w = writes(r.sensors, o, r.name, changeover);
    s.run(w, writeWait);
    std::map<std::string, std::string> failed;
    std::map<std::string, Block> toRestore;
    int code = ExitDone;
    for (const Request& q : w) {
        if (reached(q)) toRestore[q.sensor] = before[q.sensor];
        if (q.reply.value("ok").toBool()) continue;
        failed[q.sensor] = why(q);
        const int e = q.reply.value("exit").toInt(1);
        if (code == ExitDone || e == ExitMismatch) code = e == ExitMismatch ? ExitMismatch : ExitNoAnswer;
    }
    std::vector<std::string> leftChanged;
    std::string result = "applied";
    if (!failed.empty()) {
        // Set back every sensor the recipe reached, verified.
        std::vector<Request> back = writes(toRestore, o, r.name + " (set back)", changeover);
        s.run(back, writeWait);
        for (const Request& q : back)
            if (!q.reply.value("ok").toBool()) {
                leftChanged.push_back(q.sensor);
                failed[q.sensor] += "; setting it back failed: " + why(q);
            }
        result = leftChanged.empty() ? "rolled-back" : "rollback-failed";
        if (!leftChanged.empty()) code = ExitRollbackFailed;
    }
    // The line's present recipe: the new one, or, set back, the one before.
    std::string present = r.name;
    if (result != "applied")
        present = s.changeover() ? s.changeover()->value("recipe").toString().toStdString() : "";
    QJsonObject msg{{"recipe", present.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(present))},
                    {"attempted", QString::fromStdString(r.name)},
                    {"changeover", QString::fromStdString(changeover)},
                    {"time", QString::fromStdString(text::IsoNow())},
                    {"target", o.target == sensor::EEPROM ? "eeprom" : "ram"},
                    {"result", QString::fromStdString(result)}};
    if (!o.by.empty()) msg["by"] = QString::fromStdString(o.by);
    QJsonArray ids, left;
    for (const auto& [id, b] : r.sensors) ids.append(QString::fromStdString(id));
    for (const std::string& id : leftChanged) left.append(QString::fromStdString(id));
    msg["sensors"] = ids;
    msg["left_changed"] = left;
    QJsonObject failures;
    for (const auto& [id, text] : failed) failures[QString::fromStdString(id)] = QString::fromStdString(text);
    msg["failed"] = failures;
    const std::string json = QJsonDocument(msg).toJson(QJsonDocument::Compact).toStdString();
    if (!s.publishRetained("_line/changeover", json, 10.0))
        qCWarning(lcLine, "varno-line: the changeover message could not be published");

    if (o.json) {
        std::fprintf(out, "{\"command\":\"apply\",\"ok\":%s,%s%s\n", code == ExitDone ? "true" : "false",
                     code == ExitDone ? "" : ("\"exit\":" + std::to_string(code) + ",").c_str(),
                     json.substr(1).c_str());
        return code;
    }
    for (const auto& [id, text] : failed)
        std::fprintf(stderr, "varno-line: %s: %s\n", id.c_str(), text.c_str());
    if (result == "applied")
        std::fprintf(out, "applied recipe %s to %zu sensors (%s), verified\n", r.name.c_str(),
                     r.sensors.size(), o.target == sensor::EEPROM ? "eeprom" : "ram");
    else if (result == "rolled-back")
        std::fprintf(out, "recipe %s not applied: %zu failed; %zu sensors set back, verified\n",
                     r.name.c_str(), failed.size(), toRestore.size());
    else {
        std::string names;
        for (const std::string& id : leftChanged) names += (names.empty() ? "" : ", ") + id;
        std::fprintf(out, "recipe %s not applied, and these sensors are left changed: %s\n",
                     r.name.c_str(), names.c_str());
    }
    return code;
}

} // namespace line
