#include "platform/icmp_service.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QTest>

using testsupport::Harness;

class tst_PingWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startLogsAtOnceThenAboutOncePerSecond();
    void stopWhenStoppedDoesNothing();
    void startWhileRunningRunsOneMoreTick();
    void tickBlocksOtherHandlersUntilItReturns();
    void realEchoFromLoopback();
};

void tst_PingWindow::startLogsAtOnceThenAboutOncePerSecond() {
    Harness h;
    h.start();
    h.edit("txtDestIP")->setText(QStringLiteral("10.1.2.3"));
    h.icmp.resolve = [](const QByteArray&) { return std::optional<platform::Ipv4>(0x0A010203); };
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    // The first line comes with the click, before any timer tick.
    QCOMPARE(h.lines(), QStringList{QStringLiteral("Reply From 10.1.2.3: Bytes=0 Time=0ms TTL=64")});
    QVERIFY(!h.edit("txtDestIP")->isEnabled());
    QVERIFY(h.button("cmdPingStart")->isEnabled());
    QVERIFY(h.button("cmdPingStop")->isEnabled());

    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), 3, 5000);
    QVERIFY2(clock.elapsed() >= 1500 && clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));

    QTest::mouseClick(h.button("cmdPingStop"), Qt::LeftButton);
    QCOMPARE(h.lines().last(), QStringLiteral("Ping Test End~!!"));
    QVERIFY(h.edit("txtDestIP")->isEnabled());
    const qsizetype after = h.lines().size();
    QTest::qWait(1300);
    QCOMPARE(h.lines().size(), after);
}

void tst_PingWindow::stopWhenStoppedDoesNothing() {
    Harness h;
    h.start();
    QTest::mouseClick(h.button("cmdPingStop"), Qt::LeftButton);
    QVERIFY(h.lines().isEmpty());
    QVERIFY(h.edit("txtDestIP")->isEnabled());
}

void tst_PingWindow::startWhileRunningRunsOneMoreTick() {
    Harness h;
    h.start();
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    QCOMPARE(h.icmp.echoes, 2);
    QVERIFY(h.window->PingTimer().isEnabled());
    QTest::mouseClick(h.button("cmdPingStop"), Qt::LeftButton);
    QCOMPARE(h.lines().filter(QStringLiteral("Ping Test End~!!")).size(), 1);
}

// While a tick waits for its echo, nothing else runs; the send timer's ticks
// that fell due meanwhile come once afterwards.
void tst_PingWindow::tickBlocksOtherHandlersUntilItReturns() {
    Harness h;
    h.start();
    int sendTicksDuringEcho = 0;
    int sendTicks = 0;
    bool inEcho = false;
    h.window->SendTimer().onTick = [&] {
        ++sendTicks;
        if (inEcho)
            ++sendTicksDuringEcho;
    };
    h.window->SendTimer().setInterval(20);
    h.window->SendTimer().setEnabled(true);
    h.icmp.reply = [&](platform::Ipv4) {
        inEcho = true;
        QTest::qWait(300); // an event loop runs, as a modal box would
        inEcho = false;
        return platform::EchoOutcome{};
    };
    const int before = sendTicks;
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    QCOMPARE(sendTicksDuringEcho, 0);
    QCOMPARE(sendTicks, before + 1);
    QCOMPARE(h.lines().last(), QStringLiteral("No answer from 127.0.0.1"));
    h.window->SendTimer().setEnabled(false);
}

void tst_PingWindow::realEchoFromLoopback() {
    const auto icmp = platform::makeSystemIcmpService();
    Harness h;
    h.start();
    h.window->PingTimer().setEnabled(false);
    h.edit("txtDestIP")->setText(QStringLiteral(" 127.0.0.1 "));
    platform::IcmpService* real = icmp.get();
    h.icmp.resolve = [real](const QByteArray& name) { return real->resolveFirstIpv4(name); };
    h.icmp.reply = [real](platform::Ipv4 to) { return real->echo(to, 255, 2700); };
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    QTest::mouseClick(h.button("cmdPingStop"), Qt::LeftButton);
    const QString line = h.lines().first();
    if (line.startsWith(QLatin1String("Ping: ICMP Not Available")))
        QSKIP(qPrintable(QStringLiteral("this machine allows no ICMP socket: ") + line));
    static const QRegularExpression form(
        QStringLiteral(R"(^Reply From 127\.0\.0\.1: Bytes=0 Time=\d+ms TTL=\d+$)"));
    QVERIFY2(form.match(line).hasMatch(), qPrintable(line));
}

LUMORA_TEST_MAIN(tst_PingWindow)
#include "tst_ping_window.moc"
