// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/measure.h"
#include "viewer/arguments.h"

#include <cstdio>

namespace lumora::viewer {

// Writes the measurements of [fromMs, toMs) as one JSON object, inputs,
// counters and gaps a line each and every finding on its own; times UTC
// "YYYY-MM-DD hh:mm:ss.mmm", durations in seconds, and null for a period,
// width or gap that nothing in the span gave.
void writeMeasurementJson(std::FILE* out, const timeline::Measure& measure, qint64 fromMs, qint64 toMs);

// Reads the files and prints the measurements of the span on standard
// output; every block or file skipped is a line on standard error.
[[nodiscard]] int runMeasure(const Options& options);

} // namespace lumora::viewer
