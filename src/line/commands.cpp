// status, save, diff, yield and resume: what the line holds, and a gateway's port.
#include "line/commands.h"

#include "runtime/runtime.h"
#include "sensor/params.h"
#include "text/json.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonArray>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcLine, "varno.line")

namespace line {

namespace {

const char* targetName(int t) {
    return t == sensor::EEPROM ? "eeprom" : "ram";
}

std::string head(const Options& o, bool ok) {
    return "{\"command\":" + text::JsonString(o.commandName) + ",\"ok\":" + (ok ? "true" : "false");
}

// The recipes of DIR, by file; a file that is no recipe is passed over with a warning.
std::vector<Recipe> recipesIn(const std::string& dir) {
    std::vector<Recipe> out;
    const QDir d(QString::fromStdString(dir));
    for (const QString& f : d.entryList({"*.json"}, QDir::Files, QDir::Name)) {
        Recipe r;
        std::string why;
        if (ReadRecipe(d.filePath(f).toStdString(), r, why))
            out.push_back(r);
        else
            qCWarning(lcLine, "varno-line: %s (passed over)", why.c_str());
    }
    return out;
}

} // namespace

int Fail(const Options& o, std::FILE* out, int code, const std::string& why) {
    qCWarning(lcLine, "varno-line: %s", why.c_str());
    if (o.json)
        std::fprintf(out, "%s,\"exit\":%d,\"error\":%s}\n", head(o, false).c_str(), code,
                     text::JsonString(why).c_str());
    return code;
}

int CmdStatus(const Options& o, Session& s, std::FILE* out) {
    if (!o.recipes.empty() &&
        runtime::ExaminePath(o.recipes.c_str()) == runtime::PathKind::Absent)
        return Fail(o, out, ExitFile, "--recipes " + o.recipes + ": no such folder");
    const std::vector<Recipe> recipes = o.recipes.empty() ? std::vector<Recipe>{} : recipesIn(o.recipes);
    std::string rows;
    if (!o.json) std::fprintf(out, "%-24s %-10s %-26s %s\n", "SENSOR", "STATE", "SINCE", "RECIPE");
    for (const auto& [id, st] : s.sensors()) {
        std::string match;
        for (const Recipe& r : recipes) {
            auto it = r.sensors.find(id);
            if (st.params && it != r.sensors.end() && it->second == *st.params) match = r.name;
        }
        if (o.json) {
            rows += std::string(rows.empty() ? "" : ",") + "{\"id\":" + text::JsonString(id) +
                    ",\"state\":" + text::JsonString(st.state) +
                    ",\"since\":" + text::JsonString(st.since) +
                    (st.until.empty() ? "" : ",\"until\":" + text::JsonString(st.until)) +
                    ",\"recipe\":" + (match.empty() ? "null" : text::JsonString(match)) + "}";
        } else {
            std::fprintf(out, "%-24s %-10s %-26s %s\n", id.c_str(), st.state.c_str(),
                         st.since.c_str(), match.empty() ? "-" : match.c_str());
        }
    }
    if (o.json) {
        std::string co = "null";
        if (s.changeover())
            co = QJsonDocument(*s.changeover()).toJson(QJsonDocument::Compact).toStdString();
        std::fprintf(out, "%s,\"sensors\":[%s],\"changeover\":%s}\n", head(o, true).c_str(),
                     rows.c_str(), co.c_str());
    } else if (s.changeover()) {
        const QJsonObject& c = *s.changeover();
        std::fprintf(out, "line: recipe %s since %s by %s (%s)\n",
                     c.value("recipe").toString("-").toUtf8().constData(),
                     c.value("time").toString().toUtf8().constData(),
                     c.value("by").toString("-").toUtf8().constData(),
                     c.value("result").toString().toUtf8().constData());
    }
    return ExitDone;
}

int CmdSave(const Options& o, Session& s, std::FILE* out) {
    Recipe r;
    r.name = o.name.empty() ? QFileInfo(QString::fromStdString(o.words[0])).completeBaseName().toStdString()
                            : o.name;
    if (r.name.empty()) r.name = "recipe";
    std::vector<std::string> ids = o.only;
    if (ids.empty())
        for (const auto& [id, st] : s.sensors()) ids.push_back(id);
    if (ids.empty()) return Fail(o, out, ExitNoAnswer, "no sensor under " + o.broker.prefix + "/");
    // RAM as the gateways last published it; EEPROM read by each gateway now, all at once.
    std::vector<Request> reads;
    for (const std::string& id : ids) {
        auto it = s.sensors().find(id);
        if (it == s.sensors().end()) return Fail(o, out, ExitNoAnswer, "no sensor " + id + " on the broker");
        const bool fresh = o.target == sensor::RAM && it->second.params && it->second.paramsSource == "ram";
        if (fresh) {
            r.sensors[id] = *it->second.params;
        } else {
            if (it->second.state != "online")
                return Fail(o, out, ExitNoAnswer, "sensor " + id + " is " + it->second.state);
            reads.push_back({id, "read", QJsonObject{{"from", targetName(o.target)}}, {}});
        }
    }
    s.run(reads, 15.0);
    for (const Request& q : reads) {
        if (!q.reply.value("ok").toBool())
            return Fail(o, out, ExitNoAnswer,
                        "sensor " + q.sensor + ": " +
                            (q.reply.isEmpty() ? std::string("no reply from its gateway")
                                               : q.reply.value("error").toString().toStdString()));
        const QJsonArray v = q.reply.value("values").toArray();
        Block b{};
        for (int i = 0; i < sensor::ParamLen && i < v.size(); ++i)
            b[std::size_t(i)] = static_cast<unsigned char>(v[i].toInt());
        r.sensors[q.sensor] = b;
    }
    const std::string text = RecipeJson(r);
    const int rc = runtime::WriteWholeFile(o.words[0].c_str(), text.data(), text.size());
    if (rc != 0) return Fail(o, out, ExitFile, o.words[0] + ": cannot be written");
    if (o.json)
        std::fprintf(out, "%s,\"file\":%s,\"recipe\":%s,\"sensors\":%zu}\n", head(o, true).c_str(),
                     text::JsonString(o.words[0]).c_str(), text::JsonString(r.name).c_str(),
                     r.sensors.size());
    else
        std::fprintf(out, "saved recipe %s: %zu sensors (%s) into %s\n", r.name.c_str(),
                     r.sensors.size(), targetName(o.target), o.words[0].c_str());
    return ExitDone;
}

int CmdDiff(const Options& o, const Recipe& r, Session& s, std::FILE* out) {
    std::string json;
    int rc = ExitDone;
    for (const auto& [id, want] : r.sensors) {
        auto it = s.sensors().find(id);
        const bool known = it != s.sensors().end() && it->second.params;
        std::string rows;
        if (!known) {
            rc = ExitNoAnswer;
            if (!o.json) std::fprintf(out, "%s: no parameter block known\n", id.c_str());
        } else {
            for (int i = 0; i < sensor::ParamCount; ++i) {
                const unsigned was = (*it->second.params)[std::size_t(i)], now = want[std::size_t(i)];
                if (was == now) continue;
                const char* name = sensor::Params()[i].name;
                if (o.json)
                    rows += std::string(rows.empty() ? "" : ",") + "{\"name\":" + text::JsonString(name) +
                            ",\"old\":" + std::to_string(was) + ",\"new\":" + std::to_string(now) + "}";
                else
                    std::fprintf(out, "%s: %s %u -> %u\n", id.c_str(), name, was, now);
            }
            if (!o.json && rows.empty() && known) {
                bool same = *it->second.params == want;
                if (same) std::fprintf(out, "%s: as the recipe\n", id.c_str());
            }
        }
        if (o.json)
            json += std::string(json.empty() ? "" : ",") + text::JsonString(id) + ":" +
                    (known ? "[" + rows + "]" : "null");
    }
    if (o.json)
        std::fprintf(out, "%s,\"recipe\":%s,\"sensors\":{%s}}\n", head(o, rc == ExitDone).c_str(),
                     text::JsonString(r.name).c_str(), json.c_str());
    return rc;
}

int CmdYield(const Options& o, Session& s, std::FILE* out) {
    const std::string& id = o.words[0];
    std::vector<Request> q{{id, o.command == Command::Yield ? "yield" : "resume", {}, {}}};
    if (o.command == Command::Yield) q[0].payload["seconds"] = std::stoi(o.words[1]);
    s.run(q, 10.0);
    if (q[0].reply.isEmpty())
        return Fail(o, out, ExitNoAnswer, "no reply from the gateway of " + id);
    if (!q[0].reply.value("ok").toBool())
        return Fail(o, out, ExitNoAnswer, id + ": " + q[0].reply.value("error").toString().toStdString());
    if (o.json)
        std::fprintf(out, "%s,\"sensor\":%s,\"reply\":%s}\n", head(o, true).c_str(),
                     text::JsonString(id).c_str(),
                     QJsonDocument(q[0].reply).toJson(QJsonDocument::Compact).constData());
    else if (o.command == Command::Yield)
        std::fprintf(out, "%s: yielded until %s\n", id.c_str(),
                     q[0].reply.value("until").toString().toUtf8().constData());
    else
        std::fprintf(out, "%s: port taken back\n", id.c_str());
    return ExitDone;
}

} // namespace line
