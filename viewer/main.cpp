// SPDX-License-Identifier: GPL-3.0-or-later
// lumora-7150r-view: the signals over time of daily log files, in a window or
// exported for scripts.

#include "viewer/program.h"

int main(int argc, char** argv) {
    return lumora::viewer::runProgram(argc, argv);
}
