// One command/reply exchange over a port that is opened for it and closed afterwards.

#include "common/uCheckAll.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>

#include "common/Clock.h"
#include "common/Errors.h"
#include "common/TextUtil.h"
#include "platform/Platform.h"

namespace {

constexpr std::size_t kMaxChunk = 1024;
const std::string kLineFeedHex = "0A";

// Each thread transacts on its own, so each keeps the cause of its own last failure.
thread_local TransactCause lastCause;

void Fail(TransactFailure failure, std::error_code systemError = {}) {
    lastCause.failure = failure;
    lastCause.systemError = systemError;
}

TransactFailure FailureOfOpen(platform::SerialErrorKind kind) {
    using platform::SerialErrorKind;
    switch (kind) {
    case SerialErrorKind::DeviceMissing:
        return TransactFailure::DeviceMissing;
    case SerialErrorKind::PortBusy:
        return TransactFailure::PortBusy;
    case SerialErrorKind::AccessDenied:
        return TransactFailure::AccessDenied;
    case SerialErrorKind::SettingsRefused:
        return TransactFailure::SettingsRefused;
    case SerialErrorKind::None:
    case SerialErrorKind::Failed:
        break;
    }
    return TransactFailure::OpenFailed;
}

// A value converted for the transaction; a text that does not convert is that failure.
bool ConvertOrFail(const std::string& text, TransactFailure failure, int32_t& value) {
    try {
        value = TextToInt(text);
        return true;
    } catch (const EConvertError&) {
        Fail(failure);
        return false;
    }
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void AppendHexPairs(std::string& work, const char* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < count; ++i) {
        const auto code = static_cast<unsigned char>(bytes[i]);
        work += kDigits[code >> 4];
        work += kDigits[code & 0x0F];
    }
}

void RemoveAll(std::string& text, char unwanted) {
    text.erase(std::remove(text.begin(), text.end(), unwanted), text.end());
}

// A write that reports no progress counts as failed, so the loop cannot spin.
bool WriteWhole(platform::SerialDevice& port, const std::string& line) {
    std::size_t written = 0;
    while (written < line.size()) {
        const long count = port.Write(line.data() + written, line.size() - written);
        if (count <= 0)
            return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

void FinishReply(std::string work, std::string& reply) {
    work.resize(work.size() - kLineFeedHex.size());
    reply = HexPairsToText(work);
    // Logged as received, before the line ends are taken out.
    WriteLog("rece:" + reply, "comm");
    RemoveAll(reply, '\n');
    RemoveAll(reply, '\r');
}

} // namespace

std::string PortNumberText(const std::string& portName) {
    constexpr std::size_t kSkipped = 3;
    constexpr std::size_t kMaxDigits = 3;
    if (portName.size() <= kSkipped)
        return {};
    return portName.substr(kSkipped, kMaxDigits);
}

TransactCause LastTransactCause() {
    return lastCause;
}

std::string DescribeTransactCause(const TransactCause& cause) {
    switch (cause.failure) {
    case TransactFailure::None:
        return "通信正常。";
    case TransactFailure::NoPort:
        return "未选择串口。";
    case TransactFailure::DeviceMissing:
        if (cause.devicePath.empty())
            return "该串口号没有对应的设备。";
        return "串口设备不存在：" + cause.devicePath + "。";
    case TransactFailure::PortBusy:
        return "串口已被其他程序占用。";
    case TransactFailure::AccessDenied:
        return "没有打开串口设备的权限：" + cause.devicePath + "。";
    case TransactFailure::SettingsRefused:
        return "串口不接受通信设置（波特率 " + cause.baudRateText + "）。";
    case TransactFailure::OpenFailed:
        return "无法打开串口：" + cause.systemError.message() + "。";
    case TransactFailure::SendFailed:
        return "命令未能完整发出。";
    case TransactFailure::NoReply:
        return "1 秒内没有收到完整的应答。";
    case TransactFailure::PortLost:
        return "等待应答时串口设备断开。";
    }
    return {};
}

void ComTransact(const std::string& portNumberText, const std::string& baudRateText,
                 const std::string& command, bool awaitReply, std::string& reply) {
    reply.clear();
    lastCause = {};
    lastCause.baudRateText = baudRateText;
    try {
        const std::string line = command + HexPairsToText(kLineFeedHex);
        int32_t baudRate = 0;
        int32_t portNumber = 0;
        if (!ConvertOrFail(baudRateText, TransactFailure::SettingsRefused, baudRate) ||
            !ConvertOrFail(portNumberText, TransactFailure::NoPort, portNumber))
            return;
        const PortHandle port = OpenComPort(portNumber, baudRate);
        if (port && !WriteWhole(*port, line))
            Fail(TransactFailure::SendFailed);
        if (lastCause.failure != TransactFailure::None) {
            WriteLog("send bad.", "COMM");
            return;
        }
        if (awaitReply)
            ReadComReply(*port, 1, reply);
    } catch (...) {
        // The transaction never raises: any failure is an empty reply.
        reply.clear();
        if (lastCause.failure == TransactFailure::None)
            Fail(TransactFailure::SendFailed);
    }
}

PortHandle OpenComPort(int32_t portNumber, int32_t baudRate) {
    lastCause.devicePath = platform::PortDevicePath(AppDir, portNumber);
    if (lastCause.devicePath.empty()) {
        Fail(TransactFailure::DeviceMissing);
        return nullptr;
    }
    platform::OpenedSerialDevice opened =
        platform::OpenSerialDevice(lastCause.devicePath, baudRate);
    if (!opened.device) {
        Fail(FailureOfOpen(opened.error.kind), opened.error.systemError);
        return nullptr;
    }
    // A late reply to an earlier transaction may still wait in the queue (a device kept open by
    // its other end keeps it): it belongs to no transaction, so it must not start this reply.
    opened.device->PurgeInput();
    return std::move(opened.device);
}

unsigned ComBytesWaiting(platform::SerialDevice& port) {
    const long waiting = port.BytesWaiting();
    if (waiting < 0)
        return 0;
    if (static_cast<unsigned long>(waiting) > kMaxChunk) {
        port.PurgeInput();
        return 0;
    }
    return static_cast<unsigned>(waiting);
}

void ReadComReply(platform::SerialDevice& port, unsigned timeLimitSeconds, std::string& reply) {
    using std::chrono::milliseconds;
    reply.clear();
    std::array<char, kMaxChunk + 1> buffer{};
    std::string work;
    const auto start = TickNow();
    const milliseconds limit(static_cast<long long>(timeLimitSeconds) * 1000);
    for (;;) {
        const auto elapsed = std::chrono::duration_cast<milliseconds>(TickNow() - start);
        if (elapsed > limit)
            return Fail(TransactFailure::NoReply);
        const unsigned waiting = ComBytesWaiting(port);
        if (waiting == 0) {
            // Sleep on the port instead of asking again at once; wake just past the limit.
            const long long left = (limit - elapsed).count() + 1;
            if (!port.WaitReadable(static_cast<int>(std::min<long long>(left, INT_MAX))))
                return Fail(TransactFailure::PortLost); // no reply can come
            continue;
        }
        const long got = port.Read(buffer.data(), waiting);
        if (got < 0)
            return Fail(TransactFailure::PortLost);
        AppendHexPairs(work, buffer.data(), static_cast<std::size_t>(got));
        if (EndsWith(work, kLineFeedHex)) {
            FinishReply(std::move(work), reply);
            return;
        }
    }
}

std::string HexPairsToText(const std::string& hexPairs) {
    std::string text;
    text.reserve(hexPairs.size() / 2);
    for (std::size_t i = 0; i + 1 < hexPairs.size(); i += 2) {
        const int high = HexDigitValue(hexPairs[i]);
        const int low = HexDigitValue(hexPairs[i + 1]);
        if (high < 0 || low < 0)
            throw EConvertError("'" + hexPairs.substr(i, 2) + "' is not a valid hexadecimal pair");
        text += static_cast<char>(high * 16 + low);
    }
    return text;
}
