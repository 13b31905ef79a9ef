// The tests' record of what went out on each port since it was last opened.
#include "endpoint.h"
#include "internal.h"
#include "testhooks.h"

#include <map>

namespace runtime::test {

namespace {

constexpr std::size_t writtenCap = 1 << 16;

class WriteRecord final : public SerialWatcher {
  public:
    std::map<int, std::string> written;

    void opening(int port) override { written.erase(port); }
    void sent(int port, const char* data, int n) override {
        std::string& w = written[port];
        w.append(data, std::size_t(n));
        if (w.size() > writtenCap) w.erase(0, w.size() - writtenCap);
    }
    void reset() override { written.clear(); }
};

WriteRecord& record() {
    static WriteRecord r;
    return r;
}

// Watching starts with the tests, before any port is opened.
const bool watching = [] {
    WatchSerialWrites(&record());
    return true;
}();

} // namespace

std::string WrittenBytes(int port) {
    auto it = record().written.find(port);
    return it == record().written.end() ? std::string() : it->second;
}
void ClearWrittenBytes(int port) {
    record().written.erase(port);
}
bool PortOpen(int port) {
    return detail::PortIsOpen(port);
}

} // namespace runtime::test
