#include "MqttBroker.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// A port that nothing listens on now; the broker binds it a moment later.
int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free port");
    close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string CurrentUserName() {
    const passwd* entry = getpwuid(getuid());
    return entry ? entry->pw_name : "root";
}

std::string BrokerProgram() {
    for (const char* path : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto"})
        if (access(path, X_OK) == 0)
            return path;
    throw std::runtime_error("mosquitto is not installed (scripts/install-deps)");
}

} // namespace

TestCertificates::TestCertificates(const std::string& dir)
    : caFile(dir + "ca.pem"), certFile(dir + "server.pem"), keyFile(dir + "server.key") {
    const std::string quiet = " 2>/dev/null";
    Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=psu-test-ca -keyout " + dir +
        "ca.key -out " + caFile + quiet);
    Run("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + keyFile + " -out " +
        dir + "server.csr" + quiet);
    WriteFile(dir + "server.ext", "subjectAltName=IP:127.0.0.1\n");
    Run("openssl x509 -req -days 2 -in " + dir + "server.csr -CA " + caFile + " -CAkey " + dir +
        "ca.key -CAcreateserial -extfile " + dir + "server.ext -out " + certFile + quiet);
}

MosquittoBroker::MosquittoBroker(BrokerOptions options) : port_(FreeLoopbackPort()) {
    std::string config = "listener " + std::to_string(port_) + " 127.0.0.1\n" + "user " +
                         CurrentUserName() + "\n" + "persistence true\n" + "persistence_location " +
                         dir_.Path() + "\n" + "log_dest file " + dir_.Path() + "broker.log\n" +
                         "log_type all\n";
    if (options.users.empty()) {
        config += "allow_anonymous true\n";
    } else {
        const std::string passwords = dir_.Path() + "passwords";
        bool first = true;
        for (const auto& [user, password] : options.users) {
            Run("mosquitto_passwd -b " + std::string(first ? "-c " : "") + passwords + " " + user +
                " " + password);
            first = false;
        }
        config += "allow_anonymous false\npassword_file " + passwords + "\n";
    }
    if (options.tls)
        config += "cafile " + options.tls->caFile + "\ncertfile " + options.tls->certFile +
                  "\nkeyfile " + options.tls->keyFile + "\n";
    WriteFile(dir_.Path() + "mosquitto.conf", config);
    Start();
}

MosquittoBroker::~MosquittoBroker() {
    Stop();
}

void MosquittoBroker::Start() {
    const std::string program = BrokerProgram();
    const std::string config = dir_.Path() + "mosquitto.conf";
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A test process that dies (a sanitizer's halt) takes its broker with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (!WaitUntil([&] { return Accepts(port_); }))
        throw std::runtime_error("the broker did not start: " + Log());
}

void MosquittoBroker::Stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::string MosquittoBroker::Log() const {
    return ReadFile(dir_.Path() + "broker.log");
}

MqttSubscriber::MqttSubscriber(int port, const std::string& topicFilter, SubscriberOptions options)
    : topicFilter_(topicFilter) {
    mosquitto_lib_init();
    const bool persistent = !options.persistentClientId.empty();
    mosq_ =
        mosquitto_new(persistent ? options.persistentClientId.c_str() : nullptr, !persistent, this);
    if (!mosq_)
        throw std::runtime_error("mosquitto_new failed");
    mosquitto_connect_callback_set(mosq_, &MqttSubscriber::OnConnect);
    mosquitto_message_callback_set(mosq_, &MqttSubscriber::OnMessage);
    mosquitto_subscribe_callback_set(mosq_, &MqttSubscriber::OnSubscribe);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    if (!options.caFile.empty() && mosquitto_tls_set(mosq_, options.caFile.c_str(), nullptr,
                                                     nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("mosquitto_tls_set failed");
    if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("the subscriber could not connect");
    // What is published from here on reaches it.
    if (!WaitUntil([this] { return subscribed_.load(); }))
        throw std::runtime_error("the subscription was not acknowledged");
}

MqttSubscriber::~MqttSubscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void MqttSubscriber::OnConnect(mosquitto* mosq, void* self, int rc) {
    if (rc == 0)
        mosquitto_subscribe(mosq, nullptr, static_cast<MqttSubscriber*>(self)->topicFilter_.c_str(),
                            1);
}

void MqttSubscriber::OnSubscribe(mosquitto*, void* self, int, int, const int*) {
    static_cast<MqttSubscriber*>(self)->subscribed_ = true;
}

void MqttSubscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* subscriber = static_cast<MqttSubscriber*>(self);
    ReceivedMessage received{message->topic,
                             std::string(static_cast<const char*>(message->payload),
                                         static_cast<std::size_t>(message->payloadlen)),
                             message->retain, std::chrono::steady_clock::now()};
    std::lock_guard lock(subscriber->mutex_);
    subscriber->messages_.push_back(std::move(received));
}

std::vector<ReceivedMessage> MqttSubscriber::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> MqttSubscriber::Payloads(const std::string& topic) const {
    std::vector<std::string> payloads;
    for (const ReceivedMessage& message : Messages())
        if (message.topic == topic)
            payloads.push_back(message.payload);
    return payloads;
}

bool MqttSubscriber::WaitFor(
    const std::function<bool(const std::vector<ReceivedMessage>&)>& condition,
    std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return condition(Messages()); }, limit);
}

bool MqttSubscriber::WaitForCount(const std::string& topic, std::size_t count,
                                  std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return Payloads(topic).size() >= count; }, limit);
}

} // namespace testsupport
