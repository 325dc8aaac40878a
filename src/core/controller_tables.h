#pragma once
// The four server tables the driver reads and, per guarded object, the lists of its responsible
// persons and map pictures. The controller window holds one of these; the link fills the tables
// and calls TableRefreshed; the HTTP handlers read everything under Lock.
//
// Entry k of ObjectPersons and ObjectPictures belongs to the object whose record number is
// MinObjectRecord + k. ObjectPersons holds physical rows of "otvl" (read with FieldAtRow),
// ObjectPictures view rows of "mesmaps" (select with SetRecordIndex).

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "core/controller_tables_lock.h"
#include "tables/base_client.h"

namespace ab {

class ControllerTables {
 public:
  // The per-object lists span at most this many record numbers (2 x 24 MiB of empty lists):
  // a few absurd record numbers must not allocate gigabytes. Objects whose number lies beyond
  // MinObjectRecord + kMaxObjectSpan - 1 get no lists, as if out of range.
  static constexpr int64_t kMaxObjectSpan = int64_t{1} << 20;

  // Tables are created under base_dir (their "temp" folder); nothing is registered yet.
  explicit ControllerTables(std::filesystem::path base_dir);

  // Registers "mesmaps", "otvl", "otvls" and "object", in this order, with all fields, no filter
  // and no local files, and keeps their indexes.
  void RegisterTables() AB_EXCLUDES(Lock);

  // The link's table callback, on its thread, without Lock held: rebuilds what depends on the
  // named table ("mesmaps": pictures, "otvls": persons, "object": everything).
  void TableRefreshed(std::string_view name) AB_EXCLUDES(Lock);

  void RebuildObjectIndex() AB_REQUIRES(Lock);
  void RebuildPersonLists() AB_REQUIRES(Lock);
  void RebuildPictureLists() AB_REQUIRES(Lock);

  ControllerMutex Lock;
  TBaseC Tables AB_GUARDED_BY(Lock);
  int32_t ObjectTableIndex AB_GUARDED_BY(Lock) = -1;
  int32_t PersonTableIndex AB_GUARDED_BY(Lock) = -1;
  int32_t PersonLinkTableIndex AB_GUARDED_BY(Lock) = -1;
  int32_t MapTableIndex AB_GUARDED_BY(Lock) = -1;
  int32_t MinObjectRecord AB_GUARDED_BY(Lock) = 0;
  std::vector<std::vector<int32_t>> ObjectPersons AB_GUARDED_BY(Lock);
  std::vector<std::vector<int32_t>> ObjectPictures AB_GUARDED_BY(Lock);
  // Moves at the end of every rebuild of either list, so that an answer built from the lists
  // can be reused while it stays put.
  uint64_t ListsVersion AB_GUARDED_BY(Lock) = 0;

 private:
  TBaseClient* Table(int32_t index) AB_REQUIRES(Lock);

  std::filesystem::path base_dir_;
};

}  // namespace ab
