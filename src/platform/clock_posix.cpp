#include <ctime>

#include "platform/clock.h"

namespace dbsetup {

namespace {

class PosixClock final : public Clock {
 public:
  LocalTime now() override {
    const std::time_t t = std::time(nullptr);
    std::tm parts{};
    localtime_r(&t, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
            parts.tm_hour,        parts.tm_min,     parts.tm_sec};
  }
};

}  // namespace

std::unique_ptr<Clock> make_system_clock() { return std::make_unique<PosixClock>(); }

}  // namespace dbsetup
