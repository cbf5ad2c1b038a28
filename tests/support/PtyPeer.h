#pragma once
// The far end of a pseudo-terminal, scripted by a test: it sees exactly what the host writes and
// sends exactly the bytes, in the chunks, that the test chooses.

#include <chrono>
#include <string>

namespace serialtest {

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // The slave device the host opens.
    const std::string& DevicePath() const { return devicePath_; }
    // A descriptor of the slave that the test keeps open, so that the host's close never hangs up.
    int slaveFd() const { return slave_; }
    // Registers the slave as appDir/ports/com<number>.
    void LinkAs(const std::string& appDir, int number) const;
    // Puts the slave in raw mode (the kernel creates it cooked).
    void MakeRaw() const;

    // Bytes received until a line feed or the limit; the line feed is kept.
    std::string ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Whatever the host wrote and nobody has read yet.
    std::string ReadAvailable();
    // Writes the bytes; gives up on what does not fit within the limit.
    void Send(const std::string& bytes, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Bytes waiting in the slave's receive queue (what the host would find).
    int SlaveBytesWaiting() const;
    // Drops whatever is left in both directions, so that one case does not leak into the next.
    void DiscardPending();
    // The far end goes away: the port hangs up.
    void CloseMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string devicePath_;
};

// Number of open descriptors of this process.
int OpenDescriptorCount();

// The text of every log file of the channel under appDir/Log, concatenated. The file is found
// without regard to letter case, so "comm" and "COMM" read the same shared file.
std::string LogText(const std::string& appDir, const std::string& channel);

} // namespace serialtest
