#include "worker/ubaseThread.h"

#include <chrono>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "common/Errors.h"
#include "common/uCheckAll.h"
#include "protocol/Protocol.h"

TCommandQueue CommandQueue;
std::atomic<bool> StopRequested{false};
std::atomic<TbaseThread*> Worker{nullptr};
std::string PollCommand = CmdReadAll;

// ---- TCommandQueue ---------------------------------------------------------------------------

void TCommandQueue::Append(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
}

std::optional<std::string> TCommandQueue::TakeFirst() {
    std::lock_guard lock(mutex_);
    if (lines_.empty())
        return std::nullopt;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
}

std::size_t TCommandQueue::Count() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
}

void TCommandQueue::Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

// ---- TEvent ----------------------------------------------------------------------------------

void TEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_all();
}

void TEvent::Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool TEvent::WaitFor(int32_t timeoutMs) {
    // A negative duration waits not at all.
    const auto timeout = std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [this] { return signalled_; });
}

// ---- TbaseThread -----------------------------------------------------------------------------

TbaseThread::TbaseThread(ISyncCaller& sync, IReadingsView& view) : sync_(sync), view_(view) {}

TbaseThread::~TbaseThread() {
    // Last act outside this object: only clear Worker when it still names this worker.
    TbaseThread* self = this;
    Worker.compare_exchange_strong(self, nullptr);
}

void TbaseThread::Start() {
    try {
        std::thread(&TbaseThread::ThreadBody, this).detach();
    } catch (const std::system_error& error) {
        throw std::runtime_error(std::string("Thread creation error: ") + error.what());
    }
}

void TbaseThread::ThreadBody(TbaseThread* self) {
    try {
        self->Execute();
    } catch (...) {
        // Any failure ends the worker silently, like a stop request.
    }
    delete self;
}

bool TbaseThread::ShouldStop() const {
    return StopRequested || stopFlag_;
}

void TbaseThread::Execute() {
    while (true) {
        if (ShouldStop())
            return;
        WaitInterval(Interval);
        if (ShouldStop())
            return;
        SendQueuedCommand();
        if (ShouldStop())
            return;
        PollReadings();
    }
}

void TbaseThread::WaitInterval(int32_t milliseconds) {
    // Nothing signals the event, so every wait lasts the full interval.
    WaitEvent.Reset();
    WaitEvent.WaitFor(milliseconds);
}

void TbaseThread::SendQueuedCommand() {
    // The line leaves the queue before it is sent; a failed send loses it.
    if (const std::optional<std::string> line = CommandQueue.TakeFirst())
        Transact(*line);
}

void TbaseThread::PollReadings() {
    const std::string reply = Transact(PollCommand);
    if (reply.empty())
        return;
    try {
        sync_.Synchronize([&] {
            ParseReadings(reply);
            ShowReadings();
        });
    } catch (const EConvertError&) {
        // The reply is dropped whole; the next cycle polls again.
        ++DroppedReplies;
    }
}

void TbaseThread::ParseReadings(const std::string& reply) {
    ++SampleCount;
    const ReadingsTexts texts = SplitReadingsReply(reply);
    LastVoltageText = texts.voltage;
    LastCurrentText = texts.current;
    LastPowerText = texts.power;
    // All three convert before any point is appended, so a bad reply leaves no partial sample.
    const double volts = MeasurementToDouble(LastVoltageText);
    const double amperes = MeasurementToDouble(LastCurrentText);
    const double watts = MeasurementToDouble(LastPowerText);
    view_.AppendSample(SampleCount, volts, amperes, watts);
}

void TbaseThread::ShowReadings() {
    view_.ShowReadingTexts(LastVoltageText, LastCurrentText, LastPowerText);
}

std::string TbaseThread::Transact(const std::string& command) {
    std::string reply;
    ComTransact(PortNumberText(ComPortName), std::to_string(ComBaudRate), command, true, reply);
    return reply;
}
