// varno-cli's session with the sensor: the port, the requests over com232 with the panel's
// flushes and pauses, and how a failure is told (stderr, exit code, JSON).
#pragma once

#include "cli.h"
#include "com232.h"

#include <cstdio>
#include <string>

namespace cli {

constexpr int JumpBufLen = 16;
constexpr double RamPause = 0.1; // the panel's pause before a read
constexpr double EepromPause = 1.5;
constexpr int CyclePauseMs = 50; // between live cycles
// Time for a frame to leave before the port closes: 17 bytes at 4800 baud take 35 ms, an
// adapter holds them up to another 16 ms.
constexpr double DrainTime = 0.1;
// A --port given as a path stands for this COM number.
constexpr int PathPort = 1;

// The names of the parameter block's bytes, in block order.
extern const char* const paraNames[com232::AnzPara];

// One command's run: where it prints, what it is called in messages, its port.
struct Session {
    const Options& o;
    std::FILE* out;
    std::FILE* err;
    std::string what; // "read ram", for messages
    int port = 0;
    std::string portName; // as the user gave it
    bool opened = false;

    // Prints the failure on stderr (and, with --json, as the object on stdout); returns
    // `code`.
    int fail(int code, const std::string& message);
};

std::string hex2(unsigned v);
// A JSON string: always valid UTF-8 (a byte that is not is given as U+FFFD).
std::string jsonString(const std::string& s);
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

// Opens the port as the panel does (4800 8N1, flushed, no handshake), without the line
// check: each command sends only its own requests.
int openPort(Session& s);
// The panel's pause before a request: the event pump keeps running.
void pause(double seconds);
// Sends `code` with the present pp; false (reported, `rc` set) when the frame did not go
// out whole.
bool send(Session& s, unsigned char code, int& rc);
// Why a reply wait failed, as the exit code and message say it.
int replyFailure(Session& s, unsigned char code, int expected);
// A reading request as the panel sends it: input and output flushed, the frame, the wait.
int request(Session& s, unsigned char code, int expected);
// The panel's read: the pause, then 55 03 or 55 04. The block lands in pp.
int readBlock(Session& s, int target);
// Why the parameter file reader refused a file.
std::string fileProblem(const std::string& path, int rc);

int cmdLive(Session& s);

} // namespace cli
