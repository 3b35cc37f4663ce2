#include "app/run_marker.h"

#include <memory>

namespace vorlund {

RunMarker::RunMarker(const Platform& platform, const std::string& spoolDir)
    : platform_(platform), path_(spoolDir + platform.PathSeparator() + kFileName) {
    previousCutShort_ = platform_.FileExists(path_);
    // A mark being made when the run before was cut short left its
    // temporary name behind.
    const std::string temporary = std::string(kFileName) + ".";
    for (const std::string& name : platform_.ListDirectory(spoolDir)) {
        if (name.rfind(temporary, 0) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".tmp") == 0) {
            previousCutShort_ = true;
            static_cast<void>(platform_.RemoveFile(spoolDir + platform.PathSeparator() + name));
        }
    }
    if (platform_.FileExists(path_)) {
        marked_ = true;  // the mark of the run before stands for this one
        return;
    }
    if (Result<std::unique_ptr<StagedFile>> mark = platform_.CreateStaged(path_)) {
        marked_ = (*mark)->Finish() && (*mark)->Publish(StagedFile::Placement::kReplace);
    }
}

RunMarker::~RunMarker() {
    if (marked_) {
        static_cast<void>(platform_.RemoveFile(path_));
    }
}

}  // namespace vorlund
