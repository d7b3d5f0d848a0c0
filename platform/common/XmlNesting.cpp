#include "platform/common/XmlNesting.h"

#include <algorithm>
#include <vector>

namespace platform::common::detail {

namespace {

// libplist 2.2's XML reader is its own: it matches tag names byte for byte, reads text up to
// the next '<', skips quoted parts of some tags and stops once the first container closes.
// The bound must never fall below the depth libplist reaches, so the exact reading below only
// covers the layout writers produce, where both readers surely agree, and anything else
// falls back to counting every later opening tag without subtracting a closing one.
class NestingScan {
public:
    NestingScan(std::string_view text, std::size_t enough) : text_(text), enough_(enough) {}

    std::size_t bound() {
        for (;;) {
            skipSpace();
            if (position_ >= text_.size()) {
                return deepest_;
            }
            const std::size_t tag = position_;
            if (!readMarkup()) {
                return countOpeningTagsFrom(tag);
            }
            if (deepest_ > enough_) {
                return deepest_;
            }
        }
    }

private:
    enum class Element { Plist, Container };

    bool startsWith(std::string_view prefix) const {
        return text_.substr(position_).starts_with(prefix);
    }

    void skipSpace() {
        while (position_ < text_.size() && isSpace(text_[position_])) {
            ++position_;
        }
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    // Whether `part` of a tag reads the same whether or not quotes are skipped: no quoted
    // section that could hide an end of tag, no apostrophes, no nested markup.
    static bool plainTagBody(std::string_view part) {
        return part.find_first_of("<>'[") == std::string_view::npos &&
               std::count(part.begin(), part.end(), '"') % 2 == 0;
    }

    // Reads one piece of markup at position_ (a '<'); false where the exact reading stops.
    bool readMarkup() {
        if (text_[position_] != '<') {
            return false;
        }
        if (startsWith("<?")) {
            return skipDeclaration(2, "?>");
        }
        if (startsWith("<!DOCTYPE")) {
            return skipDeclaration(9, ">");
        }
        if (startsWith("</")) {
            return readClosingTag();
        }
        return readOpeningTag();
    }

    bool skipDeclaration(std::size_t opening, std::string_view closing) {
        const std::size_t end = text_.find(closing, position_ + opening);
        if (end == std::string_view::npos ||
            !plainTagBody(text_.substr(position_ + opening, end - position_ - opening))) {
            return false;
        }
        position_ = end + closing.size();
        return true;
    }

    // The lower-case name after position_ + `skip`; position_ moves past it.
    std::string_view readName(std::size_t skip) {
        position_ += skip;
        const std::size_t start = position_;
        while (position_ < text_.size() && text_[position_] >= 'a' && text_[position_] <= 'z') {
            ++position_;
        }
        return text_.substr(start, position_ - start);
    }

    // Reads what follows a tag's name: spaces, then ">" or "/>". Gives whether the tag was
    // empty in `empty`; false for anything else (attributes, stray bytes).
    bool readTagEnd(bool& empty) {
        skipSpace();
        empty = startsWith("/>");
        if (!empty && !startsWith(">")) {
            return false;
        }
        position_ += empty ? 2 : 1;
        return true;
    }

    bool readClosingTag() {
        const std::string_view name = readName(2);
        if (!startsWith(">") || open_.empty()) {
            return false;
        }
        const Element expected = name == "plist" ? Element::Plist : Element::Container;
        if ((name != "plist" && name != "array" && name != "dict") || open_.back() != expected) {
            return false;
        }
        ++position_;
        open_.pop_back();
        if (expected == Element::Container && --containers_ == 0) {
            // libplist stops at the end of the outermost container; whatever follows it is
            // counted without trusting the reading.
            return false;
        }
        return true;
    }

    // The one tag with attributes in writers' output: <plist version="1.0">.
    bool readPlistTag() {
        if (position_ >= text_.size() || (text_[position_] != '>' && !isSpace(text_[position_]))) {
            return false;
        }
        const std::size_t end = text_.find('>', position_);
        if (end == std::string_view::npos) {
            return false;
        }
        const std::string_view attributes = text_.substr(position_, end - position_);
        if (!plainTagBody(attributes) || attributes.ends_with('/')) {
            return false;
        }
        position_ = end + 1;
        open_.push_back(Element::Plist);
        return true;
    }

    bool readOpeningTag() {
        const std::string_view name = readName(1);
        if (name == "plist") {
            return readPlistTag();
        }
        bool empty = false;
        if (!readTagEnd(empty)) {
            return false;
        }
        if (name == "array" || name == "dict") {
            if (empty && containers_ == 0) {
                // libplist takes even an empty container at the top as the parent of what
                // follows.
                return false;
            }
            // An empty container is a level of the tree too, with nothing below it.
            deepest_ = std::max(deepest_, containers_ + 1);
            if (!empty) {
                open_.push_back(Element::Container);
                ++containers_;
            }
            return true;
        }
        if (name == "true" || name == "false") {
            return empty;
        }
        if (name != "key" && name != "string" && name != "data" && name != "date" &&
            name != "integer" && name != "real") {
            return false;
        }
        if (containers_ == 0) {
            // A value outside any container is the whole tree for libplist.
            return false;
        }
        if (empty) {
            return true;
        }
        // Text runs to the next '<', which must close the element: no CDATA, no comments.
        const std::size_t end = text_.find('<', position_);
        if (end == std::string_view::npos) {
            return false;
        }
        position_ = end;
        if (!startsWith("</") || readName(2) != name || !startsWith(">")) {
            return false;
        }
        ++position_;
        return true;
    }

    // The bound from `from` on: the depth reached so far plus every container tag that
    // follows, in markup, comments or text alike, empty ones included (an empty container
    // at the top holds what follows it).
    std::size_t countOpeningTagsFrom(std::size_t from) {
        std::size_t depth = containers_;
        for (std::size_t at = text_.find('<', from);
             at != std::string_view::npos && depth <= enough_; at = text_.find('<', at + 1)) {
            position_ = at;
            const std::string_view name = readName(1);
            if (name == "array" || name == "dict") {
                ++depth;
            }
        }
        return std::max(deepest_, depth);
    }

    std::string_view text_;
    std::size_t enough_;
    std::size_t position_ = 0;
    std::vector<Element> open_;
    std::size_t containers_ = 0;
    std::size_t deepest_ = 0;
};

}  // namespace

std::size_t xmlNestingBound(std::string_view text, std::size_t enough) {
    return NestingScan(text, enough).bound();
}

}  // namespace platform::common::detail
