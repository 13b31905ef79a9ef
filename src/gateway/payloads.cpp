// The gateway's JSON payloads.
#include "payloads.h"
#include "sensor/params.h"

#include "sensor/protocol.h"
#include "sensor/reading.h"
#include "text/json.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace gateway {

JsonObject& JsonObject::key(const char* k) {
    if (body_.size() > 1) body_ += ',';
    body_ += text::JsonString(k);
    body_ += ':';
    return *this;
}

JsonObject& JsonObject::str(const char* k, const std::string& v) {
    key(k).body_ += text::JsonString(v);
    return *this;
}

JsonObject& JsonObject::num(const char* k, long long v) {
    key(k).body_ += std::to_string(v);
    return *this;
}

JsonObject& JsonObject::real(const char* k, double v, int decimals) {
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", decimals, v);
    key(k).body_ += b;
    return *this;
}

JsonObject& JsonObject::boolean(const char* k, bool v) {
    key(k).body_ += v ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::null(const char* k) {
    key(k).body_ += "null";
    return *this;
}

JsonObject& JsonObject::array(const char* k, const unsigned char* v, int n) {
    std::string a = "[";
    for (int i = 0; i < n; ++i)
        a += (i ? "," : "") + std::to_string(v[i]);
    key(k).body_ += a + "]";
    return *this;
}

JsonObject& JsonObject::raw(const char* k, const std::string& json) {
    key(k).body_ += json;
    return *this;
}

JsonObject ReplyHead(bool hasId, const std::string& id, const std::string& command,
                     const std::string& port) {
    JsonObject j;
    if (hasId)
        j.str("id", id);
    else
        j.null("id");
    return j.str("command", command).str("port", port);
}

std::string StatusPayload(const std::string& state, const std::string& port,
                          const std::string& since, const Dropped& dropped,
                          const std::string& until) {
    JsonObject j;
    j.str("state", state)
        .str("port", port)
        .str("since", since)
        .num("dropped", dropped.live)
        .num("dropped_replies", dropped.replies)
        .num("refused", dropped.refused);
    if (!until.empty()) j.str("until", until);
    return j.done();
}

std::string WillPayload(const std::string& port, const std::string& connected,
                        const Dropped& dropped) {
    return JsonObject()
        .str("state", "offline")
        .str("port", port)
        .str("connected", connected)
        .num("dropped", dropped.live)
        .num("dropped_replies", dropped.replies)
        .num("refused", dropped.refused)
        .done();
}

std::string NamedParams(const unsigned char* block) {
    JsonObject named;
    for (int i = 0; i < sensor::ParamLen; ++i)
        named.num(sensor::Params()[i].name, block[i]);
    return named.done();
}

std::string ParamsPayload(int target, const unsigned char* block, const std::string& time) {
    return JsonObject()
        .str("source", target == sensor::EEPROM ? "eeprom" : "ram")
        .array("values", block, sensor::ParamLen)
        .raw("named", NamedParams(block))
        .str("time", time)
        .done();
}

// One live record, its fields named as the recording's columns (the record type decodes
// them; the hysteresis is the parameter block's, as the recording writes it).
std::string LivePayload(const char* isoTime, double seconds, const unsigned char* record,
                        unsigned char hysteresis, long long seq) {
    const sensor::Reading r = sensor::Decode(record);
    JsonObject out;
    out.str("time", isoTime)
        .real("t_s", seconds, 3)
        .num("dat0", r.dat0)
        .num("dat1", r.dat1)
        .num("norm", r.norm)
        .num("edge", r.edge)
        .num("in0", r.in0)
        .num("in1", r.in1)
        .num("trsh", r.trsh)
        .num("hysteresis", hysteresis);
    if (r.edgePct)
        out.num("edge_pct", *r.edgePct);
    else
        out.null("edge_pct");
    if (r.winPct)
        out.num("win_pct", *r.winPct);
    else
        out.null("win_pct");
    return out.num("seq", seq).done();
}

std::string MetaPayload(const std::string& version, const std::string& sensor,
                        const std::string& port, bool ramAllowed, bool eepromAllowed) {
    std::string params = "[";
    for (int i = 0; i < sensor::ParamCount; ++i) {
        const sensor::Param& p = sensor::Params()[i];
        JsonObject o;
        o.str("name", p.name)
            .num("byte", p.byte)
            .num("min", p.min)
            .num("max", p.max)
            .str("label", p.label)
            .str("meaning", p.meaning)
            .str("unit", p.unit);
        if (p.choices) {
            std::string c = "[";
            for (const sensor::Choice* ch = p.choices; ch->label; ++ch)
                c += std::string(c.size() > 1 ? "," : "") +
                     JsonObject().num("value", ch->value).str("label", ch->label).done();
            o.raw("choices", c + "]");
        }
        if (p.percentCodeAt0 >= 0)
            o.raw("percent", JsonObject()
                                 .num("code_at_0", p.percentCodeAt0)
                                 .num("code_at_100", p.percentCodeAt100)
                                 .done());
        params += (i ? "," : "") + o.done();
    }
    params += "]";
    // The live message's keys in order: the time, the seconds, the record's fields, the
    // block's hysteresis, the sequence number.
    std::string record = "[" + JsonObject()
                                   .str("name", "time")
                                   .str("meaning", "When the record arrived (UTC)")
                                   .str("unit", "ISO 8601")
                                   .done();
    record += "," + JsonObject()
                        .str("name", "t_s")
                        .str("meaning", "Seconds since the gateway's first record")
                        .str("unit", "s")
                        .done();
    int count = 0;
    const sensor::Field* fields = sensor::RecordFields(count);
    for (int i = 0; i < count; ++i) {
        record += "," + JsonObject()
                            .str("name", fields[i].name)
                            .str("meaning", fields[i].meaning)
                            .str("unit", fields[i].unit)
                            .done();
        if (std::string(fields[i].name) == "trsh")
            record += "," + JsonObject()
                                .str("name", "hysteresis")
                                .str("meaning", sensor::Params()[sensor::param::hysteresis].meaning)
                                .str("unit", "NORM")
                                .done();
    }
    record += "," + JsonObject()
                        .str("name", "seq")
                        .str("meaning", "Numbers the live messages: a gap is a lost record")
                        .str("unit", "")
                        .done();
    record += "]";
    std::string allow = "[";
    if (ramAllowed) allow += "\"ram\"";
    if (eepromAllowed) allow += ",\"eeprom\"";
    allow += "]";
    return JsonObject()
        .str("gateway", "varno-gateway")
        .str("version", version)
        .str("sensor", sensor)
        .str("port", port)
        .raw("allow_write", allow)
        .raw("parameters", params)
        .raw("record", record)
        .done();
}

} // namespace gateway
