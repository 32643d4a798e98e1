// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The bundled unit emulator as a process of its own, on a free loopback port:
// the one way tests and benchmarks start it. Its path comes in LUMORA_EMULATOR.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace testsupport {

// Under AddressSanitizer every freed block waits in a quarantine and every
// allocation has its shadow, so resident memory grows with the number of
// allocations rather than with what the client holds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kResidentMemoryTellsHoldings = false;
#elif defined(__has_feature)
inline constexpr bool kResidentMemoryTellsHoldings = !__has_feature(address_sanitizer);
#else
inline constexpr bool kResidentMemoryTellsHoldings = true;
#endif

// This process's resident memory, for checking that a misbehaving unit
// cannot make the client hold more and more.
inline qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+) kB"));
    return rss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

struct UnitEmulator {
    static constexpr int kWaitMs = 10000;
    QProcess process;
    quint16 port = 0;

    ~UnitEmulator() {
        if (process.state() != QProcess::NotRunning && !stop())
            process.kill();
    }

    static QString program() { return qEnvironmentVariable("LUMORA_EMULATOR"); }

    // Starts it with the given flags and waits, serving this thread's events,
    // until it says where it listens.
    bool start(const QStringList& flags = {}, const QString& path = program()) {
        process.start(path, QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + flags);
        static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        QString said;
        const auto saidWhere = [&] {
            said += QString::fromLocal8Bit(process.readAllStandardOutput());
            port = listening.match(said).captured(1).toUShort();
            return port != 0 || process.state() == QProcess::NotRunning;
        };
        return QTest::qWaitFor(saidWhere, kWaitMs) && port != 0;
    }
    QString errorString() const {
        return QStringLiteral("%1 did not say where it listens: %2")
            .arg(process.program(), process.errorString());
    }
    bool stop() {
        process.terminate();
        return process.waitForFinished(kWaitMs);
    }
};

} // namespace testsupport
