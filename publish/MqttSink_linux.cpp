// The publisher on POSIX systems, where libmosquitto is packaged. The network thread is our own
// and drives the library through its socket (poll, then loop_read / loop_write / loop_misc): so
// that every library call happens on that one thread, a queued reading can wake it at once, and a
// refused certificate or a name that does not resolve is retried here, with a growing delay,
// instead of ending the library's own loop thread for good.

#include "publish/MqttSink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/uCheckAll.h"
#include "publish/MqttPayload.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveSeconds = 30;
constexpr std::chrono::seconds kFirstRetryDelay{1};
constexpr std::chrono::seconds kLongestRetryDelay{30};
// End: the queue and "offline" get this long to reach the broker; the thread a little longer.
constexpr std::chrono::milliseconds kDrainLimit{2000};
constexpr std::chrono::milliseconds kThreadEndLimit{3000};
// How long one poll waits at most, so that the keep-alive is served.
constexpr int kPollMs = 1000;
// Readings handed to the library per turn, so that the queue's lock is never held for long.
constexpr std::size_t kBatch = 64;

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

int MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, kPollMs));
}

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

} // namespace

// Everything the network thread shares with the sink. Held by both, so that a thread that
// outlives the worker's End (a connect that hangs) still finds it.
class MqttConnection {
public:
    MqttConnection(MqttSettings settings, std::size_t capacity, std::string identityPayload)
        : settings_(std::move(settings)), capacity_(capacity),
          identityPayload_(std::move(identityPayload)), statusTopic_(settings_.prefix + "/status"),
          identityTopic_(settings_.prefix + "/identity"),
          readingTopic_(settings_.prefix + "/reading"),
          broker_(settings_.host + ":" + std::to_string(settings_.port)) {}

    ~MqttConnection() {
        if (mosq_)
            mosquitto_destroy(mosq_);
        if (wakeFd_ >= 0)
            close(wakeFd_);
    }

    // Sets the client up; false, with the problem said, when something is refused.
    bool Open() {
        InitLibraryOnce();
        wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wakeFd_ < 0)
            return Refuse(std::string("eventfd: ") + std::strerror(errno));
        mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
        if (!mosq_)
            return Refuse(std::string("mosquitto_new: ") + std::strerror(errno));
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_callback_set(mosq_, &MqttConnection::OnConnect);
        mosquitto_publish_callback_set(mosq_, &MqttConnection::OnPublish);
        mosquitto_log_callback_set(mosq_, &MqttConnection::OnLog);
        int rc = mosquitto_will_set(mosq_, statusTopic_.c_str(),
                                    static_cast<int>(std::strlen(kStatusOffline)), kStatusOffline,
                                    settings_.qos, true);
        if (rc != MOSQ_ERR_SUCCESS)
            return Refuse("prefix=" + settings_.prefix + ": " + mosquitto_strerror(rc));
        if (!settings_.username.empty()) {
            rc = mosquitto_username_pw_set(mosq_, settings_.username.c_str(),
                                           settings_.password.empty() ? nullptr
                                                                      : settings_.password.c_str());
            if (rc != MOSQ_ERR_SUCCESS)
                return Refuse(std::string("username: ") + mosquitto_strerror(rc));
        }
        if (!settings_.caFile.empty()) {
            rc = mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr, nullptr, nullptr,
                                   nullptr);
            if (rc != MOSQ_ERR_SUCCESS)
                return Refuse("cafile=" + settings_.caFile + " 无法使用：" +
                              mosquitto_strerror(rc));
        }
        return true;
    }

    // On the worker's thread: queue the reading, wake the network thread when it can send.
    void Enqueue(std::string payload) {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            if (queue_.size() >= capacity_) {
                queue_.pop_front();
                ++dropped_;
                overflowing_ = true;
            }
            queue_.push_back(std::move(payload));
            wake = sessionReady_;
        }
        if (wake)
            Wake();
    }

    // The network thread's body.
    void Run() {
        bool socketOpen = StartConnect(true);
        auto retryDelay = kFirstRetryDelay;
        while (true) {
            if (!socketOpen) {
                if (!WaitToRetry(retryDelay))
                    break;
                retryDelay = std::min(retryDelay * 2, kLongestRetryDelay);
                socketOpen = StartConnect(false);
                continue;
            }
            if (SessionReady()) {
                retryDelay = kFirstRetryDelay;
                HandQueueOver();
            }
            const std::optional<Clock::time_point> finishBy = FinishDeadline();
            if (finishBy && FinishStep(*finishBy))
                break;
            const int rc = Pump(finishBy ? MsUntil(*finishBy) : kPollMs);
            if (rc != MOSQ_ERR_SUCCESS) {
                Lose(rc);
                socketOpen = false;
            } else if (accepted_) {
                Announce();
            }
        }
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    // The worker is done: drain, say "offline", disconnect; the thread then ends.
    void Finish() {
        {
            std::lock_guard lock(mutex_);
            finishBy_ = Clock::now() + kDrainLimit;
        }
        changed_.notify_all();
        Wake();
    }

    // True when the network thread ended within the limit.
    bool WaitEnded(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return ended_; });
    }

    std::string Problem() const {
        std::lock_guard lock(mutex_);
        if (!overflowing_)
            return problem_;
        return (problem_.empty() ? "MQTT：" : problem_ + "；") + "发送队列已满，最早的读数已丢弃";
    }

    uint64_t Dropped() const {
        std::lock_guard lock(mutex_);
        return dropped_;
    }

    bool SessionReady() const {
        std::lock_guard lock(mutex_);
        return sessionReady_;
    }

private:
    static void OnConnect(mosquitto*, void* self, int reason) {
        static_cast<MqttConnection*>(self)->Connected(reason);
    }
    // For QoS 0 the library calls this once the message is written, for QoS 1 at its PUBACK;
    // possibly inside mosquitto_publish, before the count of handed-over messages grows.
    static void OnPublish(mosquitto*, void* self, int) {
        ++static_cast<MqttConnection*>(self)->confirmed_;
    }
    static void OnLog(mosquitto*, void* self, int level, const char* text) {
        // The library's own account of a failure (a certificate that does not verify) is the
        // best cause to show; it never holds the password.
        if (level == MOSQ_LOG_ERR)
            static_cast<MqttConnection*>(self)->libraryError_ = text;
    }

    bool Refuse(const std::string& why) {
        SetProblem("MQTT：" + why);
        return false;
    }

    void SetProblem(std::string problem) {
        std::lock_guard lock(mutex_);
        problem_ = std::move(problem);
    }

    // Called back inside loop_read; publishing waits for Announce, outside the callback, where
    // the library's own locks are not held.
    void Connected(int reason) {
        if (reason == 0) {
            accepted_ = true;
            return;
        }
        refused_ = true;
        SetProblem("MQTT：broker " + broker_ + " 拒绝连接：" + mosquitto_reason_string(reason) +
                   "，稍后重试");
    }

    // A will may have said "offline" while the broker was away: say "online" again, and the
    // identity for a broker that forgot it.
    void Announce() {
        accepted_ = false;
        Publish(statusTopic_, kStatusOnline, true);
        Publish(identityTopic_, identityPayload_, true);
        std::lock_guard lock(mutex_);
        sessionReady_ = true;
        problem_.clear();
    }

    bool StartConnect(bool first) {
        refused_ = false;
        libraryError_.clear();
        const int rc = first ? mosquitto_connect_async(mosq_, settings_.host.c_str(),
                                                       settings_.port, kKeepAliveSeconds)
                             : mosquitto_reconnect_async(mosq_);
        if (rc == MOSQ_ERR_SUCCESS)
            return true;
        Lose(rc);
        return false;
    }

    // Waits out the delay; false when the worker finished meanwhile.
    bool WaitToRetry(std::chrono::seconds delay) {
        std::unique_lock lock(mutex_);
        return !changed_.wait_for(lock, delay, [this] { return finishBy_.has_value(); });
    }

    void Lose(int rc) {
        const int savedErrno = errno;
        accepted_ = false;
        if (settings_.qos == 0)
            confirmed_ = handedOver_; // gone with the socket; QoS 1 ones are sent again
        std::string cause = !libraryError_.empty() ? libraryError_
                            : rc == MOSQ_ERR_ERRNO ? std::strerror(savedErrno)
                                                   : mosquitto_strerror(rc);
        std::lock_guard lock(mutex_);
        sessionReady_ = false;
        if (!refused_)
            problem_ = "MQTT：无法连接 broker " + broker_ + "（" + cause + "），稍后重试";
    }

    void HandQueueOver() {
        std::vector<std::string> batch;
        while (true) {
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) {
                    overflowing_ = false;
                    return;
                }
                const std::size_t count = std::min(kBatch, queue_.size());
                batch.assign(std::make_move_iterator(queue_.begin()),
                             std::make_move_iterator(queue_.begin() + count));
                queue_.erase(queue_.begin(), queue_.begin() + count);
            }
            for (const std::string& payload : batch)
                Publish(readingTopic_, payload, false);
        }
    }

    void Publish(const std::string& topic, const std::string& payload, bool retain) {
        const int rc =
            mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), settings_.qos, retain);
        if (rc == MOSQ_ERR_SUCCESS) {
            ++handedOver_;
            return;
        }
        std::lock_guard lock(mutex_);
        ++dropped_;
    }

    std::optional<Clock::time_point> FinishDeadline() const {
        std::lock_guard lock(mutex_);
        return finishBy_;
    }

    // One step of the end; true when the thread may end.
    bool FinishStep(Clock::time_point deadline) {
        if (!SessionReady())
            return true; // nothing can go out; the will, or no session at all, says the rest
        if (Clock::now() >= deadline) {
            // The broker says "offline" for us when we ask it to publish the will.
            Disconnect(MQTT_RC_DISCONNECT_WITH_WILL_MSG);
            return true;
        }
        if (!offlineSent_) {
            std::lock_guard lock(mutex_);
            if (!queue_.empty())
                return false;
        }
        if (!offlineSent_) {
            Publish(statusTopic_, kStatusOffline, true);
            offlineSent_ = true;
            return false;
        }
        if (confirmed_ < handedOver_)
            return false;
        Disconnect(MQTT_RC_NORMAL_DISCONNECTION);
        return true;
    }

    void Disconnect(int reason) {
        mosquitto_disconnect_v5(mosq_, reason, nullptr);
        // Let the DISCONNECT packet out, briefly.
        const auto deadline = Clock::now() + std::chrono::milliseconds(200);
        while (mosquitto_want_write(mosq_) && Clock::now() < deadline) {
            pollfd fd{mosquitto_socket(mosq_), POLLOUT, 0};
            if (poll(&fd, 1, MsUntil(deadline)) <= 0 ||
                mosquitto_loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS)
                break;
        }
    }

    // Waits for the socket or a wake-up, then lets the library read, write and keep alive.
    int Pump(int timeoutMs) {
        const short events = POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0);
        pollfd fds[2] = {{mosquitto_socket(mosq_), events, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
            return MOSQ_ERR_ERRNO;
        if (fds[1].revents & POLLIN) {
            eventfd_t ignored;
            eventfd_read(wakeFd_, &ignored);
        }
        int rc = MOSQ_ERR_SUCCESS;
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP))
            rc = mosquitto_loop_read(mosq_, 1);
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq_))
            rc = mosquitto_loop_write(mosq_, 1);
        return rc == MOSQ_ERR_SUCCESS ? mosquitto_loop_misc(mosq_) : rc;
    }

    void Wake() { eventfd_write(wakeFd_, 1); }

    const MqttSettings settings_;
    const std::size_t capacity_;
    const std::string identityPayload_, statusTopic_, identityTopic_, readingTopic_, broker_;
    mosquitto* mosq_ = nullptr;
    int wakeFd_ = -1;

    // Touched by the network thread only (the library calls back on it).
    uint64_t handedOver_ = 0, confirmed_ = 0; // messages given to the library, and seen out
    std::string libraryError_;
    bool refused_ = false;  // the broker refused this attempt's credentials
    bool accepted_ = false; // the broker accepted; Announce is due
    bool offlineSent_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    uint64_t dropped_ = 0;
    bool overflowing_ = false;
    bool sessionReady_ = false;
    bool ended_ = false;
    std::optional<Clock::time_point> finishBy_;
    std::string problem_;
};

MqttSink::MqttSink(MqttSettings settings, std::size_t queueCapacity)
    : settings_(std::move(settings)), capacity_(queueCapacity) {}

MqttSink::~MqttSink() {
    End();
}

void MqttSink::Begin(const SupplyIdentity& identity, const platform::LocalDateTime&) {
    MqttSettings inForce = settings_;
    inForce.prefix = EffectivePrefix(settings_, LocalHostName(), identity.portName);
    inForce.clientId = EffectiveClientId(settings_, inForce.prefix);
    connection_ =
        std::make_shared<MqttConnection>(std::move(inForce), capacity_, IdentityPayload(identity));
    if (connection_->Open())
        network_ = std::thread([connection = connection_] { connection->Run(); });
}

void MqttSink::Record(const CycleRecord& record) {
    if (connection_ && record.reading)
        connection_->Enqueue(ReadingPayload(record));
}

void MqttSink::End() {
    if (!network_.joinable())
        return;
    connection_->Finish();
    if (connection_->WaitEnded(kThreadEndLimit)) {
        network_.join();
    } else {
        // A connect that hangs (a name server that does not answer): the thread holds the
        // connection and ends on its own; the worker does not wait for it.
        network_.detach();
        WriteConsoleLine("MQTT：与 broker " + settings_.host + " 的连接未能及时结束，已放弃等待");
    }
    if (const uint64_t dropped = connection_->Dropped())
        WriteConsoleLine("MQTT：" + std::to_string(dropped) +
                         " 条读数未能发布（broker 不可达时队列已满）");
}

std::string MqttSink::Problem() const {
    return connection_ ? connection_->Problem() : std::string();
}

uint64_t MqttSink::DroppedMessages() const {
    return connection_ ? connection_->Dropped() : 0;
}

bool MqttSink::Connected() const {
    return connection_ && connection_->SessionReady();
}

std::unique_ptr<IReadingSink> MakeMqttSink(const MqttSettings& settings) {
    return std::make_unique<MqttSink>(settings);
}
