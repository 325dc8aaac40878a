#pragma once
// TBaseClient: one replicated table of the message server held in memory (fields, rows stored
// column by column, a view of the visible rows with a cursor); TBaseC: the array of tables.
//
// Rows and field numbers are 1-based at every interface. Rows are never removed: a deletion sets
// bit value 1 of the row's p_d byte (second field) and the next Refresh leaves it out of View.
//
// Thread safety: none of its own. Every call, reads included, must hold the controller's lock;
// positioning calls move CurrentRow, which all readers share.
//
// Files: every relative path is taken under the base directory given at construction
// ("temp/<table>" caches, "arh/<table>" archives); nothing uses the process's working directory.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tables/field_gfb.h"
#include "tables/table_format.h"

namespace ab {

class TBaseClient;
class ByteSource;

// Stored-only events: set by the owner or the link, never raised by the table.
using TNetData = std::function<void(TBaseClient&, const void* data, int32_t command, int32_t size)>;
using TNetDataSend =
    std::function<void(TBaseClient&, int32_t command, const void* data, int32_t size)>;
using TNetDataSend9 = std::function<void(TBaseClient&, const std::string& data)>;
using TFieldREfreshEvent =
    std::function<void(TBaseClient&, const std::vector<std::string>* fields)>;

// What LoadFromFile found. A malformed raw file is read up to its first fault: what came before
// stays loaded and the end-of-load steps (Loaded, DataChanged, Refresh, file deleted) run as for a
// table-name mismatch, so the link moves on instead of waiting for a file that will not change.
enum class TableLoadResult {
  kNoFile,         // nothing happened
  kLoaded,         // the whole file was read (also when the name did not match)
  kMalformed,      // a count, size, field number or width was invalid, or the file was short
  kInflateFailed,  // invalid zlib data: nothing loaded, Loaded stays false, the file is kept
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class TBaseClient {
 public:
  // Creates base_dir/temp when missing.
  explicit TBaseClient(std::filesystem::path base_dir);
  TBaseClient(const TBaseClient&) = delete;
  TBaseClient& operator=(const TBaseClient&) = delete;

  // ---- fields and positioning ----
  // Index in Fields of the field with the descriptor's name; appends a new field when none has
  // it (an existing field keeps its type and widths).
  int32_t AddField(const FieldDescriptor& d);
  // No rows, no fields. View, NumberIndex and CurrentRow stay until the next Refresh.
  void Clear();
  // First field of that name whose type is not 0; positions on the cursor row when the view is
  // not empty.
  FieldGFB* FieldByName(std::string_view name);
  // Same match; positions on View[view_row - 1] when the view row is valid, else stays put.
  FieldGFB* FieldByNameAt(std::string_view name, int32_t view_row);
  // Fields[number - 1] (no type test); positions as FieldByNameAt.
  FieldGFB* FieldByNumberAt(int32_t number, int32_t view_row);
  // Positions on the physical row, then Fields[number - 1].
  FieldGFB* FieldAtRow(int32_t number, int32_t row);
  int32_t MaxNumberFileds() const { return static_cast<int32_t>(Fields.size()) - 1; }

  // Cursor position in the view; a stored 0 reads (and becomes) 1.
  int32_t RecordIndex();
  // Ignored while the view is empty and for n beyond the view; n < 1 selects the first row.
  void SetRecordIndex(int32_t n);
  int32_t CursorRow() const { return CursorRow_; }
  int32_t CurrentRow() const { return CurrentRow_; }

  int32_t RowCount() const { return RowCount_; }
  int32_t Count() const { return Count_; }
  // Sets RowCount and Count, touching nothing else.
  void SetCount(int32_t n) {
    ++ChangeCount_;
    RowCount_ = Count_ = n;
  }

  // Moves on every call that can change what the table shows (loads, row changes, deletions,
  // Clear, Refresh and the view settings), so that an answer built from the table can be
  // reused while it stays put. Code that writes Fields directly calls Refresh afterwards.
  uint64_t ChangeCount() const { return ChangeCount_; }

  // ---- view ----
  // Rebuilds View, Count and NumberIndex from the non-deleted rows (filter, master/slave and
  // sort applied when set) and raises OnRefresh. Does nothing with fewer than two fields or an
  // empty p_d column.
  void Refresh();
  const std::vector<int32_t>& View() const { return View_; }
  const std::vector<int32_t>& NumberIndex() const { return NumberIndex_; }
  int32_t NumberMin() const { return NumberMin_; }
  int32_t NumberMax() const { return NumberMax_; }
  // Physical row of a visible record number, 0 when none.
  int32_t RowOfNumber(int64_t n) const;

  bool Sorted() const { return Sorted_; }
  void SetSorted(bool v);
  bool Filtered() const { return Filtered_; }
  void SetFiltered(bool v);
  TBaseClient* MasterTable() const { return MasterTable_; }
  void SetMasterTable(TBaseClient* master);
  const std::string& MasterField() const { return MasterField_; }
  void SetMasterField(std::string_view name);
  const std::string& SlaveField() const { return SlaveField_; }
  void SetSlaveField(std::string_view name);
  bool FlagRefresh() const { return FlagRefresh_; }
  void SetFlagRefresh(bool v) {
    if (DataChanged) FlagRefresh_ = v;
  }

  // ---- loading (table_load.cc, table_cache.cc) ----
  // Loads the received file (relative paths under the base directory) in the form RawFile,
  // Compressed and StructureOnly say, then deletes it (except after an inflate error).
  // The text form throws ConversionError for a "tablefields" number that is not one.
  TableLoadResult LoadFromFile(const std::filesystem::path& path);
  // The raw form from memory (already inflated): the parsing part of LoadFromFile.
  TableLoadResult LoadRawImage(std::span<const uint8_t> image);
  // The text form; throws ConversionError as above.
  void LoadTableData(std::string_view text);
  // Restores fields and columns from the local caches (CacheEnabled only).
  void LoadCache();
  // Opens an existing file for reading and writing, retrying every 1 ms; none after the last
  // of `attempts` tries.
  static FilePtr OpenShared(const std::filesystem::path& path, int attempts = 5001);

  // ---- changes (row_change.cc) ----
  // Applies a row change record at the 0-based row. A record that is malformed anywhere (runs
  // past its end, names an unknown field, negative row, row count outside 0..kMaxRowCount or
  // growing by more than kMaxRowGrowth, absurd pool size) is dropped whole before anything is
  // stored; returns false then.
  bool ApplyRowChange(int32_t row, std::span<const uint8_t> record);
  // Sets the deleted bit of the first row whose n_abs equals the number.
  bool MarkDeleted(int32_t number);
  // The "gettableraw" request, once per registration; empty when loaded, already built or
  // on any failure.
  std::string BuildLoadRequest();

  const std::filesystem::path& BaseDir() const { return BaseDir_; }
  // Directory of the column cache and of the archive of this table.
  std::filesystem::path CacheDir() const;
  std::filesystem::path ArchiveDir() const;

  // ---- published state ----
  std::string ComponentName;
  std::string NameTable;
  int32_t PortNet = 0;
  bool AutoSave = false;
  std::function<void(TBaseClient&)> OnRefresh;
  std::string Sort;
  uint8_t FilterOper = 0;
  std::string DefaultTable;
  TNetData OnNetEvent;
  TNetDataSend OnNetDataSend;
  TNetDataSend9 OnNetDataSend9;
  TFieldREfreshEvent OnFieldRefresh;
  bool Loaded = false;
  std::vector<std::unique_ptr<FieldGFB>> Fields;
  bool DataChanged = true;
  std::string ExpectedFile;
  bool RawFile = false;
  std::string FieldsRequest;
  std::string FilterRequest;
  bool RequestBuilt = false;
  bool CacheEnabled = false;
  bool LoadRequested = false;
  bool Compressed = false;
  bool StructureOnly = false;
  bool ArchiveEnabled = false;
  // Attempts of OpenShared inside LoadCache (tests lower it to avoid the 5 s of retries).
  int OpenSharedAttempts = 5001;

 private:
  FieldGFB* FindField(std::string_view name) const;  // first of that name, any type
  TableLoadResult LoadRaw(ByteSource& src, std::vector<uint8_t>* structure_cache);
  // Cache and archive files of a column just loaded (table_cache.cc).
  void WriteColumnFiles(const FieldGFB& f);
  void WriteStructureCache(std::vector<uint8_t>& image);
  void FinishLoad();

  std::filesystem::path BaseDir_;
  int32_t CursorRow_ = 0;
  int32_t RecordIndex_ = 0;
  int32_t CurrentRow_ = 0;
  int32_t RowCount_ = 0;
  int32_t Count_ = 0;
  bool Sorted_ = false;
  bool Filtered_ = false;
  TBaseClient* MasterTable_ = nullptr;
  std::string MasterField_;
  std::string SlaveField_;
  bool FlagRefresh_ = false;
  std::vector<int32_t> View_;
  std::vector<int32_t> ViewSpare_;
  std::vector<int32_t> NumberIndex_;
  int32_t NumberMin_ = 0;
  int32_t NumberMax_ = 0;
  uint64_t ChangeCount_ = 0;

  friend class FieldGFB;
};

using TBaseC = std::vector<std::unique_ptr<TBaseClient>>;

// Finds the table by exact name or appends a new one ("base" + index), and arms it for a new
// load: Loaded false, no expected file, the cache and archive options, FieldsRequest from the
// comma-separated field list (n_abs and p_d put first when missing; empty for "" or "*"),
// FilterRequest "{" + filter + "}". Returns the table's index.
int32_t AddTable(TBaseC& tables, const std::filesystem::path& base_dir, std::string_view name,
                 std::string_view field_list, std::string_view filter, bool cache, bool archive);

}  // namespace ab
