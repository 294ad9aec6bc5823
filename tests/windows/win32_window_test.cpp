// The Win32 window in-process, on fakes; under Wine headless (the prefix's
// null graphics driver). What the opening shows is checked on the Qt window.

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "app/application.h"
#include "detect/opening.h"
#include "win32_layout_check.h"
#include "win32_window_harness.h"
#include "window/layout_walk.h"

namespace dbsetup {
namespace {

using layout::Control;
using layout::Kind;
using testing::class_name;
using testing::tab_captions;
using testing::window_text;
using testing::WindowHarness;

const std::map<Kind, std::wstring> kClassOf = {
    {Kind::Static, L"Static"},        {Kind::Picture, L"Static"},
    {Kind::Group, L"Button"},         {Kind::PictureButton, L"Button"},
    {Kind::Button, L"Button"},        {Kind::Edit, L"Edit"},
    {Kind::DropDown, WC_COMBOBOXEXW}, {Kind::Tab, WC_TABCONTROLW},
    {Kind::Progress, PROGRESS_CLASSW}};

TEST(Win32Window, EveryControlAsTheLayoutDescribesIt) {
  WindowHarness h;
  testing::for_each_control([&](const char* page, const Control& c) {
    HWND w = h.control(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(GetParent(w), page ? h.control(page) : h.window->hwnd());
    EXPECT_EQ(class_name(w), kClassOf.at(c.kind));
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    const LONG ex = GetWindowLongW(w, GWL_EXSTYLE);
    if (c.kind == Kind::Static || c.kind == Kind::Group || c.kind == Kind::Edit ||
        c.kind == Kind::Button) {
      EXPECT_EQ(narrow(window_text(w)), testing::initial_text(c));
    }

    // Kind details: group boxes, pictures, the default button.
    if (c.kind == Kind::Group) {
      EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
    } else if (c.kind == Kind::Picture) {
      EXPECT_NE(SendMessageW(w, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
    } else if (c.kind == Kind::PictureButton) {
      EXPECT_NE(SendMessageW(w, BM_GETIMAGE, IMAGE_BITMAP, 0), 0);
    } else if (c.kind == Kind::Button) {
      EXPECT_EQ(style & BS_TYPEMASK,
                (c.flags & layout::kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    }

    // Font: face, character set and weight (a drop-down's on its inner
    // combo box, which also holds its list); size and place at every DPI
    // below.
    HWND inner = c.kind == Kind::DropDown
                     ? reinterpret_cast<HWND>(SendMessageW(w, CBEM_GETCOMBOCONTROL, 0, 0))
                     : w;
    if (c.face != layout::Face::None) {
      LOGFONTW lf{};
      auto font = reinterpret_cast<HFONT>(SendMessageW(inner, WM_GETFONT, 0, 0));
      ASSERT_NE(font, nullptr);
      GetObjectW(font, sizeof(lf), &lf);
      const layout::FaceSpec& face = layout::face_spec(c.face);
      EXPECT_EQ(narrow(lf.lfFaceName), face.name);
      EXPECT_EQ(lf.lfCharSet, static_cast<BYTE>(face.charset));
      EXPECT_EQ(lf.lfWeight, (c.flags & layout::kBold) ? FW_BOLD : FW_NORMAL);
    }

    EXPECT_EQ((style & ES_PASSWORD) != 0 && c.kind == Kind::Edit, (c.flags & layout::kMasked) != 0);
    if (c.kind == Kind::Edit) {
      EXPECT_EQ((style & ES_READONLY) != 0,
                (c.flags & (layout::kDisplay | layout::kNotTypeable)) != 0);
      EXPECT_EQ((ex & WS_EX_CLIENTEDGE) == 0, (c.flags & layout::kDisplay) != 0);
    }
    EXPECT_EQ(IsWindowEnabled(w) == FALSE, (c.flags & layout::kDisabled) != 0);
    EXPECT_EQ((style & WS_VISIBLE) == 0, (c.flags & layout::kHidden) != 0);
    EXPECT_EQ((style & WS_TABSTOP) != 0, c.tab > 0);
  });

  // The window: frame without minimise, maximise or sizing.
  const LONG style = GetWindowLongW(h.window->hwnd(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
}

// Moved onto monitors of 120, 144, 192 and again 96 dpi, the window is laid
// out anew each time (both pages: the hidden one too): places, fonts, texts
// and client area; the size it asks for beforehand is the size it takes.
TEST(Win32Window, LaidOutAgainAtEveryDpi) {
  WindowHarness h;
  h.open("mss2000");
  testing::expect_laid_out(*h.window, h.window->dpi());
  for (int dpi : {120, 144, 192, 96}) {
    SIZE asked{0, 0};
    EXPECT_TRUE(
        SendMessageW(h.window->hwnd(), WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&asked)));
    RECT suggested;
    GetWindowRect(h.window->hwnd(), &suggested);
    suggested.right = suggested.left + asked.cx;
    suggested.bottom = suggested.top + asked.cy;
    SendMessageW(h.window->hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    testing::expect_laid_out(*h.window, dpi);
    RECT now;
    GetWindowRect(h.window->hwnd(), &now);
    EXPECT_TRUE(now.left == suggested.left && now.top == suggested.top);
  }
}

// The install button is greyed while the procedure runs (seen from inside
// its message box; the focus has gone on to the next button) and available
// again after a failure, with the focus on the field the failure concerns
// (here the backup file).
TEST(Win32Window, TheInstallButtonIsGreyedWhileTheProcedureRuns) {
  WindowHarness h;
  h.open("mss2000");
  h.fake.on("HEADERONLY", DbResult::failure(3201, "Cannot open backup device."));
  HWND button = h.control("cb_dbsetup");
  std::string during;
  h.on_box = [&] {
    during = (IsWindowEnabled(button) ? "enabled " : "greyed ") + h.window->name_of(GetFocus());
  };
  SendMessageW(button, BM_CLICK, 0, 0);  // the mouse's click, which focuses it
  testing::pump();
  EXPECT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(during, "greyed cb_exit");
  EXPECT_TRUE(IsWindowEnabled(button));
  EXPECT_EQ(h.window->name_of(GetFocus()), "sle_mss2000data_backupfile");
}

// The Tab key keeps to the layout's round (layout_walk.h), as on the Qt window.
TEST(Win32Window, EachEditionShowsOnlyItsPageAndTabsInItsOrder) {
  struct Case {
    const char *edition, *page, *hidden, *caption;
    layout::Parent parent;
  };
  for (const Case& e :
       {Case{"mss2000", "tabpage_mss2000", "tabpage_mss7", "MSS2000", layout::Parent::PageMss2000},
        Case{"mss7", "tabpage_mss7", "tabpage_mss2000", "MSS7.0", layout::Parent::PageMss7}}) {
    SCOPED_TRACE(e.edition);
    WindowHarness h;
    // The stored state, before opening: only the SQL Server 2000 page.
    EXPECT_EQ(tab_captions(h.control("tab_1")), std::vector<std::string>{"MSS2000"});
    h.open(e.edition);
    // The one field the operator must type has the focus.
    EXPECT_EQ(h.window->name_of(GetFocus()), std::string("sle_") + e.edition + "_password");
    EXPECT_EQ(tab_captions(h.control("tab_1")), std::vector<std::string>{e.caption});
    EXPECT_TRUE(GetWindowLongW(h.control(e.page), GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(GetWindowLongW(h.control(e.hidden), GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(narrow(window_text(h.window->hwnd())).rfind(display_name(), 0), 0u);

    const std::vector<std::string> want = testing::tab_round(e.parent);
    SetFocus(h.control(want.front().c_str()));
    std::vector<std::string> seen;
    for (size_t i = 0; i < want.size(); ++i) {
      seen.push_back(h.window->name_of(GetFocus()));
      h.key(GetFocus(), VK_TAB);
    }
    EXPECT_EQ(seen, want);
  }
}

TEST(Win32Window, EnterInstallsFromAnyControlAndEscCloses) {
  WindowHarness h;
  h.open("mss2000");
  h.fake.on("CONNECT", DbResult::failure(18456, "Login failed for user 'sa'."));
  HWND password = h.control("sle_mss2000_password");
  h.window->set_text("sle_mss2000_password", "wrong");
  int presses = 0;  // each runs the procedure from its first stage
  for (const char* name : {"sle_mss2000_servername", "tab_1", "pb_mss2000data_backupfile",
                           "ddplb_mss2000_instances", "cb_exit", "sle_mss2000_password"}) {
    SCOPED_TRACE(name);
    HWND w = h.control(name);
    SetFocus(w);
    h.key(GetFocus(), VK_RETURN);
    ++presses;
    EXPECT_EQ(testing::logons(h.fake), presses);
    EXPECT_FALSE(h.window->closed());
    EXPECT_FALSE(h.window->busy());
    // The failed logon concerns the password: the focus is there, its whole
    // text selected; the install button is available again.
    EXPECT_EQ(GetFocus(), password);
    DWORD from = 9, to = 0;
    SendMessageW(password, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                 reinterpret_cast<LPARAM>(&to));
    EXPECT_TRUE(from == 0 && to == 5) << from << "-" << to;
    EXPECT_TRUE(IsWindowEnabled(h.control("cb_dbsetup")));
  }

  // The close box is ignored while the procedure runs: here from inside its
  // last message box.
  h.fake.script->rules.clear();
  h.fake.backup_holds("shop_data", "shop_log");
  h.on_box = [&] {
    SendMessageW(h.window->hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(h.window->closed());
  };
  h.key(h.control("sle_mss2000_userid"), VK_RETURN);
  EXPECT_EQ(h.boxes.back(), "数据库安装成功!");

  // After a successful install the button is greyed and Enter starts nothing.
  EXPECT_FALSE(IsWindowEnabled(h.control("cb_dbsetup")));
  const int logons = testing::logons(h.fake);
  h.key(h.control("sle_mss2000_userid"), VK_RETURN);
  EXPECT_EQ(testing::logons(h.fake), logons);

  h.key(h.control("sle_mss2000_userid"), VK_ESCAPE);
  EXPECT_TRUE(h.window->closed());
  EXPECT_EQ(h.closed, 1);
}

TEST(Win32Window, OnlyTheOperatorsChoiceOfInstanceRaisesTheHandler) {
  WindowHarness h;
  h.open("mss2000");  // the opening selects entry 1 from code
  HWND combo = h.control("ddplb_mss2000_instances");
  EXPECT_EQ(h.window->instance_count(), 2);
  EXPECT_EQ(h.window->instance_text(), "默认实例");
  h.window->form().is_mss2000_instance = "unchanged";
  h.window->instance_select(2);
  EXPECT_EQ(h.window->instance_text(), "SHOP");
  EXPECT_EQ(h.window->form().is_mss2000_instance, "unchanged");

  h.window->instance_select(1);
  HWND inner = reinterpret_cast<HWND>(SendMessageW(combo, CBEM_GETCOMBOCONTROL, 0, 0));
  SetFocus(inner);
  h.key(inner, VK_DOWN);  // the operator picks the next entry
  EXPECT_EQ(h.window->instance_text(), "SHOP");
  EXPECT_EQ(h.window->form().is_mss2000_instance, "SHOP");
}

// Real MessageBoxW boxes: a timer of this thread, which a box's modal loop
// runs, finds each box shown, notes its texts and its default button in
// g_box when that is set, and presses Enter in it.
struct BoxSeen {
  std::wstring title, text;
  int default_id = 0;
  bool pressed = false;
};
BoxSeen* g_box = nullptr;

void CALLBACK press_enter_in_boxes(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM) -> BOOL {
        if (class_name(w) != L"#32770" || !IsWindowVisible(w)) return TRUE;
        if (g_box) {
          g_box->title = window_text(w);
          g_box->text = window_text(GetDlgItem(w, 0xFFFF));
          for (int id : {IDYES, IDNO})
            if ((GetWindowLongW(GetDlgItem(w, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
              g_box->default_id = id;
          g_box->pressed = true;
        }
        HWND focus = GetFocus();
        PostMessageW(focus && IsChild(w, focus) ? focus : w, WM_KEYDOWN, VK_RETURN, 1);
        return TRUE;
      },
      0);
}

TEST(Win32Window, RealMessageBoxHasTheDefaultButtonAsked) {
  WindowHarness h;
  h.window->message_box_hook = nullptr;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, press_enter_in_boxes);
  for (int def : {kYes, kNo}) {
    BoxSeen seen;
    g_box = &seen;
    const int answer = h.window->message_box("系统严重警告", "数据库已存在!\r\n删除吗?",
                                             MsgIcon::Exclamation, MsgButtons::YesNo, def);
    EXPECT_TRUE(seen.pressed);
    EXPECT_EQ(answer, def);
    EXPECT_EQ(seen.default_id, def == kYes ? IDYES : IDNO);
    EXPECT_EQ(narrow(seen.title), "系统严重警告");
    EXPECT_NE(narrow(seen.text).find("数据库已存在!"), std::string::npos);
  }
  g_box = nullptr;
  KillTimer(nullptr, timer);
}

// With the system's own message boxes (the name's confirmation, then the
// failed logon), the focus comes back to the password field after each.
TEST(Win32Window, FocusComesBackAfterTheSystemsMessageBoxes) {
  WindowHarness h;
  h.open("mss7");
  h.window->message_box_hook = nullptr;
  h.window->set_text("sle_dbname", "shop");
  h.fake.on("CONNECT", DbResult::failure(18456, "Login failed for user 'sa'."));
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, press_enter_in_boxes);
  h.key(h.control("sle_mss7_password"), VK_RETURN);
  KillTimer(nullptr, timer);
  EXPECT_EQ(testing::logons(h.fake), 1);
  EXPECT_EQ(h.window->name_of(GetFocus()), "sle_mss7_password");
}

}  // namespace
}  // namespace dbsetup
