#pragma once

// Every test process gets its own settings store and program folder, so no
// test reads or writes the settings or Log folder of the machine it runs on.

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

namespace testsupport {

// A scratch folder for the whole test process; XDG_CONFIG_HOME and
// XDG_DATA_HOME point into it.
inline QTemporaryDir& scratch() {
    static QTemporaryDir dir;
    return dir;
}

// A zone far from UTC, with a quarter-hour offset and, for most of the UTC
// day, another date: a stamp or a file name taken in local time where UTC is
// due (or the reverse) shows in hours, minutes and days. Written as a POSIX
// rule, so it holds without the system's zone files.
inline constexpr char kPinnedTimeZone[] = "<+1345>-13:45";

inline void isolateProcess() {
    // Before the application object exists: the zone is read once.
    qputenv("TZ", kPinnedTimeZone);
    const QString config = scratch().filePath(QStringLiteral("config"));
    QDir().mkpath(config);
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    const QString data = scratch().filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    qputenv("XDG_DATA_HOME", data.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
}

} // namespace testsupport

// Like QTEST_MAIN, but isolated before the application object exists. Only
// suites that link widgets get the widget application.
#ifdef QT_WIDGETS_LIB
#include <QApplication>

#define LUMORA_TEST_MAIN(TestObject)                                                                         \
    int main(int argc, char** argv) {                                                                        \
        testsupport::isolateProcess();                                                                       \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
#endif

#define LUMORA_TEST_MAIN_CORE(TestObject)                                                                    \
    int main(int argc, char** argv) {                                                                        \
        testsupport::isolateProcess();                                                                       \
        QCoreApplication app(argc, argv);                                                                    \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
