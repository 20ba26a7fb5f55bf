#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace lp::test {

bool LoopbackServer::Connection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (stopping()) return false;
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool LoopbackServer::Connection::trickle(std::string_view bytes, std::size_t chunk,
                                         int pause_ms) {
  while (!bytes.empty()) {
    const std::size_t n = std::min(chunk, bytes.size());
    if (!send(bytes.substr(0, n))) return false;
    bytes.remove_prefix(n);
    for (int waited = 0; waited < pause_ms; waited += 10) {
      if (stopping()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return true;
}

bool LoopbackServer::Connection::stopping() const { return server_->stop_.load(); }

std::string LoopbackServer::Connection::target() const {
  const auto a = request_.find(' ');
  if (a == std::string::npos) return {};
  const auto b = request_.find(' ', a + 1);
  return request_.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(listen_fd_);
    throw std::runtime_error("could not listen on loopback");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { run(); });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  ::shutdown(listen_fd_, SHUT_RDWR);
  thread_.join();
  for (auto& w : workers_) w.join();
  ::close(listen_fd_);
}

std::string LoopbackServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::string LoopbackServer::response(int status, std::string_view body,
                                     const std::string& extra_headers) {
  std::string r = "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\nConnection: close\r\n" + extra_headers +
                  "\r\n";
  r += body;
  return r;
}

void LoopbackServer::run() {
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    workers_.emplace_back([this, fd] {
      Connection conn;
      conn.fd_ = fd;
      conn.server_ = this;
      // Read the request head (a GET has no body).
      char buf[4096];
      while (conn.request_.find("\r\n\r\n") == std::string::npos && !stop_) {
        pollfd q{fd, POLLIN, 0};
        if (::poll(&q, 1, 50) <= 0) continue;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        conn.request_.append(buf, static_cast<std::size_t>(n));
      }
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(conn.request_);
      }
      if (!stop_) handler_(conn);
      ::shutdown(fd, SHUT_WR);
      ::close(fd);
    });
  }
}

}  // namespace lp::test
