#include "app/posix/operator_channel.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "app/settle_reply.h"
#include "platform/posix/unix_socket.h"

namespace vorlund {
namespace {

// A command sends its request at once; one that does not is not waited for.
constexpr std::chrono::seconds kRequestWait{10};
constexpr std::size_t kLongestRequest = 8192;
constexpr std::size_t kMostClients = 4;
// How long the answer may wait for a command that stopped reading.
constexpr time_t kAnswerWaitSeconds = 10;

}  // namespace

OperatorChannel::OperatorChannel(EventLoop& loop, DeliveryHandOff& handOff, std::string spoolDir)
    : loop_(loop), handOff_(handOff), spoolDir_(std::move(spoolDir)) {
    Result<UniqueFd> listening = ListenAt(spoolDir_, kSettleSocketName);
    if (!listening) {
        opened_ = Failure{listening.reason()};
        return;
    }
    listening_ = std::move(*listening);
    watch_ = loop_.Watch(listening_.get(), POLLIN, [this](short) { Accept(); });
}

OperatorChannel::~OperatorChannel() {
    if (listening_) {
        ::unlink((spoolDir_ + "/" + kSettleSocketName).c_str());
    }
}

void OperatorChannel::Accept() {
    for (;;) {
        UniqueFd fd(::accept4(listening_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            return;  // none waiting, or the command is gone already
        }
        if (clients_.size() >= kMostClients || !PeerIsTrusted(fd.get())) {
            continue;
        }
        const int key = fd.get();
        auto client = std::make_unique<Client>();
        client->fd = std::move(fd);
        client->watch = loop_.Watch(key, POLLIN, [this, key](short) { Read(key); });
        client->deadline = loop_.ScheduleAt(EventLoop::Clock::now() + kRequestWait,
                                            [this, key] { clients_.erase(key); });
        clients_.emplace(key, std::move(client));
    }
}

void OperatorChannel::Read(int fd) {
    const auto found = clients_.find(fd);
    if (found == clients_.end()) {
        return;
    }
    Client& client = *found->second;
    char buffer[1024];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        clients_.erase(found);
        return;
    }
    client.request.append(buffer, static_cast<std::size_t>(count));
    const std::size_t end = client.request.find('\n');
    if (end == std::string::npos) {
        if (client.request.size() > kLongestRequest) {
            clients_.erase(found);
        }
        return;
    }
    const std::optional<std::string> only = DecodeSettleRequest(
        std::string_view(client.request).substr(0, end));
    if (only) {
        Answer(client, *only);
    }
    clients_.erase(fd);
}

void OperatorChannel::Answer(Client& client, const std::string& only) {
    SettleReply reply;
    reply.settled = handOff_.SettleWaiting(only);
    reply.waiting = handOff_.WaitingCount();
    const std::string text = EncodeSettleReply(reply);
    // Written whole before the loop goes on: the answer is short, and a
    // command that stopped reading costs the wait at most.
    const int fd = client.fd.get();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const timeval wait{kAnswerWaitSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t written = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace vorlund
