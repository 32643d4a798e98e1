// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/text.h"

namespace lumora::emulator {

namespace {

constexpr int kHexBase = 16;

} // namespace

QString hexBytes(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        text += QStringLiteral("%1 ")
                    .arg(static_cast<unsigned char>(byte), 2, kHexBase, QLatin1Char('0'))
                    .toUpper();
    }
    return text;
}

QString timeStamp(const QDateTime& utc) {
    return QLatin1Char('[') + utc.toUTC().time().toString(QStringLiteral("hh:mm:ss.zzz")) + QLatin1Char(']');
}

QString endpointText(const QHostAddress& address, quint16 port) {
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (address.protocol() == QAbstractSocket::IPv6Protocol && !mapped) {
        return QStringLiteral("[%1]:%2").arg(address.toString()).arg(port);
    }
    return QStringLiteral("%1:%2").arg(QHostAddress(ipv4).toString()).arg(port);
}

} // namespace lumora::emulator
