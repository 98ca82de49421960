#pragma once
// A real ser2net for tests: serves one device (a pseudo-terminal's slave) on a free local TCP
// port, as Telnet with RFC 2217 or as raw TCP, from a YAML configuration written to a temporary
// folder. Can be stopped and started again on the same port.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorvel::test {

// A port nobody listens on now, chosen by the kernel.
inline int FreeLocalPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// True once something listens on 127.0.0.1:port (read from /proc, so no connection is made:
// a connection would make ser2net open the device).
inline bool Listening(int port) {
    std::ifstream in("/proc/net/tcp");
    std::string line;
    char want[32];
    std::snprintf(want, sizeof want, "0100007F:%04X", port);
    while (std::getline(in, line))
        if (line.find(want) != std::string::npos && line.find(" 0A ") != std::string::npos) return true;
    return false;
}

class TSer2net {
public:
    // `options` are further lines of the connection's options section, each "name: value\n".
    TSer2net(const std::string& device, bool rfc2217, const std::string& options = "")
        : FRfc2217(rfc2217), Port(FreeLocalPort()) {
        char dir[] = "/tmp/qorvel-ser2net-XXXXXX";
        if (mkdtemp(dir)) FDir = dir;
        std::ofstream config(FDir + "/ser2net.yaml");
        config << "connection: &port\n"
               << "  accepter: " << (rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << Port
               << "\n"
               << "  connector: serialdev," << device << ",9600n81,local\n"
               << "  options:\n"
               << "    kickolduser: true\n";
        for (std::size_t at = 0; at < options.size();) {
            const std::size_t end = options.find('\n', at);
            config << "    " << options.substr(at, end - at) << "\n";
            at = end == std::string::npos ? options.size() : end + 1;
        }
    }
    ~TSer2net() {
        Stop();
        if (!FDir.empty()) std::system(("rm -rf '" + FDir + "'").c_str());
    }
    TSer2net(const TSer2net&) = delete;
    TSer2net& operator=(const TSer2net&) = delete;

    std::string Url() const {
        return (FRfc2217 ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(Port);
    }

    // Starts the server and waits until it listens; false when it does not within `limit`.
    bool Start(std::chrono::seconds limit = std::chrono::seconds(20)) {
        if (FPid > 0) return true;
        const std::string config = FDir + "/ser2net.yaml";
        const std::string pidFile = FDir + "/ser2net.pid";
        const std::string log = FDir + "/ser2net.log";
        FPid = fork();
        if (FPid == 0) {
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            // -n: stay in the foreground, -u: no UUCP lock files, -P: our own pid file.
            execlp("ser2net", "ser2net", "-n", "-u", "-P", pidFile.c_str(), "-c", config.c_str(),
                   (char*)nullptr);
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Listening(Port)) return true;
            int status = 0;
            if (waitpid(FPid, &status, WNOHANG) == FPid) {
                FPid = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Stops the server the way a service stop does (SIGTERM) and reaps it.
    void Stop() {
        if (FPid <= 0) return;
        kill(FPid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (waitpid(FPid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(FPid, SIGKILL);
                waitpid(FPid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FPid = -1;
    }

    std::string Log() const {
        std::ifstream in(FDir + "/ser2net.log");
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    bool FRfc2217;
    std::string FDir;
    pid_t FPid = -1;

public:
    const int Port;
};

} // namespace qorvel::test
