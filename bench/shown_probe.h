// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Start-up timing (tools/bench.sh): a launcher puts its steady-clock reading
// in nanoseconds into LUMORA_EXIT_WHEN_SHOWN just before it starts a timed
// program (the client's benchmark build, or the bare window); that program
// then prints the milliseconds from that moment to the first paint of its
// window and ends. Unset, nothing changes.

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <memory>

namespace lumora::app {

inline constexpr char kExitWhenShownVariable[] = "LUMORA_EXIT_WHEN_SHOWN";

class ShownProbe final : public QObject {
public:
    // Watches the window when the variable is set; nullptr otherwise.
    static std::unique_ptr<ShownProbe> attachIfAsked(QWidget& window) {
        if (!qEnvironmentVariableIsSet(kExitWhenShownVariable))
            return nullptr;
        auto probe = std::make_unique<ShownProbe>(qgetenv(kExitWhenShownVariable).toLongLong());
        window.installEventFilter(probe.get());
        return probe;
    }

    explicit ShownProbe(qint64 launchedNs)
        : launchedNs_(launchedNs) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Paint || done_)
            return false;
        done_ = true;
        constexpr double kNsPerMs = 1e6;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const qint64 nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
        std::printf("shown after %.3f ms\n", double(nowNs - launchedNs_) / kNsPerMs);
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        return false;
    }

private:
    qint64 launchedNs_ = 0;
    bool done_ = false;
};

} // namespace lumora::app
