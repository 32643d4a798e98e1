// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/exporter.h"

#include "exporter/status_page.h"

#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumora::exporter {

namespace {

// Descriptors the program holds besides units and HTTP connections: the
// standard three, the listening socket, event loop and timer descriptors.
constexpr qint64 kSpareDescriptors = 64;

// The units start in groups of about this many, at most ten groups an
// equal part of an interval apart. Each wake-up of the event loop looks at
// every socket, so units each at its own moment cost several times the CPU
// of a few bursts; one burst of all of them holds a scrape up longest.
constexpr qint64 kUnitsPerGroup = 250;
constexpr qint64 kMostGroups = 10;

} // namespace

Exporter::Exporter(const QList<Unit>& units, PollTiming timing, ConnectionLimits limits, QObject* parent)
    : QObject(parent)
    , units_(units)
    , timing_(timing)
    , exposition_(units)
    , front_(*this, limits) {
    pollers_.reserve(std::size_t(units.size()));
    for (qsizetype i = 0; i < units.size(); ++i) {
        auto poller = std::make_unique<UnitPoller>(units.at(i), timing);
        UnitPoller* const p = poller.get();
        exposition_.update(i, p->state());
        connect(p, &UnitPoller::changed, this, [this, i, p] { exposition_.update(i, p->state()); });
        pollers_.push_back(std::move(poller));
    }
}

Exporter::~Exporter() = default;

bool Exporter::listen(const QHostAddress& address, quint16 port) {
    return front_.listen(address, port);
}

void Exporter::start() {
    const auto count = qint64(pollers_.size());
    const qint64 groups = std::clamp((count + kUnitsPerGroup - 1) / kUnitsPerGroup, qint64{1}, kMostGroups);
    for (qint64 i = 0; i < count; ++i) {
        UnitPoller* const poller = pollers_[std::size_t(i)].get();
        const qint64 group = i * groups / std::max(count, qint64{1});
        const int delayMs = int(qint64(timing_.intervalMs) * group / groups);
        if (delayMs == 0)
            poller->start();
        else
            QTimer::singleShot(delayMs, Qt::PreciseTimer, poller, [this, poller] {
                if (!stopped_)
                    poller->start();
            });
    }
}

void Exporter::stop() {
    stopped_ = true;
    for (const auto& poller : pollers_)
        poller->stop();
}

QByteArray Exporter::metricsText() const {
    return exposition_.text();
}

QByteArray Exporter::statusPage() const {
    std::vector<const UnitState*> states;
    states.reserve(pollers_.size());
    for (const auto& poller : pollers_)
        states.push_back(&poller->state());
    return exporter::statusPage(units_, states);
}

qint64 descriptorsWanted(qsizetype units, const ConnectionLimits& limits) {
    return qint64(units) + limits.maxConnections + kSpareDescriptors;
}

bool raiseDescriptorLimit(qint64 wanted, QString& why) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const auto want = rlim_t(wanted);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < want) {
        const rlim_t soft = limit.rlim_max == RLIM_INFINITY ? want : std::min(want, limit.rlim_max);
        limit.rlim_cur = soft;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || soft < want) {
            why = QStringLiteral("the limit on open files allows %1, and %2 are wanted")
                      .arg(qulonglong(std::min(soft, limit.rlim_max)))
                      .arg(wanted);
            return false;
        }
    }
    return true;
}

} // namespace lumora::exporter
