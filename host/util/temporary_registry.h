// The temporary files being written right now, known to the signal handler:
// when a second signal ends the program at once, they are removed first.
#pragma once

#include <string>

namespace dof {

// Remembers `path`; the answer is the slot to forget it by, or -1 when every
// slot is taken (that file is then left to the stale-temporary cleanup).
int rememberTemporary(const std::string& path);
void forgetTemporary(int slot);

// Removes every remembered file. Safe in a signal handler: it only calls
// unlink.
void removeRememberedTemporaries();

}  // namespace dof
