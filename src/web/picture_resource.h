#pragma once
// GET /GetPicture&n=<id>: fetches a map picture from the message server through the link's file
// transfer and sends its bytes. The link has one awaited-file slot, so requests are served one
// at a time.

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

#include "web/http_message.h"
#include "web/link_signal.h"
#include "web/web_context.h"

namespace ab {

inline constexpr std::chrono::seconds kPictureWait{10};

// The "getfile" command for a picture of the server's maps folder.
std::string GetFileCommand(std::string_view name);

// A name the link may create inside temp/: no separator, no "..", no drive, nothing that would
// break the command text.
bool IsPlainFileName(std::string_view name);

class PictureResource {
 public:
  HttpAnswer Get(WebContext& ctx, LinkSignal& signal, std::string_view path);

 private:
  std::mutex picture_lock_;  // taken before the controller's Lock, never after it
};

}  // namespace ab
