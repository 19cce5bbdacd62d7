// The page's HTTP interface, served in-process on a free port of 127.0.0.1
// with the tool (MORVENT_BIN) running the imports and exports.
#include <gtest/gtest.h>
#include <httplib.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <nlohmann/json.hpp>
#include <thread>

#include "front/exchange_log.h"
#include "sheets/table.h"
#include "store/ledger_admin.h"
#include "store/ledger_store.h"
#include "tests/support/support.h"
#include "web/child.h"
#include "web/run.h"
#include "web/server.h"

namespace morvent::web {
namespace {

using json = nlohmann::json;
using test::ProgramHome;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
constexpr const char* kBusy = "账套正在进行另一次引入或导出，请等它结束后再试";

std::string Tool() {
  const char* bin = std::getenv("MORVENT_BIN");
  return std::string(bin ? bin : "bin") + "/morvent";
}

// Three of six currencies have an exchange rate that is no number.
const std::string kThreeBad =
    "Number,Name,ExchangeRate\nT1,测试一,1.5\nT2,测试二,abc\nT3,测试三,2\nT4,测试四,五\nT5,测试五,1\nT6,测试六,x\n";

class Serve : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  void TearDown() override { Stop(); }

  void Start(int64_t maxUpload = int64_t{1} << 30) {
    if (!std::ifstream(ledger)) {
      CreateLedger(ledger);
      FillDemoLedger(ledger);
    }
    ServeOptions o;
    o.ledger = ledger;
    o.port = 0;
    o.tool = Tool();
    o.token = kToken;
    o.maxUploadBytes = maxUpload;
    server = std::make_unique<Server>(o);
    port = server->Bind();
    ASSERT_GT(port, 0);
    thread = std::thread([this] { server->Listen(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_read_timeout(60, 0);
    // A stop before the server listens would leave it listening for good.
    for (int i = 0; i < 500 && !client->Get("/api/overview", Auth()); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  void Stop() {
    if (!server) return;
    server->Stop();
    thread.join();
    server.reset();
  }

  httplib::Headers Auth() const { return {{kTokenHeader, kToken}}; }
  json Json(const httplib::Result& r) const { return r ? json::parse(r->body, nullptr, false) : json(); }
  json Get(const std::string& path, int status = 200) {
    auto r = client->Get(path.c_str(), Auth());
    EXPECT_TRUE(r);
    if (!r) return {};
    EXPECT_EQ(r->status, status) << path << " " << r->body;
    return Json(r);
  }
  std::string Upload(const std::string& name, const std::string& content) {
    httplib::MultipartFormDataItems items = {{"file", content, name, "application/octet-stream"}};
    auto r = client->Post("/api/uploads", Auth(), items);
    EXPECT_TRUE(r && r->status == 200) << (r ? r->body : "no answer");
    return Json(r).value("upload", "");
  }
  httplib::Result StartRun(const std::string& upload, const std::string& kind, bool dryRun) {
    const json body = {{"upload", upload}, {"kind", kind}, {"dryRun", dryRun}};
    return client->Post("/api/runs", Auth(), body.dump(), "application/json");
  }
  // Follows the run's events to the end; answers the events and the state.
  json Follow(const std::string& run, std::vector<json>* events = nullptr,
              const std::function<void(const json&)>& each = nullptr) {
    std::string buffer;
    json end;
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(120, 0);
    auto r = c.Get(("/api/runs/" + run + "/events").c_str(), Auth(), [&](const char* data, size_t n) {
      buffer.append(data, n);
      for (size_t at; (at = buffer.find("\n\n")) != std::string::npos; buffer.erase(0, at + 2)) {
        const std::string block = buffer.substr(0, at);
        const size_t d = block.find("data: ");
        if (d == std::string::npos) continue;
        const json j = json::parse(block.substr(d + 6));
        if (block.starts_with("event: end")) {
          end = j;
        } else {
          if (events) events->push_back(j);
          if (each) each(j);
        }
      }
      return true;
    });
    EXPECT_TRUE(r && r->status == 200);
    return end;
  }
  int64_t Count(int code) {
    const json overview = Get("/api/overview");
    for (const auto& k : overview["kinds"])
      if (k["code"] == code) return k["count"];
    ADD_FAILURE() << "no kind " << code;
    return -1;
  }

  ProgramHome home;
  std::string ledger = home.file("ledger.db");
  std::unique_ptr<Server> server;
  std::thread thread;
  int port = 0;
  std::unique_ptr<httplib::Client> client;
};

TEST_F(Serve, EveryCallWantsTheTokenInItsHeader) {
  const std::string refused = "缺少或错误的访问令牌：请用 morvent serve 打印的地址打开本页";
  struct Case {
    std::string method, path;
  };
  const std::vector<Case> calls = {
      {"GET", "/api/overview"},        {"GET", "/api/kinds/102/rows"},        {"POST", "/api/uploads"},
      {"POST", "/api/runs"},           {"GET", "/api/runs/r1"},               {"GET", "/api/runs/r1/events"},
      {"POST", "/api/runs/r1/cancel"}, {"GET", "/api/runs/r1/errors"},        {"GET", "/api/export?kinds=103&format=xml"},
      {"GET", "/api/template?kind=103&format=csv"}, {"GET", "/api/log"},     {"GET", "/api/nothing"},
      // The page's address carries the token in its query, never a header or cookie.
      {"GET", "/"},
  };
  const std::vector<std::pair<std::string, httplib::Headers>> wrong = {
      {"absent", {}},
      {"wrong", {{kTokenHeader, std::string(kToken).replace(5, 1, "0")}}},
      {"shorter", {{kTokenHeader, std::string(kToken).substr(0, 31)}}},
      {"in a cookie only", {{"Cookie", std::string("token=") + kToken}}},
      {"in the query only", {}},
  };
  for (const auto& call : calls)
    for (const auto& [why, headers] : wrong) {
      SCOPED_TRACE(call.method + " " + call.path + " with the token " + why);
      std::string path = call.path;
      if (why == "in the query only") path += (path.find('?') == std::string::npos ? "?token=" : "&token=") + std::string(kToken);
      if (path == "/?token=" + std::string(kToken)) continue;  // the page itself, allowed
      auto r = call.method == "GET" ? client->Get(path.c_str(), headers) : client->Post(path.c_str(), headers, "{}", "application/json");
      ASSERT_TRUE(r);
      EXPECT_EQ(r->status, 403);
      EXPECT_EQ(Json(r).value("error", ""), refused);
    }
  auto page = client->Get((std::string("/?token=") + kToken).c_str());
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Morvent 基础资料交换"), std::string::npos);
  // Everything the page needs is in it: no address of another site.
  EXPECT_EQ(page->body.find("http://"), std::string::npos);
  EXPECT_EQ(page->body.find("https://"), std::string::npos);
}

TEST_F(Serve, OverviewCountsWhatTheLedgerHolds) {
  const json o = Get("/api/overview");
  EXPECT_EQ(o["path"], ledger);
  EXPECT_EQ(o["kind"], LedgerKind(ledger));
  auto store = LedgerStore::ForPath(ledger);
  const std::vector<std::pair<int, int64_t>> expected = {
      {102, store->CountRows("t_Account")}, {103, store->CountRows("t_Currency")}, {106, store->CountRows("t_MeasureUnit")}};
  for (const auto& [code, n] : expected) {
    SCOPED_TRACE(code);
    EXPECT_GT(n, 0);
    EXPECT_EQ(Count(code), n);
  }
}

TEST_F(Serve, BrowsingPagesThroughAKindAndFindsByNumberOrName) {
  auto store = LedgerStore::ForPath(ledger);
  std::vector<std::string> all;
  auto q = store->Prepare("SELECT FNumber FROM t_Account ORDER BY FNumber");
  while (q.Next()) all.push_back(q.Text(0));
  // Pages of 7 put together are the whole kind, in order.
  std::vector<std::string> paged;
  for (size_t offset = 0; offset < all.size() + 7; offset += 7) {
    const json p = Get("/api/kinds/102/rows?limit=7&offset=" + std::to_string(offset));
    EXPECT_EQ(p["total"], all.size());
    EXPECT_LE(p["rows"].size(), 7u);
    for (const auto& r : p["rows"]) {
      paged.push_back(r["number"]);
      // A dotted number's parent is the number before its last dot.
      const std::string n = r["number"];
      EXPECT_EQ(r["parent"], n.find('.') == std::string::npos ? "" : n.substr(0, n.rfind('.'))) << n;
    }
  }
  EXPECT_EQ(paged, all);
  struct Case {
    std::string query;
    std::function<bool(const json&)> matches;
  };
  const std::vector<Case> searches = {
      {"1001", [](const json& r) { return r["number"].get<std::string>().find("1001") != std::string::npos; }},
      {"%E7%8E%B0%E9%87%91" /* 现金 */,
       [](const json& r) { return r["name"].get<std::string>().find("现金") != std::string::npos; }},
      // Wildcards of SQL are plain characters to a search.
      {"%25", [](const json&) { return false; }},
      {"_", [](const json&) { return false; }},
  };
  for (const auto& s : searches) {
    SCOPED_TRACE(s.query);
    const json p = Get("/api/kinds/102/rows?limit=500&q=" + s.query);
    EXPECT_EQ(p["total"], p["rows"].size());
    for (const auto& r : p["rows"]) EXPECT_TRUE(s.matches(r)) << r.dump();
    if (s.query == "1001") EXPECT_GT(p["total"], 0);
  }
  EXPECT_EQ(Get("/api/kinds/999/rows", 404)["error"], "未知的基础资料类型：999");
}

TEST_F(Serve, DryRunShowsCountsAndErrorsThenTheRunStoresAndOffersTheErrorsWorkbook) {
  const json none = Get("/api/log");
  EXPECT_EQ(none["entries"], json::array());
  EXPECT_EQ(none["damage"], "");
  EXPECT_EQ(none["note"], "还没有交换日志：尚未记录过任何错误");
  const int64_t before = Count(103);
  const std::string upload = Upload("currencies.csv", kThreeBad);
  auto r = StartRun(upload, "103", true);
  ASSERT_TRUE(r && r->status == 200) << (r ? r->body : "");
  std::vector<json> events;
  json dry = Follow(Json(r)["run"], &events);
  EXPECT_TRUE(dry["done"]);
  EXPECT_EQ(dry["status"], 4);  // errors were let pass
  EXPECT_EQ(dry["counts"], json({{"created", 3}, {"kept", 0}, {"overwritten", 0}, {"failed", 3}, {"bareParents", 0}}));
  ASSERT_EQ(dry["errors"].size(), 3u);
  const std::vector<std::tuple<int, std::string, std::string>> bad = {{3, "T2", "abc"}, {5, "T4", "五"}, {7, "T6", "x"}};
  for (size_t i = 0; i < bad.size(); ++i) {
    const json& e = dry["errors"][i];
    EXPECT_EQ(e["row"], std::get<0>(bad[i]));
    EXPECT_EQ(e["number"], std::get<1>(bad[i]));
    EXPECT_EQ(e["key"], "ExchangeRate");
    EXPECT_EQ(e["value"], std::get<2>(bad[i]));
    EXPECT_NE(e["message"].get<std::string>().find("类型不匹配"), std::string::npos);
  }
  // Progress only moves on, and reaches the last record.
  json lastRow;
  for (const auto& e : events)
    if (e["event"] == "ImportOneRow") {
      if (!lastRow.is_null()) EXPECT_GT(e["lRow"], lastRow["lRow"]);
      lastRow = e;
    }
  EXPECT_EQ(lastRow, json({{"event", "ImportOneRow"}, {"lRow", 6}, {"dblRate", 100}}));
  // Errors and the other events are each handed on.
  for (const char* kind : {"Error", "Result", "DryRun"}) {
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [&](const json& e) { return e["event"] == kind; }),
              std::string(kind) == "Error" ? 3 : 1) << kind;
  }
  EXPECT_EQ(Count(103), before);  // a dry run stores nothing

  r = StartRun(upload, "103", false);
  ASSERT_TRUE(r && r->status == 200);
  const std::string run = Json(r)["run"];
  json real = Follow(run);
  EXPECT_EQ(real["counts"], dry["counts"]);
  EXPECT_EQ(Count(103), before + 3);
  EXPECT_EQ(Get("/api/runs/" + run)["counts"], real["counts"]);

  auto book = client->Get(("/api/runs/" + run + "/errors").c_str(), Auth());
  ASSERT_TRUE(book && book->status == 200);
  const std::string path = home.file("errors.xlsx");
  std::ofstream(path, std::ios::binary) << book->body;
  std::vector<std::string> numbers;
  sheets::ReadXlsx(path, {"Currency"}, [&](long row, sheets::Row& cells) {
    if (row > 2) numbers.push_back(cells.at(0).text);
    return true;
  });
  EXPECT_EQ(numbers, (std::vector<std::string>{"T2", "T4", "T6"}));

  // The log, newest first, holds the run's errors as the tool wrote them.
  std::vector<LogEntry> entries;
  ReadExchangeLog(ExchangeLogPath(), [&](const LogEntry& e) {
    entries.push_back(e);
    return true;
  });
  const json log = Get("/api/log");
  ASSERT_EQ(log["entries"].size(), entries.size());
  ASSERT_GE(entries.size(), 6u);  // three errors, twice
  EXPECT_EQ(log["entries"][0]["message"], entries.back().message);
  EXPECT_EQ(log["entries"].back()["message"], entries.front().message);
}

// The whole ledger from one workbook, as `export --all` writes it: every
// object is already there, so the preview keeps them all.
TEST_F(Serve, AWholeLedgerWorkbookIsPreviewedKindByKind) {
  const std::string book = home.file("book.xlsx");
  Child exporting(Tool(), {"export", "--ledger", ledger, "--all", book, "--quiet"}, home.file("export.txt"));
  ASSERT_EQ(exporting.Wait([](const std::string&) {}), 0);
  std::ifstream in(book, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto r = StartRun(Upload("book.xlsx", content), "all", true);
  ASSERT_TRUE(r && r->status == 200) << (r ? r->body : "");
  const json end = Follow(Json(r)["run"]);
  EXPECT_EQ(end["status"], 0);
  EXPECT_EQ(end["title"], "整个账套");
  EXPECT_EQ(end["errors"], json::array());
  EXPECT_EQ(end["counts"]["created"], 0);
  EXPECT_GT(end["counts"]["kept"], Count(102));
  EXPECT_FALSE(end["errorsBook"]);
}

TEST_F(Serve, RefusesWhatIsNoDataFileOrNoKind) {
  struct Case {
    std::string name, kind;
    int status;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"a.txt", "103", 400, "只能上传 XML、XLSX 或 CSV 数据文件"},
      {"../../etc/passwd", "103", 400, "只能上传 XML、XLSX 或 CSV 数据文件"},
      {"a.csv", "all", 400, "整个账套只能从一个 .xlsx 工作簿引入，每种基础资料一张工作表"},
      {"a.csv", "abc", 400, "未知的基础资料类型：abc"},
      {"a.csv", "101", 400, "科目大类只能导出，不能引入"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + c.kind);
    httplib::MultipartFormDataItems items = {{"file", kThreeBad, c.name, "text/csv"}};
    auto up = client->Post("/api/uploads", Auth(), items);
    ASSERT_TRUE(up);
    if (up->status != 200) {
      EXPECT_EQ(up->status, c.status);
      EXPECT_EQ(Json(up)["error"], c.error);
      continue;
    }
    auto r = StartRun(Json(up)["upload"], c.kind, true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status);
    EXPECT_EQ(Json(r)["error"], c.error);
  }
  const std::string upload = Upload("a.csv", kThreeBad);
  for (const auto& body : {json{{"upload", upload}, {"kind", "103"}, {"dryRun", "yes"}},
                           json{{"upload", upload}, {"kind", "103"}, {"impStyle", "2"}}}) {
    auto r = client->Post("/api/runs", Auth(), body.dump(), "application/json");
    EXPECT_EQ(r->status, 400) << body.dump();
    EXPECT_EQ(Json(r)["error"], "请求中 kind、dryRun 或 impStyle 的类型不对");
  }
  // A kind given as a number is the same kind.
  auto byNumber = client->Post("/api/runs", Auth(), json{{"upload", upload}, {"kind", 103}, {"dryRun", true}}.dump(),
                               "application/json");
  ASSERT_EQ(byNumber->status, 200) << byNumber->body;
  EXPECT_EQ(Follow(Json(byNumber)["run"])["counts"]["failed"], 3);
  auto r = StartRun("nosuchupload", "103", true);
  EXPECT_EQ(r->status, 404);
  EXPECT_EQ(Json(r)["error"], "找不到上传的文件，请重新上传");
  httplib::MultipartFormDataItems none = {{"other", "x", "a.csv", "text/csv"}};
  auto missing = client->Post("/api/uploads", Auth(), none);
  EXPECT_EQ(missing->status, 400);
  EXPECT_EQ(Json(missing)["error"], "请选择要上传的文件");
  EXPECT_EQ(Get("/api/runs/nosuchrun", 404)["error"], "找不到这次运行");
}

TEST_F(Serve, AnUploadOverTheLimitIsRefused) {
  Stop();
  Start(4096);
  httplib::MultipartFormDataItems items = {{"file", std::string(5000, 'x'), "big.csv", "text/csv"}};
  auto r = client->Post("/api/uploads", Auth(), items);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 413);
  EXPECT_EQ(Json(r)["error"], "上传的文件超过大小上限（4096 字节）");
  EXPECT_FALSE(Upload("small.csv", kThreeBad).empty());
}

TEST_F(Serve, ExportsOneFileOrAZipAndTemplatesPerKind) {
  struct Case {
    std::string query;
    std::string disposition;
    std::string starts;  // the file's first bytes
  };
  const std::vector<Case> cases = {
      {"kinds=103&format=xml", "Currency.xml", "<?xml"},
      {"kinds=103&format=csv", "Currency.csv", "\xEF\xBB\xBF"},
      {"kinds=103&format=xlsx", "Currency.xlsx", "PK"},
      {"kinds=102,103&format=xml", "morvent-export.zip", "PK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    auto r = client->Get(("/api/export?" + c.query).c_str(), Auth());
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(r->get_header_value("Content-Disposition"), "attachment; filename=\"" + c.disposition + "\"");
    EXPECT_TRUE(r->body.starts_with(c.starts)) << r->body.substr(0, 20);
  }
  // The zip holds one file per kind, the same as each kind's own export.
  auto zipped = client->Get("/api/export?kinds=102,103&format=xml", Auth());
  auto alone = client->Get("/api/export?kinds=103&format=xml", Auth());
  const std::string path = home.file("export.zip");
  std::ofstream(path, std::ios::binary) << zipped->body;
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  ASSERT_NE(z, nullptr);
  ASSERT_EQ(zip_get_num_entries(z, 0), 2);
  EXPECT_STREQ(zip_get_name(z, 0, 0), "Account.xml");
  EXPECT_STREQ(zip_get_name(z, 1, 0), "Currency.xml");
  zip_stat_t st;
  zip_stat_index(z, 1, 0, &st);
  std::string currency(st.size, '\0');
  zip_file_t* f = zip_fopen_index(z, 1, 0);
  zip_fread(f, currency.data(), st.size);
  zip_fclose(f);
  zip_close(z);
  EXPECT_EQ(currency, alone->body);

  for (const auto& [query, error] : std::vector<std::pair<std::string, std::string>>{
           {"kinds=103&format=pdf", "格式应为 xml、xlsx 或 csv"},
           {"kinds=&format=xml", "请至少选择一种基础资料"},
           {"kinds=103,77&format=xml", "未知的基础资料类型：77"}}) {
    auto r = client->Get(("/api/export?" + query).c_str(), Auth());
    EXPECT_EQ(r->status, 400);
    EXPECT_EQ(Json(r)["error"], error);
  }

  for (const auto& [format, starts] : std::vector<std::pair<std::string, std::string>>{{"xlsx", "PK"}, {"csv", "\xEF\xBB\xBF"}}) {
    auto t = client->Get(("/api/template?kind=103&format=" + format).c_str(), Auth());
    ASSERT_TRUE(t && t->status == 200);
    EXPECT_EQ(t->get_header_value("Content-Disposition"), "attachment; filename=\"Currency." + format + "\"");
    EXPECT_TRUE(t->body.starts_with(starts)) << t->body.substr(0, 20);
  }
  auto t = client->Get("/api/template?kind=103&format=xml", Auth());
  EXPECT_EQ(t->status, 400);
  EXPECT_EQ(Json(t)["error"], "模板格式应为 xlsx 或 csv");
}

// The page confirms as soon as it hears the dry run end: the ledger must be
// free by then, every time.
TEST_F(Serve, ARunMayStartAsSoonAsTheLastOneIsHeardToEnd) {
  const std::string upload = Upload("currencies.csv", kThreeBad);
  for (int i = 0; i < 15; ++i) {
    auto r = StartRun(upload, "103", true);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << "run " << i << ": " << r->body;
    EXPECT_TRUE(Follow(Json(r)["run"])["done"]);
  }
}

// A long import: a second run and an export are told to wait; a cancel
// stops it at its next event and what was stored so far stays.
TEST_F(Serve, OneRunAtATimeAndCancelKeepsWhatWasStored) {
  std::string big = "Number,Name\n";
  for (int i = 0; i < 300000; ++i) big += "C" + std::to_string(100000 + i) + ",客户" + std::to_string(i) + "\n";
  const int64_t before = Count(110);
  const std::string upload = Upload("customers.csv", big);
  auto r = StartRun(upload, "110", false);
  ASSERT_TRUE(r && r->status == 200) << (r ? r->body : "");
  const std::string run = Json(r)["run"];

  auto second = StartRun(upload, "103", true);
  EXPECT_EQ(second->status, 409);
  EXPECT_EQ(Json(second)["error"], kBusy);
  auto exporting = client->Get("/api/export?kinds=103&format=xml", Auth());
  EXPECT_EQ(exporting->status, 409);
  EXPECT_EQ(Json(exporting)["error"], kBusy);
  EXPECT_TRUE(Get("/api/overview")["busy"]);

  bool cancelled = false;
  int32_t lastRow = 0;
  const json end = Follow(run, nullptr, [&](const json& e) {
    if (e["event"] != "ImportOneRow") return;
    lastRow = e["lRow"];
    if (!cancelled && lastRow >= 1000) {
      cancelled = true;
      httplib::Client c("127.0.0.1", port);
      auto x = c.Post(("/api/runs/" + run + "/cancel").c_str(), Auth(), "", "application/json");
      EXPECT_TRUE(x && x->status == 200);
    }
  });
  ASSERT_TRUE(cancelled);
  EXPECT_TRUE(end["cancelled"]);
  EXPECT_EQ(end["status"], 130);
  EXPECT_LT(lastRow, 300000);
  const int64_t stored = Count(110) - before;
  EXPECT_EQ(stored, lastRow);
  EXPECT_EQ(end["notes"].back(), "已中断：已保存 " + std::to_string(stored) + " 条记录；再次运行同一引入可以继续。");
  // The ledger is free again.
  auto again = StartRun(upload, "110", true);
  ASSERT_TRUE(again && again->status == 200);
  client->Post(("/api/runs/" + Json(again)["run"].get<std::string>() + "/cancel").c_str(), Auth(), "", "application/json");
  Follow(Json(again)["run"]);
}

}  // namespace
}  // namespace morvent::web

namespace morvent::web {
namespace {

// The command itself: the address it prints, the warning for another
// address, Ctrl-C ending it cleanly, a ledger it cannot read.
TEST(ServeCommand, PrintsTheAddressWarnsForAnotherAddressAndEndsOnCtrlC) {
  ProgramHome home;
  const std::string ledger = home.file("ledger.db");
  CreateLedger(ledger);
  struct Case {
    std::string bind, warning;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", ""},
      {"0.0.0.0", "警告：网页在 0.0.0.0 上提供，本机以外也能连接；只有持有令牌的人能使用它\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bind);
    Child serve(Tool(), {"serve", "--ledger", ledger, "--port", "0", "--bind", c.bind}, home.file("stderr.txt"));
    std::vector<std::string> lines;
    const int status = serve.Wait([&](const std::string& line) {
      lines.push_back(line);
      serve.Interrupt();
    });
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(http://127\.0\.0\.1:\d+/\?token=[0-9a-f]{32})"))) << lines[0];
    std::ifstream in(home.file("stderr.txt"));
    const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(said, c.warning + "在浏览器中打开上面的地址；按 Ctrl-C 结束\n");
  }
  // A ledger that is missing, or of the schema before (which names the
  // command that upgrades it).
  const std::string old = home.file("old.db");
  std::filesystem::copy_file(test::FixtureDir() + "/ledger_v1/ledger.db", old);
  for (const std::string& unusable : {home.file("none.db"), old}) {
    SCOPED_TRACE(unusable);
    Child refused(Tool(), {"serve", "--ledger", unusable, "--port", "0"}, home.file("stderr.txt"));
    EXPECT_EQ(refused.Wait([](const std::string&) {}), 5);
    std::ifstream in(home.file("stderr.txt"));
    std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(said, "无法提供网页：" + test::ErrorOf([&] { LedgerStore::ForPath(unusable); }) + "\n");
  }
  EXPECT_NE(test::ErrorOf([&] { LedgerStore::ForPath(old); }).find("morvent ledger upgrade"), std::string::npos);
}

}  // namespace
}  // namespace morvent::web

namespace morvent::web {
namespace {

// A run keeps the last of consecutive row events only, whatever the
// number of records; a reader that came late still gets every other event
// and the latest progress.
TEST(RunEvents, RowsInARowAreKeptAsTheLastOfThem) {
  test::TempDir dir;
  const std::string script =
      "for i in $(seq 1 5000); do echo '{\"event\":\"ImportOneRow\",\"lRow\":'$i',\"dblRate\":50}'; done;"
      "printf '%s\\n' '{\"event\":\"Error\",\"sErrMsg\":\"x\\r表格位置：第 9 行\",\"row\":7,\"number\":\"N\"}';"
      "echo '{\"event\":\"ImportOneRow\",\"lRow\":5001,\"dblRate\":100}';"
      "echo '{\"event\":\"Warning\",\"text\":\"键 A 不会被引入\"}';"
      "echo '{\"event\":\"Warning\",\"text\":\"出错的 1 行已写入 " + dir.file("errors.xlsx") + "，改正后可直接引入\"}';"
      "echo '{\"event\":\"Result\",\"value\":true,\"created\":5000,\"failed\":1}'";
  std::atomic<bool> ended{false};
  web::Run run("r", "/bin/sh", {"-c", script}, dir.path(), dir.file("errors.xlsx"), json::object(), [&] { ended = true; });
  bool done = false;
  web::Run::Place first;
  while (!done) run.EventsFrom(first, 1000, done);
  EXPECT_TRUE(ended);
  web::Run::Place late;
  std::vector<json> seen;
  for (const auto& line : run.EventsFrom(late, 0, done)) seen.push_back(json::parse(line));
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[0]["lRow"], 5000);
  EXPECT_EQ(seen[1]["event"], "Error");
  EXPECT_EQ(seen[2]["lRow"], 5001);
  EXPECT_EQ(seen[5]["event"], "Result");
  EXPECT_TRUE(run.EventsFrom(late, 0, done).empty());
  const json state = run.State();
  EXPECT_EQ(state["rows"], 5001);
  EXPECT_EQ(state["counts"]["created"], 5000);
  // The page is not told where the server keeps the errors workbook.
  EXPECT_EQ(state["warnings"], json({"键 A 不会被引入"}));
  EXPECT_EQ(state["errors"], json::parse(R"([{"row":9,"number":"N","key":"","value":"","element":"","message":"x\n表格位置：第 9 行"}])"));
}

}  // namespace
}  // namespace morvent::web
