// The JSON document of a WARN product: the header properties and one object per event, written
// straight from the event records in the layout of the property tree's pretty JSON writer.
#include "warn_document.h"

#include <array>
#include <charconv>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <boost/property_tree/json_parser/error.hpp>

#include "number_text.h"

namespace azm {

namespace {

using orva::Product;
using orva::Properties;

constexpr std::size_t event_size = 300;
constexpr std::size_t label_offset = 68;
constexpr std::size_t label_width = 232;
constexpr int generator_inputs = 3;

std::int32_t wordAt(const std::uint8_t *record, std::size_t offset) {
    std::int32_t word;
    std::memcpy(&word, record + offset, sizeof word);
    return word;
}

// A bin4 angle read signed: -180 up to below 180 degrees.
double degreesAt(const std::uint8_t *record, std::size_t offset) {
    return 180.0 * wordAt(record, offset) / 2147483648.0;
}

// The label ends at its NUL, or at the end of its field when it fills all of it.
std::string_view labelOf(const std::uint8_t *record) {
    const char *label = reinterpret_cast<const char *>(record + label_offset);
    return {label, strnlen(label, label_width)};
}

// How the property tree's JSON writer writes each byte of a text: 0 as it is, else the letter of
// a two-character escape, or 'u' for a \u00XX escape. Bytes from 0x80 up pass unchanged.
constexpr std::array<char, 256> escapes = [] {
    std::array<char, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[c] = 'u';
    }
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    table['/'] = '/';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}();

constexpr std::size_t longest_escape = 6;  // \u00XX
constexpr std::size_t longest_number = number16_text_room;

char *put(char *to, std::string_view text) {
    std::memcpy(to, text.data(), text.size());
    return to + text.size();
}

char *putIndent(char *to, int level) {
    std::memset(to, ' ', 4 * static_cast<std::size_t>(level));
    return to + 4 * level;
}

char *putEscaped(char *to, std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const char escape = escapes[static_cast<unsigned char>(c)];
        if (escape == 0) {
            *to++ = c;
        } else if (escape != 'u') {
            *to++ = '\\';
            *to++ = escape;
        } else {
            to = put(to, "\\u00");
            *to++ = hex[(c >> 4) & 0xF];
            *to++ = hex[c & 0xF];
        }
    }
    return to;
}

// Output gathered in a large buffer and handed to the stream a buffer at a time.
class Output {
  public:
    explicit Output(std::ostream &stream) : stream_(stream), buffer_(256 * 1024) {}

    // Where the next n bytes go; commit() says where they ended.
    char *room(std::size_t n) {
        if (buffer_.size() - used_ < n) {
            flush();
            if (buffer_.size() < n) {
                buffer_.resize(n);
            }
        }
        return buffer_.data() + used_;
    }
    void commit(const char *end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }

    void flush() {
        stream_.write(buffer_.data(), static_cast<std::streamsize>(used_));
        used_ = 0;
    }

  private:
    std::ostream &stream_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// The member lines of one event at the depth of the events inside "data".
struct EventLines {
    static constexpr std::string_view lat = "            \"lat\": \"";
    static constexpr std::string_view lon = "            \"lon\": \"";
    static constexpr std::string_view alt = "            \"alt\": \"";
    static constexpr std::string_view area = "            \"area\": \"";
    static constexpr std::string_view major = "            \"ellipse_major\": \"";
    static constexpr std::string_view minor = "            \"ellipse_minor\": \"";
    static constexpr std::string_view azimuth = "            \"ellipse_azimuth\": \"";
    static constexpr std::string_view label = "            \"text_label\": \"";
    static constexpr std::string_view scale = "            \"input_scale_km_per_pix\": \"";
    static constexpr std::string_view input = "            \"input";
    static constexpr std::string_view input_open = "\": {\n";
    static constexpr std::string_view max = "                \"max\": \"";
    static constexpr std::string_view average = "                \"average\": \"";
    static constexpr std::string_view input_close = "            }";
    static constexpr std::string_view value_next = "\",\n";
    static constexpr std::string_view value_last = "\"\n";
    static constexpr std::string_view event_close = "        }";
};

// The longest text of one event: its fixed lines, fifteen numbers and an all-escaped label.
constexpr std::size_t longest_event = 1024 + 15 * longest_number + label_width * longest_escape;

class DocumentWriter {
  public:
    DocumentWriter(std::ostream &stream, const Properties &header, const std::uint8_t *events,
                   int count)
        : output_(stream),
          header_(header),
          events_(events),
          count_(count),
          events_parent_(&header.get_child("data")) {}

    void write() {
        node(header_, 0);
        text("\n");
        output_.flush();
    }

  private:
    // A tree node as the property tree's JSON writer writes it: a leaf below the root as a
    // string, a node whose children all have empty keys as an array, anything else as an object.
    void node(const Properties &tree, int indent) {
        if (indent > 0 && tree.empty()) {
            const std::string &value = tree.data();
            char *to = output_.room(2 + value.size() * longest_escape);
            *to++ = '"';
            to = putEscaped(to, value);
            *to++ = '"';
            output_.commit(to);
            return;
        }
        const bool array = indent > 0 && tree.count(std::string()) == tree.size();
        const bool with_events = &tree == events_parent_ && count_ > 0;
        text(array ? "[\n" : "{\n");
        std::size_t left = tree.size();
        for (const auto &[key, child] : tree) {
            const bool last = --left == 0 && !with_events;
            char *to = output_.room(4 * (indent + 1) + 4 + key.size() * longest_escape);
            to = putIndent(to, indent + 1);
            if (!array) {
                *to++ = '"';
                to = putEscaped(to, key);
                to = put(to, "\": ");
            }
            output_.commit(to);
            node(child, indent + 1);
            text(last ? "\n" : ",\n");
        }
        if (with_events) {
            eventMembers();
        }
        char *to = putIndent(output_.room(4 * indent + 1), indent);
        *to++ = array ? ']' : '}';
        output_.commit(to);
    }

    // The objects event0, event1 ... as members of "data", which sits right below the root.
    void eventMembers() {
        using L = EventLines;
        for (int i = 0; i < count_; ++i) {
            const std::uint8_t *record = events_ + i * event_size;
            char *to = output_.room(longest_event);
            to = put(to, "        \"event");
            to = std::to_chars(to, to + longest_number, i).ptr;
            to = put(to, "\": {\n");
            to = number(to, L::lat, degreesAt(record, 0));
            to = number(to, L::lon, degreesAt(record, 4));
            to = number(to, L::alt, wordAt(record, 8) / 100.0);
            to = number(to, L::area, wordAt(record, 16) * 10000.0);
            to = number(to, L::major, wordAt(record, 20) / 100.0);
            to = number(to, L::minor, wordAt(record, 24) / 100.0);
            to = number(to, L::azimuth, degreesAt(record, 28));
            to = put(to, L::label);
            to = putEscaped(to, labelOf(record));
            to = put(to, L::value_next);
            to = number(to, L::scale, wordAt(record, 60) / 100000.0);
            for (int j = 0; j < generator_inputs; ++j) {
                to = put(to, L::input);
                *to++ = static_cast<char>('0' + j);
                to = put(to, L::input_open);
                to = number(to, L::max, wordAt(record, 36 + 4 * j) / 100.0);
                to = number(to, L::average, wordAt(record, 48 + 4 * j) / 100.0, true);
                to = put(to, L::input_close);
                to = put(to, j + 1 < generator_inputs ? ",\n" : "\n");
            }
            to = put(to, L::event_close);
            to = put(to, i + 1 < count_ ? ",\n" : "\n");
            output_.commit(to);
        }
    }

    static char *number(char *to, std::string_view line, double value, bool last = false) {
        to = put(to, line);
        to = number16Text(to, value);
        return put(to, last ? EventLines::value_last : EventLines::value_next);
    }

    void text(std::string_view text) { output_.commit(put(output_.room(text.size()), text)); }

    Output output_;
    const Properties &header_;
    const std::uint8_t *events_;
    int count_;
    const Properties *events_parent_;
};

// What the property tree's JSON writer refuses: data at the root, or a node with both data and
// children.
bool representable(const Properties &tree, bool root) {
    if (!tree.data().empty() && (root || !tree.empty())) {
        return false;
    }
    for (const auto &child : tree) {
        if (!representable(child.second, false)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<WarnDocument> WarnDocument::of(Product &product) {
    const Properties &tree = product.getProperties(0);
    const std::string category = tree.get<std::string>("category");
    const std::string product_type = tree.get<std::string>("product_type");
    if (product.getSectionCount() > 1 || category != "Event" || product_type != "WARN") {
        return std::nullopt;
    }
    const int count = tree.get<int>("data.count");
    const std::size_t size = product.getDataSize(0);
    if (count < 0) {
        throw BadProduct("the product gives a negative event count (" + std::to_string(count) +
                         ")");
    }
    if (count > 0 && size == 0) {
        throw BadProduct("the product announces " + std::to_string(count) +
                         " events but holds no event data");
    }
    if (size != count * event_size) {
        throw BadProduct("the event data hold " + std::to_string(size) + " bytes, " +
                         std::to_string(count) + " events need " +
                         std::to_string(count * event_size));
    }
    if (!representable(tree, true)) {
        throw boost::property_tree::json_parser::json_parser_error(
            "ptree contains data that cannot be represented in JSON format", "", 0);
    }
    return WarnDocument(tree, product.getData(0), count);
}

void WarnDocument::write(std::ostream &output) const {
    DocumentWriter(output, *header_, events_, count_).write();
}

}  // namespace azm
