// Black-box tests of qorvel-vtdump: options and set-up, plain output, the JSON contract, errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct RunResult {
    int Status = -1;
    std::string Out;
    std::string Err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quote(const std::string& arg) {
    std::string out = "'";
    for (char ch : arg)
        out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/vtdump_test_XXXXXX";
        Path = mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf " + Quote(Path)).c_str()); }
    std::string Path;
};

RunResult RunTool(const std::vector<std::string>& args, const std::string& input = "") {
    static TempDir dir;
    const std::string in = dir.Path + "/in", out = dir.Path + "/out", err = dir.Path + "/err";
    std::ofstream(in, std::ios::binary) << input;
    std::string command = Quote(QORVEL_VTDUMP);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    command += " <" + Quote(in) + " >" + Quote(out) + " 2>" + Quote(err);
    const int raw = std::system(command.c_str());
    RunResult result;
    result.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.Out = ReadFile(out);
    result.Err = ReadFile(err);
    return result;
}

// A small JSON reader, enough to check the output's structure; \u00XX escapes become bytes.
struct Json {
    enum Kind { Bool, Number, String, Array, Object } Type = Number;
    bool B = false;
    long long N = 0;
    std::string S;
    std::vector<Json> A;
    std::vector<std::pair<std::string, Json>> O;

    const Json& operator[](const std::string& key) const {
        for (const auto& [k, v] : O)
            if (k == key) return v;
        throw std::runtime_error("no key " + key);
    }
};

Json ParseJson(const std::string& t, size_t& i) {
    auto space = [&] {
        while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i])))
            ++i;
    };
    auto text = [&] {
        std::string out;
        for (++i; t.at(i) != '"'; ++i) {
            if (t[i] != '\\') {
                out += t[i];
                continue;
            }
            const char e = t.at(++i);
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
            if (e == 'u') {
                out.back() = char(std::stoul(t.substr(i + 1, 4), nullptr, 16));
                i += 4;
            }
        }
        ++i;
        return out;
    };
    space();
    Json v;
    const char c = t.at(i);
    if (c == '{' || c == '[') {
        v.Type = c == '{' ? Json::Object : Json::Array;
        ++i;
        space();
        while (t.at(i) != (c == '{' ? '}' : ']')) {
            if (c == '{') {
                std::string key = text();
                space();
                if (t.at(i++) != ':') throw std::runtime_error("expected :");
                v.O.emplace_back(key, ParseJson(t, i));
            } else {
                v.A.push_back(ParseJson(t, i));
            }
            space();
            if (t.at(i) == ',') ++i;
            space();
        }
        ++i;
    } else if (c == '"') {
        v.Type = Json::String;
        v.S = text();
    } else if (c == 't' || c == 'f') {
        v.Type = Json::Bool;
        v.B = c == 't';
        i += v.B ? 4 : 5;
    } else {
        char* end = nullptr;
        v.N = std::strtoll(t.c_str() + i, &end, 10);
        if (end == t.c_str() + i) throw std::runtime_error("bad value");
        i = size_t(end - t.c_str());
    }
    return v;
}

Json RunJson(std::vector<std::string> args, const std::string& input) {
    args.push_back("--json");
    const RunResult r = RunTool(args, input);
    EXPECT_EQ(r.Status, 0) << r.Err;
    size_t at = 0;
    Json j = ParseJson(r.Out, at);
    EXPECT_EQ(r.Out.find_first_not_of(" \n", at), std::string::npos) << "one JSON object only";
    return j;
}

std::string HexOf(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : bytes)
        out += {kDigits[ch >> 4], kDigits[ch & 15]};
    return out;
}

TEST(VtdumpJson, HasExactlyTheContractKeysWithTheirTypes) {
    const Json j = RunJson({}, "");
    const std::vector<std::pair<std::string, Json::Kind>> expected = {
        {"rows", Json::Number},          {"cols", Json::Number},
        {"backrows", Json::Number},      {"row", Json::Number},
        {"col", Json::Number},           {"saved_row", Json::Number},
        {"saved_col", Json::Number},     {"scroll_top", Json::Number},
        {"scroll_bottom", Json::Number}, {"attribute", Json::Number},
        {"reverse_video", Json::Bool},   {"underline", Json::Bool},
        {"high_bit_chars", Json::Bool},  {"auto_wrap", Json::Bool},
        {"cursor_off", Json::Bool},      {"cursor_key_mode", Json::Bool},
        {"translate_input", Json::Bool}, {"translate_input_default", Json::Bool},
        {"in_escape", Json::Bool},       {"raw_count", Json::Number},
        {"esc_buffer", Json::String},    {"input_table", Json::String},
        {"output_table", Json::String},  {"first_back_row", Json::Number},
        {"all_invalid", Json::Bool},     {"inv_rect", Json::Array},
        {"lines", Json::Array},          {"debug", Json::Array},
        {"beeps", Json::Number},
    };
    ASSERT_EQ(j.Type, Json::Object);
    ASSERT_EQ(j.O.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(j.O[i].first, expected[i].first);
        EXPECT_EQ(j.O[i].second.Type, expected[i].second) << expected[i].first;
    }
    // Defaults after set-up: cleared screen, empty change record, normal tables, no translation.
    EXPECT_EQ(j["rows"].N, 25);
    EXPECT_EQ(j["cols"].N, 80);
    EXPECT_EQ(j["scroll_bottom"].N, 24);
    EXPECT_EQ(j["attribute"].N, 7);
    EXPECT_FALSE(j["translate_input"].B);
    EXPECT_FALSE(j["all_invalid"].B);
    EXPECT_EQ(j["input_table"].S, "normal");
    const Json& rect = j["inv_rect"];
    ASSERT_EQ(rect.A.size(), 4u);
    EXPECT_EQ(rect.A[0].N, 9999);
    EXPECT_EQ(rect.A[1].N, 9999);
    EXPECT_EQ(rect.A[2].N, -1);
    EXPECT_EQ(rect.A[3].N, -1);
    ASSERT_EQ(j["lines"].A.size(), 25u);
    EXPECT_EQ(j["lines"].A[0]["txt"].S, HexOf(std::string(161, ' ')));
    EXPECT_EQ(j["lines"].A[0]["att"].S, HexOf(std::string(161, '\x07')));
}

TEST(VtdumpJson, ReportsStateAfterTheStream) {
    const Json j = RunJson({"--rows", "5", "--cols", "20", "--backrows", "3"},
                           "abc\n\n\n\n\n\x1b[12m\x1b[7m\x1b[2;5Hx\x1b"
                           "7\x1b[3;4r\x1b[?25l\x1b[?1h\x1b[?7h\x0e\x1b[1;5Iab");
    EXPECT_EQ(j["backrows"].N, 3);
    EXPECT_EQ(j["row"].N, 1);
    EXPECT_EQ(j["col"].N, 6);
    EXPECT_EQ(j["saved_row"].N, 1);
    EXPECT_EQ(j["saved_col"].N, 5);
    EXPECT_EQ(j["scroll_top"].N, 2);
    EXPECT_EQ(j["scroll_bottom"].N, 3);
    EXPECT_EQ(j["attribute"].N, 0x70);
    EXPECT_TRUE(j["reverse_video"].B);
    EXPECT_TRUE(j["high_bit_chars"].B);
    EXPECT_TRUE(j["auto_wrap"].B);
    EXPECT_TRUE(j["cursor_off"].B);
    EXPECT_TRUE(j["cursor_key_mode"].B);
    EXPECT_EQ(j["raw_count"].N, 3);
    EXPECT_FALSE(j["in_escape"].B);
    EXPECT_EQ(j["input_table"].S, "graphic");
    EXPECT_EQ(j["output_table"].S, "graphic");
    EXPECT_EQ(j["first_back_row"].N, -1);
    EXPECT_TRUE(j["all_invalid"].B);
    const Json& lines = j["lines"];
    ASSERT_EQ(lines.A.size(), 8u);
    EXPECT_EQ(lines.A[0]["row"].N, -3);
    EXPECT_EQ(lines.A[7]["row"].N, 4);
    EXPECT_EQ(lines.A[2]["txt"].S.substr(0, 6), "616263") << "abc scrolled into back row -1";
    EXPECT_EQ(lines.A[4]["txt"].S.substr(8, 4), "F8E1") << "x and the raw a, with bit 7 set";
    EXPECT_EQ(lines.A[4]["att"].S.substr(8, 2), "70");
    for (const Json& line : lines.A) {
        EXPECT_EQ(line.O.size(), 3u);
        EXPECT_EQ(line["txt"].S.size(), 322u);
        EXPECT_EQ(line["att"].S.size(), 322u);
    }
}

TEST(VtdumpJson, OpenSequenceAndDebugLinesInLatin1) {
    const Json j = RunJson({}, "\x1bZ\x1b[5\xc0\a\a\x1b[3;1;2;3;4I\x1b[12;3");
    EXPECT_TRUE(j["in_escape"].B);
    EXPECT_EQ(j["esc_buffer"].S, "5B31323B33");
    EXPECT_EQ(j["beeps"].N, 2);
    const Json& debug = j["debug"];
    ASSERT_EQ(debug.A.size(), 3u);
    EXPECT_EQ(debug.A[0].S, "0001 Invalid Escape Sequence: Z\r\n");
    EXPECT_EQ(debug.A[1].S, "0002 Invalid Escape Sequence: [5\xc0\r\n");
    EXPECT_EQ(debug.A[2].S, "0003 Special key 0201 0403");
    const RunResult raw = RunTool({"--json"}, "\x1b[5\xc0");
    EXPECT_NE(raw.Out.find("\\u00c0"), std::string::npos) << "bytes above 0x7F as Latin-1 code points";
}

struct SetupCase {
    const char* Name;
    std::vector<std::string> Args;
    std::string Input;
    const char* Key;
    long long Number;
    bool Flag;
};

TEST(VtdumpSetup, OptionsReachTheScreen) {
    const SetupCase cases[] = {
        {"xlat 0 translates", {"--xlat", "0"}, "", "translate_input_default", 0, true},
        {"xlat 1 does not", {"--xlat", "1"}, "", "translate_input", 0, false},
        {"ESC ( 0 restores xlat 0 default", {"--xlat", "0"}, "\x1b[4I\x1b(0", "translate_input", 0, true},
        {"autolf", {"--autolf"}, "a\r", "row", 1, false},
        {"autocr", {"--autocr"}, "abc\n", "col", 0, false},
        {"no autocr", {}, "abc\n", "col", 3, false},
        {"back rows then rows", {"--backrows", "16382", "--rows", "1"}, "", "backrows", 16382, false},
        {"copyback on",
         {"--options", "copyback", "--backrows", "4", "--rows", "2"},
         "x\x1b[2J",
         "first_back_row",
         -2,
         false},
        {"copyback off by default",
         {"--backrows", "4", "--rows", "2"},
         "x\x1b[2J",
         "first_back_row",
         0,
         false},
        {"empty option list",
         {"--options", "", "--backrows", "4", "--rows", "2"},
         "x\n\n",
         "first_back_row",
         -1,
         false},
    };
    for (const SetupCase& c : cases) {
        const Json j = RunJson(c.Args, c.Input);
        if (j[c.Key].Type == Json::Bool)
            EXPECT_EQ(j[c.Key].B, c.Flag) << c.Name;
        else
            EXPECT_EQ(j[c.Key].N, c.Number) << c.Name;
    }
}

TEST(VtdumpPlain, Cp437GlyphsTrimmedRows) {
    const RunResult r = RunTool({"--rows", "3", "--cols", "12"},
                                std::string("\x01\x7f\xc4\xdb\xe1 \x00x  \r\nab", 15) + std::string(20, 'z'));
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "\u263A\u2302\u2500\u2588\u00DF x\nabzzzzzzzzzz\n\n");
}

TEST(VtdumpPlain, BundledSampleRenders) {
    const std::string path = QORVEL_SAMPLES "/demo.vt";
    const RunResult r = RunTool({"--rows", "25", "--cols", "80", path});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("\u250C\u2500"), std::string::npos) << "box drawing";
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 25);
    EXPECT_EQ(RunTool({"--rows", "25", "--cols", "80"}, ReadFile(path)).Out, r.Out) << "stdin as file";
}

TEST(VtdumpErrors, BadOptionsExitWithStatus2AndOneLine) {
    const std::vector<std::vector<std::string>> cases = {
        {"--rows", "0"},
        {"--rows", "-4"},
        {"--rows", "x"},
        {"--rows"},
        {"--cols", "0"},
        {"--cols", "162"},
        {"--backrows", "-1"},
        {"--rows", "16000", "--backrows", "384"},
        {"--backcolor", "8"},
        {"--backcolor", "-1"},
        {"--options", "backcolor,bogus"},
        {"--options", "backcolor,"},
        {"--xlat", "2"},
        {"--xlat", ""},
        {"--unknown"},
        {"--rows", "5x"},
        {"one.vt", "two.vt"},
        {"/nonexistent/capture.vt"},
        {"/"},
    };
    for (const auto& args : cases) {
        const RunResult r = RunTool(args);
        std::string name;
        for (const auto& a : args)
            name += a + " ";
        EXPECT_EQ(r.Status, 2) << name;
        EXPECT_TRUE(r.Out.empty()) << name;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << name << ": " << r.Err;
    }
}

} // namespace
