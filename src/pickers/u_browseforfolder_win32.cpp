#include "pickers/u_browseforfolder.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the shell headers rely on its types.
#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace dbsetup {

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string narrow(const wchar_t* text) {
  int len = static_cast<int>(wcslen(text));
  if (len == 0) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text, len, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, len, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::string browseforfolder(void* owner_hwnd, const std::string& caption) {
  // The shell dialog needs COM on this thread; the window toolkit has usually
  // set it up already, in which case this only counts a reference.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  std::wstring title = widen(caption);
  BROWSEINFOW bi{};
  bi.hwndOwner = static_cast<HWND>(owner_hwnd);
  bi.pidlRoot = nullptr;  // the desktop
  bi.pszDisplayName = nullptr;
  bi.lpszTitle = title.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  bi.lpfn = nullptr;
  bi.lParam = 0;

  std::string result;
  PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi);
  if (pidl != nullptr) {
    // At least MAX_PATH characters; the shell writes a NUL-terminated path.
    wchar_t path[512] = {};
    if (SHGetPathFromIDListW(pidl, path)) result = narrow(path);
    CoTaskMemFree(pidl);
  }

  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

}  // namespace dbsetup
