#include "common/http_curl.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>

#include "common/encoding.h"

namespace lp {
namespace {

void global_init_once() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string size_text(std::uint64_t bytes) {
  constexpr std::uint64_t kMB = 1024ull * 1024;
  if (bytes >= kMB && bytes % kMB == 0) return std::to_string(bytes / kMB) + " MB";
  return std::to_string(bytes) + " bytes";
}

// Everything one attempt (one URL, before any redirect) collects.
struct Transfer {
  const HttpRequest* request = nullptr;
  std::FILE* file = nullptr;
  std::string body;
  std::uint64_t received = 0;
  bool too_large = false;
  bool write_failed = false;
  int write_errno = 0;
  bool cancelled = false;
  std::vector<std::pair<std::string, std::string>> headers;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->received + n > t->request->max_body_bytes) {
    t->too_large = true;
    return 0;  // a short count makes libcurl abandon the transfer
  }
  t->received += n;
  if (t->file) {
    if (std::fwrite(data, 1, n, t->file) != n) {
      t->write_failed = true;
      t->write_errno = errno;
      return 0;
    }
  } else {
    t->body.append(data, n);
  }
  return n;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string_view line(data, n);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line (after 100 Continue or a proxy's CONNECT answer): only the final
    // response's headers count.
    t->headers.clear();
    return n;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return n;
  std::string name = trim_blanks(line.substr(0, colon));
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  t->headers.emplace_back(std::move(name), trim_blanks(line.substr(colon + 1)));
  return n;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  if (t->request->cancelled && t->request->cancelled()) {
    t->cancelled = true;
    return 1;
  }
  return 0;
}

struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// scheme://host:port of a URL, lower case; empty when it does not parse.
std::string origin_of(const std::string& url) {
  CURLU* u = curl_url();
  if (!u) return {};
  std::string out;
  if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    curl_url_get(u, CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(u, CURLUPART_HOST, &host, 0);
    curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
    if (scheme && host && port) out = std::string(scheme) + "://" + host + ":" + port;
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
  }
  curl_url_cleanup(u);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return out;
}

std::string host_of(const std::string& url) {
  const std::string o = origin_of(url);
  const auto s = o.find("://");
  const auto p = o.rfind(':');
  if (s == std::string::npos || p == std::string::npos || p <= s + 3) return url;
  return o.substr(s + 3, p - s - 3);
}

std::string describe_failure(CURLcode code, const Transfer& t, const HttpRequest& r,
                             const std::string& url, const char* errbuf, long status,
                             curl_off_t connect_time_us) {
  const std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(code);
  switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
      return "cancelled";
    case CURLE_FILESIZE_EXCEEDED:
      return "body larger than " + size_text(r.max_body_bytes);
    case CURLE_WRITE_ERROR:
      if (t.too_large) return "body larger than " + size_text(r.max_body_bytes);
      if (t.write_failed) {
        return "could not write " + r.body_file + ": " + std::strerror(t.write_errno);
      }
      return "could not store the body: " + detail;
    case CURLE_OPERATION_TIMEDOUT:
      if (detail.rfind("Operation too slow", 0) == 0) {
        return "slower than " + std::to_string(r.low_speed_bytes_per_s) + " bytes/s for " +
               std::to_string(r.low_speed_window_s) + " s";
      }
      if (status == 0 && connect_time_us == 0) {
        return "could not connect to " + host_of(url) + " within " +
               std::to_string(r.connect_timeout_s) + " s";
      }
      return "timed out after " + std::to_string(r.total_timeout_s) + " s";
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "could not resolve " + detail.substr(detail.find_last_of(' ') + 1);
    case CURLE_COULDNT_CONNECT:
      return "could not connect to " + host_of(url) + ": " + detail;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CONNECT_ERROR:
      return "secure connection to " + host_of(url) + " failed: " + detail;
    case CURLE_UNSUPPORTED_PROTOCOL:
      // Also what libcurl says when a server answers with something that is not HTTP.
      if (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) {
        return "malformed or incomplete response: " + detail;
      }
      [[fallthrough]];
    case CURLE_URL_MALFORMAT:
      return "not an http:// or https:// address: " + url;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return "malformed or incomplete response: " + detail;
    default:
      return detail;
  }
}

}  // namespace

HttpResponse curl_http_get(const HttpRequest& request) {
  global_init_once();
  HttpResponse response;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const std::string first_origin = origin_of(request.url);
  std::string url = request.url;
  bool send_headers = true;
  constexpr int kMaxRedirects = 5;
  for (const auto& [name, value] : request.headers) {
    if ((name + value).find_first_of("\r\n") != std::string::npos) {
      response.error = "a request header holds a line break";
      return response;
    }
  }

  for (int hop = 0;; ++hop) {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
      response.error = "could not start an HTTP transfer";
      return response;
    }
    CURL* c = easy.get();
    Transfer t;
    t.request = &request;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    if (!request.body_file.empty()) {
      file.reset(std::fopen(request.body_file.c_str(), "wb"));
      if (!file) {
        response.error = "could not create " + request.body_file + ": " + std::strerror(errno);
        return response;
      }
      t.file = file.get();
    }
    std::unique_ptr<curl_slist, SlistDeleter> header_list;
    if (send_headers) {
      for (const auto& [name, value] : request.headers) {
        const std::string line = name + ": " + value;
        curl_slist* next = curl_slist_append(header_list.get(), line.c_str());
        if (!next) {
          response.error = "out of memory";
          return response;
        }
        header_list.release();
        header_list.reset(next);
      }
    }
    char errbuf[CURL_ERROR_SIZE] = {0};

    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "LumenPick");
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    if (header_list) curl_easy_setopt(c, CURLOPT_HTTPHEADER, header_list.get());
    if (request.connect_timeout_s > 0) {
      curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(request.connect_timeout_s));
    }
    if (request.total_timeout_s > 0) {
      // One cap for the whole request, redirects included.
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             Clock::now() - start).count();
      const long left = std::max<long>(1, request.total_timeout_s * 1000L - spent);
      curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, left);
    }
    if (request.low_speed_bytes_per_s > 0 && request.low_speed_window_s > 0) {
      curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, request.low_speed_bytes_per_s);
      curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.low_speed_window_s));
    }
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(std::min<std::uint64_t>(
                         request.max_body_bytes, std::uint64_t(INT64_MAX))));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &on_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &on_header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &on_progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);

    const CURLcode code = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t connect_us = 0;
    curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connect_us);
    bool closed_ok = true;
    if (file) {
      closed_ok = std::fflush(file.get()) == 0;
      if (!closed_ok && code == CURLE_OK) {
        t.write_failed = true;
        t.write_errno = errno;
      }
      closed_ok = std::fclose(file.release()) == 0 && closed_ok;
      if (!closed_ok && !t.write_failed) {
        t.write_failed = true;
        t.write_errno = errno;
      }
    }
    response.status = static_cast<int>(status);
    response.headers = std::move(t.headers);
    if (code != CURLE_OK) {
      response.error = describe_failure(code, t, request, url, errbuf, status, connect_us);
    } else if (t.write_failed) {
      response.error =
          "could not write " + request.body_file + ": " + std::strerror(t.write_errno);
    }
    if (!response.error.empty()) {
      if (!request.body_file.empty()) {
        std::error_code ec;
        std::filesystem::remove(request.body_file, ec);
      }
      return response;
    }

    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 ||
                          status == 308;
    char* location = nullptr;
    if (redirect) curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &location);
    if (!redirect || !location) {
      response.body = std::move(t.body);
      return response;
    }
    if (hop >= kMaxRedirects) {
      response.error = "more than " + std::to_string(kMaxRedirects) + " redirects";
      if (!request.body_file.empty()) {
        std::error_code ec;
        std::filesystem::remove(request.body_file, ec);
      }
      return response;
    }
    url = location;
    const std::string scheme = url.substr(0, url.find(':'));
    if (scheme != "http" && scheme != "https") {
      response.error = "redirected to an address that is not http:// or https://";
      if (!request.body_file.empty()) {
        std::error_code ec;
        std::filesystem::remove(request.body_file, ec);
      }
      return response;
    }
    if (origin_of(url) != first_origin) send_headers = false;
    response = HttpResponse();
  }
}

}  // namespace lp
