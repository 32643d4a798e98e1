// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/event_gate.h"
#include "platform/widgets/check_box.h"
#include "platform/widgets/combo_box.h"
#include "platform/widgets/numeric_key_filter.h"
#include "platform/widgets/option_button.h"
#include "platform/widgets/text_box.h"
#include "testsupport.h"

#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>

using namespace Qt::StringLiterals;
using lumora::platform::widgets::CheckBox;
using lumora::platform::widgets::ComboBox;
using lumora::platform::widgets::connectChange;
using lumora::platform::widgets::OptionButton;
using lumora::platform::widgets::TextBox;

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class tst_PlatformWidgets : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // From grey as from any other state, the user's clicks only tick and untick.
    void userClicksNeverGiveGrey() {
        CheckBox box;
        box.resize(40, 20);
        QVERIFY(box.setValue(2));
        for (int expected : {1, 0, 1}) {
            QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(8, 10));
            QCOMPARE(box.value(), expected);
        }
    }

    void programValueRaisesChangeEventAtOnce_data() {
        QTest::addColumn<QList<int>>("values");
        // The value each change event saw; a refused value keeps the one before.
        QTest::addColumn<QList<int>>("events");
        QTest::newRow("2 1 0") << QList<int>{2, 1, 0} << QList<int>{2, 1, 0};
        QTest::newRow("same value again") << QList<int>{0, 2, 2} << QList<int>{2};
        QTest::newRow("3 and -1 refused") << QList<int>{2, 3, -1} << QList<int>{2};
    }

    // Also while disabled, and inside a running handler: the program's own change runs its event at once,
    // where a user's would wait for the handler to end.
    void programValueRaisesChangeEventAtOnce() {
        QFETCH(QList<int>, values);
        QFETCH(QList<int>, events);
        lumora::platform::EventGate gate;
        CheckBox box;
        box.setEnabled(false);
        QList<int> seen;
        connectChange(&box, &CheckBox::changed, &box, gate, [&] { seen.append(box.value()); });
        gate.deliver([&] {
            for (int value : values)
                QCOMPARE(box.setValue(value), value >= 0 && value <= 2);
            QCOMPARE(seen, events);
        });
        QCOMPARE(seen, events);
        QCOMPARE(box.value(), events.last());
    }

    void onlyTheUsersChangeWaitsForTheRunningHandler_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("byProgram");
        for (const QString& control : {u"check box"_s, u"option button"_s, u"text box"_s, u"combo box"_s}) {
            QTest::addRow("%s, program", qPrintable(control)) << control << true;
            QTest::addRow("%s, user", qPrintable(control)) << control << false;
        }
    }

    // A handler that changes a control runs that control's event inside itself; a click or key of the user's
    // that lands while a handler runs (a box's loop, say) waits for it to end, as every other event does.
    void onlyTheUsersChangeWaitsForTheRunningHandler() {
        QFETCH(QString, control);
        QFETCH(bool, byProgram);
        QWidget window;
        auto* check = new CheckBox(&window);
        auto* option = new OptionButton(&window);
        auto* text = new TextBox(&window);
        auto* combo = new ComboBox(&window);
        const QList<QWidget*> all{check, option, text, combo};
        for (int i = 0; i < all.size(); ++i)
            all[i]->setGeometry(0, 30 * i, 100, 24);
        lumora::platform::EventGate gate;
        QStringList seen;
        connectChange(check, &CheckBox::changed, &window, gate, [&] { seen.append(u"check box"_s); });
        connectChange(option, &OptionButton::selected, &window, gate,
                      [&] { seen.append(u"option button"_s); });
        connectChange(text, &TextBox::changed, &window, gate, [&] { seen.append(u"text box"_s); });
        connectChange(combo, &ComboBox::changed, &window, gate, [&] { seen.append(u"combo box"_s); });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget* target =
            all[QStringList{u"check box"_s, u"option button"_s, u"text box"_s, u"combo box"_s}.indexOf(
                control)];

        gate.deliver([&] {
            if (byProgram) {
                if (target == check)
                    QVERIFY(check->setValue(1));
                else if (target == option)
                    option->select();
                else if (target == text)
                    text->setTextByProgram(u"5"_s);
                else
                    combo->setTextByProgram(u"5"_s);
            } else {
                QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(6, target->height() / 2));
                if (target == text || target == combo)
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_5);
            }
            QCOMPARE(seen, byProgram ? QStringList{control} : QStringList{});
        });
        QCOMPARE(seen, QStringList{control});
    }

    void unchangedValueIsNotRepainted_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("repainted");
        QTest::newRow("same value") << 1 << false;
        QTest::newRow("new value") << 2 << true;
    }

    // A reply sets all sixteen indicators; those whose value stays are not drawn again.
    void unchangedValueIsNotRepainted() {
        QFETCH(int, value);
        QFETCH(bool, repainted);
        CheckBox box;
        QVERIFY(box.setValue(1));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        PaintCounter counter;
        box.installEventFilter(&counter);
        // Whatever painting the showing brought is done with first.
        QTest::qWait(50);
        counter.paints = 0;
        QVERIFY(box.setValue(value));
        QTest::qWait(50);
        QCOMPARE(counter.paints > 0, repainted);
    }

    // The program's text is compared with what the box shows, whoever wrote it.
    void programTextReplacesTheUsersEdit() {
        TextBox box;
        box.setTextByProgram(u"17"_s);
        box.show();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(box.width() - 4, box.height() / 2));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
        QCOMPARE(box.text(), u"1"_s);
        box.setTextByProgram(u"17"_s);
        QCOMPARE(box.text(), u"17"_s);
    }

    void keyFilter_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("textAfter");
        QTest::addColumn<int>("beeps");
        const int none = Qt::NoModifier;
        const int ctrl = Qt::ControlModifier;
        const QString same = u"12"_s;
        QTest::newRow("digit") << int(Qt::Key_7) << none << u"7"_s << u"127"_s << 0;
        QTest::newRow("full stop") << int(Qt::Key_Period) << none << u"."_s << u"12."_s << 0;
        QTest::newRow("letter") << int(Qt::Key_A) << none << u"a"_s << same << 1;
        QTest::newRow("blank") << int(Qt::Key_Space) << none << u" "_s << same << 1;
        QTest::newRow("minus") << int(Qt::Key_Minus) << none << u"-"_s << same << 1;
        QTest::newRow("enter") << int(Qt::Key_Return) << none << u"\r"_s << same << 1;
        QTest::newRow("escape") << int(Qt::Key_Escape) << none << u"\x1b"_s << same << 1;
        QTest::newRow("ctrl+x") << int(Qt::Key_X) << ctrl << u"\x18"_s << same << 1;
        QTest::newRow("ctrl+a without text") << int(Qt::Key_A) << ctrl << QString() << same << 1;
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << none << u"\b"_s << u"1"_s << 0;
        QTest::newRow("home") << int(Qt::Key_Home) << none << QString() << same << 0;
        QTest::newRow("delete at end") << int(Qt::Key_Delete) << none << u"\x7f"_s << same << 0;
        // No key: the text is what an input method commits.
        QTest::newRow("input method commit") << 0 << none << u"5s-"_s << u"125"_s << 2;
    }

    // Typed as a keyboard types: the field is clicked, and the key goes to whatever then has the focus (for a
    // combo box the box itself, which hands it on to its line edit).
    void keyFilter() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, typed);
        QFETCH(QString, textAfter);
        QFETCH(int, beeps);
        QWidget window;
        auto* box = new TextBox(&window);
        auto* combo = new ComboBox(&window);
        combo->move(0, 40);
        int beeped = 0;
        for (QWidget* field : {static_cast<QWidget*>(box), static_cast<QWidget*>(combo)})
            QObject::connect(lumora::platform::widgets::NumericKeyFilter::install(field),
                             &lumora::platform::widgets::NumericKeyFilter::refused, &window,
                             [&] { ++beeped; });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (QLineEdit* field : {static_cast<QLineEdit*>(box), combo->lineEdit()}) {
            QWidget* control = field == box ? static_cast<QWidget*>(box) : combo;
            QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(4, control->height() / 2));
            QWidget* focus = QApplication::focusWidget();
            QCOMPARE(focus, control);
            field->setText(u"12"_s);
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
};

LUMORA_TEST_MAIN(tst_PlatformWidgets)
#include "tst_platform_widgets.moc"
