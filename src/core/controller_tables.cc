#include "core/controller_tables.h"

#include <algorithm>
#include <utility>

#include "tables/conversion_error.h"

namespace ab {

namespace {

// Field of a view row as an integer; a text that is no number skips the row instead of leaving
// the lists half rebuilt.
bool IntegerAt(TBaseClient& t, int32_t field, int32_t view_row, int32_t& out) {
  try {
    out = AsInteger(t.FieldByNumberAt(field, view_row));
    return true;
  } catch (const ConversionError&) {
    return false;
  }
}

}  // namespace

ControllerTables::ControllerTables(std::filesystem::path base_dir)
    : base_dir_(std::move(base_dir)) {}

void ControllerTables::RegisterTables() {
  ControllerLockGuard guard(Lock);
  MapTableIndex = AddTable(Tables, base_dir_, "mesmaps", "", "", false, false);
  PersonTableIndex = AddTable(Tables, base_dir_, "otvl", "", "", false, false);
  PersonLinkTableIndex = AddTable(Tables, base_dir_, "otvls", "", "", false, false);
  ObjectTableIndex = AddTable(Tables, base_dir_, "object", "", "", false, false);
}

TBaseClient* ControllerTables::Table(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= Tables.size()) return nullptr;
  return Tables[static_cast<size_t>(index)].get();
}

void ControllerTables::TableRefreshed(std::string_view name) {
  ControllerLockGuard guard(Lock);
  if (name == "mesmaps") {
    RebuildPictureLists();
  } else if (name == "otvls") {
    RebuildPersonLists();
  } else if (name == "object") {
    RebuildObjectIndex();
  }
}

void ControllerTables::RebuildObjectIndex() {
  int64_t lo = 16777215, hi = 0;
  if (TBaseClient* objects = Table(ObjectTableIndex); objects && !objects->Fields.empty()) {
    // Every physical row counts, deleted ones too.
    const std::vector<int32_t>& numbers = objects->Fields[0]->Data.Ints;
    size_t rows = std::min(static_cast<size_t>(std::max(objects->RowCount(), 0)), numbers.size());
    for (size_t i = 0; i < rows; ++i) {
      lo = std::min<int64_t>(lo, numbers[i]);
      hi = std::max<int64_t>(hi, numbers[i]);
    }
  }
  if (lo == 16777215) lo = 0;
  int64_t span = std::clamp<int64_t>(hi - lo + 1, 1, kMaxObjectSpan);
  ObjectPersons.assign(static_cast<size_t>(span), {});
  ObjectPictures.assign(static_cast<size_t>(span), {});
  MinObjectRecord = static_cast<int32_t>(lo);
  RebuildPersonLists();
  RebuildPictureLists();
}

void ControllerTables::RebuildPersonLists() {
  for (auto& entry : ObjectPersons) entry.clear();
  TBaseClient* links = Table(PersonLinkTableIndex);
  TBaseClient* persons = Table(PersonTableIndex);
  if (!links || !persons) {
    ++ListsVersion;
    return;
  }
  for (int32_t i = 1; i <= links->Count(); ++i) {
    int32_t object = 0, p = 0;
    if (!IntegerAt(*links, 7, i, object) || !IntegerAt(*links, 8, i, p)) continue;
    int64_t k = int64_t{object} - MinObjectRecord;
    if (p < 1 || k < 0 || k >= static_cast<int64_t>(ObjectPersons.size())) continue;
    int32_t r = persons->RowOfNumber(p);
    if (r != 0) ObjectPersons[static_cast<size_t>(k)].push_back(r);
  }
  ++ListsVersion;
}

void ControllerTables::RebuildPictureLists() {
  for (auto& entry : ObjectPictures) entry.clear();
  TBaseClient* maps = Table(MapTableIndex);
  if (!maps) {
    ++ListsVersion;
    return;
  }
  for (int32_t i = 1; i <= maps->Count(); ++i) {
    int32_t object = 0;
    if (!IntegerAt(*maps, 7, i, object)) continue;
    int64_t k = int64_t{object} - MinObjectRecord;
    if (k >= 0 && k < static_cast<int64_t>(ObjectPictures.size()))
      ObjectPictures[static_cast<size_t>(k)].push_back(i);
  }
  ++ListsVersion;
}

}  // namespace ab
