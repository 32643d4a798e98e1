// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/exposition.h"
#include "exporter/http_front.h"
#include "exporter/unit_board.h"
#include "exporter/unit_poller.h"
#include "exporter/units.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace lumora::exporter {

// The exporter as a whole: a poller for each unit, their metrics kept ready
// and the HTTP side that serves them and the status page. It is the board the
// gateway's other fronts show.
class Exporter : public UnitBoard, private Pages {
    Q_OBJECT
public:
    Exporter(const QList<Unit>& units, PollTiming timing, ConnectionLimits limits = {}, QObject* parent = nullptr);
    ~Exporter() override;

    // Before start(), so that an address that cannot be had ends the program
    // before any unit is polled.
    // Before listen(); see HttpFront.
    void setWebConfig(const WebConfig& config) { front_.setWebConfig(config); }
    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port);
    [[nodiscard]] HttpFront::Error error() const { return front_.error(); }
    [[nodiscard]] QString errorString() const { return front_.errorString(); }
    [[nodiscard]] quint16 serverPort() const { return front_.serverPort(); }

    // The units' first requests are spread over one interval in a few
    // groups, so that a thousand units do not all answer in the same moment.
    void start();
    void stop();

    // What a new list of units changed: a unit stays when its name and
    // address are both the same, and keeps its connection and counters; the
    // others are dropped, and the new ones added.
    struct Change {
        QStringList added;
        QStringList dropped;
        qsizetype kept = 0;
    };
    // Polls `units` from now on, in their order; a started exporter starts
    // the added ones spread over an interval, as start() does.
    Change setUnits(const QList<Unit>& units);

    // A front the status page lists and whose counts /metrics carries; it
    // must outlive the exporter's serving.
    void addFront(const Front& front);

    [[nodiscard]] qsizetype unitCount() const override { return qsizetype(pollers_.size()); }
    [[nodiscard]] const Unit& unit(qsizetype index) const override;
    [[nodiscard]] const UnitState& state(qsizetype index) const override;
    [[nodiscard]] OutputWrite setOutputs(qsizetype index, std::uint8_t mask, std::uint8_t values) override;

private:
    // Starts `pollers` in groups spread over one interval.
    void startSpread(const std::vector<UnitPoller*>& pollers);
    // Ties each poller's changes to its place in the exposition.
    void attach();

    [[nodiscard]] QByteArray metricsText() const override;
    [[nodiscard]] QByteArray statusPage() const override;

    QList<Unit> units_;
    PollTiming timing_;
    std::vector<std::unique_ptr<UnitPoller>> pollers_;
    std::unique_ptr<Exposition> exposition_;
    HttpFront front_;
    std::vector<const Front*> fronts_;
    bool started_ = false;
    bool stopped_ = false;
};

// How many descriptors the exporter wants open at once: one per unit, the
// HTTP connections and some to spare.
[[nodiscard]] qint64 descriptorsWanted(qsizetype units, const ConnectionLimits& limits);

// Raises this process's soft limit on open descriptors towards `wanted`, as
// far as the hard limit allows; false, with `why`, when it stays below.
[[nodiscard]] bool raiseDescriptorLimit(qint64 wanted, QString& why);

} // namespace lumora::exporter
