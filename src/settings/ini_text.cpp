#include "settings/ini_text.h"

#include "platform/ascii.h"
#include "settings/blanks.h"

#include <cstddef>

namespace tidewell::ini {

namespace {

// Editors may start a UTF-8 file with this mark; it belongs to no line.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::size_t markLength(std::string_view text) {
    return text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
}

enum class Kind { Blank, Comment, Section, Key, Other };

struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;   // end of content, before the line end
    std::size_t next = 0;  // start of the following line
    Kind kind = Kind::Blank;
    std::string_view name;   // section or key name, trimmed
    std::size_t equals = 0;  // position of '=' in a key line
};

class Lines {
public:
    explicit Lines(std::string_view text) : text_(text), pos_(markLength(text)) {}

    bool next(Line& line) {
        if (pos_ >= text_.size()) return false;
        line = {};
        line.begin = pos_;
        std::size_t e = text_.find_first_of("\r\n", pos_);
        if (e == std::string_view::npos) e = text_.size();
        line.end = e;
        line.next = e;
        if (e < text_.size())
            line.next =
                (text_[e] == '\r' && e + 1 < text_.size() && text_[e + 1] == '\n') ? e + 2 : e + 1;
        pos_ = line.next;
        classify(line);
        return true;
    }

private:
    void classify(Line& line) const {
        std::string_view s = text_.substr(line.begin, line.end - line.begin);
        std::size_t lead = 0;
        while (lead < s.size() && isBlank(s[lead])) ++lead;
        if (lead == s.size()) return;
        if (s[lead] == ';') {
            line.kind = Kind::Comment;
        } else if (s[lead] == '[') {
            std::size_t close = s.find(']', lead);
            if (close == std::string_view::npos) {
                line.kind = Kind::Other;
            } else {
                line.kind = Kind::Section;
                line.name = trimBlanks(s.substr(lead + 1, close - lead - 1));
            }
        } else if (std::size_t eq = s.find('='); eq != std::string_view::npos) {
            line.kind = Kind::Key;
            line.name = trimBlanks(s.substr(lead, eq - lead));
            line.equals = line.begin + eq;
        } else {
            line.kind = Kind::Other;
        }
    }

    std::string_view text_;
    std::size_t pos_;
};

// Where a key is, or would go, in the first matching section.
struct Place {
    bool sectionFound = false;
    bool keyFound = false;
    Line key;          // the matching key line
    Line lastContent;  // the section's header or its last line that is neither blank nor comment
};

Place locate(std::string_view text, std::string_view section, std::string_view key) {
    Place place;
    Lines lines(text);
    Line line;
    bool inside = false;
    while (lines.next(line)) {
        if (line.kind == Kind::Section) {
            if (inside) break;  // only the first matching section counts
            if (ascii::equalsIgnoringCase(line.name, section)) {
                inside = place.sectionFound = true;
                place.lastContent = line;
            }
            continue;
        }
        if (!inside) continue;
        if (line.kind == Kind::Key || line.kind == Kind::Other) place.lastContent = line;
        if (line.kind == Kind::Key && ascii::equalsIgnoringCase(line.name, key)) {
            place.keyFound = true;
            place.key = line;
            break;
        }
    }
    return place;
}

std::string_view dominantLineEnd(std::string_view text) {
    std::size_t crlf = 0, lf = 0, cr = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++lf;
        } else if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++crlf, ++i;
            else
                ++cr;
        }
    }
    if (crlf > lf && crlf >= cr) return "\r\n";
    if (cr > lf && cr > crlf) return "\r";
    return "\n";
}

}  // namespace

std::optional<std::string> findValue(std::string_view text, std::string_view section,
                                     std::string_view key) {
    Place place = locate(text, section, key);
    if (!place.keyFound) return std::nullopt;
    std::string_view value =
        text.substr(place.key.equals + 1, place.key.end - place.key.equals - 1);
    value = trimBlanks(value.substr(0, value.find('\0')));
    // As Windows reads a hand-written value: one pair of matching quotes around it goes.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::string withValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value) {
    Place place = locate(text, section, key);
    std::string out;
    out.reserve(text.size() + section.size() + key.size() + value.size() + 8);
    if (place.keyFound) {
        out.append(text.substr(0, place.key.equals + 1));
        out.append(value);
        out.append(text.substr(place.key.end));
        return out;
    }
    std::string_view eol = dominantLineEnd(text);
    std::string keyLine = std::string(key) + "=" + std::string(value) + std::string(eol);
    if (place.sectionFound) {
        const Line& after = place.lastContent;
        out.append(text.substr(0, after.next));
        if (after.next == after.end) out.append(eol);  // the file's last line had no line end
        out.append(keyLine);
        out.append(text.substr(after.next));
        return out;
    }
    out.append(text);
    if (out.size() > markLength(text) && out.back() != '\n' && out.back() != '\r') out.append(eol);
    out.append("[").append(section).append("]").append(eol);
    out.append(keyLine);
    return out;
}

}  // namespace tidewell::ini
