// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>

namespace lumora::exporter {

// Why a poll brought no reply that could be shown whole. Each is one value of
// the failures' "reason" label, in this order.
enum class PollFailure : std::uint8_t { Connect, Timeout, Length, Closed, RefusedValue };
inline constexpr int kPollFailureKinds = 5;

// "connect", "timeout", "length", "closed", "refused_value".
[[nodiscard]] QString failureReason(PollFailure failure);

// Poll durations (request out to whole reply in), in seconds, as a histogram
// with fixed upper bounds and +Inf after the last.
struct PollDurations {
    static constexpr std::array<double, 10> kBounds{0.001, 0.0025, 0.005, 0.01, 0.025,
                                                    0.05,  0.1,    0.25,  0.5,  1.0};
    // counts[i]: durations at most kBounds[i] and above the bound before
    // (not cumulative); the last counts those above every bound.
    std::array<std::uint64_t, kBounds.size() + 1> counts{};
    double sumSeconds = 0;
    std::uint64_t count = 0;

    void add(double seconds);
};

// What the exporter knows of one unit as of its last poll. Its poller alone
// writes it; the metrics and the page only read it.
struct UnitState {
    enum class Link : std::uint8_t {
        Connecting, // an attempt is under way
        Connected,
        Waiting, // for the next attempt, after a failed or lost connection
    };
    Link link = Link::Connecting;
    // The last poll got a good reply of kStatusReplySize bytes.
    bool up = false;
    // The last good reply, empty before the first.
    QByteArray reply;
    // When it came, in UTC milliseconds since the epoch; 0 before the first.
    qint64 lastReplyMs = 0;
    std::uint64_t replies = 0;
    std::array<std::uint64_t, kPollFailureKinds> failures{};
    PollDurations durations;
    // Why the unit is not up, for the page; empty while it is.
    QString problem;
    // Goes up with every change, so a reader can tell what it has seen.
    std::uint64_t version = 0;

    [[nodiscard]] std::uint64_t failureCount(PollFailure failure) const {
        return failures[static_cast<std::size_t>(failure)];
    }
};

} // namespace lumora::exporter
