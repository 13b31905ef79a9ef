#include "record.h"

#include "runtime/runtime.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace record {

namespace {

std::FILE* file = nullptr;
std::string path;
double started = 0.0;
int rows = 0;
long long wholeSize = 0; // the file's size after its last whole row
char lastError[512] = {};

void fail(const char* what) {
    std::snprintf(lastError, sizeof lastError, "%s %s: %s", what, path.c_str(),
                  std::strerror(errno ? errno : EIO));
}

// After a failed write: the row written only in part is cut off (a value cut short could
// pass for another), and the file is closed with nothing more written.
void abandon() {
    runtime::CutToLastWholeRow(file, wholeSize);
    std::fclose(file);
    file = nullptr;
}

bool startsWithHeader();

} // namespace

const char* Header() {
    return "time,t_s,dat0,dat1,norm,edge,in0,in1,trsh,hysteresis,edge_pct,win_pct";
}

int FormatRow(char* out, std::size_t size, const char* isoTime, double seconds,
              const unsigned char* rec, unsigned char hysteresis) {
    const unsigned edge = rec[3] + 256u * rec[4];
    const unsigned in0 = rec[5] + 256u * rec[6];
    const unsigned in1 = rec[7] + 256u * rec[8];
    char pct[32] = "";
    // The same whole percentages the displays show; none without an IN0 period.
    if (in0 != 0)
        std::snprintf(pct, sizeof pct, "%u,%u", (100u * edge) / in0, (100u * in1) / in0);
    else
        std::snprintf(pct, sizeof pct, ",");
    const int n = std::snprintf(out, size, "%s,%.3f,%u,%u,%u,%u,%u,%u,%u,%u,%s", isoTime, seconds,
                                rec[0], rec[1], rec[2], edge, in0, in1, rec[9], hysteresis, pct);
    return (n < 0 || std::size_t(n) >= size) ? -1 : n;
}

void IsoTimeNow(char* out, std::size_t size) {
    IsoTime(std::chrono::system_clock::now(), out, size);
}

void IsoTime(std::chrono::system_clock::time_point now, char* out, std::size_t size) {
    using namespace std::chrono;
    const std::time_t secs = system_clock::to_time_t(now);
    const long ms = long(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm utc{};
    if (const std::tm* t = std::gmtime(&secs)) utc = *t;
    char base[32];
    std::strftime(base, sizeof base, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(out, size, "%s.%03ldZ", base, ms < 0 ? 0 : ms);
}

namespace {

bool startsWithHeader() {
    const std::string header = Header();
    std::string first(header.size() + 1, '\0');
    std::fseek(file, 0, SEEK_SET);
    const std::size_t n = std::fread(first.data(), 1, first.size(), file);
    first.resize(n);
    return first == header + "\n" || first == header + "\r";
}

} // namespace

bool Start(const char* p, double now) {
    Stop();
    path = p ? p : "";
    // Rows go only into a regular file: a FIFO would hold the program at the opening, and
    // a device or folder is no recording. Looked at without opening it.
    const char* what = "";
    if (!path.empty() && runtime::ExaminePath(path.c_str(), &what) == runtime::PathKind::NotAFile) {
        std::snprintf(lastError, sizeof lastError, "Not a file to record into (it is %s): %s", what,
                      path.c_str());
        return false;
    }
    errno = 0;
    file = path.empty() ? nullptr : std::fopen(path.c_str(), "ab+");
    if (!file) {
        fail("Cannot open");
        return false;
    }
    started = now;
    rows = 0;
    lastError[0] = '\0';
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    wholeSize = size > 0 ? size : 0;
    const char* lead = nullptr;
    if (size == 0) {
        lead = Header();
    } else if (!startsWithHeader()) {
        // Rows are never added to a file of another kind (a mistyped name).
        std::snprintf(lastError, sizeof lastError,
                      "Not a recording (its first line is not the column header): %s",
                      path.c_str());
        Stop();
        return false;
    } else if (size > 0 && std::fseek(file, -1, SEEK_END) == 0 && std::fgetc(file) != '\n') {
        lead = ""; // the last row of an earlier run was cut short: it keeps a line of its own
    }
    std::fseek(file, 0, SEEK_END);
    if (lead && (std::fprintf(file, "%s\n", lead) < 0 || std::fflush(file) != 0)) {
        fail("Cannot write to");
        abandon();
        return false;
    }
    wholeSize = runtime::RegularFileSize(file);
    return true;
}

bool StillInPlace() {
    if (!file) return true;
    const char* gone = runtime::FileGoneFromPath(file, path.c_str());
    if (!gone) return true;
    std::snprintf(lastError, sizeof lastError, "%s %s", path.c_str(), gone);
    std::fclose(file);
    file = nullptr;
    return false;
}

void Stop() {
    if (file) std::fclose(file);
    file = nullptr;
}

bool Active() {
    return file != nullptr;
}
const char* Path() {
    return path.c_str();
}
int Rows() {
    return rows;
}
const char* LastError() {
    return lastError;
}

bool Append(const unsigned char* rec, unsigned char hysteresis, double now, const char* isoTime) {
    if (!file) return false;
    char when[40];
    if (!isoTime) IsoTimeNow(when, sizeof when);
    char row[256];
    const int n =
        FormatRow(row, sizeof row, isoTime ? isoTime : when, now - started, rec, hysteresis);
    errno = 0;
    // Each row reaches the file as it arrives: a crash loses at most the record in flight.
    if (n < 0 || std::fprintf(file, "%s\n", row) < 0 || std::fflush(file) != 0 ||
        std::ferror(file)) {
        fail("Cannot write to");
        abandon();
        return false;
    }
    wholeSize = runtime::RegularFileSize(file);
    ++rows;
    return true;
}

} // namespace record
