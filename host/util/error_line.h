// Every error dof3d reports is one line on standard error: "dof3d: " and a
// message that names the file or option and what is wrong.
#pragma once

#include <string>

namespace dof {

// A library's message on one line: its lines joined by "; ", blanks at the
// ends trimmed, "unknown error" when nothing is left.
std::string oneLine(const std::string& text);

// A library's message about `path` after `failure` ("cannot read"), on one
// line; when it tells of memory that could not be had, the message says
// "out of memory" instead of the failure.
std::string libraryFailure(const std::string& path, const std::string& failure,
                           const std::string& message);

// Prints "dof3d: message" and a line break on standard error. Control
// characters in the message (a file name holding a line break) are shown
// escaped, so that one error is always one line.
void printError(const std::string& message);

}  // namespace dof
