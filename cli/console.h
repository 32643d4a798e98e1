// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

namespace lumora::cli {

// Results go to standard output, one line at a time and at once, so a
// script reading a pipe sees each reply as it comes; diagnostics go to
// standard error as one line each, after the program's name.
class Console {
public:
    void out(const QString& line);
    // Lines already ended, as they are: for many at once.
    void outLines(QByteArrayView lines);
    void fail(const QString& line);
};

} // namespace lumora::cli
