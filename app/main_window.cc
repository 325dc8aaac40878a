#include "main_window.h"

#include <algorithm>

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include "util/codepage.h"

namespace ab::app {
namespace {

constexpr int kWidth = 635;
constexpr int kHeight = 274;
constexpr int kPanelHeight = 92;

QString FromCp1251(const std::string& text) {
  return QString::fromStdString(Cp1251ToUtf8(text));
}

QString ColourCss(LabelColour c) {
  switch (c) {
    case LabelColour::Green:
      return "color: #00a000;";
    case LabelColour::Blue:
      return "color: #0000e0;";
    case LabelColour::Red:
      return "color: #e00000;";
    case LabelColour::Black:
      return "color: #000000;";
    case LabelColour::Normal:
      break;
  }
  return {};
}

QPixmap IconPixmap(const StatusDisplay& d) {
  const LinkIcon icon = DrawLinkIcon(d.IconConnected, d.IconAccessDenied, d.IconPhase);
  QImage image(LinkIcon::kSize, LinkIcon::kSize, QImage::Format_RGB32);
  for (int y = 0; y < LinkIcon::kSize; ++y)
    for (int x = 0; x < LinkIcon::kSize; ++x) image.setPixel(x, y, 0xFF000000u | icon.Pixels[y][x]);
  return QPixmap::fromImage(image);
}

}  // namespace

MainWindow::MainWindow(StatusDisplay& display, WindowHooks hooks, QWidget* parent)
    : QWidget(parent), display_(display), hooks_(std::move(hooks)) {
  setObjectName("Form22");
  setWindowTitle("alarm-bridge");
  setFixedSize(kWidth, kHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kWidth / 2, kHeight / 2));
  }

  image3_ = new QLabel(this);  // owned by the window, as every child widget
  image3_->setObjectName("Image3");
  image3_->setGeometry(8, 8, 16, 16);
  AddLabel("Label2", QString::fromUtf8("Связь с сервером сообщений"), 30, 8, 220);
  AddLabel("Label3", QString::fromUtf8("Сообщений в очереди на отправку"), 8, 30, 230);
  label1_ = AddLabel("Label1", "0", 240, 30, 80);
  AddLabel("Label7", QString::fromUtf8("Состояние"), 330, 8, 80);
  label4_ = AddLabel("Label4", "", 410, 8, 220);
  AddLabel("Label9", QString::fromUtf8("Скорость"), 330, 30, 80);
  label10_ = AddLabel("Label10", "", 410, 30, 220);
  label5_ = AddLabel("Label5", QString::fromUtf8("Запросы БГ"), 8, 52, 100);
  label6_ = AddLabel("Label6", "0", 110, 52, 60);
  AddLabel("Label13", QString::fromUtf8("Последний запрос"), 170, 52, 120);
  label8_ = AddLabel("Label8", "", 290, 52, 150);
  label11_ = AddLabel("Label11", QString::fromUtf8("Запросы МЧС"), 8, 72, 100);
  label12_ = AddLabel("Label12", "0", 110, 72, 60);
  AddLabel("Label15", QString::fromUtf8("Последний запрос"), 170, 72, 120);
  label14_ = AddLabel("Label14", "", 290, 72, 150);

  memo2_ = new QPlainTextEdit(this);
  memo2_->setObjectName("Memo2");
  memo2_->setReadOnly(true);
  memo2_->setGeometry(0, kPanelHeight, kWidth, kHeight - kPanelHeight);
  memo2_->setMaximumBlockCount(static_cast<int>(StatusDisplay::kMaxMemoLines));

  timer2_.setInterval(100);
  timer3_.setInterval(1000);
  QObject::connect(&timer2_, &QTimer::timeout, this, [this] {
    if (hooks_.timer2) hooks_.timer2();
    Render();
  });
  QObject::connect(&timer3_, &QTimer::timeout, this, [this] {
    if (hooks_.timer3) hooks_.timer3();
  });
  timer3_.start();
  timer2_.start();
  Render();
}

QLabel* MainWindow::AddLabel(const char* object_name, const QString& text, int x, int y, int w) {
  auto* label = new QLabel(text, this);
  label->setObjectName(object_name);
  label->setGeometry(x, y, w, 18);
  return label;
}

void MainWindow::ApplyLabel(QLabel* label, const LabelState& state) {
  label->setText(FromCp1251(state.Text));
  label->setStyleSheet(ColourCss(state.Colour));
}

void MainWindow::AppendNewMemoLines() {
  const auto& memo = display_.Memo();
  const uint64_t fresh = display_.TotalLines() - shown_lines_;
  const size_t count = static_cast<size_t>(std::min<uint64_t>(fresh, memo.size()));
  for (size_t i = memo.size() - count; i < memo.size(); ++i)
    memo2_->appendPlainText(FromCp1251(memo[i]));
  shown_lines_ = display_.TotalLines();
}

void MainWindow::Render() {
  image3_->setPixmap(IconPixmap(display_));
  ApplyLabel(label1_, display_.Label1);
  ApplyLabel(label4_, display_.Label4);
  ApplyLabel(label5_, display_.Label5);
  ApplyLabel(label6_, display_.Label6);
  ApplyLabel(label8_, display_.Label8);
  ApplyLabel(label10_, display_.Label10);
  ApplyLabel(label11_, display_.Label11);
  ApplyLabel(label12_, display_.Label12);
  ApplyLabel(label14_, display_.Label14);
  AppendNewMemoLines();
}

void MainWindow::StopTimers() {
  timer2_.stop();
  timer3_.stop();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!closed_) {
    closed_ = true;
    StopTimers();
    if (hooks_.shutdown) hooks_.shutdown();
  }
  event->accept();
}

}  // namespace ab::app
