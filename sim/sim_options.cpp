// The options of varno-sensor-sim: reading them, and the help text.
#include "sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace simopt {

namespace {

constexpr const char* version = "3.0.0";

void usage(FILE* out) {
    std::fprintf(out,
                 "Usage: varno-sensor-sim [OPTIONS]\n"
                 "Simulates the edge-counting sensor on a new pseudo-terminal (its path is\n"
                 "printed on stdout) or on a serial device.\n"
                 "\n"
                 "  --link PATH             also create a symbolic link PATH to the terminal\n"
                 "                          (removed at exit)\n"
                 "  --device PATH           use the serial device PATH (4800 8N1 raw) instead\n"
                 "  --latency MS            delay from end of request to reply (default 2)\n"
                 "  --rate N                targets per second (default 20, 0 = none)\n"
                 "  --seed N                noise seed (default 1)\n"
                 "  --no-pacing             deliver bytes at once instead of at 4800 baud\n"
                 "  --eeprom FILE           load EEPROM from FILE (15 decimal numbers) if it\n"
                 "                          exists; save it after every EEPROM write\n"
                 "Faults:\n"
                 "  --silent                never reply\n"
                 "  --short                 drop the last byte of every reply\n"
                 "  --extra N               append N stray bytes to every reply\n"
                 "  --late MS               delay every reply by another MS\n"
                 "  --split N               send every reply in N parts\n"
                 "  --split-gap MS          gap between the parts (default 20)\n"
                 "  --wrong-linecheck       answer the line check with AA 03 01\n"
                 "  --disconnect-after S    after S seconds close the line and exit 0\n"
                 "\n"
                 "  --help                  show this text\n"
                 "  --version               show the version\n");
}

bool toDouble(const char* s, double& out) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (errno != 0 || end == s || *end != '\0' || !std::isfinite(v) || v < 0) return false;
    out = v;
    return true;
}

bool toInt(const char* s, long lo, long hi, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

} // namespace

int parseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto flag = [&](const char* name) { return arg == name; };
        auto needValue = [&](const char* name) -> bool {
            if (arg != name) return false;
            if (!hasValue) {
                if (i + 1 >= argc) return true; // reported below
                value = argv[++i];
                hasValue = true;
            }
            return true;
        };
        auto bad = [&]() {
            std::fprintf(stderr, "varno-sensor-sim: invalid value for %s: '%s'\n", arg.c_str(),
                         value.c_str());
            return 2;
        };
        double d = 0;
        long l = 0;
        if (flag("--help") && !hasValue) {
            usage(stdout);
            return 0;
        } else if (flag("--version") && !hasValue) {
            std::printf("varno-sensor-sim %s\n", version);
            return 0;
        } else if (flag("--no-pacing") && !hasValue) {
            o.pacing = false;
        } else if (flag("--silent") && !hasValue) {
            o.silent = true;
        } else if (flag("--short") && !hasValue) {
            o.shortReply = true;
        } else if (flag("--wrong-linecheck") && !hasValue) {
            o.wrongLineCheck = true;
        } else if (needValue("--link") || needValue("--device") || needValue("--eeprom") ||
                   needValue("--latency") || needValue("--rate") || needValue("--seed") ||
                   needValue("--extra") || needValue("--late") || needValue("--split") ||
                   needValue("--split-gap") || needValue("--disconnect-after")) {
            if (!hasValue) {
                std::fprintf(stderr, "varno-sensor-sim: %s needs a value\n", arg.c_str());
                return 2;
            }
            if (arg == "--link") {
                if (value.empty()) return bad();
                o.link = value;
            } else if (arg == "--device") {
                if (value.empty()) return bad();
                o.device = value;
            } else if (arg == "--eeprom") {
                if (value.empty()) return bad();
                o.eepromFile = value;
            } else if (arg == "--latency") {
                if (!toDouble(value.c_str(), d)) return bad();
                o.latencyMs = d;
            } else if (arg == "--rate") {
                if (!toDouble(value.c_str(), d)) return bad();
                o.rate = d;
            } else if (arg == "--seed") {
                if (!toInt(value.c_str(), 0, 0xFFFFFFFFL, l)) return bad();
                o.seed = static_cast<unsigned long>(l);
            } else if (arg == "--extra") {
                if (!toInt(value.c_str(), 0, 4096, l)) return bad();
                o.extra = static_cast<int>(l);
            } else if (arg == "--late") {
                if (!toDouble(value.c_str(), d)) return bad();
                o.lateMs = d;
            } else if (arg == "--split") {
                if (!toInt(value.c_str(), 1, 64, l)) return bad();
                o.split = static_cast<int>(l);
            } else if (arg == "--split-gap") {
                if (!toDouble(value.c_str(), d)) return bad();
                o.splitGapMs = d;
            } else if (arg == "--disconnect-after") {
                if (!toDouble(value.c_str(), d)) return bad();
                o.disconnectAfter = d;
            }
        } else {
            std::fprintf(stderr, "varno-sensor-sim: unknown option '%s' (try --help)\n", argv[i]);
            return 2;
        }
    }
    if (!o.link.empty() && !o.device.empty()) {
        std::fprintf(stderr, "varno-sensor-sim: --link and --device exclude each other\n");
        return 2;
    }
    return -1;
}

} // namespace simopt
