#include "windowfixture.h"

#include <QAccessible>
#include <QTest>

using testsupport::Harness;

namespace {

QString twoDigits(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// Every control a screen reader or an automation tool reaches by this name,
// searched as such a tool does: through the accessibility tree, not the
// widgets. Labels share their text with the field they label and are left out.
void collect(QAccessibleInterface* node, const QString& name, QList<QObject*>& found) {
    if (node == nullptr)
        return;
    if (node->role() != QAccessible::StaticText && node->text(QAccessible::Name) == name)
        found.append(node->object());
    for (int i = 0; i < node->childCount(); ++i)
        collect(node->child(i), name, found);
}

} // namespace

class tst_Accessibility : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controlIsFoundByItsName_data();
    void controlIsFoundByItsName();
};

void tst_Accessibility::controlIsFoundByItsName_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    auto row = [](const QString& control, const QString& name) {
        QTest::newRow(qPrintable(control)) << control << name;
    };
    row(QStringLiteral("txtDestIP"), QStringLiteral("Destination IP"));
    row(QStringLiteral("txtDestPort"), QStringLiteral("Port No"));
    row(QStringLiteral("cboTime"), QStringLiteral("Time Interval"));
    row(QStringLiteral("List1"), QStringLiteral("Log"));
    for (int i = 0; i < 12; ++i) {
        row(lumora::app::indexedName("txtCounter", i), QStringLiteral("Counter CH") + twoDigits(i + 1));
        row(lumora::app::indexedName("txtTimegap", i), QStringLiteral("Time Gap CH") + twoDigits(i + 1));
        row(lumora::app::indexedName("chkDIValue", i), QStringLiteral("Digital Input ") + twoDigits(i));
    }
    for (int i = 0; i < 4; ++i)
        row(lumora::app::indexedName("chkDOValue", i), QStringLiteral("Digital Output ") + twoDigits(i + 1));
    // Buttons and options are named by their captions.
    row(QStringLiteral("cmdConnect"), QStringLiteral("Connect"));
    row(QStringLiteral("cmdDisconnect"), QStringLiteral("Disconnect"));
    row(QStringLiteral("cmdPingStart"), QStringLiteral("Ping Start"));
    row(QStringLiteral("cmdPingStop"), QStringLiteral("Ping Stop"));
    row(QStringLiteral("cmdSend"), QStringLiteral("Send"));
    row(QStringLiteral("cmdEnd"), QStringLiteral("End"));
    row(QStringLiteral("cmdClear"), QStringLiteral("List Clear"));
    row(lumora::app::indexedName("optInterval", 0), QStringLiteral("OneTime Send"));
    row(lumora::app::indexedName("optInterval", 1), QStringLiteral("Repeat"));
    row(lumora::app::indexedName("optLog", 0), QStringLiteral("List"));
    row(lumora::app::indexedName("optLog", 1), QStringLiteral("List + File"));
    row(lumora::app::indexedName("optCommand", 0), QStringLiteral("R (Status Request)"));
    row(lumora::app::indexedName("optCommand", 1), QStringLiteral("T (DO Setting) + DO Value"));
    row(lumora::app::indexedName("optCommand", 2), QStringLiteral("C (Count Reset)"));
}

void tst_Accessibility::controlIsFoundByItsName() {
    QFETCH(QString, control);
    QFETCH(QString, name);
    Harness h;
    h.start();
    QList<QObject*> found;
    collect(QAccessible::queryAccessibleInterface(h.window.get()), name, found);
    QVERIFY2(!found.isEmpty(), qPrintable(name));
    // The control itself, or the field inside it that is typed into.
    const QWidget* widget = h.find<QWidget>(control);
    for (QObject* object : found) {
        auto* foundWidget = qobject_cast<QWidget*>(object);
        QVERIFY2(foundWidget != nullptr && (foundWidget == widget || widget->isAncestorOf(foundWidget)),
                 qPrintable(object->objectName()));
    }
}

LUMORA_TEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
