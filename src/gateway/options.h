// varno-gateway's options: the command line and the config file (the same names), the
// broker URL, the sensor id a port stands for.
#pragma once

#include "gateway/mqtt_client.h"

#include <string>
#include <vector>

namespace gateway {

// Exit codes, as --help documents them.
enum Exit {
    ExitDone = 0,     // stopped by SIGTERM or SIGINT (offline status published first)
    ExitNoAnswer = 1, // in a reply: the sensor did not answer (or wrongly), as varno-cli's
    ExitUsage = 2,    // unknown or wrong option
    ExitMismatch = 3, // in a reply: a write's read-back differs, as varno-cli's
    ExitConfig = 4, // a file, port or configuration error that retrying cannot mend
};

enum class WriteAllow { None, Ram, Eeprom };

struct Options {
    bool help = false;
    bool version = false;
    bool trace = false;
    std::string port = "1"; // a COM number as the panel numbers them, or a device path
    std::string broker = "mqtt://localhost:1883";
    std::string prefix = "varno";
    std::string sensor; // empty: derived from the port
    WriteAllow allowWrite = WriteAllow::None;
    std::string username;
    std::string passwordFile;
    std::string cafile, cert, key;
    int keepalive = 10;  // seconds
    long buffer = 36000; // live records kept while the broker is away
    std::string config;  // the file the options were also read from

    // From the broker URL.
    bool tls = false;
    std::string host = "localhost";
    int brokerPort = 1883;
};

// Reads the command line (argv[0] is the program); a --config file is read first and the
// command line wins over it. On failure returns ExitUsage (a command-line mistake) or
// ExitConfig (a config file that is missing, unreadable or wrong), with `error` saying why;
// ExitDone when `o` is ready.
int ParseArgs(int argc, const char* const* argv, Options& o, std::string& error);
const char* HelpText();

// The broker options every program on the broker takes (--broker, --prefix, --username,
// --password-file, --cafile, --cert, --key): applied to `o` when `name` is one (true; `error`
// set when its value is wrong), false when it is none of them.
bool ApplyBrokerOption(const std::string& name, const std::string& value, Options& o,
                       std::string& error);
// The broker options that go together (the password file with a user name, TLS files
// with mqtts://, a certificate with its key). False, with `error`, when not.
bool CheckBrokerOptions(const Options& o, std::string& error);
// The connection's settings from the options, the password read from its file (a warning
// when everyone may read that file). False, with `error`, when it cannot be read.
bool BrokerSettingsFrom(const Options& o, BrokerSettings& b, std::string& error);

// Splits mqtt://host[:port] or mqtts://host[:port] into o.tls, o.host, o.brokerPort. False,
// with `error`, for anything else.
bool ParseBrokerUrl(const std::string& url, Options& o, std::string& error);

// The sensor id a port stands for: the adapter's /dev/serial/by-id name when one points
// at the device, else the device's name below /dev (or the file name), reduced to
// letters, digits, '-' and '_'. `device` is the path the port is opened through.
std::string SensorIdFor(const std::string& device);
// A topic prefix a broker takes: UTF-8 without control characters or DEL, no wildcard, no
// empty level, not starting with '$', at most 200 bytes.
bool ValidPrefix(const std::string& p);
// Letters, digits, '-' and '_' only, not empty.
bool ValidSensorId(const std::string& id);
// A sensor id the topics themselves use ("cmd", "_line"): refused.
bool ReservedSensorId(const std::string& id);

// The first line of a password file, without its line end. False, with `error`, when the
// file cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);

} // namespace gateway
