#include "web/picture_resource.h"

#include <fstream>
#include <iterator>

#include "web/request_text.h"

namespace ab {
namespace {

HttpAnswer Word(const char* word) {
  HttpAnswer a;
  a.Body = word;
  return a;
}

}  // namespace

std::string GetFileCommand(std::string_view name) {
  std::string c = "{\"$c$\":\"getfile\",\"nameinserv\":\"maps\\\\";
  c += name;
  c += "\",\"name\":\"";
  c += name;
  c += "\"}";
  return c;
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (char ch : name) {
    auto u = static_cast<unsigned char>(ch);
    if (ch == '/' || ch == '\\' || ch == ':' || ch == '"' || u < 0x20) return false;
  }
  return true;
}

HttpAnswer PictureResource::Get(WebContext& ctx, LinkSignal& signal, std::string_view path) {
  int32_t id = path.size() > 14 ? ParseInt32Or0(path.substr(14)) : 0;
  if (id == 0) return Word("FileNotFound");

  std::lock_guard picture(picture_lock_);
  std::string name;
  bool found = false;
  {
    ControllerLock hold(ctx);
    WebTable* maps = ctx.Tables().Pictures;
    int32_t count = maps ? maps->Count() : 0;
    for (int32_t v = 1; v <= count && !found; ++v) {
      maps->SelectViewRow(v);
      if (maps->AsInteger(1) == id) {
        name = maps->AsString(8);
        found = true;
      }
    }
  }
  if (!found) return Word("FileNotFound");
  // The link refuses to write such a name, and temp/ + name must not reach outside temp/.
  if (!IsPlainFileName(name) || signal.Cancelled()) return Word("Error");

  ctx.SetAwaitedFile(name);
  auto deadline = ctx.GetClock().Now() + kPictureWait;
  ctx.PushOutQueue(GetFileCommand(name));
  if (!signal.WaitUntil(deadline, [&] { return ctx.FileArrived(); })) return Word("Error");

  std::ifstream in(ctx.Settings().WorkDir / "temp" / name, std::ios::binary);
  if (!in) return Word("Error");
  HttpAnswer a;
  a.Body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return Word("Error");
  return a;
}

}  // namespace ab
