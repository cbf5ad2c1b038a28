#pragma once
// The pseudo-terminal the supply serves, and the link that names its slave side.

#include <string>

namespace sim {

// A raw, non-blocking pseudo-terminal. The slave descriptor stays open for the whole life of
// the object, so a peer that opens and closes the slave per transaction never hangs it up.
class PseudoTerminal {
public:
    PseudoTerminal(); // throws std::system_error
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Closes both sides; the peer's next open fails.
    void Close();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// A symbolic link path -> target, made on construction (replacing an older link) and removed on
// destruction unless someone else has replaced it meanwhile.
class PortLink {
public:
    PortLink(std::string path, std::string target); // throws std::runtime_error
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    void Remove();

private:
    std::string path_;
    std::string target_;
    bool linked_ = false;
};

} // namespace sim
