// Replays saved inputs through a libFuzzer target without fuzzing, so that every target builds
// and runs in the ordinary test builds (GCC, sanitizers) and its seeds and regression inputs are
// checked on every run.
//
//   NAME_replay [--optional] PATH...
//
// Each PATH is a file or a folder whose files (recursively, in name order, hidden ones skipped)
// are fed to the target one at a time, each in a heap buffer of exactly its size so that the
// sanitizers see any read past the end. A folder must hold at least one input unless
// --optional stands before it (the regression folders start out empty).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool hidden(const fs::path& path) {
    return path.filename().string().starts_with('.');
}

bool replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> contents{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    const auto input = std::make_unique<std::uint8_t[]>(contents.size());
    std::copy(contents.begin(), contents.end(), input.get());
    LLVMFuzzerTestOneInput(input.get(), contents.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [--optional] PATH...\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        bool optional = false;
        if (std::string_view{argv[i]} == "--optional") {
            if (++i == argc) {
                std::fprintf(stderr, "--optional without a path\n");
                return 2;
            }
            optional = true;
        }
        const fs::path given = argv[i];
        std::error_code error;
        if (optional && !fs::exists(given, error)) {
            continue;
        }
        if (!fs::is_directory(given, error)) {
            if (!replay(given)) {
                return 1;
            }
            ++replayed;
            continue;
        }
        std::vector<fs::path> files;
        for (fs::recursive_directory_iterator it(given, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_regular_file(error) && !hidden(it->path())) {
                files.push_back(it->path());
            }
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", given.c_str(), error.message().c_str());
            return 1;
        }
        if (files.empty() && !optional) {
            std::fprintf(stderr, "no inputs in %s\n", given.c_str());
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            std::fprintf(stderr, "replaying %s\n", file.c_str());
            if (!replay(file)) {
                return 1;
            }
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    return 0;
}
