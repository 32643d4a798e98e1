#pragma once

// The bundled unit emulator as a process of its own, on a free loopback port.
// Its path comes in LUMORA_EMULATOR.

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
#if __has_feature(address_sanitizer)
inline constexpr bool kResidentMemoryTellsHoldings = false;
#else
inline constexpr bool kResidentMemoryTellsHoldings = true;
#endif
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
    QProcess process;
    quint16 port = 0;

    static QString program() { return qEnvironmentVariable("LUMORA_EMULATOR"); }

    // Starts it with the given flags and waits until it says where it listens.
    bool start(const QStringList& flags = {}) {
        process.start(program(),
                      QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + flags);
        const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        QString said;
        const bool up = QTest::qWaitFor(
            [&] {
                return listening.match(said += QString::fromLocal8Bit(process.readAllStandardOutput()))
                    .hasMatch();
            },
            10000);
        port = up ? listening.match(said).captured(1).toUShort() : 0;
        return up;
    }
    // On a failure before this, the process object kills the emulator instead.
    bool stop() {
        process.terminate();
        return process.waitForFinished(10000);
    }
};

} // namespace testsupport
