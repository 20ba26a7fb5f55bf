// Fetching a year's packed files from the price-database server into the staging folders of
// the year folder, then unpacking them. The HTTP GET is handed in, so the same sequence runs
// in the window (Qt Network), in the CLI (a blocking client) and in tests (a fake).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/platform.h"
#include "shell/settings.h"

namespace lp {

// One plain GET: the whole body, or nothing when the request failed (no answer, an HTTP error
// status). The GUI's version keeps the event loop running while it waits.
using HttpGet = std::function<std::optional<std::string>(const std::string& url)>;

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

// Fetches `url`; the body goes to the scratch file and, unless its first field is empty or
// holds "<html"/"<HTML", replaces `dest` (atomically). Returns 0, or -1 with the message
// "エラー：ダウンロードできませんでした。" and `dest` untouched.
int download_one_file(const HttpGet& get, const std::string& url, const std::string& dest,
                      const std::string& scratch, std::string& message, const YieldFn& yield = {});

// Connected when the probe page's fields, joined, contain the marker word.
bool check_internet(const HttpGet& get, const ConnectionProbe& probe, const std::string& scratch,
                    const YieldFn& yield = {});

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
};

struct DownloadOutcome {
  bool connected = false;
  bool stopped = false;  // the quit request ended the run
  int year = 0;
  int fetched = 0;
  int failed = 0;
  std::string year_folder;
};

// The whole "データ更新" / "株価ダウンロード" sequence, texts and order as the user sees them.
DownloadOutcome run_download(const DownloadRequest& request, const HttpGet& get,
                             const DownloadHooks& hooks);

// The closing text: the counts of files fetched and failed, red when nothing arrived.
std::pair<std::string, MessageColor> download_summary(int fetched, int failed);

}  // namespace lp
