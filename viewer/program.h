// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace lumora::viewer {

// The whole program: the command line, then an export without a window or
// the window over the files.
[[nodiscard]] int runProgram(int argc, char** argv);

} // namespace lumora::viewer
