// qorvel-devsim: a virtual serial device on a pseudo-terminal, for demos and end-to-end tests.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device.h"

using qorvel::devsim::TClock;
using qorvel::devsim::TDevice;
using qorvel::devsim::TDeviceOptions;

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kWriteChunk = 64 * 1024;

struct TArguments {
    std::string Link;
    std::string Record;
    TDeviceOptions Device;
};

void Usage(std::FILE* out) {
    std::fputs("usage: qorvel-devsim [--link PATH] [--prompt TEXT] [--record FILE] [--crlf]\n"
               "  --link PATH    make PATH a symbolic link to the device (removed on exit)\n"
               "  --prompt TEXT  the device prompt (default QLX7400>)\n"
               "  --record FILE  append every byte the device receives to FILE\n"
               "  --crlf         end output lines with CR LF instead of LF\n"
               "examples:\n"
               "  qorvel-devsim --link /tmp/qlx\n"
               "      then type /tmp/qlx into the terminal's COM: box\n"
               "  ser2net -n -u -Y 'connection: &qlx#  accepter: telnet(rfc2217),tcp,2001#"
               "  connector: serialdev,/tmp/qlx,9600n81,local'\n"
               "      serves it on the network: COM: rfc2217://localhost:2001\n"
               "      (with accepter tcp,2001 instead: COM: tcp://localhost:2001)\n",
               out);
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "qorvel-devsim: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

bool ParseArguments(int argc, char** argv, TArguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&](std::string& target) {
            if (i + 1 >= argc) return false;
            target = argv[++i];
            return true;
        };
        if (option == "--link") {
            if (!value(arguments.Link)) return false;
        } else if (option == "--prompt") {
            if (!value(arguments.Device.Prompt)) return false;
        } else if (option == "--record") {
            if (!value(arguments.Record)) return false;
        } else if (option == "--crlf") {
            arguments.Device.CrLf = true;
        } else if (option == "--help" || option == "-h") {
            Usage(stdout);
            std::exit(0);
        } else {
            return false;
        }
    }
    return true;
}

void MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return;
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
}

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            std::perror("qorvel-devsim: record");
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Replaces a stale link from an earlier run, never a real file.
void MakeLink(const std::string& link, const std::string& target) {
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            errno = EEXIST;
            Fail(link + " exists and is not a symbolic link");
        }
        if (unlink(link.c_str()) != 0) Fail("cannot remove old link " + link);
    }
    if (symlink(target.c_str(), link.c_str()) != 0) Fail("cannot create link " + link);
}

// Removes the link only while it still points at this run's device.
void RemoveLink(const std::string& link, const std::string& target) {
    char buffer[4096];
    const ssize_t length = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (length < 0) return;
    if (std::string(buffer, static_cast<std::size_t>(length)) == target) unlink(link.c_str());
}

int PollTimeout(const TDevice& device) {
    const auto deadline = device.NextDeadline();
    if (!deadline) return -1;
    const auto now = TClock::now();
    if (*deadline <= now) return 0;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
    return static_cast<int>(std::min<long long>(wait, 60'000));
}

} // namespace

int main(int argc, char** argv) {
    TArguments arguments;
    if (!ParseArguments(argc, argv, arguments)) {
        Usage(stderr);
        return 2;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) Fail("signalfd");
    signal(SIGPIPE, SIG_IGN);

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) Fail("cannot create a pseudo-terminal");
    const char* slaveName = ptsname(master);
    if (!slaveName) Fail("ptsname");
    const std::string slavePath = slaveName;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    // Holding the slave open keeps the pair alive while no terminal is connected, so the master
    // never sees a hang-up between connections. This descriptor is never read.
    const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) Fail("cannot open " + slavePath);
    MakeRaw(slave);

    // Opens and closes of the device by a terminal are seen through inotify on the slave node.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0)
        Fail("cannot watch " + slavePath);

    int record = -1;
    if (!arguments.Record.empty()) {
        record = open(arguments.Record.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (record < 0) Fail("cannot open " + arguments.Record);
    }
    if (!arguments.Link.empty()) MakeLink(arguments.Link, slavePath);

    std::printf("qorvel-devsim: device %s%s%s, prompt \"%s\"\n", slavePath.c_str(),
                arguments.Link.empty() ? "" : " linked at ", arguments.Link.c_str(),
                arguments.Device.Prompt.c_str());
    std::fflush(stdout);

    TDevice device(arguments.Device);
    int openers = 0;
    bool running = true;
    char buffer[kReadChunk];
    while (running) {
        pollfd fds[3] = {{master, POLLIN, 0}, {watch, POLLIN, 0}, {signalFd, POLLIN, 0}};
        if (!device.Pending().empty()) fds[0].events |= POLLOUT;
        const int ready = poll(fds, 3, PollTimeout(device));
        if (ready < 0) {
            if (errno == EINTR) continue;
            Fail("poll");
        }
        if (fds[2].revents & POLLIN) {
            signalfd_siginfo info;
            if (read(signalFd, &info, sizeof info) > 0) running = false;
        }
        if (fds[1].revents & POLLIN) {
            alignas(inotify_event) char events[4096];
            ssize_t length;
            while ((length = read(watch, events, sizeof events)) > 0) {
                for (ssize_t at = 0; at < length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                    if (event->mask & IN_OPEN) {
                        if (openers++ == 0) device.Connected(TClock::now());
                    } else if (event->mask & IN_CLOSE) {
                        if (openers > 0 && --openers == 0) {
                            // The terminal's exclusive mode would outlive it, since this process keeps
                            // the device open: clear it so the next connection can open the port.
                            ioctl(slave, TIOCNXCL);
                            MakeRaw(slave);
                            tcflush(slave, TCIFLUSH);
                            device.Disconnected();
                        }
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                }
            }
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t count = read(master, buffer, sizeof buffer);
            if (count > 0) {
                if (record >= 0) WriteAll(record, buffer, static_cast<std::size_t>(count));
                device.Receive(std::string_view(buffer, static_cast<std::size_t>(count)), TClock::now());
            }
        }
        device.Tick(TClock::now());
        // Write what the line takes; the rest waits for POLLOUT, so no byte is lost on a short write.
        while (!device.Pending().empty()) {
            const std::string_view pending = device.Pending();
            const ssize_t written = write(master, pending.data(), std::min(pending.size(), kWriteChunk));
            if (written > 0) {
                device.Consume(static_cast<std::size_t>(written));
                device.Tick(TClock::now());
                continue;
            }
            if (written < 0 && errno == EINTR) continue;
            if (written < 0 && errno != EAGAIN) {
                // A line that refuses data for good would spin the loop: report once and drop it.
                std::perror("qorvel-devsim: write");
                device.Consume(pending.size());
            }
            break;
        }
    }

    if (!arguments.Link.empty()) RemoveLink(arguments.Link, slavePath);
    if (record >= 0) close(record);
    close(slave);
    close(master);
    return 0;
}
