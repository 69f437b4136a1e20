// A consumer's view of rowsets over simple rowset data: only the published
// interfaces of a real rowset object are used.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "OLEDbFactory.h"
#include "OLEDbRowset.h"
#include "OLEDbSimpleRowsetData.h"

namespace {

enum TColumn : std::size_t { Bmk, Id, Name, Amount, Note };

std::wstring NameOf(int id) { return L"name" + std::to_wstring(id); }
std::wstring NoteOf(int id) { return L"note of row " + std::to_wstring(id) + L": " + std::wstring(id % 50, L'x'); }
bool NameIsNull(int id) { return id % 3 == 0; }

// Simple data whose rows a consumer may insert, delete and change; in
// deferred mode the first change of a row keeps a copy as its original.
class TChangeableData : public TSimpleRowsetData {
public:
  using TOleDbRowsetData::InsertRow;

  void InsertRow(TOleDbRowHandle& handle) override {
    AddRow();
    StampBookmark(RowCount() - 1);
    handle.SetRowValue(RowCount() - 1);
  }
  void DeleteRow(std::int32_t rowValue, DBROWSTATUS& status) override { deleted_.insert(rowValue); }
  void UndoRow(std::int32_t rowValue, DBROWSTATUS& status) override {
    const TOleDbPendingState state = PendingRows().GetState(rowValue);
    if (state == TOleDbPendingState::New) deleted_.insert(rowValue);
    if (state == TOleDbPendingState::Deleted) deleted_.erase(rowValue);
    if (auto original = originals_.find(rowValue); original != originals_.end()) {
      std::memcpy(RowValueToBuffer(rowValue), original->second.data(), original->second.size());
      originals_.erase(original);
    }
  }
  void UpdateRow(std::int32_t rowValue, DBROWSTATUS& status) override { originals_.erase(rowValue); }

  void GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH& length, bool& isNull) override {
    if (deleted_.count(rowValue)) throw EOleDbException(DB_E_DELETEDROW);
    TSimpleRowsetData::GetColumnReadBuffer(mode, rowValue, column, data, length, isNull);
    auto original = originals_.find(rowValue);
    if (mode != TOleDbDataMode::Original || original == originals_.end()) return;
    data = original->second.data() + ColumnOffset(column.Index);
    isNull = IsColumnNull(original->second.data(), column.Index);
  }
  void NotifySetDataBefore(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor) override {
    TSimpleRowsetData::NotifySetDataBefore(pData, handle, accessor);
    const std::int32_t row = handle.RowValue();
    if (DeferredUpdateMode() && !originals_.count(row)) {
      const std::byte* buffer = RowValueToBuffer(row);
      originals_.emplace(row, std::vector<std::byte>(buffer, buffer + RowSize()));
    }
  }

private:
  std::set<std::int32_t> deleted_;
  std::map<std::int32_t, std::vector<std::byte>> originals_;
};

VARIANT Int(LONG value) {
  VARIANT v{};
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

// BMK (bookmark), ID, NAME (NULL on every third row), AMOUNT, NOTE (long).
TComPtr<TChangeableData> MakeRows(int count) {
  TComPtr<TChangeableData> data = MakeComObject<TChangeableData>();
  TOleDbColumns& columns = data->GetColumns();
  columns.AddColumn(L"BMK", DBTYPE_I4, 4, DBCOLUMNFLAGS_ISBOOKMARK, 0, 0, 0);
  columns.AddColumn(L"ID", DBTYPE_I4, 4);
  columns.AddColumn(L"NAME", DBTYPE_WSTR, 24);
  columns.AddColumn(L"AMOUNT", DBTYPE_R8, 8);
  columns.AddColumn(L"NOTE", DBTYPE_WSTR, 200, DBCOLUMNFLAGS_ISLONG);
  data->NullByDefault = true;
  data->InitLayout();
  for (int id = 1; id <= count; ++id) {
    data->AppendRow();
    data->SetValueByKey(Int(Id), Int(id));
    if (!NameIsNull(id)) std::wcscpy(static_cast<wchar_t*>(data->ValuePointerForWriteByKey(Int(Name))), NameOf(id).c_str());
    VARIANT amount{};
    V_VT(&amount) = VT_R8;
    V_R8(&amount) = id * 1.5;
    data->SetValue(id - 1, Amount, amount);
    const std::wstring note = NoteOf(id);
    std::memcpy(data->ValuePointerForWriteByKey(Int(Note)), note.c_str(), (note.size() + 1) * sizeof(wchar_t));
  }
  return data;
}

LONG BookmarkValue(const TSimpleRowsetData& data, std::int32_t row) {
  LONG token;
  std::memcpy(&token, data.RowBuffer(row) + data.ColumnOffset(Bmk), sizeof token);
  return token;
}

class TConsumerTestRowset : public TOleDbRowset {
public:
  static constexpr const wchar_t* ClassName = L"TConsumerTestRowset";
  void CreateRowsetData(TOleDbExecParams&) override {
    AttachData(PreparedData.Get());
    SetCapabilities(PreparedCapabilities);
  }
  TComPtr<IOleDbRowsetData> PreparedData;
  std::uint8_t PreparedCapabilities = 0;
};

const TOleDbClass& RowsetClass() {
  static const std::unique_ptr<TComObjectFactory> factory =
      RegisterInternalClass(ComServer(), &OleDbClassOf<TConsumerTestRowset>());
  return OleDbClassOf<TConsumerTestRowset>();
}

template <class I>
TComPtr<I> Query(const TComPtr<IUnknown>& unknown, REFIID riid) {
  TComPtr<I> result;
  unknown->QueryInterface(riid, result.PutVoid());
  return result;
}

VARIANT True() {
  VARIANT v{};
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = VARIANT_TRUE;
  return v;
}

// Opened the way a session opens a rowset.
TComPtr<IUnknown> OpenRowset(IOleDbRowsetData* data, std::uint8_t capabilities, bool scrollBack = false) {
  TComPtr<IUnknown> unknown;
  CreateOleDbObject(RowsetClass(), nullptr, IID_IUnknown, unknown.PutVoid());
  auto& rowset = static_cast<TConsumerTestRowset&>(*Query<IOleDbClass>(unknown, IID_IOleDbClass)->GetObject());
  rowset.PreparedData = TComPtr<IOleDbRowsetData>(data);
  rowset.PreparedCapabilities = capabilities;
  TOleDbExecParams params;
  Query<IOleDbRowsetInit>(unknown, IID_IOleDbRowsetInit)->Open(params);
  if (scrollBack) {
    rowset.PropertySets().PutValue(DBPROPSET_ROWSET, DBPROP_CANFETCHBACKWARDS, True());
    rowset.PropertySets().PutValue(DBPROPSET_ROWSET, DBPROP_CANSCROLLBACKWARDS, True());
    rowset.PropertySets().PutValue(DBPROPSET_ROWSET, DBPROP_CANHOLDROWS, True());
  }
  return unknown;
}

// A consumer buffer of cells: status, length, then the value, 8-aligned.
class TAccessor {
public:
  void Add(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength, DBPART parts = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS,
           DBOBJECT* object = nullptr) {
    DBBINDING binding{};
    binding.iOrdinal = ordinal;
    binding.obStatus = size_;
    binding.obLength = size_ + 8;
    binding.obValue = size_ + 16;
    binding.cbMaxLen = maxLength;
    binding.dwPart = parts;
    binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    binding.wType = type;
    binding.pObject = object;
    bindings_.push_back(binding);
    size_ += (16 + maxLength + 7) / 8 * 8;
  }
  HRESULT Create(const TComPtr<IUnknown>& rowset) {
    accessor_ = Query<IAccessor>(rowset, IID_IAccessor);
    statuses_.assign(bindings_.size(), DBBINDSTATUS_OK);
    buffer_.assign(size_ / 8 + 1, 0);
    return accessor_->CreateAccessor(DBACCESSOR_ROWDATA, bindings_.size(), bindings_.data(), size_, &handle_,
                                     statuses_.data());
  }
  ~TAccessor() {
    if (handle_) accessor_->ReleaseAccessor(handle_, nullptr);
  }

  HACCESSOR Handle() const noexcept { return handle_; }
  void* Data() noexcept { return buffer_.data(); }
  void Clear() { std::fill(buffer_.begin(), buffer_.end(), 0xCDCDCDCDCDCDCDCDull); }
  DBSTATUS& Status(std::size_t i) { return At<DBSTATUS>(bindings_[i].obStatus); }
  DBLENGTH& Length(std::size_t i) { return At<DBLENGTH>(bindings_[i].obLength); }
  template <class T>
  T& Value(std::size_t i) {
    return At<T>(bindings_[i].obValue);
  }
  const wchar_t* Text(std::size_t i) { return &Value<wchar_t>(i); }

private:
  template <class T>
  T& At(DBBYTEOFFSET offset) {
    return *reinterpret_cast<T*>(reinterpret_cast<BYTE*>(buffer_.data()) + offset);
  }
  std::vector<DBBINDING> bindings_;
  std::vector<DBBINDSTATUS> statuses_;
  std::vector<unsigned long long> buffer_;
  DBLENGTH size_ = 0;
  TComPtr<IAccessor> accessor_;
  HACCESSOR handle_ = 0;
};

// Every column as the consumer finds it in IColumnsInfo, long ones as bytes.
void BindAllColumns(const TComPtr<IUnknown>& rowset, TAccessor& accessor) {
  DBORDINAL count = 0;
  DBCOLUMNINFO* info = nullptr;
  OLECHAR* names = nullptr;
  ASSERT_EQ(S_OK, Query<IColumnsInfo>(rowset, IID_IColumnsInfo)->GetColumnInfo(&count, &info, &names));
  for (DBORDINAL i = 0; i < count; ++i) {
    if (info[i].dwFlags & DBCOLUMNFLAGS_ISLONG) {
      accessor.Add(info[i].iOrdinal, DBTYPE_BYTES, 512);
    } else if (info[i].wType == DBTYPE_WSTR) {
      accessor.Add(info[i].iOrdinal, DBTYPE_WSTR, (info[i].ulColumnSize + 1) * sizeof(wchar_t));
    } else {
      accessor.Add(info[i].iOrdinal, info[i].wType, 8);
    }
  }
  CoTaskMemFree(info);
  CoTaskMemFree(names);
  ASSERT_EQ(S_OK, accessor.Create(rowset));
}

struct TFetched {
  HRESULT Result = E_FAIL;
  std::vector<HROW> Rows;
};

TFetched Fetch(IRowset& rowset, DBROWOFFSET offset, DBROWCOUNT count) {
  TFetched fetched;
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  fetched.Result = rowset.GetNextRows(DB_NULL_HCHAPTER, offset, count, &obtained, &rows);
  fetched.Rows.assign(rows, rows + obtained);
  CoTaskMemFree(rows);
  return fetched;
}

void Release(IRowset& rowset, const std::vector<HROW>& rows) {
  if (!rows.empty()) EXPECT_EQ(S_OK, rowset.ReleaseRows(rows.size(), rows.data(), nullptr, nullptr, nullptr));
}

// The ID column of each row.
std::vector<LONG> Ids(const TComPtr<IUnknown>& unknown, const std::vector<HROW>& rows) {
  TAccessor accessor;
  accessor.Add(Id, DBTYPE_I4, 4);
  EXPECT_EQ(S_OK, accessor.Create(unknown));
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  std::vector<LONG> ids;
  for (HROW row : rows) {
    EXPECT_EQ(S_OK, rowset->GetData(row, accessor.Handle(), accessor.Data()));
    ids.push_back(accessor.Value<LONG>(0));
  }
  return ids;
}

// Records events and vetoes one reason in one phase.
class TVetoingListener : public TComImpl<TComObject, IRowsetNotify> {
public:
  HRESULT STDMETHODCALLTYPE OnFieldChange(IRowset*, HROW, DBORDINAL, DBORDINAL[], DBREASON eReason, DBEVENTPHASE ePhase,
                                          BOOL) override {
    return Answer(eReason, ePhase);
  }
  HRESULT STDMETHODCALLTYPE OnRowChange(IRowset*, DBCOUNTITEM, const HROW[], DBREASON eReason, DBEVENTPHASE ePhase,
                                        BOOL) override {
    return Answer(eReason, ePhase);
  }
  HRESULT STDMETHODCALLTYPE OnRowsetChange(IRowset*, DBREASON eReason, DBEVENTPHASE ePhase, BOOL) override {
    return Answer(eReason, ePhase);
  }

  std::vector<DBEVENTPHASE> Phases(DBREASON reason) const {
    std::vector<DBEVENTPHASE> phases;
    for (const auto& [eventReason, phase] : Events)
      if (eventReason == reason) phases.push_back(phase);
    return phases;
  }

  std::vector<std::pair<DBREASON, DBEVENTPHASE>> Events;
  DBREASON VetoReason = ~0u;
  DBEVENTPHASE VetoPhase = ~0u;

private:
  HRESULT Answer(DBREASON reason, DBEVENTPHASE phase) {
    Events.emplace_back(reason, phase);
    return reason == VetoReason && phase == VetoPhase ? S_FALSE : S_OK;
  }
};

// One WSTR NAME cell to write, with its status.
struct TNameWriter {
  explicit TNameWriter(const TComPtr<IUnknown>& rowset, DBORDINAL ordinal = Name) {
    accessor.Add(ordinal, DBTYPE_WSTR, 80);
    EXPECT_EQ(S_OK, accessor.Create(rowset));
  }
  void* Set(const wchar_t* text, DBSTATUS status = DBSTATUS_S_OK) {
    accessor.Clear();
    accessor.Status(0) = status;
    accessor.Length(0) = std::wcslen(text) * sizeof(wchar_t);
    std::wcsncpy(&accessor.Value<wchar_t>(0), text, 39);
    return accessor.Data();
  }
  TAccessor accessor;
};

// NAME of a row as text, "<null>" for NULL; "<failed>" when GetData fails.
std::wstring NameRead(IRowset& rowset, const TComPtr<IUnknown>& unknown, HROW row, bool original = false) {
  TAccessor reader;
  reader.Add(Name, DBTYPE_WSTR, 40);
  EXPECT_EQ(S_OK, reader.Create(unknown));
  const HRESULT hr = original ? Query<IRowsetUpdate>(unknown, IID_IRowsetUpdate)
                                    ->GetOriginalData(row, reader.Handle(), reader.Data())
                              : rowset.GetData(row, reader.Handle(), reader.Data());
  if (FAILED(hr)) return L"<failed>";
  return reader.Status(0) == DBSTATUS_S_ISNULL ? L"<null>" : reader.Text(0);
}

DBPENDINGSTATUS PendingStatus(const TComPtr<IUnknown>& unknown, HROW row) {
  DBPENDINGSTATUS status = 0;
  Query<IRowsetUpdate>(unknown, IID_IRowsetUpdate)->GetRowStatus(DB_NULL_HCHAPTER, 1, &row, &status);
  return status;
}

TEST(ConsumerRowsetFetch, BatchesOfOneSevenAndAHundredReadEveryRow) {
  constexpr int RowTotal = 250;
  TComPtr<TChangeableData> data = MakeRows(RowTotal);
  TComPtr<IUnknown> unknown = OpenRowset(data.Get(), OleDbCapabilityLocate);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TAccessor accessor;
  BindAllColumns(unknown, accessor);

  for (DBROWCOUNT batch : {1, 7, 100}) {
    ASSERT_EQ(S_OK, rowset->RestartPosition(DB_NULL_HCHAPTER));
    int seen = 0;
    TFetched fetched;
    do {
      fetched = Fetch(*rowset, 0, batch);
      ASSERT_TRUE(fetched.Result == S_OK || fetched.Result == DB_S_ENDOFROWSET) << std::hex << fetched.Result;
      for (HROW row : fetched.Rows) {
        const int id = ++seen;
        accessor.Clear();
        ASSERT_EQ(S_OK, rowset->GetData(row, accessor.Handle(), accessor.Data())) << id;
        EXPECT_EQ(id - 1, accessor.Value<LONG>(Bmk));
        EXPECT_EQ(id, accessor.Value<LONG>(Id));
        if (NameIsNull(id)) {
          EXPECT_EQ(DBSTATUS_S_ISNULL, accessor.Status(Name));
        } else {
          EXPECT_EQ(DBSTATUS_S_OK, accessor.Status(Name));
          EXPECT_EQ(NameOf(id), accessor.Text(Name));
          EXPECT_EQ(NameOf(id).size() * sizeof(wchar_t), accessor.Length(Name));
        }
        EXPECT_EQ(id * 1.5, accessor.Value<double>(Amount));
        const std::wstring note = NoteOf(id);
        ASSERT_EQ(note.size() * sizeof(wchar_t), accessor.Length(Note)) << id;
        EXPECT_EQ(0, std::memcmp(note.c_str(), &accessor.Value<BYTE>(Note), accessor.Length(Note)));
      }
      Release(*rowset, fetched.Rows);
    } while (fetched.Result == S_OK);
    EXPECT_EQ(RowTotal, seen) << "batch " << batch;
    EXPECT_EQ(DB_S_ENDOFROWSET, Fetch(*rowset, 0, batch).Result);
  }

  TComPtr<IUnknown> empty = OpenRowset(MakeRows(0).Get(), 0);
  TFetched none = Fetch(*Query<IRowset>(empty, IID_IRowset), 0, 5);
  EXPECT_EQ(DB_S_ENDOFROWSET, none.Result);
  EXPECT_TRUE(none.Rows.empty());
}

TEST(ConsumerRowsetFetch, DirectionsSkipsAndEnds) {
  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(10).Get(), 0, true);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  const auto fetch = [&](DBROWOFFSET offset, DBROWCOUNT count, HRESULT expected) {
    TFetched fetched = Fetch(*rowset, offset, count);
    EXPECT_EQ(expected, fetched.Result) << offset << "/" << count;
    std::vector<LONG> ids = Ids(unknown, fetched.Rows);
    Release(*rowset, fetched.Rows);
    return ids;
  };
  EXPECT_EQ((std::vector<LONG>{1, 2, 3}), fetch(0, 3, S_OK));
  EXPECT_EQ((std::vector<LONG>{4, 5, 6}), fetch(0, 3, S_OK));
  EXPECT_EQ((std::vector<LONG>{6}), fetch(0, -1, S_OK));
  EXPECT_EQ((std::vector<LONG>{5, 4}), fetch(0, -2, S_OK));
  EXPECT_TRUE(fetch(20, 1, DB_S_ENDOFROWSET).empty());

  ASSERT_EQ(S_OK, rowset->RestartPosition(DB_NULL_HCHAPTER));
  EXPECT_EQ((std::vector<LONG>{7, 8, 9, 10}), fetch(6, 10, DB_S_ENDOFROWSET));
  EXPECT_TRUE(fetch(0, 1, DB_S_ENDOFROWSET).empty());
  EXPECT_TRUE(fetch(0, -1, DB_S_ENDOFROWSET).empty());
  EXPECT_EQ((std::vector<LONG>{9}), fetch(-2, 1, S_OK));
  // Turning round returns the row fetched last first.
  EXPECT_EQ((std::vector<LONG>{9, 8, 7, 6, 5, 4, 3, 2, 1}), fetch(0, -20, DB_S_ENDOFROWSET));
}

TEST(ConsumerRowsetBookmarks, ProviderAndStandardBookmarksLocateRows) {
  TComPtr<IUnknown> plain = OpenRowset(MakeRows(3).Get(), 0);
  EXPECT_FALSE(Query<IRowsetLocate>(plain, IID_IRowsetLocate));
  TComPtr<IUnknown> locateOnly = OpenRowset(MakeRows(3).Get(), OleDbCapabilityLocate);
  EXPECT_TRUE(Query<IRowsetLocate>(locateOnly, IID_IRowsetLocate));
  EXPECT_FALSE(Query<IRowsetScroll>(locateOnly, IID_IRowsetScroll));

  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(10).Get(), OleDbCapabilityLocate | OleDbCapabilityScroll);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TComPtr<IRowsetScroll> scroll = Query<IRowsetScroll>(unknown, IID_IRowsetScroll);
  ASSERT_TRUE(scroll);

  // The bookmarks of the rows with ID 8 and 9, as a consumer reads them.
  TAccessor marks;
  marks.Add(Bmk, DBTYPE_I4, 4);
  ASSERT_EQ(S_OK, marks.Create(unknown));
  TFetched fetched = Fetch(*rowset, 7, 2);
  ASSERT_EQ(2u, fetched.Rows.size());
  LONG bookmarks[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(S_OK, rowset->GetData(fetched.Rows[i], marks.Handle(), marks.Data()));
    bookmarks[i] = marks.Value<LONG>(0);
  }
  Release(*rowset, fetched.Rows);
  ASSERT_EQ(S_OK, rowset->RestartPosition(DB_NULL_HCHAPTER));

  const auto* eighth = reinterpret_cast<const BYTE*>(&bookmarks[0]);
  const auto* ninth = reinterpret_cast<const BYTE*>(&bookmarks[1]);
  const LONG foreignValue = 999;
  const auto* foreign = reinterpret_cast<const BYTE*>(&foreignValue);
  const BYTE first = DBBMK_FIRST, last = DBBMK_LAST;
  const LONGLONG wide = 7;
  const auto rowsAt = [&](DBBKMARK length, const BYTE* bookmark, DBROWOFFSET offset, DBROWCOUNT count,
                          HRESULT expected) {
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    EXPECT_EQ(expected, scroll->GetRowsAt(0, DB_NULL_HCHAPTER, length, bookmark, offset, count, &obtained, &rows));
    std::vector<HROW> handles(rows, rows + obtained);
    CoTaskMemFree(rows);
    std::vector<LONG> ids = Ids(unknown, handles);
    Release(*rowset, handles);
    return ids;
  };
  EXPECT_EQ((std::vector<LONG>{8, 9}), rowsAt(4, eighth, 0, 2, S_OK));
  EXPECT_EQ((std::vector<LONG>{3}), rowsAt(1, &first, 2, 1, S_OK));
  EXPECT_EQ((std::vector<LONG>{10}), rowsAt(1, &last, 0, 5, DB_S_ENDOFROWSET));
  EXPECT_TRUE(rowsAt(4, foreign, 0, 1, DB_E_BADBOOKMARK).empty());
  EXPECT_TRUE(rowsAt(8, reinterpret_cast<const BYTE*>(&wide), 0, 1, DB_E_BADBOOKMARK).empty());

  DBCOMPARE comparison = DBCOMPARE_NOTCOMPARABLE;
  EXPECT_EQ(S_OK, scroll->Compare(DB_NULL_HCHAPTER, 4, eighth, 4, eighth, &comparison));
  EXPECT_EQ(DBCOMPARE_EQ, comparison);
  EXPECT_EQ(S_OK, scroll->Compare(DB_NULL_HCHAPTER, 4, eighth, 4, ninth, &comparison));
  EXPECT_EQ(DBCOMPARE_NE, comparison);
  EXPECT_EQ(S_OK, scroll->Compare(DB_NULL_HCHAPTER, 1, &first, 4, eighth, &comparison));
  EXPECT_EQ(DBCOMPARE_NE, comparison);
  EXPECT_EQ(DB_E_BADBOOKMARK, scroll->Compare(DB_NULL_HCHAPTER, 4, eighth, 4, foreign, &comparison));

  const DBBKMARK lengths[] = {4, 4};
  const BYTE* hashed[] = {eighth, foreign};
  DBHASHVALUE hashes[2] = {};
  DBROWSTATUS statuses[2] = {};
  EXPECT_EQ(DB_S_ERRORSOCCURRED, scroll->Hash(DB_NULL_HCHAPTER, 2, lengths, hashed, hashes, statuses));
  EXPECT_EQ(DBROWSTATUS_S_OK, statuses[0]);
  EXPECT_EQ(7u, hashes[0]);
  EXPECT_EQ(DBROWSTATUS_E_INVALID, statuses[1]);

  DBCOUNTITEM position = 0, rowCount = 0;
  EXPECT_EQ(S_OK, scroll->GetApproximatePosition(DB_NULL_HCHAPTER, 4, eighth, &position, &rowCount));
  EXPECT_EQ(8u, position);
  EXPECT_EQ(10u, rowCount);
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  EXPECT_EQ(S_OK, scroll->GetRowsAtRatio(0, DB_NULL_HCHAPTER, 1, 2, 1, &obtained, &rows));
  std::vector<HROW> middle(rows, rows + obtained);
  CoTaskMemFree(rows);
  EXPECT_EQ((std::vector<LONG>{6}), Ids(unknown, middle));
  Release(*rowset, middle);

  HROW byBookmark = DB_NULL_HROW;
  DBROWSTATUS byBookmarkStatus = 0;
  EXPECT_EQ(E_FAIL, scroll->GetRowsByBookmark(DB_NULL_HCHAPTER, 1, lengths, hashed, &byBookmark, &byBookmarkStatus));

  // None of the positioned calls moved the fetch position.
  fetched = Fetch(*rowset, 0, 1);
  EXPECT_EQ((std::vector<LONG>{1}), Ids(unknown, fetched.Rows));
  Release(*rowset, fetched.Rows);
}

TEST(ConsumerRowsetValues, PartsNullsTruncationAndConversions) {
  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(5).Get(), 0, true);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TFetched fetched = Fetch(*rowset, 0, 3);
  ASSERT_EQ(3u, fetched.Rows.size());
  const HROW named = fetched.Rows[0], unnamed = fetched.Rows[2];

  TAccessor mixed;
  mixed.Add(Id, DBTYPE_WSTR, 20);
  mixed.Add(Name, DBTYPE_WSTR, 8);
  mixed.Add(Amount, DBTYPE_I4, 4);
  mixed.Add(Name, DBTYPE_I4, 4);
  ASSERT_EQ(S_OK, mixed.Create(unknown));
  mixed.Clear();
  EXPECT_EQ(DB_S_ERRORSOCCURRED, rowset->GetData(named, mixed.Handle(), mixed.Data()));
  EXPECT_EQ(DBSTATUS_S_OK, mixed.Status(0));
  EXPECT_STREQ(L"1", mixed.Text(0));
  EXPECT_EQ(2u, mixed.Length(0));
  EXPECT_EQ(DBSTATUS_S_TRUNCATED, mixed.Status(1));
  EXPECT_STREQ(L"nam", mixed.Text(1));
  EXPECT_EQ(10u, mixed.Length(1));
  EXPECT_EQ(DBSTATUS_S_OK, mixed.Status(2));
  EXPECT_EQ(2, mixed.Value<LONG>(2));
  // The conversion library's own failure status.
  EXPECT_NE(DBSTATUS_S_OK, mixed.Status(3));
  EXPECT_NE(DBSTATUS_S_TRUNCATED, mixed.Status(3));

  // NULL is no failure and leaves the length alone.
  mixed.Clear();
  EXPECT_EQ(S_OK, rowset->GetData(unnamed, mixed.Handle(), mixed.Data()));
  EXPECT_EQ(DBSTATUS_S_ISNULL, mixed.Status(1));
  EXPECT_EQ(0xCDCDCDCDCDCDCDCDull, mixed.Length(1));
  EXPECT_EQ(DBSTATUS_S_ISNULL, mixed.Status(3));

  TAccessor failing;
  failing.Add(Name, DBTYPE_I4, 4);
  ASSERT_EQ(S_OK, failing.Create(unknown));
  EXPECT_EQ(DB_E_ERRORSOCCURRED, rowset->GetData(named, failing.Handle(), failing.Data()));

  TAccessor parts;
  parts.Add(Name, DBTYPE_WSTR, 40, DBPART_LENGTH);
  parts.Add(Name, DBTYPE_WSTR, 40, DBPART_STATUS);
  parts.Add(Name, DBTYPE_WSTR, 40, DBPART_VALUE);
  ASSERT_EQ(S_OK, parts.Create(unknown));
  parts.Clear();
  EXPECT_EQ(S_OK, rowset->GetData(named, parts.Handle(), parts.Data()));
  EXPECT_EQ(10u, parts.Length(0));
  EXPECT_EQ(0xCDCDu, parts.Value<wchar_t>(0));
  EXPECT_EQ(DBSTATUS_S_OK, parts.Status(1));
  EXPECT_EQ(0xCDCDCDCDCDCDCDCDull, parts.Length(1));
  EXPECT_STREQ(L"name1", parts.Text(2));
  EXPECT_EQ(0xCDCDCDCDu, parts.Status(2));
  Release(*rowset, fetched.Rows);
}

TEST(ConsumerRowsetValues, LongAndTextColumnsAsStreams) {
  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(8).Get(), 0);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TFetched fetched = Fetch(*rowset, 6, 1);
  ASSERT_EQ(1u, fetched.Rows.size());

  DBOBJECT reading = {STGM_READ, IID_ISequentialStream};
  DBOBJECT writing = {STGM_WRITE, IID_ISequentialStream};
  TAccessor streams;
  streams.Add(Note, DBTYPE_IUNKNOWN, sizeof(IUnknown*), DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS, &reading);
  streams.Add(Name, DBTYPE_IUNKNOWN, sizeof(IUnknown*), DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS, &reading);
  streams.Add(Note, DBTYPE_BYTES, 10);
  streams.Add(Note, DBTYPE_WSTR, 400);
  streams.Add(Note, DBTYPE_IUNKNOWN, sizeof(IUnknown*), DBPART_VALUE | DBPART_STATUS, &writing);
  ASSERT_EQ(S_OK, streams.Create(unknown));
  EXPECT_EQ(DB_S_ERRORSOCCURRED, rowset->GetData(fetched.Rows[0], streams.Handle(), streams.Data()));

  const auto readAll = [](ISequentialStream* stream) {
    std::wstring text;
    wchar_t chunk[7];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(chunk, sizeof chunk, &read)) && read > 0) text.append(chunk, read / sizeof(wchar_t));
    stream->Release();
    return text;
  };
  ASSERT_EQ(DBSTATUS_S_OK, streams.Status(0));
  EXPECT_EQ(NoteOf(7).size() * sizeof(wchar_t), streams.Length(0));
  EXPECT_EQ(NoteOf(7), readAll(streams.Value<ISequentialStream*>(0)));
  ASSERT_EQ(DBSTATUS_S_OK, streams.Status(1));
  EXPECT_EQ(NameOf(7), readAll(streams.Value<ISequentialStream*>(1)));
  EXPECT_EQ(DBSTATUS_S_TRUNCATED, streams.Status(2));
  EXPECT_EQ(NoteOf(7).size() * sizeof(wchar_t), streams.Length(2));
  EXPECT_EQ(0, std::memcmp(NoteOf(7).c_str(), &streams.Value<BYTE>(2), 10));
  EXPECT_EQ(DBSTATUS_E_CANTCONVERTVALUE, streams.Status(3));
  EXPECT_EQ(DBSTATUS_E_CANTCREATE, streams.Status(4));
  Release(*rowset, fetched.Rows);
}

TEST(ConsumerRowsetChanges, ImmediateWritesInsertsAndDeletesReachTheRows) {
  TComPtr<TChangeableData> data = MakeRows(10);
  TComPtr<IUnknown> unknown = OpenRowset(data.Get(), 0x0F, true);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TComPtr<IRowsetChange> change = Query<IRowsetChange>(unknown, IID_IRowsetChange);
  ASSERT_TRUE(change);
  TFetched fetched = Fetch(*rowset, 2, 1);
  ASSERT_EQ(1u, fetched.Rows.size());
  const HROW third = fetched.Rows[0];

  TNameWriter writer(unknown);
  EXPECT_EQ(L"<null>", NameRead(*rowset, unknown, third));
  EXPECT_EQ(S_OK, change->SetData(third, writer.accessor.Handle(), writer.Set(L"renamed")));
  EXPECT_EQ(L"renamed", NameRead(*rowset, unknown, third));
  TOleDbVariant stored;
  data->GetValue(2, Name, stored.Get());
  EXPECT_STREQ(L"renamed", V_BSTR(&stored.Get()));
  EXPECT_EQ(S_OK, change->SetData(third, writer.accessor.Handle(), writer.Set(L"ignored", DBSTATUS_S_IGNORE)));
  EXPECT_EQ(L"renamed", NameRead(*rowset, unknown, third));
  EXPECT_EQ(S_OK, change->SetData(third, writer.accessor.Handle(), writer.Set(L"", DBSTATUS_S_ISNULL)));
  EXPECT_EQ(L"<null>", NameRead(*rowset, unknown, third));
  TNameWriter idWriter(unknown, Id);
  EXPECT_EQ(DB_E_ERRORSOCCURRED, change->SetData(third, idWriter.accessor.Handle(), idWriter.Set(L"not a number")));
  data->GetValue(2, Id, stored.Get());
  EXPECT_EQ(VT_NULL, stored.Type()) << "a failed write leaves no stale value";

  // Bookmarks cannot be overwritten: they locate the rows.
  TAccessor bookmarkWriter;
  bookmarkWriter.Add(Bmk, DBTYPE_I4, 4);
  ASSERT_EQ(S_OK, bookmarkWriter.Create(unknown));
  bookmarkWriter.Status(0) = DBSTATUS_S_OK;
  bookmarkWriter.Value<LONG>(0) = 5;
  EXPECT_EQ(DB_E_ERRORSOCCURRED, change->SetData(third, bookmarkWriter.Handle(), bookmarkWriter.Data()));
  EXPECT_EQ(DBSTATUS_E_PERMISSIONDENIED, bookmarkWriter.Status(0));
  EXPECT_EQ(2, BookmarkValue(*data, 2));

  HROW inserted = DB_NULL_HROW;
  EXPECT_EQ(S_OK, change->InsertRow(DB_NULL_HCHAPTER, writer.accessor.Handle(), writer.Set(L"fresh"), &inserted));
  EXPECT_EQ(11, data->RowCount());
  EXPECT_EQ(L"fresh", NameRead(*rowset, unknown, inserted));
  EXPECT_EQ(10, BookmarkValue(*data, 10));
  EXPECT_EQ(L"<null>", NameRead(*rowset, unknown, third)) << "the cursor and other rows stay";

  DBROWSTATUS deleted = ~0u;
  EXPECT_EQ(S_OK, change->DeleteRows(DB_NULL_HCHAPTER, 1, &third, &deleted));
  EXPECT_EQ(DBROWSTATUS_S_OK, deleted);
  EXPECT_EQ(L"<failed>", NameRead(*rowset, unknown, third));
  Release(*rowset, {third, inserted});
}

TEST(ConsumerRowsetChanges, DeferredChangesUndoUpdateAndOriginalData) {
  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(5).Get(), 0x4F, true);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TComPtr<IRowsetUpdate> update = Query<IRowsetUpdate>(unknown, IID_IRowsetUpdate);
  ASSERT_TRUE(update);
  TFetched fetched = Fetch(*rowset, 0, 1);
  const HROW first = fetched.Rows.at(0);
  TNameWriter writer(unknown);

  EXPECT_EQ(S_OK, update->SetData(first, writer.accessor.Handle(), writer.Set(L"changed")));
  EXPECT_EQ(DBPENDINGSTATUS_CHANGED, PendingStatus(unknown, first));
  EXPECT_EQ(L"changed", NameRead(*rowset, unknown, first));
  EXPECT_EQ(L"name1", NameRead(*rowset, unknown, first, true));
  EXPECT_EQ(S_OK, update->Undo(DB_NULL_HCHAPTER, 1, &first, nullptr, nullptr, nullptr));
  EXPECT_EQ(DBPENDINGSTATUS_UNCHANGED, PendingStatus(unknown, first));
  EXPECT_EQ(L"name1", NameRead(*rowset, unknown, first));

  EXPECT_EQ(S_OK, update->SetData(first, writer.accessor.Handle(), writer.Set(L"kept")));
  EXPECT_EQ(S_OK, update->SetData(first, writer.accessor.Handle(), writer.Set(L"kept again")));
  EXPECT_EQ(L"name1", NameRead(*rowset, unknown, first, true)) << "the original is the first one";
  EXPECT_EQ(S_OK, update->Update(DB_NULL_HCHAPTER, 1, &first, nullptr, nullptr, nullptr));
  EXPECT_EQ(DBPENDINGSTATUS_UNCHANGED, PendingStatus(unknown, first));
  EXPECT_EQ(L"kept again", NameRead(*rowset, unknown, first, true));

  HROW inserted = DB_NULL_HROW;
  EXPECT_EQ(S_OK, update->InsertRow(DB_NULL_HCHAPTER, writer.accessor.Handle(), writer.Set(L"new"), &inserted));
  EXPECT_EQ(DBPENDINGSTATUS_NEW, PendingStatus(unknown, inserted));
  EXPECT_EQ(S_OK, update->Undo(DB_NULL_HCHAPTER, 1, &inserted, nullptr, nullptr, nullptr));
  EXPECT_EQ(DBPENDINGSTATUS_INVALIDROW, PendingStatus(unknown, inserted));
  EXPECT_EQ(L"<failed>", NameRead(*rowset, unknown, inserted));
  Release(*rowset, {first, inserted});
}

TEST(ConsumerRowsetChanges, VetoingListenerCancelsTheChange) {
  TComPtr<IUnknown> unknown =
      OpenRowset(MakeRows(3).Get(), OleDbCapabilityChange | OleDbCapabilityDelete | OleDbCapabilityNotify);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TComPtr<IRowsetChange> change = Query<IRowsetChange>(unknown, IID_IRowsetChange);
  TComPtr<IConnectionPointContainer> container =
      Query<IConnectionPointContainer>(unknown, IID_IConnectionPointContainer);
  ASSERT_TRUE(container);
  TComPtr<IConnectionPoint> point;
  ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IRowsetNotify, point.Put()));
  TComPtr<TVetoingListener> listener = MakeComObject<TVetoingListener>();
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, point->Advise(static_cast<IRowsetNotify*>(listener.Get()), &cookie));

  TFetched fetched = Fetch(*rowset, 0, 1);
  const HROW first = fetched.Rows.at(0);
  TNameWriter writer(unknown);
  listener->VetoReason = DBREASON_COLUMN_SET;
  listener->VetoPhase = DBEVENTPHASE_OKTODO;
  EXPECT_EQ(DB_E_CANCELED, change->SetData(first, writer.accessor.Handle(), writer.Set(L"vetoed")));
  EXPECT_EQ(L"name1", NameRead(*rowset, unknown, first));

  listener->VetoReason = DBREASON_ROW_DELETE;
  DBROWSTATUS status = 0;
  EXPECT_EQ(DB_E_ERRORSOCCURRED, change->DeleteRows(DB_NULL_HCHAPTER, 1, &first, &status));
  EXPECT_EQ(DBROWSTATUS_E_CANCELED, status);
  EXPECT_EQ(L"name1", NameRead(*rowset, unknown, first));

  listener->VetoReason = ~0u;
  listener->Events.clear();
  EXPECT_EQ(S_OK, change->SetData(first, writer.accessor.Handle(), writer.Set(L"agreed")));
  EXPECT_EQ(L"agreed", NameRead(*rowset, unknown, first));
  EXPECT_EQ((std::vector<DBEVENTPHASE>{DBEVENTPHASE_OKTODO, DBEVENTPHASE_ABOUTTODO, DBEVENTPHASE_DIDEVENT}),
            listener->Phases(DBREASON_COLUMN_SET));
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
  Release(*rowset, fetched.Rows);
}

}  // namespace
