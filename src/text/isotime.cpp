// ISO 8601 UTC with milliseconds.
#include "text/isotime.h"

#include <cstdio>
#include <ctime>

namespace text {

void IsoTime(std::chrono::system_clock::time_point when, char* out, std::size_t size) {
    using namespace std::chrono;
    const std::time_t secs = system_clock::to_time_t(when);
    const long ms = long(duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000);
    std::tm utc{};
    if (const std::tm* t = std::gmtime(&secs)) utc = *t;
    char base[32];
    std::strftime(base, sizeof base, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(out, size, "%s.%03ldZ", base, ms < 0 ? 0 : ms);
}

std::string IsoTime(std::chrono::system_clock::time_point when) {
    char out[40];
    IsoTime(when, out, sizeof out);
    return out;
}

std::string IsoNow() {
    return IsoTime(std::chrono::system_clock::now());
}

void IsoNow(char* out, std::size_t size) {
    IsoTime(std::chrono::system_clock::now(), out, size);
}

} // namespace text
