#include "app/transaction.h"

#include <utility>

namespace dbsetup {

namespace {
constexpr const char* kNoClient = "没有可用的数据库客户端";  // no database client available
constexpr const char* kCancelled = "操作已被中断";           // the operation was interrupted
}  // namespace

Transaction::Transaction(std::unique_ptr<DbClient> backend) { set_backend(std::move(backend)); }

Transaction::~Transaction() {
  if (backend_ && connected_) backend_->disconnect();
}

void Transaction::set_backend(std::unique_ptr<DbClient> backend) {
  if (backend_ && connected_) backend_->disconnect();
  connected_ = false;
  backend_ = std::move(backend);
  if (backend_) backend_->set_message_handler(handler_);
}

void Transaction::set_message_handler(DbMessageHandler handler) {
  handler_ = std::move(handler);
  if (backend_) backend_->set_message_handler(handler_);
}

void Transaction::cancel() {
  cancelled_ = true;
  if (backend_) backend_->cancel();
}

bool Transaction::ready() {
  if (!backend_)
    take(DbResult::failure(0, kNoClient));
  else if (cancelled_)
    take(DbResult::failure(0, kCancelled));
  return backend_ && !cancelled_;
}

void Transaction::take(const DbResult& result) {
  sqlcode = result.code;
  sqldbcode = result.native_error;
  sqlerrtext = result.text;
  sqlunreachable = result.unreachable;
}

void Transaction::connect() {
  if (!ready()) return;
  DbLogon logon{dbms, servername, database, logid, logpass, autocommit, dbparm};
  DbResult result = backend_->connect(logon);
  connected_ = result.code == 0;
  take(result);
}

void Transaction::disconnect() {
  if (!backend_) return take(DbResult::ok());
  take(backend_->disconnect());
  connected_ = false;
}

void Transaction::execute_immediate(const std::string& sql) {
  if (!ready()) return;
  take(backend_->execute(sql));
}

void Transaction::select_one(const std::string& sql, const std::string& param, std::string& value) {
  if (!ready()) return;
  std::string fetched;
  DbResult result = backend_->query_one(sql, param, fetched);
  if (result.code == 0) value = fetched;
  take(result);
}

void Transaction::select_rows(const std::string& sql, DbTable& table) {
  table = {};
  if (!ready()) return;
  take(backend_->query_rows(sql, table));
}

std::string Transaction::server_version() {
  return backend_ && connected_ ? backend_->server_version() : std::string();
}

}  // namespace dbsetup
