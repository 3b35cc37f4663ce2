// A delivery being received: its bytes go to a staged file beside X.DAT as
// they arrive, never all in memory, and its digest is made on the way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/result.h"
#include "delivery/sha256.h"
#include "platform/platform.h"

namespace vorlund {

class IncomingDelivery {
  public:
    // `path`: where it goes, for the messages.
    IncomingDelivery(std::unique_ptr<StagedFile> file, std::string path)
        : file_(std::move(file)), path_(std::move(path)) {}

    Status Append(std::string_view bytes) {
        bytes_ += bytes.size();
        digest_.Update(bytes);
        if (Status written = file_->Write(bytes); !written) {
            return Failure{path_ + ": " + written.reason()};
        }
        return {};
    }
    std::uint64_t Bytes() const { return bytes_; }

  private:
    friend class DeliveryHandOff;
    friend class PartialDeliveries;
    std::unique_ptr<StagedFile> file_;
    std::string path_;
    Sha256 digest_;
    std::uint64_t bytes_ = 0;
};

}  // namespace vorlund
