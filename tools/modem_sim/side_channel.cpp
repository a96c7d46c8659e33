#include "modem_sim/side_channel.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrel::sim {

SideChannel::~SideChannel() {
    for (int c : clients_)
        close(c);
    if (listen_ >= 0) {
        close(listen_);
        unlink(path_.c_str());
    }
}

bool SideChannel::listenAt(const std::string& path, std::string* error) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        *error = "side channel path too long: " + path;
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    listen_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_ < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    unlink(path.c_str());
    if (bind(listen_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, 8) != 0) {
        *error = "side channel " + path + ": " + std::strerror(errno);
        close(listen_);
        listen_ = -1;
        return false;
    }
    path_ = path;
    return true;
}

void SideChannel::accept() {
    const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c >= 0) clients_.push_back(c);
}

SideChannel::Received SideChannel::receive(int client, SideRequest* request) {
    const ssize_t n = recv(client, request, sizeof *request, MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(sizeof *request)) return Received::Request;
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return Received::Nothing;
    drop(client);
    return Received::Gone;
}

void SideChannel::reply(int client, const SideReply& reply) {
    send(client, &reply, sizeof reply, MSG_NOSIGNAL);
}

void SideChannel::drop(int client) {
    close(client);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

}  // namespace kestrel::sim
