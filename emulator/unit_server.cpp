#include "emulator/unit_server.h"

#include "emulator/frame_reader.h"
#include "emulator/text.h"

#include <QDateTime>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include <deque>
#include <utility>

namespace emulator {

namespace {

constexpr int kNeverReadBufferBytes = 4096;
constexpr qint64 kFloodChunkBytes = 64 * 1024;

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
    void line(const QString& text) const { m_server.report(m_peer + QLatin1Char(' ') + text); }
    void frameLine(const QString& text) const {
        if (!m_server.m_behaviour.quiet) {
            line(text);
        }
    }

    UnitServer& m_server;
    QTcpSocket* m_socket = nullptr;
    QString m_peer;
    FrameReader m_reader;
    int m_frames = 0;
    std::deque<Outgoing> m_queue;
    bool m_paused = false;
    bool m_closing = false;
    bool m_flooding = false;
};

ClientSession::ClientSession(UnitServer& server, QTcpSocket* socket)
    : QObject(&server)
    , m_server(server)
    , m_socket(socket)
    , m_peer(endpointText(socket->peerAddress(), socket->peerPort())) {
    m_socket->setParent(this);
    // A split reply must leave as two segments, not wait for Nagle to merge them.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (server.m_behaviour.neverRead) {
        // Like a unit whose firmware has stopped: the few bytes its small
        // buffer takes stay there, and TCP soon tells the client to wait.
        m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kNeverReadBufferBytes);
        m_socket->setReadBufferSize(1);
    } else {
        connect(m_socket, &QTcpSocket::readyRead, this, &ClientSession::readAvailable);
    }
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ClientSession::topUpFlood);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError) {
            line(QStringLiteral("socket error: %1").arg(m_socket->errorString()));
        }
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        line(QStringLiteral("disconnected"));
        m_closing = true;
        m_queue.clear();
        deleteLater();
    });
    line(QStringLiteral("connected"));
}

void ClientSession::readAvailable() {
    const QByteArray bytes = m_socket->readAll();
    if (m_closing) {
        return;
    }
    m_reader.append(bytes);
    while (!m_closing) {
        const std::optional<Frame> frame = m_reader.next();
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
    ++m_frames;
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
        m_server.m_unit.setOutputs(outputs);
        break;
    }
    case FrameKind::CounterReset:
        m_server.m_unit.resetCounters(m_server.m_clock());
        break;
    case FrameKind::UnknownByte:
        break;
    }
    const int limit = m_server.m_behaviour.closeAfterFrames;
    if (!m_closing && limit > 0 && m_frames >= limit) {
        line(QStringLiteral("closing after %1 frames").arg(m_frames));
        queueClose();
    }
}

void ClientSession::answerStatusRequest() {
    const Behaviour& behaviour = m_server.m_behaviour;
    const ChaosAction chaos = m_server.m_chaos ? m_server.m_chaos->next() : ChaosAction{};
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

    QByteArray reply = m_server.m_unit.statusReply(m_server.m_clock());
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
        m_queue.push_back({Outgoing::Kind::Write, reply.left(splitAt), 0});
        m_queue.push_back({Outgoing::Kind::Pause, {}, behaviour.splitDelayMs});
        m_queue.push_back({Outgoing::Kind::Write, reply.mid(splitAt), 0});
    } else {
        m_queue.push_back({Outgoing::Kind::Write, reply, 0});
    }
    if (behaviour.flood && !m_flooding) {
        // The pause lets the reply arrive as an arrival of its own.
        m_flooding = true;
        m_queue.push_back({Outgoing::Kind::Pause, {}, behaviour.splitDelayMs});
        m_queue.push_back({Outgoing::Kind::Flood, {}, 0});
    }
}

void ClientSession::queueClose() {
    m_closing = true;
    m_queue.push_back({Outgoing::Kind::Close, {}, 0});
}

void ClientSession::pump() {
    while (!m_paused && !m_queue.empty()) {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            m_queue.clear();
            return;
        }
        const Outgoing item = std::move(m_queue.front());
        m_queue.pop_front();
        switch (item.kind) {
        case Outgoing::Kind::Write:
            frameLine(QStringLiteral("SEND %1").arg(hexBytes(item.bytes)));
            if (m_socket->write(item.bytes) != item.bytes.size()) {
                line(QStringLiteral("write failed (%1), closing").arg(m_socket->errorString()));
                m_closing = true;
                m_queue.clear();
                m_socket->abort();
                return;
            }
            break;
        case Outgoing::Kind::Pause:
            // flush() only reports whether the kernel took anything yet; what
            // it did not take stays buffered and still leaves before the pause ends.
            m_socket->flush();
            m_paused = true;
            QTimer::singleShot(item.pauseMs, this, [this] {
                m_paused = false;
                pump();
            });
            return;
        case Outgoing::Kind::Flood:
            line(QStringLiteral("flooding"));
            topUpFlood();
            return;
        case Outgoing::Kind::Close:
            m_queue.clear();
            // Lets the replies already written leave before the FIN.
            m_socket->disconnectFromHost();
            return;
        }
    }
}

void ClientSession::topUpFlood() {
    // Only as fast as the client takes it: what waits here stays bounded.
    if (!m_flooding || !m_queue.empty() || m_paused || m_closing ||
        m_socket->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    if (m_socket->bytesToWrite() < kFloodChunkBytes) {
        m_socket->write(QByteArray(kFloodChunkBytes, '\0'));
    }
}

UnitServer::UnitServer(const Behaviour& behaviour, ElapsedClock clock, LineSink sink, QObject* parent)
    : QObject(parent)
    , m_behaviour(behaviour)
    , m_clock(std::move(clock))
    , m_sink(std::move(sink))
    , m_unit(behaviour.seed) {
    if (behaviour.chaosSeed) {
        m_chaos.emplace(*behaviour.chaosSeed);
    }
    connect(&m_listener, &QTcpServer::newConnection, this, &UnitServer::accept);
}

UnitServer::~UnitServer() {
    close();
}

bool UnitServer::listen(const QHostAddress& address, quint16 port) {
    if (!m_listener.listen(address, port)) {
        return false;
    }
    report(QStringLiteral("listening on %1").arg(endpointText(address, m_listener.serverPort())));
    report(describe(m_behaviour));
    return true;
}

void UnitServer::report(const QString& text) const {
    m_sink(timeStamp(QDateTime::currentDateTimeUtc()) + QLatin1Char(' ') + text);
}

void UnitServer::close() {
    m_listener.close();
    qDeleteAll(findChildren<ClientSession*>(Qt::FindDirectChildrenOnly));
}

void UnitServer::accept() {
    while (QTcpSocket* socket = m_listener.nextPendingConnection()) {
        new ClientSession(*this, socket);
    }
}

} // namespace emulator

#include "unit_server.moc"
