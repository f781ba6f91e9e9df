#pragma once

// A fresh folder per test, removed with its content at the end.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>

namespace Ovra {
namespace hardening {

class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_path = std::filesystem::temp_directory_path() /
                 ("ovra-hard-" + std::to_string(stamp) + "-" + std::to_string(random()) + "-" +
                  std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::filesystem::path Path(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

}  // namespace hardening
}  // namespace Ovra
