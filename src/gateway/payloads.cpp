// The gateway's JSON payloads.
#include "payloads.h"

#include "record.h"
#include "sensor/protocol.h"
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

std::string IsoNow() {
    char when[40];
    record::IsoTimeNow(when, sizeof when);
    return when;
}

void IsoTime(std::chrono::system_clock::time_point t, char* out, std::size_t size) {
    using namespace std::chrono;
    const std::time_t secs = system_clock::to_time_t(t);
    long ms = long(duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000);
    std::tm utc{};
    gmtime_r(&secs, &utc);
    char base[32];
    std::strftime(base, sizeof base, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(out, size, "%s.%03ldZ", base, ms < 0 ? 0 : ms);
}

std::string StatusPayload(const std::string& state, const std::string& port,
                          const std::string& since, const Dropped& dropped) {
    return JsonObject()
        .str("state", state)
        .str("port", port)
        .str("since", since)
        .num("dropped", dropped.live)
        .num("dropped_replies", dropped.replies)
        .num("refused", dropped.refused)
        .done();
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
        named.num(sensor::ParamNames[i], block[i]);
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

// The recording's own row, split at its commas and paired with its header: the columns
// and how each is derived stay the recording's.
std::string LivePayload(const char* isoTime, double seconds, const unsigned char* record,
                        unsigned char hysteresis, long long seq) {
    char row[256];
    if (record::FormatRow(row, sizeof row, isoTime, seconds, record, hysteresis) < 0) return {};
    const std::string header = record::Header();
    JsonObject out;
    std::size_t h = 0, r = 0;
    for (bool first = true;; first = false) {
        const std::size_t he = header.find(',', h);
        const char* end = std::strchr(row + r, ',');
        const std::string name = header.substr(h, he == std::string::npos ? he : he - h);
        const std::string value(row + r, end ? std::size_t(end - (row + r)) : std::strlen(row + r));
        if (first)
            out.str(name.c_str(), value); // the time
        else if (value.empty())
            out.null(name.c_str());
        else
            out.raw(name.c_str(), value);
        if (he == std::string::npos || !end) break;
        h = he + 1;
        r = std::size_t(end - row) + 1;
    }
    return out.num("seq", seq).done();
}

} // namespace gateway
