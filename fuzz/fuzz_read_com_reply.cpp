// The reply loop of ReadComReply on a port whose every answer comes from the fuzz input: bytes
// arriving in chunks of any size (floods too), failed queries and reads, short reads. It never
// crashes or hangs, never asks for more than the 1024 bytes it may take at once, and gives exactly
// the bytes read up to the first LF with every CR and LF taken out, or nothing when no LF came.

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdexcept>

#include "common/uCheckAll.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Platform.h"

namespace {

constexpr std::size_t kMaxRead = 1024;
// Bytes that may arrive between two queries: enough to overflow the 1024 the loop accepts.
constexpr std::size_t kMaxArrival = 1100;

// Every query consumes input, and a used-up input is a port that is gone, so the loop ends.
class FuzzedPort : public platform::SerialDevice {
public:
    explicit FuzzedPort(FuzzedDataProvider& input) : input_(input) {}

    long Write(const char*, std::size_t) override {
        throw std::logic_error("the reply loop wrote to the port");
    }
    long BytesWaiting() override {
        // An action byte of 0 (also what a used-up input gives) is a failed query.
        if (input_.ConsumeIntegral<uint8_t>() == 0)
            return -1;
        queue_ +=
            input_.ConsumeBytesAsString(input_.ConsumeIntegralInRange<std::size_t>(0, kMaxArrival));
        return static_cast<long>(queue_.size());
    }
    long Read(char* buffer, std::size_t size) override {
        fuzz::Check(size <= kMaxRead, "the reply loop asked for more than 1024 bytes");
        if (input_.ConsumeIntegral<uint8_t>() == 0)
            return -1;
        const std::size_t count =
            std::min(size, input_.ConsumeIntegralInRange<std::size_t>(0, queue_.size()));
        queue_.copy(buffer, count);
        delivered_.append(queue_, 0, count);
        queue_.erase(0, count);
        return static_cast<long>(count);
    }
    bool WaitReadable(int) override { return input_.remaining_bytes() > 0; }
    void PurgeInput() override { queue_.clear(); }

    const std::string& delivered() const { return delivered_; }

private:
    FuzzedDataProvider& input_;
    std::string queue_;     // arrived, not yet read
    std::string delivered_; // everything Read handed over
};

std::string WithoutLineEnds(std::string text) {
    std::erase(text, '\r');
    std::erase(text, '\n');
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every reply is logged; a program directory below a device file makes each log write fail,
    // which the log drops by design, so the run leaves no files behind.
    AppDir = "/dev/null/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FuzzedPort port(input);
    std::string reply = "stale\r\n";
    ReadComReply(port, 1, reply);

    // The loop returns as soon as a read ends in LF, so the delivered bytes end in one exactly
    // when a reply was complete.
    const std::string& delivered = port.delivered();
    const bool complete = !delivered.empty() && delivered.back() == '\n';
    fuzz::Check(reply.find_first_of("\r\n") == std::string::npos, "the reply holds a CR or LF");
    fuzz::Check(reply == (complete ? WithoutLineEnds(delivered) : ""),
                "the reply is not the bytes read up to the LF");
    return 0;
}
