#pragma once
// Records a worker's cycles as one CSV file under base/<year>/<month>/, with the supply's identity
// in an .ini file of the same name beside it.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "worker/ReadingSink.h"

class CsvRecordingSink : public IReadingSink {
public:
    // base ends in the separator. Rows reach the disk itself at least every syncEvery.
    explicit CsvRecordingSink(std::string base,
                              std::chrono::milliseconds syncEvery = std::chrono::seconds(2));
    ~CsvRecordingSink() override;

    void Begin(const SupplyIdentity& identity, const platform::LocalDateTime& started) override;
    void Record(const CycleRecord& record) override;
    void End() override;
    std::string Problem() const override;

    // The recording's path once Begin has made it, else empty. Any thread may ask.
    std::string Path() const;

private:
    bool CreateFile(const std::string& directory, const std::string& stem);
    void WriteDeviceFile(const SupplyIdentity& identity);
    bool Append(const std::string& text);
    void SyncLoop();
    void SyncNow();
    void StopSyncing();
    // Keeps the first problem of this recording: later ones follow from it, or are of the same
    // kind, and the operator is told once.
    void SetProblem(const std::string& problem);

    const std::string base_;
    const std::chrono::milliseconds syncEvery_;
    std::unique_ptr<platform::RecordFile> file_;

    mutable std::mutex mutex_; // guards everything below, shared with the sync thread and Path()
    std::string path_;
    std::string problem_;
    bool unsynced_ = false;
    bool stopping_ = false;
    std::condition_variable wake_;
    // fdatasync can take long on a slow or busy disk (tens of milliseconds, seconds on a failing
    // stick or a network drive). On the worker's thread that would delay the next poll, so it
    // runs here; each row is still written by the worker at once, which is what a killed process
    // needs. The thread exists only while a file is open.
    std::thread syncer_;
};
