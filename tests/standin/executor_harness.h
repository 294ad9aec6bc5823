// The executor on a server of its own, in a files root of its own, and a
// sink that records everything the executor sends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "executor.h"

namespace standin::harness {

struct Event {
  enum Kind { Message, Rows, Done } kind;
  ServerMessage message;
  ResultSet rows;
  uint8_t token = 0;
  uint16_t status = 0;
};

class RecordingSink : public Sink {
 public:
  std::vector<Event> events;
  std::function<bool()> on_wait;  // false: the client cancelled meanwhile

  void message(const ServerMessage& m) override { events.push_back({Event::Message, m, {}}); }
  void result_set(const ResultSet& rs) override { events.push_back({Event::Rows, {}, rs}); }
  void done(uint8_t token, uint16_t status, uint16_t, uint64_t) override {
    events.push_back({Event::Done, {}, {}, token, status});
  }
  void return_status(int32_t) override {}
  void return_value(uint16_t, const std::string&, int32_t) override {}
  void env_change(uint8_t, const std::string&, const std::string&) override {}
  void transaction_change(uint8_t, uint64_t) override {}
  void flush() override {}
  bool wait(std::chrono::milliseconds) override { return !on_wait || on_wait(); }

  std::vector<ServerMessage> messages() const {
    std::vector<ServerMessage> m;
    for (const auto& e : events)
      if (e.kind == Event::Message) m.push_back(e.message);
    return m;
  }
  // The numbers of the messages, or of the errors among them only.
  std::vector<int> numbers(bool errors_only = false) const {
    std::vector<int> n;
    for (const auto& m : messages())
      if (!errors_only || m.is_error()) n.push_back(m.number);
    return n;
  }
  std::vector<int> errors() const { return numbers(true); }
  std::string text(int number) const {
    for (const auto& m : messages())
      if (m.number == number) return m.text;
    return {};
  }
  // The first message's number and text; 0 and "" when there is none.
  std::pair<int, std::string> first() const {
    auto m = messages();
    return m.empty() ? std::pair(0, std::string()) : std::pair(m[0].number, m[0].text);
  }
  ServerMessage first_error() const {
    for (const auto& m : messages())
      if (m.is_error()) return m;
    return {};
  }
  std::vector<Row> rows() const {
    std::vector<Row> r;
    for (const auto& e : events)
      if (e.kind == Event::Rows) r.insert(r.end(), e.rows.rows.begin(), e.rows.rows.end());
    return r;
  }
  ResultSet first_set() const {
    for (const auto& e : events)
      if (e.kind == Event::Rows) return e.rows;
    return {};
  }
  // The column of that name in the first result set.
  Cell column(const std::string& name, size_t row = 0) const {
    ResultSet rs = first_set();
    for (size_t k = 0; k < rs.columns.size(); ++k)
      if (rs.columns[k].name == name && row < rs.rows.size()) return rs.rows[row][k];
    return std::string("<no such column>");
  }
  const Event& last() const { return events.back(); }
};

class ExecutorHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("standin-exec-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "." +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ + "/data");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  // A fresh server on those options, in the test's files root, with sa.
  void start(StateOptions o) {
    o.files_root = root_;
    state_ = std::make_unique<ServerState>(o);
    state_->add_login("sa", "SECRET", {"sysadmin"});
    executor_ = std::make_unique<Executor>(*state_, controls_);
  }

  // A batch of a session that is not registered as logged on.
  Outcome run_into(RecordingSink& sink, const std::string& sql, const std::string& login = "sa") {
    Session s{.spid = 99, .login = login, .prepared = {}};
    Outcome out;
    executor_->batch(s, sql, sink, out);
    return out;
  }
  RecordingSink run(const std::string& sql, const std::string& login = "sa") {
    RecordingSink sink;
    run_into(sink, sql, login);
    return sink;
  }

  // The installer's CREATE DATABASE of data and log files in `dir`.
  static std::string create_sql(const std::string& name, const std::string& dir, int size_mb = 1) {
    return "CREATE DATABASE [" + name + "]  ON PRIMARY (NAME = N'" + name +
           "_data', FILENAME = N'" + dir + name + "_Data.MDF' , SIZE = " + std::to_string(size_mb) +
           ", FILEGROWTH = 10%) LOG ON (NAME = N'" + name + "_log', FILENAME = N'" + dir + name +
           "_Log.LDF' , SIZE = 1, FILEGROWTH = 10%)";
  }

  std::string root_;
  Controls controls_;
  std::unique_ptr<ServerState> state_;
  std::unique_ptr<Executor> executor_;
};

}  // namespace standin::harness
