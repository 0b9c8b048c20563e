#include "websockets/MessageParser.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace Varkon::QUILApi::WebSockets {

using nlohmann::json;

namespace {

// A string value at least this long whose text needs no unescaping is taken over as it stands,
// instead of character by character through the JSON library's lexer: a camera image arrives as
// a megabyte of Base64 text, whose lexing would cost far more than all the rest of its handling.
constexpr std::size_t kLongString = 4096;

// Whether every byte of `text` may stand in a JSON string as it is: no control character, no
// byte of a multi-byte sequence (whose validity the lexer would have to check). Eight bytes at a
// time: a byte below 0x20 borrows into its high bit when 0x20 is taken from it.
bool PlainAscii(std::string_view text) {
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    constexpr uint64_t kSpaces = 0x2020202020202020ULL;
    uint64_t bad = 0;
    std::size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + at, sizeof word);
        bad |= (word | (word - kSpaces)) & kHigh;
    }
    for (; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        bad |= byte < 0x20 || byte >= 0x80 ? kHigh : 0;
    }
    return bad == 0;
}

// A long plain string value of the text: its characters between the quotes, and how many
// string values (keys not counted) come before it.
struct LongString {
    std::size_t ordinal;
    std::size_t begin;
    std::size_t end;
};

struct Scan {
    bool tooDeep = false;
    std::vector<LongString> longStrings;
};

// One pass over the text: its nesting, and its long plain string values. For every text the JSON
// parser accepts, and every prefix of one, the nesting is exact and the strings are those the
// parser reads; a text the scan misreads is no JSON and fails to parse anyway. The scan jumps
// from quote to quote, so strings cost little; a parser callback, the other way to count, slows
// the parse of a profile's thousands of numbers by about 40 %.
Scan ScanText(std::string_view text, int limit) {
    Scan scan;
    int depth = 0;
    std::size_t stringValues = 0;
    const char* data = text.data();
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '"') {
            const std::size_t begin = i + 1;
            std::size_t end = begin;
            bool escaped = false;
            for (;;) {
                const void* quote = std::memchr(data + end, '"', size - end);
                if (quote == nullptr) {
                    return scan;  // unterminated: the parse fails
                }
                const auto quoteAt =
                    static_cast<std::size_t>(static_cast<const char*>(quote) - data);
                const void* backslash = std::memchr(data + end, '\\', quoteAt - end);
                if (backslash == nullptr) {
                    end = quoteAt;
                    break;
                }
                escaped = true;
                // The escaped character cannot end the string.
                end = static_cast<std::size_t>(static_cast<const char*>(backslash) - data) + 2;
                if (end >= size) {
                    return scan;
                }
            }
            std::size_t next = end + 1;
            while (next < size && (data[next] == ' ' || data[next] == '\t' || data[next] == '\n' ||
                                   data[next] == '\r')) {
                ++next;
            }
            if (next >= size || data[next] != ':') {
                if (!escaped && end - begin >= kLongString &&
                    PlainAscii(text.substr(begin, end - begin))) {
                    scan.longStrings.push_back({stringValues, begin, end});
                }
                ++stringValues;
            }
            i = end;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) {
                scan.tooDeep = true;
                return scan;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return scan;
}

// Builds the document from the parser's events, as the JSON library's own parse does, except
// that the long strings, cut out of the text it reads, are put back as they stand. Containers
// are filled in place through a stack of the open ones, so no event recurses.
class DocumentBuilder {
public:
    DocumentBuilder(json& result, std::string_view text, const std::vector<LongString>& longStrings)
        : result(result), text(text), longStrings(longStrings) {}

    bool string(json::string_t& value) {
        if (next < longStrings.size() && longStrings[next].ordinal == ordinal) {
            const LongString& cut = longStrings[next++];
            value.assign(text.data() + cut.begin, cut.end - cut.begin);
        }
        ++ordinal;
        Add(std::move(value));
        return true;
    }
    bool null() { return Add(nullptr); }
    bool boolean(bool value) { return Add(value); }
    bool number_integer(json::number_integer_t value) { return Add(value); }
    bool number_unsigned(json::number_unsigned_t value) { return Add(value); }
    bool number_float(json::number_float_t value, const json::string_t&) { return Add(value); }
    bool binary(json::binary_t& value) { return Add(json::binary(std::move(value))); }
    bool start_object(std::size_t) {
        open.push_back(Place(json::object()));
        return true;
    }
    bool key(json::string_t& name) {
        member = &(*open.back())[name];
        return true;
    }
    bool end_object() {
        open.pop_back();
        return true;
    }
    bool start_array(std::size_t) {
        open.push_back(Place(json::array()));
        return true;
    }
    bool end_array() {
        open.pop_back();
        return true;
    }
    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& error) {
        throw error;
    }

private:
    bool Add(json value) {
        Place(std::move(value));
        return true;
    }

    // Puts `value` where the document goes on: the whole document, the next element of the open
    // array, or the member of the open object whose key came last.
    json* Place(json value) {
        if (open.empty()) {
            result = std::move(value);
            return &result;
        }
        json& container = *open.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return &container.back();
        }
        *member = std::move(value);
        return member;
    }

    json& result;
    std::vector<json*> open;
    json* member = nullptr;
    std::string_view text;
    const std::vector<LongString>& longStrings;
    std::size_t next = 0;
    std::size_t ordinal = 0;
};

}  // namespace

json ParseMessage(std::string_view text) {
    const Scan scan = ScanText(text, kMaxMessageDepth);
    if (scan.tooDeep) {
        throw std::length_error("Message nested deeper than " + std::to_string(kMaxMessageDepth) +
                                " levels.");
    }
    if (scan.longStrings.empty()) {
        return json::parse(text.begin(), text.end());
    }
    std::string rest;
    std::size_t from = 0;
    for (const LongString& cut : scan.longStrings) {
        rest.append(text.data() + from, cut.begin - from);
        from = cut.end;
    }
    rest.append(text.data() + from, text.size() - from);
    json result;
    DocumentBuilder builder(result, text, scan.longStrings);
    json::sax_parse(rest, &builder);
    return result;
}

}  // namespace Varkon::QUILApi::WebSockets
