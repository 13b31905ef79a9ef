// varno-line's MQTT session: the gateway's client, driven here until each step is done.
#include "line/session.h"

#include "text/isotime.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <unistd.h>

namespace line {

namespace {

constexpr double quietRetained = 0.5; // no further retained message for this long: all came

} // namespace

std::string NewId(const char* kind) {
    char rnd[9];
    std::snprintf(rnd, sizeof rnd, "%08x", QRandomGenerator::global()->generate());
    return std::string(kind) + "-" + text::IsoNow() + "-" + rnd;
}

Session::Session(gateway::BrokerSettings broker, std::string prefix)
    : prefix_(std::move(prefix)), mqtt_([&] {
          broker.clientId = "varno-line-" + std::to_string(::getpid()) + "-" +
                            std::to_string(QRandomGenerator::global()->generate() % 100000);
          broker.subscribe = prefix_ + "/+/status";
          broker.alsoSubscribe = {prefix_ + "/+/params", prefix_ + "/+/reply",
                                  prefix_ + "/_line/changeover"};
          return broker;
      }()) {
    mqtt_.onMessage = [this](const gateway::Incoming& in) { message(in); };
    mqtt_.onPublished = [this](int mid) { acked_[mid] = true; };
}

bool Session::waitUntil(const std::function<bool()>& done, double seconds) {
    const double until = gateway::Now() + seconds;
    while (!done()) {
        if (gateway::Now() >= until) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

bool Session::connect(double seconds, std::string& error) {
    mqtt_.start();
    if (!waitUntil([this] { return mqtt_.connected(); }, seconds)) {
        error = "no connection to the broker within " + std::to_string(int(seconds)) + " s" +
                (mqtt_.lastError().empty() ? "" : ": " + mqtt_.lastError());
        return false;
    }
    // The retained messages come right after the subscriptions: taken once none came for
    // a moment.
    lastRetained_ = gateway::Now();
    waitUntil([this] { return gateway::Now() - lastRetained_ > quietRetained; }, 5.0);
    return true;
}

void Session::message(const gateway::Incoming& in) {
    const std::string head = prefix_ + "/";
    if (in.topic.rfind(head, 0) != 0) return;
    const std::string rest = in.topic.substr(head.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos) return;
    const std::string id = rest.substr(0, slash), leaf = rest.substr(slash + 1);
    const QJsonObject o = QJsonDocument::fromJson(in.payload).object();
    if (in.retained) lastRetained_ = gateway::Now();
    if (id == "_line") {
        if (leaf == "changeover" && !o.isEmpty()) changeover_ = o;
        return;
    }
    if (leaf == "status") {
        SensorState& s = sensors_[id];
        s.state = o.value("state").toString("unknown").toStdString();
        s.since = o.value("since").toString(o.value("connected").toString()).toStdString();
        s.until = o.value("until").toString().toStdString();
        s.port = o.value("port").toString().toStdString();
    } else if (leaf == "params") {
        const QJsonArray v = o.value("values").toArray();
        if (v.size() != sensor::ParamLen) return;
        Block b{};
        for (int i = 0; i < sensor::ParamLen; ++i)
            b[std::size_t(i)] = static_cast<unsigned char>(v[i].toInt());
        sensors_[id].params = b;
        sensors_[id].paramsSource = o.value("source").toString().toStdString();
    } else if (leaf == "reply") {
        const std::string rid = o.value("id").toString().toStdString();
        if (!rid.empty()) replies_[rid] = o;
    }
}

void Session::run(std::vector<Request>& requests, double seconds) {
    std::vector<std::string> ids;
    for (Request& r : requests) {
        const std::string id = "line-" + std::to_string(::getpid()) + "-" + std::to_string(++serial_);
        ids.push_back(id);
        QJsonObject p = r.payload;
        p["id"] = QString::fromStdString(id);
        mqtt_.publish(prefix_ + "/" + r.sensor + "/cmd/" + r.command,
                      QJsonDocument(p).toJson(QJsonDocument::Compact), 1, false);
    }
    waitUntil(
        [&] {
            for (const std::string& id : ids)
                if (!replies_.count(id)) return false;
            return true;
        },
        seconds);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        auto it = replies_.find(ids[i]);
        requests[i].reply = it == replies_.end() ? QJsonObject() : it->second;
    }
}

bool Session::publishRetained(const std::string& leaf, const std::string& json, double seconds) {
    const int mid =
        mqtt_.publish(prefix_ + "/" + leaf, QByteArray::fromStdString(json), 1, true);
    if (mid <= 0) return false;
    return waitUntil([&] { return acked_.count(mid) != 0; }, seconds);
}

void Session::close() {
    mqtt_.stop();
}

} // namespace line
