// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every test process gets its own settings store and program folder, so no
// test reads or writes the settings or Log folder of the machine it runs on.

#include "childprocesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

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

// Before the application object exists: the zone is read once.
inline void isolateProcess() {
    qputenv("TZ", kPinnedTimeZone);
    const QString config = scratch().filePath(QStringLiteral("config"));
    const QString data = scratch().filePath(QStringLiteral("data"));
    QDir().mkpath(config);
    QDir().mkpath(data);
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    qputenv("XDG_DATA_HOME", data.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Like QTEST_MAIN, but isolated before the application object exists.
// A suite whose cases leave a process running fails, whatever the cases said.
template <typename Application, typename TestObject> int runIsolated(int argc, char** argv) {
    isolateProcess();
    if (!adoptOrphans())
        std::perror("the suite cannot see what its children leave behind");
    Application app(argc, argv);
    if constexpr (!std::is_same_v<Application, QCoreApplication>)
        app.setAttribute(Qt::AA_Use96Dpi);
    int failed = 0;
    {
        TestObject tc;
        failed = QTest::qExec(&tc, argc, argv);
    }
    return nothingLeftRunning() ? failed : failed + 1;
}

// A suite made of several test classes, one per source file: each file
// registers its class with LUMORA_SUITE_CLASS, and LUMORA_SUITE_MAIN_CORE runs
// them all in turn, in the order of their names.
struct SuiteClass {
    const char* name;
    QObject* (*make)();
};
inline std::vector<SuiteClass>& suiteClasses() {
    static std::vector<SuiteClass> classes;
    return classes;
}
struct SuiteClassEntry {
    explicit SuiteClassEntry(SuiteClass entry) { suiteClasses().push_back(entry); }
};

template <typename Application> int runIsolatedSuite(int argc, char** argv) {
    isolateProcess();
    if (!adoptOrphans())
        std::perror("the suite cannot see what its children leave behind");
    Application app(argc, argv);
    auto classes = suiteClasses();
    std::sort(classes.begin(), classes.end(),
              [](const SuiteClass& a, const SuiteClass& b) { return std::strcmp(a.name, b.name) < 0; });
    int failed = 0;
    // A child run of one case names the class that has it.
    const QByteArray only = qgetenv("LUMORA_SUITE_ONLY");
    for (const SuiteClass& entry : classes) {
        if (!only.isEmpty() && only != entry.name)
            continue;
        const std::unique_ptr<QObject> tc(entry.make());
        failed += QTest::qExec(tc.get(), argc, argv);
    }
    return nothingLeftRunning() ? failed : failed + 1;
}

// A data-driven case's columns in one line: columns<int, QString>("count", "name").
template <typename... Types, typename... Names> void columns(Names... names) {
    (QTest::addColumn<Types>(names), ...);
}

// A RECV block as the window files it: the header, the reply's 30, 30, 30 and 22 bytes in Qt's hex, each
// group followed by a space, and the empty line; `stamp` is "hh:mm:ss.zzz".
inline QByteArray dailyBlock(QByteArrayView stamp, const QByteArray& reply = QByteArray(112, '\0'),
                             const char* end = "\r\n") {
    QByteArray text = '[' + stamp.toByteArray() + "] RECV : Status Request (112 Bytes)" + end;
    for (int k = 0; k < 4; ++k)
        text += reply.mid(qsizetype{30} * k, k < 3 ? 30 : 22).toHex(' ').toUpper() + ' ' + end;
    return text + end;
}

// The whole file, or nothing where it cannot be opened: a comparison with what it should hold then fails.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, QByteArrayView bytes,
                      QIODevice::OpenMode mode = QIODevice::WriteOnly) {
    QFile file(path);
    return file.open(mode) && file.write(bytes.data(), bytes.size()) == bytes.size() && file.flush();
}

} // namespace testsupport

#define LUMORA_TEST_MAIN_WITH(Application, TestObject)                                                       \
    int main(int argc, char** argv) {                                                                        \
        return testsupport::runIsolated<Application, TestObject>(argc, argv);                                \
    }
#define LUMORA_TEST_MAIN_CORE(TestObject) LUMORA_TEST_MAIN_WITH(QCoreApplication, TestObject)
// A type name cannot stand in parentheses after "new".
// NOLINTBEGIN(bugprone-macro-parentheses)
#define LUMORA_SUITE_CLASS(TestObject)                                                                      \
    static const testsupport::SuiteClassEntry registered##TestObject(                                       \
        {#TestObject, []() -> QObject* { return new TestObject; }})
// NOLINTEND(bugprone-macro-parentheses)
#define LUMORA_SUITE_MAIN_CORE()                                                                             \
    int main(int argc, char** argv) {                                                                        \
        return testsupport::runIsolatedSuite<QCoreApplication>(argc, argv);                                  \
    }

// Only suites that link widgets get the widget application.
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define LUMORA_TEST_MAIN(TestObject) LUMORA_TEST_MAIN_WITH(QApplication, TestObject)
#define LUMORA_SUITE_MAIN()                                                                                  \
    int main(int argc, char** argv) {                                                                        \
        return testsupport::runIsolatedSuite<QApplication>(argc, argv);                                      \
    }
#endif
