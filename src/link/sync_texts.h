#pragma once
// Texts of the data synchronisation: the notices to the owner and the requests the link sends
// on its own. Compact JSON, members in a fixed order.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ab {

inline constexpr char kToSoobNotice[] = "{\"$c$\":\"tosoob\",\"data\":\"messages\"}";
inline constexpr char kStartReceiveFile[] = "{\"$c$\":\"startrecivefile\"}";

std::string BuildTableLoadNotice(std::string_view table, int32_t size, int32_t count);
std::string BuildGetFileOkNotice(std::string_view name);
std::string BuildSendFileOkNotice(std::string_view name, std::string_view name_in_server,
                                  int64_t size);
std::string BuildArchiveLoadNotice(std::string_view archive);

// "getfile" for an archive named by "getarchiveok" ("filename" as given).
std::string BuildArchiveGetFile(std::string_view filename);
std::string BuildHistoryGetFile(std::string_view filename, std::string_view tid);
// For a table file; without_delete gets the same text without its "delete" member (the log).
std::string BuildTableGetFile(std::string_view filename, std::string_view tid,
                              std::string* without_delete = nullptr);
std::string BuildMessagesGetFile(std::string_view filename, std::string_view tid);
// The offer of a local file to the server.
std::string BuildFileOffer(std::string_view name, std::string_view name_in_server,
                           std::string_view tid);

// A whole text as a decimal int32; nothing for anything else.
std::optional<int32_t> DecimalInt32(std::string_view text);
inline int32_t DecimalOrZero(std::string_view text) { return DecimalInt32(text).value_or(0); }

}  // namespace ab
