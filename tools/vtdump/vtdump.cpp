// qorvel-vtdump: replays a captured byte stream (a file or stdin) into the terminal engine and
// prints the resulting screen as text, or the engine's whole state as JSON.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulvt/char_tables.h"
#include "emulvt/screen.h"
#include "platform/debugout.h"

namespace {

using qorvel::TScreen;

constexpr int kExitUsage = 2;

struct TOptions {
    int Rows = 25;
    int Cols = 80;
    int BackRows = 0;
    int BackColor = 7;
    qorvel::TScreenOptions ScreenOptions{qorvel::vtoBackColor};
    bool Xlat = true;
    bool AutoLF = false;
    bool AutoCR = false;
    bool Json = false;
    std::optional<std::string> File;
};

struct TUsageError {
    std::string Message;
};

int ParseInt(std::string_view option, std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw TUsageError{std::string(option) + ": not an integer: '" + std::string(text) + "'"};
    return value;
}

qorvel::TScreenOptions ParseScreenOptions(std::string_view list) {
    qorvel::TScreenOptions options;
    if (list.empty()) return options;
    size_t start = 0;
    while (true) {
        const size_t comma = list.find(',', start);
        const std::string_view name =
            list.substr(start, comma == std::string_view::npos ? list.npos : comma - start);
        if (name == "backcolor")
            options.Include(qorvel::vtoBackColor);
        else if (name == "copyback")
            options.Include(qorvel::vtoCopyBackOnClear);
        else
            throw TUsageError{"--options: unknown option name '" + std::string(name) +
                              "' (known: backcolor, copyback)"};
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return options;
}

TOptions ParseArguments(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) throw TUsageError{std::string(arg) + ": missing value"};
            return argv[++i];
        };
        if (arg == "--rows") {
            options.Rows = ParseInt(arg, value());
        } else if (arg == "--cols") {
            options.Cols = ParseInt(arg, value());
        } else if (arg == "--backrows") {
            options.BackRows = ParseInt(arg, value());
        } else if (arg == "--backcolor") {
            options.BackColor = ParseInt(arg, value());
        } else if (arg == "--options") {
            options.ScreenOptions = ParseScreenOptions(value());
        } else if (arg == "--xlat") {
            const std::string_view v = value();
            if (v != "0" && v != "1")
                throw TUsageError{"--xlat: must be 0 or 1, not '" + std::string(v) + "'"};
            options.Xlat = v == "1";
        } else if (arg == "--autolf") {
            options.AutoLF = true;
        } else if (arg == "--autocr") {
            options.AutoCR = true;
        } else if (arg == "--json") {
            options.Json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw TUsageError{"unknown option '" + std::string(arg) + "'"};
        } else if (options.File) {
            throw TUsageError{"more than one input file given"};
        } else {
            options.File = std::string(arg);
        }
    }
    if (options.Rows < 1) throw TUsageError{"--rows: must be at least 1"};
    if (options.Cols < 1 || options.Cols > qorvel::kLineCells) throw TUsageError{"--cols: must be in 1..161"};
    if (options.BackRows < 0) throw TUsageError{"--backrows: must not be negative"};
    if (int64_t(options.Rows) + options.BackRows > qorvel::kMaxTotalRows)
        throw TUsageError{"--rows plus --backrows must not exceed 16383"};
    if (options.BackColor < 0 || options.BackColor > 7) throw TUsageError{"--backcolor: must be in 0..7"};
    return options;
}

std::optional<std::string> ReadInput(const std::optional<std::string>& file, std::string& error) {
    const bool useStdin = !file || *file == "-";
    FILE* stream = useStdin ? stdin : std::fopen(file->c_str(), "rb");
    if (!stream) {
        error = *file + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string data;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
        data.append(buffer, got);
    const bool failed = std::ferror(stream) != 0;
    const int savedErrno = errno;
    if (!useStdin) std::fclose(stream);
    if (failed) {
        error = (useStdin ? std::string("stdin") : *file) + ": " + std::strerror(savedErrno);
        return std::nullopt;
    }
    return data;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string PlainScreen(const TScreen& screen) {
    std::string out;
    for (int32_t r = 0; r < screen.FRowCount; ++r) {
        const qorvel::TLine* line = screen.GetLine(r);
        std::string row;
        for (int32_t c = 0; c < screen.FColCount; ++c)
            AppendUtf8(row, qorvel::Cp437ToUnicode[line->Txt[c]]);
        row.erase(row.find_last_not_of(' ') + 1);
        out += row;
        out += '\n';
    }
    return out;
}

std::string Hex(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

// Each byte becomes the code point of the same value (Latin-1), escaped where JSON needs it.
std::string JsonString(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char ch : bytes) {
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (ch < 0x20 || ch >= 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(ch));
                out += escaped;
            } else {
                out += char(ch);
            }
        }
    }
    return out + "\"";
}

std::string JsonState(const TScreen& s, const std::vector<std::string>& debug, int beeps) {
    auto b = [](bool v) { return v ? "true" : "false"; };
    auto table = [](const uint8_t* t) {
        return t == qorvel::GraphicCharTable ? "\"graphic\"" : "\"normal\"";
    };
    std::string o = "{\n";
    auto field = [&](const char* key, const std::string& value) {
        o += "  \"";
        o += key;
        o += "\": ";
        o += value;
        o += ",\n";
    };
    auto num = [](int64_t v) { return std::to_string(v); };
    field("rows", num(s.FRowCount));
    field("cols", num(s.FColCount));
    field("backrows", num(s.FBackRowCount));
    field("row", num(s.FRow));
    field("col", num(s.FCol));
    field("saved_row", num(s.FSavedRow));
    field("saved_col", num(s.FSavedCol));
    field("scroll_top", num(s.FScrollTop));
    field("scroll_bottom", num(s.FScrollBottom));
    field("attribute", num(s.FAttribute));
    field("reverse_video", b(s.FReverseVideo));
    field("underline", b(s.FUnderline));
    field("high_bit_chars", b(s.FHighBitChars));
    field("auto_wrap", b(s.FAutoWrap));
    field("cursor_off", b(s.FCursorOff));
    field("cursor_key_mode", b(s.FCursorKeyMode));
    field("translate_input", b(s.FTranslateInput));
    field("translate_input_default", b(s.FTranslateInputDefault));
    field("in_escape", b(s.FInEscape));
    field("raw_count", num(s.FRawCount));
    field("esc_buffer", "\"" + Hex(s.FEscBuffer, size_t(s.FEscLength)) + "\"");
    field("input_table", table(s.FInputTable));
    field("output_table", table(s.FOutputTable));
    field("first_back_row", num(s.FFirstBackRow));
    field("all_invalid", b(s.FAllInvalid));
    field("inv_rect", "[" + num(s.FInvRect.Left) + ", " + num(s.FInvRect.Top) + ", " + num(s.FInvRect.Right) +
                          ", " + num(s.FInvRect.Bottom) + "]");
    std::string lines = "[";
    for (int32_t r = -s.FBackRowCount; r < s.FRowCount; ++r) {
        const qorvel::TLine* line = s.GetLine(r);
        lines += r == -s.FBackRowCount ? "\n" : ",\n";
        lines += "    {\"row\": " + num(r) + ", \"txt\": \"" + Hex(line->Txt, qorvel::kLineCells) +
                 "\", \"att\": \"" + Hex(line->Att, qorvel::kLineCells) + "\"}";
    }
    field("lines", lines + "\n  ]");
    std::string lineTexts = "[";
    for (size_t i = 0; i < debug.size(); ++i)
        lineTexts += (i ? ", " : "") + JsonString(debug[i]);
    field("debug", lineTexts + "]");
    o += "  \"beeps\": " + num(beeps) + "\n}\n";
    return o;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    try {
        options = ParseArguments(argc, argv);
    } catch (const TUsageError& e) {
        std::fprintf(stderr, "qorvel-vtdump: %s\n", e.Message.c_str());
        return kExitUsage;
    }
    std::string error;
    const std::optional<std::string> input = ReadInput(options.File, error);
    if (!input) {
        std::fprintf(stderr, "qorvel-vtdump: %s\n", error.c_str());
        return kExitUsage;
    }

    // Each debug line reaches the sink as two strings: the numbered prefix, then the message.
    std::vector<std::string> pieces;
    int beeps = 0;
    qorvel::platform::SetDebugSink([&](std::string_view piece) { pieces.emplace_back(piece); });
    qorvel::platform::SetBeepSink([&](unsigned) { ++beeps; });

    TScreen screen; // both translation tables start on NormalCharTable, as the view sets them
    screen.SetBackRowCount(options.BackRows);
    screen.SetRowCount(options.Rows);
    // The 25 rows of a new screen may not have left room for all back rows; now there is.
    if (screen.FBackRowCount != options.BackRows) screen.SetBackRowCount(options.BackRows);
    screen.FColCount = options.Cols;
    screen.FBackColor = qorvel::TBackColors(options.BackColor);
    screen.FOptions = options.ScreenOptions;
    screen.FTranslateInput = !options.Xlat;
    screen.FTranslateInputDefault = !options.Xlat;
    screen.FAutoLF = options.AutoLF;
    screen.FAutoCR = options.AutoCR;
    screen.ClearScreen();
    screen.ClearInvalid();

    for (unsigned char ch : *input)
        screen.WriteChar(ch);

    qorvel::platform::SetDebugSink(nullptr);
    qorvel::platform::SetBeepSink(nullptr);

    std::string out;
    if (options.Json) {
        std::vector<std::string> debug;
        for (size_t i = 0; i < pieces.size(); i += 2)
            debug.push_back(pieces[i] + (i + 1 < pieces.size() ? pieces[i + 1] : std::string()));
        out = JsonState(screen, debug, beeps);
    } else {
        out = PlainScreen(screen);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
