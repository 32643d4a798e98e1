// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace lumora::settings {

inline const QString kApplication = QStringLiteral("LM7100R_SIMUL");
inline const QString kSection = QStringLiteral("Simulator_6180");

inline const QString kAddressKey = QStringLiteral("ADDRESS");
inline const QString kPortKey = QStringLiteral("PORT");
inline const QString kIntervalKey = QStringLiteral("INTERVAL");

inline const QString kDefaultAddress = QStringLiteral("192.1.1.110");
inline const QString kDefaultPort = QStringLiteral("4000");
inline const QString kDefaultInterval = QStringLiteral("1");

} // namespace lumora::settings
