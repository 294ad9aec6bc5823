#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/clock.h"

namespace dbsetup {

namespace {

class Win32Clock final : public Clock {
 public:
  LocalTime now() override {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
  }
};

}  // namespace

std::unique_ptr<Clock> make_system_clock() { return std::make_unique<Win32Clock>(); }

}  // namespace dbsetup
