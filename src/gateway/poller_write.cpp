// cmd/write on the sensor side: the block before, the write, the read-back, the audit.
#include "poller.h"
#include "sensor/params.h"

#include "gateway/payloads.h"
#include "runtime/runtime.h"

#include <QLoggingCategory>

#include <cstring>

Q_DECLARE_LOGGING_CATEGORY(lcGateway)

namespace gateway {

namespace {

// What a write came to, for its audit line and its reply.
struct Outcome {
    const char* target = "ram";
    bool beforeKnown = false;
    unsigned char before[sensor::ParamLen] = {};
    bool readBack = false;
    unsigned char after[sensor::ParamLen] = {};
    std::string verify = "not asked", error;
    std::string differing = "[";
    int differ = 0;
    int exit = 0;
};

// The audit line: what is known, and null for what is not.
std::string auditLine(const Command& c, const std::string& port, const Outcome& w) {
    JsonObject audit;
    audit.str("time", IsoNow());
    if (c.hasId)
        audit.str("id", c.id);
    else
        audit.null("id");
    if (c.hasBy) audit.str("by", c.by);
    if (!c.recipe.empty()) audit.str("recipe", c.recipe);
    if (!c.changeover.empty()) audit.str("changeover", c.changeover);
    audit.str("port", port).str("target", w.target);
    if (w.beforeKnown)
        audit.array("before", w.before, sensor::ParamLen);
    else
        audit.null("before");
    audit.array("sent", c.values, sensor::ParamLen);
    if (w.readBack)
        audit.array("after", w.after, sensor::ParamLen);
    else
        audit.null("after");
    audit.str("verify", w.verify);
    if (w.differ) audit.raw("differing", w.differing);
    return audit.done();
}

std::string writeReply(const Command& c, const std::string& port, const Outcome& w) {
    JsonObject reply = ReplyHead(c.hasId, c.id, c.name, port);
    reply.boolean("ok", w.exit == 0);
    if (w.exit) reply.num("exit", w.exit).str("error", w.error);
    reply.str("target", w.target)
        .array("values", c.values, sensor::ParamLen)
        .boolean("verify", c.verify);
    if (w.readBack) {
        reply.boolean("verified", w.differ == 0).array("read", w.after, sensor::ParamLen);
        if (w.differ) reply.raw("differing", w.differing);
    }
    return reply.done();
}

} // namespace

std::string Poller::cmdWrite(const Command& c) {
    Outcome w;
    w.target = c.target == sensor::EEPROM ? "eeprom" : "ram";
    writing_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{writing_};
    unsigned char* known = c.target == sensor::EEPROM ? eeprom_ : ram_;
    bool& isKnown = c.target == sensor::EEPROM ? eepromKnown_ : ramKnown_;
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
    w.beforeKnown = isKnown;
    std::memcpy(w.before, known, sensor::ParamLen);

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
        w.readBack = true;
        std::memcpy(w.after, link_.Block(), sensor::ParamLen);
        for (int i = 0; i < sensor::ParamLen; ++i) {
            if (w.after[i] == c.values[i]) continue;
            w.differing += std::string(w.differ++ ? "," : "") +
                           JsonObject()
                               .num("byte", i + 1)
                               .str("name", sensor::Params()[i].name)
                               .num("sent", c.values[i])
                               .num("read", w.after[i])
                               .done();
        }
        w.verify = r ? "match" : "differs";
        if (!r) {
            w.error = r.text();
            w.exit = ExitMismatch;
        }
        std::memcpy(known, w.after, sensor::ParamLen);
        isKnown = true;
        setState(SensorState::Online);
    } else {
        w.verify = "failed";
        w.error = "sent; the read-back failed: " + r.text();
        w.exit = r.portFault() ? ExitConfig : ExitNoAnswer;
        if (r.code() == sensor::Result::NoReply) setState(SensorState::NoReply);
    }
    w.differing += "]";

    const std::string line = auditLine(c, portName_, w);
    qCInfo(lcGateway, "varno-gateway: audit %s", line.c_str());
    if (onAudit) onAudit(line);
    // Only a block read back is published as the sensor's.
    if (w.readBack && onParams) onParams(c.target, w.after);
    return writeReply(c, portName_, w);
}

} // namespace gateway
