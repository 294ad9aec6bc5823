// The server address as the operator types it, into --server or into the
// window's address field: the forms SQL Server's clients know reach the
// logon as typed, anything else is refused before anything is sent.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "install/install_rig.h"

namespace dbsetup {
namespace {

struct Address {
  std::string text;
  const char* part;  // what the explanation names as wrong; nullptr: accepted
};

// clang-format off
const std::vector<Address> kAddresses = {
    {"127.0.0.1", nullptr}, {"127.0.0.1,1433", nullptr}, {"tcp:db-1.example,1", nullptr},
    {"dbhost\\SHOP,14330", nullptr}, {" dbhost , 1433 ", nullptr}, {".", nullptr},
    {"(local)\\SQL2000", nullptr}, {"MY_PC\\Inst$2", nullptr}, {"收银台\\商店1", nullptr},
    {"fe80::1,1433", nullptr},
    // The mistyped ports that went to the default instance instead.
    {"127.0.0.1,14330x", "端口"}, {"127.0.0.1,14330,", "逗号"}, {"127.0.0.1,+14330", "端口"},
    {"127.0.0.1,１４３３０", "端口"}, {"127.0.0.1,0", "端口"}, {"127.0.0.1,01433", "端口"},
    {"127.0.0.1，14330", "主机名"} /* a full-width comma */, {"", "为空"}, {",1433", "主机名"},
    {"dbhost,1433\\SHOP", "实例名"}, {"dbhost\\", "实例名"}, {"dbhost\\SHOP\\X", "反斜杠"},
    {"dbhost\\_SHOP", "实例名"}, {"dbhost\\1SHOP", "实例名"}, {"dbhost\\SHOP-1", "实例名"},
    {"dbhost\\ABCDEFGHIJKLMNOPQ", "实例名"} /* 17 characters */, {"127.0.0.256", "主机名"},
    {"127.0.0.010", "主机名"} /* octal to some resolvers */, {"12345", "主机名"},
    {"db host", "主机名"}, {"np:dbhost", "主机名"}, {std::string("dbhost\x01", 7), "主机名"},
};
// clang-format on

TEST(ServerAddress, OnlyTheFormsOfSqlServersClientsReachTheLogon) {
  for (const Address& a : kAddresses) {
    SCOPED_TRACE("[" + a.text + "]");

    // The front end: a bad --server is a command line it cannot use.
    cli::Options options;
    const auto error = cli::parse({"--server", a.text}, options);
    if (a.part) {
      ASSERT_TRUE(error.has_value());
      EXPECT_NE(error->find("--server"), std::string::npos) << *error;
      EXPECT_NE(error->find("“" + a.text + "”"), std::string::npos) << *error;
      EXPECT_NE(error->find(a.part), std::string::npos) << *error;
    } else {
      EXPECT_FALSE(error.has_value()) << *error;
    }

    // The window's procedure, both editions.
    for (bool seven : {false, true}) {
      SCOPED_TRACE(seven ? "mss7" : "mss2000");
      Rig p(seven);
      p.answer_all(kYes);
      p.fields().server = a.text;
      const int code = p.run();
      const std::vector<DbCall>& calls = p.fake.script->calls;
      ASSERT_FALSE(calls.empty());
      if (!a.part) {
        EXPECT_EQ(calls.front().kind, DbCall::Connect);
        EXPECT_EQ(calls.front().logon.server, a.text);  // as typed
        continue;
      }
      EXPECT_EQ(code, -1);
      ASSERT_EQ(calls.size(), 1u);  // nothing but the failure exit's logoff
      EXPECT_EQ(calls.front().kind, DbCall::Disconnect);
      const auto boxes = p.ui.message_boxes();
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].control, kAppName);
      const std::string head = "连接数据库失败!\r\n\n错误信息:";
      EXPECT_EQ(boxes[0].value.substr(0, head.size()), head);
      EXPECT_EQ(boxes[0].value.substr(head.size()), error.value_or("?").substr(10));
      EXPECT_EQ(p.ui.statuses(), std::vector<std::string>{"连接数据库失败!"});
    }
  }
}

}  // namespace
}  // namespace dbsetup
