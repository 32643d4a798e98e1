// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/conversions.h"

#include "protocol/hex_text.h"

#include <QChar>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace lumora::settings {

namespace {

using protocol::isDecimalDigit;

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kHighestPort = std::numeric_limits<std::uint16_t>::max();

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// The longest run of digits with at most one '.' starting at `pos`, as plain
// ASCII; `pos` is left just after it.
std::string takeDigitRun(const QString& text, qsizetype& pos) {
    std::string run;
    bool seenPoint = false;
    for (; pos < text.size(); ++pos) {
        const QChar c = text.at(pos);
        if (isDecimalDigit(c)) {
            run.push_back(static_cast<char>(c.unicode()));
        } else if (c == QLatin1Char('.') && !seenPoint) {
            seenPoint = true;
            run.push_back('.');
        } else {
            break;
        }
    }
    return run;
}

bool hasDigit(const std::string& run) {
    return run.find_first_of("0123456789") != std::string::npos;
}

// Reads a run of digits with at most one '.' (and at least one digit) in the
// C locale, whatever the process locale is. A run too long for a double reads
// as infinity.
double parseDigitRun(const std::string& run) {
    double value = 0.0;
    const char* const first = run.data();
    const char* const last = first + run.size();
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (error == std::errc::result_out_of_range)
        return std::numeric_limits<double>::infinity();
    if (error != std::errc{} || end != last)
        return 0.0;
    return value;
}

} // namespace

double leadingNumber(const QString& text) {
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text.at(pos)))
        ++pos;

    bool negative = false;
    if (pos < text.size() && (text.at(pos) == QLatin1Char('+') || text.at(pos) == QLatin1Char('-'))) {
        negative = text.at(pos) == QLatin1Char('-');
        ++pos;
    }

    const std::string run = takeDigitRun(text, pos);
    if (!hasDigit(run))
        return 0.0;
    const double value = parseDigitRun(run);
    return negative ? -value : value;
}

std::optional<std::uint16_t> portFromText(const QString& text) {
    qsizetype pos = 0;
    const std::string run = takeDigitRun(text, pos);
    if (pos != text.size() || !hasDigit(run))
        return std::nullopt;

    // nearbyint honours the default round-to-nearest mode: a half goes to the
    // even neighbour.
    const double port = std::nearbyint(parseDigitRun(run));
    if (!(port >= 0.0 && port <= kHighestPort))
        return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

int intervalMsFromText(const QString& text) {
    const double ms = std::nearbyint(leadingNumber(text) * kMillisecondsPerSecond);
    if (!(ms > 0.0))
        return 0;
    if (ms >= kMaxIntervalMs)
        return kMaxIntervalMs;
    return static_cast<int>(ms);
}

} // namespace lumora::settings
