// Option values from their text: numbers, whole numbers, and values keyed to
// frames, given on the command line or in a file of keys.
#pragma once

#include <string>

#include "model/keyframes.h"

namespace dof {

// A whole-text decimal number (inf and nan are let through for the range
// checks to name). False with a one-line `error` naming `option`.
bool parseNumber(const std::string& option, const std::string& text, double* value,
                 std::string* error);

// A whole-text whole number within +-1e9.
bool parseInteger(const std::string& option, const std::string& text, int* value,
                  std::string* error);

// `components` values apart by commas (a plain value, the same on every
// frame), or keys FRAME:V[,V] apart by commas: "5.2", "1001:5.2,1040:9",
// "640,360", "1001:640,360,1050:900,420". Frames are whole numbers, each
// keyed once; values are numbers. False with a one-line `error` naming
// `option` and the text.
bool parseKeys(const std::string& option, const std::string& text, std::size_t components,
               Keyframes* keys, std::string* error);

// A file of keys, one `FRAME V [V]` a line (blanks or commas between them;
// `#` starts a comment; blank lines are skipped), as trackers and camera
// exports write them. False with a one-line `error` naming the file and,
// for a bad line, its number.
bool readKeyFile(const std::string& path, std::size_t components, Keyframes* keys,
                 std::string* error);

}  // namespace dof

namespace dof {

// The option parser's error `message` of kind `kind` (its error class's
// name) in this program's one-line style: what was given, then what is
// wrong with it ("--fstop given twice", "--fstop: no value (N)", "--bogus:
// no such option"). Messages of other kinds are kept as they are.
std::string parserErrorLine(const std::string& kind, const std::string& message);

}  // namespace dof
