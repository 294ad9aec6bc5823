#pragma once

#include <string>

namespace dbsetup {

// The Windows shell's folder-browse dialog (SHBrowseForFolderW), modal to
// `owner_hwnd` (a native window handle, may be null), showing `caption`
// (UTF-8) as its instruction line. Only file-system folders can be
// confirmed. Returns the chosen folder's full path in UTF-8, or the empty
// string when the operator cancels. Available on Windows only.
std::string browseforfolder(void* owner_hwnd, const std::string& caption);

}  // namespace dbsetup
