#pragma once

// The setup window w_createdb as data: every control with its kind, text or
// picture, place, font, colour, tab order, parent and state, in creation
// order. The Qt window and the Win32 window both build themselves from these
// tables, so a text or a position changes here and nowhere else. The edit
// fields that show the install form (w_createdb_form.h) take their stored
// texts from it. No toolkit header may be included here.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dbsetup::layout {

enum class Kind { Static, Group, Picture, PictureButton, Edit, DropDown, Tab, Button, Progress };

// The two faces of the window and the character set each is asked for with.
enum class Face { None, Song, Arial };
enum class Charset : std::uint8_t { Ansi = 0, Gb2312 = 134 };
struct FaceSpec {
  const char* name;
  Charset charset;
  bool swiss;  // Swiss family (sans serif)
};
inline constexpr FaceSpec kSong{"宋体", Charset::Gb2312, false};
inline constexpr FaceSpec kArial{"Arial", Charset::Ansi, true};
inline constexpr const FaceSpec& face_spec(Face face) {
  return face == Face::Song ? kSong : kArial;
}

// Text colours other than the window-text colour.
enum class Colour { Default, Navy, Red };
struct Rgb {
  int r, g, b;
};
inline constexpr Rgb kNavy{0, 0, 128};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb colour_rgb(Colour c) { return c == Colour::Red ? kRed : kNavy; }

// States and looks of a control beyond its kind.
enum Flag : unsigned {
  kNone = 0,
  kBold = 1u << 0,
  kMasked = 1u << 1,       // password characters
  kDisplay = 1u << 2,      // display only: read-only, no border, button-face background
  kNotTypeable = 1u << 3,  // read-only with its border: changed by its picker only
  kDisabled = 1u << 4,
  kFieldLabel = 1u << 5,     // label of the field to its right: right-aligned
  kRule = 1u << 6,           // group box drawn as a horizontal rule
  kHidden = 1u << 7,         // not shown when the window is created
  kDefaultButton = 1u << 8,  // pressed by Enter, wherever the focus is
  kCancelButton = 1u << 9,   // pressed by Esc
};

// Where a control lives: the window itself or one of the two tab pages.
enum class Parent { Window, PageMss7, PageMss2000 };

// One control. Geometry in layout units relative to the parent's client
// area; tab 0 = not visited by the Tab key; picture = a file name under
// src/window/resources.
struct Control {
  const char* name;
  Kind kind;
  const char* text;
  int x, y, width, height;
  int tab;
  Face face;
  int points;
  Colour colour;
  unsigned flags;
};

// A rectangle in pixels.
struct PixelRect {
  int x, y, width, height;
};

// Layout units to pixels: at the design resolution of 96 dots per inch about
// 4.57 horizontal and 4 vertical units make a pixel; at another resolution
// the pixels grow with it (144 dpi: 1.5 times as many).
inline constexpr int kDesignDpi = 96;
inline int to_pixels_h(int units, int dpi = kDesignDpi) {
  return static_cast<int>(std::lround(units * dpi / (4.57 * kDesignDpi)));
}
inline int to_pixels_v(int units, int dpi = kDesignDpi) {
  return static_cast<int>(std::lround(units * dpi / (4.0 * kDesignDpi)));
}
inline PixelRect to_pixels(int x, int y, int width, int height, int dpi = kDesignDpi) {
  return {to_pixels_h(x, dpi), to_pixels_v(y, dpi), to_pixels_h(width, dpi),
          to_pixels_v(height, dpi)};
}
inline PixelRect to_pixels(const Control& c, int dpi = kDesignDpi) {
  return to_pixels(c.x, c.y, c.width, c.height, dpi);
}
// Pixels at the design resolution scaled to `dpi`.
inline int scaled(int pixels, int dpi) {
  return static_cast<int>(std::lround(pixels * static_cast<double>(dpi) / kDesignDpi));
}

// The window: title bar with system menu and close box, fixed size, centred,
// button-face background. The layout's 2368 x 1860 units are its outer size,
// which leaves a client area of 512 x 440 pixels inside a dialog frame at
// 96 dpi: the smallest client area at any resolution (scaled).
inline constexpr int kMinClientWidth = 512;
inline constexpr int kMinClientHeight = 440;

struct PixelSize {
  int width, height;
};

// The pictures come in three sizes: their own (100 %), 150 % and 200 %. A
// window shows the largest that is not larger than its scale, at its own
// pixel size, so that it never outgrows the control it was drawn for.
inline constexpr int kPictureScales[] = {100, 150, 200};
inline int picture_scale(int dpi) {
  int best = kPictureScales[0];
  for (int percent : kPictureScales)
    if (percent * kDesignDpi <= dpi * 100) best = percent;
  return best;
}
// The file of a picture at a scale: "select.bmp" at 150 % is
// "select_150.bmp".
inline std::string picture_file(std::string_view file, int percent) {
  std::string name(file);
  if (percent == 100) return name;
  const std::size_t dot = name.rfind('.');
  return name.substr(0, dot) + "_" + std::to_string(percent) + name.substr(dot);
}

using F = Face;
using C = Colour;
using K = Kind;

// Window-level controls, in creation order: where two overlap, the earlier
// one lies in front. The progress bar of the restore comes last, in the free
// space left of the command buttons.
inline constexpr Control kWindowControls[] = {
    {"st_title2", K::Static, "", 78, 88, 1408, 60, 0, F::Song, 9, C::Default, kBold},
    {"gb_1", K::Group, "", 0, 236, 2377, 8, 0, F::Arial, 12, C::Default, kRule},
    {"st_title1", K::Static, "", 78, 28, 1408, 60, 0, F::Song, 9, C::Default, kBold},
    {"p_2", K::Picture, "orlin.gif", 1591, 16, 654, 200, 0, F::None, 0, C::Default, kNone},
    {"st_status", K::Static, "", 59, 1460, 2235, 120, 0, F::Song, 12, C::Navy, kNone},
    {"cb_dbsetup", K::Button, "安装(&S)", 1531, 1632, 384, 88, 20, F::Song, 9, C::Default,
     kDefaultButton},
    {"cb_exit", K::Button, "退出(&X)", 1961, 1632, 384, 88, 40, F::Song, 9, C::Default,
     kCancelButton},
    {"st_12", K::Static, "", 0, 0, 2359, 236, 0, F::Arial, 9, C::Default, kNone},
    {"tab_1", K::Tab, "", 9, 132, 2345, 1472, 10, F::Arial, 9, C::Default, kNone},
    {"hpb_restore", K::Progress, "", 59, 1644, 1400, 64, 0, F::Arial, 8, C::Default, kHidden},
};

// The two pages of tab_1, in tab order; both lie at the same place inside
// the tab control. In the stored state only the SQL Server 2000 page is
// shown, and selected.
// `first_field` is the field that has the keyboard focus when the window
// opens on that page: the administrator's password, the one field an operator
// must type into.
struct Page {
  const char* name;
  const char* caption;
  Parent parent;
  bool shown;
  const char* first_field;
};
inline constexpr Page kPages[] = {
    {"tabpage_mss7", "MSS7.0", Parent::PageMss7, false, "sle_mss7_password"},
    {"tabpage_mss2000", "MSS2000", Parent::PageMss2000, true, "sle_mss2000_password"},
};
inline constexpr int kPageX = 18, kPageY = 108, kPageWidth = 2309, kPageHeight = 1348;

inline constexpr Control kMss7Controls[] = {
    {"st_message", K::Static, "注意修改OPEN事件的实例变量", 5, 656, 2382, 164, 0, F::Arial, 24,
     C::Red, kNone},
    {"sle_dbname", K::Edit, "", 805, 544, 1358, 88, 13, F::Arial, 9, C::Default, kNone},
    {"st_dbname", K::Static, "本次装载的数据库名称：", 91, 560, 727, 56, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"pb_mss7data_backupfile", K::PictureButton, "select.bmp", 2167, 424, 91, 88, 40, F::Arial, 9,
     C::Default, kNone},
    {"pb_mss7data_setuppath", K::PictureButton, "select.bmp", 2167, 300, 91, 88, 20, F::Arial, 9,
     C::Default, kNone},
    {"p_1", K::Picture, "user.bmp", 119, 1056, 165, 144, 0, F::None, 0, C::Default, kNone},
    {"sle_mss7_password", K::Edit, "", 1006, 1132, 1129, 88, 70, F::Arial, 9, C::Default, kMasked},
    {"sle_mss7_userid", K::Edit, "", 1006, 1032, 1129, 88, 60, F::Arial, 9, C::Default, kNone},
    {"sle_mss7_servername", K::Edit, "", 1006, 932, 1129, 88, 50, F::Arial, 9, C::Default, kNone},
    {"sle_mss7data_backupfile", K::Edit, "", 805, 424, 1358, 88, 30, F::Arial, 9, C::Default,
     kNotTypeable},
    {"sle_mss7data_setuppath", K::Edit, "", 805, 304, 1358, 88, 10, F::Arial, 9, C::Default, kNone},
    {"st_17", K::Static, "登录密码：", 91, 1144, 901, 72, 0, F::Song, 9, C::Default, kFieldLabel},
    {"st_11", K::Static, "系统管理员登录名：", 91, 1048, 901, 84, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"st_10", K::Static, "MSS SQL 7.0 数据库服务器IP地址：", 91, 948, 901, 76, 0, F::Song, 9,
     C::Default, kFieldLabel},
    {"st_9", K::Static, "本次需装载的数据文件：", 91, 444, 722, 56, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"st_8", K::Static, "请选择数据的存放目录：", 91, 324, 722, 56, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"sle_mss7data_defaultpath", K::Edit, "", 805, 188, 1358, 88, 0, F::Arial, 9, C::Default,
     kDisplay},
    {"st_7", K::Static, "数据库默认的数据存放目录：", 96, 204, 722, 56, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"gb_3", K::Group, "数据库服务器登录选项", 23, 812, 2258, 504, 0, F::Song, 9, C::Navy, kNone},
    {"gb_2", K::Group, "文件/目录选择", 23, 76, 2258, 644, 0, F::Song, 9, C::Navy, kNone},
};

inline constexpr Control kMss2000Controls[] = {
    {"st_2", K::Static, "本次装载的数据库名称：", 91, 700, 727, 56, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"sle_dbname_2000", K::Edit, "", 786, 684, 1367, 88, 16, F::Arial, 9, C::Default, kDisabled},
    {"st_1", K::Static, "本次将数据库装载到MS SQL Server 2000的哪一个 实例：", 32, 100, 1527, 76, 0,
     F::Song, 9, C::Navy, kFieldLabel},
    // The closed list is as high as an edit field; kDroppedListUnits is the
    // dropped list.
    {"ddplb_mss2000_instances", K::DropDown, "database.bmp", 1568, 84, 713, 88, 1, F::Arial, 9,
     C::Default, kNone},
    {"st_30", K::Static, "本次需装载的数据文件：", 91, 572, 713, 56, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"st_29", K::Static, "请选择数据的存放目录：", 91, 452, 713, 56, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"p_21", K::Picture, "user.bmp", 183, 1028, 165, 144, 0, F::None, 0, C::Default, kNone},
    {"sle_mss2000_userid", K::Edit, "", 1051, 1044, 361, 88, 8, F::Arial, 9, C::Default, kNone},
    {"sle_mss2000_password", K::Edit, "", 1751, 1044, 389, 88, 9, F::Arial, 9, C::Default, kMasked},
    {"st_23", K::Static, "登录密码：", 1399, 1056, 338, 76, 0, F::Song, 9, C::Default, kFieldLabel},
    {"st_22", K::Static, "系统管理员登录名：", 142, 1056, 901, 76, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"st_21", K::Static, "MSS SQL 2000 数据库服务器IP地址：", 91, 956, 951, 76, 0, F::Song, 9,
     C::Default, kFieldLabel},
    {"sle_mss2000_servername", K::Edit, "", 1051, 944, 1088, 84, 7, F::Arial, 9, C::Default, kNone},
    {"pb_mss2000data_backupfile", K::PictureButton, "select.bmp", 2158, 560, 91, 88, 6, F::Arial, 9,
     C::Default, kNone},
    {"pb_mss2000data_setuppath", K::PictureButton, "select.bmp", 2158, 432, 91, 88, 4, F::Arial, 9,
     C::Default, kNone},
    {"st_100", K::Static, "数据库默认的数据存放目录：", 91, 332, 713, 56, 0, F::Song, 9, C::Default,
     kFieldLabel},
    {"gb_22", K::Group, "数据库服务器登录选项", 23, 860, 2258, 336, 0, F::Song, 9, C::Navy, kNone},
    {"gb_21", K::Group, "文件/目录选择", 23, 212, 2258, 616, 0, F::Song, 9, C::Navy, kNone},
    {"sle_mss2000data_defaultpath", K::Edit, "", 786, 312, 1367, 88, 2, F::Arial, 9, C::Default,
     kDisplay},
    {"sle_mss2000data_setuppath", K::Edit, "", 786, 436, 1367, 88, 3, F::Arial, 9, C::Default,
     kNone},
    {"sle_mss2000data_backupfile", K::Edit, "", 786, 560, 1367, 88, 5, F::Arial, 9, C::Default,
     kNone},
};

// The dropped instance list: 1068 layout units high, with a vertical scroll bar.
inline constexpr int kDroppedListUnits = 1068;

// The controls of one parent, in creation order.
inline constexpr std::span<const Control> controls_of(Parent parent) {
  switch (parent) {
    case Parent::PageMss7:
      return kMss7Controls;
    case Parent::PageMss2000:
      return kMss2000Controls;
    case Parent::Window:
      break;
  }
  return kWindowControls;
}

// The control with this object name, or null.
inline const Control* find_control(std::string_view name) {
  for (auto parent : {Parent::Window, Parent::PageMss7, Parent::PageMss2000})
    for (const Control& c : controls_of(parent))
      if (name == c.name) return &c;
  return nullptr;
}

// The controls of one parent that the Tab key visits, in their tab order.
inline std::vector<const Control*> tab_sequence(Parent parent) {
  std::vector<const Control*> out;
  for (const Control& c : controls_of(parent))
    if (c.tab > 0) out.push_back(&c);
  std::stable_sort(out.begin(), out.end(),
                   [](const Control* a, const Control* b) { return a->tab < b->tab; });
  return out;
}

// The client area in pixels at `dpi`: large enough for every window-level
// control (the banner rule excepted: it runs to the window's edge and is cut
// there), never smaller than the layout's own size.
inline PixelSize client_size(int dpi) {
  PixelSize size{scaled(kMinClientWidth, dpi), scaled(kMinClientHeight, dpi)};
  for (const Control& c : kWindowControls) {
    if (c.flags & kRule) continue;
    const PixelRect r = to_pixels(c, dpi);
    size.width = std::max(size.width, r.x + r.width);
    size.height = std::max(size.height, r.y + r.height);
  }
  return size;
}

// The field a field label stands for: the edit field or list of the same
// parent on the label's line that starts nearest to the right of the label's
// middle; null when there is none.
inline const Control* field_of(const Control& label, Parent parent) {
  const Control* best = nullptr;
  for (const Control& c : controls_of(parent)) {
    if (c.kind != Kind::Edit && c.kind != Kind::DropDown) continue;
    const bool same_line = c.y < label.y + label.height && label.y < c.y + c.height;
    if (!same_line || 2 * c.x <= 2 * label.x + label.width) continue;
    if (!best || c.x < best->x) best = &c;
  }
  return best;
}

}  // namespace dbsetup::layout
