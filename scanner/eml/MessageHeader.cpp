#include "scanner/eml/MessageHeader.h"

#include <algorithm>
#include <array>

#include "common/CivilTime.h"
#include "common/Text.h"

namespace qb::eml {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

// The position after a comment that opens at i (comments nest; a backslash
// takes the next byte as it is). An unclosed comment runs to the end.
size_t SkipComment(std::string_view v, size_t i) {
    int depth = 0;
    for (; i < v.size(); ++i) {
        if (v[i] == '\\') {
            ++i;
        } else if (v[i] == '(') {
            ++depth;
        } else if (v[i] == ')' && --depth == 0) {
            return i + 1;
        }
    }
    return v.size();
}

// The position after a quoted string, or a domain literal, that opens at i
// with open and closes with close. An unclosed one runs to the end.
size_t SkipQuoted(std::string_view v, size_t i, char close) {
    for (++i; i < v.size(); ++i) {
        if (v[i] == '\\')
            ++i;
        else if (v[i] == close)
            return i + 1;
    }
    return v.size();
}

// The position after an encoded word ("=?charset?encoding?text?=") that
// starts at i; i when none starts there. Such a word belongs to a display
// name, whatever bytes its text holds.
size_t SkipEncodedWord(std::string_view v, size_t i) {
    if (v.substr(i, 2) != "=?")
        return i;
    size_t marks = 0;
    for (size_t j = i + 2; j + 1 < v.size() && !IsBlank(v[j]); ++j) {
        if (v[j] != '?')
            continue;
        if (++marks >= 3 && v[j + 1] == '=')
            return j + 2;
    }
    return i;
}

bool Acceptable(std::string_view a) {
    if (a.empty() || a.size() > kLongestAddress)
        return false;
    for (const char c : a) {
        if (IsControl(c))
            return false;
    }
    const size_t at = a.rfind('@');
    return at != std::string_view::npos && at > 0 && at + 1 < a.size();
}

}  // namespace

std::vector<std::string> ReadAddresses(std::string_view v) {
    std::vector<std::string> out;
    std::string bare;   // the mailbox's words outside angle brackets
    std::string angle;  // the address between angle brackets
    bool haveAngle = false;
    bool gap = false;     // white space or a comment since the last word
    bool broken = false;  // a quoted string or domain literal that never closed
    const auto finish = [&] {
        std::string& a = haveAngle ? angle : bare;
        // An obsolete source route ("@relay,@relay:local@domain") goes.
        if (!a.empty() && a[0] == '@') {
            const size_t colon = a.find(':');
            a.erase(0, colon == std::string::npos ? a.size() : colon + 1);
        }
        if (!broken && Acceptable(a))
            out.push_back(std::move(a));
        bare.clear();
        angle.clear();
        haveAngle = false;
        gap = false;
        broken = false;
    };
    // A word after a gap starts the mailbox's text anew, unless "." or "@"
    // joins it to the one before ("john @ example . com"): the words before
    // were a display name written without angle brackets.
    const auto word = [&](std::string_view w) {
        if (gap && !bare.empty() && bare.back() != '.' && bare.back() != '@' && w[0] != '.' &&
            w[0] != '@')
            bare.clear();
        gap = false;
        bare.append(w);
    };
    size_t i = 0;
    while (i < v.size()) {
        const char c = v[i];
        if (IsBlank(c)) {
            gap = true;
            ++i;
        } else if (c == '(') {
            i = SkipComment(v, i);
            gap = true;
        } else if (c == '"' || c == '[') {
            const char close = c == '"' ? '"' : ']';
            const size_t end = SkipQuoted(v, i, close);
            broken = broken || end - i < 2 || v[end - 1] != close;
            word(v.substr(i, end - i));
            i = end;
        } else if (c == '<') {
            // The address proper: everything to ">" but comments and blanks.
            angle.clear();
            haveAngle = true;
            for (++i; i < v.size() && v[i] != '>';) {
                if (v[i] == '(') {
                    i = SkipComment(v, i);
                } else if (v[i] == '"') {
                    const size_t end = SkipQuoted(v, i, '"');
                    angle.append(v.substr(i, end - i));
                    i = end;
                } else {
                    if (!IsBlank(v[i]))
                        angle.push_back(v[i]);
                    ++i;
                }
            }
            if (i < v.size())
                ++i;
        } else if (c == ',' || c == ';') {
            finish();
            ++i;
        } else if (c == ':' && !haveAngle) {
            // A group's name ends: its members follow.
            bare.clear();
            gap = false;
            ++i;
        } else if (const size_t after = SkipEncodedWord(v, i); after != i) {
            bare.clear();
            gap = true;
            i = after;
        } else {
            size_t end = i + 1;
            while (end < v.size() && !IsBlank(v[end]) && v[end] != '(' && v[end] != '"' &&
                   v[end] != '[' && v[end] != '<' && v[end] != ',' && v[end] != ';' &&
                   v[end] != ':')
                ++end;
            word(v.substr(i, end - i));
            i = end;
        }
    }
    finish();
    return out;
}

namespace {

// The date's words: comments and "," go, blanks separate.
std::vector<std::string_view> DateWords(std::string_view v, std::string& buffer) {
    buffer.clear();
    for (size_t i = 0; i < v.size();) {
        if (v[i] == '(') {
            i = SkipComment(v, i);
            buffer.push_back(' ');
        } else {
            buffer.push_back(v[i] == ',' || IsBlank(v[i]) ? ' ' : v[i]);
            ++i;
        }
    }
    std::vector<std::string_view> words;
    const std::string_view b = buffer;
    for (size_t i = 0; i < b.size();) {
        if (b[i] == ' ') {
            ++i;
            continue;
        }
        const size_t end = std::min(b.find(' ', i), b.size());
        words.push_back(b.substr(i, end - i));
        i = end;
    }
    return words;
}

// A whole number of at most max_digits digits; -1 otherwise.
int Number(std::string_view w, size_t max_digits) {
    if (w.empty() || w.size() > max_digits)
        return -1;
    int n = 0;
    for (const char c : w) {
        if (!IsDigit(c))
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

int MonthNumber(std::string_view w) {
    static constexpr std::array<const char*, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (w.size() < 3)
        return 0;
    for (size_t m = 0; m < kMonths.size(); ++m) {
        if (text::EqualNoCase(w.substr(0, 3), kMonths[m]))
            return static_cast<int>(m) + 1;
    }
    return 0;
}

// The zone's offset from UTC in minutes; "+hhmm", "-hhmm" or a name. A zone
// that is missing or not known counts as UTC.
int ZoneMinutes(std::string_view w) {
    if (w.size() == 5 && (w[0] == '+' || w[0] == '-')) {
        const int hhmm = Number(w.substr(1), 4);
        if (hhmm >= 0 && hhmm % 100 < 60) {
            const int minutes = hhmm / 100 * 60 + hhmm % 100;
            return w[0] == '-' ? -minutes : minutes;
        }
        return 0;
    }
    struct Zone {
        const char* name;
        int hours;
    };
    static constexpr std::array<Zone, 8> kZones = {{{"EST", -5},
                                                    {"EDT", -4},
                                                    {"CST", -6},
                                                    {"CDT", -5},
                                                    {"MST", -7},
                                                    {"MDT", -6},
                                                    {"PST", -8},
                                                    {"PDT", -7}}};
    for (const Zone& z : kZones) {
        if (text::EqualNoCase(w, z.name))
            return z.hours * 60;
    }
    return 0;
}

bool LeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : kDays[static_cast<size_t>(m - 1)];
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

}  // namespace

std::optional<int64_t> ReadDateHour(std::string_view value) {
    std::string buffer;
    std::vector<std::string_view> w = DateWords(value, buffer);
    size_t k = 0;
    // An optional day name first.
    if (k < w.size() && !w[k].empty() && !IsDigit(w[k][0]))
        ++k;
    if (w.size() < k + 4)
        return std::nullopt;
    const int day = Number(w[k], 2);
    const int month = MonthNumber(w[k + 1]);
    int year = Number(w[k + 2], 4);
    if (day < 1 || month == 0 || year < 0)
        return std::nullopt;
    if (w[k + 2].size() == 2)
        year += year < 50 ? 2000 : 1900;
    else if (w[k + 2].size() == 3)
        year += 1900;
    if (year < 1900 || day > DaysInMonth(year, month))
        return std::nullopt;
    // The time: "hh:mm" or "hh:mm:ss".
    const std::string_view t = w[k + 3];
    if (t.size() != 5 && t.size() != 8)
        return std::nullopt;
    const int hour = Number(t.substr(0, 2), 2);
    const int minute = Number(t.substr(3, 2), 2);
    const int second = t.size() == 8 ? Number(t.substr(6, 2), 2) : 0;
    if (t[2] != ':' || (t.size() == 8 && t[5] != ':') || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    const int zone = w.size() > k + 4 ? ZoneMinutes(w[k + 4]) : 0;
    const int64_t minutes = civil::HourNumber(year, month, day, hour) * 60 + minute - zone;
    return FloorDiv(minutes, 60);
}

namespace {

enum class Field { kOther, kFrom, kSender, kRecipients, kDate, kMessageId, kReceived };

Field FieldOf(std::string_view name) {
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    if (text::EqualNoCase(name, "From"))
        return Field::kFrom;
    if (text::EqualNoCase(name, "Sender"))
        return Field::kSender;
    if (text::EqualNoCase(name, "To") || text::EqualNoCase(name, "Cc") ||
        text::EqualNoCase(name, "Bcc"))
        return Field::kRecipients;
    if (text::EqualNoCase(name, "Date"))
        return Field::kDate;
    if (text::EqualNoCase(name, "Message-ID"))
        return Field::kMessageId;
    if (text::EqualNoCase(name, "Received"))
        return Field::kReceived;
    return Field::kOther;
}

// The identifier without blanks; empty for one that holds a control byte
// or is longer than a line may be.
std::string MessageIdOf(std::string_view value) {
    std::string id;
    for (const char c : value) {
        if (IsBlank(c))
            continue;
        if (IsControl(c))
            return {};
        id.push_back(c);
    }
    return id.size() > 998 ? std::string() : id;
}

void Append(std::vector<std::string>& to, std::vector<std::string> from) {
    for (std::string& a : from)
        to.push_back(std::move(a));
}

}  // namespace

MessageHeader ReadHeader(std::string_view bytes) {
    MessageHeader header;
    std::vector<std::string> from;
    std::string sender;  // the first Sender field's address
    bool seenSender = false;
    std::optional<int64_t> received;
    bool seenDate = false, seenReceived = false;
    Field field = Field::kOther;
    std::string value;
    const auto finish = [&] {
        switch (field) {
            case Field::kFrom:
                Append(from, ReadAddresses(value));
                break;
            case Field::kSender:
                if (!seenSender) {
                    std::vector<std::string> addresses = ReadAddresses(value);
                    if (!addresses.empty())
                        sender = std::move(addresses.front());
                }
                seenSender = true;
                break;
            case Field::kRecipients:
                Append(header.recipients, ReadAddresses(value));
                break;
            case Field::kDate:
                if (!seenDate)
                    header.hour = ReadDateHour(value);
                seenDate = true;
                break;
            case Field::kMessageId:
                if (header.messageId.empty())
                    header.messageId = MessageIdOf(value);
                break;
            case Field::kReceived:
                // The first (the last hop's) field: its date follows the last ";".
                if (!seenReceived) {
                    const size_t semi = value.rfind(';');
                    if (semi != std::string::npos)
                        received = ReadDateHour(std::string_view(value).substr(semi + 1));
                }
                seenReceived = true;
                break;
            case Field::kOther:
                break;
        }
        field = Field::kOther;
        value.clear();
    };
    size_t i = 0;
    while (i < bytes.size()) {
        size_t end = bytes.find('\n', i);
        const size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        std::string_view line = bytes.substr(i, next - i);
        i = next;
        if (!line.empty() && line.back() == '\n')
            line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;  // the header section ends
        if (line[0] == ' ' || line[0] == '\t') {
            if (field != Field::kOther)
                value.append(line);
            continue;
        }
        finish();
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;  // no field: garbage
        field = FieldOf(line.substr(0, colon));
        if (field != Field::kOther)
            value.assign(line.substr(colon + 1));
    }
    finish();
    if (!header.hour)
        header.hour = received;
    if (from.size() > 1 && !sender.empty())
        header.sender = std::move(sender);
    else if (!from.empty())
        header.sender = std::move(from.front());
    return header;
}

}  // namespace qb::eml
