#pragma once

// A fresh folder under the system's temporary folder, removed with its contents at the end.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#define KOV_TEST_PID _getpid
#else
#include <unistd.h>
#define KOV_TEST_PID getpid
#endif

namespace test {

class TempFolder {
public:
    TempFolder() {
        static std::atomic<unsigned> count{0};
        const auto base = std::filesystem::temp_directory_path();
        do {
            path_ = base /
                    ("kov-test-" + std::to_string(KOV_TEST_PID()) + "-" + std::to_string(count++));
        } while (!std::filesystem::create_directory(path_));
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    // Writes `contents` to the file `name` in the folder and returns its path.
    std::filesystem::path file(const std::string& name, const std::string& contents) const {
        const std::filesystem::path p = path_ / name;
        std::ofstream(p, std::ios::binary) << contents;
        return p;
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace test

#undef KOV_TEST_PID
