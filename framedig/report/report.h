// What every report uses: JSON strings escaped, and text wrapped to the
// width of a terminal.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

inline constexpr std::size_t report_width = 80;

// Writes text as a JSON string, escaping what JSON requires.
void json_string(std::FILE* out, std::string_view text);

// Writes a number with the given decimals, or null when it is absent or
// not finite (JSON has no infinity and no NaN).
void json_decimal(std::FILE* out, double value, bool present, int decimals);

// Prints text from the given column on (what is left of it is already on
// the line), broken at blanks so that no line passes the report width; later
// lines start two columns further in.
void print_wrapped(std::FILE* out, std::size_t column, std::string_view text);
