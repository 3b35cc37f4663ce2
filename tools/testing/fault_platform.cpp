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

class FailingOutput final : public OutputFile {
  public:
    FailingOutput(std::unique_ptr<OutputFile> inner, int failWriteNumber, bool failCommit)
        : inner_(std::move(inner)), failWriteNumber_(failWriteNumber), failCommit_(failCommit) {}
    bool Write(const void* data, std::size_t size) override {
        return ++writes_ != failWriteNumber_ && inner_->Write(data, size);
    }
    bool Commit() override { return !failCommit_ && inner_->Commit(); }

  private:
    std::unique_ptr<OutputFile> inner_;
    int failWriteNumber_;
    bool failCommit_;
    int writes_ = 0;
};

}  // namespace

std::unique_ptr<InputFile> FaultPlatform::OpenExclusive(const std::string& path) const {
    if (faults_.openExclusive)
        return nullptr;
    auto file = real_.OpenExclusive(path);
    if (file && faults_.readChunk != 0) {
        return std::make_unique<ChunkedInput>(std::move(file), faults_.readChunk);
    }
    return file;
}

std::unique_ptr<OutputFile> FaultPlatform::CreateExport(const std::string& path) const {
    if (faults_.createExport)
        return nullptr;
    auto file = real_.CreateExport(path);
    if (file && (faults_.failWriteNumber != 0 || faults_.commit)) {
        return std::make_unique<FailingOutput>(std::move(file), faults_.failWriteNumber,
                                               faults_.commit);
    }
    return file;
}

}  // namespace vorlund::testing
