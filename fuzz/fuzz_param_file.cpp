// Fuzz target: the parameter file text (runtime::ParseByteList) with arbitrary bytes.
//
// Checks, for every input, against a separate reading of the same rules:
//  - the result is one of OK, too few, too many, bad value, and the error line is right;
//  - on success the 15 values are exactly the 15 values of the text, in order;
//  - on failure the output array is untouched;
//  - a success written back as "%4u\n" lines reads back to the same bytes.
#include "runtime/bytelist.h"
#include "runtime/runtime.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int Count = 15;

#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "fuzz_param_file: check failed: %s (line %d)\n", #cond,   \
                         __LINE__);                                                        \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

struct Token {
    std::string text;
    int line;
};

bool separator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The text cut into words. A zero byte ends a word and stands as an (empty, bad) word of
// its own.
std::vector<Token> words(const char* d, std::size_t n) {
    std::vector<Token> out;
    int line = 1;
    std::string cur;
    int curLine = 1;
    bool inWord = false;
    auto flush = [&] {
        if (inWord) out.push_back({cur, curLine});
        cur.clear();
        inWord = false;
    };
    const auto u = [&](std::size_t k) { return static_cast<unsigned char>(d[k]); };
    for (std::size_t i = 0; i < n; ++i) {
        const char c = d[i];
        // An editor's no-break space (C2 A0) and byte-order mark (EF BB BF) separate too.
        if (i + 1 < n && u(i) == 0xC2 && u(i + 1) == 0xA0) {
            flush();
            i += 1;
            continue;
        }
        if (i + 2 < n && u(i) == 0xEF && u(i + 1) == 0xBB && u(i + 2) == 0xBF) {
            flush();
            i += 2;
            continue;
        }
        if (separator(c)) {
            flush();
            if (c == '\n') ++line;
        } else if (c == '\0') {
            flush();
            out.push_back({std::string(), line});
        } else {
            if (!inWord) curLine = line;
            inWord = true;
            cur += c;
        }
    }
    flush();
    return out;
}

// The value of a word, or -1 when it is not one: decimal digits (leading zeros allowed)
// worth 0 to 255.
int valueOf(const std::string& w) {
    if (w.empty()) return -1;
    int v = 0;
    for (char c : w) {
        if (c < '0' || c > '9') return -1;
        v = std::min(v * 10 + (c - '0'), 256);
    }
    return v <= 255 ? v : -1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    unsigned char out[Count];
    unsigned char canary[Count];
    for (int i = 0; i < Count; ++i) canary[i] = static_cast<unsigned char>(0xA5 ^ (i * 37));
    std::memcpy(out, canary, sizeof out);
    int errorLine = -1;
    const int rc = runtime::ParseByteList(text, size, out, Count, &errorLine);

    // What the rules say the answer is.
    const std::vector<Token> ws = words(text, size);
    int expectRc = runtime::FILE_OK;
    int expectLine = 0;
    std::vector<unsigned char> expectValues;
    for (const Token& w : ws) {
        const int v = valueOf(w.text);
        if (v < 0) {
            expectRc = runtime::FILE_BAD_VALUE;
            expectLine = w.line;
            break;
        }
        if (int(expectValues.size()) == Count) {
            expectRc = runtime::FILE_TOO_MANY_VALUES;
            expectLine = w.line;
            break;
        }
        expectValues.push_back(static_cast<unsigned char>(v));
    }
    if (expectRc == runtime::FILE_OK && int(expectValues.size()) < Count)
        expectRc = runtime::FILE_TOO_FEW_VALUES;

    FUZZ_CHECK(rc == runtime::FILE_OK || rc == runtime::FILE_TOO_FEW_VALUES ||
               rc == runtime::FILE_TOO_MANY_VALUES || rc == runtime::FILE_BAD_VALUE);
    FUZZ_CHECK(rc == expectRc);
    FUZZ_CHECK(errorLine == expectLine);
    if (rc != runtime::FILE_OK) {
        FUZZ_CHECK(std::memcmp(out, canary, sizeof out) == 0);
        return 0;
    }
    FUZZ_CHECK(expectValues.size() == std::size_t(Count));
    FUZZ_CHECK(std::memcmp(out, expectValues.data(), sizeof out) == 0);

    // Written back as the program saves it, the text reads back the same.
    std::string saved;
    char line[16];
    for (int i = 0; i < Count; ++i) {
        std::snprintf(line, sizeof line, "%4u\n", unsigned(out[i]));
        saved += line;
    }
    unsigned char again[Count];
    std::memset(again, 0, sizeof again);
    int againLine = -1;
    FUZZ_CHECK(runtime::ParseByteList(saved.data(), saved.size(), again, Count, &againLine) ==
               runtime::FILE_OK);
    FUZZ_CHECK(againLine == 0);
    FUZZ_CHECK(std::memcmp(again, out, sizeof out) == 0);
    return 0;
}
