#include "Core/UnicodeText.hpp"

#include <limits>
#include <memory>
#include <optional>

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

// Whether ICU can take the text: valid UTF-8 of a length that its 32-bit
// indices hold.
bool fitsICU(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
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
    bool usable() const { return nfd_ != nullptr; }

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

std::unique_ptr<icu::BreakIterator> characterBreaks(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || breaks == nullptr) return nullptr;
    breaks->setText(text);
    return breaks;
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
    if (!fitsICU(a) || !fitsICU(b)) return false;
    const CaselessKey key;
    const auto keyA = key.of(utf16(a));
    const auto keyB = key.of(utf16(b));
    return keyA && keyB && *keyA == *keyB;
}

bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix) {
    if (prefix.empty() || text == prefix) return true;
    if (!fitsICU(text) || !fitsICU(prefix)) return text.starts_with(prefix);
    const CaselessKey key;
    const auto wanted = key.of(utf16(prefix));
    if (!wanted) return false;
    const std::int32_t wantedCodePoints = wanted->countChar32();

    const icu::UnicodeString whole = utf16(text);
    const auto breaks = characterBreaks(whole);
    if (breaks == nullptr) return false;
    // Folding and decomposing never shorten a text in code points, so once the
    // head of `text` has more code points than the wanted key, no longer head
    // can match and the search stops: the work is bounded by the prefix.
    for (std::int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
        const icu::UnicodeString head(whole, 0, end);
        if (head.countChar32() > wantedCodePoints) break;
        const auto headKey = key.of(head);
        if (headKey && *headKey == *wanted) return true;
    }
    return false;
}

std::int64_t characterCount(std::string_view text) {
    if (text.empty()) return 0;
    if (!fitsICU(text)) {
        // Code points, each ill-formed sequence counting as one.
        const std::uint8_t* s = bytesOf(text);
        const std::int64_t length = static_cast<std::int64_t>(text.size());
        std::int64_t count = 0;
        for (std::int64_t i = 0; i < length; ++count) {
            UChar32 c = 0;
            U8_NEXT(s, i, length, c);
        }
        return count;
    }
    const icu::UnicodeString whole = utf16(text);
    const auto breaks = characterBreaks(whole);
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
