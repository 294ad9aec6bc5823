// The Qt window at the scale factor it runs with (ctest runs these again
// with QT_SCALE_FACTOR 1.25, 1.5 and 2): every text inside its control, the
// window holding its controls, the pictures drawn pixel for pixel in their
// size for that scale, the field labels on their fields' text lines; and
// pictures of both editions for a person to look at.

#include <gtest/gtest.h>

#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <set>

#include "layout_walk.h"
#include "window_harness.h"

namespace dbsetup {
namespace {

using testing::WindowHarness;

// A picture side at `percent` of its size, as the picture script rounds it.
int side(int pixels, int percent) { return (pixels * percent + 50) / 100; }

// Both pages (the hidden one too) at the scale the test runs with.
TEST(WindowScale, TextsFitAndPicturesMatchTheScale) {
  WindowHarness h;
  h.open("mss2000");
  ASSERT_TRUE(h.show());
  const qreal ratio = h.window->devicePixelRatioF();
  SCOPED_TRACE("scale " + std::to_string(ratio));
  EXPECT_EQ(h.window->size(), client_size());
  testing::for_each_control([&](const char*, const layout::Control& c) {
    QWidget* w = h.control(c.name);
    const QFontMetrics fm(w->font());
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_LE(fm.horizontalAdvance(label->text()), label->contentsRect().width());
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      EXPECT_LE(fm.horizontalAdvance(button->text().remove('&')) + 8, button->width());
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
      EXPECT_LE(fm.horizontalAdvance(group->title()) + 16, group->width());
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      EXPECT_LE(fm.horizontalAdvance(edit->displayText()) + 8, edit->width());
    }
    // The window holds its own controls (the rule runs to its edge), a
    // page the controls on it other than texts.
    EXPECT_TRUE((c.flags & layout::kRule) || c.kind == layout::Kind::Static ||
                w->parentWidget()->rect().contains(w->geometry()));
  });
  const int percent = layout::picture_scale(static_cast<int>(std::lround(96 * ratio)));
  const QPixmap logo = h.control<QLabel>("p_2")->pixmap();
  EXPECT_EQ(logo.size(), QSize(side(143, percent), side(50, percent)));
  EXPECT_EQ(logo.devicePixelRatio(), ratio);
  EXPECT_EQ(h.control<QLabel>("p_1")->pixmap().size(), QSize(side(19, percent), side(19, percent)));
  h.window->hide();
}

// The lowest row of `r` (device pixels) holding dark ink; -1 if none.
int ink_bottom(const QImage& image, QRect r) {
  r &= image.rect();
  for (int y = r.bottom(); y >= r.top(); --y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (qGray(image.pixel(x, y)) < 90) return y;
  return -1;
}

// The label's ink ends on the line where its field's text ends (as the
// Win32 window's test checks it): "sa" and an address sit on the baseline,
// the Chinese labels reach at most a pixel or two below theirs.
void expect_on_the_line(WindowHarness& h, const QImage& image, qreal ratio, const char* label,
                        const char* field) {
  auto* l = h.control<QLabel>(label);
  auto* f = h.control<QLineEdit>(field);
  const int text = QFontMetrics(l->font()).horizontalAdvance(l->text());
  QRect lr = l->contentsRect();
  lr.setLeft(lr.right() - text);
  lr = QRect(l->mapTo(h.window.get(), lr.topLeft()), lr.size());
  QRect fr = QRect(f->mapTo(h.window.get(), QPoint(0, 0)), f->size()).adjusted(4, 3, -4, -3);
  auto device = [ratio](QRect r) { return QRect(r.topLeft() * ratio, r.size() * ratio); };
  const int label_ink = ink_bottom(image, device(lr));
  const int field_ink = ink_bottom(image, device(fr));
  ASSERT_TRUE(label_ink >= 0 && field_ink >= 0) << label;
  EXPECT_LE(std::abs(label_ink - field_ink), std::lround(2 * ratio))
      << label << " ends at " << label_ink << ", " << field << " at " << field_ink;
}

// Renders the window of each edition into the artifacts folder as
// w_createdb_qt_<edition>_<dpi>dpi.png (at scale 1 also as
// w_createdb_<edition>.png).
TEST(WindowRendering, BothEditionsRenderOffscreen) {
  const char* dir = std::getenv("DB_SETUP_ARTIFACTS");
  const QString out = dir ? QString::fromLocal8Bit(dir) : QDir::tempPath();
  QDir().mkpath(out);
  for (const char* edition : {"mss2000", "mss7"}) {
    SCOPED_TRACE(edition);
    WindowHarness h;
    h.open(edition);
    h.window->ui().set_status("准备连接数据库...");
    ASSERT_TRUE(h.show());
    const QPixmap grabbed = h.window->grab();
    const qreal ratio = grabbed.devicePixelRatio();
    QImage image = grabbed.toImage();

    // Not blank. (The logo's picture is checked by the layout test.)
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
      for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 50u);

    // The coloured texts are drawn in their colours.
    auto has_pixels = [&](const char* name, bool (*test)(QColor)) {
      QWidget* w = h.control(name);
      const QRect logical(w->mapTo(h.window.get(), QPoint(0, 0)), w->size());
      const QRect r = QRect(logical.topLeft() * ratio, logical.size() * ratio) & image.rect();
      for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
          if (test(QColor(image.pixel(x, y)))) return true;
      return false;
    };
    using Ink = bool (*)(QColor);
    Ink navy = [](QColor c) { return c.red() < 40 && c.green() < 40 && c.blue() > 100; };
    Ink red = [](QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
    const std::tuple<const char*, Ink, bool> inks[] = {
        {"st_status", navy, true}, {"st_1", navy, true},  {"gb_2", navy, true},
        {"gb_3", navy, true},      {"gb_21", navy, true}, {"gb_22", navy, true},
        {"st_message", red, true}, {"st_7", navy, false}};
    for (auto [name, ink, drawn] : inks)  // each on the page of its edition
      EXPECT_TRUE(!h.control(name)->isVisible() || has_pixels(name, ink) == drawn) << name;

    const std::string ed = edition;
    expect_on_the_line(h, image, ratio, ed == "mss7" ? "st_11" : "st_22",
                       ("sle_" + ed + "_userid").c_str());
    expect_on_the_line(h, image, ratio, ed == "mss7" ? "st_10" : "st_21",
                       ("sle_" + ed + "_servername").c_str());

    const int dpi = static_cast<int>(std::lround(96 * ratio));
    QStringList files{out + QStringLiteral("/w_createdb_qt_%1_%2dpi.png").arg(edition).arg(dpi)};
    if (dpi == 96) files << out + QStringLiteral("/w_createdb_%1.png").arg(edition);
    for (const QString& file : files) EXPECT_TRUE(image.save(file)) << file.toStdString();
    h.window->hide();
  }
}

}  // namespace
}  // namespace dbsetup
