#pragma once

#include <string>

#include "platform/platform.h"

namespace vorlund {

// The rest of `file` into `content`; false when a read fails.
inline bool ReadToEnd(InputFile& file, std::string& content) {
    content.clear();
    char block[4096];
    for (;;) {
        const std::int64_t count = file.Read(block, sizeof block);
        if (count < 0)
            return false;
        if (count == 0)
            return true;
        content.append(block, static_cast<std::size_t>(count));
    }
}

// The whole of a small file of our own.
inline Result<std::string> ReadWholeFile(const Platform& platform, const std::string& path) {
    Result<std::unique_ptr<InputFile>> file = platform.OpenForReading(path);
    if (!file) {
        return Failure{file.reason()};
    }
    std::string content;
    if (!ReadToEnd(**file, content)) {
        return Failure{path + ": a read failed"};
    }
    return content;
}

}  // namespace vorlund
