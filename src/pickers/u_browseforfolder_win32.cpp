#include "pickers/u_browseforfolder.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the shell headers rely on its types.
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "platform/codepage.h"

namespace dbsetup {

std::string u_browseforfolder::browseforfolder(WindowUi& awi_parent,
                                               const std::string& as_caption) {
  // The shell dialog needs COM on this thread; the window toolkit has usually
  // set it up already, in which case this only counts a reference.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  std::wstring title = widen(as_caption);
  BROWSEINFOW bi{};
  bi.hwndOwner = static_cast<HWND>(awi_parent.native_handle());
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
