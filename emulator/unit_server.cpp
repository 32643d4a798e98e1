// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/unit_server.h"

#include "emulator/frame_reader.h"
#include "emulator/text.h"

#include <QDateTime>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include <deque>
#include <utility>

namespace lumora::emulator {

namespace {

constexpr int kNeverReadBufferBytes = 4096;
constexpr qint64 kFloodChunkBytes = qint64{64} * 1024;

QString describe(const Behaviour& behaviour) {
    QStringList parts{QStringLiteral("input pattern seed %1").arg(behaviour.seed)};
    if (behaviour.noReply) {
        parts << QStringLiteral("status requests unanswered");
    }
    if (behaviour.replyBytes != kStatusReplySize) {
        parts << QStringLiteral("replies of %1 bytes").arg(behaviour.replyBytes);
    }
    if (behaviour.splitAt > 0) {
        parts << QStringLiteral("replies split after %1 bytes").arg(behaviour.splitAt);
    }
    if (behaviour.closeAfterFrames > 0) {
        parts << QStringLiteral("clients closed after %1 frames").arg(behaviour.closeAfterFrames);
    }
    if (behaviour.chaosSeed) {
        parts << QStringLiteral("chaos seed %1").arg(*behaviour.chaosSeed);
    }
    if (behaviour.badInput) {
        parts << QStringLiteral("input 00 refused in every reply");
    }
    if (behaviour.flood) {
        parts << QStringLiteral("flooding after the first reply");
    }
    if (behaviour.neverRead) {
        parts << QStringLiteral("never reading");
    }
    const Wiring& wiring = behaviour.wiring;
    for (int o = 0; o < kOutputCount; ++o) {
        QStringList inputs;
        for (int k = 0; k < kInputCount; ++k) {
            if ((wiring.drives[std::size_t(o)] >> k & 1U) != 0) {
                inputs << QStringLiteral("%1").arg(k, 2, 10, QLatin1Char('0'));
            }
        }
        if (!inputs.isEmpty()) {
            parts << QStringLiteral("output %1 wired to %2 %3 after %4 ms%5")
                         .arg(o + 1, 2, 10, QLatin1Char('0'))
                         .arg(inputs.size() == 1 ? QStringLiteral("input") : QStringLiteral("inputs"))
                         .arg(inputs.join(QLatin1Char('+')))
                         .arg(wiring.delayMs)
                         .arg(wiring.bounce > 0 ? QStringLiteral(" with %1 bounces").arg(wiring.bounce)
                                                : QString());
        }
    }
    for (int k = 0; k < kInputCount; ++k) {
        if (wiring.pulsed(k)) {
            parts << QStringLiteral("input %1 pulsed at %2 Hz")
                         .arg(k, 2, 10, QLatin1Char('0'))
                         .arg(double(wiring.pulseMilliHz[std::size_t(k)]) / double(kMilliHzPerHz));
        }
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace

// One connected client: its own frame buffer and its own queue of outgoing
// writes, so a reply held back by a split cannot be overtaken by the next one.
class ClientSession : public QObject {
    Q_OBJECT
public:
    ClientSession(UnitServer& server, QTcpSocket* socket);

private:
    struct Outgoing {
        enum class Kind { Write, Pause, Close, Flood };
        Kind kind = Kind::Write;
        QByteArray bytes;
        int pauseMs = 0;
    };

    void readAvailable();
    void handle(const Frame& frame);
    void answerStatusRequest();
    void queueClose();
    void pump();
    void topUpFlood();
    void line(const QString& text) const { server_.report(peer_ + QLatin1Char(' ') + text); }
    void frameLine(const QString& text) const {
        if (!server_.behaviour_.quiet) {
            line(text);
        }
    }

    UnitServer& server_;
    QTcpSocket* socket_ = nullptr;
    QString peer_;
    FrameReader reader_;
    int frames_ = 0;
    std::deque<Outgoing> queue_;
    bool paused_ = false;
    bool closing_ = false;
    bool flooding_ = false;
};

ClientSession::ClientSession(UnitServer& server, QTcpSocket* socket)
    : QObject(&server)
    , server_(server)
    , socket_(socket)
    , peer_(endpointText(socket->peerAddress(), socket->peerPort())) {
    socket_->setParent(this);
    // A split reply must leave as two segments, not wait for Nagle to merge them.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (server.behaviour_.neverRead) {
        // Like a unit whose firmware has stopped: the few bytes its small
        // buffer takes stay there, and TCP soon tells the client to wait.
        socket_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kNeverReadBufferBytes);
        socket_->setReadBufferSize(1);
    } else {
        connect(socket_, &QTcpSocket::readyRead, this, &ClientSession::readAvailable);
    }
    connect(socket_, &QTcpSocket::bytesWritten, this, &ClientSession::topUpFlood);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError) {
            line(QStringLiteral("socket error: %1").arg(socket_->errorString()));
        }
    });
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        line(QStringLiteral("disconnected"));
        closing_ = true;
        queue_.clear();
        deleteLater();
    });
    line(QStringLiteral("connected"));
}

void ClientSession::readAvailable() {
    const QByteArray bytes = socket_->readAll();
    if (closing_) {
        return;
    }
    reader_.append(bytes);
    while (!closing_) {
        const std::optional<Frame> frame = reader_.next();
        if (!frame) {
            break;
        }
        handle(*frame);
    }
    pump();
}

void ClientSession::handle(const Frame& frame) {
    if (frame.kind == FrameKind::UnknownByte) {
        line(QStringLiteral("RECV %1(unknown byte, skipped)").arg(hexBytes(frame.bytes)));
        return;
    }
    ++frames_;
    frameLine(QStringLiteral("RECV %1").arg(hexBytes(frame.bytes)));
    switch (frame.kind) {
    case FrameKind::StatusRequest:
        answerStatusRequest();
        break;
    case FrameKind::OutputSetting: {
        UnitSimulation::Outputs outputs{};
        for (int k = 0; k < kOutputCount; ++k) {
            outputs[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(frame.bytes.at(1 + k));
        }
        // The frame came during the current millisecond: its wire delay
        // counts from the end of it, so that no wire is faster than asked.
        const bool delayed = server_.behaviour_.wiring.delayMs > 0;
        server_.unit_.setOutputs(outputs, server_.clock_.elapsedMs() + (delayed ? 1 : 0));
        break;
    }
    case FrameKind::CounterReset:
        server_.unit_.resetCounters(server_.clock_.elapsedMs());
        break;
    case FrameKind::UnknownByte:
        break;
    }
    const int limit = server_.behaviour_.closeAfterFrames;
    if (!closing_ && limit > 0 && frames_ >= limit) {
        line(QStringLiteral("closing after %1 frames").arg(frames_));
        queueClose();
    }
}

void ClientSession::answerStatusRequest() {
    const Behaviour& behaviour = server_.behaviour_;
    const ChaosAction chaos = server_.chaos_ ? server_.chaos_->next() : ChaosAction{};
    switch (chaos.kind) {
    case ChaosKind::Close:
        line(QStringLiteral("chaos: closing instead of replying"));
        queueClose();
        return;
    case ChaosKind::NoReply:
        line(QStringLiteral("chaos: leaving the status request unanswered"));
        return;
    case ChaosKind::WrongLength:
        line(QStringLiteral("chaos: replying with %1 bytes instead of %2")
                 .arg(chaos.amount)
                 .arg(kStatusReplySize));
        break;
    case ChaosKind::Split:
        line(QStringLiteral("chaos: splitting the reply after %1 bytes").arg(chaos.amount));
        break;
    case ChaosKind::None:
        break;
    }
    if (behaviour.noReply && chaos.kind == ChaosKind::None) {
        frameLine(QStringLiteral("status request left unanswered"));
        return;
    }

    QByteArray reply = server_.unit_.statusReply(server_.clock_.elapsedMs());
    if (behaviour.badInput) {
        reply[0] = 0x05;
    }
    const qsizetype length = chaos.kind == ChaosKind::WrongLength ? chaos.amount : behaviour.replyBytes;
    if (length < reply.size()) {
        reply.truncate(length);
    } else {
        reply.append(QByteArray(length - reply.size(), '\0'));
    }

    const qsizetype splitAt = chaos.kind == ChaosKind::Split ? chaos.amount : behaviour.splitAt;
    if (splitAt > 0 && splitAt < reply.size()) {
        queue_.push_back({Outgoing::Kind::Write, reply.left(splitAt), 0});
        queue_.push_back({Outgoing::Kind::Pause, {}, behaviour.splitDelayMs});
        queue_.push_back({Outgoing::Kind::Write, reply.mid(splitAt), 0});
    } else {
        queue_.push_back({Outgoing::Kind::Write, reply, 0});
    }
    if (behaviour.flood && !flooding_) {
        // The pause lets the reply arrive as an arrival of its own.
        flooding_ = true;
        queue_.push_back({Outgoing::Kind::Pause, {}, behaviour.splitDelayMs});
        queue_.push_back({Outgoing::Kind::Flood, {}, 0});
    }
}

void ClientSession::queueClose() {
    closing_ = true;
    queue_.push_back({Outgoing::Kind::Close, {}, 0});
}

void ClientSession::pump() {
    while (!paused_ && !queue_.empty()) {
        if (socket_->state() != QAbstractSocket::ConnectedState) {
            queue_.clear();
            return;
        }
        const Outgoing item = std::move(queue_.front());
        queue_.pop_front();
        switch (item.kind) {
        case Outgoing::Kind::Write:
            frameLine(QStringLiteral("SEND %1").arg(hexBytes(item.bytes)));
            if (socket_->write(item.bytes) != item.bytes.size()) {
                line(QStringLiteral("write failed (%1), closing").arg(socket_->errorString()));
                closing_ = true;
                queue_.clear();
                socket_->abort();
                return;
            }
            break;
        case Outgoing::Kind::Pause:
            // flush() only reports whether the kernel took anything yet; what
            // it did not take stays buffered and still leaves before the pause ends.
            socket_->flush();
            paused_ = true;
            QTimer::singleShot(item.pauseMs, this, [this] {
                paused_ = false;
                pump();
            });
            return;
        case Outgoing::Kind::Flood:
            line(QStringLiteral("flooding"));
            topUpFlood();
            return;
        case Outgoing::Kind::Close:
            queue_.clear();
            // Lets the replies already written leave before the FIN.
            socket_->disconnectFromHost();
            return;
        }
    }
}

void ClientSession::topUpFlood() {
    // Only as fast as the client takes it: what waits here stays bounded.
    if (!flooding_ || !queue_.empty() || paused_ || closing_ ||
        socket_->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    if (socket_->bytesToWrite() < kFloodChunkBytes) {
        socket_->write(QByteArray(kFloodChunkBytes, '\0'));
    }
}

UnitServer::UnitServer(const Behaviour& behaviour, const ElapsedClock& clock, QObject* parent)
    : QObject(parent)
    , behaviour_(behaviour)
    , clock_(clock)
    , unit_(behaviour.seed, behaviour.wiring) {
    if (behaviour.chaosSeed) {
        chaos_.emplace(*behaviour.chaosSeed);
    }
    connect(&listener_, &QTcpServer::newConnection, this, &UnitServer::accept);
}

UnitServer::~UnitServer() {
    close();
}

bool UnitServer::listen(const QHostAddress& address, quint16 port) {
    if (!listener_.listen(address, port)) {
        return false;
    }
    report(QStringLiteral("listening on %1").arg(endpointText(address, listener_.serverPort())));
    report(describe(behaviour_));
    return true;
}

void UnitServer::report(const QString& text) {
    Q_EMIT lineReported(timeStamp(QDateTime::currentDateTimeUtc()) + QLatin1Char(' ') + text);
}

void UnitServer::close() {
    listener_.close();
    qDeleteAll(findChildren<ClientSession*>(Qt::FindDirectChildrenOnly));
}

void UnitServer::accept() {
    while (QTcpSocket* socket = listener_.nextPendingConnection()) {
        new ClientSession(*this, socket);
    }
}

} // namespace lumora::emulator
#include "unit_server.moc"
