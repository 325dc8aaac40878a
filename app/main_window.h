#pragma once
// The operator's status window: renders the controller's StatusDisplay and drives its two
// timers on the GUI thread. It does not own the state it shows.

#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "core/status_display.h"

namespace ab::app {

struct WindowHooks {
  std::function<void()> timer2;    // 100 ms status tick
  std::function<void()> timer3;    // 1 s info tick
  std::function<void()> shutdown;  // run once when the window closes
};

class MainWindow : public QWidget {
 public:
  MainWindow(StatusDisplay& display, WindowHooks hooks, QWidget* parent = nullptr);

  // Copies the display's state into the widgets (also called after every status tick).
  void Render();
  // Stops both timers; the owner shuts the controller down afterwards.
  void StopTimers();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* AddLabel(const char* object_name, const QString& text, int x, int y, int w);
  void ApplyLabel(QLabel* label, const LabelState& state);
  void AppendNewMemoLines();

  StatusDisplay& display_;
  WindowHooks hooks_;
  QTimer timer2_;
  QTimer timer3_;
  bool closed_ = false;

  QLabel* image3_;
  QLabel* label1_;
  QLabel* label4_;
  QLabel* label5_;
  QLabel* label6_;
  QLabel* label8_;
  QLabel* label10_;
  QLabel* label11_;
  QLabel* label12_;
  QLabel* label14_;
  QPlainTextEdit* memo2_;
  uint64_t shown_lines_ = 0;
};

}  // namespace ab::app
