// One command/reply exchange over a port that is opened for it and closed afterwards.

#include "common/uCheckAll.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>

#include "common/Errors.h"
#include "common/TextUtil.h"

namespace {

constexpr std::size_t kMaxChunk = 1024;
const std::string kLineFeedHex = "0A";

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

void ComTransact(const std::string& portNumberText, const std::string& baudRateText,
                 const std::string& command, bool awaitReply, std::string& reply) {
    reply.clear();
    try {
        const std::string line = command + HexPairsToText(kLineFeedHex);
        const int32_t baudRate = TextToInt(baudRateText);
        const int32_t portNumber = TextToInt(portNumberText);
        const PortHandle port = OpenComPort(portNumber, baudRate);
        if (!port || !WriteWhole(*port, line)) {
            WriteLog("send bad.", "COMM");
            return;
        }
        if (awaitReply)
            ReadComReply(*port, 1, reply);
    } catch (...) {
        // The transaction never raises: any failure is an empty reply.
        reply.clear();
    }
}

PortHandle OpenComPort(int32_t portNumber, int32_t baudRate) {
    const std::string devicePath = platform::PortDevicePath(AppDir, portNumber);
    if (devicePath.empty())
        return nullptr;
    PortHandle port = platform::OpenSerialDevice(devicePath, baudRate);
    // A late reply to an earlier transaction may still wait in the queue (a device kept open by
    // its other end keeps it): it belongs to no transaction, so it must not start this reply.
    if (port)
        port->PurgeInput();
    return port;
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
    const auto start = std::chrono::steady_clock::now();
    const milliseconds limit(static_cast<long long>(timeLimitSeconds) * 1000);
    for (;;) {
        const auto elapsed =
            std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
        if (elapsed > limit)
            return;
        const unsigned waiting = ComBytesWaiting(port);
        if (waiting == 0) {
            // Sleep on the port instead of asking again at once; wake just past the limit.
            const long long left = (limit - elapsed).count() + 1;
            if (!port.WaitReadable(static_cast<int>(std::min<long long>(left, INT_MAX))))
                return; // the device is gone: no reply can come
            continue;
        }
        const long got = port.Read(buffer.data(), waiting);
        if (got < 0)
            return;
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
