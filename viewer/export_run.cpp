// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/export_run.h"

#include "timeline/day_files.h"
#include "timeline/reply_store.h"
#include "viewer/texts.h"
#include "waveform/picture.h"

#include <cstdio>

namespace lumora::viewer {

namespace {

void fail(const QString& line) {
    const QByteArray bytes =
        (QLatin1String(kProgramName) + QStringLiteral(": ") + line + u'\n').toLocal8Bit();
    static_cast<void>(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr));
    static_cast<void>(std::fflush(stderr));
}

} // namespace

bool readForScript(const QStringList& files, timeline::ReplyStore& store) {
    timeline::DayFiles days(store);
    days.load(files);
    for (const timeline::FileProblem& problem : days.problems())
        fail(problem.message());
    return days.problems().empty();
}

int runExport(const Options& options) {
    timeline::ReplyStore store;
    const bool whole = readForScript(options.files, store);

    const Span span = exportSpan(store, options.from, options.to);
    waveform::ViewState state;
    state.fromMs = span.fromMs;
    state.toMs = span.toMs;
    QString why;
    if (!waveform::exportRange(options.exportPath, store, state, options.size, why)) {
        fail(QStringLiteral("cannot write %1: %2").arg(options.exportPath, why));
        return kBlockSkipped;
    }
    return whole ? kDone : kBlockSkipped;
}

} // namespace lumora::viewer
