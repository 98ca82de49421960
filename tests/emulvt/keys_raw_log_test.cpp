#include "emulvt/raw_log.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace qorvel {
namespace {

namespace fs = std::filesystem;

class RawLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = fs::temp_directory_path() / ("qorvel_rawlog_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(FDir);
        fs::create_directories(FDir);
        FPath = (FDir / std::string(kRawLogFileName)).string();
    }
    void TearDown() override { fs::remove_all(FDir); }

    std::string Content() const {
        std::ifstream in(FPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void WriteAll(TRawLog& log, std::string_view bytes) {
        for (char c : bytes)
            log.Write(c);
    }

    fs::path FDir;
    std::string FPath;
};

TEST_F(RawLogTest, LargeWritesKeepTheirOrder) {
    std::string bytes;
    for (std::size_t i = 0; i < 3 * kRawLogBufferSize + 17; ++i)
        bytes += static_cast<char>('a' + i % 26);
    TRawLog log(FPath);
    log.Open();
    WriteAll(log, bytes);
    log.Close();
    EXPECT_EQ(Content(), "<Open>" + bytes + "<Close>");
}

TEST_F(RawLogTest, FailedFlushRaisesAtTheByteThatNeedsIt) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TRawLog log("/dev/full");
    log.Open();
    const std::size_t room = kRawLogBufferSize - kRawLogOpenMarker.size();
    std::size_t written = 0;
    try {
        for (; written < 2 * kRawLogBufferSize; ++written)
            log.Write('x');
    } catch (const ERawLogError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOSPC);
    }
    EXPECT_EQ(written, room);
    EXPECT_THROW(log.Close(), ERawLogError);
}

} // namespace
} // namespace qorvel
