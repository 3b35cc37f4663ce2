// The running service's door for an operator's command on this machine:
// `vorlund-convert --settle` connects to a socket in the spool directory and
// the service settles what waits itself, between two events of its loop, so
// that the ledger keeps its one writer, nothing is converted at the same
// moment by two programs, and the journal says what was done. Only the
// service's own user and root may ask (the socket's mode and the peer's
// credentials say so).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "app/posix/event_loop.h"
#include "common/result.h"
#include "delivery/delivery_hand_off.h"
#include "platform/posix/unique_fd.h"

namespace vorlund {

class OperatorChannel {
  public:
    // Listens in `spoolDir`; a failure (a file system without sockets, such
    // as FAT) leaves it closed, and Opened() says why.
    OperatorChannel(EventLoop& loop, DeliveryHandOff& handOff, std::string spoolDir);
    ~OperatorChannel();
    OperatorChannel(const OperatorChannel&) = delete;
    OperatorChannel& operator=(const OperatorChannel&) = delete;

    const Status& Opened() const { return opened_; }

  private:
    struct Client {
        UniqueFd fd;
        std::string request;
        EventLoop::Registration watch;
        EventLoop::Registration deadline;
    };

    void Accept();
    void Read(int fd);
    void Answer(Client& client, const std::string& only);

    EventLoop& loop_;
    DeliveryHandOff& handOff_;
    const std::string spoolDir_;
    Status opened_;
    UniqueFd listening_;
    EventLoop::Registration watch_;
    std::map<int, std::unique_ptr<Client>> clients_;
};

}  // namespace vorlund
