// Unpacking one year of the 4000-code sample market, against a plain copy of the same packed
// bytes, and a whole chosen-year download from the local price server followed by unpacking.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "common/http_curl.h"
#include "bench/bench.h"
#include "common/csv.h"
#include "pricedb/download.h"
#include "pricedb/unpack.h"
#include "sample-market/sample_market.h"
#include "shell/startup.h"

namespace {

namespace fs = std::filesystem;

// Everything the cases share: the packed market on disk, scratch folders, the server process.
struct Workspace {
  fs::path root;
  fs::path packed;  // <root>/packed: html/kabuka_db/<yyyy>/...
  int year = 0;     // a complete year of the sample market
  pid_t server = -1;
  std::string server_base;
  std::string error;

  ~Workspace() {
    if (server > 0) {
      ::kill(server, SIGTERM);
      ::waitpid(server, nullptr, 0);
    }
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }

  fs::path year_source() const { return packed / "html" / "kabuka_db" / std::to_string(year); }
};

std::shared_ptr<Workspace> make_workspace(const lp::bench::Setup& setup) {
  auto ws = std::make_shared<Workspace>();
  ws->root = fs::temp_directory_path() / ("lumenpick-unpack-bench-" + std::to_string(::getpid()));
  ws->packed = ws->root / "packed";
  fs::create_directories(ws->packed);
  lp::sample::Options opt;
  opt.codes = 4000;
  opt.end_date = setup.today;
  opt.years = 2;  // the first of the two is a whole calendar year
  opt.packed_root = ws->packed.string();
  if (!lp::sample::generate(opt, ws->error)) return ws;
  ws->year = lp::year_of(setup.today) - 1;
  return ws;
}

// A fresh year folder per run, as "株価ダウンロード" meets it (the list offers only years not in
// the database); its staging folders point at the year's packed files.
std::string fresh_year_folder(const Workspace& ws, const std::string& name) {
  static int run = 0;
  const fs::path year_folder = ws.root / name / std::to_string(run++) / std::to_string(ws.year);
  for (const char* sub : {"data_d", "data_m", "data_mh"}) {
    fs::create_directories(year_folder / sub);
  }
  for (const char* sub : {"data_dg", "data_mg", "data_mhg"}) {
    fs::create_directory_symlink(ws.year_source() / sub, year_folder / sub);
  }
  return year_folder.string() + "/";
}

long long copy_packed(const Workspace& ws) {
  // Into a fresh folder each run, like the unpacking it is compared with.
  static int run = 0;
  const fs::path target = ws.root / "copy" / std::to_string(run++);
  fs::create_directories(target);
  std::string bytes;
  long long files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(ws.year_source())) {
    if (!entry.is_regular_file()) continue;
    if (!lp::read_file_bytes(entry.path(), bytes)) continue;
    lp::write_file_atomic(target / entry.path().filename(), bytes);
    ++files;
  }
  return files;
}

bool answers(const std::string& url) {
  lp::HttpRequest request;
  request.url = url;
  request.connect_timeout_s = 2;
  request.total_timeout_s = 5;
  return lp::curl_http_get(request).ok();
}

bool start_server(Workspace& ws) {
  if (ws.server > 0) return true;
  std::error_code ec;
  const fs::path exe = fs::canonical("/proc/self/exe", ec).parent_path() / "lumenpick-price-server";
  if (!fs::exists(exe, ec)) {
    ws.error = "lumenpick-price-server is not built";
    return false;
  }
  // A fixed free-looking port keeps the child simple; try a few.
  for (int port = 18431; port < 18441; ++port) {
    std::vector<std::string> args = {exe.string(), "--root", ws.packed.string(), "--port",
                                     std::to_string(port)};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    if (answers(base)) continue;  // someone else answers there
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) continue;
    if (pid == 0) {
      // The server goes with the bench, however the bench ends.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(1);
      const int devnull = ::open("/dev/null", O_WRONLY);
      if (devnull >= 0) ::dup2(devnull, 1);
      ::execv(exe.c_str(), argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 100; ++i) {
      if (answers(base)) {
        ws.server = pid;
        ws.server_base = base + "html/kabuka_db/";
        return true;
      }
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;  // could not listen: next port
      ::usleep(20000);
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  ws.error = "the price server did not start";
  return false;
}

long long download_year_from_server(Workspace& w) {
  if (w.server <= 0) return 0;
  // A fresh documents folder per run: the chosen-year download meets a year not yet present.
  static int run = 0;
  const std::string documents = (w.root / "download" / std::to_string(run++)).string();
  lp::DownloadRequest request;
  request.kind = lp::DownloadKind::chosen_year;
  request.host = lp::DownloadHost::local;
  request.chosen_entry = std::to_string(w.year) + "年";
  request.today = std::to_string(w.year + 1) + "1231";
  request.install_folder = (w.root / "install").string();
  request.base_override = w.server_base;
  fs::create_directories(request.install_folder);
  fs::create_directories(documents);
  lp::DownloadHooks hooks;
  hooks.read_settings = [documents] {
    lp::AppFolders f;
    f.app_folder = documents + "/";
    f.db_folder = documents + "/kabuka_db/";
    return f;
  };
  const lp::DownloadOutcome out = lp::run_download(request, lp::curl_http_get, hooks);
  return out.fetched;
}

void add_unpack_cases(const lp::bench::Setup& setup, std::vector<lp::bench::Case>& cases) {
  auto ws = std::make_shared<std::shared_ptr<Workspace>>();
  auto ensure = [ws, setup] {
    if (!*ws) *ws = make_workspace(setup);
    if (!(*ws)->error.empty()) {
      std::cerr << "unpack bench: " << (*ws)->error << "\n";
    }
  };

  const std::string copy_name = "plain copy of one year's packed bytes";
  lp::bench::Case copy;
  copy.name = copy_name;
  copy.prepare = ensure;
  copy.run = [ws] { return copy_packed(**ws); };
  copy.item = "packed file";
  cases.push_back(std::move(copy));

  lp::bench::Case unpack;
  unpack.name = "unpack one year (4000 codes)";
  unpack.target = "<= 1 s and <= 3x plain copy";
  unpack.prepare = ensure;
  unpack.run = [ws] {
    const lp::UnpackStats s = lp::unpack_year(fresh_year_folder(**ws, "unpack"));
    return static_cast<long long>(s.correction_files + s.day_files + s.series_files);
  };
  unpack.item = "file written";
  unpack.judge = [copy_name](const lp::bench::Result& self,
                             const std::vector<lp::bench::Result>& all) -> std::string {
    const lp::bench::Result* plain = lp::bench::find_result(all, copy_name);
    if (self.items == 0 || !plain || plain->median_seconds <= 0) return "";
    const double ratio = self.median_seconds / plain->median_seconds;
    return lp::bench::yes_no(self.median_seconds <= 1.0 && ratio <= 3.0) + " (" +
           std::to_string(ratio).substr(0, 4) + "x)";
  };
  cases.push_back(std::move(unpack));

  lp::bench::Case download;
  download.name = "download + unpack one year from the local server";
  download.target = "<= 3 s";
  download.prepare = [ensure, ws] {
    ensure();
    if (!start_server(**ws)) std::cerr << "unpack bench: " << (*ws)->error << "\n";
  };
  download.run = [ws] { return download_year_from_server(**ws); };
  download.item = "file fetched";
  // The last of the three cases: stop the server and remove the scratch folders.
  download.finish = [ws] { ws->reset(); };
  cases.push_back(std::move(download));
}

LP_BENCH(add_unpack_cases);

}  // namespace
