// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/conversions.h"
#include "testsupport.h"

#include <QtTest>

#include <clocale>

using namespace Qt::StringLiterals;
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
};

LUMORA_TEST_MAIN_CORE(tst_Settings)
#include "tst_settings.moc"
