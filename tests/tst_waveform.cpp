// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_store.h"
#include "testsupport.h"
#include "waveform/measure_text.h"
#include "waveform/picture.h"
#include "waveform/readout.h"
#include "waveform/signal_view.h"
#include "waveform/signal_window.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QToolButton>
#include <QtTest>

using testsupport::columns;

using namespace Qt::StringLiterals;
using lumora::timeline::Level;
using lumora::timeline::ReplyStore;
using lumora::timeline::Sample;
using namespace lumora::waveform;

namespace {

// 2026-12-07 10:00:00.000 UTC
constexpr qint64 kTen = 1'796'637'600'000;
constexpr int kLaneDO01 = 12;
constexpr int kRowCNT01 = 16;

Sample sample(qint64 offsetMs, QList<Level> lanes, std::uint32_t counter1 = 0) {
    Sample s;
    s.ms = kTen + offsetMs;
    for (int k = 0; k < lanes.size(); ++k)
        s.setLane(k, lanes[k]);
    s.counters[0] = counter1;
    return s;
}

// DI00 goes high, low, both within one millisecond; DI01 the other way;
// DI02 starts refused; DI03 sits at the third state; DO01 high then low;
// counter 1 counts, then resets.
void fill(ReplyStore& store) {
    using enum Level;
    QList<Level> first{High, Low, Refused, Third, Low, Low, Low, Low, Low, Low, Low, Low, High};
    QList<Level> second{Low, High, Low, Third, Low, Low, Low, Low, Low, Low, Low, Low, Low};
    store.append(sample(100, first, 10));
    store.append(sample(300, second, 20));
    second[0] = High;
    store.append(sample(600, second, 30));
    second[0] = Low;
    store.append(sample(600, second, 2));
    store.append(sample(700, second, 2));
}

// Worked by hand in measurements(): DI00 high 100..300 and 500..600 while
// CNT01 counts 1 then 2 (one pulse missed at 300..500); DI01 at the third
// state until 300; CNT02 counts 4 then is reset to 5; CNT03 wraps by 3.
void fillPulses(ReplyStore& store) {
    using enum Level;
    const QList<std::pair<qint64, QList<Level>>> levels{
        {0, {Low, Third}}, {100, {High, Third}}, {300, {Low, Low}}, {500, {High, Low}}, {600, {Low, Low}}};
    const std::array<std::array<std::uint32_t, 3>, 5> counters{
        {{0, 996, 4294967295U}, {1, 1000, 2}, {1, 5, 2}, {3, 5, 2}, {3, 5, 2}}};
    const std::array<std::uint32_t, 5> gaps{5, 7, 3, 0, 0};
    for (std::size_t i = 0; i < 5; ++i) {
        Sample s = sample(levels[qsizetype(i)].first, levels[qsizetype(i)].second);
        std::copy(counters[i].begin(), counters[i].end(), s.counters.begin());
        s.gaps[0] = gaps[i];
        store.append(s);
    }
}

// One millisecond a pixel column: 1000 columns beside the 52-pixel names,
// 40 rows of 20 pixels above the 24-pixel axis.
const QSize kPictureSize{1052, 824};
const ViewState kSecond{kTen, kTen + 1000, false, 0};

enum class Seen { Nothing, High, Low, Third, Both };

// What a row's band shows at a moment, judged by the pixels alone: ink in
// the top third is high, in the bottom third low, an orange middle the third
// state, green through the middle a transition.
Seen seenAt(const QImage& image, const QRect& band, int x) {
    const int third = band.height() / 3;
    bool upper = false;
    bool lower = false;
    bool greenMiddle = false;
    bool orangeMiddle = false;
    for (int y = band.top() + 1; y <= band.bottom(); ++y) {
        const QColor c = image.pixelColor(x, y);
        if (c == Qt::white)
            continue;
        if (y <= band.top() + third)
            upper = true;
        else if (y >= band.bottom() - third)
            lower = true;
        else if (c.green() > c.red())
            greenMiddle = true;
        else
            orangeMiddle = true;
    }
    if (greenMiddle)
        return Seen::Both;
    if (orangeMiddle)
        return Seen::Third;
    if (upper != lower)
        return upper ? Seen::High : Seen::Low;
    return upper ? Seen::Both : Seen::Nothing;
}

bool redIn(const QImage& image, const QRect& band, int x) {
    for (int y = band.top() + 1; y <= band.bottom(); ++y) {
        const QColor c = image.pixelColor(x, y);
        if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
            return true;
    }
    return false;
}

int inkY(const QImage& image, const QRect& band, int x) {
    for (int y = band.top() + 1; y <= band.bottom(); ++y) {
        if (image.pixelColor(x, y) != Qt::white)
            return y;
    }
    return -1;
}

// A wheel turned by whole notches over a point of the widget.
void turnWheel(QWidget* widget, QPoint at, int notches) {
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

// Shown at that size, and on screen.
bool shown(QWidget& widget, QSize size) {
    widget.resize(size);
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

QRect plotOf(const SignalView& view) {
    return layoutOf(view.rect(), view.state()).plot;
}

} // namespace

class tst_Waveform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pictureLanes_data() {
        columns<int, int, Seen>("row", "ms", "seen");
        QTest::newRow("DI00 at its first reply") << 0 << 100 << Seen::High;
        QTest::newRow("DI00 before it") << 0 << 99 << Seen::Nothing;
        QTest::newRow("DI00 last high column") << 0 << 299 << Seen::High;
        QTest::newRow("DI00 falls") << 0 << 300 << Seen::Both;
        QTest::newRow("DI00 first low column") << 0 << 301 << Seen::Low;
        QTest::newRow("DI00 both in one column") << 0 << 600 << Seen::Both;
        QTest::newRow("DI00 low held") << 0 << 650 << Seen::Low;
        QTest::newRow("DI00 after the newest") << 0 << 800 << Seen::Nothing;
        QTest::newRow("DI01 low") << 1 << 200 << Seen::Low;
        QTest::newRow("DI01 high") << 1 << 400 << Seen::High;
        QTest::newRow("DI02 refused") << 2 << 100 << Seen::Nothing;
        QTest::newRow("DI02 comes back") << 2 << 300 << Seen::Low;
        QTest::newRow("DI03 third state") << 3 << 200 << Seen::Third;
        QTest::newRow("DO01 high") << kLaneDO01 << 200 << Seen::High;
        QTest::newRow("DO01 low") << kLaneDO01 << 400 << Seen::Low;
    }
    void pictureLanes() {
        QFETCH(int, row);
        QFETCH(int, ms);
        QFETCH(Seen, seen);
        ReplyStore store;
        fill(store);
        const QString path = dir_.filePath(QStringLiteral("lanes.png"));
        QString error;
        QVERIFY2(exportRange(path, store, kSecond, kPictureSize, error), qPrintable(error));
        const QImage image(path);
        const Layout layout = layoutOf(image.rect(), kSecond);
        const int x = layout.plot.left() + ms * layout.plot.width() / 1000;
        QCOMPARE(seenAt(image, layout.rows.at(std::size_t(row)).band, x), seen);
    }

    void pictureCounterReset() {
        ReplyStore store;
        fill(store);
        QImage image(kPictureSize, QImage::Format_RGB32);
        QPainter painter(&image);
        paintSignals(painter, image.rect(), store, kSecond);
        painter.end();
        const Layout layout = layoutOf(image.rect(), kSecond);
        const QRect band = layout.rows.at(kRowCNT01).band;
        const int left = layout.plot.left();
        QVERIFY(redIn(image, band, left + 600));
        for (const int ms : {100, 300, 599, 601, 700})
            QVERIFY2(!redIn(image, band, left + ms), qPrintable(QString::number(ms)));
        // Steps: 20 stands above 10, and the 2 after the reset lowest of all.
        QVERIFY(inkY(image, band, left + 400) < inkY(image, band, left + 200));
        QVERIFY(inkY(image, band, left + 200) < inkY(image, band, left + 650));
        QCOMPARE(seenAt(image, band, left + 650), Seen::Low);
        QCOMPARE(seenAt(image, band, left + 50), Seen::Nothing);
        // GAP01 stays at 0 while CNT01 resets: no mark on its row.
        QVERIFY(!redIn(image, layout.rows.at(kRowCNT01 + 12).band, left + 600));

        ViewState hidden = kSecond;
        hidden.hiddenLanes = 1U << kRowCNT01 | quint64{0xFFF} << 28;
        const Layout fewer = layoutOf(image.rect(), hidden);
        QCOMPARE(fewer.rows.size(), std::size_t(16 + 11));
        QCOMPARE(fewer.rows.at(kRowCNT01).name, QStringLiteral("CNT02"));
        // One lane left: a row no taller than a few of the forty, the axis right under it.
        hidden.hiddenLanes = lumora::timeline::kEveryLane & ~quint64{1};
        const Layout one = layoutOf(image.rect(), hidden);
        QVERIFY(one.plot.height() < 3 * 20 && one.axis.top() == one.plot.bottom() + 1);
        // All forty fill any height, as they always did.
        QCOMPARE(layoutOf(QRect(0, 0, 1052, 3001), kSecond).plot.height(), 3001 - 24);
    }

    // Pictures written into an image's pixels and those a painter draws
    // (SVG, a clipped painter) are one and the same.
    void pictureThroughThePainter() {
        ReplyStore store;
        fill(store);
        QImage direct(kPictureSize, QImage::Format_RGB32);
        QPainter toDirect(&direct);
        paintSignals(toDirect, direct.rect(), store, kSecond);
        toDirect.end();
        QImage painted(kPictureSize, QImage::Format_RGB32);
        QPainter toPainted(&painted);
        toPainted.setClipRect(painted.rect());
        paintSignals(toPainted, painted.rect(), store, kSecond);
        toPainted.end();
        QCOMPARE(painted, direct);
    }

    // A cursor or tick at a column's first millisecond stands in that column, wherever the division of
    // the span by the width lands.
    void xAtMsAtColumnStarts() {
        for (const auto& [width, span] : {std::pair{3, 10}, {7, 10}, {333, 1000}, {1366, 86'400'000}}) {
            const QRect plot(52, 0, width, 10);
            const ViewState state{kTen, kTen + span, false, 0};
            for (int x = plot.left() + 1; x <= plot.right(); ++x) {
                const qint64 start = msAtX(plot, state, x);
                QCOMPARE(xAtMs(plot, state, start), x);
                QCOMPARE(xAtMs(plot, state, start - 1), x - 1);
            }
        }
    }

    void exportByExtension_data() {
        columns<QString, QSize, QString>("name", "size", "failure");
        QTest::newRow("png") << "a.png" << kPictureSize << QString();
        QTest::newRow("PNG in capitals") << "b.PNG" << QSize(200, 100) << QString();
        QTest::newRow("svg") << "c.svg" << kPictureSize << QString();
        QTest::newRow("csv") << "d.csv" << QSize() << QString();
        QTest::newRow("other extension") << "e.bmp" << kPictureSize << "must end in .png, .svg, .csv or .vcd";
        QTest::newRow("no extension") << "f" << kPictureSize << "must end in .png, .svg, .csv or .vcd";
        QTest::newRow("no picture size") << "g.png" << QSize(0, 100) << "size 0x100 is empty";
        QTest::newRow("folder missing") << "none/h.svg" << kPictureSize << "Cannot write";
    }
    void exportByExtension() {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(QString, failure);
        ReplyStore store;
        fill(store);
        const QString path = dir_.filePath(name);
        QString error;
        const bool written = exportRange(path, store, kSecond, size, error);
        if (!failure.isEmpty()) {
            QVERIFY(!written);
            QVERIFY2(error.contains(failure), qPrintable(error));
            QVERIFY(error.contains(path));
            QVERIFY(!QFile::exists(path));
            return;
        }
        QVERIFY2(written, qPrintable(error));
        if (name.endsWith(u".svg")) {
            QSvgRenderer svg(path);
            QVERIFY(svg.isValid());
            QCOMPARE(svg.viewBox(), QRect(QPoint(0, 0), size));
            const QByteArray text = testsupport::readFile(path);
            QVERIFY(text.contains(">DI00<") && text.contains(">GAP12<") && text.contains(">10:00:00.200<"));
            QVERIFY(text.contains(">UTC<"));
            // The same span read in local time (13:45 ahead here).
            ViewState local = kSecond;
            local.localTime = true;
            QVERIFY(exportRange(path, store, local, size, error));
            const QByteArray shifted = testsupport::readFile(path);
            QVERIFY(shifted.contains(">23:45:00.200<") && shifted.contains(">local<"));
            QVERIFY(!shifted.contains(">10:00:00.200<"));
        } else if (name.endsWith(u".csv")) {
            const QList<QByteArray> lines = testsupport::readFile(path).split('\n');
            QCOMPARE(lines.size(), 5 + 2);
            QVERIFY(lines.at(1).startsWith("2026-12-07 10:00:00.100,1,0,,2,"));
        } else {
            QCOMPARE(QImage(path).size(), size);
        }
    }

    void readoutTexts_data() {
        columns<QString, QString>("text", "expected");
        Sample a =
            sample(100,
                   {Level::High, Level::Low, Level::Refused, Level::Third, Level::Low, Level::Low, Level::Low,
                    Level::Low, Level::Low, Level::Low, Level::Low, Level::Low, Level::High},
                   7);
        a.counters[11] = 4294967295U;
        a.gaps[0] = 1005;
        a.gaps[11] = 60000;
        QTest::newRow("cursor") << cursorText(kTen + 250, a, false)
                                << "10:00:00.250 UTC (reply 10:00:00.100 UTC)\n"
                                   "DI00..DI11  1 0 ? 2 0 0 0 0 0 0 0 0\n"
                                   "DO01..DO04  1 0 0 0\n"
                                   "CNT01..06  7 0 0 0 0 0\n"
                                   "CNT07..12  0 0 0 0 0 4294967295\n"
                                   "GAP01..06  1.01 0.00 0.00 0.00 0.00 0.00\n"
                                   "GAP07..12  0.00 0.00 0.00 0.00 0.00 60.00";
        QTest::newRow("cursor in local time")
            << cursorText(kTen + 250, std::nullopt, true) << "23:45:00.250 +13:45\nno reply at or before it";
        Sample b = a;
        b.ms = kTen + 1600;
        b.counters[0] = 1507;
        b.counters[1] = 3;
        b.counters[11] = 5;
        QTest::newRow("two cursors") << spanText(kTen + 250, a, kTen + 1750, b, 0b0111'1111'1100)
                                     << "Between the cursors: 1.500 s\nCNT01 +1500, 1000.00/s\nCNT02 +3, "
                                        "2.00/s\nCNT12 -4294967290, -2863311526.67/s";
        QTest::newRow("second cursor before the first")
            << spanText(kTen + 250, a, kTen + 50, b, 0xFFE)
            << "Between the cursors: -0.200 s\nCNT01 +1500, -7500.00/s";
        QTest::newRow("one place") << spanText(kTen, a, kTen, a, 0xFFE)
                                   << "Between the cursors: 0.000 s\nCNT01 0, -/s";
        QTest::newRow("nothing at the first")
            << spanText(kTen, std::nullopt, kTen + 1, a, 0)
            << "Between the cursors: 0.001 s\nno reply at or before the first cursor";
    }
    void readoutTexts() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    void statusLine() {
        ReplyStore store;
        SignalWindow window(store, settings_, QLatin1String(QTest::currentTestFunction()));
        QCOMPARE(window.statusText(), QStringLiteral("0 replies"));
        fill(store);
        window.storeChanged();
        const QString line = QStringLiteral("5 replies, 10:00:00.100 to 10:00:00.700 UTC");
        QCOMPARE(window.statusText(), line);
        window.setNote(QStringLiteral("; time steps back at 20261207.txt line 4123"));
        const QString noted = line + QStringLiteral("; time steps back at 20261207.txt line 4123");
        QCOMPARE(window.statusText(), noted);
        auto* label = window.findChild<QLabel*>(QStringLiteral("status"));
        QVERIFY(label);
        QCOMPARE(label->text(), noted);
        QCOMPARE(label->accessibleName(), noted);
        // Changes coming fast are shown together, and the last one is shown.
        store.append(sample(800, {}));
        window.storeChanged();
        store.append(sample(900, {}));
        window.storeChanged();
        QTRY_COMPARE(
            window.statusText(),
            QStringLiteral(
                "7 replies, 10:00:00.100 to 10:00:00.900 UTC; time steps back at 20261207.txt line 4123"));
    }

    // A drag pans and ends following; the wheel zooms around the pointer, the keys around the middle.
    void dragPansWheelZooms() {
        ReplyStore store;
        fill(store);
        SignalWindow window(store, settings_, QLatin1String(QTest::currentTestFunction()));
        QVERIFY(shown(window, {1100, 700}));
        SignalView* view = window.view();
        QVERIFY(view->follows());
        auto* follow = window.findChild<QAction*>(QStringLiteral("actionFollow"));
        QVERIFY(follow && follow->isChecked());
        QSignalSpy followChanged(view, &SignalView::followChanged);
        const ViewState before = view->state();
        QVERIFY(before.fromMs <= kTen + 700 && kTen + 700 < before.toMs);
        const QRect plot = plotOf(*view);
        const QPoint start = plot.center();
        // Dragging to the right brings earlier moments in from the left.
        QTest::mousePress(view, Qt::LeftButton, {}, start);
        QTest::mouseMove(view, start + QPoint(plot.width() / 10, 0));
        QTest::mouseMove(view, start + QPoint(plot.width() / 2, 0));
        QTest::mouseRelease(view, Qt::LeftButton, {}, start + QPoint(plot.width() / 2, 0));
        QVERIFY(!view->follows());
        QCOMPARE(followChanged.size(), 1);
        QCOMPARE(followChanged.at(0).at(0).toBool(), false);
        QVERIFY(!follow->isChecked());
        const qint64 span = before.toMs - before.fromMs;
        QCOMPARE(view->state().toMs - view->state().fromMs, span);
        QVERIFY(qAbs(before.fromMs - view->state().fromMs - span / 2) <= span / plot.width() + 1);
        QVERIFY(!view->cursor());

        // New replies no longer move a view the user has moved.
        const ViewState panned = view->state();
        store.append(sample(5000, {}));
        window.storeChanged();
        QTest::qWait(2 * SignalView::kRepaintMs);
        QCOMPARE(view->state().fromMs, panned.fromMs);

        view->setSpan(kTen, kTen + 1000);
        // A quarter of the way in, one notch narrows the span to 800 ms
        // around 10:00:00.250; two out widen it to 1250 ms.
        const QPoint quarter(plot.left() + plot.width() / 4, plot.center().y());
        const qint64 under = kTen + 1000 * (quarter.x() - plot.left()) / plot.width();
        turnWheel(view, quarter, 1);
        QCOMPARE(view->state().toMs - view->state().fromMs, 800);
        QVERIFY(qAbs(view->state().fromMs + 800 * (quarter.x() - plot.left()) / plot.width() - under) <= 1);
        turnWheel(view, quarter, -2);
        QVERIFY(qAbs(view->state().toMs - view->state().fromMs - 1250) <= 1);
        QVERIFY(qAbs(view->state().fromMs + 1250 * (quarter.x() - plot.left()) / plot.width() - under) <= 1);

        // Following again, the newest reply stays in view whatever the zoom.
        follow->trigger();
        QVERIFY(view->state().fromMs <= kTen + 5000 && kTen + 5000 < view->state().toMs);
        turnWheel(view, quarter, 3);
        QVERIFY(view->state().fromMs <= kTen + 5000 && kTen + 5000 < view->state().toMs);

        // The arrow keys pan by a tenth of the span and end following; + and - zoom around the middle.
        view->setFocus();
        const ViewState keyed = view->state();
        const qint64 keySpan = keyed.toMs - keyed.fromMs;
        QTest::keyClick(view, Qt::Key_Left);
        QVERIFY(!view->follows());
        QCOMPARE(view->state().fromMs, keyed.fromMs - keySpan / 10);
        QTest::keyClick(view, Qt::Key_Right);
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(view->state().fromMs, keyed.fromMs + keySpan / 10);
        const qint64 middle = (view->state().fromMs + view->state().toMs) / 2;
        QTest::keyClick(view, Qt::Key_Plus);
        QCOMPARE(view->state().toMs - view->state().fromMs, keySpan * 4 / 5);
        QVERIFY(qAbs((view->state().fromMs + view->state().toMs) / 2 - middle) <= keySpan / 500);
        QTest::keyClick(view, Qt::Key_Minus);
        QVERIFY(qAbs(view->state().toMs - view->state().fromMs - keySpan) <= 1);
    }

    void cursorsReadOut() {
        ReplyStore store;
        fill(store);
        SignalView view(store);
        QVERIFY(shown(view, {1052, 600}));
        view.setFollow(false);
        view.setSpan(kTen, kTen + 1000);
        const QRect plot = plotOf(view);
        QCOMPARE(plot.width(), 1000);
        auto* panel = view.findChild<QLabel*>(QStringLiteral("readout"));
        QVERIFY(panel && !panel->isVisible());
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(plot.left() + 200, plot.center().y()));
        QCOMPARE(view.cursor(), std::optional<qint64>(kTen + 200));
        QVERIFY(panel->isVisible());
        QVERIFY(
            panel->text().startsWith(u"10:00:00.200 UTC (reply 10:00:00.100 UTC)\nDI00..DI11  1 0 ? 2 0"));
        QTest::mouseClick(&view, Qt::LeftButton, Qt::ShiftModifier,
                          QPoint(plot.left() + 700, plot.center().y()));
        QCOMPARE(view.secondCursor(), std::optional<qint64>(kTen + 700));
        QVERIFY2(panel->text().contains(u"\n\nSecond cursor 10:00:00.700 UTC\nBetween the cursors: 0.500 s\n"
                                        u"CNT01 -8, -16.00/s\nCNT02 0, 0.00/s"),
                 qPrintable(panel->text()));
        view.setHidden(1U << kRowCNT01);
        QVERIFY2(panel->text().contains(u"Between the cursors: 0.500 s\nCNT02 0, 0.00/s\nCNT03"),
                 qPrintable(panel->text()));
        QTest::keyClick(&view, Qt::Key_Escape);
        QVERIFY(!view.cursor() && !panel->isVisible());
    }

    void repaintsCoalesced() {
        ReplyStore store;
        SignalView view(store);
        QVERIFY(shown(view, {800, 600}));
        QElapsedTimer clock;
        clock.start();
        const qint64 paintsBefore = view.paintCount();
        for (int i = 0; i < 400; ++i) {
            store.append(sample(i, {Level(i % 2)}));
            view.storeChanged();
            QTest::qWait(1);
        }
        const qint64 paints = view.paintCount() - paintsBefore;
        const qint64 allowed = clock.elapsed() / SignalView::kRepaintMs + 3;
        QVERIFY2(paints <= allowed,
                 qPrintable(QStringLiteral("%1 paints, %2 allowed").arg(paints).arg(allowed)));
        // The last change is painted too, and followed, once the pending
        // repaint has come.
        QTest::qWait(2 * SignalView::kRepaintMs);
        QVERIFY(view.state().fromMs <= kTen + 399 && kTen + 399 < view.state().toMs);
        const Layout layout = layoutOf(view.rect(), view.state());
        const int newest = int(layout.plot.left() + (kTen + 399 - view.state().fromMs) * layout.plot.width() /
                                                        (view.state().toMs - view.state().fromMs));
        QVERIFY(seenAt(view.grab().toImage(), layout.rows.at(0).band, newest) != Seen::Nothing);

        // Not following, a reply landing in the shown span shows too.
        view.setFocus();
        QTest::keyClick(&view, Qt::Key_Left);
        view.setSpan(kTen, kTen + 1000);
        QTest::qWait(2 * SignalView::kRepaintMs);
        store.append(sample(500, {Level::Low, Level::High}));
        store.append(sample(600, {Level::Low, Level::High}));
        view.storeChanged();
        const Layout shown = layoutOf(view.rect(), view.state());
        const int at = shown.plot.left() + 550 * shown.plot.width() / 1000;
        QTRY_COMPARE(seenAt(view.grab().toImage(), shown.rows.at(1).band, at), Seen::High);
    }

    void exportFromTheMenu_data() {
        columns<QString, QString>("typed", "written");
        QTest::newRow("name without extension: a PNG") << u"menu"_s << u"menu.png"_s;
        QTest::newRow("CSV by its extension") << u"menu.csv"_s << u"menu.csv"_s;
    }
    void exportFromTheMenu() {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        ReplyStore store;
        fill(store);
        SignalWindow window(store, settings_, QLatin1String(QTest::currentTestFunction()));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The dialog is modal: typed into once it is up. A message box
        // saying the export failed is read and closed.
        QTimer typist;
        bool typedIn = false;
        QString complaint;
        connect(&typist, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                complaint = box->text();
                QTest::keyClick(box, Qt::Key_Escape);
                return;
            }
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            auto* name = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
            if (typedIn || !name || !name->hasFocus())
                return;
            typedIn = true;
            QTest::keyClicks(name, dir_.filePath(typed));
            QTest::keyClick(name, Qt::Key_Return);
        });
        typist.start(20);
        window.findChild<QAction*>(QStringLiteral("actionExport"))->trigger();
        const QString path = dir_.filePath(written);
        QVERIFY2(complaint.isEmpty(), qPrintable(complaint));
        QVERIFY(QFile::exists(path));
        if (written.endsWith(u".png")) {
            QCOMPARE(QImage(path).size(), window.view()->size());
        } else {
            const QByteArray text = testsupport::readFile(path);
            QVERIFY(text.startsWith("time,DI00,"));
            QCOMPARE(text.count('\n'), 1 + 5);
        }
    }

    // The panel under the lanes measures the whole view, then the span a
    // clicked finding puts the cursors on (the fall at its first reply is in
    // it); the finding is marked on CNT01.
    void measurements() {
        ReplyStore store;
        fillPulses(store);
        SignalWindow window(store, settings_, QLatin1String(QTest::currentTestFunction()));
        QVERIFY(shown(window, {1300, 1000}));
        SignalView* view = window.view();
        view->setFollow(false);
        view->setSpan(kTen, kTen + 1000);
        auto* panel = window.findChild<QPlainTextEdit*>(u"measurements"_s);
        QTRY_VERIFY(panel->toPlainText().startsWith(
            u"The whole view: 10:00:00.000 UTC to 10:00:01.000 UTC (1.000 s), 5 replies\n"
            u"DI00  rising 2  falling 2  high 0.300 s  duty 30.0 %  period min/mean/max 0.400/0.400/0.400 s  "
            u"width min/max 0.100/0.200 s\n"
            u"DI01  rising 0  falling 0  high 0.000 s  duty 0.0 %  period min/mean/max -  width min/max -  "
            u"at 2/refused 0.300 s\n"));
        for (const QString& line : {u"\nCNT01  pulses 3  rate 3.00/s  missed 1\n"_s,
                                    u"\nCNT02  pulses 9 (1 reset)  rate 9.00/s  missed 9\n"_s,
                                    u"\nCNT03  pulses 3 (1 wrap)  rate 3.00/s  missed 3\n"_s,
                                    u"\nGAP01  min/mean/max 0.000/0.003/0.007 s\n"_s})
            QVERIFY2(panel->toPlainText().contains(line), qPrintable(line));

        auto* findings = window.findChild<QListWidget*>(u"findings"_s);
        const QList<QListWidgetItem*> missed =
            findings->findItems(u"missed_pulses  CNT01  "_s, Qt::MatchStartsWith);
        QCOMPARE(missed.size(), 1);
        QCOMPARE(missed[0]->text(),
                 u"missed_pulses  CNT01  10:00:00.300 UTC to 10:00:00.500 UTC  counted 2, edges seen 1"_s);
        QTest::mouseClick(findings->viewport(), Qt::LeftButton, {},
                          findings->visualItemRect(missed[0]).center());
        QCOMPARE(view->cursor(), std::optional<qint64>(kTen + 300));
        QCOMPARE(view->secondCursor(), std::optional<qint64>(kTen + 501));
        QTRY_VERIFY2(panel->toPlainText().startsWith(
                         u"Between the cursors: 10:00:00.300 UTC to 10:00:00.501 UTC (0.201 s), 2 replies\n"
                         u"DI00  rising 1  falling 1  high 0.001 s  duty 0.5 %  period min/mean/max -  "
                         u"width min/max -\n"),
                     qPrintable(panel->toPlainText()));
        QVERIFY(panel->toPlainText().contains(u"\nCNT01  pulses 2  rate 9.95/s  missed 1\n"));
        auto* copy = window.findChild<QToolButton*>(u"copyMeasurements"_s);
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), panel->toPlainText());
        const Layout layout = layoutOf(view->rect(), view->state());
        const QRect band = layout.rows.at(kRowCNT01).band;
        const QImage picture = view->grab().toImage();
        QCOMPARE(picture.pixelColor(xAtMs(layout.plot, view->state(), kTen + 400), band.top() + 2),
                 QColor(240, 0, 150));
        QCOMPARE(picture.pixelColor(xAtMs(layout.plot, view->state(), kTen + 250), band.top() + 2),
                 Qt::white);
        // Other replies in place of these, as many: their findings are listed.
        // CNT01 counts 10, 10 and 2 (set back from 30) over its first three
        // pairs, with one rise among them: one stretch of missed pulses.
        store.clear();
        fill(store);
        window.storeChanged();
        QTRY_COMPARE(
            findings->item(0)->text(),
            u"missed_pulses  CNT01  10:00:00.100 UTC to 10:00:00.600 UTC  counted 22, edges seen 1"_s);
        // One more reply: CNT01 counts 3 with DI00 low all along.
        store.append(sample(800, {}, 5));
        window.storeChanged();
        QTRY_COMPARE(findings->item(findings->count() - 1)->text(),
                     u"missed_pulses  CNT01  10:00:00.700 UTC to 10:00:00.800 UTC  counted 3, edges seen 0"_s);
    }

    // Keys to the focus widget, as typed: lane selection by a click on its
    // name and by Up/Down, the change keys, Go to time and Find.
    void searchKeys() {
        ReplyStore store;
        fillPulses(store);
        SignalWindow window(store, settings_, QLatin1String(QTest::currentTestFunction()));
        QVERIFY(shown(window, {1300, 1000}));
        QApplication::setActiveWindow(&window);
        SignalView* view = window.view();
        view->setFollow(false);
        view->setSpan(kTen, kTen + 1000);
        view->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), view);
        const auto key = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            return view->cursor().value_or(-1) - kTen;
        };
        // With no lane selected, any lane's change.
        QCOMPARE(key(Qt::Key_Right), 100);
        const QRect names = layoutOf(view->rect(), view->state()).names;
        const int nameY = layoutOf(view->rect(), view->state()).rows.at(1).band.center().y();
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(names.center().x(), nameY));
        QCOMPARE(view->selectedLane(), std::optional<int>(1));
        QVERIFY(view->grab().toImage().pixelColor(names.left() + 1, nameY) != Qt::white);
        const Qt::KeyboardModifiers any = Qt::ControlModifier | Qt::ShiftModifier;
        // DI01 changes once, at 300; DI00 at 100, 300, 500 and 600; the counters and gaps at 100 to 500.
        QCOMPARE(key(Qt::Key_Right), 300);
        QCOMPARE(key(Qt::Key_Right), 300);
        QCOMPARE(key(Qt::Key_Up, Qt::NoModifier), 300);
        QCOMPARE(view->selectedLane(), std::optional<int>(0));
        QCOMPARE(key(Qt::Key_Right), 500);
        QCOMPARE(key(Qt::Key_Right), 600);
        QCOMPARE(key(Qt::Key_Left), 500);
        QCOMPARE(key(Qt::Key_Left, any), 300);
        QCOMPARE(key(Qt::Key_Left, any), 100);
        QCOMPARE(key(Qt::Key_Right, any), 300);
        QCOMPARE(key(Qt::Key_Down, Qt::NoModifier), 300);
        QCOMPARE(key(Qt::Key_Down, Qt::NoModifier), 300);
        QCOMPARE(view->selectedLane(), std::optional<int>(2));
        // Away from the changes, the search starts at the view's edge and brings the change into view.
        QTest::keyClick(view, Qt::Key_Escape);
        view->setSpan(kTen + 5000, kTen + 6000);
        QCOMPARE(key(Qt::Key_Left, any), 600);
        QVERIFY(view->state().fromMs <= kTen + 600 && kTen + 600 < view->state().toMs);

        // Go to time: on the day shown, from far away.
        view->setSpan(kTen + 3'600'000, kTen + 3'601'000);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), u"goTo"_s);
        QTest::keyClicks(QApplication::focusWidget(), u"10:00:00.250"_s);
        QCOMPARE(key(Qt::Key_Return, Qt::NoModifier), 250);
        QVERIFY(view->state().fromMs <= kTen + 250 && kTen + 250 < view->state().toMs);

        auto* reason = window.findChild<QLabel*>(u"findReason"_s);
        auto* stretches = window.findChild<QListWidget*>(u"stretches"_s);
        for (const QString& typed : {u"DI00 & CNT01 >"_s, u"DI00 & CNT01 > 1"_s}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), u"find"_s);
            QTest::keyClicks(QApplication::focusWidget(), typed);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        }
        QVERIFY(reason->text().isEmpty());
        QCOMPARE(stretches->count(), 1);
        QCOMPARE(stretches->item(0)->text(), u"10:00:00.500 UTC to 10:00:00.600 UTC (0.100 s)"_s);
        QTest::mouseClick(stretches->viewport(), Qt::LeftButton, {},
                          stretches->visualItemRect(stretches->item(0)).center());
        QCOMPARE(view->cursor(), std::optional<qint64>(kTen + 500));
        QCOMPARE(view->secondCursor(), std::optional<qint64>(kTen + 600));
        QVERIFY(view->state().fromMs <= kTen + 500 && kTen + 600 < view->state().toMs);
        // The change keys move the first cursor and leave the second.
        view->setFocus();
        QCOMPARE(key(Qt::Key_Left, any), 300);
        QCOMPARE(view->secondCursor(), std::optional<qint64>(kTen + 600));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), u"DI99"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!reason->text().isEmpty());
        QCOMPARE(stretches->count(), 0);
    }

    // View > Hide and "Hide Lanes That Never Change" picked as a person does; the next window hides the
    // same, and exports what it shows. In fill(), DI00..DI02, DO01 and CNT01 change.
    void hideLanes() {
        ReplyStore store;
        fill(store);
        const auto pick = [](SignalWindow& window, bool inHide, const QString& entry) {
            QTest::keyClick(&window, Qt::Key_V, Qt::AltModifier);
            QTRY_VERIFY(QApplication::activePopupWidget());
            if (inHide)
                QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_H);
            QMenu* menu = nullptr;
            QTRY_VERIFY((menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) &&
                        (menu->objectName() == u"menuHide") == inHide);
            const QList<QAction*> all = menu->actions();
            const auto at =
                std::find_if(all.begin(), all.end(), [&](QAction* a) { return a->text() == entry; });
            QVERIFY(at != all.end());
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(*at).center());
        };
        constexpr quint64 kChanging = 0b111U | 1U << kLaneDO01 | 1U << kRowCNT01;
        constexpr quint64 kChosen = 0b10U | 1U << kRowCNT01;
        constexpr quint64 kStill = lumora::timeline::kEveryLane & ~kChanging;
        {
            SignalWindow window(store, settings_, u"hideLanes"_s);
            window.show();
            window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            pick(window, true, u"DI01"_s);
            pick(window, true, u"CNT01"_s);
            QCOMPARE(window.view()->state().hiddenLanes, kChosen);
            pick(window, false, u"Hide Lanes That Never Change"_s);
            QCOMPARE(window.view()->state().hiddenLanes, kStill | kChosen);
            const auto* panel = window.findChild<QPlainTextEdit*>(u"measurements"_s);
            QTRY_VERIFY(panel->toPlainText().contains(u"\nDI00  "_s) &&
                        !panel->toPlainText().contains(u"\nDI01  "_s) &&
                        !panel->toPlainText().contains(u"\nCNT01  "_s));
        }
        settings_.flush();
        const QString ini = QSettings(QSettings::IniFormat, QSettings::UserScope, u"hideLanes"_s).fileName();
        QVERIFY(testsupport::readFile(ini).contains("[Signals]\nHIDDEN=DI01 CNT01\nHIDE_STILL=1\n"));
        SignalWindow window(store, settings_, u"hideLanes"_s);
        QCOMPARE(window.view()->state().hiddenLanes, kStill | kChosen);
        QString why;
        const QString csv = dir_.filePath(u"shown.csv"_s);
        const QString vcd = dir_.filePath(u"shown.vcd"_s);
        QVERIFY2(window.exportShown(csv, why) && window.exportShown(vcd, why), qPrintable(why));
        QVERIFY(testsupport::readFile(csv).startsWith("time,DI00,DI02,DO01\n"));
        QVERIFY(testsupport::readFile(vcd).contains("lumora $end\n$var wire 1 A DI00 $end\n$var wire 1 C "
                                                    "DI02 $end\n$var wire 1 M DO01 $end\n$upscope"));
        // DI03 changes at last: the rule shows it.
        store.append(sample(800, {Level::Low, Level::Low, Level::Low, Level::High}));
        window.storeChanged();
        QTRY_COMPARE(window.view()->state().hiddenLanes, (kStill & ~quint64{0b1000}) | kChosen);
    }

private:
    QTemporaryDir dir_;
    lumora::settings::IniSettingsStore settings_;
};

LUMORA_TEST_MAIN(tst_Waveform)
#include "tst_waveform.moc"
