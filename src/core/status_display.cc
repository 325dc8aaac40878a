#include "core/status_display.h"

#include "core/date_time_text.h"
#include "core/texts.h"

namespace ab {

StatusDisplay::StatusDisplay(const Clock& clock) : clock_(clock) {
  Label5.Text = texts::CaptionBg();
  Label11.Text = texts::CaptionMes();
}

void StatusDisplay::AddStatusLine(const std::string& text) {
  if (memo_.size() > kMaxMemoLines - 1) memo_.pop_front();
  memo_.push_back(FormatDateTime(clock_.WallNow()) + " " + text);
  ++total_lines_;
  if (OnLine) OnLine(memo_.back());
}

void StatusDisplay::PostStatusLine(std::string text) {
  std::lock_guard lock(posted_mutex_);
  // Bounded so a burst of requests while the GUI is stalled cannot grow memory without limit.
  if (posted_lines_.size() < kMaxMemoLines) posted_lines_.push_back(std::move(text));
}

void StatusDisplay::DrainPosted() {
  std::vector<std::string> lines;
  {
    std::lock_guard lock(posted_mutex_);
    lines.swap(posted_lines_);
  }
  for (const auto& line : lines) AddStatusLine(line);
}

uint32_t LinkIconColour(bool connected, bool access_denied) {
  if (access_denied) return 0x000000;
  return connected ? 0x00A000 : 0xE00000;
}

LinkIcon DrawLinkIcon(bool connected, bool access_denied, int32_t phase) {
  constexpr uint32_t kWhite = 0xFFFFFF;
  constexpr uint32_t kFrame = 0x404040;
  const uint32_t colour = LinkIconColour(connected, access_denied);
  LinkIcon icon;
  for (int y = 0; y < LinkIcon::kSize; ++y) {
    for (int x = 0; x < LinkIcon::kSize; ++x) {
      const bool edge = x == 0 || y == 0 || x == LinkIcon::kSize - 1 || y == LinkIcon::kSize - 1;
      icon.Pixels[y][x] = edge ? kFrame : kWhite;
    }
  }
  // Three strokes four pixels apart, shifted one pixel per phase step.
  const int shift = ((phase % 4) + 4) % 4;
  for (int k = 0; k < 3; ++k) {
    const int x = 2 + shift + 4 * k;
    for (int y = 3; y <= 12; ++y) icon.Pixels[y][x] = colour;
  }
  return icon;
}

}  // namespace ab
