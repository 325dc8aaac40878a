// Renders the status window offscreen in the working state, saves a picture of it and checks
// what an operator would see: the captions, the state text and the link icon's colour.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>

#include "main_window.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace ab::app {
namespace {

QLabel* Find(QWidget& w, const char* name) { return w.findChild<QLabel*>(name); }

TEST(WindowSmokeTest, WorkingStateRendersAsTheOperatorExpects) {
  ManualClock clock(Clock::WallTime(std::chrono::seconds(1709647629)));
  StatusDisplay display(clock);
  display.Label4 = {Utf8ToCp1251("Работа"), LabelColour::Green};
  display.Label5.Colour = LabelColour::Green;
  display.Label11.Colour = LabelColour::Green;
  display.Label10.Text = Utf8ToCp1251("Вх.-0.0012 Мб/с Исх.-0.0003 Мб/с Повт.-0.0000%");
  display.IconConnected = true;
  display.IconPhase = 1;
  display.AddStatusLine(Utf8ToCp1251("05.03.2024 14:07:09 Соединение установлено"));

  int timer2_calls = 0;
  MainWindow window(display, {[&] { ++timer2_calls; }, [] {}, [] {}});
  window.Render();
  window.show();
  QApplication::processEvents();

  EXPECT_EQ(window.size(), QSize(635, 274));
  ASSERT_NE(Find(window, "Label4"), nullptr);
  EXPECT_EQ(Find(window, "Label4")->text(), QString::fromUtf8("Работа"));
  EXPECT_EQ(Find(window, "Label5")->text(), QString::fromUtf8("Запросы БГ"));
  EXPECT_EQ(Find(window, "Label11")->text(), QString::fromUtf8("Запросы МЧС"));
  EXPECT_EQ(Find(window, "Label1")->text(), "0");
  auto* memo = window.findChild<QPlainTextEdit*>("Memo2");
  ASSERT_NE(memo, nullptr);
  EXPECT_TRUE(memo->toPlainText().contains(QString::fromUtf8("Соединение установлено")));

  // The icon strokes are green while connected; phase 1 puts the first stroke at x = 3.
  QLabel* image3 = Find(window, "Image3");
  ASSERT_NE(image3, nullptr);
  const QImage icon = image3->pixmap().toImage();
  ASSERT_EQ(icon.size(), QSize(16, 16));
  EXPECT_EQ(icon.pixel(3, 8) & 0xFFFFFF, 0x00A000u);
  EXPECT_EQ(icon.pixel(2, 8) & 0xFFFFFF, 0xFFFFFFu);

  const QPixmap shot = window.grab();
  EXPECT_TRUE(shot.save(AB_SHOT_PATH));
  // The state text is drawn in green somewhere on the picture.
  const QImage picture = shot.toImage();
  const QRect state = Find(window, "Label4")->geometry();
  int green_pixels = 0;
  for (int y = state.top(); y <= state.bottom(); ++y)
    for (int x = state.left(); x <= state.right(); ++x) {
      const QRgb p = picture.pixel(x, y);
      if (qGreen(p) > 100 && qRed(p) < 90 && qBlue(p) < 90) ++green_pixels;
    }
  EXPECT_GT(green_pixels, 10);
}

}  // namespace
}  // namespace ab::app

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
