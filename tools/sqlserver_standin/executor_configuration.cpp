// Server configuration: sp_configure and RECONFIGURE.

#include "executor_internal.h"

namespace standin::detail {

Result Request::run(const Reconfigure&, const Params&) {
  std::lock_guard<std::mutex> lock(st_.mutex);
  if (!st_.has_role(s_.login, "serveradmin")) {
    emit(sql_message(5812, 14, 1, "You do not have permission to run the RECONFIGURE statement."));
    return {};
  }
  if (s_.trancount > 0) {
    emit(
        sql_message(574, 16, 0, "RECONFIGURE statement cannot be used inside a user transaction."));
    return {};
  }
  for (auto& o : st_.options()) o.running = o.value;
  st_.save();
  return {};
}

int Request::sp_configure(const std::optional<std::string>& name,
                          const std::optional<std::string>& value) {
  const std::string proc = "sp_configure";
  std::lock_guard<std::mutex> lock(st_.mutex);
  ResultSet rs;
  {
    Column n;
    n.name = "name";
    n.max_chars = 35;
    Column mn, mx, cv, rv;
    mn.name = "minimum";
    mx.name = "maximum";
    cv.name = "config_value";
    rv.name = "run_value";
    rs.columns = {n, mn, mx, cv, rv};
  }
  auto row = [](const ConfigOption& o) {
    return Row{o.name, o.minimum, o.maximum, o.value, o.running};
  };
  if (!name) {
    for (const auto& o : st_.options()) rs.rows.push_back(row(o));
    emit_rows(rs);
    sink_.done(kTokDoneInProc, kDoneMore | kDoneCount, kCmdSelect, rs.rows.size());
    return 0;
  }
  ConfigOption* o = st_.find_option(*name);
  if (!o) {
    emit(sql_message(15123, 16, 1,
                     "The configuration option " + q(*name) +
                         " does not exist, or it may be an advanced option.",
                     proc, 62));
    return 1;
  }
  if (!value) {
    rs.rows.push_back(row(*o));
    emit_rows(rs);
    sink_.done(kTokDoneInProc, kDoneMore | kDoneCount, kCmdSelect, 1);
    return 0;
  }
  if (!st_.has_role(s_.login, "serveradmin")) {
    emit(sql_message(15247, 16, 1, "User does not have permission to perform this action.", proc,
                     94));
    return 1;
  }
  int64_t v = 0;
  try {
    size_t used = 0;
    v = std::stoll(*value, &used);
    if (used != value->size()) throw std::invalid_argument("not a number");
  } catch (...) {
    emit(sql_message(8114, 16, 1, "Error converting data type varchar to int.", proc, 0));
    return 1;
  }
  if (v < o->minimum || v > o->maximum) {
    emit(sql_message(
        15129, 16, 1,
        q(std::to_string(v)) + " is not a valid value for configuration option " + q(o->name) + ".",
        proc, 151));
    return 1;
  }
  int64_t before = o->value;
  o->value = v;
  st_.save();
  emit(sql_message(15457, 0, 1,
                   "Configuration option " + q(o->name) + " changed from " +
                       std::to_string(before) + " to " + std::to_string(v) +
                       ". Run the RECONFIGURE statement to install.",
                   proc, 301));
  return 0;
}

}  // namespace standin::detail
