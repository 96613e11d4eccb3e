#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace phonaxis::cli {

// Exit statuses of phonaxis-cli.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // the file could not be read or written
constexpr int kExitUsage = 2;   // the command line is wrong

// Runs phonaxis-cli with its arguments (without the program name). Results
// go to `out`, messages to `err`; returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The text of a JSON string literal for `text`, quotes included. Bytes that
// are not valid UTF-8 become U+FFFD.
std::string jsonString(const std::string& text);

// The shortest text that reads back as `value`; "null" when not finite.
std::string jsonNumber(double value);

} // namespace phonaxis::cli
