#include "link/link_texts.h"

#include "util/json.h"

namespace ab {

std::string BuildRegistrationText(const RegistrationFields& f) {
  return "{\"$c$\":\"reg\",\"id\":\"" + f.ClientTypeId + "\",\"username\":\"" +
         JsonEscape(f.UserName) + "\",\"password\":\"" + f.Password +
         "\",\"keepalive\":" + std::to_string(f.KeepaliveSeconds) + ",\"zip\":" + f.Zip +
         ",\"ver\":\"" + f.Version + "\"}";
}

std::string BuildKeepaliveText(const TAQueue* queues) {
  std::string text = "{\"$c$\":\"testex\"";
  std::string list;
  if (queues != nullptr) {
    for (const auto& q : *queues) {
      if (!q || q->Name.empty()) continue;
      if (!list.empty()) list += ',';
      list += "{\"name\":\"" + q->Name + "\",\"current\":\"" + std::to_string(q->Position) +
              "\",\"full\":\"" + (q->PackReady ? "1" : "0") + "\",\"inpack\":\"" +
              std::to_string(q->InPack) + "\"}";
    }
  }
  if (!list.empty()) text += ",\"queue\":[" + list + "]";
  return text + "}";
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

ConnectionIdBytes TidToConnectionId(std::string_view tid) {
  ConnectionIdBytes id{};
  if (tid.size() != 36) return id;
  static constexpr int kPositions[16] = {1,  3,  5,  7,  10, 12, 15, 17,
                                         20, 22, 25, 27, 29, 31, 33, 35};
  for (int k = 0; k < 16; ++k) {
    const int hi = HexDigit(tid[static_cast<size_t>(kPositions[k] - 1)]);
    const int lo = HexDigit(tid[static_cast<size_t>(kPositions[k])]);
    id[static_cast<size_t>(k)] = (hi < 0 || lo < 0) ? 0 : static_cast<uint8_t>(hi * 16 + lo);
  }
  return id;
}

std::string BuildConnectedNotice(const std::string& reply) {
  // The version is re-escaped: a quote in it would otherwise break the notice.
  std::string text = "{\"$c$\":\"connected\",\"ver_serv\":\"" +
                     JsonEscape(JsonGetValue(reply, "version")) + "\",\"data\":" + reply;
  const std::string lk = JsonGetValue(reply, "lkuser_n_abs");
  if (!lk.empty()) text += ",\"lkuser_n_abs\":" + lk;
  return text + "}";
}

std::string BuildDisconnectedNotice(int code) {
  return "{\"$c$\":\"disconnected\",\"p\":" + std::to_string(code) + "}";
}

}  // namespace ab
