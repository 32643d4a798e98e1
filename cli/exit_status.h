// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace lumora::cli {

// What scripts test for; documented in --help, the README and the man page.
inline constexpr int kDone = 0;
inline constexpr int kUsageError = 1;    // nothing was sent
inline constexpr int kNoConnection = 2;  // cannot connect or resolve
inline constexpr int kNoReply = 3;       // no reply, or one of the wrong length, within the timeout
inline constexpr int kRefusedValues = 4; // a reply decoded but holding values the window refuses
inline constexpr int kNoEcho = 5;        // ping got no answer, or ICMP is not available
inline constexpr int kBlockSkipped = 6;  // decode skipped a block (or a whole file)
inline constexpr int kCannotServe = 7;   // serve cannot listen on its address
inline constexpr int kCaseFailed = 8;    // run: a case failed or errored
// run, after the teardown and the reports: 128 plus the signal's number, as
// a shell reports a program the signal ended.
inline constexpr int kStoppedBySignal = 128;

} // namespace lumora::cli
