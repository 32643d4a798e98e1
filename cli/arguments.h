// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/units.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace lumora::cli {

inline constexpr auto kProgramName = "lumora-7150r-cli";
inline constexpr int kDefaultTimeoutMs = 3000;
inline constexpr int kDefaultPingCount = 4;

enum class Command { Status, Outputs, Reset, Poll, Ping, Decode, Serve, Run };
enum class Format { Text, Json, Csv, Vcd };

struct Invocation {
    Command command = Command::Status;
    // Given on the command line; otherwise the window's stored settings apply.
    std::optional<QString> address;
    std::optional<QString> portText;
    int timeoutMs = kDefaultTimeoutMs;
    Format format = Format::Text;
    std::array<int, 4> outputs{};  // outputs
    int intervalMs = 0;            // poll
    std::optional<qint64> count;   // poll: replies; ping: requests
    std::optional<int> durationMs; // poll
    QStringList files;             // decode
    std::optional<exporter::ListenAddress> listen; // serve
    QString unitsFile;             // serve: none when empty
    QString webConfig;             // serve: none when empty
    QStringList units;             // serve: the UNIT operands
    QString planFile;              // run
    QString junitFile;             // run: none when empty
    bool tap = false;              // run
    bool stopOnFailure = false;    // run
};

// serve's time between a unit's requests when --interval is not given.
inline constexpr int kDefaultServeIntervalMs = 1000;

struct ParsedArguments {
    enum class Outcome { Run, Help, Version, UsageError };
    Outcome outcome = Outcome::UsageError;
    Invocation invocation;
    QString error; // one line, for UsageError
};

// The arguments after the program name. Options may come before or after the
// command, as "--name value" or "--name=value"; a command's own options only
// after it. "--" ends the options.
[[nodiscard]] ParsedArguments parseArguments(const QStringList& arguments);

// "status", "outputs", ... as typed on the command line.
QString commandName(Command command);

QString helpText();
QString versionText();

// The rules option and command values must pass; none for a value that is a
// usage error. --port takes the window's own port rule (settings/).

// --timeout and --duration: a decimal number of seconds ("0.5", "3"), more
// than 0 and at most a day, as milliseconds.
[[nodiscard]] std::optional<int> secondsAsMs(const QString& text);

// --interval: seconds as the window's interval box converts them, so that
// 0.0005 rounds as it would there; from 1 ms (0 would never tick) to a day.
[[nodiscard]] std::optional<int> intervalAsMs(const QString& text);

// --count: a whole number of 1 or more, in decimal digits alone.
[[nodiscard]] std::optional<qint64> countFromText(const QString& text);

// One of the values after "outputs": 0 or 1.
[[nodiscard]] std::optional<int> outputFromText(const QString& text);

} // namespace lumora::cli
