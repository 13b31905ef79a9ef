// varno-cli's session with the sensor: its link (the sensor layer's rules: frames, the
// reply wait, flushes and pauses), and how a failure is told (stderr, exit code, JSON).
#pragma once

#include "text/json.h"
#include "cli.h"
#include "sensor/link.h"

#include <cstdio>
#include <string>

namespace cli {

// A --port given as a path stands for this COM number.
constexpr int PathPort = 1;

// One command's run: where it prints, what it is called in messages, its link.
struct Session {
    const Options& o;
    std::FILE* out;
    std::string what; // "read ram", for messages
    int port = 0;
    std::string portName; // as the user gave it
    bool opened = false;
    sensor::Link link{};

    // Reports the failure (varno.cli, on stderr; with --json also as the object on
    // stdout); returns `code`.
    int fail(int code, const std::string& message);
    // Reports a link's verdict with the exit code it stands for; returns that code.
    int fail(const sensor::Result& r);
};

std::string hex2(unsigned v);
// A JSON string: always valid UTF-8 (a byte that is not is given as U+FFFD).
inline std::string jsonString(const std::string& s) {
    return text::JsonString(s);
}
// The start of every JSON object printed, success or failure alike, without the closing
// brace: {"command":"read","port":"COM1","ok":true,"target":"ram" (the target where the
// command has one; "command" null when no command was recognised).
std::string jsonHead(const Options& o, const std::string& portName, bool ok, bool withTarget);
std::string jsonHead(const Session& s, bool ok);
// The command's word ("read"), null for none.
const char* commandWord(Command c);
// A --port value as messages name it: COM3 for a number, else the path as given.
std::string portLabel(const std::string& spec);
std::string jsonArray(const unsigned char* v, int n);
const char* targetName(int target);

// The exit code for a link's verdict: a port's fault is 4, the sensor's answer 1.
int exitFor(const sensor::Result& r);

// Opens the port as the panel does (4800 8N1, flushed, no handshake), without the line
// check: each command sends only its own requests.
int openPort(Session& s);
// The panel's read: the pause, then 55 03 or 55 04. The block lands in s.link.Block().
int readBlock(Session& s, int target);

int cmdLive(Session& s);

} // namespace cli
