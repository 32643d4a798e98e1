#include "netns.h"
#include "platform/icmp_service.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QTest>
#include <QTimer>

#include <algorithm>

using testsupport::Harness;

namespace {

const QString kEnd = QStringLiteral("Ping Test End~!!");

// Records the longest time the window's thread went without an event-loop
// turn: what a user sees as a frozen window.
class StallMeter {
public:
    StallMeter() {
        turns_.setInterval(10);
        QObject::connect(&turns_, &QTimer::timeout, &turns_,
                         [this] { longest_ = std::max(longest_, sinceTurn_.restart()); });
        sinceTurn_.start();
        turns_.start();
    }
    qint64 longestMs() const { return longest_; }

private:
    QTimer turns_;
    QElapsedTimer sinceTurn_;
    qint64 longest_ = 0;
};

} // namespace

class tst_PingWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startLogsAtOnceThenAboutOncePerSecond();
    void stopWhenStoppedDoesNothing();
    void startWhileRunningRunsOneMoreTick();
    void tickWaitsOffTheWindow_data();
    void tickWaitsOffTheWindow();
    void lineWaitsForRunningHandler();
    void silentAddressInOwnNamespace();
    void realEchoFromLoopback();
};

void tst_PingWindow::startLogsAtOnceThenAboutOncePerSecond() {
    Harness h;
    h.start();
    h.edit("txtDestIP")->setText(QStringLiteral("10.1.2.3"));
    h.icmp.resolve = [](const QByteArray&) { return std::optional<lumora::platform::Ipv4>(0x0A010203); };
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    // The first line comes with the click's own echo, before any timer tick.
    QTRY_COMPARE_WITH_TIMEOUT(
        h.lines(), QStringList{QStringLiteral("Reply From 10.1.2.3: Bytes=0 Time=0ms TTL=64")}, 800);
    QVERIFY(!h.edit("txtDestIP")->isEnabled());
    QVERIFY(h.button("cmdPingStart")->isEnabled());
    QVERIFY(h.button("cmdPingStop")->isEnabled());

    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), 3, 5000);
    QVERIFY2(clock.elapsed() >= 1500 && clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));

    QTest::mouseClick(h.button("cmdPingStop"), Qt::LeftButton);
    QCOMPARE(h.lines().last(), kEnd);
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
    QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), 2, 800);
    QCOMPARE(h.icmp.echoes.load(), 2);
    QVERIFY(h.probe().PingTimer().isEnabled());
    QTest::mouseClick(h.button("cmdPingStop"), Qt::LeftButton);
    QCOMPARE(h.lines().filter(kEnd).size(), 1);
}

// A lookup or an echo that takes long holds a thread of its own, not the
// window: the click that starts it returns at once, and Ping Stop or closing
// ends the test at once, dropping the line of the tick still awaited.
void tst_PingWindow::tickWaitsOffTheWindow_data() {
    QTest::addColumn<bool>("slowLookup");
    QTest::addColumn<bool>("close");
    QTest::newRow("slow lookup, Ping Stop") << true << false;
    QTest::newRow("slow echo, Ping Stop") << false << false;
    QTest::newRow("slow echo, window closed") << false << true;
}

void tst_PingWindow::tickWaitsOffTheWindow() {
    QFETCH(bool, slowLookup);
    QFETCH(bool, close);
    Harness h;
    h.start();
    QSemaphore answer;
    std::atomic<int> waiting = 0;
    std::atomic<int> left = 0;
    auto hold = [&] {
        ++waiting;
        // Bounded, so that a window that waits for it still ends the test.
        static_cast<void>(answer.tryAcquire(1, 5000));
        ++left;
    };
    const auto releaseHeld = qScopeGuard([&] {
        answer.release(waiting);
        QVERIFY(QTest::qWaitFor([&] { return left == waiting; }));
        QTest::qWait(50);
    });
    if (slowLookup) {
        h.icmp.resolve = [&](const QByteArray&) {
            hold();
            return std::optional<lumora::platform::Ipv4>(0x7F000001);
        };
    } else {
        h.icmp.reply = [&](lumora::platform::Ipv4) {
            hold();
            return lumora::platform::EchoOutcome{};
        };
    }

    QElapsedTimer clicked;
    clicked.start();
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    QVERIFY2(clicked.elapsed() < 1000, qPrintable(QString::number(clicked.elapsed())));
    QTRY_COMPARE(waiting.load(), 1);
    QVERIFY(h.lines().isEmpty());

    if (close) {
        h.window->close();
        QCOMPARE(h.endRequests, 1);
    } else {
        QTest::mouseClick(h.button("cmdPingStop"), Qt::LeftButton);
        QVERIFY(h.edit("txtDestIP")->isEnabled());
    }
    const QStringList expected = close ? QStringList{} : QStringList{kEnd};
    QCOMPARE(h.lines(), expected);
    answer.release();
    QTRY_COMPARE(left.load(), 1);
    QTest::qWait(200);
    QCOMPARE(h.lines(), expected);
}

// The line of a tick that ends while another handler runs (here one that
// spins an event loop, as a modal box does) waits until that handler returns.
void tst_PingWindow::lineWaitsForRunningHandler() {
    Harness h;
    h.start();
    qsizetype linesDuringHandler = -1;
    h.probe().gate().deliver([&] {
        h.probe().cmdPingStart_Click();
        QTest::qWait(300);
        linesDuringHandler = h.lines().size();
    });
    QCOMPARE(linesDuringHandler, 0);
    QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), 1, 800);
}

// The system's ICMP layer against 127.0.0.1 in a namespace where it answers
// nothing: one request every 2.7 s or a little more, and the window keeps
// turning meanwhile.
void tst_PingWindow::silentAddressInOwnNamespace() {
    const testsupport::SilentLoopbackNamespace silent;
    if (!silent.failure().empty())
        QSKIP(silent.failure().c_str());
    const auto icmp = lumora::platform::makeSystemIcmpService();
    Harness h;
    h.window = lumora::app::Main(h.services({.icmp = icmp.get()}));
    h.edit("txtDestIP")->setText(QStringLiteral("127.0.0.1"));

    QElapsedTimer clock;
    QList<qint64> loggedAt;
    connect(&h.probe().logLines(), &lumora::log::LogListModel::linesAppended, this,
            [&] { loggedAt.append(clock.elapsed()); });
    StallMeter stalls;
    clock.start();
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(loggedAt.size() >= 2, 10000);
    if (h.lines().first().startsWith(QLatin1String("Ping: ICMP Not Available")))
        QSKIP(qPrintable(QStringLiteral("this machine allows no ICMP socket: ") + h.lines().first()));
    QTest::mouseClick(h.button("cmdPingStop"), Qt::LeftButton);
    const QString noAnswer = QStringLiteral("No answer from 127.0.0.1");
    QCOMPARE(h.lines(), (QStringList{noAnswer, noAnswer, kEnd}));
    // Generous against a loaded machine; a blocking echo wait stalls 2.7 s.
    QVERIFY2(stalls.longestMs() < 1000,
             qPrintable(QStringLiteral("window stalled %1 ms").arg(stalls.longestMs())));
    QVERIFY2(loggedAt[0] >= 2700 && loggedAt[0] < 4500, qPrintable(QString::number(loggedAt[0])));
    const qint64 between = loggedAt[1] - loggedAt[0];
    QVERIFY2(between >= 2700 && between < 4500, qPrintable(QString::number(between)));

    // The echo awaited at Ping Stop logs nothing when its time is up.
    QTest::qWait(3000);
    QCOMPARE(h.lines().size(), 3);
}

void tst_PingWindow::realEchoFromLoopback() {
    const auto icmp = lumora::platform::makeSystemIcmpService();
    Harness h;
    h.start();
    h.probe().PingTimer().setEnabled(false);
    h.edit("txtDestIP")->setText(QStringLiteral(" 127.0.0.1 "));
    lumora::platform::IcmpService* real = icmp.get();
    h.icmp.resolve = [real](const QByteArray& name) { return real->resolveFirstIpv4(name); };
    h.icmp.reply = [real](lumora::platform::Ipv4 to) { return real->echo(to, 255, 2700); };
    QTest::mouseClick(h.button("cmdPingStart"), Qt::LeftButton);
    QTRY_VERIFY(!h.lines().isEmpty());
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
