// Names a running program claims on this machine, so that a second program cannot take the
// same one unnoticed: a lock file per name under /run/lock (or the temporary folder), held
// with flock while the program runs and let go by the system when it ends, however it
// ends. The file holds a line that says who holds it, for the one who is refused.
#pragma once

#include <string>
#include <vector>

namespace runtime {

// Claims `name` for the life of this process, writing `note` into its file. False when
// another process holds it: `holder` then gets that process's note (or why the claim
// could not be made, in which case `held` is false and the caller may go on without).
bool ClaimName(const std::string& name, const std::string& note, std::string& holder,
               bool& held);

// The notes of every name claimed by a running process whose name starts with `prefix`.
std::vector<std::string> ClaimedNotes(const std::string& prefix);

} // namespace runtime
