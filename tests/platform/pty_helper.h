#pragma once
// A pseudo-terminal pair for tests: the code under test opens the slave by name, the test
// plays the far end on the master.
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace qorvel::test {

struct TPty {
    int Master = -1;
    int Slave = -1; // kept open so the pair survives the device's close, and to read termios
    std::string Name;

    TPty() {
        char name[128] = {};
        if (openpty(&Master, &Slave, name, nullptr, nullptr) == 0) Name = name;
    }
    ~TPty() {
        CloseMaster();
        if (Slave >= 0) close(Slave);
    }
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    void CloseMaster() {
        if (Master >= 0) close(Master);
        Master = -1;
    }

    bool Send(const std::string& bytes) const {
        return write(Master, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }

    // Reads from the master until `count` bytes came or `limit` passed.
    std::string Receive(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{Master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(Master, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, std::size_t(n));
        }
        return got;
    }

    termios Termios() const {
        termios t{};
        tcgetattr(Slave, &t);
        return t;
    }
};

} // namespace qorvel::test
