#include "pricedb/download.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/csv.h"
#include "common/numbers.h"
#include "common/user_folders.h"
#include "pricedb/db_lock.h"
#include "pricedb/main_status.h"
#include "pricedb/unpack.h"

namespace lp {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFailText = "エラー：ダウンロードできませんでした。";
constexpr const char* kStagingFolders[] = {"data_dg", "data_mg", "data_mhg"};
constexpr const char* kYearSubfolders[] = {"data_d",  "data_m",  "data_mh",
                                           "data_dg", "data_mg", "data_mhg"};

std::string two_digits(int m) {
  return (m < 10 ? "0" : "") + std::to_string(m);
}

// "http://host:port/some/path/" -> "http://host:port/".
std::string origin_of(const std::string& url) {
  std::size_t scheme = url.find("://");
  std::size_t from = scheme == std::string::npos ? 0 : scheme + 3;
  std::size_t slash = url.find('/', from);
  return (slash == std::string::npos ? url : url.substr(0, slash)) + "/";
}

void say(const DownloadHooks& hooks, const std::string& text, MessageColor color) {
  if (hooks.message) hooks.message(text, color);
}

std::string with_slash(std::string url) {
  if (!url.empty() && url.back() != '/') url.push_back('/');
  return url;
}

bool quit(const DownloadHooks& hooks) {
  return hooks.quit_requested && hooks.quit_requested();
}

}  // namespace

std::string download_base(DownloadHost host, const AppFolders& folders,
                          const std::string& local_base) {
  return with_slash(host == DownloadHost::local ? local_base : folders.db_url);
}

ConnectionProbe connection_probe(DownloadHost host, const std::string& base) {
  if (host == DownloadHost::local) return {origin_of(base), kPriceServerMarker};
  return {kPublicProbeUrl, kPublicProbeMarker};
}

std::vector<FileRequest> download_plan(DownloadKind kind, const std::string& base, int year,
                                       const std::string& today) {
  const bool chosen = kind == DownloadKind::chosen_year;
  const std::string y = std::to_string(year);
  std::vector<FileRequest> plan;
  plan.push_back({base + y + "/data_mhg/" + y + ".csv", "data_mhg/" + y + ".csv",
                  chosen ? y + "年の補正情報をダウンローﾄﾞしています。："
                         : y + "年の補正情報のダウンロードしています。",
                  false});
  int months = 12;
  if (!chosen && year == year_of(today) && today.size() >= 6) {
    months = static_cast<int>(parse_integer(today.substr(4, 2)));
  }
  auto add_months = [&] {
    for (int m = 1; m <= months; ++m) {
      const std::string name = y + two_digits(m) + ".csv";
      plan.push_back({base + y + "/data_dg/" + name, "data_dg/" + name,
                      y + "年" + std::to_string(m) +
                          (chosen ? "月の日毎株価のダウンロードしています。"
                                  : "月の日毎株価をダウンロードしています。"),
                      true});
    }
  };
  auto add_blocks = [&] {
    for (int k = 1; k <= 9; ++k) {
      const std::string ks = std::to_string(k);
      const std::string name = ks + "000.csv";
      plan.push_back({base + y + "/data_mg/" + name, "data_mg/" + name,
                      "銘柄コード" + ks + "000～" + ks + "999の" + y +
                          (chosen ? "年の時系列株価のダウンロードしています。"
                                  : "年の時系列株価をダウンロードしています。"),
                      true});
    }
  };
  if (chosen) {
    add_blocks();
    add_months();
  } else {
    add_months();
    add_blocks();
  }
  return plan;
}

int download_year(DownloadKind kind, const std::string& chosen_entry, const std::string& today) {
  const int current = year_of(today);
  if (kind == DownloadKind::update) return current;
  const int y = year_of(chosen_entry);
  return (y < kOldestYear || y > current) ? current : y;
}

std::string scratch_file_path(const std::string& install_folder, const std::string& app_folder) {
  const std::string in_install = as_folder(install_folder) + "data.html";
  std::error_code ec;
  const bool folder_ok = !install_folder.empty() && ::access(install_folder.c_str(), W_OK) == 0;
  const bool file_ok = !fs::exists(in_install, ec) || ::access(in_install.c_str(), W_OK) == 0;
  if (folder_ok && file_ok) return in_install;
  return as_folder(app_folder) + "data.html";
}

HttpRequest file_request(const std::string& url, int timeout_s) {
  HttpRequest r;
  r.url = url;
  r.total_timeout_s = timeout_s;
  r.low_speed_bytes_per_s = kMinimumRateBytesPerS;
  r.low_speed_window_s = kMinimumRateWindowS;
  r.max_body_bytes = kMaxPackedFileBytes;
  return r;
}

namespace {

// The first field of a body file, read from its first 64 kB: an error page shows itself there.
std::string first_field_of(const std::string& path) {
  std::string head(64 * 1024, '\0');
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  FieldReader reader(head);
  return std::string(reader.next_or_empty());
}

// The scratch file holds the last body received (empty when nothing arrived).
void save_scratch(const std::string& body_file, const std::string& scratch) {
  std::error_code ec;
  if (body_file.empty() || !fs::exists(body_file, ec)) {
    write_file_atomic(scratch, "");
    return;
  }
  const fs::path tmp = temp_file_for(scratch);
  if (fs::copy_file(body_file, tmp, fs::copy_options::overwrite_existing, ec)) {
    fs::rename(tmp, scratch, ec);
  }
  if (ec) fs::remove(tmp, ec);
}

}  // namespace

int download_one_file(const HttpClient& http, HttpRequest request, const std::string& dest,
                      const std::string& scratch, std::string& message, const YieldFn& yield,
                      std::string* reason) {
  request.body_file = temp_file_for(dest).string();
  HttpResponse response;
  if (http) {
    response = http(request);
  } else {
    response.error = "no HTTP service";
  }
  std::error_code ec;
  fs::remove(scratch, ec);
  yield_now(yield);
  save_scratch(request.body_file, scratch);
  std::string why = response.error;
  if (why.empty() && !response.ok()) why = "HTTP status " + std::to_string(response.status);
  if (why.empty()) {
    // The body itself is judged (it is what the scratch file holds), so an unwritable
    // scratch folder cannot turn a good answer into a failure or a bad one into a success.
    const std::string first = first_field_of(request.body_file);
    if (first.empty()) {
      why = "empty answer";
    } else if (first.find("<html") != std::string::npos ||
               first.find("<HTML") != std::string::npos) {
      why = "an HTML page instead of a packed file";
    }
  }
  if (why.empty()) {
    fs::rename(request.body_file, dest, ec);
    if (ec) why = "cannot save " + dest + ": " + ec.message();
  }
  if (!why.empty()) {
    fs::remove(request.body_file, ec);
    message = kFailText;
    if (reason) *reason = why;
    return -1;
  }
  message.clear();
  if (reason) reason->clear();
  return 0;
}

bool check_internet(const HttpClient& http, const ConnectionProbe& probe,
                    const std::string& scratch, const YieldFn& yield, int timeout_s,
                    std::string* reason) {
  HttpRequest request = file_request(probe.url, timeout_s);
  request.max_body_bytes = 1024 * 1024;  // a home page, not a packed file
  HttpResponse response;
  if (http) response = http(request);
  std::error_code ec;
  fs::remove(scratch, ec);
  yield_now(yield);
  const bool answered = response.ok();
  write_file_atomic(scratch, answered ? response.body : std::string());
  if (!answered) {
    if (reason) {
      *reason = !response.error.empty() ? response.error
                                        : "HTTP status " + std::to_string(response.status);
    }
    return false;
  }
  std::string joined;
  joined.reserve(response.body.size());
  FieldReader reader(response.body);
  std::string_view field;
  while (reader.next(field)) joined.append(field);
  const bool found = joined.find(probe.marker) != std::string::npos;
  if (!found && reason) *reason = "the page does not contain \"" + probe.marker + "\"";
  return found;
}

std::pair<std::string, MessageColor> download_summary(int fetched, int failed) {
  const std::string counts =
      "（取得 " + std::to_string(fetched) + " 件・失敗 " + std::to_string(failed) + " 件）";
  if (fetched == 0) {
    return {"エラー：ダウンロードできたファイルはありません。" + counts, MessageColor::red};
  }
  return {"ダウンロードを完了しました。" + counts, MessageColor::blue};
}

DownloadOutcome run_download(const DownloadRequest& request, const HttpClient& http,
                             const DownloadHooks& hooks) {
  DownloadOutcome out;
  const bool chosen = request.kind == DownloadKind::chosen_year;
  say(hooks, chosen ? "ダウンロードを開始しています。" : "更新を開始しています。",
      MessageColor::blue);
  yield_now(hooks.yield);

  // The settings are read again after the check; the probe needs only the host.
  AppFolders folders = hooks.read_settings ? hooks.read_settings() : AppFolders{};
  const std::string base = request.base_override.empty()
                               ? download_base(request.host, folders, request.local_base)
                               : with_slash(request.base_override);
  const std::string scratch = scratch_file_path(request.install_folder, folders.app_folder);
  if (!check_internet(http, connection_probe(request.host, base), scratch, hooks.yield,
                      request.file_timeout_s, &out.not_connected_reason)) {
    say(hooks, "警告：インターネットに接続されていません。ご確認ください。", MessageColor::blue);
    yield_now(hooks.yield);
    return out;
  }
  out.connected = true;
  if (hooks.status) hooks.status(kStatusDownloadStart);
  if (hooks.read_settings) folders = hooks.read_settings();
  // One writer at a time, from the first file to the last unpacked line.
  LockWaitWords words;
  words.timeout = request.lock_timeout;
  words.say = [&](const std::string& text) { say(hooks, text, MessageColor::blue); };
  words.yield = hooks.yield;
  words.cancelled = hooks.quit_requested;
  std::string lock_error;
  const auto lock = lock_database(folders.db_folder, words, lock_error, &out.locked);
  if (!lock) {
    say(hooks, lock_error, MessageColor::red);
    if (hooks.status) hooks.status(kStatusDownloadDone);
    return out;
  }

  out.year = download_year(request.kind, request.chosen_entry, request.today);
  const std::string y = std::to_string(out.year);
  out.year_folder = as_folder(folders.db_folder) + y + "/";
  std::error_code ec;
  // The whole tree: on a fresh account even the documents folder may be missing.
  fs::create_directories(folders.db_folder, ec);
  // The folders are made now (the files stream into them) and taken away again when no file
  // arrived, so a download that failed throughout does not leave an empty year behind.
  const bool year_existed = fs::exists(fs::symlink_status(out.year_folder, ec));
  std::error_code make_ec;
  fs::create_directory(out.year_folder, make_ec);
  for (const char* sub : kYearSubfolders) {
    if (!make_ec) fs::create_directory(out.year_folder + sub, make_ec);
  }
  if (make_ec) {
    // Every file would fail for the same reason: say it, not only that nothing arrived.
    say(hooks, folder_error_text(out.year_folder, make_ec), MessageColor::red);
    if (hooks.status) hooks.status(kStatusDownloadDone);
    return out;
  }
  auto forget_empty_year = [&] {
    if (year_existed || out.fetched > 0) return;
    std::error_code rec;
    // remove() takes only empty folders: anything that did arrive meanwhile stays.
    for (const char* sub : kYearSubfolders) fs::remove(out.year_folder + sub, rec);
    fs::remove(out.year_folder, rec);
  };

  for (const FileRequest& file : download_plan(request.kind, base, out.year, request.today)) {
    say(hooks, file.progress, MessageColor::blue);
    yield_now(hooks.yield);
    std::string message, reason;
    HttpRequest http_request = file_request(file.url, request.file_timeout_s);
    http_request.cancelled = hooks.quit_requested;
    if (download_one_file(http, std::move(http_request), out.year_folder + file.dest, scratch,
                          message, hooks.yield, &reason) == 0) {
      ++out.fetched;
    } else {
      ++out.failed;
      if (hooks.file_failed) hooks.file_failed(file, reason);
    }
    if (file.quit_check && quit(hooks)) {
      out.stopped = true;
      forget_empty_year();
      if (hooks.close_main) hooks.close_main();
      return out;
    }
  }

  UnpackHooks unpack_hooks;
  unpack_hooks.message = [&hooks](const std::string& text) {
    say(hooks, text, MessageColor::blue);
  };
  unpack_hooks.quit_requested = hooks.quit_requested;
  unpack_hooks.close_main = hooks.close_main;
  unpack_hooks.yield = hooks.yield;
  if (unpack_year(out.year_folder, unpack_hooks).stopped) {
    out.stopped = true;
    return out;
  }

  for (const char* sub : kStagingFolders) {
    const fs::path staging = out.year_folder + sub;
    for (const auto& entry : fs::directory_iterator(staging, ec)) {
      std::error_code file_ec;
      if (entry.is_regular_file(file_ec)) fs::remove(entry.path(), file_ec);
    }
    fs::remove(staging, ec);
  }
  forget_empty_year();

  const bool found = hooks.refresh ? hooks.refresh() : false;
  if (!found) say(hooks, "株価データがありません。ご確認ください。", MessageColor::red);
  if (hooks.status) hooks.status(kStatusDownloadDone);
  const auto [text, color] = download_summary(out.fetched, out.failed);
  say(hooks, text, color);
  if (quit(hooks)) {
    out.stopped = true;
    if (hooks.close_main) hooks.close_main();
  } else {
    yield_now(hooks.yield);
  }
  return out;
}

}  // namespace lp
