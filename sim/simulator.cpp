#include "sim/simulator.h"

#include "sim/console_command.h"
#include "sim/port_link.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace sim {

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool installStopSignals() {
    if (::pipe(signalPipe) != 0)
        return false;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // A script that stops reading our output must not kill us before we remove the link.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// The bytes as a readable line: control characters and bytes above 0x7e escaped.
std::string escaped(std::string_view bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\\')
            text += "\\\\";
        else if (c >= 0x20 && c < 0x7f)
            text += static_cast<char>(c);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        }
    }
    return text;
}

} // namespace

Simulator::Simulator(const Options& options, std::filesystem::path link)
    : options_(options), link_(std::move(link)), amplifier_(options.seed),
      transmitter_(options.fast ? Time(0) : Transmitter::kCharacterTime300Baud),
      start_(std::chrono::steady_clock::now()) {
    if (options_.scenario)
        scenario_.emplace(*options_.scenario, Time(0));
}

Simulator::Time Simulator::now() const {
    return std::chrono::duration_cast<Time>(std::chrono::steady_clock::now() - start_);
}

void Simulator::log(const std::string& text) const {
    if (!options_.quiet)
        std::printf("%s\n", text.c_str());
}

bool Simulator::plugIn() {
    std::string error;
    if (!terminal_.open(error)) {
        std::fprintf(stderr, "wattmeter-sim: no pseudo-terminal: %s\n", error.c_str());
        return false;
    }
    error = claimPortLink(link_, terminal_.device());
    if (!error.empty()) {
        std::fprintf(stderr, "wattmeter-sim: %s\n", error.c_str());
        terminal_.close();
        return false;
    }
    // Scripts wait for the link line: once it is printed the port can be opened.
    std::printf("device %s\n", terminal_.device().c_str());
    std::printf("link %s -> %s\n", link_.c_str(), terminal_.device().c_str());
    return true;
}

void Simulator::vanish() {
    if (!terminal_.isOpen()) {
        log("* the device is already gone");
        return;
    }
    releasePortLink(link_, terminal_.device());
    terminal_.close();
    transmitter_.drop();
    amplifier_.dropPartialCommand();
    writeBlocked_ = false;
    returnsAt_ = now() + kAwayAfterVanish;
    log("* device gone, link removed; it comes back in 5 s");
}

void Simulator::send(const Output& output) {
    if (!terminal_.isOpen())
        return;
    for (const Segment& segment : output) {
        if (segment.pause > Time(0))
            log("> (" + std::to_string(segment.pause.count()) + " ms pause)");
        log("> " + escaped(segment.bytes));
    }
    transmitter_.queue(output, now());
}

void Simulator::execute(std::string_view line) {
    const std::optional<ConsoleCommand> command = parseConsoleCommand(line);
    if (!command) {
        if (line.find_first_not_of(" \t\r") != std::string_view::npos)
            std::printf("unknown command \"%s\"; \"help\" lists them\n", escaped(line).c_str());
        return;
    }
    for (const ConsoleCommandInfo& info : consoleCommands())
        if (info.command == *command && *command != ConsoleCommand::Help)
            log("* " + std::string(info.name));
    if (const std::optional<Fault> fault = faultOf(*command)) {
        send(amplifier_.raise(*fault));
        return;
    }
    switch (*command) {
    case ConsoleCommand::Band:
        send(amplifier_.switchBand());
        break;
    case ConsoleCommand::Split:
        amplifier_.splitNextReply();
        break;
    case ConsoleCommand::Noise:
        send(amplifier_.lineNoise());
        break;
    case ConsoleCommand::Vanish:
        vanish();
        break;
    case ConsoleCommand::Return:
        if (returnsAt_)
            returnsAt_ = now();
        break;
    case ConsoleCommand::Mute:
    case ConsoleCommand::Unmute:
        muted_ = *command == ConsoleCommand::Mute;
        break;
    case ConsoleCommand::Clear:
        amplifier_.clearFaults();
        break;
    case ConsoleCommand::Help:
        std::printf("%s", consoleHelpText().c_str());
        break;
    case ConsoleCommand::Quit:
        quit_ = true;
        break;
    default:
        break;
    }
}

void Simulator::transmit() {
    if (!terminal_.isOpen() || writeBlocked_)
        return;
    for (;;) {
        const Time at = now();
        const std::string_view bytes = transmitter_.ready(at);
        if (bytes.empty())
            return;
        const ssize_t written = ::write(terminal_.master(), bytes.data(), bytes.size());
        if (written > 0) {
            transmitter_.sent(static_cast<std::size_t>(written), at);
            continue;
        }
        // A full line (nobody reading) waits for room; anything else loses the bytes, as a
        // line with nobody on it would.
        if (written < 0 && (errno == EAGAIN || errno == EINTR))
            writeBlocked_ = true;
        else
            transmitter_.drop();
        return;
    }
}

void Simulator::readLine() {
    char buffer[512];
    const ssize_t count = ::read(terminal_.master(), buffer, sizeof buffer);
    if (count <= 0)
        return;
    const std::string_view bytes(buffer, static_cast<std::size_t>(count));
    log("< " + escaped(bytes) + (muted_ ? " (muted: no answer)" : ""));
    if (!muted_)
        send(amplifier_.receive(bytes));
}

void Simulator::readConsole() {
    char buffer[512];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        // Started from a script or with input closed: go on serving until signalled.
        consoleOpen_ = false;
        return;
    }
    consoleBuffer_.append(buffer, static_cast<std::size_t>(count));
    for (auto end = consoleBuffer_.find('\n'); end != std::string::npos && !quit_;
         end = consoleBuffer_.find('\n')) {
        const std::string line = consoleBuffer_.substr(0, end);
        consoleBuffer_.erase(0, end + 1);
        execute(line);
    }
}

int Simulator::pollTimeout() const {
    std::optional<Time> wake;
    auto consider = [&](std::optional<Time> at) {
        if (at && (!wake || *at < *wake))
            wake = at;
    };
    if (!writeBlocked_)
        consider(transmitter_.nextReady());
    if (scenario_)
        consider(scenario_->nextDue());
    consider(returnsAt_);
    if (!wake)
        return -1;
    return static_cast<int>(std::max<Time::rep>(0, (*wake - now()).count() + 1));
}

int Simulator::run() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!installStopSignals()) {
        std::perror("wattmeter-sim: pipe");
        return 1;
    }
    if (!plugIn())
        return 1;
    // In the background of an interactive shell, reading the terminal would stop the process
    // (SIGTTIN) and with it the amplifier; serve without commands instead.
    if (::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) != ::getpgrp())
        consoleOpen_ = false;
    if (!options_.quiet) {
        std::printf("COM%d ready at %s, seed %u%s%s. Type \"help\" for commands.\n", options_.com,
                    options_.fast ? "full speed" : "300 baud", options_.seed,
                    options_.scenario ? ", scenario " : "",
                    options_.scenario ? std::string(options_.scenario->name).c_str() : "");
    }

    int status = 0;
    while (!quit_) {
        const Time at = now();
        amplifier_.elapse(at - lastElapse_);
        lastElapse_ = at;
        if (scenario_)
            for (std::string_view command : scenario_->due(at))
                execute(command);
        if (returnsAt_ && *returnsAt_ <= at) {
            returnsAt_.reset();
            if (!plugIn()) {
                status = 1;
                break;
            }
        }
        transmit();
        if (quit_)
            break;

        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {signalPipe[0], POLLIN, 0};
        pollfd* console = consoleOpen_ ? &fds[count++] : nullptr;
        if (console)
            *console = {STDIN_FILENO, POLLIN, 0};
        pollfd* line = terminal_.isOpen() ? &fds[count++] : nullptr;
        if (line)
            *line = {terminal_.master(), short(POLLIN | (writeBlocked_ ? POLLOUT : 0)), 0};

        if (::poll(fds, count, pollTimeout()) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("wattmeter-sim: poll");
            status = 1;
            break;
        }
        if (fds[0].revents & POLLIN)
            quit_ = true;
        if (console && console->revents) {
            if (console->revents & POLLNVAL)
                consoleOpen_ = false;
            else
                readConsole();
        }
        if (line && terminal_.isOpen()) {
            if (line->revents & POLLOUT)
                writeBlocked_ = false;
            if (line->revents & POLLIN)
                readLine();
            else if (line->revents & (POLLHUP | POLLERR)) {
                // Our own slave keeps the line up, so this is someone hanging it up from
                // outside; start afresh rather than spin on it.
                log("* the line was hung up");
                vanish();
            }
        }
    }

    if (terminal_.isOpen())
        releasePortLink(link_, terminal_.device());
    terminal_.close();
    log("stopped");
    return status;
}

} // namespace sim
