#include "document/TextGrid.h"

#include "document/FileIO.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace phonaxis {

namespace {

// Times that should meet (an interval's end and the next one's start, a
// tier's edge and the grid's) may differ by this much per second of their
// size, and by at least this many seconds: what a tool that computes its
// boundaries in floating point leaves between them, far below any sample.
constexpr double kTimeTolerance = 1e-9;

bool nearlyEqual(double a, double b)
{
    return std::fabs(a - b) <= kTimeTolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// a <= b, allowing the tolerance above.
bool notAfter(double a, double b)
{
    return a <= b || nearlyEqual(a, b);
}

// Up to 15 significant digits, the shortest text that gives the value back at
// that precision ("0.35", "1e-05"); independent of the process's locale.
std::string formatTime(double value)
{
    std::array<char, 40> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    return std::string(buffer.data(), result.ptr);
}

std::string lineText(int line)
{
    return "line " + std::to_string(line) + ": ";
}

// --- decoding ------------------------------------------------------------------

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point of the UTF-8 sequence at `at` (its length in `length`), or
// nothing for a sequence that is not valid UTF-8 (overlong, a surrogate,
// past U+10FFFF, cut short).
std::optional<char32_t> nextUtf8(std::string_view text, std::size_t at, std::size_t& length)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    char32_t c = 0;
    char32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        lowest = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return std::nullopt;
    }
    return c;
}

// The file's text as UTF-8 without a byte-order mark; false and `error` for
// bytes that are not valid in the encoding found.
bool decodeText(std::span<const std::uint8_t> bytes, std::string& text, TextGridFileForm& form,
                std::string& error)
{
    const auto startsWith = [&](std::initializer_list<std::uint8_t> prefix) {
        return bytes.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), bytes.begin());
    };
    form.byteOrderMark = true;
    std::size_t start = 0;
    if (startsWith({0xEF, 0xBB, 0xBF})) {
        form.encoding = TextGridEncoding::Utf8;
        start = 3;
    } else if (startsWith({0xFE, 0xFF})) {
        form.encoding = TextGridEncoding::Utf16BigEndian;
        start = 2;
    } else if (startsWith({0xFF, 0xFE})) {
        form.encoding = TextGridEncoding::Utf16LittleEndian;
        start = 2;
    } else {
        form.byteOrderMark = false;
        // Without a mark, UTF-16 shows in its NUL bytes: the file starts
        // with an ASCII character, whose high byte is zero.
        form.encoding = TextGridEncoding::Utf8;
        if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0) {
            form.encoding = TextGridEncoding::Utf16BigEndian;
        } else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) {
            form.encoding = TextGridEncoding::Utf16LittleEndian;
        }
    }

    int line = 1;
    text.clear();
    if (form.encoding == TextGridEncoding::Utf8) {
        const std::string_view raw(reinterpret_cast<const char*>(bytes.data()) + start,
                                   bytes.size() - start);
        for (std::size_t at = 0; at < raw.size();) {
            std::size_t length = 0;
            const auto c = nextUtf8(raw, at, length);
            if (!c) {
                error = lineText(line) + "the text is not valid UTF-8.";
                return false;
            }
            if (*c == 0) {
                error = lineText(line) + "the text holds a NUL character.";
                return false;
            }
            line += *c == '\n' ? 1 : 0;
            at += length;
        }
        text.assign(raw);
        return true;
    }

    const bool bigEndian = form.encoding == TextGridEncoding::Utf16BigEndian;
    const auto unit = [&](std::size_t at) -> char32_t {
        return bigEndian ? char32_t(bytes[at] << 8 | bytes[at + 1])
                         : char32_t(bytes[at + 1] << 8 | bytes[at]);
    };
    text.reserve((bytes.size() - start) / 2);
    for (std::size_t at = start; at < bytes.size();) {
        if (bytes.size() - at < 2) {
            error = lineText(line) + "the file ends in the middle of a UTF-16 character.";
            return false;
        }
        char32_t c = unit(at);
        at += 2;
        if (c >= 0xDC00 && c <= 0xDFFF) {
            error = lineText(line) + "the text is not valid UTF-16 (a lone low surrogate).";
            return false;
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            const char32_t low = bytes.size() - at >= 2 ? unit(at) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                error = lineText(line) + "the text is not valid UTF-16 (a lone high surrogate).";
                return false;
            }
            at += 2;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
        if (c == 0) {
            error = lineText(line) + "the text holds a NUL character.";
            return false;
        }
        line += c == '\n' ? 1 : 0;
        appendUtf8(text, c);
    }
    return true;
}

// --- parsing -------------------------------------------------------------------

// The least number of bytes each counted item takes in the short form (the
// long form takes more), so that a count the rest of the file cannot hold is
// declined before anything is allocated for it.
constexpr std::size_t kLeastTierBytes = 12;    // "TextTier" "" 0 0 0
constexpr std::size_t kLeastIntervalBytes = 6; // 0 0 ""
constexpr std::size_t kLeastPointBytes = 4;    // 0 ""

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Reads the grid from its UTF-8 text. Every value is preceded, in the long
// form, by its label ("xmin =", "intervals [3]:"), matched with any
// whitespace between its characters; the short form has the bare values.
class GridParser {
public:
    explicit GridParser(std::string_view text) : m_text(text) {}

    std::optional<TextGrid> parse(TextGridForm& form, std::string& error);

private:
    bool fail(int line, const std::string& message)
    {
        m_error = lineText(line) + message;
        return false;
    }
    void skipSpace()
    {
        while (m_at < m_text.size() && isSpace(m_text[m_at])) {
            m_line += m_text[m_at] == '\n' ? 1 : 0;
            ++m_at;
        }
    }
    bool atEnd()
    {
        skipSpace();
        return m_at >= m_text.size();
    }
    // What stands at the reader's place, for messages: the rest of the line,
    // shortened.
    std::string found()
    {
        if (atEnd()) {
            return "the end of the file";
        }
        std::size_t end = m_text.find_first_of("\r\n", m_at);
        end = std::min({end, m_text.size(), m_at + 40});
        return "\"" + std::string(m_text.substr(m_at, end - m_at)) + "\"";
    }
    bool tryLabel(std::string_view label);
    bool label(std::string_view label, const std::string& context);
    bool token(std::string_view& out);
    bool readNumber(std::string_view label, const std::string& what, double& out, int& line);
    bool readCount(std::string_view label, const std::string& what, std::size_t leastBytes,
                   std::size_t& out);
    bool readString(std::string_view label, const std::string& what, std::string& out);
    bool tier(std::size_t index, std::size_t tiers, TextGridTier& tier);
    bool intervals(std::size_t tierIndex, TextGridTier& tier);
    bool points(std::size_t tierIndex, TextGridTier& tier);

    std::string_view m_text;
    std::size_t m_at = 0;
    int m_line = 1;
    bool m_long = true;
    std::string m_error;
    TextGrid m_grid;
};

// Matches `label` at the reader's place, whitespace ignored on both sides;
// on a mismatch the place stays.
bool GridParser::tryLabel(std::string_view label)
{
    const std::size_t at = m_at;
    const int line = m_line;
    for (const char c : label) {
        if (isSpace(c)) {
            continue;
        }
        skipSpace();
        if (m_at >= m_text.size() || m_text[m_at] != c) {
            m_at = at;
            m_line = line;
            return false;
        }
        ++m_at;
    }
    return true;
}

bool GridParser::label(std::string_view label, const std::string& context)
{
    if (!m_long || tryLabel(label)) {
        return true;
    }
    skipSpace();
    return fail(m_line,
                "expected \"" + std::string(label) + "\"" + context + ", found " + found() + ".");
}

// The next run of non-space characters.
bool GridParser::token(std::string_view& out)
{
    skipSpace();
    const std::size_t start = m_at;
    while (m_at < m_text.size() && !isSpace(m_text[m_at])) {
        ++m_at;
    }
    out = m_text.substr(start, m_at - start);
    return !out.empty();
}

bool GridParser::readNumber(std::string_view name, const std::string& what, double& out, int& line)
{
    if (!label(name, " for " + what)) {
        return false;
    }
    skipSpace();
    line = m_line;
    const std::string shown = found();
    std::string_view text;
    if (!token(text)) {
        return fail(line, "the file ends before " + what + ".");
    }
    if (text.size() > 1 && text.front() == '+') {
        text.remove_prefix(1);
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    if (result.ec == std::errc::result_out_of_range) {
        return fail(line, what + " is not a finite number (" + shown + ").");
    }
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return fail(line, "expected a number for " + what + ", found " + shown + ".");
    }
    if (!std::isfinite(out)) {
        return fail(line, what + " is not a finite number (" + shown + ").");
    }
    return true;
}

bool GridParser::readCount(std::string_view name, const std::string& what, std::size_t leastBytes,
                           std::size_t& out)
{
    if (!label(name, " for " + what)) {
        return false;
    }
    skipSpace();
    const int line = m_line;
    const std::string shown = found();
    std::string_view text;
    if (!token(text)) {
        return fail(line, "the file ends before " + what + ".");
    }
    std::uint64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return fail(line, "expected a count for " + what + ", found " + shown + ".");
    }
    const std::size_t left = m_text.size() - m_at;
    if (value > left / leastBytes + 1) {
        return fail(line, what + " is " + std::string(text) +
                              ", more than the rest of the file could hold.");
    }
    out = static_cast<std::size_t>(value);
    return true;
}

// A text in double quotes, a doubled quote standing for one; it may span
// lines (a CR LF inside becomes a line feed).
bool GridParser::readString(std::string_view name, const std::string& what, std::string& out)
{
    if (!label(name, " for " + what)) {
        return false;
    }
    skipSpace();
    const int line = m_line;
    if (m_at >= m_text.size()) {
        return fail(line, "the file ends before " + what + ".");
    }
    if (m_text[m_at] != '"') {
        return fail(line, "expected " + what + " in double quotes, found " + found() + ".");
    }
    out.clear();
    for (std::size_t at = m_at + 1; at < m_text.size(); ++at) {
        const char c = m_text[at];
        if (c == '"') {
            if (at + 1 < m_text.size() && m_text[at + 1] == '"') {
                out += '"';
                ++at;
                continue;
            }
            m_at = at + 1;
            return true;
        }
        if (c == '\n') {
            ++m_line;
        }
        if (c == '\r' && at + 1 < m_text.size() && m_text[at + 1] == '\n') {
            continue;
        }
        out += c;
    }
    return fail(line, what + " has no closing quote before the end of the file.");
}

std::optional<TextGrid> GridParser::parse(TextGridForm& form, std::string& error)
{
    const auto failed = [&]() -> std::optional<TextGrid> {
        error = m_error;
        return std::nullopt;
    };
    std::string fileType;
    m_long = true;
    if (!tryLabel("File type =")) {
        skipSpace();
        fail(m_line, "this is not a TextGrid text file (it does not start with \"File type = "
                     "\\\"ooTextFile\\\"\").");
        return failed();
    }
    if (!readString("", "the file type", fileType)) {
        return failed();
    }
    if (fileType != "ooTextFile" && fileType != "ooTextFile short") {
        fail(m_line, "the file type is \"" + fileType +
                         "\"; only text files (\"ooTextFile\") "
                         "can be read.");
        return failed();
    }
    // The old short header gives the class bare on its second line.
    std::string objectClass;
    tryLabel("Object class =");
    if (!readString("", "the object class", objectClass)) {
        return failed();
    }
    if (objectClass != "TextGrid") {
        fail(m_line, "the file holds a \"" + objectClass + "\", not a TextGrid.");
        return failed();
    }
    skipSpace();
    // The long form labels its first value; the short form (whichever of its
    // two headers it has) starts with the bare number.
    m_long = fileType == "ooTextFile" && m_at < m_text.size() && m_text[m_at] == 'x';
    form = m_long ? TextGridForm::Long : TextGridForm::Short;

    int line = 0;
    int xmaxLine = 0;
    if (!readNumber("xmin =", "the grid's start time (xmin)", m_grid.xmin, line) ||
        !readNumber("xmax =", "the grid's end time (xmax)", m_grid.xmax, xmaxLine)) {
        return failed();
    }
    if (m_grid.xmin > m_grid.xmax) {
        fail(xmaxLine, "the grid ends (xmax = " + formatTime(m_grid.xmax) +
                           ") before it starts (xmin = " + formatTime(m_grid.xmin) + ").");
        return failed();
    }
    if (m_long && !label("tiers?", "")) {
        return failed();
    }
    bool haveTiers = true;
    skipSpace();
    if (m_at < m_text.size() && m_text[m_at] == '<') {
        std::string_view flag;
        const int flagLine = m_line;
        token(flag);
        if (flag == "<absent>") {
            haveTiers = false;
        } else if (flag != "<exists>") {
            fail(flagLine, "expected \"<exists>\" or \"<absent>\" after \"tiers?\", found \"" +
                               std::string(flag) + "\".");
            return failed();
        }
    }
    if (haveTiers) {
        std::size_t tiers = 0;
        if (!readCount("size =", "the number of tiers", kLeastTierBytes, tiers)) {
            return failed();
        }
        if (m_long && !label("item []:", "")) {
            return failed();
        }
        for (std::size_t i = 0; i < tiers; ++i) {
            TextGridTier tier;
            if (!this->tier(i, tiers, tier)) {
                return failed();
            }
            m_grid.tiers.push_back(std::move(tier));
        }
    }
    if (!atEnd()) {
        fail(m_line, "unexpected text after the last tier: " + found() + ".");
        return failed();
    }
    return std::move(m_grid);
}

bool GridParser::tier(std::size_t index, std::size_t tiers, TextGridTier& tier)
{
    const std::string number = std::to_string(index + 1);
    const std::string name = "tier " + number;
    skipSpace();
    const int startLine = m_line;
    if (m_long && !tryLabel("item [" + number + "]:")) {
        skipSpace();
        return fail(m_line, "expected \"item [" + number + "]:\" (the grid has " +
                                std::to_string(tiers) + " tiers), found " + found() + ".");
    }
    std::string tierClass;
    if (!readString("class =", "the class of " + name, tierClass)) {
        return false;
    }
    if (tierClass == "IntervalTier") {
        tier.isIntervalTier = true;
    } else if (tierClass == "TextTier") {
        tier.isIntervalTier = false;
    } else {
        return fail(m_line, name + " is a \"" + tierClass +
                                "\"; only \"IntervalTier\" and \"TextTier\" tiers can be read.");
    }
    int line = 0;
    int xmaxLine = 0;
    if (!readString("name =", "the name of " + name, tier.name) ||
        !readNumber("xmin =", "the start time of " + name, tier.xmin, line) ||
        !readNumber("xmax =", "the end time of " + name, tier.xmax, xmaxLine)) {
        return false;
    }
    if (tier.xmin > tier.xmax) {
        return fail(xmaxLine, name + " ends (xmax = " + formatTime(tier.xmax) +
                                  ") before it starts (xmin = " + formatTime(tier.xmin) + ").");
    }
    if (!notAfter(m_grid.xmin, tier.xmin) || !notAfter(tier.xmax, m_grid.xmax)) {
        return fail(startLine, name + " (\"" + tier.name + "\") runs from " +
                                   formatTime(tier.xmin) + " to " + formatTime(tier.xmax) +
                                   " s, outside the grid's " + formatTime(m_grid.xmin) + " to " +
                                   formatTime(m_grid.xmax) + " s.");
    }
    return tier.isIntervalTier ? intervals(index, tier) : points(index, tier);
}

bool GridParser::intervals(std::size_t tierIndex, TextGridTier& tier)
{
    const std::string name = "tier " + std::to_string(tierIndex + 1);
    std::size_t size = 0;
    skipSpace();
    const int sizeLine = m_line;
    if (!readCount("intervals: size =", "the number of intervals of " + name, kLeastIntervalBytes,
                   size)) {
        return false;
    }
    if (size == 0) {
        return fail(sizeLine, name + " has no intervals; an interval tier covers its time "
                                     "range with at least one.");
    }
    for (std::size_t i = 0; i < size; ++i) {
        const std::string number = std::to_string(i + 1);
        const std::string what = "interval " + number + " of " + name;
        skipSpace();
        if (m_long && !tryLabel("intervals [" + number + "]:")) {
            return fail(m_line, "expected \"intervals [" + number + "]:\" (" + name + " has " +
                                    std::to_string(size) + " intervals), found " + found() + ".");
        }
        TextGridInterval interval;
        int startLine = 0;
        int endLine = 0;
        if (!readNumber("xmin =", "the start time of " + what, interval.xmin, startLine) ||
            !readNumber("xmax =", "the end time of " + what, interval.xmax, endLine) ||
            !readString("text =", "the text of " + what, interval.text)) {
            return false;
        }
        if (interval.xmin > interval.xmax) {
            return fail(endLine, what + " ends (" + formatTime(interval.xmax) +
                                     " s) before it starts (" + formatTime(interval.xmin) + " s).");
        }
        const double expectedStart = i == 0 ? tier.xmin : tier.intervals.back().xmax;
        if (!nearlyEqual(interval.xmin, expectedStart)) {
            return fail(startLine,
                        what + " starts at " + formatTime(interval.xmin) + " s, not at " +
                            (i == 0 ? "the tier's start" : "the end of the interval before it") +
                            " (" + formatTime(expectedStart) +
                            " s); intervals must cover the tier without gaps or overlaps.");
        }
        if (i + 1 == size && !nearlyEqual(interval.xmax, tier.xmax)) {
            return fail(endLine, "the last interval of " + name + " ends at " +
                                     formatTime(interval.xmax) + " s, not at the tier's end (" +
                                     formatTime(tier.xmax) + " s).");
        }
        tier.intervals.push_back(std::move(interval));
    }
    return true;
}

bool GridParser::points(std::size_t tierIndex, TextGridTier& tier)
{
    const std::string name = "tier " + std::to_string(tierIndex + 1);
    std::size_t size = 0;
    if (!readCount("points: size =", "the number of points of " + name, kLeastPointBytes, size)) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const std::string number = std::to_string(i + 1);
        const std::string what = "point " + number + " of " + name;
        skipSpace();
        if (m_long && !tryLabel("points [" + number + "]:")) {
            return fail(m_line, "expected \"points [" + number + "]:\" (" + name + " has " +
                                    std::to_string(size) + " points), found " + found() + ".");
        }
        // Files name the time "number" or "time", as their writers did.
        if (m_long && !tryLabel("number =") && !tryLabel("time =")) {
            skipSpace();
            return fail(m_line, "expected \"number =\" or \"time =\" for the time of " + what +
                                    ", found " + found() + ".");
        }
        TextGridPoint point;
        int line = 0;
        if (!readNumber("", "the time of " + what, point.time, line) ||
            !readString("mark =", "the mark of " + what, point.mark)) {
            return false;
        }
        if (!notAfter(tier.xmin, point.time) || !notAfter(point.time, tier.xmax)) {
            return fail(line, what + " (at " + formatTime(point.time) +
                                  " s) lies outside the tier's " + formatTime(tier.xmin) + " to " +
                                  formatTime(tier.xmax) + " s.");
        }
        if (!tier.points.empty() && point.time < tier.points.back().time) {
            return fail(line, what + " (at " + formatTime(point.time) +
                                  " s) comes before the point before it (at " +
                                  formatTime(tier.points.back().time) +
                                  " s); points must be in time order.");
        }
        tier.points.push_back(std::move(point));
    }
    return true;
}

// --- writing -------------------------------------------------------------------

// `text` as valid UTF-8: each byte that starts no valid sequence becomes
// U+FFFD, so that every written file reads back.
std::string validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const auto c = nextUtf8(text, at, length);
        if (!c || *c == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

std::string quotedText(std::string_view text)
{
    std::string out = "\"";
    for (const char c : validUtf8(text)) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

// The long form's layout: every labelled value ends with a space, headings
// ("item [1]:") do not, each level indented by four spaces.
std::string longText(const TextGrid& grid)
{
    std::string out = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n";
    const auto value = [&](int level, std::string_view label, const std::string& text) {
        out.append(static_cast<std::size_t>(level) * 4, ' ');
        out.append(label).append(" = ").append(text).append(" \n");
    };
    const auto heading = [&](int level, const std::string& text) {
        out.append(static_cast<std::size_t>(level) * 4, ' ').append(text).append("\n");
    };
    value(0, "xmin", formatTime(grid.xmin));
    value(0, "xmax", formatTime(grid.xmax));
    if (grid.tiers.empty()) {
        out += "tiers? <absent> \n";
        return out;
    }
    out += "tiers? <exists> \n";
    value(0, "size", std::to_string(grid.tiers.size()));
    out += "item []: \n";
    for (std::size_t i = 0; i < grid.tiers.size(); ++i) {
        const TextGridTier& tier = grid.tiers[i];
        heading(1, "item [" + std::to_string(i + 1) + "]:");
        value(2, "class", tier.isIntervalTier ? "\"IntervalTier\"" : "\"TextTier\"");
        value(2, "name", quotedText(tier.name));
        value(2, "xmin", formatTime(tier.xmin));
        value(2, "xmax", formatTime(tier.xmax));
        if (tier.isIntervalTier) {
            value(2, "intervals: size", std::to_string(tier.intervals.size()));
            for (std::size_t k = 0; k < tier.intervals.size(); ++k) {
                const TextGridInterval& interval = tier.intervals[k];
                heading(2, "intervals [" + std::to_string(k + 1) + "]:");
                value(3, "xmin", formatTime(interval.xmin));
                value(3, "xmax", formatTime(interval.xmax));
                value(3, "text", quotedText(interval.text));
            }
        } else {
            value(2, "points: size", std::to_string(tier.points.size()));
            for (std::size_t k = 0; k < tier.points.size(); ++k) {
                const TextGridPoint& point = tier.points[k];
                heading(2, "points [" + std::to_string(k + 1) + "]:");
                value(3, "number", formatTime(point.time));
                value(3, "mark", quotedText(point.mark));
            }
        }
    }
    return out;
}

std::string shortText(const TextGrid& grid)
{
    std::string out = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n";
    const auto line = [&](const std::string& text) { out.append(text).append("\n"); };
    line(formatTime(grid.xmin));
    line(formatTime(grid.xmax));
    if (grid.tiers.empty()) {
        line("<absent>");
        return out;
    }
    line("<exists>");
    line(std::to_string(grid.tiers.size()));
    for (const TextGridTier& tier : grid.tiers) {
        line(tier.isIntervalTier ? "\"IntervalTier\"" : "\"TextTier\"");
        line(quotedText(tier.name));
        line(formatTime(tier.xmin));
        line(formatTime(tier.xmax));
        if (tier.isIntervalTier) {
            line(std::to_string(tier.intervals.size()));
            for (const TextGridInterval& interval : tier.intervals) {
                line(formatTime(interval.xmin));
                line(formatTime(interval.xmax));
                line(quotedText(interval.text));
            }
        } else {
            line(std::to_string(tier.points.size()));
            for (const TextGridPoint& point : tier.points) {
                line(formatTime(point.time));
                line(quotedText(point.mark));
            }
        }
    }
    return out;
}

} // namespace

// --- files -----------------------------------------------------------------------

std::optional<TextGrid> parseTextGrid(std::span<const std::uint8_t> bytes, std::string& error,
                                      TextGridFileForm* found)
{
    static constexpr std::string_view kBinary = "ooBinaryFile";
    if (bytes.size() >= kBinary.size() &&
        std::equal(kBinary.begin(), kBinary.end(), reinterpret_cast<const char*>(bytes.data()))) {
        error = lineText(1) + "this is a binary TextGrid (\"ooBinaryFile\"); only the text "
                              "forms can be read. Save it as a text file and open that.";
        return std::nullopt;
    }
    TextGridFileForm form;
    std::string text;
    if (!decodeText(bytes, text, form, error)) {
        return std::nullopt;
    }
    GridParser parser(text);
    auto grid = parser.parse(form.form, error);
    if (grid && found != nullptr) {
        *found = form;
    }
    return grid;
}

std::optional<TextGrid> readTextGridFile(const std::string& path, std::string& error,
                                         TextGridFileForm* found)
{
    FileContents contents;
    const FileCheck check{.kind = "a TextGrid file of at most 256 MB",
                          .largestSize = kLargestTextGridBytes};
    if (!contents.open(path, check, error)) {
        return std::nullopt;
    }
    std::string message;
    auto grid = parseTextGrid(contents.bytes(), message, found);
    if (!grid) {
        error = "\"" + path + "\" cannot be read as a TextGrid: " + message;
    }
    return grid;
}

std::vector<std::uint8_t> formatTextGrid(const TextGrid& grid, TextGridForm form,
                                         TextGridEncoding encoding)
{
    const std::string text = form == TextGridForm::Long ? longText(grid) : shortText(grid);
    std::vector<std::uint8_t> out;
    if (encoding == TextGridEncoding::Utf8) {
        out.assign(text.begin(), text.end());
        return out;
    }
    const bool bigEndian = encoding == TextGridEncoding::Utf16BigEndian;
    out.reserve(text.size() * 2 + 2);
    const auto unit = [&](char32_t c) {
        const auto high = static_cast<std::uint8_t>(c >> 8);
        const auto low = static_cast<std::uint8_t>(c & 0xFF);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    };
    unit(0xFEFF);
    // The text is valid UTF-8 throughout (quotedText() made the texts so).
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 1;
        const char32_t c = nextUtf8(text, at, length).value_or(0xFFFD);
        at += length;
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

bool writeTextGridFile(const TextGrid& grid, const std::string& path, TextGridForm form,
                       TextGridEncoding encoding, std::string& error)
{
    const auto bytes = formatTextGrid(grid, form, encoding);
    return writeFileAtomically(path, bytes, error);
}

} // namespace phonaxis
