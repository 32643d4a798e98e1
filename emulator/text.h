// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QHostAddress>
#include <QString>

namespace lumora::emulator {

// Each byte as two upper-case hex digits followed by a space, the way the
// client writes its own SEND and dump lines, so the two logs read alike.
QString hexBytes(QByteArrayView bytes);

// "[hh:mm:ss.mmm]" in UTC, the client's stamp, so lines of both logs line up.
QString timeStamp(const QDateTime& utc);

// "127.0.0.1:4000", "[::1]:4000".
QString endpointText(const QHostAddress& address, quint16 port);

} // namespace lumora::emulator
