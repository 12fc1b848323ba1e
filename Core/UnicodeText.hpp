#pragma once

// Unicode-correct text operations on UTF-8 strings, for matching bundle
// identifiers and reading the patterns a user types. Any bytes give an answer:
// bytes that are not valid UTF-8 are never white space, count as characters of
// their own, and a text holding them compares byte for byte.

#include <cstdint>
#include <string>
#include <string_view>

namespace ravolet::unicode {

// `text` without its leading and trailing white space and line breaks (every
// character with the Unicode White_Space property).
std::string trimmingWhitespace(std::string_view text);

// Whether the two texts are equal when letter case is ignored: canonical
// caseless matching, without any locale.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Whether `text` begins with `prefix` when letter case is ignored. The match
// must end on a character boundary of `text`: "e" is no prefix of "e" followed
// by a combining accent.
bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix);

// How two names sort in a list the user reads, as a file manager sorts them:
// letter case ignored and runs of digits compared by their value ("App 2"
// before "app 10"), independent of the locale. Negative, zero (the names sort
// together) or positive.
int compareNaturally(std::string_view a, std::string_view b);

// The number of user-perceived characters (extended grapheme clusters).
std::int64_t characterCount(std::string_view text);

} // namespace ravolet::unicode
