// alarm-bridge: the status window by default, or --headless for servers.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/form22.h"
#include "headless.h"
#include "options.h"
#include "util/codepage.h"
#include "version.h"

#if defined(AB_WITH_GUI)
#include <QApplication>

#include "main_window.h"
#endif

namespace {

ab::Form22Options ControllerOptions() {
  ab::Form22Options o;
  o.WorkDir = std::filesystem::current_path();
  o.Version = ab::app::kVersion;
  return o;
}

int RunHeadless() {
  ab::TForm22 form(ControllerOptions());
  form.Display().OnLine = [](const std::string& line) {
    std::cout << ab::Cp1251ToUtf8(line) << '\n' << std::flush;
  };
  form.FormCreate();
  ab::app::RunTimerLoop([&] { form.Timer2Timer(); }, [&] { form.Timer3Timer(); });
  form.FormClose();
  return 0;
}

#if defined(AB_WITH_GUI)
bool DisplayAvailable() {
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
         std::getenv("QT_QPA_PLATFORM") != nullptr;
}

int RunWindow(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("alarm-bridge");
  QApplication::setApplicationVersion(ab::app::kVersion);
  ab::TForm22 form(ControllerOptions());
  form.FormCreate();
  ab::app::MainWindow window(form.Display(), {[&] { form.Timer2Timer(); },
                                              [&] { form.Timer3Timer(); },
                                              [&] { form.FormClose(); }});
  window.show();
  const int rc = QApplication::exec();
  window.StopTimers();
  form.FormClose();
  return rc;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const ab::app::Options options =
      ab::app::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!options.error.empty()) {
    std::cerr << "alarm-bridge: " << options.error << "\n" << ab::app::UsageText();
    return 2;
  }
  if (options.help) {
    std::cout << ab::app::UsageText();
    return 0;
  }
  if (options.version) {
    std::cout << ab::app::VersionText();
    return 0;
  }
#if defined(AB_WITH_GUI)
  if (!options.headless) {
    if (DisplayAvailable()) return RunWindow(argc, argv);
    std::cerr << "alarm-bridge: no display found; running headless\n";
  }
#else
  if (!options.headless) std::cerr << "alarm-bridge: built without a window; running headless\n";
#endif
  // Before any thread exists, so every thread inherits the mask and the loop gets the signals.
  ab::app::BlockStopSignals();
  return RunHeadless();
}
