// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A settings file kept busy, as another program writing it slowly would: a write waits behind its lock.

#include <QLockFile>
#include <QSemaphore>
#include <QString>

#include <thread>

namespace testsupport {

// Held until release() or kLongestHoldMs, so that a caller wrongly blocked behind it comes back.
class SettingsFileHold {
public:
    static constexpr int kLongestHoldMs = 5000;
    explicit SettingsFileHold(const QString& path)
        : holder_([this, path] {
            QLockFile lock(path + QStringLiteral(".lock"));
            held_ = lock.tryLock(kLongestHoldMs);
            locked_.release();
            timedOut_ = !release_.tryAcquire(1, kLongestHoldMs);
        }) {
        locked_.acquire();
    }
    ~SettingsFileHold() { static_cast<void>(release()); }
    SettingsFileHold(const SettingsFileHold&) = delete;
    SettingsFileHold& operator=(const SettingsFileHold&) = delete;

    bool held() const { return held_; }
    // Lets the writer go; false when the hold had already run out by itself.
    [[nodiscard]] bool release() {
        if (holder_.joinable()) {
            release_.release();
            holder_.join();
        }
        return !timedOut_;
    }

private:
    QSemaphore locked_;
    QSemaphore release_;
    bool held_ = false;
    bool timedOut_ = false;
    std::thread holder_;
};

} // namespace testsupport
