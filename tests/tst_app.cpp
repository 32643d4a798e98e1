// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a user meets it, over its session.

#include "app/live_signals.h"
#include "loopbackpeer.h"
#include "settingsfile.h"
#include "settingsfilehold.h"
#include "unitemulator.h"
#include "waveform/signal_window.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTimer>

#include <cstdio>

using namespace testsupport;
using namespace testsupport::app_texts;
using namespace Qt::StringLiterals;
namespace settings = lumora::settings;
namespace widgets = lumora::platform::widgets;

namespace {

constexpr int kCounterReset = 2;
void boolRows(const char* column, const char* whenFalse, const char* whenTrue) {
    QTest::addColumn<bool>(column);
    QTest::newRow(whenFalse) << false;
    QTest::newRow(whenTrue) << true;
}
QString twoDigits(int n) {
    return u"%1"_s.arg(n, 2, 10, QLatin1Char('0'));
}
// Connect, Disconnect, Send, End enabled, in that order.
QList<bool> buttons(const Harness& h) {
    return {h.button("cmdConnect")->isEnabled(), h.button("cmdDisconnect")->isEnabled(),
            h.button("cmdSend")->isEnabled(), h.button("cmdEnd")->isEnabled()};
}
const QList<bool> kIdle{true, false, false, false};
const QList<bool> kConnectedButtons{false, true, true, true};
struct Started : Harness {
    Started() { start(); }
};
struct Linked : Harness {
    LoopbackPeer peer;
    bool connect() { return startConnected(peer); }
    // The peer sends bytes; true once the window has logged that many more lines.
    bool arrive(const QByteArray& bytes, int more) {
        const qsizetype before = lines().size();
        return peer.send(bytes) && QTest::qWaitFor([&] { return lines().size() >= before + more; }, kWaitMs);
    }
};
// A box's text, or a check box as 0 unticked, 1 ticked, 2 greyed.
QString shown(const Harness& h, const char* array, int index) {
    if (const auto* box = qobject_cast<QCheckBox*>(h.find<QWidget>(array, index)))
        return QString::number(std::array{0, 2, 1}[box->checkState()]);
    return h.find<QLineEdit>(array, index)->text();
}
QStringList boxesShown(const Harness& h) {
    QStringList shown;
    for (const ShownBox& box : h.dialogs.shown)
        shown.append(box.title + u'|' + box.text);
    return shown;
}
void chooseRepeat(Harness& h, const QString& interval) {
    h.click("optInterval", 1);
    Harness::type(h.cboTime()->lineEdit(), interval);
}
// Usable mode controls: 0 when locked; when free 3, or 2 in one-time mode (interval greyed).
int modeControlsEnabled(const Harness& h) {
    return int(h.find<QWidget>("optInterval", 0)->isEnabled()) +
           int(h.find<QWidget>("optInterval", 1)->isEnabled()) + int(h.cboTime()->isEnabled());
}
// The colour set for the interval box, not the greyed one Qt shows while disabled.
QColor background(const Harness& h) {
    return h.cboTime()->palette().color(QPalette::Active, QPalette::Base);
}
struct PaintCounter : QObject {
    int paints = 0;
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};
bool pick(QComboBox* combo, int row) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = true;
    const QRect arrow =
        combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, combo);
    QTest::mouseClick(combo, Qt::LeftButton, {}, arrow.center());
    QAbstractItemView* list = combo->view();
    if (!QTest::qWaitForWindowExposed(list->window()))
        return false;
    const QModelIndex item = list->model()->index(row, 0);
    list->scrollTo(item);
    // The list takes no release that follows its opening as closely as a double click would.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
    return !list->isVisible();
}
// Controls found by name as a screen reader does, through the accessibility tree; labels left out.
void collect(QAccessibleInterface* node, const QString& name, QList<QObject*>& found) {
    if (node == nullptr)
        return;
    if (node->role() != QAccessible::StaticText && node->text(QAccessible::Name) == name)
        found.append(node->object());
    for (int i = 0; i < node->childCount(); ++i)
        collect(node->child(i), name, found);
}
bool touch(const QString& path) {
    return QFile(path).open(QIODevice::WriteOnly);
}
// The child run of closingDuringSystemBoxEndsProcess: the emulator's port and the program folder.
constexpr char kChildPort[] = "LUMORA_CLOSING_CHILD_PORT";
constexpr char kChildFolder[] = "LUMORA_CLOSING_CHILD_FOLDER";
const QByteArray kClosingNow = "closing the window now"_ba;
const QByteArray kLoopEnded = "event loop ended"_ba;
// The window as the program runs it: system boxes, and a close that ends the event loop.
void runClosingChild(quint16 port) {
    Harness h;
    widgets::SystemDialogs systemBoxes;
    lumora::app::Services services = h.services({.dialogs = &systemBoxes});
    services.programDir = qEnvironmentVariable(kChildFolder);
    h.open(services);
    QObject::connect(h.window.get(), &lumora::app::frmSim_7150R::endRequested, qApp, [] { QCoreApplication::exit(0); });
    h.dial(QString::number(port));
    QVERIFY(Harness::waitFor([&h] { return h.events().contains(kConnected); }, kWaitMs));
    h.click("optLog", 1);
    h.click("cmdSend");
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, &user, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible() && h.window->isVisible()) {
                std::puts(kClosingNow.constData());
                std::fflush(stdout);
                h.window->close();
            }
    });
    user.start(kFastMs);
    QTimer::singleShot(kWaitMs, [] { QCoreApplication::exit(2); });
    const int status = QApplication::exec();
    std::puts(kLoopEnded.constData());
    std::fflush(stdout);
    QCOMPARE(status, 0);
}
const QString kSignalsEntry = u"Signals over Time..."_s;
// The open "Signals over Time" windows.
QList<lumora::waveform::SignalWindow*> signalWindows() {
    QList<lumora::waveform::SignalWindow*> open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<lumora::waveform::SignalWindow*>(w);
            found != nullptr && found->isVisible() && found->windowTitle() == "Signals over Time"_L1)
            open.append(found);
    return open;
}
QStringList entries(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts.append(action->text());
    return texts;
}
// What the user typed and sees in the main window, the log included.
QStringList mainWindowShows(const Harness& h) {
    QStringList shown{h.edit("txtDestIP")->text(), h.edit("txtDestPort")->text(), h.cboTime()->currentText()};
    for (const bool enabled : buttons(h))
        shown.append(QString::number(int(enabled)));
    return shown + h.lines();
}
QString clientDataFolder() {
    return QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath(u"lumora-7150r-sim"_s);
}

} // namespace

class tst_App : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // The name the client's executable gives it.
        QCoreApplication::setApplicationName(u"lumora-7150r-sim"_s);
    }
    void init() { removeSettings(); }
    // Connected, a frame goes out; a status request that went out is awaited, a
    // refused frame changes nothing; without a connection only repetition reconnects.
    // --- Start-up, settings and where the log goes
    // Defaults, a Log folder, design state, the desktop entry and stamps in UTC.
    void firstStartShowsDesignState() {
        Harness h;
        QVERIFY(!QFileInfo::exists(h.programDir.filePath(u"Log"_s)));
        h.start();
        QVERIFY(QFileInfo(h.programDir.filePath(u"Log"_s)).isDir());
        QCOMPARE(h.edit("txtDestIP")->text(), u"192.1.1.110"_s);
        QCOMPARE(h.edit("txtDestPort")->text(), u"4000"_s);
        QCOMPARE(h.cboTime()->currentText(), u"1"_s);
        QVERIFY(h.lines().isEmpty());
        for (int i = 0; i < 12; ++i)
            QCOMPARE(h.find<QAbstractButton>("chkDIValue", i)->text(), twoDigits(i));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(h.find<QAbstractButton>("chkDOValue", i)->text(), twoDigits(i + 1));
            QVERIFY(!h.find<QWidget>("chkDOValue", i)->isEnabled());
        }
        for (const lumora::app::ControlEntry& design : lumora::app::controlInventory()) {
            const auto* w = h.find<QWidget>(design.name);
            const auto* option = qobject_cast<const QRadioButton*>(w);
            QVERIFY2(w->isEnabled() == design.enabled && (option == nullptr || option->isChecked() == design.selected),
                     qPrintable(design.name));
        }
        const QString entry = QStringLiteral(LUMORA_SOURCE_DIR "/dist/") + QGuiApplication::desktopFileName();
        QVERIFY2(!QGuiApplication::desktopFileName().isEmpty() && QFileInfo::exists(entry + u".desktop"_s),
                 qPrintable(entry));
        // 01:30 on 7 Dec at UTC+2 is 23:30 on 6 Dec in UTC.
        h.clock.utc = QDateTime(QDate(2026, 12, 7), QTime(1, 30, 0, 250), Qt::OffsetFromUTC, 7200);
        QCOMPARE(h.session().GetTimeStamp(), u"[23:30:00.250]"_s);
    }
    // Layout fits and does not clip at any scale; focus follows the inventory; names reach readers.
    void windowIsUsable() {
        Started h;
        QList<QWidget*> all;
        for (const lumora::app::ControlEntry& design : lumora::app::controlInventory())
            all.append(h.find<QWidget>(design.name));
        for (QWidget* w : all) {
            QWidget* parent = w->parentWidget();
            QVERIFY2(parent->rect().contains(w->geometry()), qPrintable(w->objectName()));
            for (QWidget* other : all) {
                if (other == w || other->parentWidget() != parent || other->objectName() == "Line1"_L1 ||
                    w->objectName() == "Line1"_L1)
                    continue;
                QVERIFY2(!w->geometry().intersects(other->geometry()),
                         qPrintable(w->objectName() + u" overlaps "_s + other->objectName()));
            }
            const auto* button = qobject_cast<QAbstractButton*>(w);
            const auto* label = qobject_cast<QLabel*>(w);
            const QString caption = button != nullptr  ? button->text()
                                    : label != nullptr ? label->text()
                                                       : QString();
            // Indicator of option and check boxes plus the text must fit.
            const int needed = w->fontMetrics().horizontalAdvance(caption) +
                               (button != nullptr && !qobject_cast<QPushButton*>(w) ? 18 : 0);
            QVERIFY2(caption.isEmpty() || needed <= w->width(), qPrintable(w->objectName() + u" clips"_s));
        }
        // The keyboard visits the controls that take focus in the inventory's order, and a screen reader
        // finds each one that has a name by that name: its own, or the field typed into inside it.
        QWidget* previous = nullptr;
        QStringList names;
        for (const lumora::app::ControlEntry& design : lumora::app::controlInventory()) {
            QWidget* widget = h.find<QWidget>(design.name);
            if (widget->focusPolicy() != Qt::NoFocus) {
                QWidget* next = previous == nullptr ? widget : previous->nextInFocusChain();
                // Labels and frames take no focus; a combo box's line edit has no name.
                while (next->objectName().isEmpty() || next->focusPolicy() == Qt::NoFocus)
                    next = next->nextInFocusChain();
                QCOMPARE(next->objectName(), design.name);
                previous = widget;
            }
            const QString name = design.accessibleName;
            if (name.isEmpty())
                continue;
            QVERIFY2(!names.contains(name), qPrintable(name));
            names.append(name);
            QList<QObject*> found;
            collect(QAccessible::queryAccessibleInterface(h.window.get()), name, found);
            QVERIFY2(!found.isEmpty(), qPrintable(name));
            for (QObject* object : std::as_const(found)) {
                auto* foundWidget = qobject_cast<QWidget*>(object);
                QVERIFY2(foundWidget != nullptr && (foundWidget == widget || widget->isAncestorOf(foundWidget)),
                         qPrintable(name + u" finds "_s + object->objectName()));
            }
        }
        QVERIFY(names.size() >= 12 + 12 + 12 + 4);
    }
    void pickedIntervalIsStored() {
        Started h;
        h.cboTime()->setEnabled(true);
        QVERIFY(pick(h.cboTime(), 14));
        QTRY_COMPARE_WITH_TIMEOUT(storedSetting(settings::kIntervalKey), u"15"_s, 1000);
    }
    // Damaged behind the window's back, the file is found unreadable when written: left as it is, said once.
    void settingsDamagedWhileRunningAreLeftAsTheyAre() {
        Started h;
        h.settings.flush();
        // Only the first reader after the damage learns of it: the test reads nothing until the store has.
        const QStringList said{u" Settings Save Fail!! unreadable settings file "_s + settingsPath() +
                               u", left as it is"_s};
        const QByteArray damaged("[Simulator_6180\nPORT = 4001\n");
        QVERIFY(writeSettingsFile(damaged));
        QWidget* keys = h.focusByClick(h.edit("txtDestPort"));
        QVERIFY(keys != nullptr);
        QTest::keyClick(keys, Qt::Key_End);
        QTest::keyClick(keys, Qt::Key_Backspace);
        QTRY_COMPARE_WITH_TIMEOUT(h.events().filter(u"Settings"_s), said, 1000);
        QTest::keyClicks(keys, u"12"_s);
        h.settings.flush();
        QTest::qWait(kSettleMs);
        QCOMPARE(h.events().filter(u"Settings"_s), said);
        QCOMPARE(readSettingsFile(), damaged);
    }
    // Another program holding the file (a large one takes long to write) does not hold the window.
    void typingWaitsForNoSettingsWrite() {
        Started h;
        QWidget* keys = h.focusByClick(h.edit("txtDestPort"));
        QVERIFY(keys != nullptr);
        h.settings.flush();
        SettingsFileHold hold(settingsPath());
        QVERIFY(hold.held());
        QTest::keyClick(keys, Qt::Key_End);
        QTest::keyClick(keys, Qt::Key_Backspace);
        QTest::keyClicks(keys, u"12"_s);
        QCOMPARE(h.edit("txtDestPort")->text(), u"40012"_s);
        QVERIFY2(hold.release(), "a keystroke waited for the settings file");
        QTRY_COMPARE_WITH_TIMEOUT(storedSetting(settings::kPortKey), u"40012"_s, 1000);
        QVERIFY(h.events().filter(u"Settings"_s).isEmpty());
    }
    void unreadableSettingsAreLeftAsTheyAre_data() {
        // Empty: a folder where the file should be.
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("folder in place of the file") << QByteArray();
        QTest::newRow("file that cannot be parsed")
            << QByteArray("[Simulator_6180\nADDRESS = 127.0.0.1\nPORT = 4001\n");
    }
    // Start-up goes on with defaults and says so once; typing writes nothing over the unreadable file.
    void unreadableSettingsAreLeftAsTheyAre() {
        QFETCH(QByteArray, content);
        const QString path = settingsPath();
        QVERIFY(content.isEmpty() ? QDir().mkpath(path) : writeSettingsFile(content));
        Harness h;
        QVERIFY(touch(h.programDir.filePath(u"Log"_s)));
        h.start();
        QVERIFY(QFileInfo(h.programDir.filePath(u"Log"_s)).isFile());
        QVERIFY(h.window->isVisible());
        QCOMPARE(h.edit("txtDestIP")->text(), settings::kDefaultAddress);
        QCOMPARE(h.edit("txtDestPort")->text(), settings::kDefaultPort);
        QWidget* keys = h.focusByClick(h.edit("txtDestPort"));
        QVERIFY(keys != nullptr);
        QTest::keyClick(keys, Qt::Key_End);
        QTest::keyClicks(keys, u"1"_s);
        QCOMPARE(h.edit("txtDestPort")->text(), u"40001"_s);
        const QStringList said = h.events().filter(u"Settings"_s);
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].startsWith(u" Settings Read Fail!! "_s) && said[0].contains(path),
                 qPrintable(said[0]));
        if (content.isEmpty())
            QVERIFY(QFileInfo(path).isDir());
        else
            QCOMPARE(readSettingsFile(), content);
    }
    void logHomeFollowsWhereTheProgramRuns_data() {
        columns<QString, QString, bool>("programDir", "installedBinDir", "installed");
        QTest::newRow("installation's bin folder") << u"/usr/bin"_s << u"/usr/bin"_s << true;
        QTest::newRow("same folder spelt another way") << u"/usr/bin"_s << u"/usr/lib/../bin/"_s << true;
        QTest::newRow("build folder") << u"/home/engineer/lumora/build"_s << u"/usr/local/bin"_s << false;
        QTest::newRow("copy in a folder of its own") << u"/opt/lumora"_s << u"/usr/bin"_s << false;
        QTest::newRow("prefix of the bin folder") << u"/usr"_s << u"/usr/bin"_s << false;
        QTest::newRow("no installation configured") << u"/usr/bin"_s << QString() << false;
    }
    void logHomeFollowsWhereTheProgramRuns() {
        QFETCH(QString, programDir);
        QFETCH(QString, installedBinDir);
        QFETCH(bool, installed);
        QCOMPARE(lumora::app::logHome(programDir, installedBinDir),
                 installed ? clientDataFolder() : programDir);
    }
    // Installed under another prefix (desktop entry beside it): the log goes to the data folder.
    void installedProgramLogsIntoDataFolder() {
        QTemporaryDir prefix;
        const QString bin = prefix.filePath(u"bin"_s);
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(prefix.filePath(u"share/applications"_s)));
        QCOMPARE(lumora::app::logHome(bin), bin);
        QVERIFY(touch(prefix.filePath(u"share/applications/example.lumora.Sim7150R.desktop"_s)));
        QVERIFY(!QFileInfo::exists(clientDataFolder()));
        Harness h;
        lumora::app::Services services = h.services();
        services.programDir = lumora::app::logHome(bin);
        QCOMPARE(services.programDir, clientDataFolder());
        h.open(services);
        QVERIFY(QFileInfo(QDir(clientDataFolder()).filePath(u"Log"_s)).isDir());
        QVERIFY(QDir(bin).isEmpty());
    }
    // --- The window's controls and its log list
    void burstOfLinesIsPaintedOnceAFrame_data() {
        QTest::addColumn<int>("before");
        QTest::newRow("empty list") << 0;
        // Full, every new line moves all rows' text up instead of adding a row.
        QTest::newRow("full list") << 1001;
    }
    // A burst is painted in a handful of frames, its last line in view, up to the list's cap.
    void burstOfLinesIsPaintedOnceAFrame() {
        QFETCH(int, before);
        Started h;
        for (int i = 0; i < before; ++i)
            h.session().addLog(u"old %1"_s.arg(i));
        auto* list = h.find<QListView>(u"List1"_s);
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        QTest::qWait(100);
        PaintCounter counter;
        list->viewport()->installEventFilter(&counter);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 300; ++i) {
            h.session().addLog(u"line %1"_s.arg(i));
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY(counter.paints > 0);
        const int framesAtMost = int(clock.elapsed() / 33) + 3;
        QVERIFY2(counter.paints <= framesAtMost, qPrintable(QString::number(counter.paints)));
        // Whatever the burst left for its last frame is painted first.
        QTest::qWait(200);
        const int painted = counter.paints;
        counter.painted = QRegion();
        h.session().addLog(u"last"_s);
        QTRY_VERIFY(counter.paints > painted);
        // Every row in view shows other text now, not only the newest.
        QCOMPARE(counter.painted.boundingRect(), list->viewport()->rect());
        const QModelIndex newest = list->currentIndex();
        QCOMPARE(newest.row(), std::min(before + 300, 1000));
        QCOMPARE(newest.data().toString(), u"last"_s);
        QVERIFY(list->viewport()->rect().contains(list->visualRect(newest)));
        h.click("cmdClear");
        QVERIFY(h.lines().isEmpty());
    }
    // The user scrolled a full list up: the next line brings its newest row back into view.
    void newestLineComesBackIntoView() {
        Started h;
        for (int i = 0; i < 1001; ++i)
            h.session().addLog(u"old %1"_s.arg(i));
        auto* list = h.find<QListView>(u"List1"_s);
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        QScrollBar* bar = list->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
        h.session().addLog(u"in view"_s);
        QCoreApplication::processEvents();
        // A click on the track above the handle pages up.
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->width() + 4));
        QTRY_VERIFY(bar->value() < bar->maximum());
        h.session().addLog(u"newest"_s);
        const QModelIndex newest = list->model()->index(1000, 0);
        QCOMPARE(newest.data().toString(), u"newest"_s);
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(newest)));
    }
    void fieldsTakeWhatTheyMay_data() {
        columns<QString, QString, QString, QString, int>("field", "stored", "typed", "expected", "beeps");
        const QString name = u"unit-07.workshop.example"_s;
        QTest::newRow("address letter") << u"txtDestIP"_s << QString() << u"1a"_s << u"1"_s << 1;
        QTest::newRow("address minus and blank") << u"txtDestIP"_s << QString() << u"-1 "_s << u"1"_s << 2;
        QTest::newRow("port full stop") << u"txtDestPort"_s << QString() << u"80.5"_s << u"80.5"_s << 0;
        QTest::newRow("interval letter and minus")
            << u"cboTime"_s << QString() << u"0.5s-"_s << u"0.5"_s << 2;
        QTest::newRow("address 15") << u"txtDestIP"_s << QString() << QString(16, u'1') << QString(15, u'1')
                                    << 0;
        QTest::newRow("port 5") << u"txtDestPort"_s << QString() << u"123456"_s << u"12345"_s << 0;
        // Typing limits do not bind the store: a longer stored text stays whole, typing can't lengthen it.
        QTest::newRow("stored address longer") << u"txtDestIP"_s << name << u"1"_s << name << 0;
        QTest::newRow("stored address, one off, one typed")
            << u"txtDestIP"_s << name << u"\b1"_s << name.chopped(1) << 0;
        QTest::newRow("stored port longer") << u"txtDestPort"_s << u"400010"_s << u"1"_s << u"400010"_s << 0;
        const QString longest(40000, u'9');
        QTest::newRow("stored interval of 40000 characters")
            << u"cboTime"_s << longest << QString() << longest << 0;
    }
    // Start-up writes nothing; keys go to the focus widget; refused characters and Return beep.
    void fieldsTakeWhatTheyMay() {
        QFETCH(QString, field);
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QFETCH(int, beeps);
        const bool interval = field == "cboTime"_L1;
        const QString key = interval                  ? settings::kIntervalKey
                            : field == "txtDestIP"_L1 ? settings::kAddressKey
                                                      : settings::kPortKey;
        QMap<QString, QString> values{{settings::kAddressKey, u"127.0.0.1"_s},
                                      {settings::kPortKey, u"4001"_s},
                                      {settings::kIntervalKey, u"2.5"_s}};
        values[key] = stored;
        QByteArray handMade = "[Simulator_6180]\n";
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            handMade += it.key().toLatin1() + " = " + it.value().toLatin1() + "\n";
        QVERIFY(writeSettingsFile(handMade));
        Started h;
        h.settings.flush();
        QCOMPARE(readSettingsFile(), handMade);
        h.cboTime()->setEnabled(true);
        QLineEdit* edit = interval ? h.cboTime()->lineEdit() : h.find<QLineEdit>(field);
        QCOMPARE(edit->text(), stored);
        QWidget* keys = h.focusByClick(h.find<QWidget>(field));
        QVERIFY(keys != nullptr);
        QTest::keyClick(keys, Qt::Key_End);
        QTest::keyClicks(keys, typed);
        QTest::keyClick(keys, Qt::Key_Return);
        QCOMPARE(edit->text(), expected);
        QCOMPARE(h.beeper.beeps, beeps + 1);
        QTest::keyClick(keys, Qt::Key_Home);
        QCOMPARE(edit->cursorPosition(), 0);
        QTest::keyClick(keys, Qt::Key_Delete);
        QCOMPARE(edit->text(), expected.mid(1));
        QCOMPARE(h.beeper.beeps, beeps + 1);
        values[key] = expected.mid(1);
        h.settings.flush();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            QCOMPARE(storedSetting(it.key()), it.value());
    }
    void linkOpensMakerPage_data() { boolRows("fails", "opened", "no program to open it"); }
    void linkOpensMakerPage() {
        QFETCH(bool, fails);
        const QString failure = u"No program could be started"_s;
        Harness h;
        if (fails)
            h.shell.failure = failure;
        h.start();
        auto* link = h.find<QLabel>(u"Label11"_s);
        QCOMPARE(link->text(), u"http://www.lumora.example/"_s);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(h.shell.opened, QList<QUrl>{QUrl(u"http://www.lumora.example/"_s)});
        QCOMPARE(boxesShown(h), QStringList(fails ? 1 : 0, u"Error|"_s + failure));
        QVERIFY(h.window->isVisible());
    }
    // --- The way into the signals over time
    // Status replies only, the newest 100,000 at least, in at most 16 MB, each as its bytes say; told of many
    // at once.
    void liveRepliesKeepStatusReplies() {
        lumora::app::LiveReplies live;
        int told = 0;
        QObject::connect(&live, &lumora::app::LiveReplies::appended, &live, [&told] { ++told; });
        for (const int size : {0, 111, 113, 224})
            live.take(1, QByteArray(size, '\0'));
        QCOMPARE(live.store().size(), 0);
        const QByteArray bytes = reply({{1, "02"}, {12, "07000000"}, {111, "01"}});
        for (qint64 ms = 0; ms <= 100'000; ++ms)
            live.take(ms, bytes);
        // Told once of them all, a little later.
        QTest::qWait(lumora::app::LiveReplies::kTellEveryMs * 4);
        QCOMPARE(told, 1);
        const auto& store = live.store();
        QVERIFY(store.size() >= 100'000 && store.memoryBytes() <= 16'000'000);
        const lumora::timeline::Sample newest = store.at(store.size() - 1);
        QCOMPARE(newest.ms, qint64{100'000});
        QCOMPARE(newest.counters[0], 7U);
        QCOMPARE(int(newest.lane(1)), 2);
        QCOMPARE(int(newest.lane(15)), 1);
    }
    // Right-click: the one entry anywhere but on the three fields, which keep their own menus.
    void rightClickOffersSignals_data() {
        columns<QString, bool, bool>("control", "repeat", "offered");
        for (const char* name : {"Label3", "Frame6", "txtCounter(0)", "cmdSend", "List1"})
            QTest::newRow(name) << QString::fromLatin1(name) << false << true;
        for (const char* name : {"txtDestIP", "txtDestPort", "cboTime"})
            QTest::newRow(name) << QString::fromLatin1(name) << false << false;
        QTest::newRow("cboTime in repeat mode") << u"cboTime"_s << true << false;
    }
    void rightClickOffersSignals() {
        QFETCH(QString, control);
        QFETCH(bool, repeat);
        QFETCH(bool, offered);
        Started h;
        if (repeat)
            h.click("optInterval", 1);
        QWidget* target = h.find<QWidget>(control);
        // Through the window system, which turns the press into the context menu event.
        QTest::mouseClick(h.window->windowHandle(), Qt::RightButton, {},
                          target->mapTo(h.window.get(), QPoint(4, target->height() / 2)));
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!offered) {
            // A field's own menu, or none while the field is disabled; never the entry.
            QCOMPARE(menu != nullptr, target->isEnabled());
            QVERIFY(menu == nullptr || !entries(menu).contains(kSignalsEntry));
            QVERIFY(signalWindows().isEmpty());
            return;
        }
        QVERIFY(menu != nullptr);
        QCOMPARE(entries(menu), QStringList{kSignalsEntry});
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().first()).center());
        QTRY_COMPARE(signalWindows().size(), 1);
        QVERIFY(!signalWindows().first()->isModal());
    }
    // F9 from wherever the focus is, fields included; it types nothing, and a second one raises the open
    // window.
    void f9OpensSignals_data() {
        QTest::addColumn<QString>("focus");
        for (const char* name : {"txtDestIP", "txtDestPort", "cboTime", "List1"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void f9OpensSignals() {
        QFETCH(QString, focus);
        Started h;
        h.click("optInterval", 1);
        const QStringList before = mainWindowShows(h);
        QWidget* keys = h.focusByClick(h.find<QWidget>(focus));
        QVERIFY(keys != nullptr);
        QTest::keyClick(keys, Qt::Key_F9);
        QTRY_COMPARE(signalWindows().size(), 1);
        lumora::waveform::SignalWindow* opened = signalWindows().first();
        QCOMPARE(h.focusByClick(h.find<QWidget>(focus)), keys);
        QTest::keyClick(keys, Qt::Key_F9);
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(opened));
        QCOMPARE(signalWindows(), QList{opened});
        QCOMPARE(mainWindowShows(h), before);
        QCOMPARE(h.beeper.beeps, 0);
    }
    void closingEndsProgramAndSilencesHandlers() {
        Started h;
        h.click("optInterval", 1);
        // The address stays as it is while a ping test runs.
        h.click("cmdPingStart");
        QVERIFY(!h.edit("txtDestIP")->isEnabled());
        h.click("cmdPingStop");
        QVERIFY(h.edit("txtDestIP")->isEnabled());
        h.click("cmdPingStart");
        h.window->close();
        QCOMPARE(h.endRequests, 1);
        QVERIFY(!h.session().isPinging());
        const qsizetype before = h.lines().size();
        h.button("cmdClear")->setEnabled(true);
        h.session().gate().deliver([&] { h.session().addLog(u"late"_s); });
        QCOMPARE(h.lines().size(), before);
    }
    // --- The connection and the frames, against a peer on loopback
    void twoQuickConnectClicksGiveOneConnection() {
        LoopbackPeer peer;
        QVERIFY(peer.listen());
        Started h;
        h.dial(QString::number(peer.port()));
        // Still connecting: the first attempt has not been reported yet.
        QVERIFY(h.button("cmdConnect")->isEnabled());
        h.click("cmdConnect");
        QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kConnected), kWaitMs);
        QTest::qWait(kSettleMs);
        QCOMPARE(h.events(), QStringList{kConnected});
        // The connection that stays is the one the window sends on.
        h.click("cmdSend");
        QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("R"), kWaitMs);
        QCOMPARE(peer.live(), 1);
        QCOMPARE(buttons(h), kConnectedButtons);
    }
    void framesGoOutByteForByte_data() {
        columns<int, QByteArray, QList<int>, QString>("command", "outputsFromReply", "ticked", "hex");
        QTest::newRow("R") << 0 << QByteArray() << QList<int>{} << u"52"_s;
        // Choosing R on the way unticks every box.
        QTest::newRow("T, 02 ticked, R chosen, T again")
            << 1 << QByteArray() << QList<int>{1, -1} << u"54 00 00 00 00"_s;
        QTest::newRow("T, 01 and 04 ticked") << 1 << QByteArray() << QList<int>{0, 3} << u"54 01 00 00 01"_s;
        // A greyed box, which only a reply can give, goes out as 02.
        QTest::newRow("T, reply gave 02 01 00 01, 03 ticked after")
            << 1 << QByteArray::fromHex("02010001") << QList<int>{2} << u"54 02 01 01 01"_s;
        QTest::newRow("C") << 2 << QByteArray() << QList<int>{} << u"43 41"_s;
    }
    void framesGoOutByteForByte() {
        QFETCH(int, command);
        QFETCH(QByteArray, outputsFromReply);
        QFETCH(QList<int>, ticked);
        QFETCH(QString, hex);
        Linked h;
        QVERIFY(h.connect());
        if (!outputsFromReply.isEmpty())
            QVERIFY(h.arrive(QByteArray(108, '\0') + outputsFromReply, 6));
        h.click("optCommand", command);
        for (int box : ticked) {
            if (box < 0)
                h.click("optCommand", 0);
            h.click(box < 0 ? "optCommand" : "chkDOValue", box < 0 ? command : box);
        }
        const qsizetype before = h.lines().size();
        h.click("cmdSend");
        QCOMPARE(h.lines().mid(before), QStringList{kStamp + kSend + hex + u' '});
        const QByteArray frame = QByteArray::fromHex(hex.toLatin1());
        QTRY_COMPARE_WITH_TIMEOUT(h.peer.received, frame, kWaitMs);
        QTest::qWait(kSettleMs);
        QCOMPARE(h.peer.received, frame);
    }
    // --- What the window makes of a peer's bytes
    void replyShown_data() {
        columns<QList<QByteArray>, QByteArray, int, QString, int>("replies", "control", "index", "expected",
                                                                  "boxes");
        auto row = [](const char* name, const QList<QByteArray>& replies, const char* control, int index,
                      const char* expected, int boxes = 0) {
            QTest::newRow(name) << replies << QByteArray(control) << index << QString::fromLatin1(expected)
                                << boxes;
        };
        row("counter 01 00 00 00", {reply({{12, "01000000"}})}, "txtCounter", 0, "1");
        row("time gap D2 04 00 00", {reply({{60, "D2040000"}})}, "txtTimegap", 0, "1.23");
        row("time gap 12 10 27 00 00", {reply({{104, "10270000"}})}, "txtTimegap", 11, "10.00");
        // Here only where each byte goes; a byte a box refuses leaves it as it was and raises one box.
        row("input 02", {reply({{0, "01"}}), reply({{0, "02"}})}, "chkDIValue", 0, "2");
        row("input 05", {reply({{0, "01"}}), reply({{0, "05"}})}, "chkDIValue", 0, "1", 1);
        row("input 10", {reply({{0, "02"}}), reply({{0, "10"}})}, "chkDIValue", 0, "2", 1);
        row("three refused", {reply({{0, "05"}, {5, "10"}, {109, "99"}, {110, "01"}})}, "chkDOValue", 2, "1",
            3);
    }
    void replyShown() {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QByteArray, control);
        QFETCH(int, index);
        QFETCH(int, boxes);
        Linked h;
        QVERIFY(h.connect());
        h.click("optLog", 1);
        // Output 04, the last field, shows that decoding went on to the end.
        replies.last()[111] = 2;
        for (const QByteArray& bytes : std::as_const(replies))
            QVERIFY(h.arrive(bytes, 6));
        QCOMPARE(h.lines().mid(1 + 6 * (replies.size() - 1)), block(replies.last()));
        QTEST(shown(h, control.constData(), index), "expected");
        QCOMPARE(shown(h, "chkDOValue", 3), u"2"_s);
        QCOMPARE(boxesShown(h), QStringList(boxes, u"Error|"_s + kErrorText));
        QVERIFY(QFileInfo::exists(h.programDir.filePath(u"Log/20261206.txt"_s)));
    }
    // At the "List" level too, every status reply goes into the client's store, open or not, and the
    // Signals window counts it; closing that window leaves the main window as it was.
    void repliesReachSignalsOverTime() {
        Linked h;
        QVERIFY(h.connect());
        QVERIFY(h.arrive(reply({{12, "07000000"}}), 6));
        QVERIFY(h.arrive(QByteArray(kReplySize - 1, '\1'), 1));
        h.clock.utc = h.clock.utc.addMSecs(1250);
        QVERIFY(h.arrive(reply({{12, "08000000"}}), 6));
        QTest::keyClick(h.focusByClick(h.find<QWidget>(u"List1"_s)), Qt::Key_F9);
        QTRY_COMPARE(signalWindows().size(), 1);
        lumora::waveform::SignalWindow* view = signalWindows().first();
        QTRY_COMPARE(view->statusText(), u"2 replies, 09:05:03.007 to 09:05:04.257 UTC"_s);
        h.clock.utc = h.clock.utc.addMSecs(1000);
        QVERIFY(h.arrive(reply({{12, "09000000"}}), 6));
        QTRY_COMPARE(view->statusText(), u"3 replies, 09:05:03.007 to 09:05:05.257 UTC"_s);
        const auto& store = h.session().liveReplies().store();
        QCOMPARE(store.size(), 3);
        QCOMPARE(store.at(2).counters[0], 9U);
        const QStringList before = mainWindowShows(h);
        view->close();
        QTRY_VERIFY(signalWindows().isEmpty());
        QVERIFY(h.window->isVisible());
        QCOMPARE(h.endRequests, 0);
        QCOMPARE(mainWindowShows(h), before);
        QVERIFY(h.arrive(reply({}), 6));
        QCOMPARE(store.size(), 4);
    }
    void nothingElseRunsWhileBoxIsUp() {
        Linked h;
        QVERIFY(h.connect());
        const QByteArray first = reply({{0, "05"}, {12, "01"}});
        const QByteArray second = reply({{0, "01"}, {12, "02"}});
        bool sent = false;
        qsizetype linesWhileUp = -1;
        h.dialogs.whileShown = [&] {
            if (sent)
                return;
            sent = h.peer.send(second);
            // Held back, as under a modal box: it must not send once the box is gone.
            QTest::mouseClick(h.button("cmdSend"), Qt::LeftButton);
            QTest::qWait(kSettleMs);
            linesWhileUp = h.lines().size();
        };
        QVERIFY(h.arrive(first, 6));
        QCOMPARE(linesWhileUp, 1);
        QCOMPARE(h.dialogs.shown.size(), 1);
        QVERIFY(QTest::qWaitFor([&] { return h.lines().size() >= 1 + 12; }, kWaitMs));
        QCOMPARE(h.lines().mid(1), block(first) + block(second));
        QCOMPARE(shown(h, "txtCounter", 0), u"2"_s);
        QVERIFY(h.peer.received.isEmpty());
    }
    // The unit closes while a box is up, and End is clicked after: Send stays off on the closed connection.
    void endClickedAfterCloseWhileBoxIsUp() {
        Linked h;
        QVERIFY(h.connect());
        h.dialogs.whileShown = [&] {
            h.peer.link()->close();
            QTest::qWait(kSettleMs);
            QTest::mouseClick(h.button("cmdEnd"), Qt::LeftButton);
        };
        QVERIFY(h.arrive(reply({{0, "05"}}), 6));
        QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kClosed), kWaitMs);
        QCOMPARE(buttons(h), kIdle);
    }
    // As a process of its own (this test, run again as the child): the close ends the box's event loop
    // and with it the program, within a second, and the reply's block never reaches the day's file.
    void closingDuringSystemBoxEndsProcess() {
        if (qEnvironmentVariableIsSet(kChildPort)) {
            runClosingChild(qEnvironmentVariable(kChildPort).toUShort());
            return;
        }
        if (UnitEmulator::program().isEmpty())
            QSKIP("LUMORA_EMULATOR does not name the unit emulator");
        UnitEmulator unit;
        QVERIFY(unit.start({u"--bad-input"_s, u"--quiet"_s}));
        QTemporaryDir programDir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kChildPort), QString::number(unit.port));
        environment.insert(QString::fromLatin1(kChildFolder), programDir.path());
        environment.insert(u"LUMORA_SUITE_ONLY"_s, u"tst_App"_s);
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        const auto end = qScopeGuard([&child] {
            if (child.state() != QProcess::NotRunning) {
                child.kill();
                child.waitForFinished(kWaitMs);
            }
        });
        child.start(QCoreApplication::applicationFilePath(), {QLatin1String(QTest::currentTestFunction())});
        QByteArray said;
        const auto saidOrEnded = [&](const QByteArray& line) {
            return [&said, &child, line] {
                said += child.readAllStandardOutput();
                return said.contains(line) || child.state() == QProcess::NotRunning;
            };
        };
        QVERIFY(QTest::qWaitFor(saidOrEnded(kClosingNow), kWaitMs));
        QElapsedTimer sinceClose;
        sinceClose.start();
        QVERIFY2(said.contains(kClosingNow), said.constData());
        // The program's own end follows at once; a sanitizer's checks at exit would make process times vary.
        QVERIFY(QTest::qWaitFor(saidOrEnded(kLoopEnded), kWaitMs));
        const qint64 tookMs = sinceClose.elapsed();
        QVERIFY2(said.contains(kLoopEnded) && tookMs < 1000,
                 qPrintable(u"event loop ended %1 ms after the close"_s.arg(tookMs)));
        // Not waitForFinished: it fails for a process that has already ended.
        QTRY_COMPARE_WITH_TIMEOUT(child.state(), QProcess::NotRunning, kWaitMs);
        said += child.readAllStandardOutput();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0, said.constData());
        QVERIFY(QFileInfo(programDir.filePath(u"Log"_s)).isDir());
        QVERIFY(!QFileInfo::exists(programDir.filePath(u"Log/20261206.txt"_s)));
        QVERIFY(unit.stop());
    }
    void floodWhileBoxIsUpIsHeldBack_data() {
        boolRows("boxOfWebLink", "box of the refused byte", "box of the web link, flood under way");
    }
    // While a box waits for OK nothing is taken in (bounded socket: tst_platform); then the flood goes on.
    void floodWhileBoxIsUpIsHeldBack() {
        QFETCH(bool, boxOfWebLink);
        constexpr qint64 kAfterBoxBytes = 16 << 20;
        if (UnitEmulator::program().isEmpty())
            QSKIP("LUMORA_EMULATOR does not name the unit emulator");
        UnitEmulator unit;
        QVERIFY(unit.start({u"--bad-input"_s, u"--flood"_s, u"--quiet"_s}));
        Harness h;
        QVERIFY(h.startConnected(unit.port));
        qint64 delivered = 0;
        // In the window's place, counting what it is handed.
        QObject::disconnect(&h.session().Winsock1(), &lumora::app::Winsock::dataArrival, nullptr, nullptr);
        QObject::connect(&h.session().Winsock1(), &lumora::app::Winsock::dataArrival, &h.session().Winsock1(),
                         [&delivered, &h](const QByteArray& bytes) {
                             delivered += bytes.size();
                             h.session().Winsock1_DataArrival(bytes);
                         });
        qint64 deliveredAtOk = -1;
        qint64 deliveredWhileUp = -1;
        h.dialogs.whileShown = [&] {
            if (deliveredAtOk >= 0 || (boxOfWebLink && h.dialogs.shown.size() == 1))
                return;
            const qint64 deliveredBefore = delivered;
            QTest::qWait(kSettleMs);
            deliveredAtOk = delivered;
            deliveredWhileUp = delivered - deliveredBefore;
        };
        h.click("cmdSend");
        if (boxOfWebLink) {
            QTRY_VERIFY_WITH_TIMEOUT(delivered > kReplySize, kWaitMs);
            h.shell.failure = u"no browser"_s;
            QTest::mouseClick(h.find<QWidget>(u"Label11"_s), Qt::LeftButton);
        }
        QTRY_VERIFY_WITH_TIMEOUT(deliveredAtOk >= 0, kWaitMs);
        QCOMPARE(deliveredWhileUp, 0);
        QTRY_VERIFY_WITH_TIMEOUT(delivered > deliveredAtOk + kAfterBoxBytes, kWaitMs);
        QCOMPARE(h.dialogs.shown.size(), boxOfWebLink ? 2 : 1);
        QVERIFY(unit.stop());
    }
    void endInEachState_data() {
        columns<bool, bool, bool>("repeat", "send", "peerCloses");
        QTest::newRow("free, one-time") << false << false << false;
        QTest::newRow("free, repeat chosen") << true << false << false;
        QTest::newRow("locked") << false << true << false;
        QTest::newRow("repeating") << true << true << false;
        QTest::newRow("locked, peer closed") << false << true << true;
        QTest::newRow("repeating, peer closed") << true << true << true;
    }
    // An empty interval arms a timer that never ticks: a repeat sends once and stays until End.
    void endInEachState() {
        QFETCH(bool, repeat);
        QFETCH(bool, send);
        QFETCH(bool, peerCloses);
        Linked h;
        QVERIFY(h.connect());
        h.click("optCommand", kCounterReset);
        // There and back for one-time, so that the box has the menu colour.
        chooseRepeat(h, QString());
        if (!repeat)
            h.click("optInterval", 0);
        const QColor colour = repeat ? QColor(Qt::white) : widgets::systemColour(widgets::SystemColour::Menu);
        QVERIFY2(repeat || colour != QColor(Qt::white),
                 "the menu colour must differ from white for this test to tell");
        QCOMPARE(background(h), colour);
        QCOMPARE(h.cboTime()->isEnabled(), repeat);
        if (send) {
            h.click("cmdSend");
            QTRY_COMPARE_WITH_TIMEOUT(h.peer.received, kReset, kWaitMs);
        }
        if (peerCloses) {
            // Refused reconnects keep the window closed.
            h.peer.server.close();
            h.peer.link()->close();
            QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kClosed), kWaitMs);
        }
        QTest::qWait(kSettleMs);
        QCOMPARE(h.peer.received, send ? kReset : QByteArray());
        QCOMPARE(h.session().isRepeating(), repeat && send);
        // One-time sends may go on; the mode stays locked, even across a close.
        QCOMPARE(h.button("cmdSend")->isEnabled(), !(repeat && send) && !peerCloses);
        QCOMPARE(modeControlsEnabled(h), send ? 0 : repeat ? 3 : 2);
        QCOMPARE(h.button("cmdEnd")->isEnabled(), !peerCloses);
        if (peerCloses) {
            // End is out of the user's reach on a closed connection; the session's still stops.
            h.session().end();
            QVERIFY(!h.session().isRepeating());
            return;
        }
        h.click("cmdEnd");
        QVERIFY(!h.session().isRepeating());
        QVERIFY(h.button("cmdSend")->isEnabled());
        QCOMPARE(modeControlsEnabled(h), 3);
        QCOMPARE(h.find<QWidget>("lblTime", 0)->isEnabled(), repeat);
        QCOMPARE(h.find<QWidget>("lblTime", 1)->isEnabled(), repeat);
        QCOMPARE(background(h), colour);
    }
    void refusedByteInEveryReplyLetsUserOut_data() {
        boolRows("closeWindow", "End clicked while a box is up", "window closed while a box is up");
    }
    // A refused byte in every reply at 1 ms: while a system box is up, End and closing still work.
    void refusedByteInEveryReplyLetsUserOut() {
        QFETCH(bool, closeWindow);
        constexpr int kBoxesBeforeUserActs = 3;
        LoopbackPeer peer;
        QVERIFY(peer.listen());
        Harness h;
        widgets::SystemDialogs systemBoxes;
        h.open(h.services({.dialogs = &systemBoxes}));
        h.dial(QString::number(peer.port()));
        QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kConnected), kWaitMs);
        qsizetype answered = 0;
        QObject::connect(peer.link(), &QTcpSocket::readyRead, &peer, [&] {
            for (; answered < peer.received.size(); ++answered)
                if (peer.received[answered] == 'R')
                    peer.send(reply({{0, "05"}}));
        });
        chooseRepeat(h, u"0.001"_s);
        int boxes = 0;
        bool windowBlocked = false;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, &user, [&] {
            QMessageBox* box = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w); b != nullptr && b->isVisible())
                    box = b;
            if (box == nullptr)
                return;
            if (++boxes == kBoxesBeforeUserActs) {
                windowBlocked = QGuiApplication::modalWindow() != nullptr;
                if (closeWindow) {
                    h.window->close();
                } else {
                    // Through the window system, where a modal box would hold it back.
                    QWidget* end = h.button("cmdEnd");
                    QTest::mouseClick(h.window->windowHandle(), Qt::LeftButton, {},
                                      end->mapTo(h.window.get(), end->rect().center()));
                }
            }
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        user.start(kFastMs);
        h.click("cmdSend");
        QTRY_VERIFY_WITH_TIMEOUT(boxes >= kBoxesBeforeUserActs, kWaitMs);
        QTest::qWait(kSettleMs);
        // A tick that fell due while the box was up sends nothing once End is clicked.
        QCOMPARE(boxes, kBoxesBeforeUserActs);
        QVERIFY(!windowBlocked);
        QVERIFY(!h.session().isRepeating());
        QCOMPARE(h.endRequests, closeWindow ? 1 : 0);
        QCOMPARE(sent(h.events()).size(), boxes);
    }
};

LUMORA_SUITE_CLASS(tst_App);
LUMORA_SUITE_MAIN()
#include "tst_app.moc"
