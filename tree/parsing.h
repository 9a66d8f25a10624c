// Character-set tests and string splitting for simple text parsers.
#ifndef VESSIK_PARSING_H
#define VESSIK_PARSING_H

#include <string>
#include <vector>

namespace vessik {

// True when `c` is one of the characters of `chars` (never for the zero byte).
bool inChars(char c, const char *chars);

// Removes a final "\n" (and a "\r" before it); true when something was removed.
bool chomp(char *str);

// Fields of `str` separated by any of the characters in `delims`. Splitting
// stops at the first empty field, so "a,,b" gives only "a". `multiDelim` is unused.
std::vector<std::string> split(const char *str, const char *delims, bool multiDelim = true);

} // namespace vessik

#endif
