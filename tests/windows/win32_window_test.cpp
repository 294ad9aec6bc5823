// The Win32 window in-process, on fakes; under Wine headless (the prefix's
// null graphics driver). What the opening shows is checked on the Qt window.

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "win32_window_harness.h"
#include "window/opening.h"

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
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  int checked = 0;
  for (auto parent :
       {layout::Parent::Window, layout::Parent::PageMss7, layout::Parent::PageMss2000}) {
    HWND parent_hwnd = parent == layout::Parent::Window     ? h.window->hwnd()
                       : parent == layout::Parent::PageMss7 ? h.control("tabpage_mss7")
                                                            : h.control("tabpage_mss2000");
    for (const Control& c : layout::controls_of(parent)) {
      SCOPED_TRACE(c.name);
      ++checked;
      HWND w = h.control(c.name);
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(GetParent(w), parent_hwnd);
      EXPECT_EQ(class_name(w), kClassOf.at(c.kind));
      const LONG style = GetWindowLongW(w, GWL_STYLE);
      const LONG ex = GetWindowLongW(w, GWL_EXSTYLE);
      const bool has_text = c.kind == Kind::Static || c.kind == Kind::Group ||
                            c.kind == Kind::Edit || c.kind == Kind::Button;
      if (has_text) {
        EXPECT_EQ(narrow(window_text(w)), c.text);
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

      // Font: face, character set, point size and weight (a drop-down's on its
      // inner combo box, which also holds its list).
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
        EXPECT_EQ(std::lround(-lf.lfHeight * 72.0 / dpi), c.points);
        EXPECT_EQ(lf.lfWeight, (c.flags & layout::kBold) ? FW_BOLD : FW_NORMAL);
      }

      // Place: within a pixel of the conversion; the instance list as high
      // as stored when dropped.
      RECT r;
      GetWindowRect(w, &r);
      MapWindowPoints(nullptr, parent_hwnd, reinterpret_cast<POINT*>(&r), 2);
      const layout::PixelRect want = layout::to_pixels(c);
      EXPECT_LE(std::abs(r.left - want.x), 1);
      EXPECT_LE(std::abs(r.top - want.y), 1);
      EXPECT_LE(std::abs(r.right - r.left - want.width), 1);
      EXPECT_LE(std::abs(r.bottom - r.top - want.height), 1);
      if (c.kind == Kind::DropDown) {
        RECT dropped{};
        SendMessageW(inner, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
        EXPECT_LE(
            std::abs(dropped.bottom - dropped.top - layout::to_pixels_v(layout::kDroppedListUnits)),
            1)
            << dropped.bottom - dropped.top;
      }

      EXPECT_EQ((style & ES_PASSWORD) != 0 && c.kind == Kind::Edit,
                (c.flags & layout::kMasked) != 0);
      if (c.kind == Kind::Edit) {
        EXPECT_EQ((style & ES_READONLY) != 0,
                  (c.flags & (layout::kDisplay | layout::kNotTypeable)) != 0);
        EXPECT_EQ((ex & WS_EX_CLIENTEDGE) == 0, (c.flags & layout::kDisplay) != 0);
      }
      EXPECT_EQ(IsWindowEnabled(w) == FALSE, (c.flags & layout::kDisabled) != 0);
      EXPECT_EQ((style & WS_VISIBLE) == 0, (c.flags & layout::kHidden) != 0);
      EXPECT_EQ((style & WS_TABSTOP) != 0, c.tab > 0);
    }
  }
  EXPECT_EQ(checked, 51);

  // The window: client size, frame without minimise, maximise or sizing.
  RECT client;
  GetClientRect(h.window->hwnd(), &client);
  EXPECT_EQ(client.right, layout::kClientWidth);
  EXPECT_EQ(client.bottom, layout::kClientHeight);
  const LONG style = GetWindowLongW(h.window->hwnd(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
}

// The order itself is checked on the Qt window; here that the Tab key keeps
// to the layout's: the page's enabled controls, the command buttons, the tab
// control.
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
    EXPECT_EQ(tab_captions(h.control("tab_1")), std::vector<std::string>{e.caption});
    EXPECT_TRUE(GetWindowLongW(h.control(e.page), GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(GetWindowLongW(h.control(e.hidden), GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(narrow(window_text(h.window->hwnd())).rfind(display_name(), 0), 0u);

    std::vector<std::string> want;
    for (const Control* c : layout::tab_sequence(e.parent))
      if (!(c->flags & layout::kDisabled)) want.push_back(c->name);
    want.insert(want.end(), {"cb_dbsetup", "cb_exit", "tab_1", want.front()});
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
  int presses = 0;  // each runs the procedure from its first stage
  for (const char* name : {"sle_mss2000_servername", "tab_1", "pb_mss2000data_backupfile",
                           "ddplb_mss2000_instances", "cb_exit"}) {
    SCOPED_TRACE(name);
    HWND w = h.control(name);
    SetFocus(w);
    h.key(GetFocus(), VK_RETURN);
    ++presses;
    EXPECT_EQ(testing::logons(h.fake), presses);
    EXPECT_FALSE(h.window->closed());
    EXPECT_FALSE(h.window->busy());
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
  h.window->state().is_mss2000_instance = "unchanged";
  h.window->instance_select(2);
  EXPECT_EQ(h.window->instance_text(), "SHOP");
  EXPECT_EQ(h.window->state().is_mss2000_instance, "unchanged");

  h.window->instance_select(1);
  HWND inner = reinterpret_cast<HWND>(SendMessageW(combo, CBEM_GETCOMBOCONTROL, 0, 0));
  SetFocus(inner);
  h.key(inner, VK_DOWN);  // the operator picks the next entry
  EXPECT_EQ(h.window->instance_text(), "SHOP");
  EXPECT_EQ(h.window->state().is_mss2000_instance, "SHOP");
}

// A real MessageBoxW: a timer of this thread, which the box's modal loop
// runs, finds the box, reads its texts and its default button, and presses
// Enter in it.
struct BoxSeen {
  std::wstring title, text;
  int default_id = 0;
  bool pressed = false;
};
BoxSeen* g_box = nullptr;

BOOL CALLBACK find_box(HWND w, LPARAM) {
  if (class_name(w) != L"#32770" || !IsWindowVisible(w) || g_box->pressed) return TRUE;
  g_box->title = window_text(w);
  g_box->text = window_text(GetDlgItem(w, 0xFFFF));
  for (int id : {IDYES, IDNO})
    if ((GetWindowLongW(GetDlgItem(w, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
      g_box->default_id = id;
  g_box->pressed = true;
  HWND focus = GetFocus();
  PostMessageW(focus ? focus : w, WM_KEYDOWN, VK_RETURN, 1);
  return FALSE;
}

void CALLBACK on_tick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_box) EnumThreadWindows(GetCurrentThreadId(), find_box, 0);
}

TEST(Win32Window, RealMessageBoxHasTheDefaultButtonAsked) {
  WindowHarness h;
  h.window->message_box_hook = nullptr;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, on_tick);
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

}  // namespace
}  // namespace dbsetup
