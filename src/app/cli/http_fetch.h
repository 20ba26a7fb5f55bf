// A blocking plain GET for the headless programs (lumenpick-cli, lumenpick-bench): HTTP/1.0
// over a POSIX socket, enough for the price servers the system talks to (plain http://, a
// whole body per answer). Kept header-only so both programs share it without a library.
#pragma once

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace lp::cli {

namespace detail {

inline std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The value of a header (case-insensitive name) in the header block, or nothing.
inline std::optional<std::string> header_value(std::string_view headers, std::string_view name) {
  const std::string lowered = lower(headers);
  const std::string key = "\r\n" + lower(name) + ":";
  const std::size_t at = lowered.find(key);
  if (at == std::string::npos) return std::nullopt;
  std::size_t begin = at + key.size();
  const std::size_t end = headers.find("\r\n", begin);
  while (begin < end && headers[begin] == ' ') ++begin;
  return std::string(headers.substr(begin, end - begin));
}

inline std::optional<std::string> dechunk(std::string_view body) {
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t line_end = body.find("\r\n", pos);
    if (line_end == std::string_view::npos) return std::nullopt;
    const std::size_t size =
        std::strtoul(std::string(body.substr(pos, line_end - pos)).c_str(), nullptr, 16);
    pos = line_end + 2;
    if (size == 0) return out;
    if (pos + size > body.size()) return std::nullopt;
    out.append(body.substr(pos, size));
    pos += size + 2;
  }
}

}  // namespace detail

// The whole body of a 200 answer; nothing for any other status, a refused connection, a
// stalled (60 s) or cut-short transfer, or an address that is not http://.
inline std::optional<std::string> http_fetch(const std::string& url) {
  const std::string scheme = "http://";
  if (url.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
  const std::size_t slash = url.find('/', scheme.size());
  const std::string authority = url.substr(
      scheme.size(), slash == std::string::npos ? std::string::npos : slash - scheme.size());
  const std::string path = slash == std::string::npos ? "/" : url.substr(slash);
  std::string host = authority, port = "80";
  if (const std::size_t colon = authority.rfind(':'); colon != std::string::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return std::nullopt;
  int fd = -1;
  for (addrinfo* a = found; a; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    timeval timeout{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
    ::close(fd);
    fd = -1;
  }
  freeaddrinfo(found);
  if (fd < 0) return std::nullopt;

  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + authority +
                              "\r\nUser-Agent: lumenpick\r\nConnection: close\r\n\r\n";
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      ::close(fd);
      return std::nullopt;
    }
    sent += static_cast<std::size_t>(n);
  }
  // The server may keep the connection open after the answer: stop at the announced length.
  std::string answer;
  std::size_t head_end = std::string::npos;
  std::optional<std::size_t> total;
  bool chunked = false;
  char buffer[1 << 16];
  while (true) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) {
      ::close(fd);
      return std::nullopt;  // a stall or a reset: the body is incomplete
    }
    if (n == 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
    if (head_end == std::string::npos) {
      head_end = answer.find("\r\n\r\n");
      if (head_end == std::string::npos) continue;
      const std::string_view headers(answer.data(), head_end + 2);
      const auto encoding = detail::header_value(headers, "Transfer-Encoding");
      chunked = encoding && detail::lower(*encoding).find("chunked") != std::string::npos;
      if (const auto length = detail::header_value(headers, "Content-Length"); length && !chunked) {
        total = head_end + 4 + std::strtoull(length->c_str(), nullptr, 10);
      }
    }
    if (total && answer.size() >= *total) break;
    if (chunked && answer.size() >= 5 && answer.compare(answer.size() - 5, 5, "0\r\n\r\n") == 0) {
      break;
    }
  }
  ::close(fd);

  if (head_end == std::string::npos || answer.compare(0, 5, "HTTP/") != 0) return std::nullopt;
  const std::size_t sp = answer.find(' ');
  if (sp == std::string::npos || answer.compare(sp + 1, 3, "200") != 0) return std::nullopt;
  if (chunked) return detail::dechunk(std::string_view(answer).substr(head_end + 4));
  if (total) {
    if (answer.size() < *total) return std::nullopt;  // the connection ended early
    answer.resize(*total);
  }
  std::string body = answer.substr(head_end + 4);
  return body;
}

}  // namespace lp::cli
