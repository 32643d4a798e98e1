// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A main window on fakes: a settable clock, a counting beep, dialogs and a
// shell that only record, and a program folder of its own.

#include "app/frmSim_7150R.h"
#include "app/layout.h"
#include "app/startup.h"
#include "settings/settings_store.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace testsupport {

class FakeClock final : public lumora::platform::Clock {
public:
    mutable QDateTime utc = QDateTime(QDate(2026, 12, 6), QTime(9, 5, 3, 7), Qt::UTC);
    QDate local = QDate(2026, 12, 6);
    // Each reading moves the clock on by this much, as a real one does between two readings.
    qint64 stepMs = 0;
    QDateTime nowUtc() const override {
        QDateTime now = utc;
        utc = utc.addMSecs(stepMs);
        return now;
    }
    QDate localDate(const QDateTime&) const override { return local; }
};

class FakeBeeper final : public lumora::platform::widgets::Beeper {
public:
    int beeps = 0;
    void beep() override { ++beeps; }
};

struct ShownBox {
    QString title, text;
};

class FakeDialogs final : public lumora::platform::widgets::Dialogs {
public:
    QList<ShownBox> shown;
    // Runs while the "modal" box is up, e.g. to spin the event loop.
    std::function<void()> whileShown;
    void critical(QWidget*, const QString& title, const QString& text) override {
        shown.append({title, text});
        if (whileShown)
            whileShown();
    }
};

class FakeShell final : public lumora::platform::widgets::Shell {
public:
    QList<QUrl> opened;
    std::optional<QString> failure;
    bool open(QWidget*, const QUrl& target) override {
        opened.append(target);
        return !failure;
    }
    QString errorString() const override { return failure.value_or(QString()); }
};

// Called from the ping ticks' threads.
class FakeIcmp final : public lumora::platform::IcmpService {
public:
    std::function<std::optional<lumora::platform::Ipv4>(const QByteArray&)> resolve = [](const QByteArray&) {
        return std::optional<lumora::platform::Ipv4>(0x7F000001);
    };
    std::function<lumora::platform::EchoOutcome(lumora::platform::Ipv4)> reply = [](auto to) {
        return lumora::platform::EchoOutcome{.kind = lumora::platform::EchoOutcome::Kind::Reply,
                                             .reply = {.from = to, .ttl = 64}, .reason = {}};
    };
    std::atomic<int> echoes = 0;
    std::optional<lumora::platform::Ipv4> resolveFirstIpv4(const QByteArray& host) override {
        ++inFlight_;
        const auto done = qScopeGuard([this] { --inFlight_; });
        return resolve(host);
    }
    lumora::platform::EchoOutcome echo(lumora::platform::Ipv4 to, int, int) override {
        ++inFlight_;
        const auto done = qScopeGuard([this] { --inFlight_; });
        ++echoes;
        return reply(to);
    }
    // Ping ticks run on threads nobody waits for: one still inside would outlive the fake and its locals.
    ~FakeIcmp() override {
        while (inFlight_ > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    std::atomic<int> inFlight_ = 0;
};

// What the window's and the session's cases share: the fake clock's stamp, the event texts, replies.
namespace app_texts {
using namespace Qt::StringLiterals;
inline const QString kStamp = u"[09:05:03.007]"_s;
inline const QString kConnected = u" Socket Connected!!"_s;
inline const QString kClosed = u" Socket Closed!!"_s;
inline const QString kSend = u" SEND : "_s;
inline const QString kRecv = u" RECV : Status Request (112 Bytes)"_s;
inline const QString kSendFail = u" Socket Closed... Send Fail!!"_s;
inline const QString kReconnecting = u" Socket Reconnecting......."_s;
inline const QString kPingEnd = u"Ping Test End~!!"_s;
inline const QString kResetHex = u"43 41 "_s;
inline const QByteArray kReset = QByteArray::fromHex("4341");
inline const QString kErrorText =
    u"Data Display Error!!\r\nError Number : 380\r\nError Description : Invalid property value"_s;
// Generous: loopback connections are quick, but the machine is shared.
constexpr int kWaitMs = 10000;
// Long enough for a late event, or several 50 ms ticks, to have come had they been due.
constexpr int kSettleMs = 400;
constexpr int kReplySize = 112;
constexpr int kFastMs = 50;
inline const QString kFast = u"0.05"_s;

inline QByteArray reply(std::initializer_list<std::pair<int, const char*>> fields) {
    QByteArray bytes(kReplySize, '\0');
    for (const auto& [offset, hex] : fields)
        bytes.replace(offset, QByteArray::fromHex(hex).size(), QByteArray::fromHex(hex));
    return bytes;
}
inline QStringList block(const QByteArray& bytes) {
    QStringList lines{kStamp + kRecv};
    for (int from = 0; from < kReplySize; from += 30)
        lines.append(QString::fromLatin1(bytes.mid(from, 30).toHex(' ').toUpper() + ' '));
    return lines << QString();
}
// The frames' hex texts as the log has them.
inline QStringList sent(const QStringList& events) {
    return events.filter(kSend).replaceInStrings(kSend, QString());
}
} // namespace app_texts

inline QStringList linesOf(const lumora::log::LogListModel& model) {
    QStringList out;
    for (int i = 0; i < model.rowCount(); ++i)
        out.append(model.line(i));
    return out;
}
// The lines with their time stamps cut off, for comparing event texts.
inline QStringList eventsOf(const QStringList& lines) {
    QStringList out;
    for (const QString& line : lines)
        out.append(line.startsWith(u'[') && line.size() >= 14 ? line.mid(14) : line);
    return out;
}

// The client's session on fakes, without a window, in a program folder of its own.
struct SessionHarness {
    QTemporaryDir programDir;
    FakeClock clock;
    FakeIcmp icmp;
    lumora::settings::IniSettingsStore settings;
    lumora::app::ClientSession session{
        {.clock = clock, .settings = settings, .icmp = icmp, .programDir = programDir.path()}};

    SessionHarness() { QDir(programDir.path()).mkdir(QStringLiteral("Log")); }
    void dial(const QString& port) {
        session.setAddress(QStringLiteral("127.0.0.1"));
        session.setPortText(port);
        session.connectToUnit();
    }
    QStringList lines() const { return linesOf(session.logLines()); }
    QStringList events() const { return eventsOf(lines()); }
};

// What a test puts in place of a fake.
struct StandIns {
    lumora::platform::Clock* clock = nullptr;
    lumora::platform::widgets::Dialogs* dialogs = nullptr;
    lumora::platform::IcmpService* icmp = nullptr;
};

// A window as Main makes it, on fakes, in a program folder of its own.
struct Harness {
    QTemporaryDir programDir;
    FakeClock clock;
    FakeBeeper beeper;
    FakeDialogs dialogs;
    FakeShell shell;
    FakeIcmp icmp;
    lumora::settings::IniSettingsStore settings;
    int endRequests = 0;
    std::unique_ptr<lumora::app::frmSim_7150R> window;

    lumora::app::Services services(StandIns standIns = {}) {
        return {.clock = standIns.clock != nullptr ? *standIns.clock : clock, .beeper = beeper,
                .dialogs = standIns.dialogs != nullptr ? *standIns.dialogs : dialogs, .shell = shell,
                .settings = settings, .icmp = standIns.icmp != nullptr ? *standIns.icmp : icmp,
                .programDir = programDir.path()};
    }
    // The window made on these services, its close counted as the program's end.
    lumora::app::frmSim_7150R& open(const lumora::app::Services& services) {
        window = lumora::app::Main(services);
        QObject::connect(window.get(), &lumora::app::frmSim_7150R::endRequested, window.get(),
                         [this] { ++endRequests; });
        return *window;
    }
    lumora::app::ClientSession& session() const { return window->session(); }

    lumora::app::frmSim_7150R& start() {
        open(services());
        for (const QString& line : lines())
            checkForm(line);
        QObject::connect(&session().logLines(), &lumora::log::LogListModel::linesAppended, window.get(),
                         [this](int first, int last) {
                             for (int row = first; row <= last; ++row)
                                 checkForm(session().logLines().line(row));
                         });
        return *window;
    }

    // A line of the wrong form fails the running test as it is added, so every wait on the log
    // (QTRY_*, waitFor) ends then instead of waiting its whole time for a line that can no longer match.
    static bool wellFormed(const QString& line) {
        static const QRegularExpression stamp(
            QStringLiteral(R"(^\[([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3}\] )"));
        // The events that are always stamped, with whatever stands before them.
        static const QRegularExpression stampedEvent(
            QStringLiteral(R"(^(\S*) (SEND : |RECV : |Socket |Settings |Log File ))"));
        if (line.startsWith(u'['))
            return stamp.match(line).hasMatch();
        return !stampedEvent.match(line).hasMatch();
    }
    static void checkForm(const QString& line) {
        if (!wellFormed(line) && QTest::runningTest() && !QTest::currentTestFailed())
            QTest::qFail(qPrintable(QStringLiteral("log line of the wrong form: \"%1\"").arg(line)),
                         __FILE__, __LINE__);
    }
    // Waits until done() or the running test has failed; true for done().
    static bool waitFor(const std::function<bool()>& done, int timeoutMs) {
        return QTest::qWaitFor([&] { return QTest::currentTestFailed() || done(); }, timeoutMs) &&
               !QTest::currentTestFailed();
    }

    template <typename W> W* find(const QString& name) const {
        if (W* w = window->findChild<W*>(name))
            return w;
        qFatal("no control %s", qPrintable(name));
    }
    template <typename W> W* find(const char* array, int index) const {
        return find<W>(lumora::app::indexedName(array, index));
    }
    QAbstractButton* button(const char* name) const { return find<QAbstractButton>(QLatin1String(name)); }
    QLineEdit* edit(const char* name) const { return find<QLineEdit>(QLatin1String(name)); }
    QComboBox* cboTime() const { return find<QComboBox>(QStringLiteral("cboTime")); }

    static void type(QLineEdit* box, const QString& text) {
        box->clear();
        QTest::keyClicks(box, text);
    }
    // Focuses the control as a click on it does; gives what then takes the keys.
    QWidget* focusByClick(QWidget* control) const {
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get()))
            return nullptr;
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(4, control->height() / 2));
        return QApplication::focusWidget();
    }
    // Option and check boxes react to their indicator, at the left edge.
    static void click(QAbstractButton* b) {
        const bool push = qobject_cast<QPushButton*>(b) != nullptr;
        QTest::mouseClick(b, Qt::LeftButton, {}, push ? b->rect().center() : QPoint(6, b->height() / 2));
    }
    void click(const char* name) const { click(button(name)); }
    void click(const char* array, int index) const { click(find<QAbstractButton>(array, index)); }

    static constexpr int kWaitMs = app_texts::kWaitMs;
    void dial(const QString& port) {
        type(edit("txtDestIP"), QStringLiteral("127.0.0.1"));
        type(edit("txtDestPort"), port);
        click("cmdConnect");
    }
    bool startConnected(quint16 port) {
        start();
        dial(QString::number(port));
        return waitFor([this] { return events().contains(QStringLiteral(" Socket Connected!!")); }, kWaitMs);
    }
    template <typename Peer> bool startConnected(Peer& peer) {
        return peer.listen() && startConnected(peer.port());
    }

    QStringList lines() const { return linesOf(session().logLines()); }
    QStringList events() const { return eventsOf(lines()); }
};

} // namespace testsupport
