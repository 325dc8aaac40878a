#pragma once
// The status window as plain data: label texts and colours, the memo, the link icon inputs.
// Owned and changed on the GUI thread only; other threads hand over lines and last-request
// texts through Post*, which the status tick drains. Front ends (Qt window, headless stdout)
// render it; they do not own it.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "util/clock.h"

namespace ab {

enum class LabelColour { Normal, Green, Blue, Red, Black };

struct LabelState {
  std::string Text;  // Windows-1251
  LabelColour Colour = LabelColour::Normal;
};

class StatusDisplay {
 public:
  static constexpr size_t kMaxMemoLines = 1001;

  explicit StatusDisplay(const Clock& clock);

  // Drops the first memo line when more than 1000 are held, then appends "<date time> <text>".
  void AddStatusLine(const std::string& text);

  // Any thread: a status line to be shown on the next tick.
  void PostStatusLine(std::string text);
  // GUI thread: applies what other threads posted.
  void DrainPosted();

  // Called on the GUI thread with every appended memo line (headless prints them).
  std::function<void(const std::string&)> OnLine;

  const std::deque<std::string>& Memo() const { return memo_; }
  // Lines appended since creation (renderers use it to find the lines they have not shown).
  uint64_t TotalLines() const { return total_lines_; }

  // Captions and values, named as on the window.
  LabelState Label1{"0"};   // events waiting for the Safe City platform
  LabelState Label4;        // link state
  LabelState Label5;        // caption "Запросы БГ" (coloured by HTTP start)
  LabelState Label6{"0"};   // Safe City request count
  LabelState Label8;        // time of the last Safe City request
  LabelState Label10;       // transfer rates
  LabelState Label11;       // caption "Запросы МЧС"
  LabelState Label12{"0"};  // SPI request count
  LabelState Label14;       // time of the last SPI request

  // Inputs of the link icon.
  bool IconConnected = false;
  bool IconAccessDenied = false;
  int32_t IconPhase = 0;

 private:
  const Clock& clock_;
  std::deque<std::string> memo_;
  uint64_t total_lines_ = 0;

  std::mutex posted_mutex_;
  std::vector<std::string> posted_lines_;
};

// 16 x 16 RGB pixels of the link icon: a white square with a frame and thin vertical strokes in
// the state colour (black: access denied, green: connected, red: otherwise), placed by the phase
// so that the picture moves while data flow.
struct LinkIcon {
  static constexpr int kSize = 16;
  uint32_t Pixels[kSize][kSize];  // 0xRRGGBB, [y][x]
};
LinkIcon DrawLinkIcon(bool connected, bool access_denied, int32_t phase);
uint32_t LinkIconColour(bool connected, bool access_denied);

}  // namespace ab
