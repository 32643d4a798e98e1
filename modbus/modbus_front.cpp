// SPDX-License-Identifier: GPL-3.0-or-later
#include "modbus/modbus_front.h"

#include "exporter/units.h"
#include "modbus/unit_map.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace lumora::modbus {

namespace {

// The MBAP header: transaction, protocol, length (of what follows it) and
// the unit identifier, which the length counts.
constexpr qsizetype kHeaderBytes = 7;
constexpr qsizetype kMostFrameBytes = 260;
// A client that sends faster than it reads is not read further until its
// answers are out; the kernel then holds it back.
constexpr qint64 kMostUnsent = qint64{16} * 1024;

std::uint16_t word(QByteArrayView bytes, qsizetype at) {
    return std::uint16_t((std::uint8_t(bytes[at]) << 8) | std::uint8_t(bytes[at + 1]));
}

} // namespace

class ModbusFront::Client : public QObject {
public:
    Client(QTcpSocket* socket, ModbusFront& front)
        : QObject(&front)
        , socket_(socket)
        , front_(front) {
        socket_->setParent(this);
        // Never more than a few frames held before they are answered.
        socket_->setReadBufferSize(4 * kMostFrameBytes);
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this,
                [this] { front_.drop(this, held_.isEmpty() ? Closed::Idle : Closed::Deadline); });
        connect(socket_, &QIODevice::readyRead, this, &Client::read);
        connect(socket_, &QIODevice::bytesWritten, this, &Client::read);
        connect(socket_, &QAbstractSocket::disconnected, this, [this] { front_.drop(this, Closed::ByClient); });
        timer_.start(front_.limits_.idleMs);
        peer_ = exporter::ListenAddress::text(socket_->peerAddress(), socket_->peerPort());
    }

    void close() {
        socket_->disconnect(this);
        timer_.stop();
        socket_->abort();
        deleteLater();
    }

    [[nodiscard]] const QString& peer() const { return peer_; }

    std::list<Client*>::iterator place;
    bool working = false;

private:
    // Takes in only the bytes of the frame under way, so that each frame is
    // bounded by itself and the rest wait in the socket.
    void read() {
        take();
        // Out now rather than on the next turn of the loop: that turn would
        // cost a wake-up that, beside a thousand units' sockets, costs more
        // than the answer.
        socket_->flush();
    }

    void take() {
        while (socket_->bytesToWrite() < kMostUnsent) {
            const qsizetype wanted =
                held_.size() < kHeaderBytes ? kHeaderBytes - held_.size() : 6 + word(held_, 4) - held_.size();
            const QByteArray bytes = socket_->read(wanted);
            if (bytes.isEmpty())
                return;
            if (held_.isEmpty())
                timer_.start(front_.limits_.requestMs);
            held_ += bytes;
            if (held_.size() < kHeaderBytes)
                continue;
            const std::uint16_t length = word(held_, 4);
            if (word(held_, 2) != 0 || length < 2 || 6 + length > kMostFrameBytes)
                return front_.drop(this, Closed::BadFrame);
            if (held_.size() < 6 + length)
                continue;
            socket_->write(front_.answer(held_));
            held_.clear();
            timer_.start(front_.limits_.idleMs);
            front_.answered(this);
        }
    }

    QTcpSocket* socket_;
    ModbusFront& front_;
    QTimer timer_;
    QByteArray held_;
    QString peer_;
};

ModbusFront::ModbusFront(exporter::UnitBoard& board, bool writesAllowed, ModbusLimits limits, QObject* parent)
    : QObject(parent)
    , board_(board)
    , writesAllowed_(writesAllowed)
    , limits_(limits) {}

// The clients are its children.
ModbusFront::~ModbusFront() = default;

bool ModbusFront::listen(const QHostAddress& address, quint16 port) {
    auto* server = new QTcpServer(this);
    server->setListenBacklogSize(std::max(limits_.maxConnections, 50));
    if (!server->listen(address, port)) {
        errorString_ = QStringLiteral("Modbus TCP cannot listen on %1: %2")
                           .arg(exporter::ListenAddress::text(address, port), server->errorString());
        delete server;
        return false;
    }
    server_ = server;
    connect(server_, &QTcpServer::newConnection, this, &ModbusFront::accept);
    return true;
}

quint16 ModbusFront::serverPort() const {
    return server_ ? server_->serverPort() : 0;
}

void ModbusFront::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        while (fresh_.size() + working_.size() >= std::size_t(limits_.maxConnections))
            drop(fresh_.empty() ? working_.front() : fresh_.front(), Closed::Crowded);
        auto* client = new Client(socket, *this);
        client->place = fresh_.insert(fresh_.end(), client);
    }
}

void ModbusFront::drop(Client* client, Closed why) {
    (client->working ? working_ : fresh_).erase(client->place);
    ++closed_[std::size_t(why)];
    client->close();
}

void ModbusFront::answered(Client* client) {
    std::list<Client*>& from = client->working ? working_ : fresh_;
    working_.splice(working_.end(), from, client->place);
    client->working = true;
}

QByteArray ModbusFront::answer(QByteArrayView frame) {
    const auto unitId = std::uint8_t(frame[6]);
    const QByteArrayView pdu = frame.sliced(kHeaderBytes);
    const auto function = std::uint8_t(pdu.front());
    QByteArray out;
    if (const std::optional<qsizetype> index = unitIndex(unitId, board_.unitCount()); !index) {
        out = exceptionAnswer(function, Exception::PathUnavailable);
    } else {
        const auto checked = checkRequest(pdu, writesAllowed_);
        if (const auto* refused = std::get_if<Exception>(&checked)) {
            out = exceptionAnswer(function, *refused);
        } else if (const auto* read = std::get_if<Read>(&checked)) {
            const exporter::UnitState& state = board_.state(*index);
            out = state.up ? readAnswer(*read, state.reply) : exceptionAnswer(function, Exception::TargetNoResponse);
        } else {
            const auto& write = std::get<Write>(checked);
            switch (board_.setOutputs(*index, write.mask, write.values)) {
            case exporter::UnitBoard::OutputWrite::Sent:
                out = write.answer;
                break;
            case exporter::UnitBoard::OutputWrite::UnitDown:
                out = exceptionAnswer(function, Exception::TargetNoResponse);
                break;
            case exporter::UnitBoard::OutputWrite::RefusedValue:
                out = exceptionAnswer(function, Exception::DeviceFailure);
                break;
            }
        }
    }
    const bool refused = (out.front() & 0x80) != 0;
    ++answers_[refused ? std::uint8_t(out[1]) : 0];
    if (refused && (function == 0x05 || function == 0x0F))
        ++writesRefused_;
    QByteArray framed = frame.first(6).toByteArray();
    framed[4] = char((out.size() + 1) >> 8);
    framed[5] = char((out.size() + 1) & 0xFF);
    return framed.append(char(unitId)).append(out);
}

QString ModbusFront::frontName() const {
    return QStringLiteral("Modbus TCP");
}

QString ModbusFront::address() const {
    return server_ ? exporter::ListenAddress::text(server_->serverAddress(), server_->serverPort()) : QString();
}

QStringList ModbusFront::clients() const {
    QStringList peers;
    for (const auto* list : {&fresh_, &working_})
        for (const Client* client : *list)
            peers.append(client->peer());
    return peers;
}

QByteArray ModbusFront::metricsText() const {
    QByteArray text =
        "# HELP lumora_modbus_requests_total Modbus TCP requests answered, by exception code (none: a normal "
        "answer).\n# TYPE lumora_modbus_requests_total counter\n";
    const auto line = [&text](const char* name, const QByteArray& labels, std::uint64_t value) {
        text += name + labels + ' ' + QByteArray::number(value) + '\n';
    };
    line("lumora_modbus_requests_total", "{exception=\"none\"}", answers_[0]);
    for (int code = 1; code < int(answers_.size()); ++code)
        if (answers_[std::size_t(code)] > 0)
            line("lumora_modbus_requests_total",
                 "{exception=\"" + QByteArray::number(code, 16).rightJustified(2, '0').toUpper() + "\"}",
                 answers_[std::size_t(code)]);
    text += "# HELP lumora_modbus_writes_refused_total Modbus TCP coil writes answered with an exception, "
            "nothing sent.\n# TYPE lumora_modbus_writes_refused_total counter\n";
    line("lumora_modbus_writes_refused_total", {}, writesRefused_);
    text += "# HELP lumora_modbus_clients Modbus TCP connections open.\n# TYPE lumora_modbus_clients gauge\n";
    line("lumora_modbus_clients", {}, fresh_.size() + working_.size());
    text += "# HELP lumora_modbus_connections_closed_total Modbus TCP connections closed by the gateway or "
            "the client, by reason.\n# TYPE lumora_modbus_connections_closed_total counter\n";
    constexpr const char* kReasons[kClosedKinds] = {"bad_frame", "deadline", "idle", "crowded", "by_client"};
    for (int k = 0; k < kClosedKinds; ++k)
        line("lumora_modbus_connections_closed_total", QByteArray("{reason=\"") + kReasons[k] + "\"}",
             closed_[std::size_t(k)]);
    return text;
}

std::optional<QString> unitsBeyondNote(qsizetype unitCount) {
    if (unitCount <= kMostUnitId)
        return std::nullopt;
    return QStringLiteral("Modbus TCP serves units 1 to %1 of %2; unit identifiers end at %1")
        .arg(kMostUnitId)
        .arg(unitCount);
}

} // namespace lumora::modbus
