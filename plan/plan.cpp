// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/plan.h"

namespace lumora::plan {

QString PlanError::text() const {
    return QStringLiteral("%1:%2:%3: %4").arg(file).arg(mark.line).arg(mark.column).arg(why);
}

} // namespace lumora::plan
