#include "link/sync_texts.h"

#include <charconv>

#include "link/safe_names.h"
#include "util/json.h"

namespace ab {

namespace {
// The server's folder of this client: client9\<tid>\<file>, backslashes escaped.
std::string ServerPath(std::string_view filename, std::string_view tid) {
  std::string s = "client9\\\\";
  s.append(tid).append("\\\\").append(filename);
  return s;
}
}  // namespace

std::string BuildTableLoadNotice(std::string_view table, int32_t size, int32_t count) {
  std::string s = "{\"$c$\":\"tableload\",\"name\":\"";
  s.append(table).append("\",\"size\":\"").append(std::to_string(size));
  s.append("\",\"count\":").append(std::to_string(count)).append("}");
  return s;
}

std::string BuildGetFileOkNotice(std::string_view name) {
  return "{\"$c$\":\"getfileok\",\"name\":\"" + JsonEscape(name) + "\"}";
}

std::string BuildSendFileOkNotice(std::string_view name, std::string_view name_in_server,
                                  int64_t size) {
  return "{\"$c$\":\"sendfileok\",\"name\":\"" + JsonEscape(name) + "\",\"nameinserv\":\"" +
         JsonEscape(name_in_server) + "\",\"size\":" + std::to_string(size) + "}";
}

std::string BuildArchiveLoadNotice(std::string_view archive) {
  // Escaped: the name comes from a file and must not break the notice.
  return "{\"$c$\":\"archiveload\",\"name\":\"" + JsonEscape(archive) + "\"}";
}

std::string BuildArchiveGetFile(std::string_view filename) {
  std::string s = "{\"$c$\":\"getfile\",\"nameinserv\":\"" + JsonEscape(filename);
  s.append("\",\"name\":\"").append(FileNamePart(filename)).append("\",\"delete\":1}");
  return s;
}

std::string BuildHistoryGetFile(std::string_view filename, std::string_view tid) {
  std::string s = "{\"$c$\":\"getfile\",\"nameinserv\":\"";
  s.append(filename).append("\",\"tid\":\"").append(tid).append("\"}");
  return s;
}

std::string BuildTableGetFile(std::string_view filename, std::string_view tid,
                              std::string* without_delete) {
  std::string s = "{\"$c$\":\"getfile\",\"nameinserv\":\"" + ServerPath(filename, tid);
  s.append("\",\"name\":\"").append(filename).append("\"");
  if (without_delete != nullptr) *without_delete = s + "}";
  s.append(",\"delete\":1}");
  return s;
}

std::string BuildMessagesGetFile(std::string_view filename, std::string_view tid) {
  std::string s = "{\"$c$\":\"getfile\",\"nameinserv\":\"" + ServerPath(filename, tid);
  s.append("\",\"tid\":\"").append(tid).append("\",\"name\":\"").append(filename);
  s.append("\",\"delete\":1}");
  return s;
}

std::string BuildFileOffer(std::string_view name, std::string_view name_in_server,
                           std::string_view tid) {
  std::string s = "{\"$c$\":\"sendfile\",\"name\":\"" + JsonEscape(name) + "\",\"nameinserv\":\"" +
                  JsonEscape(name_in_server) + "\",\"tid\":\"";
  s.append(tid).append("\"}");
  return s;
}

std::optional<int32_t> DecimalInt32(std::string_view text) {
  int32_t v = 0;
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, v);
  if (text.empty() || r.ec != std::errc() || r.ptr != end) return std::nullopt;
  return v;
}

}  // namespace ab
