// SPDX-License-Identifier: GPL-3.0-or-later
// The interval and port boxes take whatever the user types or pastes, so their
// conversions are fed arbitrary text, read both as UTF-8 and as Latin-1, and
// must stay within their ranges whatever the process locale says.

#include "settings/conversions.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

constexpr int kMaxIntervalMs = 24 * 60 * 60 * 1000;
constexpr int kHighestPort = 65535;
// Locales whose decimal point is not '.' or whose digits are not ASCII.
const std::array<QLocale::Language, 3> kForeignLocales = {QLocale::German, QLocale::Arabic, QLocale::Hindi};

[[noreturn]] void violated(const char* what, const QString& text) {
    std::fprintf(stderr, "invariant violated: %s; text (UTF-16 as UTF-8): \"%s\"\n", what,
                 text.toUtf8().constData());
    std::abort();
}

struct Results {
    double leading = 0.0;
    std::optional<std::uint16_t> port;
    int intervalMs = 0;

    bool operator==(const Results& other) const {
        // Bitwise comparison of the double would tell +0 from -0; the value is
        // what matters, and NaN is ruled out separately.
        return leading == other.leading && port == other.port && intervalMs == other.intervalMs;
    }
};

Results convert(const QString& text) {
    return {lumora::settings::leadingNumber(text), lumora::settings::portFromText(text), lumora::settings::intervalMsFromText(text)};
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The port box only yields a port for plain text like "4000" or "80.5".
struct PortText {
    bool plain = false;        // digits and at most one '.', at least one digit
    bool whole = false;        // no '.', or only zeros after it
    std::uint64_t intPart = 0; // saturated above kHighestPort + 1
};

PortText readPortText(const QString& text) {
    PortText p;
    int points = 0;
    int digits = 0;
    bool fractionNonZero = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('.')) {
            ++points;
            continue;
        }
        if (!isAsciiDigit(c))
            return p;
        ++digits;
        const auto d = static_cast<std::uint64_t>(c.unicode() - u'0');
        if (points == 0)
            p.intPart = std::min<std::uint64_t>(p.intPart * 10 + d, kHighestPort + 1);
        else if (d != 0)
            fractionNonZero = true;
    }
    p.plain = points <= 1 && digits > 0;
    p.whole = !fractionNonZero;
    return p;
}

void check(const QString& text) {
    const Results r = convert(text);

    if (std::isnan(r.leading))
        violated("leadingNumber gave NaN", text);

    if (r.intervalMs < 0 || r.intervalMs > kMaxIntervalMs)
        violated("interval outside 0..86400000 ms", text);
    if (r.leading <= 0.0 && r.intervalMs != 0)
        violated("interval not 0 for a number not above 0", text);
    if (r.leading >= kMaxIntervalMs / 1000.0 && r.intervalMs != kMaxIntervalMs)
        violated("interval not capped at 24 h", text);

    const PortText p = readPortText(text);
    if (r.port.has_value()) {
        if (*r.port > kHighestPort)
            violated("port above 65535", text);
        if (!p.plain)
            violated("port given for text that is not digits with at most one '.'", text);
        if (*r.port != p.intPart && *r.port != p.intPart + 1)
            violated("port is neither the whole part nor the next number", text);
    }
    if (p.plain && p.whole && p.intPart <= kHighestPort && r.port != static_cast<std::uint16_t>(p.intPart))
        violated("whole port number in range not given as itself", text);

    for (const QLocale::Language language : kForeignLocales) {
        QLocale::setDefault(QLocale(language));
        const Results other = convert(text);
        QLocale::setDefault(QLocale::c());
        if (!(other == r))
            violated("result depends on the default locale", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* chars = reinterpret_cast<const char*>(data);
    const auto length = static_cast<qsizetype>(size);
    check(QString::fromUtf8(chars, length));
    check(QString::fromLatin1(chars, length));
    return 0;
}
