#pragma once
// Publishes every reading of a worker to an MQTT broker: <prefix>/status ("online" / "offline",
// retained, "offline" also the last will), <prefix>/identity (retained) and <prefix>/reading.
// The worker never waits for the network: Record formats the message, queues it and returns; a
// network thread of the sink's own connects, publishes and reconnects.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "publish/MqttSettings.h"
#include "worker/ReadingSink.h"

inline constexpr std::size_t kMqttQueueCapacity = 10000;

class MqttConnection;

class MqttSink : public IReadingSink {
public:
    // The settings as read; an empty prefix or client id follows at Begin from this machine's
    // name and the supply's port (EffectivePrefix). queueCapacity: readings held while the broker
    // is away; beyond it the oldest are dropped.
    explicit MqttSink(MqttSettings settings, std::size_t queueCapacity = kMqttQueueCapacity);
    ~MqttSink() override;
    MqttSink(const MqttSink&) = delete;
    MqttSink& operator=(const MqttSink&) = delete;

    void Begin(const SupplyIdentity& identity, const platform::LocalDateTime& started) override;
    void Record(const CycleRecord& record) override;
    // Publishes "offline" and gives the queue a short, bounded time to drain.
    void End() override;
    std::string Problem() const override;

    // Readings dropped because the queue was full while the broker was away.
    uint64_t DroppedMessages() const;
    // The broker accepted the connection and the queue has been handed over.
    bool Connected() const;

private:
    MqttSettings settings_;
    std::size_t capacity_;
    std::shared_ptr<MqttConnection> connection_;
    std::thread network_; // joinable from Begin until End
};

// The publisher for one worker, or nullptr where this build cannot publish (said once on
// standard error).
std::unique_ptr<IReadingSink> MakeMqttSink(const MqttSettings& settings);
