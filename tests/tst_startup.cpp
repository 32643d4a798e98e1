#include "windowfixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using testsupport::Harness;

namespace {

// The user's data folder for the client, as the desktop's conventions put it.
QString clientDataFolder() {
    return QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath(QStringLiteral("lumora-7150r-sim"));
}

} // namespace

class tst_Startup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void logHomeFollowsWhereTheProgramRuns_data();
    void logHomeFollowsWhereTheProgramRuns();
    void installedProgramLogsIntoDataFolder();
    void installUnderAnotherPrefixIsInstalled();
    void windowBelongsToItsDesktopEntry();
};

void tst_Startup::initTestCase() {
    // The name the client's executable gives it.
    QCoreApplication::setApplicationName(QStringLiteral("lumora-7150r-sim"));
}

void tst_Startup::logHomeFollowsWhereTheProgramRuns_data() {
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QString>("installedBinDir");
    QTest::addColumn<bool>("installed");
    QTest::newRow("installation's bin folder") << "/usr/bin"
                                               << "/usr/bin" << true;
    QTest::newRow("same folder spelt another way") << "/usr/bin"
                                                   << "/usr/lib/../bin/" << true;
    QTest::newRow("build folder") << "/home/engineer/lumora/build"
                                  << "/usr/local/bin" << false;
    QTest::newRow("copy in a folder of its own") << "/opt/lumora"
                                                 << "/usr/bin" << false;
    QTest::newRow("prefix of the bin folder") << "/usr"
                                              << "/usr/bin" << false;
    QTest::newRow("no installation configured") << "/usr/bin"
                                                << "" << false;
}

void tst_Startup::logHomeFollowsWhereTheProgramRuns() {
    QFETCH(QString, programDir);
    QFETCH(QString, installedBinDir);
    QFETCH(bool, installed);
    QCOMPARE(lumora::app::logHome(programDir, installedBinDir), installed ? clientDataFolder() : programDir);
}

void tst_Startup::installedProgramLogsIntoDataFolder() {
    QVERIFY(!QFileInfo::exists(clientDataFolder()));
    QTemporaryDir bin;
    Harness h;
    lumora::app::Services services = h.services();
    services.programDir = lumora::app::logHome(bin.path(), bin.path());
    h.window = lumora::app::Main(services);

    const QString log = QDir(clientDataFolder()).filePath(QStringLiteral("Log"));
    QVERIFY(QFileInfo(log).isDir());
    h.probe().WriteLogFile(QStringLiteral("[09:05:03.007] RECV : Status Request (112 Bytes)"));
    QFile file(QDir(log).filePath(QStringLiteral("20261206.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("[09:05:03.007] RECV : Status Request (112 Bytes)\r\n"));
    QVERIFY(QDir(bin.path()).isEmpty());
}

// Installed under another prefix than the one configured: the desktop entry
// that the install put beside the programs says so.
void tst_Startup::installUnderAnotherPrefixIsInstalled() {
    QTemporaryDir prefix;
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    QCOMPARE(lumora::app::logHome(bin), bin);
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/applications")));
    QFile entry(prefix.filePath(QStringLiteral("share/applications/example.lumora.Sim7150R.desktop")));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.close();
    QCOMPARE(lumora::app::logHome(bin), clientDataFolder());
}

void tst_Startup::windowBelongsToItsDesktopEntry() {
    Harness h;
    h.start();
    // The name the desktop looks up must be the entry that is installed.
    const QString entry = QStringLiteral(LUMORA_SOURCE_DIR "/dist/") + QGuiApplication::desktopFileName() +
                          QStringLiteral(".desktop");
    QVERIFY2(!QGuiApplication::desktopFileName().isEmpty() && QFileInfo::exists(entry), qPrintable(entry));
}

LUMORA_TEST_MAIN(tst_Startup)
#include "tst_startup.moc"
