#pragma once
// A strict reader of small JSON documents (the simulator's data sets). Unlike the driver's text
// functions it parses the whole document, so that a broken file is refused with the line and
// column of its first fault instead of being half read.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ab::sim {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind Type = Kind::kNull;
  bool Bool = false;
  double Number = 0;
  std::string Text;  // strings (UTF-8), and the number as written
  std::vector<JsonValue> Items;
  std::vector<std::pair<std::string, JsonValue>> Members;  // in document order
  int Line = 0;                                            // where the value starts, for messages
  int Column = 0;

  // The member of that name, or none.
  const JsonValue* Find(std::string_view key) const;
  std::string Where() const;  // "line L, column C"
};

struct JsonParse {
  JsonValue Value;
  std::string Error;  // empty on success
};

// Depth is limited so that a hostile file cannot exhaust the stack.
JsonParse ParseJson(std::string_view text);

}  // namespace ab::sim
