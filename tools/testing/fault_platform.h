// A platform that forwards to the real one but fails the operations a test
// names, so results 2, 50, 51 and 52 can be provoked without a full disk.
#pragma once

#include <string>

#include "platform/platform.h"

namespace vorlund::testing {

struct Faults {
    bool openExclusive = false;
    bool createExport = false;
    int failWriteNumber = 0;  // the n-th Write fails (1-based); 0: none
    bool commit = false;
    bool copy = false;          // CopyToNewFile fails
    std::size_t readChunk = 0;  // when set, reads return at most this many bytes
    bool hasClock = false;
    LocalDateTime clock;
};

class FaultPlatform : public Platform {
  public:
    FaultPlatform(const Platform& real, Faults faults) : real_(real), faults_(faults) {}

    char PathSeparator() const override { return real_.PathSeparator(); }
    std::string ExecutablePath() const override { return real_.ExecutablePath(); }
    bool IsDirectory(const std::string& path) const override { return real_.IsDirectory(path); }
    bool MakeDirectory(const std::string& path) const override { return real_.MakeDirectory(path); }
    bool ReadSettingsFile(const std::string& path, std::string& content) const override {
        return real_.ReadSettingsFile(path, content);
    }
    bool FileExists(const std::string& path) const override { return real_.FileExists(path); }
    std::unique_ptr<InputFile> OpenExclusive(const std::string& path) const override;
    std::unique_ptr<OutputFile> CreateExport(const std::string& path) const override;
    bool CopyToNewFile(const std::string& from, const std::string& to) const override {
        return !faults_.copy && real_.CopyToNewFile(from, to);
    }
    LocalDateTime LocalTime() const override {
        return faults_.hasClock ? faults_.clock : real_.LocalTime();
    }
    std::u16string WidePath(const std::string& path) const override { return real_.WidePath(path); }
    std::string LastErrorText() const override {
        const bool injecting = faults_.openExclusive || faults_.createExport ||
                               faults_.failWriteNumber != 0 || faults_.commit;
        return injecting ? "injected fault" : real_.LastErrorText();
    }

  private:
    const Platform& real_;
    Faults faults_;
};

}  // namespace vorlund::testing
