// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"

#include <QString>

namespace lumora::timeline {

// "N replies, hh:mm:ss.mmm to hh:mm:ss.mmm UTC": how many replies are held
// and the moments of the first and the last; "0 replies" when none is.
[[nodiscard]] QString statusLine(const ReplyStore& store);

} // namespace lumora::timeline
