#pragma once
// The simulator's data set: guarded objects, responsible persons, the links between them, map
// pictures and the initial event queue, read from a JSON file (format in DATASET.md) and turned
// into the four tables the driver loads. Texts are held in Windows-1251, as the tables carry
// them.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tables/table_file_writer.h"

namespace ab::sim {

inline constexpr int64_t kUnix2000 = 946684800;  // 2000-01-01 00:00:00 UTC in Unix seconds

struct ObjectRow {
  int32_t Id = 0;
  int32_t Number = 0;
  int32_t Typeo = 0;
  std::string Name, Street, District, House, Phone, Type, SensorId, SensorLocation;
  double Lon = 0, Lat = 0;
  bool Active = true;
  bool Served = true;
  int32_t State = 0;
  uint32_t Updated = 0;    // seconds since 2000-01-01
  uint32_t StateTime = 0;  // seconds since 2000-01-01
  bool Deleted = false;
};

struct PersonRow {
  int32_t Id = 0;
  std::string Name, Position, HomePhone, WorkPhone, MobilePhone;
  bool Deleted = false;
};

struct LinkRow {
  int32_t Id = 0;  // record number in "otvls": 1, 2, ... in file order
  int32_t Object = 0;
  int32_t Person = 0;
  bool Deleted = false;
};

struct PictureRow {
  int32_t Id = 0;
  int32_t Object = 0;
  std::string File;  // file name the server knows the picture by
  std::string Caption;
  std::string Bytes;
  bool Deleted = false;
};

struct DataSet {
  std::vector<ObjectRow> Objects;
  std::vector<PersonRow> Persons;
  std::vector<LinkRow> Links;
  std::vector<PictureRow> Pictures;
  std::vector<std::string> Events;  // JSON objects in Windows-1251, without "inc_counter"

  ObjectRow* FindObject(int32_t id);
};

struct DataSetRead {
  DataSet Data;
  std::string Error;  // empty on success; names the file and where it went wrong
};

// Reads the picture that a data set names (its "file" text) into bytes; false with a message
// when it cannot.
using PictureLoader =
    std::function<bool(const std::string& name, std::string& bytes, std::string& error)>;
// Picture files relative to base_dir, at most 8 MiB each.
PictureLoader FilesUnder(std::filesystem::path base_dir);

// now: Unix seconds, the default of the time fields.
DataSetRead ReadDataSetFile(const std::filesystem::path& path, int64_t now);
DataSetRead ReadDataSet(std::string_view text, const PictureLoader& load, int64_t now);
// The demo set compiled into the program (tools/msgserver/demo).
DataSetRead ReadBuiltInDemo(int64_t now);
// Its files by their path under demo/ ("demo.json", "maps/....png"); generated at build time.
const std::map<std::string, std::string>& BuiltInDemoFiles();

// "mesmaps", "otvl", "otvls", "object", in that order.
std::vector<TableData> BuildTables(const DataSet& data);

// An object field a user may change, by its data-set key.
struct ObjectFieldChange {
  std::vector<ChangeEntry> Entries;  // the changed field and the times that follow it
  std::string Error;
};
// Sets field `key` of the object to value (UTF-8 text as typed) and returns the row-change
// entries that carry the change, or an error naming the keys that exist.
ObjectFieldChange ChangeObject(ObjectRow& object, const std::string& key, const std::string& value,
                               int64_t now);

// The key of an object field that ChangeObject accepts, one per line, for help texts.
std::string ChangeableFields();

}  // namespace ab::sim
