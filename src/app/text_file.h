#pragma once
// Reading and writing the 8-bit text files the operator works with: prompt lists, script files, logs.
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qorvel {

// The file error of text-file reading and writing; its message is what the operator sees.
class EInOutError : public std::runtime_error {
public:
    EInOutError(const std::string& Msg, int ErrorCode) : std::runtime_error(Msg), FErrorCode(ErrorCode) {}
    // The system error number (errno) behind the failure.
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// The operator's message for a system error number, e.g. "File not found" for ENOENT.
std::string InOutErrorText(int SystemError);

// Calls OnLine for every line of the file, in order, as soon as the line is complete, so a
// failure part-way leaves the lines already delivered with the caller. A line ends at LF or
// CR LF (the terminator is not part of it), a CR not followed by LF is dropped, a byte 0x1A
// ends the file, and a final terminator gives no extra empty line. Lines have no length limit.
// Raises EInOutError when the file cannot be opened or read.
void ForEachTextLine(const std::string& FileName, const std::function<void(std::string_view Line)>& OnLine);

// All lines of the file, by the rules of ForEachTextLine.
std::vector<std::string> ReadTextLines(const std::string& FileName);

// The same rules applied to bytes already in memory.
std::vector<std::string> SplitTextLines(std::string_view Bytes);

// Creates the file (or empties an existing one) and writes the chunks byte for byte.
// Raises EInOutError when the file cannot be created or written; an incomplete file is left as is.
void WriteBinaryFile(const std::string& FileName, const std::vector<std::string_view>& Chunks);

// The same with chunks made on the way: Source calls its sink once per chunk, in order (so a large
// text need not be in memory at once). An exception from Source ends the write and passes on.
using TChunkSink = std::function<void(std::string_view Chunk)>;
void WriteBinaryFileFrom(const std::string& FileName,
                         const std::function<void(const TChunkSink& Sink)>& Source);

} // namespace qorvel
