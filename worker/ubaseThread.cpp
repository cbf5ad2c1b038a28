#include "worker/ubaseThread.h"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "common/Clock.h"
#include "common/Errors.h"
#include "common/uCheckAll.h"
#include "protocol/Protocol.h"

TCommandQueue CommandQueue;
std::atomic<bool> StopRequested{false};
std::atomic<TbaseThread*> Worker{nullptr};
std::string PollCommand = CmdReadAll;

namespace {

// Held by a stop request while it reaches the worker, and by the worker's destructor while it
// clears Worker: a request never meets a worker that is being freed.
std::mutex workerLock;

} // namespace

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
    std::lock_guard lock(workerLock);
    TbaseThread* self = this;
    Worker.compare_exchange_strong(self, nullptr);
}

void LaunchWorker(std::unique_ptr<TbaseThread> worker) {
    Worker = worker.get();
    try {
        worker->Start();
    } catch (...) {
        Worker = nullptr;
        throw;
    }
    worker.release(); // the running worker deletes itself
}

void RequestWorkerStop() {
    std::lock_guard lock(workerLock);
    if (TbaseThread* running = Worker.load())
        running->RequestStop();
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
        if (self->Sink)
            self->Sink->Begin(self->Identity, LocalNow());
        self->Execute();
    } catch (const std::exception& error) {
        WriteConsoleLine(std::string("采集已因错误停止：") + error.what());
    } catch (...) {
        WriteConsoleLine("采集已因未知错误停止。");
    }
    if (self->Sink)
        self->Sink->End();
    self->ShowEnded();
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
        cycleEvent_ = *line + " -> " + Transact(*line);
}

void TbaseThread::PollReadings() {
    const std::string reply = Transact(PollCommand);
    if (reply.empty()) {
        ShowMissing();
        return RecordCycle(std::nullopt);
    }
    try {
        sync_.Synchronize([&] {
            ParseReadings(reply);
            ShowReadings();
        });
    } catch (const EConvertError&) {
        // The reply is dropped whole; the next cycle polls again.
        ++DroppedReplies;
        ShowMissing();
        return RecordCycle(std::nullopt);
    }
    RecordCycle(lastMeasurement_);
}

void TbaseThread::RecordCycle(const std::optional<Measurement>& reading) {
    std::string event = std::move(cycleEvent_);
    cycleEvent_.clear();
    if (!Sink || (!reading && event.empty()))
        return;
    Sink->Record({LocalNow(), SampleBase + SampleCount, reading, std::move(event)});
    ReportSinkProblem();
}

void TbaseThread::ReportSinkProblem() {
    std::string problem = Sink->Problem();
    if (problem == sinkProblem_)
        return;
    sinkProblem_ = std::move(problem);
    if (!sinkProblem_.empty())
        WriteConsoleLine(sinkProblem_);
    sync_.Synchronize([this] { view_.ShowSinkProblem(sinkProblem_); });
}

void TbaseThread::ShowMissing() {
    sync_.Synchronize([this] { view_.ShowReadingMissing(); });
}

void TbaseThread::ShowEnded() {
    try {
        sync_.Synchronize([this] { view_.ShowWorkerEnded(); });
    } catch (const std::exception& error) {
        WriteConsoleLine(std::string("采集结束时无法更新窗口：") + error.what());
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
    view_.AppendSample(SampleBase + SampleCount, volts, amperes, watts);
    lastMeasurement_ = {volts, amperes, watts};
}

void TbaseThread::ShowReadings() {
    view_.ShowReadingTexts(LastVoltageText, LastCurrentText, LastPowerText);
}

std::string TbaseThread::Transact(const std::string& command) {
    std::string reply;
    ComTransact(PortNumberText(ComPortName), std::to_string(ComBaudRate), command, true, reply);
    ReportCauseChange(ComPortName);
    return reply;
}

void TbaseThread::ReportCauseChange(const std::string& portName) {
    const TransactCause cause = LastTransactCause();
    if (cause.failure == lastFailure_)
        return;
    lastFailure_ = cause.failure;
    WriteConsoleLine(portName + ": " + DescribeTransactCause(cause));
}
