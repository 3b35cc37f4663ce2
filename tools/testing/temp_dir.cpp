#include "testing/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

namespace vorlund::testing {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("vorlund-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Prefix() const {
    return path_.string() + static_cast<char>(std::filesystem::path::preferred_separator);
}

void TempDir::Write(const std::string& relative, std::string_view bytes) const {
    std::ofstream out(path_ / relative, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::Read(const std::string& relative) const {
    std::ifstream in(path_ / relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool TempDir::Exists(const std::string& relative) const {
    return std::filesystem::exists(path_ / relative);
}

}  // namespace vorlund::testing
