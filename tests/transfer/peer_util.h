#pragma once
// Runs one file transfer between qorvel-xfer and an lrzsz program over pseudo-terminals, through a
// relay that can drop, duplicate and flip bytes and stall once.
//
// To add a row: fill a TPeerRun (the qorvel-xfer protocol name, who sends, the lrzsz command
// line without file names, the files), call RunPeer, then compare the received folder's
// FolderFiles with what was sent. RunPeer appends the files to lrzsz's command line when it sends,
// and "out.bin" when it receives XMODEM; our side receives XMODEM under that name too.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qorvel::test {

struct TFaults {
    std::uint32_t DropOneIn = 0;      // each byte is dropped with chance 1/N (0: never)
    std::uint32_t DuplicateOneIn = 0; // ... sent twice
    std::uint32_t FlipOneIn = 0;      // ... has one bit flipped
    std::uint64_t StallAtByte = 0;    // after this many relayed bytes the line stops for 3 s once
    std::uint32_t Seed = 1;
};

struct TPeerRun {
    std::string Protocol;                 // qorvel-xfer's -p: xmodem, xmodem-crc, xmodem-1k, ymodem, zmodem
    bool OursSends = true;                // qorvel-xfer sends and lrzsz receives, or the other way
    std::vector<std::string> Lrzsz;       // e.g. {"rb", "-q"}; files or the XMODEM name are appended
    std::vector<std::string> Files;       // paths of the files the sender sends
    std::vector<std::string> XferOptions; // more qorvel-xfer options, e.g. {"--start-timeout", "2"}
    TFaults Faults;
    int TimeoutMs = 60000; // both ends are killed after this
    // Interrupt one end with SIGINT once this many bytes went through the relay (0: never).
    std::uint64_t InterruptOursAtByte = 0;
    std::uint64_t InterruptTheirsAtByte = 0;
    bool StartLrzsz = true; // false: only qorvel-xfer runs (a peer that never answers)
};

struct TPeerResult {
    bool TimedOut = false;
    int OursExit = -1; // exit code, or 128 + signal
    int TheirsExit = -1;
    std::string OursReport; // what qorvel-xfer wrote to stderr
    std::string Folder;     // where the receiver wrote (a fresh folder per run)
    std::uint32_t FaultsMade = 0;
};

TPeerResult RunPeer(const TPeerRun& Run);

// Starts Argv (found in PATH) in Folder with its standard input and output on In and Out (-1:
// inherited) and its errors into ErrorFile.
pid_t Spawn(std::vector<std::string> Argv, int In, int Out, const std::string& Folder,
            const std::string& ErrorFile = "/dev/null");
// The exit code, or 128 + the signal; -1 when it had to be killed at Deadline.
int WaitExit(pid_t Pid, std::chrono::steady_clock::time_point Deadline);

// Test data and checks.
std::string TempFolder();
std::string RandomBytes(std::size_t Size, std::uint32_t Seed);
std::string WriteFile(const std::string& Folder, const std::string& Name, const std::string& Bytes);
std::string ReadWhole(const std::string& Path);
// Name -> contents of the regular files in Folder.
std::map<std::string, std::string> FolderFiles(const std::string& Folder);

} // namespace qorvel::test
