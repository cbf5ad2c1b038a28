#include "support/WorkerTestSupport.h"

#include <stdexcept>

namespace workertest {

// ---- RecordingView ---------------------------------------------------------------------------

void RecordingView::AppendSample(double sample, double volts, double amperes, double watts) {
    std::lock_guard lock(mutex_);
    if (failAppends_)
        throw std::logic_error("chart refused the point");
    samples_.push_back({sample, volts, amperes, watts});
    threads_.push_back(std::this_thread::get_id());
}

void RecordingView::ShowReadingTexts(const std::string& volts, const std::string& amperes,
                                     const std::string& watts) {
    std::lock_guard lock(mutex_);
    shown_.push_back({volts, amperes, watts});
    marks_ += 'S';
    threads_.push_back(std::this_thread::get_id());
}

void RecordingView::ShowReadingMissing() {
    std::lock_guard lock(mutex_);
    marks_ += 'M';
    threads_.push_back(std::this_thread::get_id());
}

void RecordingView::ShowWorkerEnded() {
    std::lock_guard lock(mutex_);
    marks_ += 'E';
    threads_.push_back(std::this_thread::get_id());
}

void RecordingView::ShowSinkProblem(const std::string& problem) {
    std::lock_guard lock(mutex_);
    sinkProblems_.push_back(problem);
    threads_.push_back(std::this_thread::get_id());
}

std::vector<std::string> RecordingView::SinkProblems() const {
    std::lock_guard lock(mutex_);
    return sinkProblems_;
}

std::string RecordingView::Marks() const {
    std::lock_guard lock(mutex_);
    return marks_;
}

std::vector<Sample> RecordingView::Samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

std::vector<Texts> RecordingView::Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

std::vector<std::thread::id> RecordingView::CallerThreads() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

void RecordingView::FailAppends() {
    std::lock_guard lock(mutex_);
    failAppends_ = true;
}

// ---- WindowThread ----------------------------------------------------------------------------

WindowThread::WindowThread() : thread_([this] { Run(); }) {}

WindowThread::~WindowThread() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void WindowThread::Synchronize(const std::function<void()>& routine) {
    std::packaged_task<void()> task(routine);
    std::future<void> result = task.get_future();
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
    result.get(); // rethrows what the routine threw
}

void WindowThread::Run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return done_ || !tasks_.empty(); });
        if (tasks_.empty())
            return;
        std::packaged_task<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

// ---- Script ----------------------------------------------------------------------------------

void Script::AddPollReplies(std::initializer_list<std::string> replies) {
    std::lock_guard lock(mutex_);
    pollReplies_.insert(pollReplies_.end(), replies);
}

void Script::FailPolls() {
    std::lock_guard lock(mutex_);
    failPolls_ = true;
}

void Script::BlockOn(const std::string& command) {
    std::lock_guard lock(mutex_);
    blockOn_ = command;
}

bool Script::Blocked() const {
    std::lock_guard lock(mutex_);
    return blocked_;
}

void Script::Release() {
    {
        std::lock_guard lock(mutex_);
        release_ = true;
    }
    released_.notify_all();
}

std::vector<std::string> Script::Sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::size_t Script::SentCount() const {
    std::lock_guard lock(mutex_);
    return sent_.size();
}

int64_t Script::DroppedAtEnd() const {
    std::lock_guard lock(mutex_);
    return droppedAtEnd_;
}

std::string Script::Answer(const std::string& command) {
    std::unique_lock lock(mutex_);
    sent_.push_back(command);
    if (!blockOn_.empty() && command == blockOn_ && !blocked_) {
        blocked_ = true;
        released_.wait(lock, [this] { return release_; });
    }
    if (command != PollCommand)
        return "OK";
    if (failPolls_)
        throw std::runtime_error("port exploded");
    if (pollReplies_.empty())
        return {};
    std::string reply = std::move(pollReplies_.front());
    pollReplies_.pop_front();
    return reply;
}

void Script::RecordEnd(int64_t droppedReplies) {
    std::lock_guard lock(mutex_);
    droppedAtEnd_ = droppedReplies;
}

// ---- SinkLog ---------------------------------------------------------------------------------

std::vector<SupplyIdentity> SinkLog::Begun() const {
    std::lock_guard lock(mutex_);
    return begun_;
}

std::vector<CycleRecord> SinkLog::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

int SinkLog::Ends() const {
    std::lock_guard lock(mutex_);
    return ends_;
}

void SinkLog::SetProblem(std::string problem) {
    std::lock_guard lock(mutex_);
    problem_ = std::move(problem);
}

void SinkLog::Begun(const SupplyIdentity& identity) {
    std::lock_guard lock(mutex_);
    begun_.push_back(identity);
}

void SinkLog::Recorded(const CycleRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

void SinkLog::Ended() {
    std::lock_guard lock(mutex_);
    ++ends_;
}

std::string SinkLog::Problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

} // namespace workertest
