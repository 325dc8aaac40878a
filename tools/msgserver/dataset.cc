#include "msgserver/dataset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <set>

#include "msgserver/json_reader.h"
#include "util/codepage.h"

namespace ab::sim {

namespace {

constexpr int32_t kTextWidth = 256;  // a length byte and up to 255 characters
constexpr int32_t kMaxRecord = 16777214;
// The driver keeps one list entry per record number between the smallest and largest object.
constexpr int64_t kMaxObjectSpan = 100000;
constexpr std::uintmax_t kMaxPicture = 8u << 20;

enum class Kind { kInt, kByte, kText, kCardinal, kSingle, kFlags };

struct ObjectFieldLayout {
  int Position;
  const char* Name;
  Kind Type;
};

uint8_t TypeCode(Kind k) {
  switch (k) {
    case Kind::kInt:
      return 1;
    case Kind::kByte:
      return 3;
    case Kind::kText:
      return 2;
    case Kind::kCardinal:
      return 8;
    case Kind::kSingle:
      return 6;
    case Kind::kFlags:
      return 11;
  }
  return 1;
}

int32_t WidthOf(Kind k) {
  switch (k) {
    case Kind::kText:
      return kTextWidth;
    case Kind::kFlags:
      return 4;
    case Kind::kByte:
      return 1;
    default:
      return 4;
  }
}

// The fields of "object" that carry data; every other position up to the last is a field of
// the server's schema that the driver does not read, sent without a column.
constexpr ObjectFieldLayout kObjectFields[] = {
    {1, "n_abs", Kind::kInt},           {2, "p_d", Kind::kByte},
    {4, "dt_upd", Kind::kCardinal},     {5, "number", Kind::kInt},
    {6, "typeo", Kind::kByte},          {8, "name", Kind::kText},
    {9, "street", Kind::kText},         {10, "district", Kind::kText},
    {12, "house", Kind::kText},         {13, "phone", Kind::kText},
    {21, "type", Kind::kText},          {25, "lon", Kind::kSingle},
    {26, "lat", Kind::kSingle},         {29, "flags", Kind::kFlags},
    {139, "flags2", Kind::kFlags},      {206, "state", Kind::kInt},
    {207, "state_dt", Kind::kCardinal}, {208, "upd_dt", Kind::kCardinal},
    {209, "sensor_id", Kind::kText},    {210, "sensor_loc", Kind::kText},
};
constexpr int kObjectFieldCount = 210;

const ObjectFieldLayout* FindObjectField(std::string_view name) {
  for (const auto& f : kObjectFields) {
    if (name == f.Name) return &f;
  }
  return nullptr;
}

FieldData Field(const std::string& name, Kind k) {
  FieldData f;
  f.Name = name;
  f.Type = TypeCode(k);
  f.Width = WidthOf(k);
  return f;
}

std::string FlagBytes(bool active, bool served, bool second) {
  std::string b(4, '\0');
  if (second) {
    if (served) b[0] = 0x20;
  } else if (!active) {
    b[1] = 0x40;
  }
  return b;
}

uint8_t DeletedFlag(bool deleted) { return deleted ? 1 : 0; }

// One table with n_abs, p_d, unread fields up to position `last`, and the given columns.
struct TableBuilder {
  TableData T;
  std::map<int, size_t> At;  // position -> index in T.Fields
  TableBuilder(const std::string& name, int rows, int last,
               const std::vector<std::pair<int, FieldData>>& fields) {
    T.Name = name;
    T.RowCount = rows;
    for (int p = 1; p <= last; ++p) {
      FieldData f;
      f.Name = "f" + std::to_string(p);
      f.Block = false;
      for (const auto& [pos, data] : fields) {
        if (pos == p) {
          f = data;
          At[p] = T.Fields.size();
        }
      }
      T.Fields.push_back(f);
    }
  }
  FieldData& operator[](int position) { return T.Fields[At.at(position)]; }
};

// ---- reading ----

class Reader {
 public:
  Reader(const PictureLoader& load, int64_t now) : load_(load), now_(now) {}

  bool Fail(const JsonValue& at, const std::string& what) {
    if (error_.empty()) error_ = at.Where() + ": " + what;
    return false;
  }
  const std::string& Error() const { return error_; }

  bool Keys(const JsonValue& obj, const char* what, std::initializer_list<const char*> allowed) {
    if (obj.Type != JsonValue::Kind::kObject)
      return Fail(obj, std::string(what) + " must be an object");
    for (const auto& [key, value] : obj.Members) {
      bool known = false;
      for (const char* a : allowed) known = known || key == a;
      if (!known) {
        std::string list;
        for (const char* a : allowed) list += std::string(list.empty() ? "" : ", ") + a;
        return Fail(value, "unknown member \"" + key + "\" in " + what + " (known: " + list + ")");
      }
    }
    return true;
  }

  bool Int(const JsonValue& obj, const char* key, int64_t lo, int64_t hi, int64_t& out,
           bool required) {
    const JsonValue* v = obj.Find(key);
    if (v == nullptr) {
      if (required) return Fail(obj, std::string("member \"") + key + "\" is missing");
      return true;
    }
    if (v->Type != JsonValue::Kind::kNumber || std::floor(v->Number) != v->Number ||
        v->Number < static_cast<double>(lo) || v->Number > static_cast<double>(hi)) {
      return Fail(*v, std::string("\"") + key + "\" must be a whole number from " +
                          std::to_string(lo) + " to " + std::to_string(hi));
    }
    out = static_cast<int64_t>(v->Number);
    return true;
  }

  bool Real(const JsonValue& obj, const char* key, double lo, double hi, double& out) {
    const JsonValue* v = obj.Find(key);
    if (v == nullptr) return true;
    if (v->Type != JsonValue::Kind::kNumber || v->Number < lo || v->Number > hi) {
      return Fail(*v, std::string("\"") + key + "\" must be a number from " +
                          std::to_string(static_cast<int>(lo)) + " to " +
                          std::to_string(static_cast<int>(hi)));
    }
    out = v->Number;
    return true;
  }

  bool Flag(const JsonValue& obj, const char* key, bool& out) {
    const JsonValue* v = obj.Find(key);
    if (v == nullptr) return true;
    if (v->Type != JsonValue::Kind::kBool)
      return Fail(*v, std::string("\"") + key + "\" must be true or false");
    out = v->Bool;
    return true;
  }

  // A text for a table slot, in Windows-1251.
  bool Text(const JsonValue& obj, const char* key, std::string& out) {
    const JsonValue* v = obj.Find(key);
    if (v == nullptr) return true;
    if (v->Type != JsonValue::Kind::kString)
      return Fail(*v, std::string("\"") + key + "\" must be a text");
    out = Utf8ToCp1251(v->Text);
    if (out.size() >= static_cast<size_t>(kTextWidth)) {
      return Fail(*v, std::string("\"") + key + "\" is longer than 255 characters");
    }
    return true;
  }

  bool Time(const JsonValue& obj, const char* key, uint32_t& out) {
    int64_t unix = now_;
    if (!Int(obj, key, kUnix2000, kUnix2000 + std::numeric_limits<uint32_t>::max(), unix, false)) {
      return false;
    }
    out = static_cast<uint32_t>(
        std::clamp<int64_t>(unix - kUnix2000, 0, std::numeric_limits<uint32_t>::max()));
    return true;
  }

  const JsonValue* List(const JsonValue& root, const char* key, bool required) {
    const JsonValue* v = root.Find(key);
    if (v == nullptr) {
      if (required) Fail(root, std::string("member \"") + key + "\" is missing");
      return nullptr;
    }
    if (v->Type != JsonValue::Kind::kArray) {
      Fail(*v, std::string("\"") + key + "\" must be an array");
      return nullptr;
    }
    return v;
  }

  bool Read(const JsonValue& root, DataSet& d) {
    if (!Keys(root, "the data set", {"objects", "persons", "links", "pictures", "events"}))
      return false;
    const JsonValue* objects = List(root, "objects", true);
    if (objects == nullptr) return false;
    std::set<int32_t> ids;
    for (const auto& o : objects->Items) {
      if (!Keys(o, "an object",
                {"id", "number", "typeo", "name", "street", "district", "house", "phone", "type",
                 "lon", "lat", "active", "served", "state", "state_time", "updated", "sensor_id",
                 "sensor_location"})) {
        return false;
      }
      ObjectRow r;
      int64_t id = 0, number = -1, typeo = 0, state = 0;
      if (!Int(o, "id", 1, kMaxRecord, id, true) ||
          !Int(o, "number", 0, std::numeric_limits<int32_t>::max(), number, false) ||
          !Int(o, "typeo", 0, 255, typeo, false) ||
          !Int(o, "state", 0, std::numeric_limits<int32_t>::max() - 1, state, false) ||
          !Text(o, "name", r.Name) || !Text(o, "street", r.Street) ||
          !Text(o, "district", r.District) || !Text(o, "house", r.House) ||
          !Text(o, "phone", r.Phone) || !Text(o, "type", r.Type) ||
          !Text(o, "sensor_id", r.SensorId) || !Text(o, "sensor_location", r.SensorLocation) ||
          !Real(o, "lon", -180, 180, r.Lon) || !Real(o, "lat", -90, 90, r.Lat) ||
          !Flag(o, "active", r.Active) || !Flag(o, "served", r.Served) ||
          !Time(o, "updated", r.Updated) || !Time(o, "state_time", r.StateTime)) {
        return false;
      }
      r.Id = static_cast<int32_t>(id);
      r.Number = static_cast<int32_t>(number < 0 ? id : number);
      r.Typeo = static_cast<int32_t>(typeo);
      r.State = static_cast<int32_t>(state);
      if (!ids.insert(r.Id).second)
        return Fail(o, "object id " + std::to_string(id) + " given twice");
      d.Objects.push_back(std::move(r));
    }
    if (!ids.empty() && *ids.rbegin() - *ids.begin() > kMaxObjectSpan) {
      return Fail(*objects, "object ids span more than " + std::to_string(kMaxObjectSpan) +
                                " numbers (the driver keeps a list entry for every number between "
                                "the smallest and the largest)");
    }

    std::set<int32_t> person_ids;
    if (const JsonValue* persons = List(root, "persons", false)) {
      for (const auto& p : persons->Items) {
        if (!Keys(p, "a person",
                  {"id", "name", "position", "home_phone", "work_phone", "mobile_phone"})) {
          return false;
        }
        PersonRow r;
        int64_t id = 0;
        if (!Int(p, "id", 1, kMaxRecord, id, true) || !Text(p, "name", r.Name) ||
            !Text(p, "position", r.Position) || !Text(p, "home_phone", r.HomePhone) ||
            !Text(p, "work_phone", r.WorkPhone) || !Text(p, "mobile_phone", r.MobilePhone)) {
          return false;
        }
        r.Id = static_cast<int32_t>(id);
        if (!person_ids.insert(r.Id).second)
          return Fail(p, "person id " + std::to_string(id) + " given twice");
        d.Persons.push_back(std::move(r));
      }
    } else if (!error_.empty()) {
      return false;
    }

    if (const JsonValue* links = List(root, "links", false)) {
      for (const auto& l : links->Items) {
        if (!Keys(l, "a link", {"object", "person"})) return false;
        int64_t object = 0, person = 0;
        if (!Int(l, "object", 1, kMaxRecord, object, true) ||
            !Int(l, "person", 1, kMaxRecord, person, true)) {
          return false;
        }
        if (ids.count(static_cast<int32_t>(object)) == 0) {
          return Fail(l,
                      "link to object " + std::to_string(object) + ", which is not in \"objects\"");
        }
        if (person_ids.count(static_cast<int32_t>(person)) == 0) {
          return Fail(l,
                      "link to person " + std::to_string(person) + ", which is not in \"persons\"");
        }
        d.Links.push_back({static_cast<int32_t>(d.Links.size() + 1), static_cast<int32_t>(object),
                           static_cast<int32_t>(person), false});
      }
    } else if (!error_.empty()) {
      return false;
    }

    if (const JsonValue* pictures = List(root, "pictures", false)) {
      std::set<int32_t> picture_ids;
      std::set<std::string> names;
      for (const auto& p : pictures->Items) {
        if (!Keys(p, "a picture", {"id", "object", "file", "caption"})) return false;
        PictureRow r;
        int64_t id = 0, object = 0;
        std::string file;
        if (!Int(p, "id", 1, kMaxRecord, id, true) ||
            !Int(p, "object", 1, kMaxRecord, object, true) || !Text(p, "caption", r.Caption)) {
          return false;
        }
        const JsonValue* f = p.Find("file");
        if (f == nullptr || f->Type != JsonValue::Kind::kString || f->Text.empty()) {
          return Fail(f ? *f : p, "\"file\" must name the picture's image file");
        }
        if (ids.count(static_cast<int32_t>(object)) == 0) {
          return Fail(
              p, "picture of object " + std::to_string(object) + ", which is not in \"objects\"");
        }
        std::string problem;
        if (!load_(f->Text, r.Bytes, problem)) return Fail(*f, problem);
        r.Id = static_cast<int32_t>(id);
        r.Object = static_cast<int32_t>(object);
        const std::string file_name = std::filesystem::path(f->Text).filename().string();
        r.File = Utf8ToCp1251(file_name);
        if (r.File.size() >= static_cast<size_t>(kTextWidth))
          return Fail(*f, "the file name is longer than 255 characters");
        if (!picture_ids.insert(r.Id).second)
          return Fail(p, "picture id " + std::to_string(id) + " given twice");
        if (!names.insert(r.File).second) {
          return Fail(*f, "two pictures share the file name " + file_name +
                              " (the server knows pictures by file name)");
        }
        d.Pictures.push_back(std::move(r));
      }
    } else if (!error_.empty()) {
      return false;
    }

    if (const JsonValue* events = List(root, "events", false)) {
      for (const auto& e : events->Items) {
        if (e.Type != JsonValue::Kind::kObject) return Fail(e, "an event must be an object");
        if (e.Find("inc_counter") != nullptr) {
          return Fail(*e.Find("inc_counter"),
                      "\"inc_counter\" is given by the server's queue, not by the data set");
        }
        d.Events.push_back(Utf8ToCp1251(Compact(e)));
      }
    } else if (!error_.empty()) {
      return false;
    }
    return true;
  }

  static std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        static const char kHex[] = "0123456789abcdef";
        out += "\\u00";
        out += kHex[(c >> 4) & 0xF];
        out += kHex[c & 0xF];
      } else {
        out += c;
      }
    }
    return out + "\"";
  }

  static std::string Compact(const JsonValue& v) {
    switch (v.Type) {
      case JsonValue::Kind::kNull:
        return "null";
      case JsonValue::Kind::kBool:
        return v.Bool ? "true" : "false";
      case JsonValue::Kind::kNumber:
        return v.Text;
      case JsonValue::Kind::kString:
        return Quote(v.Text);
      case JsonValue::Kind::kArray: {
        std::string out = "[";
        for (size_t i = 0; i < v.Items.size(); ++i) out += (i ? "," : "") + Compact(v.Items[i]);
        return out + "]";
      }
      case JsonValue::Kind::kObject: {
        std::string out = "{";
        for (size_t i = 0; i < v.Members.size(); ++i) {
          out += (i ? "," : "") + Quote(v.Members[i].first) + ":" + Compact(v.Members[i].second);
        }
        return out + "}";
      }
    }
    return "null";
  }

 private:
  const PictureLoader& load_;
  int64_t now_;
  std::string error_;
};

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes SingleValue(double v) {
  const auto f = static_cast<float>(v);
  uint32_t bits = 0;
  std::memcpy(&bits, &f, 4);
  return IntValue(bits, 4);
}

}  // namespace

ObjectRow* DataSet::FindObject(int32_t id) {
  for (auto& o : Objects) {
    if (o.Id == id) return &o;
  }
  return nullptr;
}

PictureLoader FilesUnder(std::filesystem::path base_dir) {
  return [base = std::move(base_dir)](const std::string& name, std::string& bytes,
                                      std::string& error) {
    const std::filesystem::path path = base / std::filesystem::path(name);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || !std::filesystem::is_regular_file(path, ec)) {
      error = "cannot read picture file " + path.string();
      return false;
    }
    if (size > kMaxPicture) {
      error = "picture file " + path.string() + " is larger than 8 MiB";
      return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      error = "cannot read picture file " + path.string();
      return false;
    }
    return true;
  };
}

DataSetRead ReadBuiltInDemo(int64_t now) {
  const auto& files = BuiltInDemoFiles();
  const PictureLoader load = [&files](const std::string& name, std::string& bytes,
                                      std::string& error) {
    const auto it = files.find(name);
    if (it == files.end()) {
      error = "no built-in picture " + name;
      return false;
    }
    bytes = it->second;
    return true;
  };
  const auto json = files.find("demo.json");
  DataSetRead r = ReadDataSet(json == files.end() ? std::string_view() : json->second, load, now);
  if (!r.Error.empty()) r.Error = "built-in demo data set: " + r.Error;
  return r;
}

DataSetRead ReadDataSet(std::string_view text, const PictureLoader& load, int64_t now) {
  DataSetRead r;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  JsonParse doc = ParseJson(text);
  if (!doc.Error.empty()) {
    r.Error = doc.Error;
    return r;
  }
  Reader reader(load, now);
  if (!reader.Read(doc.Value, r.Data)) {
    r.Error = reader.Error();
    r.Data = {};
  }
  return r;
}

DataSetRead ReadDataSetFile(const std::filesystem::path& path, int64_t now) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    DataSetRead r;
    r.Error = path.string() + ": cannot open the data file";
    return r;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  DataSetRead r = ReadDataSet(text, FilesUnder(path.parent_path()), now);
  if (!r.Error.empty()) r.Error = path.string() + ": " + r.Error;
  return r;
}

std::vector<TableData> BuildTables(const DataSet& d) {
  const FieldData text = Field("", Kind::kText);
  auto named = [](FieldData f, const char* name) {
    f.Name = name;
    return f;
  };
  const FieldData n_abs = Field("n_abs", Kind::kInt);
  const FieldData p_d = Field("p_d", Kind::kByte);

  TableBuilder maps("mesmaps", static_cast<int>(d.Pictures.size()), 9,
                    {{1, n_abs},
                     {2, p_d},
                     {7, Field("object", Kind::kInt)},
                     {8, named(text, "file")},
                     {9, named(text, "caption")}});
  for (const auto& p : d.Pictures) {
    maps[1].Numbers.push_back(p.Id);
    maps[2].Numbers.push_back(DeletedFlag(p.Deleted));
    maps[7].Numbers.push_back(p.Object);
    maps[8].Texts.push_back(p.File);
    maps[9].Texts.push_back(p.Caption);
  }

  TableBuilder persons("otvl", static_cast<int>(d.Persons.size()), 11,
                       {{1, n_abs},
                        {2, p_d},
                        {7, named(text, "fio")},
                        {8, named(text, "position")},
                        {9, named(text, "phone_home")},
                        {10, named(text, "phone_work")},
                        {11, named(text, "phone_mob")}});
  for (const auto& p : d.Persons) {
    persons[1].Numbers.push_back(p.Id);
    persons[2].Numbers.push_back(DeletedFlag(p.Deleted));
    persons[7].Texts.push_back(p.Name);
    persons[8].Texts.push_back(p.Position);
    persons[9].Texts.push_back(p.HomePhone);
    persons[10].Texts.push_back(p.WorkPhone);
    persons[11].Texts.push_back(p.MobilePhone);
  }

  TableBuilder links(
      "otvls", static_cast<int>(d.Links.size()), 8,
      {{1, n_abs}, {2, p_d}, {7, Field("object", Kind::kInt)}, {8, Field("person", Kind::kInt)}});
  for (const auto& l : d.Links) {
    links[1].Numbers.push_back(l.Id);
    links[2].Numbers.push_back(DeletedFlag(l.Deleted));
    links[7].Numbers.push_back(l.Object);
    links[8].Numbers.push_back(l.Person);
  }

  std::vector<std::pair<int, FieldData>> object_fields;
  for (const auto& f : kObjectFields) object_fields.emplace_back(f.Position, Field(f.Name, f.Type));
  TableBuilder objects("object", static_cast<int>(d.Objects.size()), kObjectFieldCount,
                       object_fields);
  for (const auto& o : d.Objects) {
    objects[1].Numbers.push_back(o.Id);
    objects[2].Numbers.push_back(DeletedFlag(o.Deleted));
    objects[4].Numbers.push_back(o.Updated);
    objects[5].Numbers.push_back(o.Number);
    objects[6].Numbers.push_back(o.Typeo);
    objects[8].Texts.push_back(o.Name);
    objects[9].Texts.push_back(o.Street);
    objects[10].Texts.push_back(o.District);
    objects[12].Texts.push_back(o.House);
    objects[13].Texts.push_back(o.Phone);
    objects[21].Texts.push_back(o.Type);
    objects[25].Reals.push_back(o.Lon);
    objects[26].Reals.push_back(o.Lat);
    objects[29].Texts.push_back(FlagBytes(o.Active, o.Served, false));
    objects[139].Texts.push_back(FlagBytes(o.Active, o.Served, true));
    objects[206].Numbers.push_back(o.State);
    objects[207].Numbers.push_back(o.StateTime);
    objects[208].Numbers.push_back(o.Updated);
    objects[209].Texts.push_back(o.SensorId);
    objects[210].Texts.push_back(o.SensorLocation);
  }
  return {maps.T, persons.T, links.T, objects.T};
}

namespace {

struct Changeable {
  const char* Key;    // data-set key
  const char* Field;  // table field
};
constexpr Changeable kChangeable[] = {
    {"name", "name"},
    {"street", "street"},
    {"district", "district"},
    {"house", "house"},
    {"phone", "phone"},
    {"type", "type"},
    {"sensor_id", "sensor_id"},
    {"sensor_location", "sensor_loc"},
    {"number", "number"},
    {"typeo", "typeo"},
    {"lon", "lon"},
    {"lat", "lat"},
    {"active", "flags"},
    {"served", "flags2"},
    {"state", "state"},
};

std::optional<int64_t> WholeNumber(const std::string& s, int64_t lo, int64_t hi) {
  if (s.empty()) return std::nullopt;
  size_t used = 0;
  try {
    const long long v = std::stoll(s, &used);
    if (used != s.size() || v < lo || v > hi) return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<double> RealNumber(const std::string& s, double lo, double hi) {
  if (s.empty()) return std::nullopt;
  size_t used = 0;
  try {
    const double v = std::stod(s, &used);
    if (used != s.size() || !(v >= lo && v <= hi)) return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<bool> Boolean(const std::string& s) {
  if (s == "1" || s == "true" || s == "yes" || s == "on") return true;
  if (s == "0" || s == "false" || s == "no" || s == "off") return false;
  return std::nullopt;
}

}  // namespace

std::string ChangeableFields() {
  std::string out;
  for (const auto& c : kChangeable) out += std::string(out.empty() ? "" : " ") + c.Key;
  return out;
}

ObjectFieldChange ChangeObject(ObjectRow& o, const std::string& key, const std::string& value,
                               int64_t now) {
  ObjectFieldChange r;
  const Changeable* c = nullptr;
  for (const auto& x : kChangeable) {
    if (key == x.Key) c = &x;
  }
  if (c == nullptr) {
    r.Error = "unknown field '" + key + "'; fields: " + ChangeableFields();
    return r;
  }
  const ObjectFieldLayout& layout = *FindObjectField(c->Field);
  const auto bad = [&](const std::string& what) {
    r.Error = "'" + key + "' takes " + what;
    return r;
  };
  Bytes bytes;
  switch (layout.Type) {
    case Kind::kText: {
      const std::string text = Utf8ToCp1251(value);
      if (text.size() >= static_cast<size_t>(kTextWidth)) return bad("at most 255 characters");
      std::string* field = key == "name"        ? &o.Name
                           : key == "street"    ? &o.Street
                           : key == "district"  ? &o.District
                           : key == "house"     ? &o.House
                           : key == "phone"     ? &o.Phone
                           : key == "type"      ? &o.Type
                           : key == "sensor_id" ? &o.SensorId
                                                : &o.SensorLocation;
      *field = text;
      bytes = SlotValue(text, kTextWidth);
      break;
    }
    case Kind::kInt:
    case Kind::kByte: {
      const int64_t hi = layout.Type == Kind::kByte ? 255 : std::numeric_limits<int32_t>::max() - 1;
      const auto v = WholeNumber(value, 0, hi);
      if (!v) return bad("a whole number from 0 to " + std::to_string(hi));
      if (key == "number") o.Number = static_cast<int32_t>(*v);
      if (key == "typeo") o.Typeo = static_cast<int32_t>(*v);
      if (key == "state") o.State = static_cast<int32_t>(*v);
      bytes = IntValue(*v, WidthOf(layout.Type));
      break;
    }
    case Kind::kSingle: {
      const double limit = key == "lat" ? 90 : 180;
      const auto v = RealNumber(value, -limit, limit);
      if (!v)
        return bad("a number from " + std::to_string(static_cast<int>(-limit)) + " to " +
                   std::to_string(static_cast<int>(limit)));
      (key == "lat" ? o.Lat : o.Lon) = *v;
      bytes = SingleValue(*v);
      break;
    }
    case Kind::kFlags: {
      const auto v = Boolean(value);
      if (!v) return bad("1 or 0");
      (key == "active" ? o.Active : o.Served) = *v;
      bytes = ToBytes(FlagBytes(o.Active, o.Served, key == "served"));
      break;
    }
    case Kind::kCardinal:
      break;
  }
  r.Entries.push_back({layout.Name, std::move(bytes)});
  const auto stamp = static_cast<uint32_t>(
      std::clamp<int64_t>(now - kUnix2000, 0, std::numeric_limits<uint32_t>::max()));
  if (key == "state") {
    o.StateTime = stamp;
    r.Entries.push_back({"state_dt", IntValue(stamp, 4)});
  } else {
    o.Updated = stamp;
    r.Entries.push_back({"dt_upd", IntValue(stamp, 4)});
    r.Entries.push_back({"upd_dt", IntValue(stamp, 4)});
  }
  return r;
}

}  // namespace ab::sim
