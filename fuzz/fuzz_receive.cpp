// SPDX-License-Identifier: GPL-3.0-or-later
// A unit that misbehaves can deliver any bytes cut into any pieces, so the
// receive path is fed arbitrary sequences of arrivals and must keep its word:
// a capped list, the status-wait flag cleared, exactly the lines, boxes,
// indicator values and file blocks that each arrival calls for.
//
// Input layout: byte 0 picks the log level (bit 0 set: "List + File"); then,
// until the input runs out, one length selector and that many bytes (fewer if
// the input ends first). Selector s:
//   s % 4 == 0: 112 bytes (a reply's length)
//   s % 4 == 1: 1 byte
//   s % 4 == 2: s / 4 bytes (0..63)
//   s % 4 == 3: 64 + (s / 4 * 256 + next byte) % 1024 bytes (64..1087)

#include "app/layout.h"
#include "log/daily_log.h"
#include "protocol/status_reply.h"
#include "windowfixture.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

using lumora::protocol::kCounterOffset;
using lumora::protocol::kDumpLineBounds;
using lumora::protocol::kInputCount;
using lumora::protocol::kOutputCount;
using lumora::protocol::kOutputOffset;
using lumora::protocol::kStatusReplySize;
using lumora::protocol::kTimeGapOffset;

constexpr int kMaxLogLines = 1001;
constexpr int kReplyLines = 6;
constexpr int kHighestValidState = 2;
constexpr int kSelectorKinds = 4;
constexpr int kShortLengths = 64;
constexpr int kLongLengthSpan = 1024;
constexpr int kBytesPerSelectorStep = 256;
// The daily file grows with every good reply at "List + File"; beyond this it
// is removed between inputs so long runs stay fast and small.
constexpr qint64 kLogFileLimit = 1 << 20;

const QString kCrLf = QStringLiteral("\r\n");
const QString kBoxTitle = QStringLiteral("Error");
const QString kBoxStart = QStringLiteral("Data Display Error!!\r\nError Number : ");
const QString kBoxDescription = QStringLiteral("\r\nError Description : ");
const QString kWriteFail = QStringLiteral(" Log File Write Fail!! ");

[[noreturn]] void violated(const char* what, qsizetype arrivalSize) {
    std::fprintf(stderr, "invariant violated: %s (arrival of %lld bytes)\n", what,
                 static_cast<long long>(arrivalSize));
    std::abort();
}

QString hexPair(std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::array<QChar, 2> pair = {QLatin1Char(kDigits[byte >> 4]), QLatin1Char(kDigits[byte & 0x0F])};
    return QString(pair.data(), pair.size());
}

// The state number an indicator is given: the hex text read as a decimal number.
int stateNumber(std::uint8_t byte) {
    const QString hex = hexPair(byte);
    const bool firstDigit = hex[0].isDigit();
    const bool secondDigit = hex[1].isDigit();
    if (firstDigit && secondDigit)
        return (hex[0].unicode() - u'0') * 10 + (hex[1].unicode() - u'0');
    if (firstDigit)
        return hex[0].unicode() - u'0';
    return 0;
}

bool validState(int state) {
    return state >= 0 && state <= kHighestValidState;
}

std::uint32_t field(const QByteArray& bytes, int offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value * 256 + static_cast<std::uint8_t>(bytes[offset + i]);
    return value;
}

// "####0.00" of value / 1000; a third decimal of exactly 5 may go either way.
QStringList timeGapTexts(std::uint32_t thousandths) {
    const std::uint32_t whole = thousandths / 1000;
    const std::uint32_t rest = thousandths % 1000;
    auto text = [whole](std::uint32_t hundredths) {
        return QString::number(whole + hundredths / 100) + QLatin1Char('.') +
               QStringLiteral("%1").arg(hundredths % 100, 2, 10, QLatin1Char('0'));
    };
    const std::uint32_t down = rest / 10;
    const std::uint32_t third = rest % 10;
    if (third < 5)
        return {text(down)};
    if (third > 5)
        return {text(down + 1)};
    return {text(down), text(down + 1)};
}

QStringList dumpLines(const QByteArray& bytes) {
    QStringList lines;
    for (std::size_t line = 1; line < kDumpLineBounds.size(); ++line) {
        QString text;
        for (qsizetype offset = kDumpLineBounds[line - 1]; offset < kDumpLineBounds[line]; ++offset)
            text += hexPair(static_cast<std::uint8_t>(bytes[offset])) + QLatin1Char(' ');
        lines.append(text);
    }
    return lines;
}

QString stampOf(const QDateTime& utc) {
    const QTime t = utc.time();
    return QString::asprintf("[%02d:%02d:%02d.%03d]", t.hour(), t.minute(), t.second(), t.msec());
}

class Fixture {
public:
    Fixture() {
        harness_.start();
        session_ = &harness_.window->session();
        for (int k = 0; k < kInputCount; ++k) {
            inputs_[k] = harness_.find<lumora::platform::widgets::CheckBox>("chkDIValue", k);
            counters_[k] = harness_.find<lumora::platform::widgets::TextBox>("txtCounter", k);
            timeGaps_[k] = harness_.find<lumora::platform::widgets::TextBox>("txtTimegap", k);
        }
        for (int k = 0; k < kOutputCount; ++k)
            outputs_[k] = harness_.find<lumora::platform::widgets::CheckBox>("chkDOValue", k);
        for (int k = 0; k < 2; ++k)
            optLog_[k] = harness_.find<lumora::platform::widgets::OptionButton>("optLog", k);
        logPath_ = lumora::log::dailyLogPath(harness_.programDir.path(), harness_.clock.local);
        QObject::connect(&session_->logLines(), &lumora::log::LogListModel::linesAppended, &context_,
                         [this](int first, int last) { appended_ += last - first + 1; });
    }

    void run(const std::uint8_t* data, std::size_t size) {
        if (size == 0)
            return;
        keepLogFileSmall();
        fileLevel_ = (data[0] & 1) != 0;
        optLog_[fileLevel_ ? 1 : 0]->select();
        std::size_t pos = 1;
        while (pos < size) {
            const std::uint8_t selector = data[pos++];
            std::size_t length = 0;
            switch (selector % kSelectorKinds) {
            case 0:
                length = kStatusReplySize;
                break;
            case 1:
                length = 1;
                break;
            case 2:
                length = selector / kSelectorKinds;
                break;
            default: {
                const std::size_t low = pos < size ? data[pos++] : 0;
                length = kShortLengths +
                         (std::size_t{selector} / kSelectorKinds * kBytesPerSelectorStep + low) % kLongLengthSpan;
                break;
            }
            }
            length = std::min(length, size - pos);
            arrive(QByteArray(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(length)));
            pos += length;
        }
        // In the program the event loop runs between arrivals; without it the
        // list view's deferred layouts and repaints would pile up unprocessed.
        QCoreApplication::processEvents();
    }

private:
    struct Shown {
        std::array<int, kInputCount> inputs{};
        std::array<int, kOutputCount> outputs{};
        std::array<QString, kInputCount> counters;
        std::array<QString, kInputCount> timeGaps;
    };

    Shown shown() const {
        Shown s;
        for (int k = 0; k < kInputCount; ++k) {
            s.inputs[k] = inputs_[k]->value();
            s.counters[k] = counters_[k]->text();
            s.timeGaps[k] = timeGaps_[k]->text();
        }
        for (int k = 0; k < kOutputCount; ++k)
            s.outputs[k] = outputs_[k]->value();
        return s;
    }

    qint64 logFileSize() const { return QFileInfo(logPath_).size(); }

    void keepLogFileSmall() {
        if (logFileSize() > kLogFileLimit && !QFile::remove(logPath_))
            violated("cannot remove the daily log file between inputs", 0);
    }

    QStringList newestLines(int count) const {
        const auto& model = session_->logLines();
        QStringList lines;
        for (int row = model.rowCount() - count; row < model.rowCount(); ++row)
            lines.append(model.line(row));
        return lines;
    }

    void arrive(const QByteArray& bytes) {
        const qsizetype n = bytes.size();
        harness_.clock.utc = harness_.clock.utc.addMSecs(1);
        const Shown before = shown();
        const qint64 fileBefore = logFileSize();
        harness_.dialogs.shown.clear();
        appended_ = 0;

        session_->Winsock1_DataArrival(bytes);

        if (session_->isStatusAwaited())
            violated("a request still awaited after an arrival", n);
        if (session_->logLines().rowCount() > kMaxLogLines)
            violated("log list holds more than 1001 lines", n);

        if (n != kStatusReplySize) {
            checkIgnored(n, before, fileBefore);
            return;
        }
        checkReply(bytes, before, fileBefore);
    }

    void checkIgnored(qsizetype n, const Shown& before, qint64 fileBefore) {
        if (n <= 1) {
            if (appended_ != 0)
                violated("a 0- or 1-byte arrival appended a line", n);
        } else {
            if (appended_ != 1)
                violated("a wrong-length arrival did not append exactly one line", n);
            const QString expected = QStringLiteral("Different responce data length : %1 Bytes").arg(n);
            if (newestLines(1).constFirst() != expected)
                violated("wrong-length line differs", n);
        }
        if (!harness_.dialogs.shown.isEmpty())
            violated("a non-reply arrival raised a box", n);
        const Shown after = shown();
        if (after.inputs != before.inputs || after.outputs != before.outputs ||
            after.counters != before.counters || after.timeGaps != before.timeGaps)
            violated("a non-reply arrival changed an indicator", n);
        if (logFileSize() != fileBefore)
            violated("a non-reply arrival touched the daily log file", n);
    }

    void checkReply(const QByteArray& bytes, const Shown& before, qint64 fileBefore) {
        const qsizetype n = bytes.size();
        const Shown after = shown();
        qsizetype refused = 0;
        auto checkState = [&](int shownBefore, int shownAfter, std::uint8_t byte) {
            const int state = stateNumber(byte);
            if (!validState(state)) {
                ++refused;
                if (shownAfter != shownBefore)
                    violated("a refused state changed its indicator", n);
            } else if (shownAfter != state) {
                violated("an indicator does not show its state number", n);
            }
        };
        for (int k = 0; k < kInputCount; ++k)
            checkState(before.inputs[k], after.inputs[k], static_cast<std::uint8_t>(bytes[k]));
        for (int k = 0; k < kOutputCount; ++k)
            checkState(before.outputs[k], after.outputs[k],
                       static_cast<std::uint8_t>(bytes[kOutputOffset + k]));
        for (int k = 0; k < kInputCount; ++k) {
            if (after.counters[k] != QString::number(field(bytes, kCounterOffset + 4 * k)))
                violated("a counter box differs", n);
            if (!timeGapTexts(field(bytes, kTimeGapOffset + 4 * k)).contains(after.timeGaps[k]))
                violated("a time-gap box differs", n);
        }

        if (harness_.dialogs.shown.size() != refused)
            violated("error boxes differ from the refused indicator bytes", n);
        for (const testsupport::ShownBox& box : harness_.dialogs.shown) {
            if (box.title != kBoxTitle || !box.text.startsWith(kBoxStart) ||
                !box.text.contains(kBoxDescription))
                violated("an error box has the wrong title or text", n);
        }

        const QString header =
            stampOf(harness_.clock.utc) + QStringLiteral(" RECV : Status Request (112 Bytes)");
        const QStringList dump = dumpLines(bytes);
        const QStringList block = QStringList{header} + dump + QStringList{QString()};
        const bool writeFailed =
            appended_ == kReplyLines + 1 && newestLines(1).constFirst().contains(kWriteFail);
        if (appended_ != kReplyLines && !writeFailed)
            violated("a reply did not append exactly six lines", n);
        const QStringList lines = newestLines(static_cast<int>(appended_));
        if (lines.mid(0, kReplyLines) != block)
            violated("the RECV block in the list differs", n);

        checkFile(header, dump, fileBefore, writeFailed, n);
    }

    void checkFile(const QString& header, const QStringList& dump, qint64 fileBefore, bool writeFailed,
                   qsizetype n) const {
        const qint64 fileAfter = logFileSize();
        if (!fileLevel_ || writeFailed) {
            if (!fileLevel_ && fileAfter != fileBefore)
                violated("the daily log file changed at the level \"List\"", n);
            return;
        }
        QByteArray expected = header.toLatin1() + kCrLf.toLatin1();
        for (const QString& line : dump)
            expected += line.toLatin1() + kCrLf.toLatin1();
        expected += kCrLf.toLatin1();
        if (fileAfter - fileBefore != expected.size())
            violated("the daily log file did not grow by one RECV block", n);
        QFile file(logPath_);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(fileBefore))
            violated("cannot read the daily log file back", n);
        if (file.readAll() != expected)
            violated("the RECV block in the daily log file differs", n);
    }

    // The environment must be isolated before the application object exists.
    [[maybe_unused]] bool isolated_ = [] {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
        testsupport::isolateProcess();
        return true;
    }();
    int argc_ = 1;
    char name_[13] = "fuzz_receive";
    std::array<char*, 2> argv_ = {name_, nullptr};
    QApplication app_{argc_, argv_.data()};
    testsupport::Harness harness_;
    QObject context_;
    lumora::app::ClientSession* session_ = nullptr;
    std::array<lumora::platform::widgets::CheckBox*, kInputCount> inputs_{};
    std::array<lumora::platform::widgets::CheckBox*, kOutputCount> outputs_{};
    std::array<lumora::platform::widgets::TextBox*, kInputCount> counters_{};
    std::array<lumora::platform::widgets::TextBox*, kInputCount> timeGaps_{};
    std::array<lumora::platform::widgets::OptionButton*, 2> optLog_{};
    QString logPath_;
    qint64 appended_ = 0;
    bool fileLevel_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    fixture.run(data, size);
    return 0;
}
