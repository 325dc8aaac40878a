#pragma once
// Table data of the benchmarks: selected objects with 2 pictures and 3 persons each, as the
// message server would send them (record numbers of objects from 1000).

#include <map>
#include <string>

#include "tables/table_file_writer.h"

namespace ab::bench {

constexpr int kDefaultObjects = 10000;

// Windows-1251 texts with Cyrillic, quotes and slashes, so conversion and escaping do work.
inline const std::string kName = "\xd1\xea\xeb\xe0\xe4 \"\xd1\xe5\xe2\xe5\xf0\" 1/2";
inline const std::string kStreet = "\xf3\xeb. \xcb\xe5\xed\xe8\xed\xe0";

inline FieldData Field(std::string name, uint8_t type, int32_t width = 0) {
  FieldData f;
  f.Name = std::move(name);
  f.Type = type;
  f.Width = width;
  return f;
}

inline TableData Table(const std::string& name, int32_t rows, int32_t count,
                       std::map<int32_t, FieldData> given) {
  TableData t;
  t.Name = name;
  t.RowCount = rows;
  for (int32_t n = 1; n <= count; ++n) {
    auto it = given.find(n);
    t.Fields.push_back(it != given.end() ? std::move(it->second)
                                         : Field("f" + std::to_string(n), 24));
  }
  return t;
}

struct ObjectTables {
  TableData Objects;   // "object"
  TableData Persons;   // "otvl"
  TableData Pictures;  // "mesmaps", field 7 the object
  TableData Links;     // "otvls": field 7 the object, field 8 the person
};

inline ObjectTables MakeObjectTables(int objects_count) {
  ObjectTables t;
  FieldData n = Field("n_abs", 1), pd = Field("p_d", 3), dt = Field("r_dt", 8),
            name = Field("name", 24), street = Field("street", 2, 40),
            house = Field("house", 2, 10), phone = Field("phone", 2, 20),
            type = Field("type", 2, 20), lon = Field("lon", 6), lat = Field("lat", 6),
            state = Field("state", 11, 4), flags = Field("flags", 11, 2);
  for (int i = 0; i < objects_count; ++i) {
    n.Numbers.push_back(1000 + i);
    pd.Numbers.push_back(0);
    dt.Numbers.push_back(762962829 + i);
    name.Texts.push_back(kName + std::to_string(i));
    street.Texts.push_back(kStreet);
    house.Texts.push_back(std::to_string(i % 200));
    phone.Texts.push_back("+7 (495) 123-45-67");
    type.Texts.push_back("\xc1\xe0\xed\xea");
    lon.Reals.push_back(37.5 + i * 1e-4);
    lat.Reals.push_back(55.75 - i * 1e-4);
    state.Texts.push_back(std::string("\0\0\0\0", 4));
    flags.Texts.push_back(std::string("\x20\0", 2));
  }
  t.Objects = (Table("object", objects_count, 210,
                     {{1, n},
                      {2, pd},
                      {4, dt},
                      {8, name},
                      {9, street},
                      {12, house},
                      {13, phone},
                      {21, type},
                      {25, lon},
                      {26, lat},
                      {29, state},
                      {139, flags}}));
  FieldData pn = Field("n_abs", 1), ppd = Field("p_d", 3), fio = Field("fio", 24),
            pos = Field("pos", 24), home = Field("home", 2, 20), work = Field("work", 2, 20),
            mob = Field("mob", 2, 20);
  for (int i = 0; i < objects_count * 3; ++i) {
    pn.Numbers.push_back(1 + i);
    ppd.Numbers.push_back(0);
    fio.Texts.push_back("\xc8\xe2\xe0\xed\xee\xe2 \xc8.\xc8.");
    pos.Texts.push_back(i % 3 ? "" : "\xce\xf5\xf0\xe0\xed\xed\xe8\xea");
    home.Texts.push_back(i % 2 ? "" : "495-000-00-00");
    work.Texts.push_back("495-111-11-11");
    mob.Texts.push_back("+79001234567");
  }
  t.Persons = (Table("otvl", objects_count * 3, 11,
                     {{1, pn}, {2, ppd}, {7, fio}, {8, pos}, {9, home}, {10, work}, {11, mob}}));
  FieldData mn = Field("n_abs", 1), mpd = Field("p_d", 3), obj = Field("obj", 1),
            file = Field("file", 2, 32), caption = Field("caption", 24);
  for (int i = 0; i < objects_count * 2; ++i) {
    mn.Numbers.push_back(1 + i);
    mpd.Numbers.push_back(0);
    obj.Numbers.push_back(1000 + i / 2);
    file.Texts.push_back("plan" + std::to_string(i) + ".png");
    caption.Texts.push_back(i % 2 ? "" : "\xdd\xf2\xe0\xe6 1");
  }
  t.Pictures = (Table("mesmaps", objects_count * 2, 9,
                      {{1, mn}, {2, mpd}, {7, obj}, {8, file}, {9, caption}}));
  FieldData ln = Field("n_abs", 1), lpd = Field("p_d", 3), lobj = Field("obj", 1),
            lper = Field("person", 1);
  for (int i = 0; i < objects_count * 3; ++i) {
    ln.Numbers.push_back(1 + i);
    lpd.Numbers.push_back(0);
    lobj.Numbers.push_back(1000 + i / 3);
    lper.Numbers.push_back(1 + i);
  }
  t.Links = Table("otvls", objects_count * 3, 8, {{1, ln}, {2, lpd}, {7, lobj}, {8, lper}});
  return t;
}

}  // namespace ab::bench
