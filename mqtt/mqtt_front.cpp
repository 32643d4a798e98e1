// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/mqtt_front.h"

#include "platform/regular_file.h"
#include "settings/host_port.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <mosquitto.h>

#include <algorithm>

namespace lumora::mqtt {

namespace {

constexpr int kQos = 1;
constexpr int kKeepaliveS = 30;
constexpr int kFirstBackoffMs = 1000;
constexpr int kMostBackoffMs = 30000;
// QoS 1 messages written and not yet acknowledged. Past this many, changed
// units wait as marks and go out with their values as they are by then, so a
// slow broker is sent the present, never a backlog. The library walks all of
// them at every acknowledgement, so the bound is kept small.
constexpr int kMostOutstanding = 100;

// Status, inputs and outputs; counters and gaps.
constexpr std::uint8_t kStatesTier = 1;
constexpr std::uint8_t kCountsTier = 2;
constexpr std::uint8_t kBothTiers = kStatesTier | kCountsTier;
struct SlotRange {
    int first;
    int end;
};
constexpr std::array<SlotRange, 2> kTierSlots{{{kStatusSlot, kFirstCounterSlot}, {kFirstCounterSlot, kSlotsPerUnit}}};
// Each wake-up of the event loop looks at every unit's socket again, and the
// broker acknowledges every message. While acknowledgements are awaited they
// are read when the loop wakes anyway, and at the latest this long after;
// the socket wakes the loop itself only when nothing is awaited (a set, the
// broker's ping answer).
constexpr int kMostAckWaitMs = 5;
constexpr qint64 kMostPasswordBytes = 4096;

constexpr std::array<const char*, kSetIgnoredKinds> kSetIgnoredReasons{
    "not_allowed", "retained", "bad_payload", "unknown_unit", "unknown_output", "unit_down", "refused_value"};

MqttFront* frontOf(void* self) {
    return static_cast<MqttFront*>(self);
}

} // namespace

MqttFront::MqttFront(exporter::UnitBoard& board, Options options, QObject* parent)
    : QObject(parent)
    , board_(board)
    , options_(std::move(options)) {
    static const bool initialised = [] { return mosquitto_lib_init() == MOSQ_ERR_SUCCESS; }();
    Q_UNUSED(initialised);
    miscTimer_.setInterval(1000);
    connect(&miscTimer_, &QTimer::timeout, this, [this] { afterLoop(mosquitto_loop_misc(mosq_)); });
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, [this] {
        // Connected at the TCP level but no CONNACK: a broker this slow is
        // no broker, and the back-off keeps it from costing more.
        dropLink();
        retryLater();
    });
    ackTimer_.setSingleShot(true);
    ackTimer_.setInterval(kMostAckWaitMs);
    connect(&ackTimer_, &QTimer::timeout, this, &MqttFront::runLoop);
    if (QAbstractEventDispatcher* const dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (outstanding_ > 0)
                runLoop();
        });
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &MqttFront::attempt);
    connect(&board_, &exporter::UnitBoard::unitChanged, this, &MqttFront::unitChanged);
    connect(&board_, &exporter::UnitBoard::unitsReplaced, this, &MqttFront::unitsReplaced);
    unitsReplaced();
}

MqttFront::~MqttFront() {
    dropLink();
}

bool MqttFront::start() {
    if (!options_.passwordFile.isEmpty()) {
        QString why;
        const std::optional<QByteArray> text =
            platform::readRegularFile(options_.passwordFile, kMostPasswordBytes, why);
        if (!text) {
            error_ = QStringLiteral("cannot read the MQTT password file %1: %2").arg(options_.passwordFile, why);
            return false;
        }
        password_ = text->split('\n').constFirst();
        if (password_.endsWith('\r'))
            password_.chop(1);
    }
    if (!options_.cafile.isEmpty()) {
        QString why;
        if (!platform::readRegularFile(options_.cafile, kMostPasswordBytes * 256, why)) {
            error_ = QStringLiteral("cannot read the MQTT CA file %1: %2").arg(options_.cafile, why);
            return false;
        }
    }
    stopped_ = false;
    backoffMs_ = kFirstBackoffMs;
    attempt();
    return true;
}

void MqttFront::attempt() {
    dropLink();
    mosq_ = mosquitto_new(nullptr, true, this);
    if (mosq_ == nullptr) {
        retryLater();
        return;
    }
    mosquitto_connect_callback_set(mosq_, &MqttFront::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttFront::onDisconnect);
    mosquitto_publish_callback_set(mosq_, &MqttFront::onPublish);
    mosquitto_message_callback_set(mosq_, &MqttFront::onMessage);
    mosquitto_max_inflight_messages_set(mosq_, kMostOutstanding + kSlotsPerUnit);
    const QByteArray statusTopic = options_.prefix + "/status";
    const QByteArray host = options_.host.toUtf8();
    int rc = mosquitto_will_set(mosq_, statusTopic.constData(), 7, "offline", kQos, true);
    if (rc == MOSQ_ERR_SUCCESS && !options_.user.isEmpty())
        rc = mosquitto_username_pw_set(mosq_, options_.user.toUtf8().constData(), password_.constData());
    if (rc == MOSQ_ERR_SUCCESS && !options_.cafile.isEmpty())
        rc = mosquitto_tls_set(mosq_, options_.cafile.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_connect_async(mosq_, host.constData(), options_.port, kKeepaliveS);
    const int socket = mosquitto_socket(mosq_);
    if (rc != MOSQ_ERR_SUCCESS || socket < 0) {
        dropLink();
        retryLater();
        return;
    }
    readNotifier_ = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    writeNotifier_ = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &MqttFront::runLoop);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &MqttFront::runLoop);
    watchSocket();
    miscTimer_.start();
    connectTimer_.start(options_.connectTimeoutMs);
}

void MqttFront::runLoop() {
    if (mosq_ == nullptr)
        return;
    // The library's own loop with no wait: it alone knows what a socket
    // still connecting or in a TLS handshake needs next.
    afterLoop(mosquitto_loop(mosq_, 0, 1));
}

void MqttFront::afterLoop(int rc) {
    if (mosq_ == nullptr)
        return;
    if (lost_ || (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) || mosquitto_socket(mosq_) < 0) {
        dropLink();
        retryLater();
        return;
    }
    watchSocket();
}

void MqttFront::watchSocket() {
    if (!readNotifier_)
        return;
    readNotifier_->setEnabled(outstanding_ == 0);
    writeNotifier_->setEnabled(mosquitto_want_write(mosq_));
    if (outstanding_ > 0 && !ackTimer_.isActive())
        ackTimer_.start();
}

void MqttFront::dropLink() {
    // A link is often lost inside a notifier's own signal: it goes once
    // that has returned.
    for (QSocketNotifier** notifier : {&readNotifier_, &writeNotifier_}) {
        if (*notifier == nullptr)
            continue;
        (*notifier)->setEnabled(false);
        (*notifier)->deleteLater();
        *notifier = nullptr;
    }
    miscTimer_.stop();
    connectTimer_.stop();
    ackTimer_.stop();
    if (mosq_ != nullptr) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
    lost_ = false;
    outstanding_ = 0;
    if (connected_) {
        connected_ = false;
        Q_EMIT linkChanged();
    }
}

void MqttFront::retryLater() {
    if (stopped_)
        return;
    retryTimer_.start(backoffMs_);
    backoffMs_ = std::min(backoffMs_ * 2, kMostBackoffMs);
}

void MqttFront::onConnect(mosquitto* mosq, void* self, int rc) {
    MqttFront* const front = frontOf(self);
    if (rc != 0) {
        // Refused (a wrong password, say): the library keeps the socket;
        // the next look at it ends the attempt.
        front->lost_ = true;
        return;
    }
    front->connectTimer_.stop();
    front->connected_ = true;
    front->backoffMs_ = kFirstBackoffMs;
    ++front->connects_;
    const QByteArray sets = front->options_.prefix + "/+/output/+/set";
    mosquitto_subscribe(mosq, nullptr, sets.constData(), kQos);
    front->publish(front->options_.prefix + "/status", QByteArrayLiteral("online"));
    // A new connection starts from nothing: every topic goes out again.
    for (UnitValues& values : front->published_)
        values.fill(kNoValue);
    for (qsizetype i = 0; i < qsizetype(front->published_.size()); ++i)
        front->markDirty(i, kBothTiers);
    front->pump();
    Q_EMIT front->linkChanged();
}

void MqttFront::onDisconnect(mosquitto* /*mosq*/, void* self, int /*rc*/) {
    frontOf(self)->lost_ = true;
}

void MqttFront::onPublish(mosquitto* /*mosq*/, void* self, int mid) {
    MqttFront* const front = frontOf(self);
    if (mid == front->stopMid_)
        front->stopMid_ = 0;
    front->outstanding_ = std::max(front->outstanding_ - 1, 0);
    if (front->outstanding_ <= kMostOutstanding / 2)
        front->pump();
}

void MqttFront::onMessage(mosquitto* /*mosq*/, void* self, const mosquitto_message* message) {
    frontOf(self)->takeSet(*message);
}

void MqttFront::takeSet(const mosquitto_message& message) {
    const auto ignore = [this](SetIgnored why) { ++ignored_[std::size_t(why)]; };
    if (!options_.writes)
        return ignore(SetIgnored::NotAllowed);
    if (message.retain)
        return ignore(SetIgnored::Retained);
    const std::optional<bool> value =
        setValue(QByteArrayView(static_cast<const char*>(message.payload), message.payloadlen));
    if (!value)
        return ignore(SetIgnored::BadPayload);
    const std::optional<SetTopic> topic = setTopic(options_.prefix, message.topic);
    const auto unit = topic ? unitByName_.constFind(topic->unitName) : unitByName_.cend();
    if (unit == unitByName_.cend())
        return ignore(SetIgnored::UnknownUnit);
    if (!topic->output)
        return ignore(SetIgnored::UnknownOutput);
    const auto bit = std::uint8_t(1U << (*topic->output - 1));
    switch (board_.setOutputs(*unit, bit, *value ? bit : 0)) {
    case exporter::UnitBoard::OutputWrite::Sent:
        ++sets_;
        break;
    case exporter::UnitBoard::OutputWrite::UnitDown:
        return ignore(SetIgnored::UnitDown);
    case exporter::UnitBoard::OutputWrite::RefusedValue:
        return ignore(SetIgnored::RefusedValue);
    }
}

void MqttFront::unitChanged(qsizetype index) {
    if (!connected_)
        return; // the next connect publishes everything as it is then
    const exporter::UnitState& state = board_.state(index);
    const UnitValues now = unitValues(state.up, state.reply);
    const UnitValues& sent = published_[std::size_t(index)];
    std::uint8_t tiers = 0;
    for (std::size_t tier = 0; tier < kTierSlots.size(); ++tier)
        for (int slot = kTierSlots[tier].first; slot < kTierSlots[tier].end; ++slot)
            if (now[std::size_t(slot)] != kNoValue && now[std::size_t(slot)] != sent[std::size_t(slot)])
                tiers |= std::uint8_t(1U << tier);
    markDirty(index, tiers);
    pump();
}

void MqttFront::unitsReplaced() {
    const auto count = std::size_t(board_.unitCount());
    published_.assign(count, UnitValues{});
    for (UnitValues& values : published_)
        values.fill(kNoValue);
    dirty_.assign(count, 0);
    for (auto& queue : dirtyQueues_)
        queue.clear();
    unitByName_.clear();
    for (qsizetype i = 0; i < qsizetype(count); ++i) {
        unitByName_.insert(board_.unit(i).name.toUtf8(), i);
        if (connected_)
            markDirty(i, kBothTiers);
    }
    pump();
}

void MqttFront::markDirty(qsizetype index, std::uint8_t tiers) {
    std::uint8_t& queued = dirty_[std::size_t(index)];
    for (std::size_t tier = 0; tier < dirtyQueues_.size(); ++tier) {
        const auto bit = std::uint8_t(1U << tier);
        if ((tiers & bit) != 0 && (queued & bit) == 0) {
            queued |= bit;
            dirtyQueues_[tier].push_back(index);
        }
    }
}

void MqttFront::pump() {
    for (std::size_t tier = 0; tier < dirtyQueues_.size(); ++tier) {
        std::deque<qsizetype>& queue = dirtyQueues_[tier];
        while (connected_ && !lost_ && !stopped_ && outstanding_ < kMostOutstanding && !queue.empty()) {
            const qsizetype i = queue.front();
            queue.pop_front();
            dirty_[std::size_t(i)] &= std::uint8_t(~(1U << tier));
            const exporter::UnitState& state = board_.state(i);
            const UnitValues now = unitValues(state.up, state.reply);
            UnitValues& sent = published_[std::size_t(i)];
            const QByteArray base = options_.prefix + '/' + board_.unit(i).name.toUtf8() + '/';
            for (int slot = kTierSlots[tier].first; slot < kTierSlots[tier].end; ++slot) {
                const std::int64_t value = now[std::size_t(slot)];
                if (value == kNoValue || value == sent[std::size_t(slot)])
                    continue;
                publish(base + slotTopic(slot), slotPayload(slot, value));
                sent[std::size_t(slot)] = value;
            }
        }
    }
    watchSocket();
}

void MqttFront::publish(const QByteArray& topic, const QByteArray& payload) {
    if (mosquitto_publish(mosq_, nullptr, topic.constData(), int(payload.size()), payload.constData(), kQos,
                          true) != MOSQ_ERR_SUCCESS)
        return; // the link is going; the next connect sends it all again
    ++outstanding_;
    ++publishes_;
}

void MqttFront::stop(int waitMs) {
    stopped_ = true;
    retryTimer_.stop();
    int mid = 0;
    const QByteArray topic = options_.prefix + "/status";
    // The will speaks only for a gateway that vanished; one that ends says
    // so itself. Its word must be acknowledged before the disconnect, which
    // would otherwise overtake it while earlier messages still wait.
    if (connected_ && !lost_ &&
        mosquitto_publish(mosq_, &mid, topic.constData(), 7, "offline", kQos, true) == MOSQ_ERR_SUCCESS) {
        stopMid_ = mid;
        const QDeadlineTimer deadline(waitMs);
        const auto runUntil = [this, &deadline](const auto& done) {
            while (!done() && !lost_ && mosquitto_socket(mosq_) >= 0 && !deadline.hasExpired())
                if (mosquitto_loop(mosq_, int(std::clamp<qint64>(deadline.remainingTime(), 1, 100)), 1) !=
                    MOSQ_ERR_SUCCESS)
                    return;
        };
        runUntil([this] { return stopMid_ == 0; });
        mosquitto_disconnect(mosq_);
        runUntil([] { return false; });
    }
    dropLink();
}

QString MqttFront::frontName() const {
    return QStringLiteral("MQTT");
}

QString MqttFront::address() const {
    return settings::hostPortText(options_.host, options_.port);
}

QStringList MqttFront::clients() const {
    if (connected_)
        return {QStringLiteral("connected")};
    if (retryTimer_.isActive())
        return {QStringLiteral("retrying in %1 s").arg((retryTimer_.remainingTime() + 999) / 1000)};
    if (stopped_)
        return {QStringLiteral("stopped")};
    return {QStringLiteral("connecting")};
}

QByteArray MqttFront::metricsText() const {
    QByteArray text;
    text += "# HELP lumora_mqtt_broker_connected Whether the gateway holds a connection to the MQTT broker.\n"
            "# TYPE lumora_mqtt_broker_connected gauge\n"
            "lumora_mqtt_broker_connected ";
    text += connected_ ? "1\n" : "0\n";
    text += "# HELP lumora_mqtt_broker_connects_total Connections the MQTT broker accepted.\n"
            "# TYPE lumora_mqtt_broker_connects_total counter\n"
            "lumora_mqtt_broker_connects_total " +
            QByteArray::number(connects_) + '\n';
    text += "# HELP lumora_mqtt_publishes_total Messages handed to the MQTT broker.\n"
            "# TYPE lumora_mqtt_publishes_total counter\n"
            "lumora_mqtt_publishes_total " +
            QByteArray::number(publishes_) + '\n';
    text += "# HELP lumora_mqtt_sets_total Output frames sent for P/NAME/output/NN/set.\n"
            "# TYPE lumora_mqtt_sets_total counter\n"
            "lumora_mqtt_sets_total " +
            QByteArray::number(sets_) + '\n';
    text += "# HELP lumora_mqtt_sets_ignored_total Sets that changed nothing, by why.\n"
            "# TYPE lumora_mqtt_sets_ignored_total counter\n";
    for (int i = 0; i < kSetIgnoredKinds; ++i)
        text += QByteArray("lumora_mqtt_sets_ignored_total{reason=\"") + kSetIgnoredReasons[std::size_t(i)] +
                "\"} " + QByteArray::number(ignored_[std::size_t(i)]) + '\n';
    return text;
}

} // namespace lumora::mqtt
