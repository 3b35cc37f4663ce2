// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vorlund::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The directory as the platform layer spells it, ending in a separator.
    std::string Prefix() const;

    void Write(const std::string& relative, std::string_view bytes) const;
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

  private:
    std::filesystem::path path_;
};

}  // namespace vorlund::testing
