// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <utility>

namespace testsupport {

// Hands out its bytes 1 to 7 at a time, so a reader's lines straddle reads, as they may from a pipe.
class Trickle : public QIODevice {
public:
    explicit Trickle(QByteArray bytes)
        : bytes_(std::move(bytes)) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 most) override {
        const qint64 n = std::min({most, qint64(bytes_.size() - at_), qint64(1 + at_ % 7)});
        std::memcpy(data, bytes_.constData() + at_, size_t(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char* /*data*/, qint64 /*size*/) override { return -1; }

private:
    QByteArray bytes_;
    qint64 at_ = 0;
};

} // namespace testsupport
