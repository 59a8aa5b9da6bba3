// libpng prints its complaints on standard error itself ("libpng error:
// ..."), which would put a second line beside our one-line error. Reads that
// may run it go through here, so that what it says is caught and folded
// into our message instead.
#pragma once

#include <functional>
#include <string>

namespace dof {

// Whether the file starts like a PNG file (whose reader is libpng).
bool looksLikePng(const std::string& path);

// Runs `call` with standard error caught, and returns the lines starting
// "libpng" that were printed meanwhile, folded into one line (empty when
// none). Anything else printed meanwhile (another thread's progress bar) is
// passed on to standard error afterwards. Calls are taken one at a time.
std::string catchLibraryMessages(const std::function<void()>& call);

}  // namespace dof
