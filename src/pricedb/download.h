// Fetching a year's packed files from the price-database server into the staging folders of
// the year folder, then unpacking them. The HTTP service is handed in, so the same sequence
// runs in the window (Qt Network), in the CLI (libcurl) and in tests (a loopback server).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/http.h"
#include "common/platform.h"
#include "common/settings.h"

namespace lp {

// Caps on one file's transfer. However steadily bytes trickle in, a file gets this long in
// all; under 1 KB/s for 30 s it is given up; beyond 64 MB (far above any real packed file)
// it fails. A failed file is skipped and the next one fetched.
inline constexpr int kDefaultFileTimeoutS = 120;
inline constexpr long kMinimumRateBytesPerS = 1024;
inline constexpr int kMinimumRateWindowS = 30;
inline constexpr std::uint64_t kMaxPackedFileBytes = 64ull * 1024 * 1024;

// The request for one packed file (or the connection probe) with the caps above.
HttpRequest file_request(const std::string& url, int timeout_s = kDefaultFileTimeoutS);

enum class DownloadHost { maker = 0, lan = 1, local = 2 };
// The local price server (lumenpick-price-server) on its default port.
inline constexpr const char* kLocalHostBase = "http://localhost:8080/html/kabuka_db/";
// The public page that proves the internet can be reached, and a word it always contains.
inline constexpr const char* kPublicProbeUrl = "http://www.example.com/";
inline constexpr const char* kPublicProbeMarker = "Example Domain";
// The word the local price server's home page carries.
inline constexpr const char* kPriceServerMarker = "lumenpick-price-server";

enum class DownloadKind {
  update,       // "データ更新": the current year, months up to the current month
  chosen_year,  // "株価ダウンロード": a year from the download list, all twelve months
};

enum class MessageColor { blue, red };

// The base address of the chosen host; `local_base` replaces the default local server.
std::string download_base(DownloadHost host, const AppFolders& folders,
                          const std::string& local_base = kLocalHostBase);

// How the connection is checked before a download: the local server's own home page for the
// local host (a machine without internet can still use it), the public page otherwise.
struct ConnectionProbe {
  std::string url;
  std::string marker;
};
ConnectionProbe connection_probe(DownloadHost host, const std::string& base);

// One file of the download, in request order.
struct FileRequest {
  std::string url;
  std::string dest;         // relative to the year folder: "data_dg/201303.csv"
  std::string progress;     // the blue text shown before the request
  bool quit_check = false;  // the quit request is tested after this file
};

// The address sequence: corrections, then months then blocks (update) or blocks then months
// (chosen year). `today` is yyyymmdd.
std::vector<FileRequest> download_plan(DownloadKind kind, const std::string& base, int year,
                                       const std::string& today);

// The year a download works on: the current year for an update; for a chosen year the first
// four characters of the list entry, or the current year when they fall outside 1983..now.
int download_year(DownloadKind kind, const std::string& chosen_entry, const std::string& today);

// The scratch file "data.html": in the installation folder, or in the product folder when the
// installation folder cannot be written.
std::string scratch_file_path(const std::string& install_folder, const std::string& app_folder);

// Fetches `request` (its body streamed to a temporary file beside `dest`, never held whole in
// memory); unless the transfer failed, the status is not 2xx, or the body's first field is
// empty or holds "<html"/"<HTML", the file is renamed over `dest`. The scratch file gets a
// copy of the body. Returns 0, or -1 with the message "エラー：ダウンロードできませんでした。",
// `dest` untouched, and the reason (for a log) in `reason` when given.
int download_one_file(const HttpClient& http, HttpRequest request, const std::string& dest,
                      const std::string& scratch, std::string& message, const YieldFn& yield = {},
                      std::string* reason = nullptr);

// Connected when the probe page's fields, joined, contain the marker word.
// `reason` (when given) says why not: the transfer's error, the status, or the missing word.
bool check_internet(const HttpClient& http, const ConnectionProbe& probe,
                    const std::string& scratch, const YieldFn& yield = {},
                    int timeout_s = kDefaultFileTimeoutS, std::string* reason = nullptr);

// What the surrounding window (or CLI) does around the sequence.
struct DownloadHooks {
  std::function<void(const std::string& text, MessageColor color)> message;  // Label1
  std::function<void(const std::string& status)> status;  // set_main_status + busy indicator
  std::function<AppFolders()> read_settings;              // the settings, read again
  // Refills the year lists and the database status; returns whether a latest date was found.
  std::function<bool()> refresh;
  std::function<bool()> quit_requested;
  std::function<void()> close_main;  // called when the quit request stops the run
  YieldFn yield;
  // Told about each file that failed, with the reason ("timed out after 120 s", ...).
  std::function<void(const FileRequest& file, const std::string& reason)> file_failed;
};

struct DownloadRequest {
  DownloadKind kind = DownloadKind::update;
  DownloadHost host = DownloadHost::maker;
  std::string chosen_entry;  // the text of yyyy_dl_cmb for a chosen year
  std::string today;         // yyyymmdd
  std::string install_folder;
  std::string local_base = kLocalHostBase;
  // Replaces the base address of the chosen host (the CLI's --base).
  std::string base_override;
  // The cap on one file's whole transfer, in seconds.
  int file_timeout_s = kDefaultFileTimeoutS;
  // How long to wait for another writer of the database.
  std::chrono::milliseconds lock_timeout = std::chrono::minutes(10);
};

struct DownloadOutcome {
  bool connected = false;
  std::string not_connected_reason;  // why the connection check failed
  bool stopped = false;  // the quit request ended the run
  bool locked = false;   // another writer held the database past the wait
  int year = 0;
  int fetched = 0;
  int failed = 0;
  std::string year_folder;
};

// The whole "データ更新" / "株価ダウンロード" sequence, texts and order as the user sees them.
// A year folder that did not exist before and received no file is removed again, so a
// download that fetched nothing does not register an empty year. The quit request also
// abandons the file in flight.
DownloadOutcome run_download(const DownloadRequest& request, const HttpClient& http,
                             const DownloadHooks& hooks);

// The closing text: the counts of files fetched and failed, red when nothing arrived.
std::pair<std::string, MessageColor> download_summary(int fetched, int failed);

}  // namespace lp
