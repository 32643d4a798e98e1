// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/day_files.h"
#include "timeline/reply_store.h"

#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>
#include <vector>

namespace lumora::viewer {

// Half-open [fromMs, toMs), UTC milliseconds since the epoch.
struct Span {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    friend bool operator==(const Span&, const Span&) = default;
};

// From the earliest reply held to just after the latest (times may step
// back, so neither need be the first or the last); empty for no reply.
[[nodiscard]] Span wholeSpan(const timeline::ReplyStore& store);

// The span of --from and --to: times of day on the UTC day of the first
// reply held, a --to before --from on the day after; either left out is the
// whole span's end on that side.
[[nodiscard]] Span exportSpan(const timeline::ReplyStore& store, std::optional<QTime> from,
                              std::optional<QTime> to);

// "Signals over Time — 20261207.txt", and for several files the first, the
// last and how many.
[[nodiscard]] QString windowTitle(const QStringList& files);

// Every problem on a line of its own.
[[nodiscard]] QString problemsText(const std::vector<timeline::FileProblem>& problems);

} // namespace lumora::viewer
