#pragma once
// Archive files fetched from the server: a 55-byte descriptor (archive name as a length byte
// and up to 30 characters at 0; int32 pairs of offset and length at 31, 39, 47) followed by
// three parts, stored as <name>.fm8, .fp8 and .fz8 in a dated folder.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ab {

inline constexpr int32_t kArchiveDescriptorSize = 55;

// The path of an archive's files below its server folder, without extension: for a name whose
// part after the first "_" has 4 characters, Y/name; otherwise Y/M/name from the first 4 and
// the next 2 characters of that part.
std::filesystem::path ArchiveDatedPath(std::string_view archive);

// Stores the archive file into folder (creating the dated folders, moving an older flat copy
// along). Returns the archive name from the descriptor, or nothing when the file cannot be
// read, its name is not a plain file name, or nothing could be written; *why says what.
std::optional<std::string> StoreArchive(const std::filesystem::path& file,
                                        const std::filesystem::path& folder, std::string* why);

}  // namespace ab
