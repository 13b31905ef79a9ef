// cmd/write on the sensor side: the block before, the write, the read-back, the audit.
#include "poller.h"
#include "sensor/params.h"

#include "gateway/payloads.h"
#include "runtime/runtime.h"

#include <QLoggingCategory>

#include <cstring>

Q_DECLARE_LOGGING_CATEGORY(lcGateway)

namespace gateway {

std::string Poller::cmdWrite(const Command& c) {
    const bool eeprom = c.target == sensor::EEPROM;
    const char* target = eeprom ? "eeprom" : "ram";
    writing_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{writing_};
    unsigned char* known = eeprom ? eeprom_ : ram_;
    bool& isKnown = eeprom ? eepromKnown_ : ramKnown_;
    // The block before, as the sensor holds it: known when it was read from this sensor
    // since it last answered; else read first. A sensor that does not answer leaves it
    // unknown (null in the audit); the write goes out all the same.
    if (!isKnown) {
        const sensor::Result r = link_.ReadBlock(c.target);
        if (r) {
            std::memcpy(known, link_.Block(), sensor::ParamLen);
            isKnown = true;
        } else if (r.portFault()) {
            return sensorFailure(c, r); // nothing went out
        }
    }
    const bool beforeKnown = isKnown;
    unsigned char before[sensor::ParamLen];
    std::memcpy(before, known, sensor::ParamLen);

    std::string verify = "not asked", error;
    std::string differing = "[";
    int differ = 0;
    int exit = 0;
    unsigned char after[sensor::ParamLen] = {};
    bool readBack = false;
    // The link's own write: with verify, its write and read-back and their verdict.
    const sensor::Result r =
        c.verify ? link_.WriteVerified(c.target, c.values) : link_.WriteBlock(c.target, c.values);
    // Nothing (whole) went out: no audit.
    if (!r && r.request() == sensor::WriteCode(c.target)) return sensorFailure(c, r);
    // From here on the frames carry what was sent, but nothing is known of the sensor's
    // block until it is read back.
    std::memcpy(known, c.values, sensor::ParamLen);
    isKnown = false;
    if (!c.verify) {
        link_.Drain(); // the next live request's flush must not discard the frame
    } else if (r || r.code() == sensor::Result::Mismatch) {
        readBack = true;
        std::memcpy(after, link_.Block(), sensor::ParamLen);
        for (int i = 0; i < sensor::ParamLen; ++i) {
            if (after[i] == c.values[i]) continue;
            differing += std::string(differ++ ? "," : "") + JsonObject()
                                                                .num("byte", i + 1)
                                                                .str("name", sensor::Params()[i].name)
                                                                .num("sent", c.values[i])
                                                                .num("read", after[i])
                                                                .done();
        }
        verify = r ? "match" : "differs";
        if (!r) {
            error = r.text();
            exit = ExitMismatch;
        }
        std::memcpy(known, after, sensor::ParamLen);
        isKnown = true;
        setState(SensorState::Online);
    } else {
        verify = "failed";
        error = "sent; the read-back failed: " + r.text();
        exit = r.portFault() ? ExitConfig : ExitNoAnswer;
        if (r.code() == sensor::Result::NoReply) setState(SensorState::NoReply);
    }
    differing += "]";

    JsonObject audit;
    audit.str("time", IsoNow());
    if (c.hasId)
        audit.str("id", c.id);
    else
        audit.null("id");
    if (c.hasBy) audit.str("by", c.by);
    audit.str("port", portName_).str("target", target);
    if (beforeKnown)
        audit.array("before", before, sensor::ParamLen);
    else
        audit.null("before");
    audit.array("sent", c.values, sensor::ParamLen);
    if (readBack)
        audit.array("after", after, sensor::ParamLen);
    else
        audit.null("after");
    audit.str("verify", verify);
    if (differ) audit.raw("differing", differing);
    const std::string line = audit.done();
    qCInfo(lcGateway, "varno-gateway: audit %s", line.c_str());
    if (onAudit) onAudit(line);
    // Only a block read back is published as the sensor's.
    if (readBack && onParams) onParams(c.target, after);

    JsonObject reply = ReplyHead(c.hasId, c.id, c.name, portName_);
    reply.boolean("ok", exit == 0);
    if (exit) reply.num("exit", exit).str("error", error);
    reply.str("target", target)
        .array("values", c.values, sensor::ParamLen)
        .boolean("verify", c.verify);
    if (readBack) {
        reply.boolean("verified", differ == 0).array("read", after, sensor::ParamLen);
        if (differ) reply.raw("differing", differing);
    }
    return reply.done();
}

} // namespace gateway
