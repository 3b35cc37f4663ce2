#include "testing/fault_platform.h"

#include <algorithm>

namespace vorlund::testing {
namespace {

class ChunkedInput final : public InputFile {
  public:
    ChunkedInput(std::unique_ptr<InputFile> inner, std::size_t chunk)
        : inner_(std::move(inner)), chunk_(chunk) {}
    std::int64_t Read(void* buffer, std::size_t size) override {
        return inner_->Read(buffer, std::min(size, chunk_));
    }

  private:
    std::unique_ptr<InputFile> inner_;
    std::size_t chunk_;
};

class FailingStagedFile final : public StagedFile {
  public:
    FailingStagedFile(std::unique_ptr<StagedFile> inner, int failWriteNumber, bool failPublish)
        : inner_(std::move(inner)), failWriteNumber_(failWriteNumber), failPublish_(failPublish) {}
    Status Write(std::string_view bytes) override {
        return ++writes_ == failWriteNumber_ ? Status(Failure{kInjected}) : inner_->Write(bytes);
    }
    Status Finish() override { return inner_->Finish(); }
    Status Publish(Placement placement) override {
        return failPublish_ ? Status(Failure{kInjected}) : inner_->Publish(placement);
    }
    bool Moved() const override { return inner_->Moved(); }
    const std::string& TemporaryPath() const override { return inner_->TemporaryPath(); }
    void KeepTemporary() override { inner_->KeepTemporary(); }

  private:
    std::unique_ptr<StagedFile> inner_;
    int failWriteNumber_;
    bool failPublish_;
    int writes_ = 0;
};

}  // namespace

Result<std::unique_ptr<InputFile>> FaultPlatform::OpenExclusive(const std::string& path) const {
    if (faults_.openExclusive) {
        return Failure{kInjected};
    }
    auto file = real_.OpenExclusive(path);
    if (file && faults_.readChunk != 0) {
        return std::unique_ptr<InputFile>(
            std::make_unique<ChunkedInput>(std::move(*file), faults_.readChunk));
    }
    return file;
}

Result<std::unique_ptr<StagedFile>> FaultPlatform::CreateStaged(const std::string& path) const {
    if (faults_.createExport) {
        return Failure{kInjected};
    }
    auto file = real_.CreateStaged(path);
    if (file && (faults_.failWriteNumber != 0 || faults_.commit)) {
        return std::unique_ptr<StagedFile>(std::make_unique<FailingStagedFile>(
            std::move(*file), faults_.failWriteNumber, faults_.commit));
    }
    return file;
}

}  // namespace vorlund::testing
