#pragma once

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
// Names are unique across processes and runs, so suites running side by side never meet.

#include <Ovra/Bases/StringConv.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>

namespace Ovra {
namespace testing_support {

class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix = "ovra-test") {
        static std::atomic<unsigned> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 (prefix + "-" + std::to_string(std::random_device()()) + "-" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                  "-" + std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& Folder() const { return m_path; }
    std::filesystem::path Path(const std::string& name) const { return m_path / name; }
    std::wstring WidePath(const std::string& name) const { return Path(name).wstring(); }
    std::string Utf8Path(const std::string& name) const { return tcs_to_utf8(WidePath(name)); }

private:
    std::filesystem::path m_path;
};

}  // namespace testing_support
}  // namespace Ovra
