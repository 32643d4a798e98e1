// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/picture.h"

#include "timeline/range_export.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace lumora::waveform {

namespace {

constexpr int kNamesWidth = 52;
// Rows share the height, up to this or the height each has when all forty
// are shown, whichever is more: a level drawn taller only takes its edges
// further from the other lanes' and the axis, which makes them harder to
// compare; with few lanes the picture is shorter instead.
constexpr int kMostRowPx = 48;
constexpr int kAxisHeight = 24;
constexpr int kFontPx = 11;
constexpr int kTickPx = 4;
// Labels never come closer than this; a label "hh:mm:ss.zzz" is about 75 px wide.
constexpr int kLabelSpacingPx = 96;

const QColor kBackground{255, 255, 255};
const QColor kSeparator{228, 228, 228};
const QColor kText{40, 40, 40};
const QColor kLevel{0, 128, 0};
const QColor kThird{230, 120, 0};
const QColor kThirdBand{255, 214, 170};
const QColor kCounter{0, 70, 200};
const QColor kGap{130, 0, 160};
const QColor kDrop{220, 0, 0};

using timeline::Column;
using timeline::Level;
using timeline::Sample;

int bit(Level level) {
    return 1 << int(level);
}

// What the lanes read between replies: the reply shown at the end of each
// column (a column without replies shows the one before it, as long as a
// later reply exists; past the newest there is nothing to show).
struct Shown {
    std::vector<std::optional<Sample>> atEnd;
    std::optional<Sample> beforeFirst;
};

Shown shownSamples(const timeline::ReplyStore& store, const std::vector<Column>& columns, qint64 fromMs) {
    Shown shown;
    shown.atEnd.resize(columns.size());
    const qsizetype newest = store.size() - 1;
    // The reply shown at the left edge is the one before the first reply in
    // view; only when none is in view need the store be searched.
    const auto firstShown = std::find_if(columns.begin(), columns.end(),
                                         [](const Column& c) { return c.summary.count > 0 && c.first >= 0; });
    qsizetype index = firstShown != columns.end() ? firstShown->first - 1 : store.indexAt(fromMs - 1);
    std::optional<Sample> current;
    if (index >= 0 && index < newest)
        current = store.at(index);
    shown.beforeFirst = current;
    for (std::size_t x = 0; x < columns.size(); ++x) {
        const Column& column = columns[x];
        if (column.summary.count > 0 && column.last >= 0) {
            if (column.last != index || !current) {
                index = column.last;
                current = store.at(index);
            }
        } else if (index >= newest) {
            current.reset();
        }
        shown.atEnd[x] = current;
    }
    return shown;
}

// Horizontal runs merged as they come, so a steady signal costs one line.
class Runs {
public:
    explicit Runs(std::vector<QLine>& out)
        : out_(out) {}
    void add(int x, int y) {
        if (y == y_ && x == end_ + 1) {
            end_ = x;
            return;
        }
        flush();
        start_ = end_ = x;
        y_ = y;
    }
    void flush() {
        if (y_ != kNone)
            out_.emplace_back(start_, y_, end_, y_);
        y_ = kNone;
    }

private:
    static constexpr int kNone = -1;
    std::vector<QLine>& out_;
    int start_ = 0;
    int end_ = 0;
    int y_ = kNone;
};

struct Strokes {
    std::vector<QLine> level;
    // Transition bars; side by side, as where an input toggles faster than
    // a column lasts, they make one block.
    std::vector<QRect> bars;
    std::vector<QRect> third;
    std::vector<QLine> thirdMid;
    std::vector<QLine> counter;
    std::vector<QLine> gap;
    std::vector<QLine> drops;
};

void laneStrokes(const Row& row, const std::vector<Column>& columns, const Shown& shown, int left,
                 Strokes& strokes) {
    constexpr int kNone = -1;
    const int k = row.index;
    const int midY = (row.highY + row.lowY) / 2;
    const auto levelOf = [k](const std::optional<Sample>& s) {
        return s && s->lane(k) != Level::Refused ? int(s->lane(k)) : kNone;
    };
    Runs runs(strokes.level);
    int before = levelOf(shown.beforeFirst);
    int thirdStart = kNone;
    const auto endThird = [&](int x) {
        if (thirdStart == kNone)
            return;
        strokes.third.emplace_back(QPoint(left + thirdStart, row.highY + 1),
                                   QPoint(left + x - 1, row.lowY - 1));
        strokes.thirdMid.emplace_back(left + thirdStart, midY, left + x - 1, midY);
        thirdStart = kNone;
    };
    int lastBar = kNone;
    const auto bar = [&](int x) {
        if (lastBar == x - 1 && lastBar != kNone)
            strokes.bars.back().setRight(left + x);
        else
            strokes.bars.emplace_back(QPoint(left + x, row.highY), QPoint(left + x, row.lowY));
        lastBar = x;
    };
    const int width = int(columns.size());
    for (int x = 0; x < width; ++x) {
        const Column& column = columns[std::size_t(x)];
        const int after = levelOf(shown.atEnd[std::size_t(x)]);
        int seen = 0;
        if (column.summary.count > 0)
            seen = column.summary.levelsSeen.at(std::size_t(k));
        else if (after != kNone)
            seen = 1 << after;
        seen &= ~bit(Level::Refused);
        if (seen == 0 || (seen & (seen - 1)) != 0) {
            // Nothing shown but refused values leaves a gap; more than one
            // level in a column is a transition bar.
            runs.flush();
            endThird(x);
            if (seen != 0)
                bar(x);
            before = after;
            continue;
        }
        const int level = seen == bit(Level::High)  ? int(Level::High)
                          : seen == bit(Level::Low) ? int(Level::Low)
                                                    : int(Level::Third);
        if (before != kNone && before != level)
            bar(x);
        if (level == int(Level::Third)) {
            runs.flush();
            if (thirdStart == kNone)
                thirdStart = x;
        } else {
            endThird(x);
            runs.add(left + x, level == int(Level::High) ? row.highY : row.lowY);
        }
        before = after != kNone ? after : level;
    }
    runs.flush();
    endThird(width);
}

// Counters and time gaps as steps: each column from its smallest to its
// largest value, joined to the value the column before ended on.
void stepStrokes(const Row& row, const std::vector<Column>& columns, const Shown& shown, int left,
                 std::vector<QLine>& out, std::vector<QLine>& drops) {
    const bool counter = row.kind == RowKind::Counter;
    const auto k = std::size_t(row.index);
    const auto valueOf = [&](const Sample& s) { return counter ? s.counters.at(k) : s.gaps.at(k); };
    std::uint32_t lo = UINT32_MAX;
    std::uint32_t hi = 0;
    const auto widen = [&](std::uint32_t a, std::uint32_t b) {
        lo = std::min(lo, a);
        hi = std::max(hi, b);
    };
    if (shown.beforeFirst)
        widen(valueOf(*shown.beforeFirst), valueOf(*shown.beforeFirst));
    for (const Column& column : columns) {
        if (column.summary.count > 0)
            widen(counter ? column.summary.counterMin.at(k) : column.summary.gapMin.at(k),
                  counter ? column.summary.counterMax.at(k) : column.summary.gapMax.at(k));
    }
    if (lo > hi)
        return;
    const double scale = hi > lo ? double(row.lowY - row.highY) / double(hi - lo) : 0;
    const int midY = (row.highY + row.lowY) / 2;
    const auto yOf = [&](std::uint32_t v) {
        return hi > lo ? row.lowY - int(std::lround((v - lo) * scale)) : midY;
    };

    Runs runs(out);
    std::optional<std::uint32_t> before =
        shown.beforeFirst ? std::optional(valueOf(*shown.beforeFirst)) : std::nullopt;
    const std::uint32_t dropBit = 1U << k;
    for (int x = 0; x < int(columns.size()); ++x) {
        const Column& column = columns[std::size_t(x)];
        const std::optional<Sample>& atEnd = shown.atEnd[std::size_t(x)];
        if (column.summary.count > 0) {
            std::uint32_t a = counter ? column.summary.counterMin.at(k) : column.summary.gapMin.at(k);
            std::uint32_t b = counter ? column.summary.counterMax.at(k) : column.summary.gapMax.at(k);
            if (before) {
                a = std::min(a, *before);
                b = std::max(b, *before);
            }
            if (a == b) {
                runs.add(left + x, yOf(a));
            } else {
                runs.flush();
                out.emplace_back(left + x, yOf(b), left + x, yOf(a));
            }
            // A counter going down was reset or wrapped: marked across its
            // row. A time gap going down is only a shorter period than the
            // one before, as common as a longer one, and left unmarked.
            if (counter && (column.summary.counterDrops & dropBit) != 0)
                drops.emplace_back(left + x, row.band.top(), left + x, row.band.bottom());
        } else if (atEnd) {
            runs.add(left + x, yOf(valueOf(*atEnd)));
        } else {
            runs.flush();
        }
        before = atEnd ? std::optional(valueOf(*atEnd)) : std::nullopt;
    }
    runs.flush();
}

// Every stroke is one pixel wide, level or upright, in an opaque colour.
// Into an image (the exported picture, the view's frame) they are written
// straight into its pixels: the raster engine spends on each pixel of an
// upright line what is spent here on the whole line, and a day of replies
// is tens of thousands of them. Other devices (SVG) get them through the
// painter.
class StrokeWriter {
public:
    // unclipped: the painter had no clip of its caller's.
    StrokeWriter(QPainter& painter, const QRect& clip, bool unclipped)
        : painter_(painter)
        , clip_(clip) {
        const QTransform& transform = painter.deviceTransform();
        auto* image = painter.device()->devType() == QInternal::Image ? static_cast<QImage*>(painter.device())
                                                                      : nullptr;
        const bool direct =
            image != nullptr && image->isDetached() &&
            (image->format() == QImage::Format_RGB32 || image->format() == QImage::Format_ARGB32 ||
             image->format() == QImage::Format_ARGB32_Premultiplied) &&
            transform.type() <= QTransform::TxTranslate && transform.dx() == std::trunc(transform.dx()) &&
            transform.dy() == std::trunc(transform.dy()) && painter.opacity() == 1.0 &&
            painter.compositionMode() == QPainter::CompositionMode_SourceOver && unclipped;
        if (direct) {
            image_ = image;
            offset_ = QPoint(int(transform.dx()), int(transform.dy()));
            clip_ = clip.translated(offset_).intersected(image->rect());
        } else {
            painter_.setClipRect(clip);
        }
    }

    void lines(const std::vector<QLine>& lines, const QColor& colour) {
        if (image_ == nullptr) {
            painter_.setPen(QPen(colour, 0));
            painter_.drawLines(lines.data(), int(lines.size()));
            return;
        }
        for (const QLine& line : lines)
            write(QRect(QPoint(std::min(line.x1(), line.x2()), std::min(line.y1(), line.y2())),
                        QPoint(std::max(line.x1(), line.x2()), std::max(line.y1(), line.y2()))),
                  colour.rgb());
    }

    void fill(const std::vector<QRect>& rects, const QColor& colour) {
        for (const QRect& rect : rects) {
            if (image_ == nullptr)
                painter_.fillRect(rect, colour);
            else
                write(rect, colour.rgb());
        }
    }

private:
    void write(const QRect& rect, QRgb pixel) {
        const QRect area = rect.translated(offset_).intersected(clip_);
        if (area.isEmpty())
            return;
        const qsizetype stride = image_->bytesPerLine() / qsizetype(sizeof(QRgb));
        auto* row = reinterpret_cast<QRgb*>(image_->bits()) + area.top() * stride + area.left();
        for (int y = area.top(); y <= area.bottom(); ++y, row += stride)
            std::fill(row, row + area.width(), pixel);
    }

    QPainter& painter_;
    QImage* image_ = nullptr;
    QPoint offset_;
    QRect clip_;
};

QDateTime dateTimeOf(qint64 ms, bool localTime) {
    return localTime ? QDateTime::fromMSecsSinceEpoch(ms)
                     : QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
}

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

qint64 tickStep(double msPerPx) {
    static constexpr std::array<qint64, 27> kSteps{1,
                                                   2,
                                                   5,
                                                   10,
                                                   20,
                                                   50,
                                                   100,
                                                   200,
                                                   500,
                                                   kSecond,
                                                   2 * kSecond,
                                                   5 * kSecond,
                                                   10 * kSecond,
                                                   15 * kSecond,
                                                   30 * kSecond,
                                                   kMinute,
                                                   2 * kMinute,
                                                   5 * kMinute,
                                                   10 * kMinute,
                                                   15 * kMinute,
                                                   30 * kMinute,
                                                   kHour,
                                                   2 * kHour,
                                                   3 * kHour,
                                                   6 * kHour,
                                                   12 * kHour,
                                                   kDay};
    const double wanted = msPerPx * kLabelSpacingPx;
    for (const qint64 step : kSteps) {
        if (double(step) >= wanted)
            return step;
    }
    return kDay * qint64(std::ceil(wanted / double(kDay)));
}

QString tickLabel(const QDateTime& at, qint64 step) {
    if (step < kSecond)
        return at.toString(u"hh:mm:ss.zzz");
    if (step < kMinute)
        return at.toString(u"hh:mm:ss");
    if (step < kDay)
        return at.time() == QTime(0, 0) ? at.toString(u"MM-dd") : at.toString(u"hh:mm");
    return at.toString(u"yyyy-MM-dd");
}

void paintAxis(QPainter& painter, const Layout& layout, const ViewState& state) {
    const QRect& axis = layout.axis;
    painter.setPen(kText);
    painter.drawLine(axis.left(), axis.top(), axis.right(), axis.top());
    painter.drawText(QRect(layout.names.left(), axis.top(), layout.names.width() - 4, axis.height()),
                     Qt::AlignRight | Qt::AlignVCenter,
                     state.localTime ? QStringLiteral("local") : QStringLiteral("UTC"));
    const qint64 span = state.toMs - state.fromMs;
    if (span <= 0)
        return;
    const double msPerPx = double(span) / axis.width();
    const qint64 step = tickStep(msPerPx);
    // Ticks fall on round moments of the clock the axis reads in.
    const qint64 offset = qint64(dateTimeOf(state.fromMs, state.localTime).offsetFromUtc()) * kSecond;
    qint64 tick = (state.fromMs + offset) / step * step - offset;
    if (tick < state.fromMs)
        tick += step;
    const QFontMetrics metrics(painter.font());
    int lastLabelRight = axis.left() - 1;
    for (; tick < state.toMs; tick += step) {
        const int x = xAtMs(layout.plot, state, tick);
        painter.drawLine(x, axis.top(), x, axis.top() + kTickPx);
        const QString label = tickLabel(dateTimeOf(tick, state.localTime), step);
        const int width = metrics.horizontalAdvance(label);
        const int labelLeft = std::max(x - width / 2, axis.left());
        if (labelLeft <= lastLabelRight || labelLeft + width > axis.right() + layout.names.width())
            continue;
        painter.drawText(QRect(labelLeft, axis.top() + kTickPx, width + 1, axis.height() - kTickPx),
                         Qt::AlignLeft | Qt::AlignVCenter, label);
        lastLabelRight = labelLeft + width + metrics.horizontalAdvance(QLatin1Char(' '));
    }
}

QString cannotWrite(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot write %1: %2").arg(path, reason);
}

} // namespace

Layout layoutOf(const QRect& rect, const ViewState& state) {
    Layout layout;
    for (int lane = 0; lane < timeline::kAllLaneCount; ++lane) {
        if ((state.hiddenLanes >> lane & 1U) != 0)
            continue;
        const RowKind kind = lane < timeline::kFirstCounterLane ? RowKind::Lane
                             : lane < timeline::kFirstGapLane   ? RowKind::Counter
                                                                : RowKind::Gap;
        const int index = kind == RowKind::Lane      ? lane
                          : kind == RowKind::Counter ? lane - timeline::kFirstCounterLane
                                                     : lane - timeline::kFirstGapLane;
        layout.rows.push_back({kind, index, timeline::anyLaneName(lane), {}, 0, 0});
    }
    const int count = int(layout.rows.size());
    const int available = std::max(1, rect.height() - kAxisHeight);
    const int mostRow =
        std::max(kMostRowPx, (available + timeline::kAllLaneCount - 1) / timeline::kAllLaneCount);
    const int plotHeight = count == 0 ? available : std::min(count * mostRow, available);
    layout.names = QRect(rect.left(), rect.top(), kNamesWidth, plotHeight);
    layout.plot =
        QRect(rect.left() + kNamesWidth, rect.top(), std::max(1, rect.width() - kNamesWidth), plotHeight);
    layout.axis = QRect(layout.plot.left(), layout.plot.bottom() + 1, layout.plot.width(), kAxisHeight);
    for (int i = 0; i < count; ++i) {
        Row& row = layout.rows[std::size_t(i)];
        const int top = layout.plot.top() + i * plotHeight / count;
        const int bottom = layout.plot.top() + (i + 1) * plotHeight / count - 1;
        row.band = QRect(QPoint(layout.plot.left(), top), QPoint(layout.plot.right(), std::max(top, bottom)));
        const int pad = std::max(1, row.band.height() / 5);
        row.highY = std::min(top + pad, row.band.bottom());
        row.lowY = std::max(row.highY, row.band.bottom() - pad);
    }
    return layout;
}

qint64 msAtX(const QRect& plot, const ViewState& state, int x) {
    const double perColumn = double(state.toMs - state.fromMs) / plot.width();
    return state.fromMs + qint64(perColumn * (x - plot.left()));
}

int xAtMs(const QRect& plot, const ViewState& state, qint64 ms) {
    const qint64 span = state.toMs - state.fromMs;
    if (span <= 0)
        return plot.left();
    int x = plot.left() + int(std::floor(double(ms - state.fromMs) * plot.width() / double(span)));
    // The division above may land one column off at a column's edge.
    if (msAtX(plot, state, x) > ms)
        --x;
    else if (msAtX(plot, state, x + 1) <= ms)
        ++x;
    return x;
}

void paintSignals(QPainter& painter, const QRect& rect, const timeline::ReplyStore& store,
                  const ViewState& state) {
    std::vector<Column> columns;
    if (state.toMs > state.fromMs && !store.isEmpty())
        columns = timeline::columns(store, state.fromMs, state.toMs, layoutOf(rect, state).plot.width());
    paintColumns(painter, rect, store, state, columns);
}

void paintColumns(QPainter& painter, const QRect& rect, const timeline::ReplyStore& store,
                  const ViewState& state, const std::vector<Column>& columns) {
    const bool unclipped = !painter.hasClipping();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setClipRect(rect);
    painter.fillRect(rect, kBackground);
    QFont font = painter.font();
    font.setPixelSize(kFontPx);
    painter.setFont(font);
    const Layout layout = layoutOf(rect, state);

    painter.setPen(kSeparator);
    for (std::size_t i = 1; i < layout.rows.size(); ++i) {
        const int y = layout.rows[i].band.top();
        painter.drawLine(rect.left(), y, layout.plot.right(), y);
    }
    painter.setPen(kText);
    for (const Row& row : layout.rows) {
        painter.drawText(
            QRect(layout.names.left() + 2, row.band.top(), layout.names.width() - 6, row.band.height()),
            Qt::AlignRight | Qt::AlignVCenter, row.name);
    }
    paintAxis(painter, layout, state);

    if (state.toMs > state.fromMs && !store.isEmpty() && int(columns.size()) == layout.plot.width()) {
        const Shown shown = shownSamples(store, columns, state.fromMs);
        Strokes strokes;
        const int left = layout.plot.left();
        for (const Row& row : layout.rows) {
            if (row.kind == RowKind::Lane)
                laneStrokes(row, columns, shown, left, strokes);
            else
                stepStrokes(row, columns, shown, left,
                            row.kind == RowKind::Counter ? strokes.counter : strokes.gap, strokes.drops);
        }
        StrokeWriter writer(painter, layout.plot, unclipped);
        writer.fill(strokes.third, kThirdBand);
        writer.lines(strokes.thirdMid, kThird);
        writer.lines(strokes.counter, kCounter);
        writer.lines(strokes.gap, kGap);
        writer.lines(strokes.drops, kDrop);
        writer.lines(strokes.level, kLevel);
        writer.fill(strokes.bars, kLevel);
    }
    painter.restore();
}

bool exportRange(const QString& path, const timeline::ReplyStore& store, const ViewState& state, QSize size,
                 QString& why) {
    const auto fail = [&](const QString& reason) {
        why = reason;
        return false;
    };
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool picture = suffix == u"png" || suffix == u"svg";
    if (!picture && suffix != u"csv" && suffix != u"vcd")
        return fail(
            QStringLiteral("Cannot export to %1: the name must end in .png, .svg, .csv or .vcd").arg(path));
    if (picture && size.isEmpty())
        return fail(QStringLiteral("Cannot export to %1: the picture size %2x%3 is empty")
                        .arg(path)
                        .arg(size.width())
                        .arg(size.height()));
    // Few lanes leave blank room under the axis: the picture ends there.
    if (picture)
        size.setHeight(std::min(size.height(), layoutOf(QRect(QPoint(0, 0), size), state).axis.bottom() + 1));
    if (suffix == u"png") {
        QImage image(size, QImage::Format_RGB32);
        QPainter painter(&image);
        paintSignals(painter, image.rect(), store, state);
        painter.end();
        QImageWriter writer(path, "png");
        if (!writer.write(image))
            return fail(cannotWrite(path, writer.errorString()));
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(cannotWrite(path, file.errorString()));
    bool written = false;
    if (suffix == u"svg") {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QSvgGenerator generator;
        generator.setOutputDevice(&buffer);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        generator.setTitle(QStringLiteral("Signals over Time"));
        QPainter painter(&generator);
        paintSignals(painter, QRect(QPoint(0, 0), size), store, state);
        painter.end();
        written = file.write(buffer.data()) == buffer.size();
    } else if (suffix == u"csv") {
        written = timeline::writeCsv(file, store, state.fromMs, state.toMs,
                                     timeline::kEveryLane & ~state.hiddenLanes);
    } else {
        written = timeline::writeVcd(file, store, state.fromMs, state.toMs,
                                     timeline::kEveryLane & ~state.hiddenLanes);
    }
    if (!written || !file.commit())
        return fail(cannotWrite(path, file.errorString()));
    return true;
}

int laneNumber(const Row& row) {
    switch (row.kind) {
    case RowKind::Lane:
        return row.index;
    case RowKind::Counter:
        return timeline::kLaneCount + row.index;
    case RowKind::Gap:
        break;
    }
    return timeline::kLaneCount + timeline::kChannelCount + row.index;
}

void paintMarks(QPainter& painter, const Layout& layout, const ViewState& state,
                const std::vector<timeline::Finding>& findings, std::optional<int> selected) {
    // Apart from the drop's red and the gap's violet; at least a few pixels
    // wide, so that one pair of replies in a whole day still shows.
    static const QColor kMissed{240, 0, 150};
    static const QColor kStuck{0, 160, 160};
    static const QColor kSelected{0, 90, 255, 60};
    constexpr int kMarkPx = 4;
    for (const Row& row : layout.rows) {
        if (selected && laneNumber(row) == *selected)
            painter.fillRect(
                QRect(layout.names.left(), row.band.top(), layout.names.width(), row.band.height()),
                kSelected);
        if (row.kind != RowKind::Counter || state.toMs <= state.fromMs)
            continue;
        for (const timeline::Finding& finding : findings) {
            if (finding.channel != row.index || finding.toMs < state.fromMs || finding.fromMs >= state.toMs)
                continue;
            const int left = xAtMs(layout.plot, state, std::max(finding.fromMs, state.fromMs));
            const int right = xAtMs(layout.plot, state, std::min(finding.toMs, state.toMs - 1));
            painter.fillRect(QRect(left, row.band.top() + 1, std::max(right - left + 1, kMarkPx), kMarkPx),
                             finding.kind == timeline::Finding::Kind::MissedPulses ? kMissed : kStuck);
        }
    }
}

} // namespace lumora::waveform
