// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_board.h"
#include "mqtt/topics.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

namespace lumora::mqtt {

// Why a P/NAME/output/NN/set changed nothing, in the order of the "reason"
// label's values.
enum class SetIgnored : std::uint8_t {
    NotAllowed,    // serve runs without --mqtt-writes
    Retained,      // a set kept by the broker is an old wish, not a request
    BadPayload,    // anything but "0" or "1"
    UnknownUnit,
    UnknownOutput, // NN other than 01..04
    UnitDown,
    RefusedValue,  // another output last showed a value no frame carries
};
inline constexpr int kSetIgnoredKinds = 7;

// The gateway's MQTT side: the board's units published to a broker, retained,
// each topic when its value changes and all of them at every connect, and
// outputs set from P/NAME/output/NN/set when allowed. The broker link runs on
// the program's event loop, never blocking it: a broker that is slow or
// silent costs a connect timeout and a retry with back-off, and what waits
// to go out is bounded however far the broker falls behind.
class MqttFront : public QObject, public exporter::Front {
    Q_OBJECT
public:
    struct Options {
        QString host;
        std::uint16_t port = 1883;
        QByteArray prefix = QByteArrayLiteral("lumora");
        QString user;         // none when empty
        QString passwordFile; // its first line is the password
        QString cafile;       // TLS when given
        bool writes = false;
        int connectTimeoutMs = 10000;
    };

    MqttFront(exporter::UnitBoard& board, Options options, QObject* parent = nullptr);
    ~MqttFront() override;

    // Reads the password and makes the first attempt; a broker that is not
    // there yet is retried, not a failure. False, with errorString(), when
    // the password file cannot be read or the TLS files are refused.
    [[nodiscard]] bool start();
    [[nodiscard]] QString errorString() const { return error_; }
    // P/status "offline" and a clean disconnect, waiting at most `waitMs` for
    // the broker to take them; no retry after.
    void stop(int waitMs = 2000);

    [[nodiscard]] bool isConnected() const { return connected_; }

    [[nodiscard]] QString frontName() const override;
    [[nodiscard]] QString address() const override;
    [[nodiscard]] QStringList clients() const override;
    [[nodiscard]] QByteArray metricsText() const override;

Q_SIGNALS:
    // Connected, or the link lost.
    void linkChanged();

private:
    void attempt();
    void dropLink();
    void retryLater();
    void runLoop();
    void afterLoop(int rc);
    // The socket notifiers and the acknowledgement timer as the link's
    // state asks.
    void watchSocket();
    void unitChanged(qsizetype index);
    void unitsReplaced();
    // Queues the unit for the tiers in `tiers` it is not queued for yet.
    void markDirty(qsizetype index, std::uint8_t tiers);
    void pump();
    void publish(const QByteArray& topic, const QByteArray& payload);

    static void onConnect(mosquitto* mosq, void* self, int rc);
    static void onDisconnect(mosquitto* mosq, void* self, int rc);
    static void onPublish(mosquitto* mosq, void* self, int mid);
    static void onMessage(mosquitto* mosq, void* self, const mosquitto_message* message);
    void takeSet(const mosquitto_message& message);

    exporter::UnitBoard& board_;
    Options options_;
    QByteArray password_;
    QString error_;
    mosquitto* mosq_ = nullptr;
    QSocketNotifier* readNotifier_ = nullptr;  // children, while there is a socket
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer miscTimer_;
    QTimer connectTimer_;
    QTimer ackTimer_;
    QTimer retryTimer_;
    int backoffMs_ = 0;
    bool connected_ = false;
    bool lost_ = false;
    bool stopped_ = false;
    // The message id of stop()'s "offline" until the broker acknowledges it.
    int stopMid_ = 0;

    // What the broker holds from this connection, per unit and topic
    // (kNoValue: not sent yet), and the units whose topics may differ.
    std::vector<UnitValues> published_;
    // Per unit, the tiers (kStatesTier, kCountsTier) queued for it. A broker
    // slower than the units are busy gets their states first: an input that
    // changed must not wait behind counters that a later value replaces anyway.
    std::vector<std::uint8_t> dirty_;
    std::array<std::deque<qsizetype>, 2> dirtyQueues_;
    QHash<QByteArray, qsizetype> unitByName_;
    // QoS 1 messages handed to the library and not yet acknowledged.
    int outstanding_ = 0;

    std::uint64_t connects_ = 0;
    std::uint64_t publishes_ = 0;
    std::uint64_t sets_ = 0;
    std::array<std::uint64_t, kSetIgnoredKinds> ignored_{};
};

} // namespace lumora::mqtt
