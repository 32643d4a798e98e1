#include "platform/widgets/controls.h"
#include "platform/event_gate.h"
#include "platform/timer.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>
#include <QThread>

using lumora::platform::widgets::CheckBox;

class tst_Controls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void userClicksNeverGiveGrey_data();
    void userClicksNeverGiveGrey();
    void invalidValueRaisesCatchableError_data();
    void invalidValueRaisesCatchableError();
    void changeEventRunsForProgramChangesWhileDisabled();
    void changeEventSkipsUnchangedValue();
    void zeroIntervalTimerNeverTicks();
    void reapplyingIntervalKeepsCadence();
    void ticksDueDuringHandlerAreDeliveredOnce();
    void lateTickKeepsPhase();
    void gateQueuesEventsWhileHandlerRuns();
    void keyFilter_data();
    void keyFilter();
};

void tst_Controls::userClicksNeverGiveGrey_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("afterClicks");
    QTest::newRow("unticked") << 0 << QList<int>{1, 0, 1};
    QTest::newRow("ticked") << 1 << QList<int>{0, 1, 0};
    QTest::newRow("greyed by program") << 2 << QList<int>{1, 0, 1};
}

void tst_Controls::userClicksNeverGiveGrey() {
    QFETCH(int, start);
    QFETCH(QList<int>, afterClicks);
    CheckBox box;
    box.resize(40, 20);
    box.setValue(start);
    for (int expected : afterClicks) {
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(8, 10));
        QCOMPARE(box.value(), expected);
    }
}

void tst_Controls::invalidValueRaisesCatchableError_data() {
    QTest::addColumn<int>("value");
    QTest::newRow("5") << 5;
    QTest::newRow("10") << 10;
    QTest::newRow("-1") << -1;
    QTest::newRow("3") << 3;
}

void tst_Controls::invalidValueRaisesCatchableError() {
    QFETCH(int, value);
    CheckBox box;
    box.setValue(1);
    int changes = 0;
    box.changed.bind(nullptr, [&] { ++changes; });
    try {
        box.setValue(value);
        QFAIL("no error raised");
    } catch (const lumora::platform::widgets::ControlError& error) {
        QCOMPARE(error.code(), lumora::platform::widgets::kInvalidPropertyValue);
        QVERIFY(!error.description().isEmpty());
    }
    QCOMPARE(box.value(), 1);
    QCOMPARE(changes, 0);
}

void tst_Controls::changeEventRunsForProgramChangesWhileDisabled() {
    lumora::platform::EventGate gate;
    CheckBox box;
    box.setEnabled(false);
    QList<int> seen;
    box.changed.bind(&gate, [&] { seen.append(box.value()); });
    // Even inside a running handler the program's own change runs its event at once.
    gate.deliver([&] {
        box.setValue(2);
        box.setValue(1);
        box.setValue(0);
        QCOMPARE(seen.size(), 3);
    });
    QCOMPARE(seen, (QList<int>{2, 1, 0}));
}

void tst_Controls::changeEventSkipsUnchangedValue() {
    CheckBox box;
    int changes = 0;
    box.changed.bind(nullptr, [&] { ++changes; });
    box.setValue(0);
    QCOMPARE(changes, 0);
    box.setValue(2);
    box.setValue(2);
    QCOMPARE(changes, 1);
}

void tst_Controls::zeroIntervalTimerNeverTicks() {
    lumora::platform::EventGate gate;
    lumora::platform::Timer timer(gate, 0);
    int ticks = 0;
    timer.onTick = [&] { ++ticks; };
    timer.setEnabled(true);
    QTest::qWait(150);
    QCOMPARE(ticks, 0);
    // A positive interval makes the same timer tick; 0 stops it again.
    timer.setInterval(10);
    QTRY_VERIFY(ticks > 0);
    timer.setInterval(0);
    const int before = ticks;
    QTest::qWait(100);
    QCOMPARE(ticks, before);
}

void tst_Controls::reapplyingIntervalKeepsCadence() {
    lumora::platform::EventGate gate;
    lumora::platform::Timer timer(gate, 100);
    int ticks = 0;
    // Re-applying the unchanged interval on every tick, as repeated sending does.
    timer.onTick = [&] {
        ++ticks;
        timer.setInterval(100);
    };
    QElapsedTimer clock;
    clock.start();
    timer.setEnabled(true);
    // A restart on each re-apply would still tick; restarting from a fresh
    // setInterval every 30 ms must not (the count would never run out).
    QTimer poke;
    QObject::connect(&poke, &QTimer::timeout, &poke, [&] { timer.setInterval(100); });
    poke.start(30);
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 5, 5000);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

void tst_Controls::ticksDueDuringHandlerAreDeliveredOnce() {
    lumora::platform::EventGate gate;
    lumora::platform::Timer timer(gate, 10);
    int ticks = 0;
    timer.onTick = [&] { ++ticks; };
    gate.deliver([&] {
        timer.setEnabled(true);
        // Like a modal box: the event loop runs, many ticks fall due.
        QTest::qWait(200);
        QCOMPARE(ticks, 0);
    });
    QCOMPARE(ticks, 1);
}

// A tick held up for more than two intervals must not shift every later
// tick: they stay on the interval's grid, counted from when it was armed.
// Shifted, they would sit half an interval off it; a busy machine delays
// each tick a little, far less than that.
void tst_Controls::lateTickKeepsPhase() {
    constexpr int kInterval = 100;
    lumora::platform::EventGate gate;
    lumora::platform::Timer timer(gate, kInterval);
    QElapsedTimer clock;
    QList<qint64> ticks;
    timer.onTick = [&] {
        ticks.append(clock.elapsed());
        if (ticks.size() == 1)
            QThread::msleep(2 * kInterval + kInterval / 2);
    };
    clock.start();
    timer.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 8, 5000);
    timer.setEnabled(false);
    QList<qint64> offsets;
    for (qsizetype i = 3; i < ticks.size(); ++i)
        offsets.append(ticks[i] % kInterval);
    std::sort(offsets.begin(), offsets.end());
    const qint64 median = offsets[offsets.size() / 2];
    QVERIFY2(median < kInterval / 4, qPrintable(QStringLiteral("median offset %1 ms").arg(median)));
}

void tst_Controls::gateQueuesEventsWhileHandlerRuns() {
    lumora::platform::EventGate gate;
    QStringList order;
    gate.deliver([&] {
        order << QStringLiteral("a-begin");
        gate.deliver([&] { order << QStringLiteral("b"); });
        gate.deliver([&] { order << QStringLiteral("c"); });
        order << QStringLiteral("a-end");
    });
    QCOMPARE(order, (QStringList{QStringLiteral("a-begin"), QStringLiteral("a-end"), QStringLiteral("b"),
                                 QStringLiteral("c")}));
    gate.shutDown();
    gate.deliver([&] { order << QStringLiteral("late"); });
    QCOMPARE(order.size(), 4);
}

void tst_Controls::keyFilter_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("textAfter");
    QTest::addColumn<int>("beeps");
    const int none = Qt::NoModifier;
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("digit") << int(Qt::Key_7) << none << QStringLiteral("7") << QStringLiteral("127") << 0;
    QTest::newRow("full stop") << int(Qt::Key_Period) << none << QStringLiteral(".") << QStringLiteral("12.")
                               << 0;
    QTest::newRow("letter") << int(Qt::Key_A) << none << QStringLiteral("a") << QStringLiteral("12") << 1;
    QTest::newRow("blank") << int(Qt::Key_Space) << none << QStringLiteral(" ") << QStringLiteral("12") << 1;
    QTest::newRow("minus") << int(Qt::Key_Minus) << none << QStringLiteral("-") << QStringLiteral("12") << 1;
    QTest::newRow("enter") << int(Qt::Key_Return) << none << QStringLiteral("\r") << QStringLiteral("12")
                           << 1;
    QTest::newRow("escape") << int(Qt::Key_Escape) << none << QStringLiteral("\x1b") << QStringLiteral("12")
                            << 1;
    QTest::newRow("ctrl+x") << int(Qt::Key_X) << ctrl << QStringLiteral("\x18") << QStringLiteral("12") << 1;
    QTest::newRow("ctrl+a without text") << int(Qt::Key_A) << ctrl << QString() << QStringLiteral("12") << 1;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << none << QStringLiteral("\b")
                               << QStringLiteral("1") << 0;
    QTest::newRow("home") << int(Qt::Key_Home) << none << QString() << QStringLiteral("12") << 0;
    QTest::newRow("delete at end") << int(Qt::Key_Delete) << none << QStringLiteral("\x7f")
                                   << QStringLiteral("12") << 0;
    // No key: the text is what an input method commits.
    QTest::newRow("input method commit") << 0 << none << QStringLiteral("5s-") << QStringLiteral("125") << 2;
}

// Typed as a keyboard types: the field is clicked, and the key goes to
// whatever then has the focus (for a combo box the box itself, which hands
// it on to its line edit).
void tst_Controls::keyFilter() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, typed);
    QFETCH(QString, textAfter);
    QFETCH(int, beeps);
    QWidget window;
    auto* box = new lumora::platform::widgets::TextBox(&window);
    auto* combo = new lumora::platform::widgets::ComboBox(&window);
    combo->move(0, 40);
    int beeped = 0;
    lumora::platform::widgets::NumericKeyFilter::install(box, [&] { ++beeped; });
    lumora::platform::widgets::NumericKeyFilter::install(combo, [&] { ++beeped; });
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    for (QLineEdit* field : {static_cast<QLineEdit*>(box), combo->lineEdit()}) {
        QWidget* control = field == box ? static_cast<QWidget*>(box) : combo;
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(4, control->height() / 2));
        QWidget* focus = QApplication::focusWidget();
        QCOMPARE(focus, control);
        field->setText(QStringLiteral("12"));
        field->setCursorPosition(2);
        beeped = 0;
        if (key != 0) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), typed);
            QApplication::sendEvent(focus, &press);
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(typed);
            QApplication::sendEvent(focus, &commit);
        }
        QCOMPARE(field->text(), textAfter);
        QCOMPARE(beeped, beeps);
    }
}

LUMORA_TEST_MAIN(tst_Controls)
#include "tst_controls.moc"
