#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text from a driver or a command line, made fit to print on one line of a
// terminal, a pipe or a log: no control byte, nothing that could end a line
// or a quoted field early.

// `text` between double quotes, `\` and `"` escaped with a backslash and every
// byte outside printable ASCII as \xNN. Past `limit` bytes of `text` it is cut
// and "..." follows the closing quote.
std::string inQuotes(std::string_view text, std::size_t limit = std::string_view::npos);

// The library's error text on one line: each run of blanks, tabs and newlines
// one space, none at either end, other control bytes as \xNN.
std::string oneLine(std::string_view text);

// A fixed-size text field of the library's records: up to its first NUL, or
// the whole field when a driver filled it to the end.
std::string_view fieldText(const char* field, std::size_t size);
