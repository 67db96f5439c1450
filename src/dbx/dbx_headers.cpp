// The few header fields a found message is named and dated by, read from its text alone: a
// found message has no record to take them from.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "dbx/dbx_scan.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// The line starting at `at` without its line end; `next` is where the following line starts.
std::string_view LineAt(std::string_view text, std::size_t at, std::size_t& next) {
    const std::size_t lf = text.find('\n', at);
    const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
    next = lf == std::string_view::npos ? text.size() : lf + 1;
    std::size_t stop = end;
    if (stop > at && text[stop - 1] == '\r') --stop;
    return text.substr(at, stop - at);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// ---- dates -----------------------------------------------------------------------------------

constexpr std::int64_t kUnixEpochInFiletimeSeconds = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int MonthNumber(std::string_view name) {
    static constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                            "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() < 3) return 0;
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (EqualsIgnoringCase(name.substr(0, 3), kMonths[m])) return static_cast<int>(m + 1);
    }
    return 0;
}

bool ParseNumber(std::string_view s, int max_digits, int& value) {
    if (s.empty() || s.size() > std::size_t(max_digits)) return false;
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Offset from UTC in minutes; named zones of the older mail standard included. An unknown
// name counts as UTC, as the standard asks for.
bool ParseZone(std::string_view zone, int& minutes) {
    minutes = 0;
    if (zone.empty()) return true;
    if (zone[0] == '+' || zone[0] == '-') {
        int hhmm = 0;
        if (zone.size() != 5 || !ParseNumber(zone.substr(1), 4, hhmm) || hhmm % 100 > 59) return false;
        minutes = (hhmm / 100) * 60 + hhmm % 100;
        if (zone[0] == '-') minutes = -minutes;
        return true;
    }
    struct Named {
        const char* name;
        int hours;
    };
    static constexpr std::array<Named, 10> kZones = {{{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                                                      {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7},
                                                      {"GMT", 0}, {"UT", 0}}};
    for (const Named& named : kZones) {
        if (EqualsIgnoringCase(zone, named.name)) minutes = named.hours * 60;
    }
    return true;
}

std::vector<std::string_view> DateTokens(std::string_view value) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < value.size() && tokens.size() < 8) {
        const char c = value[i];
        if (c == '(') break;  // a comment, such as the zone's name, ends what is read
        if (IsBlank(c) || c == ',' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < value.size() && !IsBlank(value[end]) && value[end] != ',' && value[end] != '(' &&
               value[end] != '\r' && value[end] != '\n') {
            ++end;
        }
        tokens.push_back(value.substr(i, end - i));
        i = end;
    }
    return tokens;
}

}  // namespace

DbxText dbx_header_value(std::string_view text, const char* name) {
    const std::string_view all = text;
    const std::string_view wanted(name);
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t next = 0;
        const std::string_view line = LineAt(all, at, next);
        if (line.empty()) break;  // the blank line ends the header
        const std::size_t colon = line.find(':');
        if (!IsBlank(line[0]) && colon != std::string_view::npos && EqualsIgnoringCase(Trim(line.substr(0, colon)), wanted)) {
            // The value with its folded continuation lines joined back into one.
            std::string value(line.substr(colon + 1));
            while (next < all.size() && IsBlank(all[next])) {
                std::size_t after = 0;
                value += LineAt(all, next, after);
                next = after;
            }
            return std::string(Trim(value));
        }
        at = next;
    }
    return std::nullopt;
}

std::uint64_t dbx_parse_date(const std::string& value) {
    std::vector<std::string_view> tokens = DateTokens(value);
    // The day of the week is optional and adds nothing.
    if (!tokens.empty() && MonthNumber(tokens[0]) == 0 && !tokens[0].empty() &&
        std::isalpha(static_cast<unsigned char>(tokens[0][0]))) {
        tokens.erase(tokens.begin());
    }
    if (tokens.size() < 4) return 0;
    int day = 0, year = 0;
    const int month = MonthNumber(tokens[1]);
    if (!ParseNumber(tokens[0], 2, day) || month == 0 || !ParseNumber(tokens[2], 4, year)) return 0;
    if (tokens[2].size() == 2) year += year < 50 ? 2000 : 1900;
    if (tokens[2].size() == 3) year += 1900;

    int hour = 0, minute = 0, second = 0;
    const std::string_view time = tokens[3];
    const std::size_t c1 = time.find(':');
    if (c1 == std::string_view::npos || !ParseNumber(time.substr(0, c1), 2, hour)) return 0;
    const std::size_t c2 = time.find(':', c1 + 1);
    if (!ParseNumber(time.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1), 2,
                     minute)) {
        return 0;
    }
    if (c2 != std::string_view::npos && !ParseNumber(time.substr(c2 + 1), 2, second)) return 0;
    int zone_minutes = 0;
    if (tokens.size() > 4 && !ParseZone(tokens[4], zone_minutes)) return 0;
    if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1601 || year > 9999) return 0;

    const std::int64_t seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                                 hour * 3600 + minute * 60 + second - std::int64_t{zone_minutes} * 60;
    const std::int64_t since_1601 = seconds + kUnixEpochInFiletimeSeconds;
    if (since_1601 < 0) return 0;
    return static_cast<std::uint64_t>(since_1601) * kTicksPerSecond;
}
