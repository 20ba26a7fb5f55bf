// A tiny raw HTTP server on 127.0.0.1 for tests that need a real peer misbehaving in ways a
// proper server never would: trickling bytes, lying about lengths, sending garbage.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lp::test {

class LoopbackServer {
 public:
  // The connection a handler answers on. Writes report false once the client has gone or
  // the server is stopping, so a trickling handler ends promptly.
  class Connection {
   public:
    bool send(std::string_view bytes);
    // Sends `bytes` one chunk at a time with a pause between chunks.
    bool trickle(std::string_view bytes, std::size_t chunk, int pause_ms);
    bool stopping() const;
    const std::string& request() const { return request_; }
    // The request target ("/a/b?c") of the request line.
    std::string target() const;

   private:
    friend class LoopbackServer;
    int fd_ = -1;
    const LoopbackServer* server_ = nullptr;
    std::string request_;
  };
  using Handler = std::function<void(Connection&)>;

  explicit LoopbackServer(Handler handler);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path = "/") const;
  // The request heads received so far.
  std::vector<std::string> requests() const;

  // A plain answer: status line, headers, body with its length.
  static std::string response(int status, std::string_view body,
                              const std::string& extra_headers = "");

 private:
  void run();
  Handler handler_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::thread> workers_;
  std::thread thread_;
};

}  // namespace lp::test
