#pragma once
// Runs one file transfer between qorvel-xfer and an lrzsz program over pseudo-terminals, through a
// relay that can drop, duplicate and flip bytes and stall once.
//
// To add a row: fill a TPeerRun (the qorvel-xfer protocol name, who sends, the lrzsz command
// line without file names, the files), call RunPeer, then compare the received folder's
// FolderFiles with what was sent. RunPeer appends the files to lrzsz's command line when it sends, and
// XmodemName when it receives XMODEM. Rows for a protocol that is not built yet see
// TPeerResult::NotBuilt.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qorvel::test {

struct TFaults {
    std::uint32_t DropOneIn = 0;      // each byte is dropped with chance 1/N (0: never)
    std::uint32_t DuplicateOneIn = 0; // ... sent twice
    std::uint32_t FlipOneIn = 0;      // ... has one bit flipped
    std::uint64_t StallAtByte = 0;    // after this many relayed bytes the line stops for StallMs once
    std::uint32_t StallMs = 3000;
    std::uint32_t Seed = 1;
};

struct TPeerRun {
    std::string Protocol;                 // qorvel-xfer's -p: xmodem, xmodem-crc, xmodem-1k, ymodem, zmodem
    bool OursSends = true;                // qorvel-xfer sends and lrzsz receives, or the other way
    std::vector<std::string> Lrzsz;       // e.g. {"rb", "-q"}; files or the XMODEM name are appended
    std::vector<std::string> Files;       // paths of the files the sender sends
    std::string XmodemName = "out.bin";   // the received file's name for XMODEM, both ways
    std::vector<std::string> XferOptions; // more qorvel-xfer options, e.g. {"--start-timeout", "2"}
    TFaults Faults;
    int TimeoutMs = 60000; // both ends are killed after this
    // Interrupt one end with SIGINT once this many bytes went through the relay (0: never).
    std::uint64_t InterruptOursAtByte = 0;
    std::uint64_t InterruptTheirsAtByte = 0;
    bool StartLrzsz = true; // false: only qorvel-xfer runs (a peer that never answers)
};

struct TPeerResult {
    bool NotBuilt = false; // qorvel-xfer has no engine for the protocol yet
    bool TimedOut = false;
    int OursExit = -1; // exit code, or 128 + signal
    int TheirsExit = -1;
    std::string OursReport; // what qorvel-xfer wrote to stderr
    std::string Folder;     // where the receiver wrote (a fresh folder per run)
    std::uint64_t Relayed = 0;
    std::uint32_t FaultsMade = 0;
    double Seconds = 0;
};

TPeerResult RunPeer(const TPeerRun& Run);

// Test data and checks.
std::string TempFolder();
std::string RandomBytes(std::size_t Size, std::uint32_t Seed);
std::string WriteFile(const std::string& Folder, const std::string& Name, const std::string& Bytes);
std::string ReadWhole(const std::string& Path);
// Name -> contents of the regular files in Folder.
std::map<std::string, std::string> FolderFiles(const std::string& Folder);

} // namespace qorvel::test
