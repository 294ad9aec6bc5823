#pragma once

#include <exception>
#include <functional>
#include <thread>

namespace dbsetup {

// The common part of a window's run_blocking(): `work` runs on a worker thread
// while `wait` runs on the window's thread, handling the window's messages
// until the worker has called `finished` (it does so once the work returned or
// threw). A failure of the work is thrown again to the caller.
template <class Finished, class Wait>
void run_on_worker(const std::function<void()>& work, Finished finished, Wait wait) {
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    finished();
  });
  wait();
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace dbsetup
