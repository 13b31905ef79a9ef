// cmd/write on the sensor side: the block before, the write, the read-back, the audit.
#include "poller.h"

#include "gateway/payloads.h"
#include "runtime/runtime.h"

#include <QLoggingCategory>

#include <cstring>

Q_DECLARE_LOGGING_CATEGORY(lcGateway)

namespace gateway {

std::string Poller::cmdWrite(const Command& c) {
    const bool eeprom = c.target == sensor::EEPROM;
    const char* target = eeprom ? "eeprom" : "ram";
    // The block before: RAM is known since the sensor came online; EEPROM is read first
    // when it never was.
    if (eeprom && !eepromKnown_) {
        const sensor::Result r = link_.ReadBlock(sensor::EEPROM);
        if (!r) return sensorFailure(c, r);
        std::memcpy(eeprom_, link_.Block(), sensor::ParamLen);
        eepromKnown_ = true;
    }
    unsigned char before[sensor::ParamLen];
    std::memcpy(before, eeprom ? eeprom_ : ram_, sensor::ParamLen);

    const sensor::Result sent = link_.WriteBlock(c.target, c.values);
    if (!sent) return sensorFailure(c, sent); // nothing (whole) went out: no audit
    unsigned char after[sensor::ParamLen];
    std::memcpy(after, c.values, sensor::ParamLen);

    std::string verify = "not asked", error;
    std::string differing = "[";
    int differ = 0;
    int exit = 0;
    if (!c.verify) {
        link_.Drain(); // the next live request's flush must not discard the frame
    } else {
        const sensor::Result r = link_.ReadBlock(c.target);
        if (!r) {
            verify = "failed";
            error = "sent; the read-back failed: " + r.text();
            exit = r.portFault() ? ExitConfig : 1;
        } else {
            std::memcpy(after, link_.Block(), sensor::ParamLen);
            for (int i = 0; i < sensor::ParamLen; ++i) {
                if (after[i] == c.values[i]) continue;
                differing +=
                    std::string(differ++ ? "," : "") + JsonObject()
                                                           .num("byte", i + 1)
                                                           .str("name", sensor::ParamNames[i])
                                                           .num("sent", c.values[i])
                                                           .num("read", after[i])
                                                           .done();
            }
            verify = differ ? "differs" : "match";
            if (differ) {
                error =
                    "verify failed: " + std::to_string(differ) + " of 15 bytes read back differ";
                exit = 3;
            }
        }
    }
    differing += "]";
    std::memcpy(eeprom ? eeprom_ : ram_, after, sensor::ParamLen);
    if (verify != "failed") setState(SensorState::Online);

    JsonObject audit;
    audit.str("time", IsoNow());
    if (c.hasId)
        audit.str("id", c.id);
    else
        audit.null("id");
    audit.str("by", c.by)
        .str("port", portName_)
        .str("target", target)
        .array("before", before, sensor::ParamLen)
        .array("sent", c.values, sensor::ParamLen)
        .array("after", after, sensor::ParamLen)
        .str("verify", verify);
    if (differ) audit.raw("differing", differing);
    const std::string line = audit.done();
    qCInfo(lcGateway, "varno-gateway: audit %s", line.c_str());
    if (onAudit) onAudit(line);
    if (onParams) onParams(c.target, after);

    JsonObject reply;
    if (c.hasId)
        reply.str("id", c.id);
    else
        reply.null("id");
    reply.str("command", c.name).str("port", portName_).boolean("ok", exit == 0);
    if (exit) reply.num("exit", exit).str("error", error);
    reply.str("target", target)
        .array("values", c.values, sensor::ParamLen)
        .boolean("verify", c.verify);
    if (c.verify && verify != "failed") {
        reply.boolean("verified", differ == 0).array("read", after, sensor::ParamLen);
        if (differ) reply.raw("differing", differing);
    }
    return reply.done();
}

} // namespace gateway
