#include "app/settings_keys.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QSettings>
#include <QTest>

using testsupport::Harness;

namespace {

void wipeSettings() {
    QSettings(QSettings::IniFormat, QSettings::UserScope, app::settings::kApplication).clear();
}

} // namespace

class tst_Shell : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { wipeSettings(); }

    void firstStartShowsDefaultsAndMakesLogFolder();
    void typedValuesSurviveRestart();
    void pickedIntervalIsStoredAtOnce();
    void startLeavesSettingsFileHoldingTheValuesAlone();
    void plainFileNamedLogDoesNotStopStartup();
    void unwritableSettingsDoNotStopStartup();
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

void tst_Shell::typedValuesSurviveRestart() {
    {
        Harness h;
        h.start();
        QLineEdit* ip = h.edit("txtDestIP");
        ip->clear();
        QTest::keyClicks(ip, QStringLiteral("127.0.0.1"));
        QLineEdit* port = h.edit("txtDestPort");
        port->clear();
        QTest::keyClicks(port, QStringLiteral("4001"));
        h.cboTime()->setEnabled(true);
        h.cboTime()->lineEdit()->clear();
        QTest::keyClicks(h.cboTime()->lineEdit(), QStringLiteral("2.5"));
    }
    Harness again;
    again.start();
    QCOMPARE(again.edit("txtDestIP")->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(again.edit("txtDestPort")->text(), QStringLiteral("4001"));
    QCOMPARE(again.cboTime()->currentText(), QStringLiteral("2.5"));
}

void tst_Shell::pickedIntervalIsStoredAtOnce() {
    Harness h;
    h.start();
    QComboBox* combo = h.cboTime();
    combo->setEnabled(true);
    combo->setCurrentIndex(14);
    Q_EMIT combo->activated(14);
    QSettings stored(QSettings::IniFormat, QSettings::UserScope, app::settings::kApplication);
    QCOMPARE(stored.value(QStringLiteral("Simulator_6180/INTERVAL")).toString(), QStringLiteral("15"));
}

// Each box is set from the store at start, which raises its change: a file
// that already holds those values is not written again (kept byte for byte,
// hand-made spacing included); a change still is.
void tst_Shell::startLeavesSettingsFileHoldingTheValuesAlone() {
    const QString iniPath =
        QSettings(QSettings::IniFormat, QSettings::UserScope, app::settings::kApplication).fileName();
    QVERIFY(QDir().mkpath(QFileInfo(iniPath).path()));
    const QByteArray handMade("[Simulator_6180]\nADDRESS = 127.0.0.1\nPORT = 4001\nINTERVAL = 2.5\n");
    QFile ini(iniPath);
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(handMade);
    ini.close();
    Harness h;
    h.start();
    QCOMPARE(h.edit("txtDestPort")->text(), QStringLiteral("4001"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(ini.readAll(), handMade);
    ini.close();
    QTest::keyClicks(h.edit("txtDestPort"), QStringLiteral("2"));
    QSettings stored(QSettings::IniFormat, QSettings::UserScope, app::settings::kApplication);
    QCOMPARE(stored.value(QStringLiteral("Simulator_6180/PORT")).toString(), QStringLiteral("40012"));
    QCOMPARE(stored.value(QStringLiteral("Simulator_6180/ADDRESS")).toString(), QStringLiteral("127.0.0.1"));
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

void tst_Shell::unwritableSettingsDoNotStopStartup() {
    // A folder where the settings file should be: nothing can be read or saved.
    const QString iniPath =
        QSettings(QSettings::IniFormat, QSettings::UserScope, app::settings::kApplication).fileName();
    QFile::remove(iniPath);
    QVERIFY(QDir().mkpath(iniPath));
    Harness h;
    h.start();
    QCOMPARE(h.edit("txtDestPort")->text(), QStringLiteral("4000"));
    QTest::keyClicks(h.edit("txtDestPort"), QStringLiteral("1"));
    QTest::keyClicks(h.edit("txtDestPort"), QStringLiteral("2"));
    // One line when saving starts to fail, not one per keystroke.
    QCOMPARE(h.events().filter(QStringLiteral("Settings Save Fail!!")).size(), 1);
    QVERIFY(QDir(iniPath).removeRecursively());
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
    QVERIFY(!h.window->SendTimer().isEnabled());
    QVERIFY(!h.window->PingTimer().isEnabled());
    QCOMPARE(h.window->SendTimer().interval(), 1000);
    QCOMPARE(h.window->PingTimer().interval(), 1000);
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
    for (const app::ControlSpec& design : app::controlInventory())
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
    auto& window = *h.window;
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
        h.window->AddLog(QStringLiteral("old %1").arg(i));
    auto* list = h.find<QListView>(QStringLiteral("List1"));
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QTest::qWait(100);
    PaintCounter counter;
    list->viewport()->installEventFilter(&counter);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 300; ++i) {
        h.window->AddLog(QStringLiteral("line %1").arg(i));
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(counter.paints > 0);
    const int framesAtMost = int(clock.elapsed() / 33) + 3;
    QVERIFY2(counter.paints <= framesAtMost, qPrintable(QString::number(counter.paints)));
    // Whatever the burst left for its last frame is painted first.
    QTest::qWait(200);
    const int painted = counter.paints;
    counter.painted = QRegion();
    h.window->AddLog(QStringLiteral("last"));
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
        h.window->AddLog(QStringLiteral("x"));
    QTest::mouseClick(h.button("cmdClear"), Qt::LeftButton);
    QCOMPARE(h.window->logLines().rowCount(), 0);
    h.window->AddLog(QStringLiteral("after"));
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
    QCOMPARE(h.window->GetTimeStamp(), stamp);
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
    QTest::newRow("interval letter") << QStringLiteral("cboTime") << QStringLiteral("0.5s")
                                     << QStringLiteral("0.5") << 1;
}

void tst_Shell::fieldsRefuseCharactersWithBeep() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(int, beeps);
    Harness h;
    h.start();
    QLineEdit* edit = field == QLatin1String("cboTime") ? h.cboTime()->lineEdit() : h.find<QLineEdit>(field);
    h.cboTime()->setEnabled(true);
    edit->clear();
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->text(), expected);
    QCOMPARE(h.beeper.beeps, beeps + 1);
    // Navigation keys type nothing and still move the cursor.
    QTest::keyClick(edit, Qt::Key_Home);
    QCOMPARE(edit->cursorPosition(), 0);
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), expected.mid(1));
    QCOMPARE(h.beeper.beeps, beeps + 1);
}

void tst_Shell::fieldsLimitLength_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("limit");
    QTest::newRow("address 15") << QStringLiteral("txtDestIP") << 15;
    QTest::newRow("port 5") << QStringLiteral("txtDestPort") << 5;
}

void tst_Shell::fieldsLimitLength() {
    QFETCH(QString, field);
    QFETCH(int, limit);
    Harness h;
    h.start();
    QLineEdit* edit = h.find<QLineEdit>(field);
    edit->clear();
    QTest::keyClicks(edit, QString(limit + 1, u'1'));
    QCOMPARE(edit->text(), QString(limit, u'1'));
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
    h.window->PingTimer().setEnabled(true);
    h.window->close();
    QCOMPARE(h.endRequests, 1);
    QVERIFY(!h.window->PingTimer().isEnabled());
    const qsizetype before = h.lines().size();
    h.button("cmdClear")->setEnabled(true);
    h.window->gate().deliver([&] { h.window->AddLog(QStringLiteral("late")); });
    QCOMPARE(h.lines().size(), before);
}

LUMORA_TEST_MAIN(tst_Shell)
#include "tst_shell.moc"
