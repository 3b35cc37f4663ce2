#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "app/convert/service_request.h"
#include "platform/posix/system_error_text.h"
#include "platform/posix/unix_socket.h"

namespace vorlund {
namespace {

// A service that has just taken its directory listens once its start-up
// recovery is done.
constexpr std::chrono::seconds kListenWait{5};
// Settling many large kept files takes the service a while.
constexpr int kAnswerWaitMs = 10 * 60 * 1000;

}  // namespace

bool CanSettleHere() {
    return true;
}

Result<SettleReply> AskServiceToSettle(const std::string& spoolDir, const std::string& only) {
    const auto giveUp = std::chrono::steady_clock::now() + kListenWait;
    int error = 0;
    Result<UniqueFd> connected = ConnectTo(spoolDir, kSettleSocketName, &error);
    while (!connected && std::chrono::steady_clock::now() < giveUp &&
           (error == ENOENT || error == ECONNREFUSED)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        connected = ConnectTo(spoolDir, kSettleSocketName, &error);
    }
    if (!connected) {
        return Failure{connected.reason()};
    }
    const int fd = connected->get();
    const std::string request = EncodeSettleRequest(only);
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return Failure{spoolDir + "/" + kSettleSocketName + ": " + SystemErrorText(errno)};
    }
    std::string answer;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, kAnswerWaitMs);
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            return Failure{"the service did not answer within 10 minutes"};
        }
        char buffer[4096];
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return Failure{spoolDir + "/" + kSettleSocketName + ": " + SystemErrorText(errno)};
        }
        if (count == 0) {
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(count));
    }
    std::optional<SettleReply> reply = DecodeSettleReply(answer);
    if (!reply) {
        return Failure{"the service ended its answer midway; see its journal"};
    }
    return *reply;
}

}  // namespace vorlund
