#pragma once

namespace lumora::cli {

// What scripts test for; documented in --help, the README and the man page.
enum ExitStatus : int {
    kDone = 0,
    kUsageError = 1,    // nothing was sent
    kNoConnection = 2,  // cannot connect or resolve
    kNoReply = 3,       // no reply, or one of the wrong length, within the timeout
    kRefusedValues = 4, // a reply decoded but holding values the window refuses
    kNoEcho = 5,        // ping got no answer, or ICMP is not available
    kBlockSkipped = 6,  // decode skipped a block (or a whole file)
};

} // namespace lumora::cli