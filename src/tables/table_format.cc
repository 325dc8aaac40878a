#include "tables/table_format.h"

#include <algorithm>

namespace ab {

int32_t FixedTypeWidth(uint8_t type) {
  switch (type) {
    case kTypeByte:
    case kTypeBool:
    case kTypeCoded16:
      return 1;
    case kTypeWord:
    case kTypeCoded32:
      return 2;
    case kTypeInt:
    case kTypeSingle:
    case kTypeCardinal:
    case kTypeHexInt:
    case kTypePoolText:
    case kTypeSeconds:
      return 4;
    case kTypeDouble:
    case kTypeDate:
    case kTypeInt64:
      return 8;
    case kTypeShortText:
    case kTypeRawBytes:
      return 0;
    default:
      return -1;
  }
}

bool TypeHasColumn(uint8_t type) { return FixedTypeWidth(type) >= 0; }

FieldDescriptor FieldDescriptor::Read(const uint8_t* p) {
  FieldDescriptor d;
  d.Number = GetI32(p);
  d.Name = ReadSlotText({p + 4, kFieldNameSlot});
  d.Type = p[20];
  d.Width = GetI32(p + 21);
  d.TextWidth = GetI32(p + 25);
  d.Count = GetI32(p + 33);
  return d;
}

void FieldDescriptor::Append(Bytes& out) const {
  AppendI32(out, Number);
  AppendSlotText(out, Name, kFieldNameSlot);
  out.push_back(Type);
  AppendI32(out, Width);
  AppendI32(out, TextWidth);
  AppendI32(out, 0);
  AppendI32(out, Count);
}

std::string ReadSlotText(std::span<const uint8_t> slot) {
  if (slot.empty()) return {};
  size_t n = std::min<size_t>(slot[0], slot.size() - 1);
  return std::string(reinterpret_cast<const char*>(slot.data() + 1), n);
}

void AppendSlotText(Bytes& out, std::string_view text, size_t slot_size) {
  if (slot_size == 0) return;
  size_t n = std::min({text.size(), slot_size - 1, size_t{255}});
  out.push_back(static_cast<uint8_t>(n));
  out.insert(out.end(), text.begin(), text.begin() + static_cast<ptrdiff_t>(n));
  out.insert(out.end(), slot_size - 1 - n, 0);
}

}  // namespace ab
