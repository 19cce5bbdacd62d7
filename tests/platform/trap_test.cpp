// The error trap: how a failure becomes the client's error event, and how
// the client's answer stops or resumes the operation.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "front/trap.h"
#include "platform/error.h"

namespace morvent {
namespace {

// A client that answers every error event the same way and remembers them.
struct Client {
  bool cancel = true;
  std::vector<std::string> events;
  ErrorTrap::Raiser Raiser() {
    return [this](const std::string& message) {
      events.push_back(message);
      return cancel;
    };
  }
};

const Error kFailure(kAppErrorBase + 1, "PreImport", "币别代码不能为空");

TEST(ErrorTrap, MessageIsPrefixNameAndDescriptionSeparatedByCarriageReturns) {
  Client client;
  ErrorTrap trap("导出币别时出错：", [] { return std::string("人民币"); }, client.Raiser());
  EXPECT_EQ(trap.Compose(kFailure), "导出币别时出错：人民币\r错误信息：\r币别代码不能为空");
}

TEST(ErrorTrap, CancelLeftTrueStopsTheOperation) {
  Client client;
  ErrorTrap trap("导入币别时出错：", [] { return std::string("美元"); }, client.Raiser());
  bool afterThrow = false;
  EXPECT_FALSE(trap.Run([&] {
    throw kFailure;
    afterThrow = true;
  }));
  EXPECT_FALSE(afterThrow);
  EXPECT_EQ(client.events, std::vector<std::string>{"导入币别时出错：美元\r错误信息：\r币别代码不能为空"});
}

TEST(ErrorTrap, CancelClearedResumesWithTheNextStep) {
  Client client;
  client.cancel = false;
  ErrorTrap trap("P：", [] { return std::string("N"); }, client.Raiser());
  std::vector<int> done;
  for (int step = 1; step <= 3; ++step)
    ASSERT_TRUE(trap.Run([&] {
      if (step == 2) throw std::runtime_error("second step failed");
      done.push_back(step);
    }));
  EXPECT_EQ(done, (std::vector<int>{1, 3}));
  EXPECT_EQ(client.events, std::vector<std::string>{"P：N\r错误信息：\rsecond step failed"});
}

TEST(ErrorTrap, AStepThatSucceedsRaisesNothing) {
  Client client;
  ErrorTrap trap("P：", [] { return std::string("N"); }, client.Raiser());
  EXPECT_TRUE(trap.Run([] {}));
  EXPECT_TRUE(client.events.empty());
}

TEST(ErrorTrap, ConditionsAnswerPlainlyWhenTheyDoNotFail) {
  Client client;
  ErrorTrap trap("P：", [] { return std::string("N"); }, client.Raiser());
  EXPECT_EQ(trap.Test([] { return true; }), std::optional<bool>(true));
  EXPECT_EQ(trap.Test([] { return false; }), std::optional<bool>(false));
  EXPECT_TRUE(client.events.empty());
}

TEST(ErrorTrap, AFailingConditionLetPassEntersTheGuardedBranch) {
  Client client;
  client.cancel = false;
  ErrorTrap trap("P：", [] { return std::string("N"); }, client.Raiser());
  EXPECT_EQ(trap.Test([]() -> bool { throw kFailure; }), std::optional<bool>(true));
  EXPECT_EQ(client.events.size(), 1u);
}

TEST(ErrorTrap, AFailingConditionLeftCancelledStops) {
  Client client;
  ErrorTrap trap("P：", [] { return std::string("N"); }, client.Raiser());
  EXPECT_EQ(trap.Test([]() -> bool { throw kFailure; }), std::nullopt);
  EXPECT_EQ(client.events.size(), 1u);
}

TEST(ErrorTrap, TheNameIsReadAtTheTimeOfTheFailure) {
  Client client;
  client.cancel = false;
  std::string current = "第一条";
  ErrorTrap trap("P：", [&] { return current; }, client.Raiser());
  ASSERT_TRUE(trap.Run([] { throw kFailure; }));
  current = "第二条";
  ASSERT_TRUE(trap.Run([] { throw kFailure; }));
  ASSERT_EQ(client.events.size(), 2u);
  EXPECT_EQ(client.events[0].rfind("P：第一条\r", 0), 0u);
  EXPECT_EQ(client.events[1].rfind("P：第二条\r", 0), 0u);
}

TEST(ErrorTrap, AFailingNameReaderLetsTheFailureEscapeWithoutAnEvent) {
  Client client;
  client.cancel = false;
  ErrorTrap trap("P：", []() -> std::string { throw Error(kErrObjectNotSet, "Morvent", "对象变量未设置"); },
                 client.Raiser());
  const Error cannotCreate(kErrCannotCreate, "Morvent", "部件不能创建对象：Corabin.AccountSet");
  for (int form = 0; form < 2; ++form) {
    SCOPED_TRACE(form == 0 ? "step" : "condition");
    try {
      if (form == 0)
        (void)trap.Run([&] { throw cannotCreate; });
      else
        (void)trap.Test([&]() -> bool { throw cannotCreate; });
      FAIL() << "the failure was trapped";
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), kErrCannotCreate);
      EXPECT_EQ(e.Description(), "部件不能创建对象：Corabin.AccountSet");
    }
  }
  EXPECT_TRUE(client.events.empty());
}

TEST(ErrorTrap, AForeignFailureEscapesAsAnError) {
  Client client;
  ErrorTrap trap("P：", []() -> std::string { throw std::out_of_range("no row"); }, client.Raiser());
  try {
    (void)trap.Run([] { throw std::runtime_error("disk full"); });
    FAIL() << "the failure was trapped";
  } catch (const Error& e) {
    EXPECT_EQ(e.Description(), "disk full");
  }
  EXPECT_TRUE(client.events.empty());
}

}  // namespace
}  // namespace morvent
