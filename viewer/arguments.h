// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>

namespace lumora::viewer {

inline constexpr auto kProgramName = "lumora-7150r-view";
inline constexpr QSize kDefaultPictureSize{1600, 900};

// What the command line asks for: a window over the files, or, with an
// export path, one file written and no window, or the measurements printed.
struct Options {
    QStringList files;
    QString exportPath;        // empty: show the window
    bool measure = false;      // print the measurements instead
    std::optional<QTime> from; // UTC times of day on the first reply's day
    std::optional<QTime> to;
    QSize size = kDefaultPictureSize;
};

struct ParsedArguments {
    enum class Outcome { Run, Help, Version, UsageError };
    Outcome outcome = Outcome::Run;
    Options options;
    QString error; // for UsageError: what was wrong, without the program's name
};

// The words after the program's name.
[[nodiscard]] ParsedArguments parseArguments(const QStringList& arguments);

// "hh:mm:ss", optionally with ".mmm".
[[nodiscard]] std::optional<QTime> timeOfDayFromText(const QString& text);
// "WxH" in pixels, each side from 1 to kLargestSide.
inline constexpr int kLargestSide = 8192;
[[nodiscard]] std::optional<QSize> pictureSizeFromText(const QString& text);
// Whether an export path ends in an extension the exports know.
[[nodiscard]] bool knownExportExtension(const QString& path);

[[nodiscard]] QString helpText();
[[nodiscard]] QString versionText();

} // namespace lumora::viewer
