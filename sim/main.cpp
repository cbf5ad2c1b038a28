// psu-sim: a simulated adjustable DC supply on a pseudo-terminal.

#include "Options.h"
#include "Pty.h"
#include "Responder.h"
#include "Server.h"
#include "Supply.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>
#include <unistd.h>

namespace {

int gSignalWriteFd = -1;

extern "C" void OnSignal(int signalNumber) {
    // Only an async-signal-safe write: the loop sees the byte and ends in order.
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t ignored = write(gSignalWriteFd, &byte, 1);
    errno = savedErrno;
}

// Returns the read end of a self-pipe that receives a byte per SIGINT, SIGTERM or SIGHUP.
int InstallSignalPipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    gSignalWriteFd = fds[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        if (sigaction(signalNumber, &action, nullptr) != 0)
            throw std::system_error(errno, std::generic_category(), "sigaction");
    // Whoever started us may stop reading our stdout after the first line.
    std::signal(SIGPIPE, SIG_IGN);
    return fds[0];
}

std::string SerialNumber(std::uint32_t seed) {
    char text[16];
    std::snprintf(text, sizeof text, "SN%08u", static_cast<unsigned>(seed % 100000000u));
    return text;
}

int Serve(const sim::Options& options) {
    const auto start = sim::Clock::now();
    const int signalFd = InstallSignalPipe();
    const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();
    sim::Supply supply(options.model, options.loadOhms, options.noise, seed);
    sim::Responder responder(supply, SerialNumber(seed),
                             {options.silent, options.noAck, options.garbleEvery});
    std::unique_ptr<sim::Transcript> transcript;
    if (!options.transcriptPath.empty())
        transcript = std::make_unique<sim::Transcript>(options.transcriptPath);

    sim::PseudoTerminal terminal;
    const bool ownLink = !options.linkPath.empty();
    const std::string linkPath = ownLink ? options.linkPath
                                         : (std::filesystem::path(options.appDir) / "ports" /
                                            ("com" + std::to_string(options.port)))
                                               .string();
    sim::PortLink link(linkPath, terminal.slavePath());
    const std::string portName = ownLink ? options.linkPath : "COM" + std::to_string(options.port);
    std::printf("%s\n", portName.c_str());
    std::fflush(stdout);

    sim::Server server(terminal.master(), signalFd, responder, options, transcript.get(), start);
    const int status = server.Run();
    // The port vanishes: first the name, then the terminal.
    link.Remove();
    terminal.Close();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    sim::Options options;
    try {
        options = sim::ParseOptions(argc, argv);
    } catch (const sim::UsageError& error) {
        std::fprintf(stderr, "psu-sim: %s\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::HelpText("psu-sim").c_str(), stdout);
        return 0;
    }
    try {
        return Serve(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "psu-sim: %s\n", error.what());
        return 1;
    }
}
