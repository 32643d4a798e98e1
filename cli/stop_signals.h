#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <memory>
#include <optional>

namespace lumora::cli {

// SIGINT and SIGTERM as a Qt signal. block() must run before any thread
// starts, so that every thread inherits the mask and the signals wait in the
// descriptor for the event loop instead of ending the program.
class StopSignals : public QObject {
    Q_OBJECT
public:
    [[nodiscard]] static std::optional<QString> block();
    // Starts watching; the reason when no descriptor could be had, and the
    // signals then end the program as they would anyway.
    [[nodiscard]] std::optional<QString> watch();
    ~StopSignals() override;

Q_SIGNALS:
    void stopRequested();

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace lumora::cli