#pragma once
// The /GetObjects fixture of the benchmarks: 10,000 selected objects with 2 pictures and 3
// persons each, in real tables loaded from raw table images.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "support/object_tables.h"
#include "tables/base_client.h"
#include "tables/table_file_writer.h"
#include "web/base_client_table.h"
#include "web/web_table.h"

namespace ab::bench {

struct ObjectsFixture {
  std::filesystem::path dir;
  std::unique_ptr<TBaseClient> objects, persons, pictures;
  std::unique_ptr<BaseClientTable> object_view, person_view, picture_view;
  PerObjectLists object_persons, object_pictures;
  WebTableSet set;

  explicit ObjectsFixture(int objects_count = kDefaultObjects) {
    dir = std::filesystem::temp_directory_path() / ("ab-web-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    ObjectTables data = MakeObjectTables(objects_count);
    objects = Load(data.Objects);
    persons = Load(data.Persons);
    pictures = Load(data.Pictures);
    object_persons.resize(objects_count);
    object_pictures.resize(objects_count);
    for (int i = 0; i < objects_count; ++i) {
      object_persons[i] = {3 * i + 1, 3 * i + 2, 3 * i + 3};
      object_pictures[i] = {2 * i + 1, 2 * i + 2};
    }
    object_view = std::make_unique<BaseClientTable>(*objects);
    person_view = std::make_unique<BaseClientTable>(*persons);
    picture_view = std::make_unique<BaseClientTable>(*pictures);
    set = {object_view.get(), person_view.get(), picture_view.get(), 1000,
           &object_persons,   &object_pictures};
  }

  ~ObjectsFixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::unique_ptr<TBaseClient> Load(const TableData& data) {
    auto t = std::make_unique<TBaseClient>(dir);
    t->NameTable = data.Name;
    t->RawFile = true;
    if (t->LoadRawImage(BuildRawTable(data)) != TableLoadResult::kLoaded) std::abort();
    return t;
  }
};

}  // namespace ab::bench
