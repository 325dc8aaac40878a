#include "tables/base_client.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "tables/conversion_error.h"
#include "tables/table_texts.h"

namespace ab {

TBaseClient::TBaseClient(std::filesystem::path base_dir) : BaseDir_(std::move(base_dir)) {
  std::error_code ec;
  std::filesystem::create_directories(BaseDir_ / "temp", ec);
}

std::filesystem::path TBaseClient::CacheDir() const { return BaseDir_ / "temp" / NameTable; }
std::filesystem::path TBaseClient::ArchiveDir() const { return BaseDir_ / "arh" / NameTable; }

int32_t TBaseClient::AddField(const FieldDescriptor& d) {
  ++ChangeCount_;
  std::string name = d.Name.substr(0, 15);
  for (size_t i = 0; i < Fields.size(); ++i)
    if (Fields[i]->FieldName == name) return static_cast<int32_t>(i);
  Fields.push_back(std::make_unique<FieldGFB>(this, d));
  return static_cast<int32_t>(Fields.size() - 1);
}

void TBaseClient::Clear() {
  ++ChangeCount_;
  RowCount_ = 0;
  Count_ = 0;
  Fields.clear();
}

FieldGFB* TBaseClient::FindField(std::string_view name) const {
  for (const auto& f : Fields)
    if (f->FieldName == name) return f.get();
  return nullptr;
}

FieldGFB* TBaseClient::FieldByName(std::string_view name) {
  for (const auto& f : Fields) {
    if (f->FieldName == name && f->FieldType != 0) {
      if (!View_.empty()) CurrentRow_ = CursorRow_;
      return f.get();
    }
  }
  return nullptr;
}

FieldGFB* TBaseClient::FieldByNameAt(std::string_view name, int32_t view_row) {
  for (const auto& f : Fields) {
    if (f->FieldName == name && f->FieldType != 0) {
      if (view_row >= 1 && static_cast<size_t>(view_row) <= View_.size())
        CurrentRow_ = View_[static_cast<size_t>(view_row - 1)];
      return f.get();
    }
  }
  return nullptr;
}

FieldGFB* TBaseClient::FieldByNumberAt(int32_t number, int32_t view_row) {
  if (number < 1 || static_cast<size_t>(number) > Fields.size()) return nullptr;
  if (view_row >= 1 && static_cast<size_t>(view_row) <= View_.size())
    CurrentRow_ = View_[static_cast<size_t>(view_row - 1)];
  return Fields[static_cast<size_t>(number - 1)].get();
}

FieldGFB* TBaseClient::FieldAtRow(int32_t number, int32_t row) {
  CurrentRow_ = row;
  if (number < 1 || static_cast<size_t>(number) > Fields.size()) return nullptr;
  return Fields[static_cast<size_t>(number - 1)].get();
}

int32_t TBaseClient::RecordIndex() {
  if (RecordIndex_ == 0) RecordIndex_ = 1;
  return RecordIndex_;
}

void TBaseClient::SetRecordIndex(int32_t n) {
  if (View_.empty()) return;
  if (n < 1) {
    RecordIndex_ = 1;
    CursorRow_ = View_[0];
  } else {
    // A position beyond the view would read outside it; callers pass 1..Count.
    if (static_cast<size_t>(n) > View_.size()) return;
    RecordIndex_ = n;
    CursorRow_ = View_[static_cast<size_t>(n - 1)];
  }
  CurrentRow_ = CursorRow_;
}

int32_t TBaseClient::RowOfNumber(int64_t n) const {
  if (n < NumberMin_ || n > NumberMax_) return 0;
  auto k = static_cast<size_t>(n - NumberMin_);
  return k < NumberIndex_.size() ? NumberIndex_[k] : 0;
}

void TBaseClient::SetSorted(bool v) {
  Sorted_ = v;
  Refresh();
}
void TBaseClient::SetFiltered(bool v) {
  Filtered_ = v;
  Refresh();
}
void TBaseClient::SetMasterTable(TBaseClient* master) {
  MasterTable_ = master;
  Refresh();
}
void TBaseClient::SetMasterField(std::string_view name) {
  MasterField_ = std::string(name);
  Refresh();
}
void TBaseClient::SetSlaveField(std::string_view name) {
  SlaveField_ = std::string(name);
  Refresh();
}

namespace {

enum class Verdict { kNone, kMatch, kMismatch };

template <typename T>
Verdict CompareOrdered(T v, T c, uint8_t op) {
  bool m;
  switch (op) {
    case 0:
      m = v == c;
      break;
    case 1:
      m = v != c;
      break;
    case 2:
      m = v < c;
      break;
    case 3:
      m = v > c;
      break;
    case 4:
      m = v <= c;
      break;
    case 5:
      m = v >= c;
      break;
    default:
      return Verdict::kNone;
  }
  return m ? Verdict::kMatch : Verdict::kMismatch;
}

Verdict CompareText(const std::string& text, const FieldGFB& f) {
  const std::string& c = f.FilterValueText;
  uint8_t op = f.FilterOperator;
  if (op == 0 || op == 1) {
    bool m;
    switch (f.FilterMode) {
      // An empty comparison text is never contained in a text.
      case 0:
        m = !c.empty() && text.find(c) != std::string::npos;
        break;
      case 1:
        m = text.size() >= c.size() && text.compare(text.size() - c.size(), c.size(), c) == 0;
        break;
      case 2:
        m = text.compare(0, c.size(), c) == 0 && text.size() >= c.size();
        break;
      case 3:
        m = text == c;
        break;
      default:
        return Verdict::kNone;
    }
    if (op == 1) m = !m;
    return m ? Verdict::kMatch : Verdict::kMismatch;
  }
  return CompareOrdered<std::string_view>(text, c, op);
}

Verdict Condition(const FieldGFB& f, size_t row0) {
  switch (f.FieldType) {
    case kTypeInt: {
      int32_t v = row0 < f.Data.Ints.size() ? f.Data.Ints[row0] : 0;
      return CompareOrdered(v, f.FilterValueInt, f.FilterOperator);
    }
    case kTypeByte: {
      uint8_t v = row0 < f.Data.Bytes.size() ? f.Data.Bytes[row0] : 0;
      return CompareOrdered(v, f.FilterValueByte, f.FilterOperator);
    }
    case kTypeShortText:
      return CompareText(LowerText(f.SlotText(row0)), f);
    default:
      return Verdict::kNone;
  }
}

}  // namespace

void TBaseClient::Refresh() {
  ++ChangeCount_;  // also when there is nothing to rebuild: the caller may have written Fields
  if (Fields.size() < 2 || Fields[1]->Data.Bytes.empty()) return;
  const FieldGFB& first = *Fields[0];
  const std::vector<uint8_t>& flags = Fields[1]->Data.Bytes;

  int32_t sort_number = 0;
  FieldGFB* sort_field = nullptr;
  for (size_t i = 0; i < Fields.size(); ++i) {
    if (Fields[i]->FieldName == Sort) {
      sort_field = Fields[i].get();
      sort_number = static_cast<int32_t>(i + 1);
      break;
    }
  }
  if (!sort_field) Sorted_ = false;
  FieldGFB* slave = FindField(SlaveField_);
  int64_t key_min = 1048575, key_max = -1048575;
  int32_t number_min = 16777215, number_max = 0;

  // Built in the previous view's spare array: a rebuild after every change must not allocate.
  std::vector<int32_t>& view = ViewSpare_;
  std::vector<std::pair<std::string, int32_t>> keys;

  std::vector<const FieldGFB*> conditions;
  if (Filtered_)
    for (const auto& f : Fields)
      if (f->FilterActive) conditions.push_back(f.get());

  // The master's value is looked up once per rebuild: the lookups are the same for every row.
  bool master_looked_up = false;
  bool master_active = false;
  int32_t master_value = 0;

  // A row without a p_d byte is not a row: RowCount may run ahead of the columns after a change
  // record that announced more rows than it grew.
  size_t rows = std::min(static_cast<size_t>(std::max(RowCount_, 0)), flags.size());
  const int32_t* ids = first.Data.Ints.data();
  const size_t id_count = first.Data.Ints.size();
  // Every table of the system takes this path: no filter, master or sort, so the view is the
  // non-deleted rows in order, collected by a loop with nothing but locals in it.
  const bool plain = conditions.empty() && !MasterTable_ && !Sorted_;
  bool guessed = false;
  if (plain) {
    // Only growth is zero-filled; every element up to `kept` is written below.
    if (view.size() < rows) view.resize(rows);
    int32_t* out = view.data();
    size_t kept = 0;
    const uint8_t* fl = flags.data();
    // The record numbers rarely change their range between rebuilds: fill the index for the
    // previous range on the way and redo it below only when the range turned out different.
    guessed = !NumberIndex_.empty();
    if (guessed) std::fill(NumberIndex_.begin(), NumberIndex_.end(), 0);
    const int32_t guess_min = NumberMin_, guess_max = NumberMax_;
    int32_t* index = NumberIndex_.data();
    for (size_t i = 0; i < rows; ++i) {
      if (fl[i] & 1) continue;
      int32_t n = i < id_count ? ids[i] : 0;
      number_max = std::max(number_max, n);
      number_min = std::min(number_min, n);
      out[kept++] = static_cast<int32_t>(i + 1);
      if (guessed && n >= guess_min && n <= guess_max)
        index[static_cast<size_t>(n - guess_min)] = static_cast<int32_t>(i + 1);
    }
    view.resize(kept);
  }
  if (!plain) {
    view.clear();
    view.reserve(rows);
  }
  for (size_t i = 0; i < rows && !plain; ++i) {
    if (flags[i] & 1) continue;
    if (!conditions.empty()) {
      bool any_match = false, any_mismatch = false, counted = false;
      for (const FieldGFB* f : conditions) {
        Verdict v = Condition(*f, i);
        if (v == Verdict::kNone) continue;
        counted = true;
        (v == Verdict::kMatch ? any_match : any_mismatch) = true;
      }
      if (counted && ((FilterOper == 0 && any_mismatch) || (FilterOper == 1 && !any_match)))
        continue;
    }
    if (MasterTable_) {
      if (!master_looked_up) {
        master_looked_up = true;
        FieldGFB* mf = MasterTable_->FieldByName(MasterField_);
        FieldGFB* sf = FieldByName(SlaveField_);
        master_active = mf && sf;
        try {
          if (master_active) master_value = mf->AsInteger();
        } catch (const ConversionError&) {
          master_active = false;  // no comparable value: as if the field were missing
        }
      }
      if (master_active) {
        int32_t v = slave && i < slave->Data.Ints.size() ? slave->Data.Ints[i] : 0;
        if (v != master_value) continue;
      }
    }
    int32_t r = static_cast<int32_t>(i + 1);
    int32_t n = i < first.Data.Ints.size() ? first.Data.Ints[i] : 0;
    number_max = std::max(number_max, n);
    number_min = std::min(number_min, n);
    view.push_back(r);
    if (Sorted_) {
      FieldGFB* f = FieldAtRow(sort_number, r);
      if (f->FieldType == kTypeInt) {
        int32_t v = f->AsInteger();
        key_min = std::min<int64_t>(key_min, v);
        key_max = std::max<int64_t>(key_max, v);
        keys.emplace_back(std::to_string(v), r);
      } else {
        keys.emplace_back(f->AsString(), r);
      }
    }
  }

  if (Sorted_) {
    if (sort_field->FieldType != kTypeCoded32 && sort_field->FieldType != kTypeShortText) {
      size_t w = std::max(std::to_string(key_min).size(), std::to_string(key_max).size());
      for (auto& k : keys)
        if (k.first.size() < w) k.first.insert(0, w - k.first.size(), '0');
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return CollateLess(a.first, b.first); });
    for (size_t k = 0; k < keys.size(); ++k) view[k] = keys[k].second;
  }

  View_.swap(view);
  Count_ = static_cast<int32_t>(View_.size());

  if (number_min == 16777215) number_min = 0;
  int64_t span = int64_t{number_max} - number_min + 1;
  if (span > kMaxNumberIndexSpan) {
    // Record numbers outside the 24-bit range would make the index gigabytes: no index then,
    // and RowOfNumber finds nothing rather than running out of memory.
    NumberMin_ = 0;
    NumberMax_ = -1;
    NumberIndex_.clear();
  } else if (guessed && number_min == NumberMin_ && number_max == NumberMax_) {
    // Filled in the loop above.
  } else {
    NumberMin_ = number_min;
    NumberMax_ = number_max;
    NumberIndex_.assign(static_cast<size_t>(span), 0);
    int32_t* index = NumberIndex_.data();
    auto enter = [&](size_t i) {
      int32_t n = i < id_count ? ids[i] : 0;
      if (n >= number_min && n <= number_max)
        index[static_cast<size_t>(n - number_min)] = static_cast<int32_t>(i + 1);
    };
    if (plain) {
      // The view holds exactly the non-deleted rows, ascending.
      for (int32_t r : View_) enter(static_cast<size_t>(r - 1));
    } else {
      for (size_t i = 0; i < rows; ++i)
        if (!(flags[i] & 1)) enter(i);
    }
  }
  if (Count_ == 0) CurrentRow_ = -1;
  if (OnRefresh) OnRefresh(*this);
}

namespace {

bool HasMember(std::string_view object, std::string_view name) {
  std::string key = "\"" + std::string(name) + "\":";
  return object.find(key) != std::string_view::npos;
}

}  // namespace

int32_t AddTable(TBaseC& tables, const std::filesystem::path& base_dir, std::string_view name,
                 std::string_view field_list, std::string_view filter, bool cache, bool archive) {
  size_t index = tables.size();
  for (size_t i = 0; i < tables.size(); ++i) {
    if (tables[i]->NameTable == name) {
      index = i;
      break;
    }
  }
  if (index == tables.size()) {
    auto t = std::make_unique<TBaseClient>(base_dir);
    t->ComponentName = "base" + std::to_string(index);
    t->NameTable = std::string(name);
    tables.push_back(std::move(t));
  }
  TBaseClient& t = *tables[index];
  t.Loaded = false;
  t.ExpectedFile.clear();
  t.CacheEnabled = cache;
  t.ArchiveEnabled = archive;
  std::error_code ec;
  if (cache) std::filesystem::create_directories(t.CacheDir(), ec);
  if (archive) std::filesystem::create_directories(t.ArchiveDir(), ec);

  t.FieldsRequest.clear();
  if (!field_list.empty() && field_list != "*") {
    std::string members;
    size_t start = 0;
    for (;;) {
      size_t comma = field_list.find(',', start);
      std::string_view part = field_list.substr(
          start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
      if (!members.empty()) members += ',';
      members += "\"" + std::string(part) + "\":\"1\"";
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    std::string object = "{" + members + "}";
    if (!HasMember(object, "p_d")) object.insert(1, "\"p_d\":\"1\",");
    if (!HasMember(object, "n_abs")) object.insert(1, "\"n_abs\":\"1\",");
    t.FieldsRequest = std::move(object);
  }
  t.FilterRequest = "{" + std::string(filter) + "}";
  t.RequestBuilt = false;
  return static_cast<int32_t>(index);
}

}  // namespace ab
