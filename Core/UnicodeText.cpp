#include "Core/UnicodeText.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace ravolet::unicode {

namespace {

const std::uint8_t* bytesOf(std::string_view text) { return reinterpret_cast<const std::uint8_t*>(text.data()); }

bool isASCII(std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// ASCII letters lower-cased, which is all that folding and decomposing do to
// ASCII text.
std::string foldedASCII(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// In ASCII text every position is a character boundary but the one between a
// carriage return and a line feed.
bool isASCIIBoundary(std::string_view text, std::size_t end) {
    return end == text.size() || !(text[end - 1] == '\r' && text[end] == '\n');
}

// Whether ICU can take the text: valid UTF-8 of a length that its 32-bit
// indices hold.
bool fitsICU(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
    if (isASCII(text)) return true;
    const std::uint8_t* s = bytesOf(text);
    const std::int64_t length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

icu::UnicodeString utf16(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
    std::string bytes;
    text.toUTF8String(bytes);
    return bytes;
}

// The form in which two texts are equal exactly when they match without
// regard to case: NFD(caseFold(NFD(text))). Empty when ICU is unusable, which
// the callers treat as "no match".
class CaselessKey {
public:
    CaselessKey() {
        UErrorCode status = U_ZERO_ERROR;
        nfd_ = icu::Normalizer2::getNFDInstance(status);
        if (U_FAILURE(status)) nfd_ = nullptr;
    }

    std::optional<icu::UnicodeString> of(const icu::UnicodeString& text) const {
        if (nfd_ == nullptr) return std::nullopt;
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeString folded = nfd_->normalize(text, status);
        folded.foldCase(U_FOLD_CASE_DEFAULT);
        icu::UnicodeString key = nfd_->normalize(folded, status);
        if (U_FAILURE(status) || key.isBogus()) return std::nullopt;
        return key;
    }

private:
    const icu::Normalizer2* nfd_ = nullptr;
};

// The calling thread's character-boundary iterator, set to `text`; null when
// ICU cannot make one. Making one is dear, so each thread makes it once. The
// next call on the thread sets it to another text: callers take what they
// need from it first.
icu::BreakIterator* characterBreaks(const icu::UnicodeString& text) {
    thread_local const std::unique_ptr<icu::BreakIterator> breaks = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_FAILURE(status) ? nullptr : std::move(made);
    }();
    if (breaks == nullptr) return nullptr;
    breaks->setText(text);
    return breaks.get();
}

} // namespace

std::string trimmingWhitespace(std::string_view text) {
    const std::uint8_t* s = bytesOf(text);
    const std::int64_t length = static_cast<std::int64_t>(text.size());

    // One forward pass: the kept part runs from the first character that is
    // no white space to the end of the last one.
    std::int64_t begin = -1;
    std::int64_t end = 0;
    for (std::int64_t i = 0; i < length;) {
        const std::int64_t start = i;
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (c >= 0 && u_isUWhiteSpace(c)) continue;
        if (begin < 0) begin = start;
        end = i;
    }
    if (begin < 0) return {};
    return std::string(text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a == b) return true;
    const auto keyA = caselessKey(a);
    if (!keyA) return false;
    const auto keyB = caselessKey(b);
    return keyB && *keyA == *keyB;
}

bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix) {
    if (prefix.empty() || text == prefix) return true;
    if (!fitsICU(text) || !fitsICU(prefix)) return text.starts_with(prefix);
    const auto wanted = caselessKey(prefix);
    if (!wanted) return false;
    // Folding and decomposing never shorten a text in code points, so a head
    // with more code points than the wanted form cannot match: the work is
    // bounded by the prefix.
    bool found = false;
    forEachCaselessHead(text, codePointCount(*wanted), [&](std::string_view head) {
        found = head == *wanted;
        return !found;
    });
    return found;
}

std::optional<std::string> caselessKey(std::string_view text) {
    if (!fitsICU(text)) return std::nullopt;
    if (isASCII(text)) return foldedASCII(text);
    const auto key = CaselessKey().of(utf16(text));
    if (!key) return std::nullopt;
    return utf8(*key);
}

bool forEachCaselessHead(std::string_view text, std::int64_t maxCodePoints,
                         const std::function<bool(std::string_view caselessHead)>& visit) {
    if (!fitsICU(text)) return false;
    if (isASCII(text)) {
        const std::string folded = foldedASCII(text);
        const std::size_t longest = static_cast<std::size_t>(std::clamp<std::int64_t>(
            maxCodePoints, 0, static_cast<std::int64_t>(text.size())));
        for (std::size_t end = 1; end <= longest; ++end) {
            if (isASCIIBoundary(text, end) && !visit(std::string_view(folded).substr(0, end))) break;
        }
        return true;
    }
    const icu::UnicodeString whole = utf16(text);
    // The boundaries are read off first: nothing that `visit` calls can move
    // the thread's iterator under this loop.
    std::vector<std::int32_t> ends;
    {
        icu::BreakIterator* breaks = characterBreaks(whole);
        if (breaks == nullptr) return false;
        std::int64_t codePoints = 0;
        std::int32_t start = 0;
        for (std::int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
            codePoints += whole.countChar32(start, end - start);
            if (codePoints > maxCodePoints) break;
            ends.push_back(end);
            start = end;
        }
    }
    const CaselessKey key;
    for (const std::int32_t end : ends) {
        const auto head = key.of(icu::UnicodeString(whole, 0, end));
        if (head && !visit(utf8(*head))) break;
    }
    return true;
}

std::int64_t codePointCount(std::string_view text) {
    const std::uint8_t* s = bytesOf(text);
    const std::int64_t length = static_cast<std::int64_t>(text.size());
    std::int64_t count = 0;
    for (std::int64_t i = 0; i < length; ++count) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
    }
    return count;
}

std::int64_t characterCount(std::string_view text) {
    if (text.empty()) return 0;
    // Code points, each ill-formed sequence counting as one.
    if (!fitsICU(text)) return codePointCount(text);
    if (isASCII(text)) {
        // One character per byte, a carriage return and line feed together counting as one.
        std::int64_t pairs = 0;
        for (std::size_t i = 1; i < text.size(); ++i)
            if (!isASCIIBoundary(text, i)) ++pairs;
        return static_cast<std::int64_t>(text.size()) - pairs;
    }
    const icu::UnicodeString whole = utf16(text);
    icu::BreakIterator* breaks = characterBreaks(whole);
    if (breaks == nullptr) return whole.countChar32();
    std::int64_t count = 0;
    for (std::int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) ++count;
    return count;
}

int compareNaturally(std::string_view a, std::string_view b) {
    // A collator is not safe to share between threads while it is used; one
    // per thread, made on first use.
    thread_local const std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !made) return std::unique_ptr<icu::Collator>();
        made->setStrength(icu::Collator::SECONDARY);
        made->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        return U_FAILURE(status) ? std::unique_ptr<icu::Collator>() : std::move(made);
    }();
    if (collator && a.size() <= INT32_MAX && b.size() <= INT32_MAX) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result =
            collator->compareUTF8(icu::StringPiece(a.data(), static_cast<std::int32_t>(a.size())),
                                  icu::StringPiece(b.data(), static_cast<std::int32_t>(b.size())), status);
        if (U_SUCCESS(status)) return result;
    }
    return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
}

} // namespace ravolet::unicode
