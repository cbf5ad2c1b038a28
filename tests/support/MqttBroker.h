#pragma once
// A real mosquitto broker on 127.0.0.1 at a free port, configured in a directory of its own, and
// a subscriber that keeps every message it receives.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/TestSupport.h"

struct mosquitto;
struct mosquitto_message;

namespace testsupport {

// A CA and a server certificate for 127.0.0.1 signed by it, made with openssl in dir.
struct TestCertificates {
    explicit TestCertificates(const std::string& dir);
    std::string caFile, certFile, keyFile;
};

struct BrokerOptions {
    // user:password pairs; when given, anonymous clients are refused.
    std::vector<std::pair<std::string, std::string>> users;
    // When given: the listener speaks TLS with this server certificate.
    const TestCertificates* tls = nullptr;
};

class MosquittoBroker {
public:
    explicit MosquittoBroker(BrokerOptions options = {});
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    int Port() const { return port_; }
    // Ends the broker (SIGTERM, which also saves its sessions); Start brings it back on the
    // same port with what it saved.
    void Stop();
    void Start();
    std::string Log() const;

private:
    TempDir dir_;
    int port_;
    pid_t pid_ = -1;
};

struct ReceivedMessage {
    std::string topic, payload;
    bool retained = false;
    std::chrono::steady_clock::time_point at;
};

struct SubscriberOptions {
    std::string caFile; // TLS when given
    // A session the broker keeps (and fills) while the subscriber or the broker is away.
    std::string persistentClientId;
};

class MqttSubscriber {
public:
    MqttSubscriber(int port, const std::string& topicFilter, SubscriberOptions options = {});
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    std::vector<ReceivedMessage> Messages() const;
    // The payloads received on the topic, in order.
    std::vector<std::string> Payloads(const std::string& topic) const;
    // Waits (with a limit) until the messages received so far satisfy the condition.
    bool WaitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& condition,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // Waits until the topic has received at least count messages.
    bool WaitForCount(const std::string& topic, std::size_t count,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnSubscribe(mosquitto*, void* self, int mid, int count, const int* grantedQos);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

    std::string topicFilter_;
    mosquitto* mosq_ = nullptr;
    std::atomic<bool> subscribed_{false};
    mutable std::mutex mutex_;
    std::vector<ReceivedMessage> messages_;
};

} // namespace testsupport
