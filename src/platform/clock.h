#pragma once

#include <memory>

namespace dbsetup {

// A moment of the workstation's local time.
struct LocalTime {
  int year = 0;   // four digits
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The workstation's clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime now() = 0;
};

// This system's clock (defined per platform).
std::unique_ptr<Clock> make_system_clock();

}  // namespace dbsetup
