// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/exporter.h"

#include "exporter/status_page.h"

#include <QHash>
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
    : UnitBoard(parent)
    , units_(units)
    , timing_(timing)
    , exposition_(std::make_unique<Exposition>(units))
    , front_(*this, limits) {
    pollers_.reserve(std::size_t(units.size()));
    for (const Unit& unit : units)
        pollers_.push_back(std::make_unique<UnitPoller>(unit, timing));
    attach();
}

void Exporter::attach() {
    for (qsizetype i = 0; i < qsizetype(pollers_.size()); ++i) {
        UnitPoller* const p = pollers_[std::size_t(i)].get();
        disconnect(p, &UnitPoller::changed, this, nullptr);
        exposition_->update(i, p->state());
        connect(p, &UnitPoller::changed, this, [this, i, p] {
            exposition_->update(i, p->state());
            Q_EMIT unitChanged(i);
        });
    }
}

Exporter::~Exporter() = default;

bool Exporter::listen(const QHostAddress& address, quint16 port) {
    return front_.listen(address, port);
}

void Exporter::start() {
    started_ = true;
    std::vector<UnitPoller*> all;
    all.reserve(pollers_.size());
    for (const auto& poller : pollers_)
        all.push_back(poller.get());
    startSpread(all);
}

void Exporter::startSpread(const std::vector<UnitPoller*>& pollers) {
    const auto count = qint64(pollers.size());
    const qint64 groups = std::clamp((count + kUnitsPerGroup - 1) / kUnitsPerGroup, qint64{1}, kMostGroups);
    for (qint64 i = 0; i < count; ++i) {
        UnitPoller* const poller = pollers[std::size_t(i)];
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

Exporter::Change Exporter::setUnits(const QList<Unit>& units) {
    Change change;
    std::vector<std::unique_ptr<UnitPoller>> old = std::move(pollers_);
    pollers_.clear();
    pollers_.reserve(std::size_t(units.size()));
    QHash<QString, std::size_t> byName; // names are unique in a list
    for (std::size_t i = 0; i < old.size(); ++i)
        byName.insert(old[i]->unit().name, i);
    std::vector<UnitPoller*> added;
    for (const Unit& unit : units) {
        const auto same = byName.constFind(unit.name);
        if (same != byName.cend() && old[*same]->unit() == unit) {
            pollers_.push_back(std::move(old[*same]));
            ++change.kept;
            continue;
        }
        pollers_.push_back(std::make_unique<UnitPoller>(unit, timing_));
        added.push_back(pollers_.back().get());
        change.added.append(unit.name);
    }
    for (auto& poller : old) {
        if (!poller)
            continue;
        change.dropped.append(poller->unit().name);
        poller->stop();
    }
    old.clear();
    units_ = units;
    exposition_ = std::make_unique<Exposition>(units);
    attach();
    if (started_ && !stopped_)
        startSpread(added);
    Q_EMIT unitsReplaced();
    return change;
}

void Exporter::stop() {
    stopped_ = true;
    for (const auto& poller : pollers_)
        poller->stop();
}

void Exporter::addFront(const Front& front) {
    fronts_.push_back(&front);
}

const Unit& Exporter::unit(qsizetype index) const {
    return pollers_[std::size_t(index)]->unit();
}

const UnitState& Exporter::state(qsizetype index) const {
    return pollers_[std::size_t(index)]->state();
}

UnitBoard::OutputWrite Exporter::setOutputs(qsizetype index, std::uint8_t mask, std::uint8_t values) {
    return pollers_[std::size_t(index)]->setOutputs(mask, values);
}

QByteArray Exporter::metricsText() const {
    QByteArray text = exposition_->text();
    for (const Front* front : fronts_)
        text += front->metricsText();
    return text;
}

QByteArray Exporter::statusPage() const {
    std::vector<const UnitState*> states;
    states.reserve(pollers_.size());
    for (const auto& poller : pollers_)
        states.push_back(&poller->state());
    std::vector<FrontRow> fronts{{QStringLiteral("HTTP"), front_.address(), front_.clients()}};
    for (const Front* front : fronts_)
        fronts.push_back({front->frontName(), front->address(), front->clients()});
    return exporter::statusPage(units_, states, fronts);
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
