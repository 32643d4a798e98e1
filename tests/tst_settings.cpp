// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/conversions.h"
#include "settings/settings_store.h"
#include "settingsfilehold.h"
#include "testsupport.h"

#include <QSettings>
#include <QtTest>

#include <clocale>
#include <memory>

using namespace Qt::StringLiterals;
using lumora::settings::IniSettingsStore;
using lumora::settings::SettingsStore;
using testsupport::columns;

class tst_Settings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The boxes always use "." whatever the user's locale: every row runs under
    // one that writes a comma, in Qt and in the C library.
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    }

    void intervalMsFromText_data() {
        columns<QString, int>("text", "expected");
        // The halves are exact in double precision: the tie goes to the even neighbour.
        const std::pair<const char*, int> rows[] = {
            {"2", 2000},         {"0.5", 500},        {"1.2.3", 1200}, {"", 0},       {"+1", 1000},
            {" 2", 2000},        {"\t2", 2000},       {"-1", 0},       {"abc", 0},    {".", 0},
            {".5", 500},         {"12abc", 12000},    {"1,5", 1000},   {"1e3", 1000}, {"- 1", 0},
            {"65.536", 65536},   {"0.001", 1},        {"0.0005", 0},   {"0.0015", 2}, {"0.0025", 2},
            {"86400", 86400000}, {"100000", 86400000}};
        for (const auto& [text, ms] : rows)
            QTest::addRow("\"%s\"", text) << QString::fromLatin1(text) << ms;
        QTest::newRow("400 nines") << u"9"_s.repeated(400) << 86400000;
        QTest::newRow("Arabic-Indic digit") << QString(QChar(0x0663)) << 0;
        QTest::newRow("2, then an Arabic-Indic digit") << u"2\u0663"_s << 2000;
    }

    void intervalMsFromText() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(lumora::settings::intervalMsFromText(text), expected);
    }

    void portFromText_data() {
        // expected: -1: no port
        columns<QString, int>("text", "expected");
        const std::pair<const char*, int> rows[] = {
            {"4000", 4000},   {"80.5", 80},       {"81.5", 82}, {"80.6", 81},  {"40000", 40000},
            {"65535", 65535}, {"65534.5", 65534}, {"0", 0},     {"00080", 80}, {"80.", 80},
            {"65536", -1},    {"65535.5", -1},    {"", -1},     {"1.2.3", -1}, {".", -1},
            {"12abc", -1},    {" 80", -1},        {"+80", -1},  {"-1", -1}};
        for (const auto& [text, port] : rows)
            QTest::addRow("\"%s\"", text) << QString::fromLatin1(text) << port;
        QTest::newRow("400 ones") << u"1"_s.repeated(400) << -1;
    }

    void portFromText() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const std::optional<std::uint16_t> port = lumora::settings::portFromText(text);
        QCOMPARE(port ? int(*port) : -1, expected);
    }

    // A store that cannot be read gives fallbacks and refuses saves, leaving the user's file as it is.
    void settingsStore() {
        IniSettingsStore store;
        QVERIFY2(store.save(u"GoodApp"_s, u"S"_s, u"K"_s, u"v1"_s), qPrintable(store.errorString()));
        QVERIFY(store.isReadable(u"GoodApp"_s));
        QCOMPARE(store.read(u"GoodApp"_s, u"S"_s, u"K"_s, u"fallback"_s), u"v1"_s);
        QCOMPARE(store.read(u"GoodApp"_s, u"S"_s, u"L"_s, u"fallback"_s), u"fallback"_s);
        QFile damaged(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/DamagedApp.ini"_s);
        const QByteArray content("[S\nK = v0\n");
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(content) == content.size());
        damaged.close();
        QCOMPARE(store.read(u"DamagedApp"_s, u"S"_s, u"K"_s, u"fallback"_s), u"fallback"_s);
        QVERIFY(!store.isReadable(u"DamagedApp"_s));
        const QString unreadable = u"unreadable settings file "_s + damaged.fileName();
        QCOMPARE(store.errorString(), unreadable);
        QCOMPARE(store.error(), SettingsStore::Error::FormatError);
        QVERIFY(!store.save(u"DamagedApp"_s, u"S"_s, u"K"_s, u"v1"_s));
        QCOMPARE(store.errorString(), unreadable + u", left as it is"_s);
        QVERIFY(damaged.open(QIODevice::ReadOnly));
        QCOMPARE(damaged.readAll(), content);
    }

    void settingsWrittenOffCallersThread_data() {
        QTest::addColumn<bool>("storeEnds");
        QTest::newRow("while the store runs") << false;
        QTest::newRow("at the store's end") << true;
    }

    // Saves wait for no write, however long it takes (here: another program holds the file); those made
    // meanwhile go out together, the last of each key winning, within a second or when the store ends.
    void settingsWrittenOffCallersThread() {
        QFETCH(bool, storeEnds);
        const QString app = u"BusyApp"_s + QString::number(int(storeEnds));
        const QSettings file(QSettings::IniFormat, QSettings::UserScope, app);
        auto store = std::make_unique<IniSettingsStore>();
        QList<bool> written;
        // Heard by the store, not the suite: a write told as the store ends must not reach a later case.
        connect(store.get(), &SettingsStore::written, store.get(), [&written] { written.append(true); });
        connect(store.get(), &SettingsStore::errorOccurred, store.get(), [&written] { written.append(false); });
        testsupport::SettingsFileHold hold(file.fileName());
        QVERIFY(hold.held());
        for (const QString& value : {u"1"_s, u"12"_s, u"123"_s})
            QVERIFY(store->save(app, u"S"_s, u"K"_s, value));
        QVERIFY(store->save(app, u"S"_s, u"L"_s, u"other"_s));
        QCOMPARE(store->read(app, u"S"_s, u"K"_s, u"fallback"_s), u"123"_s);
        QVERIFY2(hold.release(), "a save waited for the write");
        const auto onDisk = [&app](const QString& key) {
            return QSettings(QSettings::IniFormat, QSettings::UserScope, app).value(u"S/"_s + key).toString();
        };
        if (storeEnds)
            store.reset();
        else
            QTRY_COMPARE_WITH_TIMEOUT(onDisk(u"K"_s), u"123"_s, 1000);
        QCOMPARE(onDisk(u"K"_s), u"123"_s);
        QCOMPARE(onDisk(u"L"_s), u"other"_s);
        if (!storeEnds)
            QTRY_VERIFY(!written.isEmpty() && !written.contains(false));
    }
};

LUMORA_TEST_MAIN_CORE(tst_Settings)
#include "tst_settings.moc"
