// Text-file reading and writing, the log text, and the error-box text rules.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/desktop.h"
#include "app/log_text.h"
#include "app/text_file.h"

namespace qorvel {
namespace {

using Lines = std::vector<std::string>;

struct TextCase {
    const char* Name;
    std::string Bytes;
    Lines Expected;
};

const TextCase kTextCases[] = {
    {"empty file", "", {}},
    {"LF ends lines", "a\nbc\n", {"a", "bc"}},
    {"CR LF ends lines", "a\r\nbc\r\n", {"a", "bc"}},
    {"last line without terminator", "a\nbc", {"a", "bc"}},
    {"empty lines inside are lines", "a\n\n\nb\n", {"a", "", "", "b"}},
    {"only a terminator", "\n", {""}},
    {"lone CR dropped", "ab\rcd\n", {"abcd"}},
    {"CR CR LF", "ab\r\r\n", {"ab"}},
    {"trailing lone CR", "ab\r", {"ab"}},
    {"0x1A ends the file",
     "a\nb\x1A"
     "c\nd\n",
     {"a", "b"}},
    {"0x1A right after a terminator",
     "a\n\x1A"
     "b\n",
     {"a"}},
    {"0x1A first",
     "\x1A"
     "abc",
     {}},
    {"blanks kept", "  QLX7400> \n", {"  QLX7400> "}},
    {"high bytes kept", "\xff\x80\xe9\n", {"\xff\x80\xe9"}},
    {"NUL is an ordinary byte", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
};

class TextLines : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextLines, SplitInMemoryAndFromFile) {
    const TextCase& c = GetParam();
    EXPECT_EQ(SplitTextLines(c.Bytes), c.Expected);

    const auto path = std::filesystem::temp_directory_path() / ("qorvel_text_" + std::to_string(::getpid()));
    std::ofstream(path, std::ios::binary).write(c.Bytes.data(), static_cast<std::streamsize>(c.Bytes.size()));
    EXPECT_EQ(ReadTextLines(path.string()), c.Expected);
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Rules, TextLines, ::testing::ValuesIn(kTextCases), [](const auto& info) {
    std::string name = info.param.Name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

TEST(TextFile, LongLineAcrossReadChunksAndCRLFSplitAtChunkEdge) {
    std::string big(200000, 'x');
    // Put a CR LF exactly on the boundary of the 64 KiB read chunks.
    std::string bytes = std::string(65535, 'y') + "\r\n" + big + "\r\nend";
    const auto path = std::filesystem::temp_directory_path() / ("qorvel_long_" + std::to_string(::getpid()));
    std::ofstream(path, std::ios::binary) << bytes;
    EXPECT_EQ(ReadTextLines(path.string()), (Lines{std::string(65535, 'y'), big, "end"}));
    std::filesystem::remove(path);
}

TEST(TextFile, MissingFileAndMissingFolderAreToldApart) {
    const auto temp = std::filesystem::temp_directory_path();
    const std::string missingFolder = (temp / "qorvel-no-such-folder" / "x.txt").string();
    const std::string missingFile = (temp / "qorvel-no-such-file.txt").string();
    const struct {
        const char* Name;
        std::function<void()> Run;
        const char* Message;
    } cases[] = {
        {"read, missing file", [&] { ReadTextLines(missingFile); }, "File not found"},
        {"read, missing folder", [&] { ReadTextLines(missingFolder); }, "Path not found"},
        {"write, missing folder", [&] { WriteBinaryFile(missingFolder, {}); }, "Path not found"},
        {"write, missing folder at the root", [&] { WriteBinaryFile("/nonexistent-dir-qorvel/x.log", {}); },
         "Path not found"},
    };
    for (const auto& c : cases) {
        try {
            c.Run();
            ADD_FAILURE() << "no error raised: " << c.Name;
        } catch (const EInOutError& e) {
            EXPECT_STREQ(e.what(), c.Message) << c.Name;
            EXPECT_EQ(e.ErrorCode(), ENOENT) << c.Name;
        }
    }
    EXPECT_THROW(ReadTextLines(temp.string()), EInOutError);
}

TEST(TextFile, WriteBinaryFileReplacesAndKeepsBytes) {
    const auto path = std::filesystem::temp_directory_path() / ("qorvel_write_" + std::to_string(::getpid()));
    WriteBinaryFile(path.string(), {"old content that is longer"});
    const std::string bytes("A\r\nB\0\xff", 6);
    WriteBinaryFile(path.string(), {std::string_view(bytes).substr(0, 3), std::string_view(bytes).substr(3)});
    std::ifstream in(path, std::ios::binary);
    std::string read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(read, bytes);
    std::filesystem::remove(path);
}

TEST(LogText, AppendAcrossBlocksAndEndsWith) {
    TLogText log;
    EXPECT_TRUE(log.EndsWith(""));
    EXPECT_FALSE(log.EndsWith("a"));
    std::string expected;
    // Sizes chosen to land appends on and across block boundaries.
    for (std::size_t n : {1u, 65534u, 1u, 3u, 200000u, 7u}) {
        std::string part(n, static_cast<char>('a' + expected.size() % 26));
        log.Append(part);
        expected += part;
    }
    log.Append("QLX7");
    log.Append("400>");
    expected += "QLX7400>";
    EXPECT_EQ(log.Size(), expected.size());
    EXPECT_EQ(log.ToString(), expected);
    EXPECT_TRUE(log.EndsWith("QLX7400>"));
    EXPECT_FALSE(log.EndsWith("QLX7400> "));
    EXPECT_FALSE(log.EndsWith("qlx7400>"));
    EXPECT_TRUE(log.EndsWith(expected));
    EXPECT_FALSE(log.EndsWith("x" + expected));
    log.Clear();
    EXPECT_EQ(log.Size(), 0u);
    EXPECT_TRUE(log.ToString().empty());
    EXPECT_FALSE(log.EndsWith(">"));
}

TEST(LogText, SuffixStraddlingABlockBoundary) {
    TLogText log;
    log.Append(std::string(TLogText::kBlockSize - 3, '.'));
    log.Append("QLX7400>");
    EXPECT_TRUE(log.EndsWith("QLX7400>"));
    std::vector<std::string_view> chunks;
    log.ForEachChunk([&](std::string_view chunk) { chunks.push_back(chunk); });
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1], "7400>");
}

TEST(HexLine, BytesOrThePlaceThatIsNotHex) {
    const struct {
        const char* Line;
        std::string Bytes;   // when it parses
        const char* Refused; // else the part of the error that names the place
    } cases[] = {
        {"01 03 00 00 00 0A C5 CD", std::string("\x01\x03\0\0\0\x0A\xC5\xCD", 8), nullptr},
        {"0x01,0x03, 0XfF", "\x01\x03\xFF", nullptr},
        {"0103", "\x01\x03", nullptr},
        {"", "", nullptr},
        {"01 3", "", "\"3\" at position 4 is a hex digit without its pair"},
        {"01 0g", "", "\"g\" at position 5 is not a hex digit"},
        {"12 0x", "", "\"x\" at position 5 has no hex digits after it"},
        {"01\xe2\x82\xac", "", "\"\xe2\x82\xac\" at position 3 is not a hex digit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        if (!c.Refused) {
            EXPECT_EQ(HexToBytes(QString::fromUtf8(c.Line)), c.Bytes);
            continue;
        }
        try {
            HexToBytes(QString::fromUtf8(c.Line));
            ADD_FAILURE() << "accepted";
        } catch (const ETextError& e) {
            EXPECT_TRUE(e.Text().contains(QString::fromUtf8(c.Refused))) << e.Text().toStdString();
        }
    }
}

TEST(ErrorBox, FullStopRule) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"Cannot open device COM1", "Cannot open device COM1."},
        {"Device not opened.", "Device not opened."},
        {"'abc' is not a valid integer value", "'abc' is not a valid integer value."},
        {"ends in blank ", "ends in blank "},
        {"ends in dash-", "ends in dash-"},    // '-' sorts before '.'
        {"ends in slash/", "ends in slash/."}, // '/' sorts after '.'
        {"", ""},
        {"high byte\xe9", "high byte\xe9."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorBoxText(c.In), c.Out) << c.In;
}

TEST(StrToInt, DecimalIntegersOnly) {
    for (auto [text, value] :
         {std::pair{"9600", 9600}, {"115200", 115200}, {"  42", 42}, {"-7", -7}, {"2147483647", 2147483647}})
        EXPECT_EQ(StrToInt(text), value) << text;
    for (const char* bad : {"abc", "", " ", "12a", "96 00", "9600 ", "2147483648", "+", "0x10"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

} // namespace
} // namespace qorvel

namespace qorvel {
namespace {

TEST(DialogPlace, StaysWhereItIsOnTheOwnersScreenElseCentresOnTheOwner) {
    const QRect left(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1280, 1024);
    const struct {
        const char* Name;
        QRect Dialog;
        QRect Owner;
        QRect Screen;
        QPoint Place;
    } cases[] = {
        {"on the owner's screen", {394, 197, 273, 353}, {100, 100, 729, 479}, left, {394, 197}},
        {"owner on the other screen", {394, 197, 273, 353}, {2200, 300, 729, 479}, right, {2428, 363}},
        {"partly off the screen", {1800, 197, 273, 353}, {100, 100, 729, 479}, left, {328, 163}},
        {"centred on an owner at the edge, kept on the screen",
         {-500, 0, 273, 353},
         {1700, 900, 729, 479},
         left,
         {1647, 727}},
        {"larger than the screen", {5000, 5000, 2000, 1200}, {100, 100, 729, 479}, left, {0, 0}},
        {"no screen known", {5000, 5000, 273, 353}, {100, 100, 729, 479}, {}, {5000, 5000}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DialogPlace(c.Dialog, c.Owner, c.Screen), c.Place) << c.Name;
}

} // namespace
} // namespace qorvel

namespace qorvel {
namespace {

TEST(ErrorBox, ShowsWhatEachKindOfExceptionSays) {
    struct TSilent {};
    const struct {
        const char* Name;
        std::function<void()> Raise;
        QString Text;
    } cases[] = {
        {"message", [] { throw std::runtime_error("Device not opened"); }, "Device not opened."},
        {"empty message", [] { throw std::runtime_error(""); }, "Unknown error."},
        {"not a standard exception", [] { throw TSilent{}; }, "Unknown error."},
        {"text naming any character", [] { throw ETextError(QString::fromUtf8("\u20ac and \u0141")); },
         QString::fromUtf8("\u20ac and \u0141")},
    };
    std::vector<QString> shown;
    TDesktopHooks hooks;
    hooks.MessageBox = [&](TMessageKind, const QString&, const QString& Text) { shown.push_back(Text); };
    const TDesktopHooks previous = SetDesktopHooks(std::move(hooks));
    for (const auto& c : cases) {
        try {
            c.Raise();
        } catch (...) {
            ShowCurrentException();
        }
    }
    SetDesktopHooks(previous);
    ASSERT_EQ(shown.size(), std::size(cases));
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i], cases[i].Text) << cases[i].Name;
}

} // namespace
} // namespace qorvel
