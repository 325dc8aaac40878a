#pragma once
// Confines names that come from the server to the link's own folders. A file name the server
// gives ("sendfile" names, archive names) becomes a single entry under "temp/"; a local path it
// asks for ("filetoserver") must stay inside the working directory.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ab {

// True for a plain file name: not empty, no '/', '\\' or ':' (drive), no "..", no NUL, not ".".
bool IsSafeFileName(std::string_view name);

// The text after the last backslash or colon (the whole text when it has neither).
std::string FileNamePart(std::string_view path);

// base / path for a relative path (backslashes taken as separators) that stays inside base
// after symbolic links are resolved; nothing for an absolute path, a drive, "..", an empty
// path or one that leaves base.
std::optional<std::filesystem::path> LocalPathInside(const std::filesystem::path& base,
                                                     std::string_view path);

}  // namespace ab
