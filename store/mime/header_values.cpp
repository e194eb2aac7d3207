#include "store/mime/header_values.h"

#include <algorithm>
#include <array>
#include <span>

#include "fs/text.h"

namespace tavrin::store::mime {

// ---- addresses ----

namespace {

enum class Tok { Atom, Quoted, Comment, Angle, Comma, Semicolon, Colon };

struct Token {
    Tok kind;
    std::string text;
};

// Splits an address list into tokens. Unclosed quotes, comments and angle
// brackets run to the end.
std::vector<Token> tokenize(std::string_view s) {
    std::vector<Token> out;
    out.reserve(8);  // a few addresses of a name and an address each
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else if (c == '"') {
            std::string t;
            ++i;
            // Most quoted strings have no escapes: taken whole.
            const size_t close = std::min(s.find('"', i), s.size());
            if (s.substr(i, close - i).find('\\') == std::string_view::npos) {
                t.assign(s.substr(i, close - i));
                i = close;
            }
            while (i < s.size() && s[i] != '"') {
                if (s[i] == '\\' && i + 1 < s.size()) ++i;
                t.push_back(s[i++]);
            }
            ++i;
            out.push_back({Tok::Quoted, std::move(t)});
        } else if (c == '(') {
            std::string t;
            int depth = 1;
            ++i;
            while (i < s.size()) {
                if (s[i] == '\\' && i + 1 < s.size()) {
                    t.push_back(s[i + 1]);
                    i += 2;
                    continue;
                }
                if (s[i] == '(') ++depth;
                if (s[i] == ')' && --depth == 0) break;
                t.push_back(s[i++]);
            }
            ++i;
            out.push_back({Tok::Comment, std::move(t)});
        } else if (c == '<') {
            // Up to the '>' outside a quoted local part, as it stands.
            const size_t start = ++i;
            while (i < s.size() && s[i] != '>') {
                if (s[i] == '"') {  // a quoted local part
                    ++i;
                    while (i < s.size() && s[i] != '"') ++i;
                    if (i < s.size()) ++i;
                    continue;
                }
                ++i;
            }
            out.push_back({Tok::Angle, std::string(s.substr(start, i - start))});
            ++i;
        } else if (c == ',') {
            out.push_back({Tok::Comma, {}});
            ++i;
        } else if (c == ';') {
            out.push_back({Tok::Semicolon, {}});
            ++i;
        } else if (c == ':') {
            out.push_back({Tok::Colon, {}});
            ++i;
        } else {
            std::string t;
            // The run up to a delimiter, taken whole when it holds no stray
            // closer.
            size_t end = i;
            bool stray = false;
            for (; end < s.size(); ++end) {
                const char d = s[end];
                if (d == ' ' || d == '\t' || d == '\r' || d == '\n' || d == '"' || d == '(' || d == '<' || d == ',' ||
                    d == ';' || d == ':')
                    break;
                stray = stray || d == '>' || d == ')';
            }
            if (!stray) {
                t.assign(s.substr(i, end - i));
                i = end;
            }
            while (i < s.size()) {
                const char d = s[i];
                if (d == ' ' || d == '\t' || d == '\r' || d == '\n' || d == '"' || d == '(' || d == '<' || d == ',' ||
                    d == ';' || d == ':')
                    break;
                if (d == '>' || d == ')') {  // a stray closer
                    ++i;
                    continue;
                }
                t.push_back(d);
                ++i;
            }
            // An encoded word may hold ':' or ',' nowhere (RFC 2047 5), but
            // "=?...?=" runs are kept whole when they do.
            if (!t.empty()) out.push_back({Tok::Atom, std::move(t)});
        }
    }
    return out;
}

std::string stripAddress(std::string_view a) {
    // A source route ("@a,@b:user@c") goes; spaces inside go.
    if (!a.empty() && a[0] != '@' && a.find_first_of(" \t\r\n") == std::string_view::npos) return std::string(a);
    if (!a.empty() && a[0] == '@') {
        const size_t colon = a.find(':');
        if (colon != std::string::npos) a = a.substr(colon + 1);
    }
    std::string out;
    for (char c : a)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out.push_back(c);
    return out;
}

}  // namespace

std::vector<Mailbox> parseAddressList(std::string_view value, Findings* findings, std::string_view where) {
    std::vector<Mailbox> out;
    out.reserve(4);
    const std::vector<Token> tokens = tokenize(value);
    std::vector<const Token*> seg;
    auto finish = [&] {
        if (seg.empty()) return;
        Mailbox m;
        std::string phrase;
        std::string comment;
        bool angled = false;
        auto addPhrase = [&](const std::string& t) {
            if (!phrase.empty()) phrase.push_back(' ');
            phrase += t;
        };
        for (const Token* t : seg) {
            switch (t->kind) {
                case Tok::Angle:
                    if (!angled) m.address = stripAddress(t->text);
                    else addPhrase(t->text);  // a second address in one entry: kept in the name
                    angled = true;
                    break;
                case Tok::Atom:
                case Tok::Quoted:
                    // Text after the angle brackets too ("A <a@b> more"):
                    // kept in the name rather than lost.
                    addPhrase(t->text);
                    break;
                case Tok::Comment:
                    if (comment.empty()) comment = t->text;
                    break;
                default:
                    break;
            }
        }
        if (!angled) {
            // No angle brackets: the address is the atom with an '@', with
            // the atoms joined to it by '.' or '@' ("jdoe@test . example").
            std::vector<std::string> atoms;
            std::vector<bool> quoted;
            for (const Token* t : seg) {
                if (t->kind != Tok::Atom && t->kind != Tok::Quoted) continue;
                const bool joins = !atoms.empty() && t->kind == Tok::Atom && !quoted.back() &&
                                   (t->text.front() == '.' || t->text.front() == '@' || atoms.back().back() == '.' ||
                                    atoms.back().back() == '@');
                if (joins) {
                    atoms.back() += t->text;
                } else {
                    atoms.push_back(t->text);
                    quoted.push_back(t->kind == Tok::Quoted);
                }
            }
            std::string rest;
            bool found = false;
            for (size_t k = 0; k < atoms.size(); ++k) {
                if (!found && !quoted[k] && atoms[k].find('@') != std::string::npos) {
                    m.address = stripAddress(atoms[k]);
                    found = true;
                } else {
                    if (!rest.empty()) rest.push_back(' ');
                    rest += atoms[k];
                }
            }
            phrase = rest;
        }
        if (trimWhitespace(phrase).empty()) phrase = comment;
        m.name = decodeHeaderText(asBytes(phrase), findings, where);
        if (!m.name.empty() || !m.address.empty()) out.push_back(std::move(m));
        seg.clear();
    };
    for (const Token& t : tokens) {
        switch (t.kind) {
            case Tok::Comma:
            case Tok::Semicolon:
                finish();
                break;
            case Tok::Colon:
                // "group-name:" starts a group: its name is not a mailbox.
                seg.clear();
                break;
            default:
                seg.push_back(&t);
                break;
        }
        if (out.size() > 100000) break;  // bounded, whatever the input
    }
    finish();
    return out;
}

// ---- dates ----

namespace {

// The first three letters of a word in lower case as one number (the
// first in the high byte), or 0 for a shorter word.
uint32_t key3(std::string_view w) {
    if (w.size() < 3) return 0;
    uint32_t k = 0;
    for (size_t i = 0; i < 3; ++i) {
        const char c = w[i];
        k = k << 8 | static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return k;
}
constexpr uint32_t key3(const char (&s)[4]) {
    return uint32_t(uint8_t(s[0])) << 16 | uint32_t(uint8_t(s[1])) << 8 | uint8_t(s[2]);
}

int monthOf(std::string_view w) {
    static constexpr std::array<uint32_t, 12> names = {key3("jan"), key3("feb"), key3("mar"), key3("apr"),
                                                       key3("may"), key3("jun"), key3("jul"), key3("aug"),
                                                       key3("sep"), key3("oct"), key3("nov"), key3("dec")};
    const uint32_t k = key3(w);
    if (k == 0) return 0;
    for (size_t i = 0; i < names.size(); ++i)
        if (k == names[i]) return static_cast<int>(i) + 1;
    return 0;
}

bool isDayName(std::string_view w) {
    static constexpr std::array<uint32_t, 7> names = {key3("mon"), key3("tue"), key3("wed"), key3("thu"),
                                                      key3("fri"), key3("sat"), key3("sun")};
    const uint32_t k = key3(w);
    if (k == 0) return false;
    for (uint32_t n : names)
        if (k == n) return true;
    return false;
}

// Minutes east of UTC of a zone name, or nullopt.
std::optional<int> zoneName(std::string_view w) {
    if (w.size() > 4) return std::nullopt;  // no name is longer
    char buf[4];
    for (size_t i = 0; i < w.size(); ++i) buf[i] = w[i] >= 'A' && w[i] <= 'Z' ? static_cast<char>(w[i] + 32) : w[i];
    const std::string_view l(buf, w.size());
    if (l == "ut" || l == "utc" || l == "gmt" || l == "z" || l == "wet") return 0;
    if (l == "edt") return -4 * 60;
    if (l == "est" || l == "cdt") return -5 * 60;
    if (l == "cst" || l == "mdt") return -6 * 60;
    if (l == "mst" || l == "pdt") return -7 * 60;
    if (l == "pst") return -8 * 60;
    if (l == "cet" || l == "met" || l == "bst" || l == "west") return 60;
    if (l == "cest" || l == "mest" || l == "eet") return 120;
    if (l == "eest" || l == "msk") return 180;
    if (l == "jst" || l == "kst") return 9 * 60;
    if (l.size() == 1 && l[0] >= 'a' && l[0] <= 'z' && l[0] != 'j') return 0;  // military: -0000 (RFC 5322 4.3)
    return std::nullopt;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::optional<uint64_t> toFiletime(int year, int month, int day, int hour, int minute, int second, int zoneMinutes) {
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60 || year < 1601 || year > 9999)
        return std::nullopt;
    if (second == 60) second = 59;
    const int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const int64_t unix = days * 86400 + hour * 3600 + minute * 60 + second - int64_t(zoneMinutes) * 60;
    const int64_t ft = (unix + 11644473600LL) * 10000000LL;
    if (ft <= 0) return std::nullopt;
    return static_cast<uint64_t>(ft);
}

bool allDigits(std::string_view w) {
    if (w.empty()) return false;
    for (char c : w)
        if (c < '0' || c > '9') return false;
    return true;
}

int number(std::string_view w) {
    int n = 0;
    for (char c : w) {
        n = n * 10 + (c - '0');
        if (n > 100000) return n;
    }
    return n;
}

// "HH:MM[:SS]" into its parts.
bool parseClock(std::string_view w, int& h, int& m, int& s) {
    int parts[3] = {0, 0, 0};
    int count = 0;
    size_t i = 0;
    while (i <= w.size() && count < 3) {
        size_t j = i;
        while (j < w.size() && w[j] >= '0' && w[j] <= '9') ++j;
        if (j == i || j - i > 2) return false;
        parts[count++] = number(w.substr(i, j - i));
        if (j == w.size()) break;
        if (w[j] != ':' && w[j] != '.') return false;
        i = j + 1;
    }
    if (count < 2) return false;
    h = parts[0];
    m = parts[1];
    s = parts[2];
    return true;
}

// "+hhmm", "-hh:mm", "+hh" into minutes east of UTC.
std::optional<int> numericZone(std::string_view w) {
    if (w.size() < 2 || (w[0] != '+' && w[0] != '-')) return std::nullopt;
    std::string digits;
    for (char c : w.substr(1))
        if (c >= '0' && c <= '9') digits.push_back(c);
        else if (c != ':') return std::nullopt;
    int h = 0, m = 0;
    if (digits.size() == 4) {
        h = number(digits.substr(0, 2));
        m = number(digits.substr(2));
    } else if (digits.size() <= 2 && !digits.empty()) {
        h = number(digits);
    } else {
        return std::nullopt;
    }
    if (h > 23 || m > 59) return std::nullopt;
    const int v = h * 60 + m;
    return w[0] == '-' ? -v : v;
}

std::optional<uint64_t> parseIso(std::string_view s) {
    // YYYY-MM-DD[T ]HH:MM[:SS][.fff][Z|+hh:mm]
    if (s.size() < 16 || !allDigits(s.substr(0, 4)) || s[4] != '-' || !allDigits(s.substr(5, 2)) || s[7] != '-' ||
        !allDigits(s.substr(8, 2)) || (s[10] != 'T' && s[10] != 't' && s[10] != ' '))
        return std::nullopt;
    size_t i = 11;
    size_t j = i;
    while (j < s.size() && ((s[j] >= '0' && s[j] <= '9') || s[j] == ':')) ++j;
    int h, m, sec;
    if (!parseClock(s.substr(i, j - i), h, m, sec)) return std::nullopt;
    if (j < s.size() && s[j] == '.')
        for (++j; j < s.size() && s[j] >= '0' && s[j] <= '9';) ++j;
    int zone = 0;
    std::string_view rest = trimWhitespace(s.substr(j));
    if (!rest.empty()) {
        if (rest == "Z" || rest == "z") zone = 0;
        else if (auto z = numericZone(rest)) zone = *z;
        else if (auto n = zoneName(rest)) zone = *n;
        else return std::nullopt;
    }
    return toFiletime(number(s.substr(0, 4)), number(s.substr(5, 2)), number(s.substr(8, 2)), h, m, sec, zone);
}

}  // namespace

std::optional<uint64_t> parseDateTime(std::string_view value) {
    // Comments out, then words split at spaces, commas and dashes between
    // the date's parts. A date is short: the first 257 characters outside
    // comments and 17 words are read, on the stack.
    std::array<char, 257> buf;
    size_t len = 0;
    int depth = 0;
    for (char c : value) {
        if (c == '(') ++depth;
        else if (c == ')' && depth > 0) --depth;
        else if (depth == 0) buf[len++] = c;
        if (len > 256) break;
    }
    std::string_view t = trimWhitespace(std::string_view(buf.data(), len));
    if (auto iso = parseIso(t)) return iso;
    std::array<std::string_view, 17> words;
    size_t wordCount = 0;
    size_t i = 0;
    while (i < t.size()) {
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == ',' || t[i] == '\r' || t[i] == '\n')) ++i;
        size_t j = i;
        while (j < t.size() && t[j] != ' ' && t[j] != '\t' && t[j] != ',' && t[j] != '\r' && t[j] != '\n') ++j;
        if (j > i) words[wordCount++] = t.substr(i, j - i);
        i = j;
        if (wordCount > 16) break;
    }
    // "10-Jul-2016" is three words.
    std::array<std::string_view, 3 * 17> parts;
    size_t partCount = 0;
    for (std::string_view w : std::span(words.data(), wordCount)) {
        const size_t d1 = w.find('-');
        if (d1 != std::string_view::npos && d1 > 0 && monthOf(w.substr(d1 + 1)) && w.find('-', d1 + 1) != std::string_view::npos) {
            const size_t d2 = w.find('-', d1 + 1);
            parts[partCount++] = w.substr(0, d1);
            parts[partCount++] = w.substr(d1 + 1, d2 - d1 - 1);
            parts[partCount++] = w.substr(d2 + 1);
        } else {
            parts[partCount++] = w;
        }
    }
    int day = -1, month = 0, year = -1, h = -1, m = 0, s = 0;
    std::optional<int> zone;
    for (std::string_view w : std::span(parts.data(), partCount)) {
        if (isDayName(w) && !monthOf(w)) continue;
        if (h < 0 && w.find(':') != std::string_view::npos) {
            if (!parseClock(w, h, m, s)) return std::nullopt;
            continue;
        }
        if (!month && monthOf(w)) {
            month = monthOf(w);
            continue;
        }
        if (allDigits(w)) {
            if (day < 0 && w.size() <= 2) {
                day = number(w);  // before or after the month ("10 Jul", "Jul 10")
            } else if (year < 0) {
                year = number(w);
                if (w.size() <= 2) year += year < 50 ? 2000 : 1900;
                else if (w.size() == 3) year += 1900;
            }
            continue;
        }
        if (h >= 0 && !zone) {
            if (auto z = numericZone(w)) {
                zone = *z;
                continue;
            }
            // "GMT+0200", "UTC-5"
            const std::string_view head = w.substr(0, 3);
            if ((text::equalsIgnoreAsciiCase(head, "gmt") || text::equalsIgnoreAsciiCase(head, "utc")) && w.size() > 3) {
                if (auto z = numericZone(w.substr(3))) {
                    zone = *z;
                    continue;
                }
            }
            if (auto z = zoneName(w)) {
                zone = *z;
                continue;
            }
        }
    }
    if (day < 0 || !month || year < 0 || h < 0) return std::nullopt;
    return toFiletime(year, month, day, h, m, s, zone.value_or(0));
}

std::optional<uint64_t> parseReceivedDate(std::string_view value) {
    const size_t semi = value.rfind(';');
    if (semi == std::string_view::npos) return std::nullopt;
    return parseDateTime(value.substr(semi + 1));
}

}  // namespace tavrin::store::mime
