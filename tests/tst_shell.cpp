#include "link/settings_keys.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QSettings>
#include <QStyleOptionComboBox>
#include <QTest>

using testsupport::Harness;

namespace {

QString iniPath() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, lumora::link::settings::kApplication).fileName();
}

void wipeSettings() {
    QDir(iniPath()).removeRecursively();
    QFile::remove(iniPath());
}

bool writeIni(const QByteArray& content) {
    QFile ini(iniPath());
    return QDir().mkpath(QFileInfo(ini).path()) && ini.open(QIODevice::WriteOnly) &&
           ini.write(content) == content.size();
}

QByteArray readIni() {
    QFile ini(iniPath());
    return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
}

QString stored(const QString& key) {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, lumora::link::settings::kApplication)
        .value(lumora::link::settings::kSection + u'/' + key)
        .toString();
}

void store(const QString& key, const QString& value) {
    QSettings(QSettings::IniFormat, QSettings::UserScope, lumora::link::settings::kApplication)
        .setValue(lumora::link::settings::kSection + u'/' + key, value);
}

// Opens the list with a click on the arrow and clicks the item.
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

} // namespace

class tst_Shell : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { wipeSettings(); }

    void firstStartShowsDefaultsAndMakesLogFolder();
    void eachChangeStoresItsOwnKey_data();
    void eachChangeStoresItsOwnKey();
    void startShowsStoredValuesWholeAndWritesNothing_data();
    void startShowsStoredValuesWholeAndWritesNothing();
    void plainFileNamedLogDoesNotStopStartup();
    void unreadableSettingsAreLeftAsTheyAre_data();
    void unreadableSettingsAreLeftAsTheyAre();
    void designStateOfControls();
    void everyControlInsideWindowAndFrames();
    void listCapsAt1001Lines();
    void clearEmptiesList();
    void burstOfLinesIsPaintedOnceAFrame_data();
    void burstOfLinesIsPaintedOnceAFrame();
    void timeStampIsUtc_data();
    void timeStampIsUtc();
    void fieldsRefuseCharactersWithBeep_data();
    void fieldsRefuseCharactersWithBeep();
    void fieldsLimitLength_data();
    void fieldsLimitLength();
    void focusOrderFollowsInventory();
    void linkOpensMakerPage();
    void linkFailureShowsErrorBox();
    void closingEndsProgramAndSilencesHandlers();
};

void tst_Shell::firstStartShowsDefaultsAndMakesLogFolder() {
    Harness h;
    QVERIFY(!QFileInfo::exists(h.programDir.filePath(QStringLiteral("Log"))));
    h.start();
    QVERIFY(QFileInfo(h.programDir.filePath(QStringLiteral("Log"))).isDir());
    QCOMPARE(h.edit("txtDestIP")->text(), QStringLiteral("192.1.1.110"));
    QCOMPARE(h.edit("txtDestPort")->text(), QStringLiteral("4000"));
    QCOMPARE(h.cboTime()->currentText(), QStringLiteral("1"));
    QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumora 7150R Simulator Ver1.05 (2016/09/08)"));
    for (int i = 0; i < 12; ++i)
        QCOMPARE(h.find<QAbstractButton>("chkDIValue", i)->text(),
                 QStringLiteral("%1").arg(i, 2, 10, QChar(u'0')));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(h.find<QAbstractButton>("chkDOValue", i)->text(), QStringLiteral("0%1").arg(i + 1));
    QVERIFY(h.lines().isEmpty());
}

void tst_Shell::eachChangeStoresItsOwnKey_data() {
    QTest::addColumn<QString>("field");
    // Typed at the end of the field; empty: "15" picked from the list.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    using namespace lumora::link::settings;
    QTest::newRow("address typed") << QStringLiteral("txtDestIP") << QStringLiteral("9") << kAddressKey
                                   << QStringLiteral("127.0.0.19");
    QTest::newRow("port typed") << QStringLiteral("txtDestPort") << QStringLiteral("9") << kPortKey
                                << QStringLiteral("40019");
    QTest::newRow("interval typed") << QStringLiteral("cboTime") << QStringLiteral("9") << kIntervalKey
                                    << QStringLiteral("2.59");
    QTest::newRow("interval picked") << QStringLiteral("cboTime") << QString() << kIntervalKey
                                     << QStringLiteral("15");
}

// The store holds the change at once, under its own key, the other keys as
// they were; and the next start shows all three.
void tst_Shell::eachChangeStoresItsOwnKey() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, key);
    QFETCH(QString, value);
    using namespace lumora::link::settings;
    QMap<QString, QString> expected{{kAddressKey, QStringLiteral("127.0.0.1")},
                                    {kPortKey, QStringLiteral("4001")},
                                    {kIntervalKey, QStringLiteral("2.5")}};
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        store(it.key(), it.value());
    expected[key] = value;
    {
        Harness h;
        h.start();
        h.cboTime()->setEnabled(true);
        if (typed.isEmpty()) {
            QVERIFY(pick(h.cboTime(), 14));
        } else {
            QWidget* keys = h.focusByClick(h.find<QWidget>(field));
            QVERIFY(keys != nullptr);
            QTest::keyClick(keys, Qt::Key_End);
            QTest::keyClicks(keys, typed);
        }
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(stored(it.key()), it.value());
    }
    Harness again;
    again.start();
    QCOMPARE(again.edit("txtDestIP")->text(), expected[kAddressKey]);
    QCOMPARE(again.edit("txtDestPort")->text(), expected[kPortKey]);
    QCOMPARE(again.cboTime()->currentText(), expected[kIntervalKey]);
}

void tst_Shell::startShowsStoredValuesWholeAndWritesNothing_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("interval");
    const QString address = QStringLiteral("127.0.0.1");
    const QString port = QStringLiteral("4001");
    const QString interval = QStringLiteral("2.5");
    QTest::newRow("within the typing limits") << address << port << interval;
    QTest::newRow("host name of 24 characters") << QStringLiteral("unit-07.workshop.example") << port
                                                << interval;
    QTest::newRow("port of 6 characters") << address << QStringLiteral("400010") << interval;
    QTest::newRow("interval of 40000 characters") << address << port << QString(40000, u'9');
}

// The typing limits do not apply to what the store holds: each box shows
// its value whole, and the file, hand-made spacing included, is not written.
void tst_Shell::startShowsStoredValuesWholeAndWritesNothing() {
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, interval);
    const QByteArray handMade = "[Simulator_6180]\nADDRESS = " + address.toLatin1() + "\nPORT = " +
                                port.toLatin1() + "\nINTERVAL = " + interval.toLatin1() + "\n";
    QVERIFY(writeIni(handMade));
    Harness h;
    h.start();
    QCOMPARE(h.edit("txtDestIP")->text(), address);
    QCOMPARE(h.edit("txtDestPort")->text(), port);
    QCOMPARE(h.cboTime()->currentText(), interval);
    QCOMPARE(readIni(), handMade);
}

void tst_Shell::plainFileNamedLogDoesNotStopStartup() {
    Harness h;
    QFile plain(h.programDir.filePath(QStringLiteral("Log")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    h.start();
    QVERIFY(QFileInfo(plain.fileName()).isFile());
    QVERIFY(h.window->isVisible());
}

void tst_Shell::unreadableSettingsAreLeftAsTheyAre_data() {
    // Empty: a folder where the file should be.
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("folder in place of the file") << QByteArray();
    QTest::newRow("file that cannot be parsed") << QByteArray("[Simulator_6180\nADDRESS = 127.0.0.1\nPORT = 4001\n");
}

// Start-up goes on with the defaults and says so once; typing changes the
// boxes but nothing is written over what could not be read.
void tst_Shell::unreadableSettingsAreLeftAsTheyAre() {
    QFETCH(QByteArray, content);
    const QString path = iniPath();
    QVERIFY(content.isEmpty() ? QDir().mkpath(path) : writeIni(content));
    Harness h;
    h.start();
    QCOMPARE(h.edit("txtDestIP")->text(), lumora::link::settings::kDefaultAddress);
    QCOMPARE(h.edit("txtDestPort")->text(), lumora::link::settings::kDefaultPort);
    QWidget* keys = h.focusByClick(h.edit("txtDestPort"));
    QVERIFY(keys != nullptr);
    QTest::keyClick(keys, Qt::Key_End);
    QTest::keyClicks(keys, QStringLiteral("1"));
    QCOMPARE(h.edit("txtDestPort")->text(), QStringLiteral("40001"));
    const QStringList said = h.events().filter(QStringLiteral("Settings"));
    QCOMPARE(said.size(), 1);
    QVERIFY2(said[0].startsWith(QStringLiteral(" Settings Read Fail!! ")) && said[0].contains(path),
             qPrintable(said[0]));
    if (content.isEmpty())
        QVERIFY(QFileInfo(path).isDir());
    else
        QCOMPARE(readIni(), content);
}

void tst_Shell::designStateOfControls() {
    Harness h;
    h.start();
    const QStringList enabled{QStringLiteral("cmdConnect"),  QStringLiteral("cmdPingStart"),
                              QStringLiteral("cmdPingStop"), QStringLiteral("cmdClear"),
                              QStringLiteral("txtDestIP"),   QStringLiteral("txtDestPort")};
    for (const QString& name : enabled)
        QVERIFY2(h.find<QWidget>(name)->isEnabled(), qPrintable(name));
    const QStringList disabled{QStringLiteral("cmdDisconnect"), QStringLiteral("cmdSend"),
                               QStringLiteral("cmdEnd"),        QStringLiteral("cboTime"),
                               QStringLiteral("lblTime(0)"),    QStringLiteral("lblTime(1)")};
    for (const QString& name : disabled)
        QVERIFY2(!h.find<QWidget>(name)->isEnabled(), qPrintable(name));
    for (int i = 0; i < 4; ++i)
        QVERIFY(!h.find<QWidget>("chkDOValue", i)->isEnabled());
    QVERIFY(h.find<QAbstractButton>("optInterval", 0)->isChecked());
    QVERIFY(h.find<QAbstractButton>("optLog", 0)->isChecked());
    QVERIFY(h.find<QAbstractButton>("optCommand", 0)->isChecked());
    QCOMPARE(h.cboTime()->count(), 15);
    QCOMPARE(h.cboTime()->itemText(0), QStringLiteral("1"));
    QCOMPARE(h.cboTime()->itemText(14), QStringLiteral("15"));
    QVERIFY(!h.probe().SendTimer().isEnabled());
    QVERIFY(!h.probe().PingTimer().isEnabled());
    QCOMPARE(h.probe().SendTimer().interval(), 1000);
    QCOMPARE(h.probe().PingTimer().interval(), 1000);
    QCOMPARE(h.window->size(), QSize(743, 728));
    QCOMPARE(h.find<QWidget>(QStringLiteral("txtDestIP"))->geometry(), QRect(102, 22, 121, 22));
    QCOMPARE(h.find<QWidget>("chkDIValue", 11)->geometry(), QRect(16 + 44 * 11, 24, 35, 15));
}

// Every control lies inside its container and no two siblings overlap, at
// every scale the desktop may use (Qt scales device-independent pixels, so
// the check is on them and on each caption's width in its own font).
void tst_Shell::everyControlInsideWindowAndFrames() {
    Harness h;
    h.start();
    QList<QWidget*> all;
    for (const lumora::app::ControlSpec& design : lumora::app::controlInventory())
        all.append(h.find<QWidget>(design.name));
    QCOMPARE(all.size(), 9 + 6 + 2 + 5 + 2 + 6 + 12 + 4 + 24 + 24 + 4);
    for (QWidget* w : all) {
        QWidget* parent = w->parentWidget();
        QVERIFY2(parent->rect().contains(w->geometry()), qPrintable(w->objectName()));
        for (QWidget* other : all) {
            if (other == w || other->parentWidget() != parent ||
                other->objectName() == QLatin1String("Line1") || w->objectName() == QLatin1String("Line1"))
                continue;
            QVERIFY2(!w->geometry().intersects(other->geometry()),
                     qPrintable(w->objectName() + QStringLiteral(" overlaps ") + other->objectName()));
        }
        QString caption;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            caption = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            caption = l->text();
        if (caption.isEmpty())
            continue;
        // Indicator of option and check boxes plus the text must fit.
        const int needed = w->fontMetrics().horizontalAdvance(caption) +
                           (qobject_cast<QAbstractButton*>(w) && !qobject_cast<QPushButton*>(w) ? 18 : 0);
        QVERIFY2(needed <= w->width(), qPrintable(w->objectName() + QStringLiteral(" clips its caption")));
    }
}

void tst_Shell::listCapsAt1001Lines() {
    Harness h;
    h.start();
    auto window = h.probe();
    for (int i = 0; i < 1000; ++i)
        window.AddLog(QString::number(i));
    QCOMPARE(window.logLines().rowCount(), 1000);
    window.AddLog(QStringLiteral("1000"));
    QCOMPARE(window.logLines().rowCount(), 1001);
    QCOMPARE(window.logLines().line(0), QStringLiteral("0"));
    window.AddLog(QString());
    QCOMPARE(window.logLines().rowCount(), 1001);
    QCOMPARE(window.logLines().line(0), QStringLiteral("1"));
    QCOMPARE(window.logLines().line(1000), QString());
    auto* list = h.find<QListView>(QStringLiteral("List1"));
    QTRY_COMPARE(list->currentIndex().row(), 1000);
}

namespace {

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

} // namespace

void tst_Shell::burstOfLinesIsPaintedOnceAFrame_data() {
    QTest::addColumn<int>("before");
    QTest::newRow("empty list") << 0;
    // Full, every new line moves all rows' text up instead of adding a row.
    QTest::newRow("full list") << 1001;
}

// Lines added in a burst are all painted, in a handful of frames, not one
// paint per line; and the last of them does get painted, in view.
void tst_Shell::burstOfLinesIsPaintedOnceAFrame() {
    QFETCH(int, before);
    Harness h;
    h.start();
    for (int i = 0; i < before; ++i)
        h.probe().AddLog(QStringLiteral("old %1").arg(i));
    auto* list = h.find<QListView>(QStringLiteral("List1"));
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QTest::qWait(100);
    PaintCounter counter;
    list->viewport()->installEventFilter(&counter);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 300; ++i) {
        h.probe().AddLog(QStringLiteral("line %1").arg(i));
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(counter.paints > 0);
    const int framesAtMost = int(clock.elapsed() / 33) + 3;
    QVERIFY2(counter.paints <= framesAtMost, qPrintable(QString::number(counter.paints)));
    // Whatever the burst left for its last frame is painted first.
    QTest::qWait(200);
    const int painted = counter.paints;
    counter.painted = QRegion();
    h.probe().AddLog(QStringLiteral("last"));
    QTRY_VERIFY(counter.paints > painted);
    // Every row in view shows other text now, not only the newest.
    QCOMPARE(counter.painted.boundingRect(), list->viewport()->rect());
    const QModelIndex newest = list->currentIndex();
    QCOMPARE(newest.row(), std::min(before + 300, 1000));
    QCOMPARE(newest.data().toString(), QStringLiteral("last"));
    QVERIFY(list->viewport()->rect().contains(list->visualRect(newest)));
}

void tst_Shell::clearEmptiesList() {
    Harness h;
    h.start();
    for (int i = 0; i < 1001; ++i)
        h.probe().AddLog(QStringLiteral("x"));
    QTest::mouseClick(h.button("cmdClear"), Qt::LeftButton);
    QCOMPARE(h.probe().logLines().rowCount(), 0);
    h.probe().AddLog(QStringLiteral("after"));
    QCOMPARE(h.lines(), QStringList{QStringLiteral("after")});
}

void tst_Shell::timeStampIsUtc_data() {
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("stamp");
    QTest::newRow("00:00:00.005 UTC")
        << QDateTime(QDate(2026, 1, 1), QTime(0, 0, 0, 5), Qt::UTC) << QStringLiteral("[00:00:00.005]");
    // 23:30 on 6 Dec in UTC is already 7 Dec in UTC+2; the stamp stays UTC.
    QTest::newRow("local day ahead") << QDateTime(QDate(2026, 12, 7), QTime(1, 30, 0, 250), Qt::OffsetFromUTC,
                                                  7200)
                                     << QStringLiteral("[23:30:00.250]");
}

void tst_Shell::timeStampIsUtc() {
    QFETCH(QDateTime, now);
    QFETCH(QString, stamp);
    Harness h;
    h.clock.utc = now;
    h.start();
    QCOMPARE(h.probe().GetTimeStamp(), stamp);
}

void tst_Shell::fieldsRefuseCharactersWithBeep_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("beeps");
    QTest::newRow("address letter") << QStringLiteral("txtDestIP") << QStringLiteral("1a")
                                    << QStringLiteral("1") << 1;
    QTest::newRow("address minus and blank")
        << QStringLiteral("txtDestIP") << QStringLiteral("-1 ") << QStringLiteral("1") << 2;
    QTest::newRow("port full stop") << QStringLiteral("txtDestPort") << QStringLiteral("80.5")
                                    << QStringLiteral("80.5") << 0;
    QTest::newRow("interval letter and minus") << QStringLiteral("cboTime") << QStringLiteral("0.5s-")
                                               << QStringLiteral("0.5") << 2;
}

// Keys go where a keyboard's go: to the focus widget after a click on the field.
void tst_Shell::fieldsRefuseCharactersWithBeep() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(int, beeps);
    Harness h;
    h.start();
    h.cboTime()->setEnabled(true);
    QLineEdit* edit = field == QLatin1String("cboTime") ? h.cboTime()->lineEdit() : h.find<QLineEdit>(field);
    edit->clear();
    QWidget* keys = h.focusByClick(h.find<QWidget>(field));
    QVERIFY(keys != nullptr);
    QTest::keyClicks(keys, typed);
    QTest::keyClick(keys, Qt::Key_Return);
    QCOMPARE(edit->text(), expected);
    QCOMPARE(h.beeper.beeps, beeps + 1);
    // Navigation keys type nothing and still move the cursor.
    QTest::keyClick(keys, Qt::Key_Home);
    QCOMPARE(edit->cursorPosition(), 0);
    QTest::keyClick(keys, Qt::Key_Delete);
    QCOMPARE(edit->text(), expected.mid(1));
    QCOMPARE(h.beeper.beeps, beeps + 1);
}

void tst_Shell::fieldsLimitLength_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    const QString name = QStringLiteral("unit-07.workshop.example");
    QTest::newRow("address 15") << QStringLiteral("txtDestIP") << QString() << QString(16, u'1')
                                << QString(15, u'1');
    QTest::newRow("port 5") << QStringLiteral("txtDestPort") << QString() << QStringLiteral("123456")
                            << QStringLiteral("12345");
    // A longer stored text stays whole, and typing cannot lengthen it.
    QTest::newRow("stored address longer") << QStringLiteral("txtDestIP") << name << QStringLiteral("1") << name;
    QTest::newRow("stored address, one off, one typed")
        << QStringLiteral("txtDestIP") << name << QStringLiteral("\b1") << name.chopped(1);
    QTest::newRow("stored port longer") << QStringLiteral("txtDestPort") << QStringLiteral("400010")
                                        << QStringLiteral("1") << QStringLiteral("400010");
}

void tst_Shell::fieldsLimitLength() {
    QFETCH(QString, field);
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    store(field == QLatin1String("txtDestIP") ? lumora::link::settings::kAddressKey : lumora::link::settings::kPortKey, start);
    Harness h;
    h.start();
    QLineEdit* edit = h.find<QLineEdit>(field);
    QCOMPARE(edit->text(), start);
    QWidget* keys = h.focusByClick(edit);
    QVERIFY(keys != nullptr);
    QTest::keyClick(keys, Qt::Key_End);
    QTest::keyClicks(keys, typed);
    QCOMPARE(edit->text(), expected);
}

void tst_Shell::focusOrderFollowsInventory() {
    Harness h;
    h.start();
    const QStringList expected{
        QStringLiteral("txtDestIP"),      QStringLiteral("txtDestPort"),    QStringLiteral("cmdConnect"),
        QStringLiteral("cmdDisconnect"),  QStringLiteral("cmdPingStart"),   QStringLiteral("cmdPingStop"),
        QStringLiteral("optInterval(0)"), QStringLiteral("optInterval(1)"), QStringLiteral("cboTime"),
        QStringLiteral("optLog(0)"),      QStringLiteral("optLog(1)"),      QStringLiteral("optCommand(0)"),
        QStringLiteral("optCommand(1)"),  QStringLiteral("optCommand(2)"),  QStringLiteral("cmdSend"),
        QStringLiteral("cmdEnd"),         QStringLiteral("cmdClear"),       QStringLiteral("List1")};
    QWidget* w = h.find<QWidget>(expected.front());
    for (qsizetype i = 1; i < expected.size(); ++i) {
        w = w->nextInFocusChain();
        // Labels and frames take no focus; a combo box's line edit has no name.
        while (w->objectName().isEmpty() || w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        QCOMPARE(w->objectName(), expected[i]);
    }
}

void tst_Shell::linkOpensMakerPage() {
    Harness h;
    h.start();
    auto* link = h.find<QLabel>(QStringLiteral("Label11"));
    QCOMPARE(link->text(), QStringLiteral("http://www.lumora.example/"));
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(h.shell.opened, QList<QUrl>{QUrl(QStringLiteral("http://www.lumora.example/"))});
    QVERIFY(h.dialogs.shown.isEmpty());
}

void tst_Shell::linkFailureShowsErrorBox() {
    Harness h;
    h.shell.failure = QStringLiteral("No program could be started");
    h.start();
    QTest::mouseClick(h.find<QLabel>(QStringLiteral("Label11")), Qt::LeftButton);
    QCOMPARE(h.dialogs.shown.size(), 1);
    QCOMPARE(h.dialogs.shown[0].title, QStringLiteral("Error"));
    QCOMPARE(h.dialogs.shown[0].text, QStringLiteral("No program could be started"));
    QVERIFY(h.window->isVisible());
}

void tst_Shell::closingEndsProgramAndSilencesHandlers() {
    Harness h;
    h.start();
    h.find<QAbstractButton>("optInterval", 1)->click();
    h.probe().PingTimer().setEnabled(true);
    h.window->close();
    QCOMPARE(h.endRequests, 1);
    QVERIFY(!h.probe().PingTimer().isEnabled());
    const qsizetype before = h.lines().size();
    h.button("cmdClear")->setEnabled(true);
    h.probe().gate().deliver([&] { h.probe().AddLog(QStringLiteral("late")); });
    QCOMPARE(h.lines().size(), before);
}

LUMORA_TEST_MAIN(tst_Shell)
#include "tst_shell.moc"
