#include "record/CsvRecordingSink.h"

#include <filesystem>
#include <system_error>

#include "record/CsvFormat.h"

namespace {

// Enough for the connects of one second on one port.
constexpr int kMaxNameAttempts = 100;

} // namespace

CsvRecordingSink::CsvRecordingSink(std::string base, std::chrono::milliseconds syncEvery)
    : base_(std::move(base)), syncEvery_(syncEvery) {}

CsvRecordingSink::~CsvRecordingSink() {
    StopSyncing();
}

void CsvRecordingSink::Begin(const SupplyIdentity& identity,
                             const platform::LocalDateTime& started) {
    const std::string directory = RecordingDirectory(base_, started);
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error)
        return SetProblem("无法创建记录目录 " + directory + "：" + error.message());
    if (!CreateFile(directory, RecordingStem(started, identity.portName)))
        return;
    if (!Append(kRecordingHeader)) {
        // Rows without their header would not read as a recording: none this time.
        file_.reset();
        std::filesystem::remove(Path(), error);
        std::lock_guard lock(mutex_);
        path_.clear();
        return;
    }
    WriteDeviceFile(identity);
    syncer_ = std::thread(&CsvRecordingSink::SyncLoop, this);
}

bool CsvRecordingSink::CreateFile(const std::string& directory, const std::string& stem) {
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        std::string path = directory + stem;
        if (attempt > 1)
            path += '_' + std::to_string(attempt);
        path += ".csv";
        platform::CreatedRecordFile created = platform::CreateRecordFile(path);
        if (created.file) {
            file_ = std::move(created.file);
            std::lock_guard lock(mutex_);
            path_ = path;
            return true;
        }
        if (created.error != std::errc::file_exists) {
            SetProblem("无法创建记录文件 " + path + "：" + created.error.message());
            return false;
        }
    }
    SetProblem("无法创建记录文件：" + directory + stem + ".csv 及其后续名称均已存在");
    return false;
}

void CsvRecordingSink::WriteDeviceFile(const SupplyIdentity& identity) {
    const std::string path = path_.substr(0, path_.size() - 4) + ".ini";
    if (!platform::ReplaceFileAtomically(path, DeviceProfile(identity)))
        SetProblem("无法写入设备信息文件 " + path);
}

void CsvRecordingSink::Record(const CycleRecord& record) {
    if (file_)
        Append(RecordingRow(record));
}

bool CsvRecordingSink::Append(const std::string& text) {
    // A failed row is lost; the next one is tried again, so the recording goes on once there is
    // room. The rows never wait for the disk.
    if (const std::error_code error = file_->Append(text)) {
        SetProblem("记录文件 " + path_ + " 有行未能写入：" + error.message());
        return false;
    }
    std::lock_guard lock(mutex_);
    unsynced_ = true;
    return true;
}

void CsvRecordingSink::SyncLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, syncEvery_, [this] { return stopping_; });
        if (!unsynced_)
            continue;
        unsynced_ = false;
        lock.unlock();
        SyncNow();
        lock.lock();
    }
}

void CsvRecordingSink::SyncNow() {
    if (const std::error_code error = file_->Sync())
        SetProblem("无法把记录写到磁盘 " + path_ + "：" + error.message());
}

void CsvRecordingSink::End() {
    StopSyncing();
    if (file_)
        SyncNow();
    file_.reset();
}

void CsvRecordingSink::StopSyncing() {
    if (!syncer_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    syncer_.join();
}

void CsvRecordingSink::SetProblem(const std::string& problem) {
    std::lock_guard lock(mutex_);
    if (problem_.empty())
        problem_ = problem;
}

std::string CsvRecordingSink::Problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

std::string CsvRecordingSink::Path() const {
    std::lock_guard lock(mutex_);
    return path_;
}
