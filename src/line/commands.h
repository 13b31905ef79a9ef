// varno-line's commands on a session with the broker.
#pragma once

#include "line/options.h"
#include "line/session.h"

#include <cstdio>

namespace line {

int CmdStatus(const Options& o, Session& s, std::FILE* out);
int CmdSave(const Options& o, Session& s, std::FILE* out);
int CmdDiff(const Options& o, const Recipe& r, Session& s, std::FILE* out);
int CmdApply(const Options& o, const Recipe& r, Session& s, std::FILE* out);
int CmdYield(const Options& o, Session& s, std::FILE* out);

// Says a failure: on stderr, and as the JSON object with --json. Returns `code`.
int Fail(const Options& o, std::FILE* out, int code, const std::string& why);

} // namespace line
