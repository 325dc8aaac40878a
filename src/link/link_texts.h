#pragma once
// The texts the link builds for registration, keep-alive and its notices to the owner:
// compact JSON, members in a fixed order.

#include <cstdint>
#include <string>
#include <string_view>

#include "link/datagram.h"
#include "util/queue.h"

namespace ab {

struct RegistrationFields {
  std::string ClientTypeId;
  std::string UserName;  // UTF-8
  std::string Password;  // UTF-8, sent unescaped
  int32_t KeepaliveSeconds = 1;
  std::string Zip = "0";
  std::string Version = "0.0.0.0";
};

std::string BuildRegistrationText(const RegistrationFields& f);
// The caller holds the owner's Lock while the cursors are read.
std::string BuildKeepaliveText(const TAQueue* queues);
// The 16 hexadecimal pairs of a 36-character GUID text in text order; all zero for any other
// length, 0 for a pair that is not hexadecimal.
ConnectionIdBytes TidToConnectionId(std::string_view tid);
std::string BuildConnectedNotice(const std::string& reply);
std::string BuildDisconnectedNotice(int code);

}  // namespace ab
