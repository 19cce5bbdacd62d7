// Departments imported as a three-level tree under every combination of
// the two import options and in several file orders.
#include <algorithm>
#include <random>

#include "tests/handlers/fixture.h"

namespace morvent::test {
namespace {

struct Node {
  std::string number;  // dotted
  std::string name;
};

// Three children under 01.01 and two under 01.02 at the third level.
const std::vector<Node>& Tree() {
  static const std::vector<Node> tree = {
      {"01", "研发中心"},     {"01.01", "软件部"},     {"01.01.01", "前端组"}, {"01.01.02", "后端组"},
      {"01.01.03", "测试组"}, {"01.02", "硬件部"},     {"01.02.01", "电路组"}, {"01.02.02", "结构组"},
      {"02", "财务中心"},     {"02.01", "会计部"},
  };
  return tree;
}

std::string ParentOf(const std::string& dotted) {
  auto p = dotted.rfind('.');
  return p == std::string::npos ? "" : dotted.substr(0, p);
}
std::string Undotted(const std::string& s) { return Replace(s, ".", ""); }

enum class Order { File, Reverse, Shuffle1, Shuffle2, Shuffle3 };

std::vector<Node> Ordered(Order order) {
  auto nodes = Tree();
  switch (order) {
    case Order::File:
      break;
    case Order::Reverse:
      std::reverse(nodes.begin(), nodes.end());
      break;
    default: {
      std::mt19937 gen(static_cast<unsigned>(order));
      std::shuffle(nodes.begin(), nodes.end(), gen);
    }
  }
  return nodes;
}

// The tree's records; dotted numbers for coding style 1, undotted otherwise.
std::vector<DataRecordPtr> TreeRecords(Order order, bool dotted, const std::string& nameSuffix = "") {
  std::vector<DataRecordPtr> out;
  for (const auto& n : Ordered(order)) {
    std::string number = dotted ? n.number : Undotted(n.number);
    std::string parent = ParentOf(n.number);
    if (!dotted) parent = Undotted(parent);
    out.push_back(parent.empty() ? ItemRecord(number, n.name + nameSuffix)
                                 : ItemRecord(number, n.name + nameSuffix, "DeptGroup", parent));
  }
  return out;
}

class TreeImport : public HandlerTest, public ::testing::WithParamInterface<std::tuple<int, int, Order>> {};

TEST_P(TreeImport, BuildsTheTreeOnANewLedger) {
  auto [coding, imp, order] = GetParam();
  std::string ledger = NewLedger("tree.db");
  std::string file = WriteRecords("tree.xml", "Department", TreeRecords(order, coding == 1));

  RunResult run = Import(ledger, 120, file, imp, coding, Client{.letErrorsPass = true});
  EXPECT_TRUE(run.result);
  ASSERT_EQ(run.rows.size(), Tree().size());
  EXPECT_EQ(run.rows.back().rate, 100);
  auto items = Items(ledger, 2);

  if (coding != 1 && coding != 2) {
    // Other coding styles check nothing: every item at the top level, as numbered.
    EXPECT_TRUE(run.errors.empty());
    ASSERT_EQ(items.size(), Tree().size());
    for (const auto& n : Tree()) {
      std::string u = Undotted(n.number);
      ASSERT_TRUE(items.count(u)) << u;
      EXPECT_EQ(items[u].parentNumber, "");
    }
    return;
  }
  // Stored dotted under the right parent, whatever the file's order. A
  // record that failed is as if not in the file: a later child makes it
  // bare (at the top level, named from the child's parent key and
  // numbered as the child gives it).
  size_t bare = 0;
  for (const auto& [number, item] : items)
    if (item.name == "上级" + number) {
      ++bare;
      EXPECT_EQ(item.parentNumber, "") << number;
    }
  for (const auto& n : Tree()) {
    if (!items.count(n.number) || items[n.number].name == "上级" + n.number) continue;
    EXPECT_EQ(items[n.number].name, n.name);
    EXPECT_EQ(items[n.number].parentNumber, ParentOf(n.number)) << n.number;
  }
  if (imp == 1 || imp == 2) {
    EXPECT_EQ(bare, 0u);
    EXPECT_TRUE(run.errors.empty()) << run.errors.front();
    EXPECT_EQ(items.size(), Tree().size());
    return;
  }
  // An option value other than 1 and 2 answers no parent that is already in
  // the ledger and updates no existing item: children after their parents
  // fail, children before them bring the parents in.
  EXPECT_EQ(run.errors.size() + items.size() - bare, Tree().size());
  for (const auto& m : run.errors) {
    bool noParent = m.find(" 的上级代码出现错误！") != std::string::npos;
    bool noItem = m.find("\r错误信息：\r对象变量未设置") != std::string::npos;
    EXPECT_TRUE(noParent || noItem) << m;
  }
  if (order == Order::Reverse) EXPECT_EQ(items.size(), Tree().size());
  // In file order 01 and 02 are stored, their children fail, and the first
  // grandchild under each failed child makes it bare and is stored.
  if (order == Order::File) EXPECT_EQ(items.size(), 6u);
  if (order == Order::File) EXPECT_EQ(bare, 2u);
}

INSTANTIATE_TEST_SUITE_P(Styles, TreeImport,
                         ::testing::Combine(::testing::Values(1, 2, 3), ::testing::Values(1, 2, 3),
                                            ::testing::Values(Order::File, Order::Reverse, Order::Shuffle1,
                                                              Order::Shuffle2, Order::Shuffle3)));

class TreeReimport : public HandlerTest, public ::testing::WithParamInterface<std::tuple<int, Order>> {
 protected:
  // The tree in the ledger, then the same tree renamed imported over it.
  std::string Prepare(int coding, Order order, int imp, RunResult& run) {
    std::string ledger = NewLedger("tree.db");
    EXPECT_TRUE(Import(ledger, 120, WriteRecords("first.xml", "Department", TreeRecords(Order::File, true)), 1, 1).result);
    before = Items(ledger, 2);
    run = Import(ledger, 120, WriteRecords("second.xml", "Department", TreeRecords(order, coding == 1, "（新）")), imp,
                 coding, Client{.letErrorsPass = true});
    return ledger;
  }
  std::map<std::string, StoredItem> before;
};

TEST_P(TreeReimport, KeepStyleLeavesEveryItemUntouched) {
  auto [coding, order] = GetParam();
  RunResult run;
  std::string ledger = Prepare(coding, order, 1, run);
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.errors.empty());
  auto after = Items(ledger, 2);
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [number, item] : before) {
    EXPECT_EQ(after[number].name, item.name);
    EXPECT_EQ(after[number].id, item.id);
  }
}

TEST_P(TreeReimport, OverwriteStyleRenamesAndKeepsParents) {
  auto [coding, order] = GetParam();
  RunResult run;
  std::string ledger = Prepare(coding, order, 2, run);
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.errors.empty());
  auto after = Items(ledger, 2);
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [number, item] : before) {
    EXPECT_EQ(after[number].name, item.name + "（新）");
    EXPECT_EQ(after[number].id, item.id);
    EXPECT_EQ(after[number].parentNumber, item.parentNumber);
  }
}

TEST_P(TreeReimport, OtherStyleFailsEveryExistingRecordAndChangesNothing) {
  auto [coding, order] = GetParam();
  RunResult run;
  std::string ledger = Prepare(coding, order, 3, run);
  EXPECT_TRUE(run.result);  // every error was let pass
  ASSERT_EQ(run.errors.size(), Tree().size());
  EXPECT_EQ(LogEntries(), static_cast<int>(Tree().size()));
  for (const auto& m : run.errors) {
    bool noItem = m.find("\r错误信息：\r对象变量未设置") != std::string::npos;
    bool noParent = m.find(" 的上级代码出现错误！") != std::string::npos;
    EXPECT_TRUE(noItem || noParent) << m;
  }
  auto after = Items(ledger, 2);
  for (const auto& [number, item] : before) EXPECT_EQ(after[number].name, item.name);
}

INSTANTIATE_TEST_SUITE_P(Styles, TreeReimport,
                         ::testing::Combine(::testing::Values(1, 2),
                                            ::testing::Values(Order::File, Order::Reverse, Order::Shuffle1)));

}  // namespace
}  // namespace morvent::test
