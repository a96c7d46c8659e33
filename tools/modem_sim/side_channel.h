// The simulator's end of the side channel to the modem-line shim (side_channel_protocol.h):
// a listening SOCK_SEQPACKET socket and its connected shims.
#pragma once

#include <string>
#include <vector>

#include "modem_sim/side_channel_protocol.h"

namespace kestrel::sim {

class SideChannel {
  public:
    SideChannel() = default;
    ~SideChannel();
    SideChannel(const SideChannel&) = delete;
    SideChannel& operator=(const SideChannel&) = delete;

    // Listens at `path` (a stale socket file there is replaced). False with `error` set.
    bool listenAt(const std::string& path, std::string* error);

    int listenFd() const { return listen_; }
    const std::vector<int>& clients() const { return clients_; }
    bool hasClients() const { return !clients_.empty(); }

    // Takes a waiting connection.
    void accept();
    enum class Received { Request, Nothing, Gone };
    // Reads one request from `client`. Gone: the client has hung up or sent something that is
    // not a request; it is closed and removed.
    Received receive(int client, SideRequest* request);
    void reply(int client, const SideReply& reply);

  private:
    void drop(int client);

    int listen_ = -1;
    std::string path_;
    std::vector<int> clients_;
};

}  // namespace kestrel::sim
