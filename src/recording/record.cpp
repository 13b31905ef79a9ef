#include "recording/record.h"

#include "sensor/reading.h"
#include "text/isotime.h"

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

std::string JumpBufferCsv(const char* header, const unsigned char* values,
                          std::optional<unsigned> threshold) {
    std::string text = std::string(header) + "\n";
    const std::string trsh = threshold ? std::to_string(*threshold) : std::string();
    for (int i = 0; i < sensor::JumpBufLen; ++i)
        text += std::to_string(i) + "," + std::to_string(unsigned(values[i])) + "," + trsh + "\n";
    return text;
}

int FormatRow(char* out, std::size_t size, const char* isoTime, double seconds,
              const unsigned char* rec, unsigned char hysteresis) {
    const sensor::Reading r = sensor::Decode(rec);
    char pct[32] = "";
    // The same whole percentages the displays show; none without an IN0 period.
    if (r.edgePct && r.winPct)
        std::snprintf(pct, sizeof pct, "%u,%u", *r.edgePct, *r.winPct);
    else
        std::snprintf(pct, sizeof pct, ",");
    const int n = std::snprintf(out, size, "%s,%.3f,%u,%u,%u,%u,%u,%u,%u,%u,%s", isoTime, seconds,
                                r.dat0, r.dat1, r.norm, r.edge, r.in0, r.in1, r.trsh,
                                unsigned(hysteresis), pct);
    return (n < 0 || std::size_t(n) >= size) ? -1 : n;
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
    if (!isoTime) text::IsoNow(when, sizeof when);
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
