#include "cli/interrupt.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include <iostream>
#else
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace dbsetup::cli {

namespace {

// The state the handlers touch: lock-free atomics and plain descriptors only.
std::atomic<int> g_interrupts{0};
std::atomic<bool> g_terminal_saved{false};
std::atomic<int> g_settled{-1};  // the status a later interrupt ends with

std::mutex g_mutex;  // guards g_cancel and g_fired
std::function<void()> g_cancel;
bool g_fired = false;

// The watcher's part of the first interrupt.
void fire() {
  std::lock_guard lock(g_mutex);
  g_fired = true;
  if (g_cancel) g_cancel();
}

#ifdef _WIN32
DWORD g_console_mode = 0;

BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (g_interrupts.fetch_add(1) > 0) {
    if (g_terminal_saved) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), g_console_mode);
    TerminateProcess(GetCurrentProcess(), g_settled >= 0 ? g_settled.load() : 130);
  }
  // The system runs this handler on a thread of its own: it is the watcher.
  fire();
  return TRUE;
}
#else
int g_wake[2] = {-1, -1};    // the handler wakes the watcher through it
int g_notify[2] = {-1, -1};  // never read: readable once an interrupt came
termios g_terminal{};

extern "C" void on_signal(int signal_number) {
  const int saved_errno = errno;
  if (g_interrupts.fetch_add(1) > 0) {
    if (g_terminal_saved) tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal);
    if (const int settled = g_settled.load(); settled >= 0) _exit(settled);
    // Delivered with its default action as soon as this handler returns.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
  } else {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_notify[1], &byte, 1);
    n = ::write(g_wake[1], &byte, 1);
  }
  errno = saved_errno;
}

void watch() {
  char byte;
  while (::read(g_wake[0], &byte, 1) < 0 && errno == EINTR) {
  }
  fire();
}
#endif

}  // namespace

Interrupts::Interrupts() {
#ifdef _WIN32
  SetConsoleCtrlHandler(&on_console_event, TRUE);
#else
  if (::pipe2(g_wake, O_CLOEXEC) != 0 || ::pipe2(g_notify, O_CLOEXEC | O_NONBLOCK) != 0) return;
  std::thread(&watch).detach();
  struct sigaction action {};
  action.sa_handler = &on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

Interrupts& Interrupts::install() {
  // Never destroyed: the watcher and the handlers may outlive main().
  static Interrupts* instance = new Interrupts();
  return *instance;
}

bool Interrupts::requested() const { return g_interrupts.load() > 0; }

void Interrupts::end_now(int status) {
#ifdef _WIN32
  if (g_terminal_saved) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), g_console_mode);
#else
  if (g_terminal_saved) tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal);
#endif
  // No exit handlers: another thread may be in the middle of the install.
  std::_Exit(status);
}

void Interrupts::settle(int status) { g_settled = status; }

void Interrupts::on_interrupt(std::function<void()> cancel) {
  std::lock_guard lock(g_mutex);
  if (g_fired && cancel) cancel();
  g_cancel = std::move(cancel);
}

std::optional<std::string> Interrupts::read_line() {
  std::string line;
#ifdef _WIN32
  // Ctrl-C ends a console read early, with nothing read.
  const bool got = static_cast<bool>(std::getline(std::cin, line));
  if (!got || requested()) return std::nullopt;
#else
  for (;;) {
    if (requested()) return std::nullopt;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_notify[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (fds[1].revents != 0) return std::nullopt;
    if (fds[0].revents == 0) continue;
    char c;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (line.empty()) return std::nullopt;
      break;
    }
    if (c == '\n') break;
    line.push_back(c);
  }
#endif
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

Interrupts::QuietTerminal::QuietTerminal() {
#ifdef _WIN32
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (!GetConsoleMode(in, &g_console_mode)) return;
  g_terminal_saved = true;
  changed_ = SetConsoleMode(in, g_console_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
#else
  if (tcgetattr(STDIN_FILENO, &g_terminal) != 0) return;
  g_terminal_saved = true;
  termios quiet = g_terminal;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  changed_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
#endif
}

Interrupts::QuietTerminal::~QuietTerminal() {
  if (changed_) {
#ifdef _WIN32
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), g_console_mode);
#else
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_terminal);
#endif
  }
  g_terminal_saved = false;
}

}  // namespace dbsetup::cli
