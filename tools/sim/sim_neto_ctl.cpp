#include "sim/sim_neto_ctl.h"

#include <fstream>
#include <stdexcept>
#include <utility>

#include "common/cp1252.h"

namespace vorlund::sim {
namespace {

// UTF-16 back to code page 1252; what the page cannot hold becomes '?'.
std::string NarrowToCp1252(std::u16string_view text) {
    std::string out;
    for (const char16_t unit : text) {
        char narrow = '?';
        for (int byte = 0; byte < 256; ++byte) {
            const char candidate = static_cast<char>(byte);
            if (Cp1252ToUtf16(std::string_view(&candidate, 1)).front() == unit) {
                narrow = candidate;
                break;
            }
        }
        out += narrow;
    }
    return out;
}

}  // namespace

void SimNetoCtl::Raise(std::int16_t msgCode, std::int16_t final) {
    loop_.Log("OnProtocolMessage " + std::to_string(msgCode));
    RaiseProtocolMessage({msgCode, u"", final, 1});
}

void SimNetoCtl::Deliver(const std::string& content) {
    const std::string path = rcvDir_ + "/X.DAT";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    file.close();
    if (!file) {
        throw std::runtime_error("the stand-in control cannot write " + path);
    }
    loop_.Log("X.DAT written");
    Raise(kFileReceived);
}

void SimNetoCtl::RaiseAt(VirtualTime time, std::int16_t msgCode, std::int16_t final) {
    loop_.At(time, [this, msgCode, final] { Raise(msgCode, final); });
}

void SimNetoCtl::DeliverAt(VirtualTime time, std::string content) {
    loop_.At(time, [this, content = std::move(content)] { Deliver(content); });
}

std::int16_t SimNetoCtl::Download(const std::u16string& id, const std::u16string& RcvDir,
                                  std::int32_t downType) {
    std::int16_t status = 0;
    if (!statuses_.empty()) {
        status = statuses_.front();
        statuses_.pop_front();
    }
    rcvDir_ = NarrowToCp1252(RcvDir);
    loop_.Log("Download " + NarrowToCp1252(id) + " " + rcvDir_ + " " + std::to_string(downType) +
              " -> " + std::to_string(status));
    running_ = status >= 0;
    if (running_ && onAccepted_) {
        onAccepted_();
    }
    return status;
}

void SimNetoCtl::StopRunning() {
    loop_.Log("StopRunning");
    running_ = false;
}

std::int16_t SimNetoCtl::IsProtocolRunning() {
    const std::int16_t answer = runningAnswer_.value_or(running_ ? 1 : 0);
    loop_.Log("IsProtocolRunning -> " + std::to_string(answer));
    return answer;
}

void SimNetoCtl::CloseControl() {
    loop_.Log("CloseControl");
}

void SimNetoCtl::Write(const std::string& name, std::int32_t value) {
    loop_.Log(name + " " + std::to_string(value));
    if (refused_.contains(name)) {
        throw ControlError("The control refuses the value of " + name);
    }
}

}  // namespace vorlund::sim
