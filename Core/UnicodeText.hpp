#pragma once

// Unicode-correct text operations on UTF-8 strings, for matching bundle
// identifiers and reading the patterns a user types. Any bytes give an answer:
// bytes that are not valid UTF-8 are never white space, count as characters of
// their own, and a text holding them compares byte for byte.

#include <cstdint>
#include <functional>
#include <optional>
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

// The caseless form of a text, in UTF-8: two texts are equal when letter case
// is ignored exactly when their forms are. Absent for bytes that are not
// UTF-8 (such texts compare only byte for byte) and when ICU cannot make it.
// Texts of ASCII alone are lower-cased without ICU.
std::optional<std::string> caselessKey(std::string_view text);

// Hands `visit` the caseless form of every head of `text` that ends on a
// character boundary, shortest first, until a head has more than
// `maxCodePoints` code points or `visit` answers false. A text begins with a
// prefix, letter case ignored, exactly when the prefix's caseless form is one
// of these. False when the heads cannot be told: `text` is not UTF-8, or ICU
// cannot split it.
bool forEachCaselessHead(std::string_view text, std::int64_t maxCodePoints,
                         const std::function<bool(std::string_view caselessHead)>& visit);

// The number of code points of UTF-8 text (each ill-formed sequence counts as one).
std::int64_t codePointCount(std::string_view text);

// How two names sort in a list the user reads, as a file manager sorts them:
// letter case ignored and runs of digits compared by their value ("App 2"
// before "app 10"), independent of the locale. Negative, zero (the names sort
// together) or positive.
int compareNaturally(std::string_view a, std::string_view b);

// The number of user-perceived characters (extended grapheme clusters).
std::int64_t characterCount(std::string_view text);

} // namespace ravolet::unicode
