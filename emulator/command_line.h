// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "emulator/unit_server.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace lumora::emulator {

inline constexpr auto kProgramName = "lumora-7150r-unit";
inline constexpr quint16 kDefaultPort = 4000;
// Enough for a test line's worth of stations; each unit holds descriptors of its own.
inline constexpr int kMaxUnits = 4096;

struct Options {
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = kDefaultPort; // the first unit's
    int units = 1;
    Behaviour behaviour;
};

struct CommandLine {
    enum class Outcome { Run, Help, Version, Error };
    Outcome outcome = Outcome::Run;
    Options options;
    QString text; // the help or version text, or what is wrong with the arguments
};

// args as from QCoreApplication::arguments(), program name first.
CommandLine parseCommandLine(const QStringList& args);

} // namespace lumora::emulator
