// SPDX-License-Identifier: GPL-3.0-or-later
#include "modbus/modbus_front.h"

#include "exporter/units.h"
#include "modbus/unit_map.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <list>
#include <mutex>
#include <vector>

namespace lumora::modbus {

namespace {

// The MBAP header: transaction, protocol, length (of what follows it) and
// the unit identifier, which the length counts.
constexpr qsizetype kHeaderBytes = 7;
constexpr qsizetype kMostFrameBytes = 260;
// A client that sends faster than it reads is not read further until its
// answers are out; the kernel then holds it back.
constexpr qint64 kMostUnsent = qint64{16} * 1024;


enum class Closed : std::uint8_t { BadFrame, Deadline, Idle, Crowded, ByClient };
constexpr int kClosedKinds = 5;

// The answer's PDU in the request's frame.
QByteArray framed(QByteArrayView request, const QByteArray& pdu) {
    QByteArray frame = request.first(kHeaderBytes).toByteArray();
    frame[4] = char((pdu.size() + 1) >> 8);
    frame[5] = char((pdu.size() + 1) & 0xFF);
    return frame + pdu;
}

} // namespace

// What both threads read and write, under its mutex.
struct ModbusFront::Shared {
    struct Unit {
        bool up = false;
        QByteArray reply;
    };
    mutable std::mutex mutex;
    // The served units (at most kMostUnitId).
    std::vector<Unit> units;
    // Answers by exception code, 0 for none.
    std::array<std::uint64_t, 256> answers{};
    std::uint64_t writesRefused = 0;
    std::array<std::uint64_t, kClosedKinds> closed{};
    QStringList peers;

    void count(std::uint8_t function, const QByteArray& pdu) {
        const bool refused = (pdu.front() & 0x80) != 0;
        const std::lock_guard lock(mutex);
        ++answers[refused ? std::uint8_t(pdu[1]) : 0];
        if (refused && (function == kWriteSingleCoil || function == kWriteMultipleCoils))
            ++writesRefused;
    }
};

// Lives on the front's thread, with its clients.
class ModbusFront::Server : public QObject {
public:
    explicit Server(ModbusFront& front)
        : front_(front)
        , shared_(*front.shared_) {}

    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port) {
        server_ = new QTcpServer(this);
        server_->setListenBacklogSize(std::max(front_.limits_.maxConnections, 50));
        connect(server_, &QTcpServer::newConnection, this, &Server::accept);
        return server_->listen(address, port);
    }
    [[nodiscard]] QTcpServer& tcp() const { return *server_; }

    void drop(Client* client, Closed why);
    void answered(Client* client);
    // The answer to one whole frame, or none while a write waits for the
    // board: then `done` gets it, on this thread.
    [[nodiscard]] std::optional<QByteArray> answer(QByteArrayView frame, Client* client);

    [[nodiscard]] const ModbusLimits& limits() const { return front_.limits_; }

private:
    void accept();

    ModbusFront& front_;
    Shared& shared_;
    QTcpServer* server_ = nullptr;
    // Connections that have not had a frame answered yet, oldest first, and
    // the others, the one answered longest ago first.
    std::list<Client*> fresh_;
    std::list<Client*> working_;
};

class ModbusFront::Client : public QObject {
public:
    Client(QTcpSocket* socket, Server& server)
        : QObject(&server)
        , socket_(socket)
        , server_(server) {
        socket_->setParent(this);
        // Never more than a few frames held before they are answered.
        socket_->setReadBufferSize(4 * kMostFrameBytes);
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this,
                [this] { server_.drop(this, held_.isEmpty() ? Closed::Idle : Closed::Deadline); });
        connect(socket_, &QIODevice::readyRead, this, &Client::read);
        connect(socket_, &QIODevice::bytesWritten, this, &Client::read);
        connect(socket_, &QAbstractSocket::disconnected, this, [this] { server_.drop(this, Closed::ByClient); });
        timer_.start(server_.limits().idleMs);
        peer_ = exporter::ListenAddress::text(socket_->peerAddress(), socket_->peerPort());
    }

    void close() {
        closed_ = true;
        socket_->disconnect(this);
        timer_.stop();
        socket_->abort();
        deleteLater();
    }

    // The answer to a write, once the board took it.
    void done(const QByteArray& answer) {
        if (closed_)
            return;
        waiting_ = false;
        socket_->write(answer);
        read();
    }

    [[nodiscard]] const QString& peer() const { return peer_; }

    std::list<Client*>::iterator place;
    bool working = false;

private:
    void read() {
        take();
        // Out now rather than on the next turn of the loop, a wake-up saved.
        socket_->flush();
    }

    // Takes in only the bytes of the frame under way, so that each frame is
    // bounded by itself and the rest wait in the socket; none while a write
    // waits, so that answers keep the frames' order.
    void take() {
        while (!waiting_ && socket_->bytesToWrite() < kMostUnsent) {
            const qsizetype wanted =
                held_.size() < kHeaderBytes ? kHeaderBytes - held_.size() : 6 + word(held_, 4) - held_.size();
            const QByteArray bytes = socket_->read(wanted);
            if (bytes.isEmpty())
                return;
            if (held_.isEmpty())
                timer_.start(server_.limits().requestMs);
            held_ += bytes;
            if (held_.size() < kHeaderBytes)
                continue;
            const std::uint16_t length = word(held_, 4);
            if (word(held_, 2) != 0 || length < 2 || 6 + length > kMostFrameBytes)
                return server_.drop(this, Closed::BadFrame);
            if (held_.size() < 6 + length)
                continue;
            const std::optional<QByteArray> answer = server_.answer(held_, this);
            if (answer)
                socket_->write(*answer);
            waiting_ = !answer;
            held_.clear();
            timer_.start(server_.limits().idleMs);
            server_.answered(this);
        }
    }

    QTcpSocket* socket_;
    Server& server_;
    QTimer timer_;
    QByteArray held_;
    QString peer_;
    bool waiting_ = false;
    bool closed_ = false;
};

void ModbusFront::Server::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        while (fresh_.size() + working_.size() >= std::size_t(front_.limits_.maxConnections))
            drop(fresh_.empty() ? working_.front() : fresh_.front(), Closed::Crowded);
        auto* client = new Client(socket, *this);
        client->place = fresh_.insert(fresh_.end(), client);
        const std::lock_guard lock(shared_.mutex);
        shared_.peers.append(client->peer());
    }
}

void ModbusFront::Server::drop(Client* client, Closed why) {
    (client->working ? working_ : fresh_).erase(client->place);
    {
        const std::lock_guard lock(shared_.mutex);
        ++shared_.closed[std::size_t(why)];
        shared_.peers.removeOne(client->peer());
    }
    client->close();
}

void ModbusFront::Server::answered(Client* client) {
    std::list<Client*>& from = client->working ? working_ : fresh_;
    working_.splice(working_.end(), from, client->place);
    client->working = true;
}

std::optional<QByteArray> ModbusFront::Server::answer(QByteArrayView frame, Client* client) {
    const auto unitId = std::uint8_t(frame[6]);
    const QByteArrayView pdu = frame.sliced(kHeaderBytes);
    const auto function = std::uint8_t(pdu.front());
    Shared::Unit unit;
    std::optional<qsizetype> index;
    {
        const std::lock_guard lock(shared_.mutex);
        index = unitIndex(unitId, qsizetype(shared_.units.size()));
        if (index)
            unit = shared_.units[std::size_t(*index)];
    }
    QByteArray out;
    if (!index) {
        out = exceptionAnswer(function, Exception::PathUnavailable);
    } else {
        const auto checked = checkRequest(pdu, front_.writesAllowed_);
        if (const auto* refused = std::get_if<Exception>(&checked)) {
            out = exceptionAnswer(function, *refused);
        } else if (const auto* read = std::get_if<Read>(&checked)) {
            out = unit.up ? readAnswer(*read, unit.reply) : exceptionAnswer(function, Exception::TargetNoResponse);
        } else {
            // The board is the other thread's: it answers there, then here.
            const auto& write = std::get<Write>(checked);
            QMetaObject::invokeMethod(
                &front_,
                [front = &front_, server = this, client = QPointer(client), request = frame.toByteArray(),
                 write, index = *index] {
                    QByteArray pdu;
                    switch (front->board_.setOutputs(index, write.mask, write.values)) {
                    case exporter::UnitBoard::OutputWrite::Sent:
                        pdu = write.answer;
                        break;
                    case exporter::UnitBoard::OutputWrite::UnitDown:
                        pdu = exceptionAnswer(request[kHeaderBytes], Exception::TargetNoResponse);
                        break;
                    case exporter::UnitBoard::OutputWrite::RefusedValue:
                        pdu = exceptionAnswer(request[kHeaderBytes], Exception::DeviceFailure);
                        break;
                    }
                    front->shared_->count(std::uint8_t(request[kHeaderBytes]), pdu);
                    QMetaObject::invokeMethod(server, [client, answer = framed(request, pdu)] {
                        if (client)
                            client->done(answer);
                    });
                });
            return std::nullopt;
        }
    }
    shared_.count(function, out);
    return framed(frame, out);
}

ModbusFront::ModbusFront(exporter::UnitBoard& board, bool writesAllowed, ModbusLimits limits, QObject* parent)
    : QObject(parent)
    , board_(board)
    , writesAllowed_(writesAllowed)
    , limits_(limits)
    , shared_(std::make_unique<Shared>()) {
    copyUnits();
    connect(&board_, &exporter::UnitBoard::unitChanged, this, &ModbusFront::copyUnit);
    connect(&board_, &exporter::UnitBoard::unitsReplaced, this, &ModbusFront::copyUnits);
}

ModbusFront::~ModbusFront() {
    if (!thread_)
        return;
    // Its objects go on their own thread, before it ends.
    QMetaObject::invokeMethod(server_, [this] { delete server_; }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

void ModbusFront::copyUnit(qsizetype index) {
    const exporter::UnitState& state = board_.state(index);
    const std::lock_guard lock(shared_->mutex);
    if (index < qsizetype(shared_->units.size()))
        shared_->units[std::size_t(index)] = {state.up, state.reply};
}

void ModbusFront::copyUnits() {
    const qsizetype count = servedUnitCount(board_.unitCount());
    std::vector<Shared::Unit> units;
    units.reserve(std::size_t(count));
    for (qsizetype k = 0; k < count; ++k)
        units.push_back({board_.state(k).up, board_.state(k).reply});
    const std::lock_guard lock(shared_->mutex);
    shared_->units = std::move(units);
}

bool ModbusFront::listen(const QHostAddress& address, quint16 port) {
    auto* thread = new QThread(this);
    thread->setObjectName(QStringLiteral("Modbus TCP"));
    thread->start();
    auto* server = new Server(*this);
    server->moveToThread(thread);
    bool listening = false;
    QMetaObject::invokeMethod(
        server,
        [&] {
            listening = server->listen(address, port);
            if (listening) {
                port_ = server->tcp().serverPort();
                address_ = exporter::ListenAddress::text(server->tcp().serverAddress(), port_);
            } else {
                errorString_ = QStringLiteral("Modbus TCP cannot listen on %1: %2")
                                   .arg(exporter::ListenAddress::text(address, port), server->tcp().errorString());
                delete server;
            }
        },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        thread->quit();
        thread->wait();
        delete thread;
        return false;
    }
    thread_ = thread;
    server_ = server;
    return true;
}

QString ModbusFront::frontName() const {
    return QStringLiteral("Modbus TCP");
}

QString ModbusFront::address() const {
    return address_;
}

QStringList ModbusFront::clients() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->peers;
}

QByteArray ModbusFront::metricsText() const {
    std::array<std::uint64_t, 256> answers{};
    std::uint64_t writesRefused = 0;
    std::array<std::uint64_t, kClosedKinds> closed{};
    qsizetype clients = 0;
    {
        const std::lock_guard lock(shared_->mutex);
        answers = shared_->answers;
        writesRefused = shared_->writesRefused;
        closed = shared_->closed;
        clients = shared_->peers.size();
    }
    QByteArray text =
        "# HELP lumora_modbus_requests_total Modbus TCP requests answered, by exception code (none: a normal "
        "answer).\n# TYPE lumora_modbus_requests_total counter\n";
    const auto line = [&text](const char* name, const QByteArray& labels, std::uint64_t value) {
        text += name + labels + ' ' + QByteArray::number(value) + '\n';
    };
    line("lumora_modbus_requests_total", "{exception=\"none\"}", answers[0]);
    for (std::size_t code = 1; code < answers.size(); ++code)
        if (answers[code] > 0)
            line("lumora_modbus_requests_total",
                 "{exception=\"" + QByteArray::number(qulonglong(code), 16).rightJustified(2, '0').toUpper() + "\"}",
                 answers[code]);
    text += "# HELP lumora_modbus_writes_refused_total Modbus TCP coil writes answered with an exception, "
            "nothing sent.\n# TYPE lumora_modbus_writes_refused_total counter\n";
    line("lumora_modbus_writes_refused_total", {}, writesRefused);
    text += "# HELP lumora_modbus_clients Modbus TCP connections open.\n# TYPE lumora_modbus_clients gauge\n";
    line("lumora_modbus_clients", {}, std::uint64_t(clients));
    text += "# HELP lumora_modbus_connections_closed_total Modbus TCP connections closed by the gateway or "
            "the client, by reason.\n# TYPE lumora_modbus_connections_closed_total counter\n";
    constexpr const char* kReasons[kClosedKinds] = {"bad_frame", "deadline", "idle", "crowded", "by_client"};
    for (std::size_t k = 0; k < closed.size(); ++k)
        line("lumora_modbus_connections_closed_total", QByteArray("{reason=\"") + kReasons[k] + "\"}", closed[k]);
    return text;
}

std::optional<QString> unitsBeyondNote(qsizetype unitCount) {
    const qsizetype served = servedUnitCount(unitCount);
    if (served == unitCount)
        return std::nullopt;
    return QStringLiteral("Modbus TCP serves units 1 to %1 of %2; unit identifiers end at %1").arg(served).arg(unitCount);
}

} // namespace lumora::modbus
