// A platform that forwards to the real one but fails the operations a test
// names, so results 2, 50, 51 and 52 and a failed keep can be provoked
// without a full disk.
#pragma once

#include <string>

#include "platform/platform.h"

namespace vorlund::testing {

inline constexpr char kInjected[] = "injected fault";

struct Faults {
    bool openExclusive = false;
    bool createExport = false;  // CreateStaged fails
    int failWriteNumber = 0;    // the n-th write to a staged file fails (1-based); 0: none
    bool commit = false;        // publishing a staged file fails
    bool copy = false;          // KeepAs fails
    std::size_t readChunk = 0;  // when set, reads return at most this many bytes
    bool hasClock = false;
    LocalDateTime clock;
    // When set, the system time in ms, as a test moves it on.
    const std::int64_t* systemTimeMs = nullptr;
};

class FaultPlatform : public Platform {
  public:
    FaultPlatform(const Platform& real, Faults faults) : real_(real), faults_(faults) {}

    char PathSeparator() const override { return real_.PathSeparator(); }
    std::string ExecutablePath() const override { return real_.ExecutablePath(); }
    bool IsDirectory(const std::string& path) const override { return real_.IsDirectory(path); }
    Status MakeDirectory(const std::string& path) const override {
        return real_.MakeDirectory(path);
    }
    bool ReadSettingsFile(const std::string& path, std::string& content) const override {
        return real_.ReadSettingsFile(path, content);
    }
    bool FileExists(const std::string& path) const override { return real_.FileExists(path); }
    Result<std::unique_ptr<InputFile>> OpenExclusive(const std::string& path) const override;
    Result<std::unique_ptr<InputFile>> OpenForReading(const std::string& path) const override {
        return real_.OpenForReading(path);
    }
    Result<std::unique_ptr<StagedFile>> CreateStaged(const std::string& path) const override;
    Status PublishTemporary(const std::string& temporary, const std::string& path) const override {
        return real_.PublishTemporary(temporary, path);
    }
    Status KeepAs(const std::string& from, const std::string& to) const override {
        return faults_.copy ? Status(Failure{kInjected}) : real_.KeepAs(from, to);
    }
    Result<std::unique_ptr<AppendFile>> OpenAppend(const std::string& path,
                                                   std::uint64_t keep) const override {
        return real_.OpenAppend(path, keep);
    }
    Status RemoveFile(const std::string& path) const override { return real_.RemoveFile(path); }
    Result<std::string> FileIdentity(const std::string& path) const override {
        return real_.FileIdentity(path);
    }
    std::vector<std::string> ListDirectory(const std::string& path) const override {
        return real_.ListDirectory(path);
    }
    LocalDateTime LocalTime() const override {
        return faults_.hasClock ? faults_.clock : real_.LocalTime();
    }
    std::optional<LocalDateTime> LocalTimeAt(std::int64_t ms) const override {
        return real_.LocalTimeAt(ms);
    }
    std::int64_t SystemTimeMs() const override {
        return faults_.systemTimeMs ? *faults_.systemTimeMs : real_.SystemTimeMs();
    }
    void ReleaseFreeMemory() const override { real_.ReleaseFreeMemory(); }
    std::u16string WidePath(const std::string& path) const override { return real_.WidePath(path); }

  private:
    const Platform& real_;
    Faults faults_;
};

}  // namespace vorlund::testing
