#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ravolet {

// The widget-free forms of what the read-only parts of a page show: a labelled
// value with an optional explanation, a coloured status line and a notice.

struct PageFact {
    std::string label;
    std::string value;
    std::optional<std::string> help;

    friend bool operator==(const PageFact&, const PageFact&) = default;
    friend std::ostream& operator<<(std::ostream& os, const PageFact& fact) {
        return os << fact.label << " = " << fact.value << " (" << fact.help.value_or("-") << ")";
    }
};

enum class PageStatusLevel { good, waiting, bad, off };

struct PageStatusLine {
    PageStatusLevel level = PageStatusLevel::off;
    std::string text;

    friend bool operator==(const PageStatusLine&, const PageStatusLine&) = default;
    friend std::ostream& operator<<(std::ostream& os, const PageStatusLine& line) {
        return os << static_cast<int>(line.level) << " " << line.text;
    }
};

enum class PageNoticeKind { informational, warning, problem };

struct PageNotice {
    PageNoticeKind kind = PageNoticeKind::informational;
    std::string title;
    std::string message;
    // Shell commands the message speaks of, shown whole under it.
    std::vector<std::string> commands{};

    friend bool operator==(const PageNotice&, const PageNotice&) = default;
    friend std::ostream& operator<<(std::ostream& os, const PageNotice& notice) {
        return os << static_cast<int>(notice.kind) << " " << notice.title << ": " << notice.message;
    }
};

} // namespace ravolet
