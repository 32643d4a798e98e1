// SPDX-License-Identifier: GPL-3.0-or-later
// What one repaint of the signals costs over a long timeline: the whole span
// of 2.5 million replies (a 1 ms poll for about 42 minutes) drawn at
// 1600 x 900 into an image, as the window draws it. The replies follow the
// emulator's kind of input pattern: each input toggles with its own period
// between 60 ms and 1.7 s, wandering a little, its counter counting rising
// edges and its time gap the last period; one counter reset midway.
// --png FILE also writes the picture, to look at; --replies N draws fewer.

#include "bench_support.h"
#include "waveform/picture.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

using lumora::timeline::Level;
using lumora::timeline::ReplyStore;
using lumora::timeline::Sample;

namespace {

constexpr qsizetype kReplies = 2'500'000;
const QSize kSize{1600, 900};
constexpr double kTargetMs = 16;
constexpr qint64 kStartMs = 1'796'637'600'000; // 2026-12-07 10:00 UTC
// Slow stores would make the default run take minutes; stop measuring once
// this much time went into the paints, with at least a few of them.
constexpr double kBudgetMs = 30'000;
constexpr int kAtLeast = 1;

std::uint64_t mix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

void fill(ReplyStore& store, qsizetype replies) {
    struct Input {
        qint64 periodMs = 0;
        qint64 nextToggleMs = 0;
        bool high = false;
        std::uint32_t edges = 0;
        qint64 lastRiseMs = -1;
        std::uint32_t gapMs = 0;
    };
    std::array<Input, lumora::timeline::kChannelCount> inputs{};
    std::uint64_t hash = 7150;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        hash = mix(hash);
        inputs[k].periodMs = 60 + qint64(hash % 1680);
        inputs[k].nextToggleMs = inputs[k].periodMs;
        inputs[k].high = (hash >> 32 & 1U) != 0;
    }
    Sample s;
    for (qsizetype i = 0; i < replies; ++i) {
        const qint64 t = i; // one reply a millisecond
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            Input& in = inputs[k];
            while (in.nextToggleMs <= t) {
                in.high = !in.high;
                if (in.high) {
                    ++in.edges;
                    if (in.lastRiseMs >= 0)
                        in.gapMs = std::uint32_t(in.nextToggleMs - in.lastRiseMs);
                    in.lastRiseMs = in.nextToggleMs;
                }
                hash = mix(hash);
                in.nextToggleMs += in.periodMs * (85 + qint64(hash % 31)) / 100;
            }
            s.setLane(int(k), in.high ? Level::High : Level::Low);
            s.counters[k] = in.edges;
            s.gaps[k] = in.gapMs;
        }
        if (i == replies / 2) {
            for (Input& in : inputs)
                in.edges = 0;
        }
        // The outputs are set now and then, by hand.
        const int setting = int(t / 600'000);
        for (int k = 0; k < lumora::protocol::kOutputCount; ++k)
            s.setLane(lumora::protocol::kInputCount + k,
                      ((setting >> k) & 1) != 0 ? Level::High : Level::Low);
        s.ms = kStartMs + t;
        store.append(s);
    }
}

// A repaint as paintSignals does it, timed in its two parts: the store's
// column summaries, and the drawing from them.
struct Paint {
    double columnsMs = 0;
    double drawMs = 0;
    [[nodiscard]] double totalMs() const { return columnsMs + drawMs; }
};

Paint paint(const ReplyStore& store, const lumora::waveform::ViewState& state, QImage& image) {
    QElapsedTimer clock;
    clock.start();
    const int width = lumora::waveform::layoutOf(image.rect(), state).plot.width();
    const std::vector<lumora::timeline::Column> columns =
        store.isEmpty() ? std::vector<lumora::timeline::Column>()
                        : lumora::timeline::columns(store, state.fromMs, state.toMs, width);
    Paint taken;
    taken.columnsMs = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    QPainter painter(&image);
    lumora::waveform::paintColumns(painter, image.rect(), store, state, columns);
    painter.end();
    taken.drawMs = double(clock.nsecsElapsed()) / 1e6;
    return taken;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption paintsOption(QStringLiteral("paints"),
                                          QStringLiteral("Paints to take the median of."),
                                          QStringLiteral("N"), QStringLiteral("15"));
    const QCommandLineOption pngOption(QStringLiteral("png"), QStringLiteral("Also write the picture."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption repliesOption(QStringLiteral("replies"),
                                           QStringLiteral("Replies behind the picture."), QStringLiteral("N"),
                                           QString::number(kReplies));
    parser.addOptions({paintsOption, pngOption, repliesOption});
    parser.addHelpOption();
    parser.process(app);
    const int paints = std::max(1, parser.value(paintsOption).toInt());

    QElapsedTimer clock;
    clock.start();
    ReplyStore store;
    fill(store, std::max<qsizetype>(2, parser.value(repliesOption).toLongLong()));
    std::fprintf(stderr, "%lld replies made in %.1f s, %.1f MB held\n", static_cast<long long>(store.size()),
                 double(clock.elapsed()) / 1000, double(store.memoryBytes()) / 1e6);

    const lumora::waveform::ViewState all{store.msAt(0), store.msAt(store.size() - 1) + 1, false, 0};
    QImage image(kSize, QImage::Format_RGB32);
    std::vector<double> totals;
    std::vector<double> summaries;
    std::vector<double> drawings;
    double spent = 0;
    while (int(totals.size()) < paints && (spent < kBudgetMs || int(totals.size()) < kAtLeast)) {
        const Paint taken = paint(store, all, image);
        totals.push_back(taken.totalMs());
        summaries.push_back(taken.columnsMs);
        drawings.push_back(taken.drawMs);
        spent += taken.totalMs();
    }
    if (parser.isSet(pngOption))
        image.save(parser.value(pngOption));
    // The floor: the same picture without a reply behind it (background,
    // names, axis).
    const ReplyStore empty;
    std::vector<double> floors;
    floors.reserve(std::size_t(paints));
    for (int i = 0; i < paints; ++i)
        floors.push_back(paint(empty, all, image).totalMs());
    const double measured = median(totals);
    const double floor = median(floors);
    std::fprintf(
        stderr,
        "%zu paints: median %.2f ms (min %.2f, max %.2f): the store's columns %.2f ms, drawing them %.2f ms; "
        "without replies %.2f ms\n",
        totals.size(), measured, *std::min_element(totals.begin(), totals.end()),
        *std::max_element(totals.begin(), totals.end()), median(summaries), median(drawings), floor);
    bench::printRow(
        {QStringLiteral("repaint of %1 replies at 1600x900 (median of %2)")
             .arg(store.size() == kReplies ? QStringLiteral("2.5 million") : QString::number(store.size()))
             .arg(totals.size()),
         QStringLiteral("%1 ms").arg(measured, 0, 'f', 2), QStringLiteral("%1 ms").arg(floor, 0, 'f', 2),
         QStringLiteral("%1").arg(measured / floor, 0, 'f', 1), QStringLiteral("<= %1 ms").arg(kTargetMs),
         bench::metText(measured <= kTargetMs)});
    return 0;
}
