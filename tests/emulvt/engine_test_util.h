#pragma once
// Helpers for the engine tests: feed bytes, read rows, capture debug lines and beeps.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "emulvt/screen.h"
#include "platform/debugout.h"

namespace qorvel::test {

inline void Feed(TScreen& screen, std::string_view bytes) {
    for (unsigned char ch : bytes)
        screen.WriteChar(ch);
}

// Cells 0..count-1 of a row, trailing blanks trimmed.
inline std::string RowText(const TScreen& screen, int row, int count = -1) {
    const TLine* line = screen.GetLine(row);
    std::string text(reinterpret_cast<const char*>(line->Txt), size_t(count < 0 ? screen.FColCount : count));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// Screen as the view sets it up: translation tables on the normal table, nothing written.
inline void Prepare(TScreen& screen, int rows = 25, int cols = 80, int backRows = 0) {
    screen.SetBackRowCount(backRows);
    screen.SetRowCount(rows);
    screen.FColCount = cols;
    screen.ClearScreen();
    screen.ClearInvalid();
}

// Collects the debug lines (prefix and message joined) and beeps while in scope.
class SinkCapture {
public:
    SinkCapture() {
        FOldDebug = platform::SetDebugSink([this](std::string_view piece) {
            if (FPending) {
                Lines.back() += piece;
                FPending = false;
            } else {
                Lines.emplace_back(piece);
                FPending = true;
            }
        });
        FOldBeep = platform::SetBeepSink([this](unsigned type) { Beeps.push_back(type); });
    }
    ~SinkCapture() {
        platform::SetDebugSink(std::move(FOldDebug));
        platform::SetBeepSink(std::move(FOldBeep));
    }
    // Messages without their number prefix.
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const std::string& line : Lines)
            out.push_back(line.substr(line.find(' ') + 1));
        return out;
    }

    std::vector<std::string> Lines;
    std::vector<unsigned> Beeps;

private:
    bool FPending = false;
    platform::DebugSink FOldDebug;
    platform::BeepSink FOldBeep;
};

// Every position holds its own line: no TLine is reachable from two rows.
inline bool LinesAreDistinct(const TScreen& screen) {
    std::set<const TLine*> seen;
    for (int r = -screen.FBackRowCount; r < screen.FRowCount; ++r)
        if (!seen.insert(screen.GetLine(r)).second) return false;
    return true;
}

} // namespace qorvel::test
