#pragma once

// Helpers of the Windows backend tests: running a console program of the
// system (reg.exe) with a time limit, and folders of the test's own.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace dbsetup::testing {

// Runs `command_line` (UTF-8) and returns its exit status; -1 when it could
// not be started, -2 when it did not end within `timeout_ms` (it is then
// terminated).
inline int run_program(const std::string& command_line, DWORD timeout_ms = 60000) {
  std::wstring line = widen(command_line);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  int status = -2;
  if (WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    status = static_cast<int>(code);
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

// Creates every missing folder of `path` (UTF-8, absolute, any length).
inline bool make_folders(const std::string& path) {
  std::wstring wide = widen(path);
  for (std::size_t i = 3; i <= wide.size(); ++i) {
    if (i < wide.size() && wide[i] != L'\\') continue;
    std::wstring part = L"\\\\?\\" + wide.substr(0, i);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return true;
}

// Writes `bytes` to the file at `path` (UTF-8, absolute, any length).
inline bool write_file(const std::string& path, std::string_view bytes) {
  std::wstring wide = L"\\\\?\\" + widen(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

// Removes a folder and everything below it.
inline void remove_tree(const std::wstring& path) {
  std::wstring prefixed = path.rfind(L"\\\\?\\", 0) == 0 ? path : L"\\\\?\\" + path;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((prefixed + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = prefixed + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(child);
      else
        DeleteFileW(child.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(prefixed.c_str());
}

}  // namespace dbsetup::testing
