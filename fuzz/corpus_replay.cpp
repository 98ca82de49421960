// Replays fuzz inputs through a libFuzzer entry point without libFuzzer: every file named on the
// command line, and every regular file in every directory named, once each. A harness that finds
// a fault aborts, so ctest sees a failure; an empty corpus is a failure too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace {

bool Replay(const std::filesystem::path& File) {
    std::ifstream in(File, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "corpus_replay: cannot read %s\n", File.c_str());
        return false;
    }
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        const std::filesystem::path arg = argv[i];
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
            // A fixed order, so that a failure reproduces the same way on every machine.
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(arg);
        }
        if (error) {
            std::fprintf(stderr, "corpus_replay: cannot list %s: %s\n", arg.c_str(), error.message().c_str());
            return 1;
        }
        for (const auto& file : files) {
            if (!Replay(file)) return 1;
            ++replayed;
        }
    }
    std::printf("corpus_replay: %zu inputs replayed, no fault\n", replayed);
    return replayed > 0 ? 0 : 1;
}
