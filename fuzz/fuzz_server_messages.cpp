// The ODBC client's handling of what the server and the driver report, on
// made-up diagnostic records: each record's text arrives as UTF-16 and loses
// its driver prefixes and line ends as the client reads it; the records of
// each step go through Outcome (informational ones to the message handler at
// once, the rest into the result); and every message the handler gets is
// looked at for a restore percentage, as the install procedure does.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "install/progress.h"
#include "platform/codepage.h"
#include "platform/odbc_text.h"

namespace {

using dbsetup::odbc::Diagnostic;

const char* const kStates[] = {"01000", "00000", "IM006", "01S02", "42000",
                               "08S01", "HYT01", "HY000", "37000", "08001"};

void check_percent(std::string_view text) {
  if (auto percent = dbsetup::restore_percent(text)) FUZZ_CHECK(*percent >= 0 && *percent <= 100);
}

// The text of one record as the client reads it from the driver.
std::string record_text(FuzzedDataProvider& in) {
  std::string raw = in.ConsumeRandomLengthString(600);
  std::u16string units;
  for (std::size_t i = 0; i + 1 < raw.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                          (static_cast<unsigned char>(raw[i + 1]) << 8)));
  const std::string full = dbsetup::utf16_to_utf8(units);
  std::string text = dbsetup::odbc::strip_driver_prefixes(full);
  // Only a leading part comes off.
  FUZZ_CHECK(text.size() <= full.size() &&
             full.compare(full.size() - text.size(), text.size(), text) == 0);
  if (full.empty() || full[0] != '[') FUZZ_CHECK(text == full);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  check_percent(full);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int32_t success = in.ConsumeBool() ? 100 : 0;
  std::vector<std::string> delivered;
  dbsetup::DbMessageHandler handler = [&delivered](const dbsetup::DbMessage& m) {
    FUZZ_CHECK(!m.text.empty());
    check_percent(m.text);
    delivered.push_back(m.text);
  };
  dbsetup::odbc::Outcome outcome(&handler);
  bool any_driver_error = false;
  std::size_t informational = 0;
  while (in.remaining_bytes() > 0) {
    const bool driver_error = in.ConsumeBool();
    any_driver_error = any_driver_error || driver_error;
    std::vector<Diagnostic> diags(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (Diagnostic& d : diags) {
      d.state =
          in.ConsumeBool() ? std::string(in.PickValueInArray(kStates)) : in.ConsumeBytesAsString(5);
      d.native = in.ConsumeIntegral<int32_t>();
      d.severity = in.ConsumeIntegralInRange<int32_t>(-1, 25);
      d.text = record_text(in);
      if (dbsetup::odbc::is_informational(d)) ++informational;
    }
    outcome.step(driver_error, diags);
  }
  FUZZ_CHECK(delivered.size() <= informational);

  const dbsetup::DbResult result = outcome.result(success);
  if (any_driver_error || outcome.connection_lost()) FUZZ_CHECK(outcome.failed());
  if (outcome.failed()) {
    FUZZ_CHECK(result.code == -1 && !result.text.empty());
  } else {
    FUZZ_CHECK(result.code == success && result.native_error == 0 && result.text.empty());
  }
  return 0;
}
