#include "web/server.h"

#include <httplib.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>
#include <zip.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "front/code_table.h"
#include "front/exchange_log.h"
#include "platform/private_folder.h"
#include "store/pg_driver.h"
#include "web/child.h"
#include "web/ledger_view.h"
#include "web/page.h"
#include "web/run.h"

namespace morvent::web {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr const char* kRefused = "缺少或错误的访问令牌：请用 morvent serve 打印的地址打开本页";
constexpr const char* kBusy = "账套正在进行另一次引入或导出，请等它结束后再试";

std::string RandomHex(size_t bytes) {
  std::string raw(bytes, '\0');
  size_t got = 0;
  while (got < bytes) {
    const ssize_t n = ::getrandom(raw.data() + got, bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("无法取得随机数");
    got += static_cast<size_t>(n);
  }
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : raw) hex += {digits[c >> 4], digits[c & 15]};
  return hex;
}

// Compares in time independent of where the texts differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

void Reply(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
}
void Refuse(httplib::Response& res, int status, const std::string& message) { Reply(res, status, {{"error", message}}); }

std::string Extension(const std::string& name) {
  std::string ext = fs::path(name).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Attach(httplib::Response& res, const std::string& path, const std::string& name, const std::string& type) {
  res.set_content(ReadFile(path), type);
  res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
}

std::string ContentType(const std::string& ext) {
  if (ext == ".xlsx") return "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
  if (ext == ".csv") return "text/csv; charset=utf-8";
  if (ext == ".zip") return "application/zip";
  return "application/xml";
}

// A kind the page names by its code; nullptr for any other text.
const BaseType* KindOfCode(const std::string& text) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return nullptr;
  const BaseType* b = FindBaseType(static_cast<int32_t>(std::stol(text)));
  return b && b->create ? b : nullptr;
}

void Zip(const std::vector<std::pair<std::string, std::string>>& files, const std::string& path) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) throw std::runtime_error("无法写入 zip 文件");
  for (const auto& [name, file] : files) {
    zip_source_t* src = zip_source_file(z, file.c_str(), 0, -1);
    if (!src || zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) {
      if (src) zip_source_free(src);
      zip_discard(z);
      throw std::runtime_error("无法写入 zip 文件");
    }
  }
  if (zip_close(z) != 0) {
    zip_discard(z);
    throw std::runtime_error("无法写入 zip 文件");
  }
}

std::string SizeText(int64_t bytes) {
  constexpr int64_t mb = 1024 * 1024;
  return bytes % mb == 0 ? std::to_string(bytes / mb) + " MB" : std::to_string(bytes) + " 字节";
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += (s.empty() ? "" : "\n") + l;
  return s;
}

std::vector<std::string> FileLines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

struct Server::Impl {
  ServeOptions o;
  std::unique_ptr<PrivateFolder> folder;  // uploads, runs, exports
  std::string shownLedger;
  httplib::Server http;
  int port = -1;
  std::atomic<bool> busy{false};
  std::mutex m;
  struct Upload {
    std::string path, name, ext;
  };
  std::map<std::string, Upload> uploads;
  std::map<std::string, std::shared_ptr<Run>> runs;
  int serial = 0;

  // Takes the ledger for one run; false when another holds it.
  bool Take() {
    bool expected = false;
    return busy.compare_exchange_strong(expected, true);
  }

  std::string NewFolder(const std::string& kind) {
    std::lock_guard lock(m);
    const std::string dir = folder->file(kind + std::to_string(++serial));
    fs::create_directories(dir);
    return dir;
  }

  std::shared_ptr<Run> FindRun(const std::string& id) {
    std::lock_guard lock(m);
    auto at = runs.find(id);
    return at == runs.end() ? nullptr : at->second;
  }

  void Routes();
  void StartRun(const httplib::Request& req, httplib::Response& res);
  void Export(const httplib::Request& req, httplib::Response& res);
  void Template(const httplib::Request& req, httplib::Response& res);
};

void Server::Impl::Routes() {
  // The token before anything is read or done: a request without it learns
  // nothing and changes nothing.
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    const bool page = req.path == "/" || req.path == "/index.html";
    const std::string given = page ? req.get_param_value("token") : req.get_header_value(kTokenHeader);
    if (SameSecret(given, o.token)) return httplib::Server::HandlerResponse::Unhandled;
    Refuse(res, 403, kRefused);
    return httplib::Server::HandlerResponse::Handled;
  });
  http.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request&, httplib::Response& res) {
    if (res.status == 413)
      Refuse(res, 413, "上传的文件超过大小上限（" + SizeText(o.maxUploadBytes) + "）");
    else if (res.status == 404 && res.body.empty())
      Refuse(res, 404, "没有这个地址");
    else
      return httplib::Server::HandlerResponse::Unhandled;
    return httplib::Server::HandlerResponse::Handled;
  }));
  http.set_payload_max_length(static_cast<size_t>(o.maxUploadBytes));

  auto page = [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPage, "text/html; charset=utf-8");
    // The page stays out of other sites' frames and loads nothing else.
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
                   "img-src data: blob:; frame-ancestors 'none'");
    res.set_header("Referrer-Policy", "no-referrer");
  };
  http.Get("/", page);
  http.Get("/index.html", page);

  http.Get("/api/overview", [this](const httplib::Request&, httplib::Response& res) {
    try {
      json j = Overview(o.ledger, shownLedger);
      j["busy"] = busy.load();
      Reply(res, 200, j);
    } catch (const std::exception& e) {
      Refuse(res, 500, e.what());
    }
  });

  http.Get(R"(/api/kinds/(\d+)/rows)", [this](const httplib::Request& req, httplib::Response& res) {
    const BaseType* b = KindOfCode(req.matches[1]);
    if (!b) return Refuse(res, 404, "未知的基础资料类型：" + std::string(req.matches[1]));
    auto number = [&](const char* name, int64_t def, int64_t most) {
      const std::string v = req.get_param_value(name);
      if (v.empty() || v.size() > 12 || v.find_first_not_of("0123456789") != std::string::npos) return def;
      return std::min<int64_t>(std::stoll(v), most);
    };
    try {
      const BrowsePage p =
          Browse(o.ledger, b->code, req.get_param_value("q"), number("offset", 0, INT64_MAX / 2), number("limit", 50, 500));
      json rows = json::array();
      for (const auto& r : p.rows) rows.push_back({{"number", r.number}, {"name", r.name}, {"parent", r.parent}});
      Reply(res, 200, {{"total", p.total}, {"rows", rows}});
    } catch (const std::exception& e) {
      Refuse(res, 500, e.what());
    }
  });

  http.Post("/api/uploads", [this](const httplib::Request& req, httplib::Response& res) {
    if (!req.has_file("file")) return Refuse(res, 400, "请选择要上传的文件");
    const auto file = req.get_file_value("file");
    const std::string ext = Extension(file.filename);
    if (ext != ".xml" && ext != ".xlsx" && ext != ".csv") return Refuse(res, 400, "只能上传 XML、XLSX 或 CSV 数据文件");
    // The name the server keeps is its own: nothing of the request's file
    // name but its kind reaches a path.
    const std::string id = RandomHex(8);
    const std::string dir = NewFolder("upload");
    const std::string path = dir + "/data" + ext;
    std::ofstream(path, std::ios::binary) << file.content;
    {
      std::lock_guard lock(m);
      uploads[id] = {path, file.filename, ext};
    }
    Reply(res, 200, {{"upload", id}, {"name", file.filename}, {"size", file.content.size()}});
  });

  http.Post("/api/runs", [this](const httplib::Request& req, httplib::Response& res) { StartRun(req, res); });

  http.Get(R"(/api/runs/(\w+))", [this](const httplib::Request& req, httplib::Response& res) {
    auto run = FindRun(req.matches[1]);
    if (!run) return Refuse(res, 404, "找不到这次运行");
    Reply(res, 200, run->State());
  });

  http.Post(R"(/api/runs/(\w+)/cancel)", [this](const httplib::Request& req, httplib::Response& res) {
    auto run = FindRun(req.matches[1]);
    if (!run) return Refuse(res, 404, "找不到这次运行");
    run->Cancel();
    Reply(res, 200, {{"cancelled", true}});
  });

  http.Get(R"(/api/runs/(\w+)/errors)", [this](const httplib::Request& req, httplib::Response& res) {
    auto run = FindRun(req.matches[1]);
    if (!run) return Refuse(res, 404, "找不到这次运行");
    if (!run->Done() || !run->State()["errorsBook"].get<bool>()) return Refuse(res, 404, "这次运行没有错误工作簿");
    Attach(res, run->ErrorsBook(), "errors.xlsx", ContentType(".xlsx"));
  });

  // Server-sent events: each of the tool's JSON events as it comes, then
  // "end" with the run's state.
  http.Get(R"(/api/runs/(\w+)/events)", [this](const httplib::Request& req, httplib::Response& res) {
    auto run = FindRun(req.matches[1]);
    if (!run) return Refuse(res, 404, "找不到这次运行");
    auto place = std::make_shared<Run::Place>();
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider("text/event-stream", [run, place](size_t, httplib::DataSink& sink) {
      bool done = false;
      const auto lines = run->EventsFrom(*place, 500, done);
      std::string chunk;
      for (const auto& l : lines) chunk += "data: " + l + "\n\n";
      if (done) chunk += "event: end\ndata: " + run->State().dump(-1, ' ', false, json::error_handler_t::replace) + "\n\n";
      if (chunk.empty()) chunk = ": \n\n";  // keeps the connection, and finds a page gone
      if (!sink.write(chunk.data(), chunk.size())) return false;
      if (done) sink.done();
      return true;
    });
  });

  http.Get("/api/export", [this](const httplib::Request& req, httplib::Response& res) { Export(req, res); });
  http.Get("/api/template", [this](const httplib::Request& req, httplib::Response& res) { Template(req, res); });

  http.Get("/api/log", [](const httplib::Request&, httplib::Response& res) {
    std::vector<LogEntry> entries;
    const std::string path = ExchangeLogPath();
    std::error_code ec;
    // No log yet is no damage: nothing has gone wrong so far.
    if (!fs::exists(path, ec))
      return Reply(res, 200, {{"path", path}, {"entries", json::array()}, {"damage", ""}, {"total", 0},
                              {"note", "还没有交换日志：尚未记录过任何错误"}});
    const std::string damage = ReadExchangeLog(path, [&](const LogEntry& e) {
      entries.push_back(e);
      return true;
    });
    json list = json::array();
    for (auto e = entries.rbegin(); e != entries.rend() && list.size() < 1000; ++e)
      list.push_back({{"time", e->time}, {"direct", e->direct}, {"message", e->message}});
    Reply(res, 200, {{"path", path}, {"entries", list}, {"damage", damage}, {"total", entries.size()}});
  });
}

void Server::Impl::StartRun(const httplib::Request& req, httplib::Response& res) {
  const json body = json::parse(req.body, nullptr, false);
  if (!body.is_object()) return Refuse(res, 400, "请求应为 JSON 对象");
  Upload upload;
  {
    std::lock_guard lock(m);
    auto at = uploads.find(body.contains("upload") && body["upload"].is_string() ? body["upload"].get<std::string>() : "");
    if (at == uploads.end()) return Refuse(res, 404, "找不到上传的文件，请重新上传");
    upload = at->second;
  }
  // A kind as a number or a text; fields of another type are refused.
  std::string kind;
  bool dryRun = false;
  int impStyle = 0;
  try {
    kind = body.contains("kind") && body["kind"].is_number_integer() ? std::to_string(body["kind"].get<int64_t>())
                                                                     : body.value("kind", "");
    dryRun = body.value("dryRun", false);
    impStyle = body.value("impStyle", 0);
  } catch (const json::exception&) {
    return Refuse(res, 400, "请求中 kind、dryRun 或 impStyle 的类型不对");
  }
  const bool all = kind == "all";
  const BaseType* b = all ? nullptr : KindOfCode(kind);
  if (!all && !b) return Refuse(res, 400, "未知的基础资料类型：" + kind);
  if (b && !b->importable) return Refuse(res, 400, b->title + "只能导出，不能引入");
  if (all && upload.ext != ".xlsx")
    return Refuse(res, 400, "整个账套只能从一个 .xlsx 工作簿引入，每种基础资料一张工作表");
  if (impStyle != 0 && impStyle != 1 && impStyle != 2) return Refuse(res, 400, "impStyle 应为 1 或 2");
  if (!Take()) return Refuse(res, 409, kBusy);
  try {
    const std::string dir = NewFolder("run");
    std::vector<std::string> args = {"import", "--ledger", o.ledger, "--events", "jsonl", "--on-error", "skip"};
    if (all) {
      args.insert(args.end(), {"--all", upload.path});
    } else {
      args.insert(args.end(), {"--type", std::to_string(b->code), "--file", upload.path});
    }
    std::string book;
    if (!all && upload.ext != ".xml") {
      book = dir + "/errors.xlsx";
      args.insert(args.end(), {"--errors-out", book});
    }
    if (dryRun) args.push_back("--dry-run");
    if (impStyle) args.insert(args.end(), {"--imp-style", std::to_string(impStyle)});
    std::string id;
    {
      std::lock_guard lock(m);
      id = "r" + std::to_string(serial) + RandomHex(4);
    }
    json about = {{"kind", kind}, {"title", b ? b->title : "整个账套"}, {"dryRun", dryRun}, {"upload", body["upload"]},
                  {"file", upload.name}};
    auto run = std::make_shared<Run>(id, o.tool, args, dir, book, about, [this] { busy = false; });
    {
      std::lock_guard lock(m);
      runs[id] = run;
    }
    Reply(res, 200, {{"run", id}});
  } catch (const std::exception& e) {
    busy = false;
    Refuse(res, 500, e.what());
  }
}

void Server::Impl::Export(const httplib::Request& req, httplib::Response& res) {
  const std::string format = req.get_param_value("format");
  if (format != "xml" && format != "xlsx" && format != "csv") return Refuse(res, 400, "格式应为 xml、xlsx 或 csv");
  std::vector<const BaseType*> kinds;
  std::stringstream list(req.get_param_value("kinds"));
  for (std::string code; std::getline(list, code, ',');) {
    if (code.empty()) continue;
    const BaseType* b = KindOfCode(code);
    if (!b) return Refuse(res, 400, "未知的基础资料类型：" + code);
    kinds.push_back(b);
  }
  if (kinds.empty()) return Refuse(res, 400, "请至少选择一种基础资料");
  if (!Take()) return Refuse(res, 409, kBusy);
  struct Release {
    std::atomic<bool>& busy;
    ~Release() { busy = false; }
  } release{busy};
  const std::string dir = NewFolder("export");
  std::vector<std::pair<std::string, std::string>> files;
  for (const BaseType* b : kinds) {
    const std::string name = b->element + "." + format;
    const std::string file = dir + "/" + name;
    Child child(o.tool,
                {"export", "--ledger", o.ledger, "--type", std::to_string(b->code), "--file", file, "--events", "jsonl",
                 "--overwrite", "--on-error", "skip"},
                dir + "/stderr.txt");
    const int status = child.Wait([](const std::string&) {});
    if ((status != 0 && status != 4) || !fs::exists(file)) {
      const auto lines = FileLines(dir + "/stderr.txt");
      return Refuse(res, 500, b->title + " 导出失败" + (lines.empty() ? "" : "：" + Joined(lines)));
    }
    files.emplace_back(name, file);
  }
  if (files.size() == 1) return Attach(res, files[0].second, files[0].first, ContentType("." + format));
  try {
    Zip(files, dir + "/export.zip");
    Attach(res, dir + "/export.zip", "morvent-export.zip", ContentType(".zip"));
  } catch (const std::exception& e) {
    Refuse(res, 500, e.what());
  }
}

void Server::Impl::Template(const httplib::Request& req, httplib::Response& res) {
  const std::string format = req.get_param_value("format");
  if (format != "xlsx" && format != "csv") return Refuse(res, 400, "模板格式应为 xlsx 或 csv");
  const BaseType* b = KindOfCode(req.get_param_value("kind"));
  if (!b || !b->importable) return Refuse(res, 400, "未知的基础资料类型：" + req.get_param_value("kind"));
  const std::string dir = NewFolder("template");
  const std::string name = b->element + "." + format;
  Child child(o.tool, {"template", "--type", std::to_string(b->code), "--file", dir + "/" + name}, dir + "/stderr.txt");
  if (child.Wait([](const std::string&) {}) != 0)
    return Refuse(res, 500, "无法写出模板：" + Joined(FileLines(dir + "/stderr.txt")));
  Attach(res, dir + "/" + name, name, ContentType("." + format));
}

Server::Server(ServeOptions options) : impl_(std::make_unique<Impl>()) {
  Impl& i = *impl_;
  i.o = std::move(options);
  if (i.o.token.empty()) i.o.token = RandomHex(16);
  if (i.o.tool.empty()) i.o.tool = fs::read_symlink("/proc/self/exe").string();
  i.shownLedger = IsServerSource(i.o.ledger) ? MaskPassword(i.o.ledger) : i.o.ledger;
  // Refused now rather than on the first page load.
  Overview(i.o.ledger, i.shownLedger);
  i.folder = std::make_unique<PrivateFolder>("morvent-serve-");
  if (i.folder->path().empty()) throw std::runtime_error("无法创建临时文件夹");
  i.Routes();
}

Server::~Server() {
  Stop();
  {
    std::lock_guard lock(impl_->m);
    for (auto& [id, run] : impl_->runs) run->Cancel();
  }
  impl_->runs.clear();
  impl_->folder.reset();  // once no run writes in it
}

int Server::Bind() {
  Impl& i = *impl_;
  i.port = i.o.port == 0 ? i.http.bind_to_any_port(i.o.bind) : (i.http.bind_to_port(i.o.bind, i.o.port) ? i.o.port : -1);
  return i.port;
}
void Server::Listen() { impl_->http.listen_after_bind(); }
void Server::Stop() { impl_->http.stop(); }
const std::string& Server::Token() const { return impl_->o.token; }
std::string Server::Url() const {
  const std::string host = impl_->o.bind == "0.0.0.0" ? "127.0.0.1" : impl_->o.bind;
  return "http://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(impl_->port) +
         "/?token=" + impl_->o.token;
}

int RunServe(const ServeOptions& options) {
  // SIGINT and SIGTERM are taken by a thread of their own, which stops the
  // server so the private folder is removed; runs started later get the
  // default signals back (web/child.cpp).
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  std::unique_ptr<Server> server;
  try {
    server = std::make_unique<Server>(options);
  } catch (const std::exception& e) {
    std::cerr << "无法提供网页：" << e.what() << std::endl;
    return 5;
  }
  if (server->Bind() < 0) {
    std::cerr << "无法在 " << options.bind << ":" << options.port << " 上提供网页（地址已被占用或不可用）" << std::endl;
    return 3;
  }
  if (options.bind != "127.0.0.1" && options.bind != "localhost" && options.bind != "::1")
    std::cerr << "警告：网页在 " << options.bind << " 上提供，本机以外也能连接；只有持有令牌的人能使用它" << std::endl;
  std::cout << server->Url() << std::endl;
  std::cerr << "在浏览器中打开上面的地址；按 Ctrl-C 结束" << std::endl;
  std::atomic<bool> ended{false};
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stop, &sig);
    // A stop before the server listens would be lost: repeated until it ends.
    while (!ended) {
      server->Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  server->Listen();
  ended = true;
  // Listen also ends when the socket fails: the waiter is woken to finish.
  ::kill(::getpid(), SIGTERM);
  waiter.join();
  return 0;
}

}  // namespace morvent::web
