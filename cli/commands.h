// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/stop_signals.h"
#include "cli/unit_exchange.h"
#include "exporter/exporter.h"
#include "modbus/modbus_front.h"
#include "mqtt/mqtt_front.h"
#include "plan/plan.h"
#include "settings/settings_store.h"

#include <QObject>

#include <memory>
#include <optional>

namespace lumora::cli {

class Poller;
class PlanCommand;

// One command, run on the event loop of a QCoreApplication that exists:
// start() begins it and finished() gives the exit status, always after
// start() has returned. The settings store is only read; poll watches the stop
// signals, which the caller has blocked.
class CommandRun : public QObject {
    Q_OBJECT
public:
    CommandRun(const Invocation& invocation, settings::SettingsStore& settings, Console& console,
               StopSignals& stopSignals, QObject* parent = nullptr);
    ~CommandRun() override;

    void start();

Q_SIGNALS:
    void finished(int exitStatus);

private:
    // The exit status of a command that has ended.
    void end(int exitStatus);
    int fail(int exitStatus, const QString& line);
    // An empty frame: the status request, and its reply judged.
    void exchange(const QByteArray& frame);
    void judgeStatus(const ExchangeOutcome& outcome);
    void poll();
    void serve();
    void runPlan();
    // SIGHUP: the units file read again through the same rules; a bad one
    // leaves the units as they were.
    void reloadUnits();

    const Invocation& invocation_;
    settings::SettingsStore& settings_;
    Console& console_;
    StopSignals& stopSignals_;
    const QString name_;
    Endpoint unit_;
    std::unique_ptr<UnitExchange> exchange_;
    std::unique_ptr<Poller> poller_;
    std::optional<plan::Plan> plan_;
    std::unique_ptr<PlanCommand> planCommand_;
    const exporter::ConnectionLimits limits_;
    std::unique_ptr<exporter::Exporter> exporter_;
    // The fronts, declared after the exporter so destroyed before it: it is their board.
    std::unique_ptr<mqtt::MqttFront> mqtt_;
    std::unique_ptr<modbus::ModbusFront> modbus_;
};

} // namespace lumora::cli
