// A consumer's view of rowsets over simple rowset data: only the published
// interfaces of a real rowset object are used.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstring>
#include <cwchar>
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

// Simple data whose rows a consumer may insert and delete; undo and update
// have nothing to restore, as the buffers hold one version of a row.
class TChangeableData : public TSimpleRowsetData {
public:
  using TOleDbRowsetData::InsertRow;
  void InsertRow(TOleDbRowHandle& handle) override {
    AddRow();
    StampBookmark(RowCount() - 1);
    handle.SetRowValue(RowCount() - 1);
  }
  void DeleteRow(std::int32_t rowValue, DBROWSTATUS&) override { deleted_.insert(rowValue); }
  void UndoRow(std::int32_t rowValue, DBROWSTATUS&) override {
    if (PendingRows().GetState(rowValue) == TOleDbPendingState::New) deleted_.insert(rowValue);
  }
  void UpdateRow(std::int32_t, DBROWSTATUS&) override {}
  void GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH& length, bool& isNull) override {
    if (deleted_.count(rowValue)) throw EOleDbException(DB_E_DELETEDROW);
    TSimpleRowsetData::GetColumnReadBuffer(mode, rowValue, column, data, length, isNull);
  }

private:
  std::set<std::int32_t> deleted_;
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
    *static_cast<double*>(data->ValuePointerForWriteByKey(Int(Amount))) = id * 1.5;
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

template <class I>
TComPtr<I> Query(const TComPtr<IUnknown>& unknown, REFIID riid) {
  TComPtr<I> result;
  unknown->QueryInterface(riid, result.PutVoid());
  return result;
}

// Opened the way a session opens a rowset; holding rows and moving back
// allowed.
TComPtr<IUnknown> OpenRowset(IOleDbRowsetData* data, std::uint8_t capabilities) {
  static const std::unique_ptr<TComObjectFactory> factory =
      RegisterInternalClass(ComServer(), &OleDbClassOf<TConsumerTestRowset>());
  TComPtr<IUnknown> unknown;
  CreateOleDbObject(OleDbClassOf<TConsumerTestRowset>(), nullptr, IID_IUnknown, unknown.PutVoid());
  auto& rowset = static_cast<TConsumerTestRowset&>(*Query<IOleDbClass>(unknown, IID_IOleDbClass)->GetObject());
  rowset.PreparedData = TComPtr<IOleDbRowsetData>(data);
  rowset.PreparedCapabilities = capabilities;
  TOleDbExecParams params;
  Query<IOleDbRowsetInit>(unknown, IID_IOleDbRowsetInit)->Open(params);
  VARIANT yes{};
  V_VT(&yes) = VT_BOOL;
  V_BOOL(&yes) = VARIANT_TRUE;
  for (DBPROPID id : {DBPROP_CANFETCHBACKWARDS, DBPROP_CANSCROLLBACKWARDS, DBPROP_CANHOLDROWS})
    rowset.PropertySets().PutValue(DBPROPSET_ROWSET, id, yes);
  return unknown;
}

// A consumer buffer of cells: status, length, then the value, 8-aligned.
class TAccessor {
public:
  void Add(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength, DBOBJECT* object = nullptr) {
    DBBINDING binding{};
    binding.iOrdinal = ordinal;
    binding.obStatus = size_;
    binding.obLength = size_ + 8;
    binding.obValue = size_ + 16;
    binding.cbMaxLen = maxLength;
    binding.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    binding.wType = type;
    binding.pObject = object;
    bindings_.push_back(binding);
    size_ += (16 + maxLength + 7) / 8 * 8;
  }
  HRESULT Create(const TComPtr<IUnknown>& rowset) {
    accessor_ = Query<IAccessor>(rowset, IID_IAccessor);
    buffer_.assign(size_ / 8 + 1, 0);
    return accessor_->CreateAccessor(DBACCESSOR_ROWDATA, bindings_.size(), bindings_.data(), size_, &handle_, nullptr);
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
  // A text cell to write, with its status.
  void* Write(const wchar_t* text, DBSTATUS status = DBSTATUS_S_OK) {
    Clear();
    Status(0) = status;
    Length(0) = std::wcslen(text) * sizeof(wchar_t);
    std::wcscpy(&Value<wchar_t>(0), text);
    return Data();
  }

private:
  template <class T>
  T& At(DBBYTEOFFSET offset) {
    return *reinterpret_cast<T*>(reinterpret_cast<BYTE*>(buffer_.data()) + offset);
  }
  std::vector<DBBINDING> bindings_;
  std::vector<unsigned long long> buffer_;
  DBLENGTH size_ = 0;
  TComPtr<IAccessor> accessor_;
  HACCESSOR handle_ = 0;
};

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
  if (!rows.empty()) {
    EXPECT_EQ(S_OK, rowset.ReleaseRows(rows.size(), rows.data(), nullptr, nullptr, nullptr));
  }
}

// The ID of each row, or 0 where GetData fails; the rows are released.
std::vector<LONG> TakeIds(const TComPtr<IUnknown>& unknown, const std::vector<HROW>& rows) {
  TAccessor accessor;
  accessor.Add(Id, DBTYPE_I4, 4);
  EXPECT_EQ(S_OK, accessor.Create(unknown));
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  std::vector<LONG> ids;
  for (HROW row : rows)
    ids.push_back(SUCCEEDED(rowset->GetData(row, accessor.Handle(), accessor.Data())) ? accessor.Value<LONG>(0) : 0);
  Release(*rowset, rows);
  return ids;
}

// NAME of a row as text, "<null>" for NULL, "<failed>" when reading fails.
std::wstring NameRead(const TComPtr<IUnknown>& unknown, HROW row, bool original = false) {
  TAccessor reader;
  reader.Add(Name, DBTYPE_WSTR, 40);
  EXPECT_EQ(S_OK, reader.Create(unknown));
  const HRESULT hr = original ? Query<IRowsetUpdate>(unknown, IID_IRowsetUpdate)
                                    ->GetOriginalData(row, reader.Handle(), reader.Data())
                              : Query<IRowset>(unknown, IID_IRowset)->GetData(row, reader.Handle(), reader.Data());
  if (FAILED(hr)) return L"<failed>";
  return reader.Status(0) == DBSTATUS_S_ISNULL ? L"<null>" : reader.Text(0);
}

TEST(ConsumerRowsetFetch, BatchesOfOneSevenAndAHundredReadEveryRow) {
  constexpr int RowTotal = 250;
  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(RowTotal).Get(), OleDbCapabilityLocate);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  // Every column as IColumnsInfo describes it, the long one as bytes.
  TAccessor accessor;
  DBORDINAL count = 0;
  DBCOLUMNINFO* info = nullptr;
  OLECHAR* names = nullptr;
  ASSERT_EQ(S_OK, Query<IColumnsInfo>(unknown, IID_IColumnsInfo)->GetColumnInfo(&count, &info, &names));
  for (DBORDINAL i = 0; i < count; ++i) {
    if (info[i].dwFlags & DBCOLUMNFLAGS_ISLONG)
      accessor.Add(info[i].iOrdinal, DBTYPE_BYTES, 512);
    else
      accessor.Add(info[i].iOrdinal, info[i].wType, (info[i].ulColumnSize + 1) * sizeof(wchar_t));
  }
  CoTaskMemFree(info);
  CoTaskMemFree(names);
  ASSERT_EQ(S_OK, accessor.Create(unknown));

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
    // A skip back from the end brings rows again.
    EXPECT_EQ((std::vector<LONG>{RowTotal - 1}), TakeIds(unknown, Fetch(*rowset, -2, 1).Rows));
  }

  TComPtr<IUnknown> empty = OpenRowset(MakeRows(0).Get(), 0);
  TFetched none = Fetch(*Query<IRowset>(empty, IID_IRowset), 0, 5);
  EXPECT_EQ(DB_S_ENDOFROWSET, none.Result);
  EXPECT_TRUE(none.Rows.empty());
}

TEST(ConsumerRowsetBookmarks, ProviderAndStandardBookmarksLocateRows) {
  EXPECT_FALSE(Query<IRowsetLocate>(OpenRowset(MakeRows(1).Get(), 0), IID_IRowsetLocate));
  EXPECT_FALSE(Query<IRowsetScroll>(OpenRowset(MakeRows(1).Get(), OleDbCapabilityLocate), IID_IRowsetScroll));

  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(10).Get(), OleDbCapabilityLocate | OleDbCapabilityScroll);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TComPtr<IRowsetScroll> scroll = Query<IRowsetScroll>(unknown, IID_IRowsetScroll);
  ASSERT_TRUE(scroll);

  // The bookmark of the row with ID 8, as a consumer reads it.
  TAccessor marks;
  marks.Add(Bmk, DBTYPE_I4, 4);
  ASSERT_EQ(S_OK, marks.Create(unknown));
  TFetched fetched = Fetch(*rowset, 7, 1);
  ASSERT_EQ(S_OK, rowset->GetData(fetched.Rows.at(0), marks.Handle(), marks.Data()));
  const LONG bookmark = marks.Value<LONG>(0);
  Release(*rowset, fetched.Rows);
  ASSERT_EQ(S_OK, rowset->RestartPosition(DB_NULL_HCHAPTER));

  const LONG foreignValue = 999;
  const BYTE first = DBBMK_FIRST, last = DBBMK_LAST;
  const auto rowsAt = [&](DBBKMARK length, const void* mark, DBROWOFFSET offset, DBROWCOUNT count, HRESULT expected) {
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    EXPECT_EQ(expected, scroll->GetRowsAt(0, DB_NULL_HCHAPTER, length, static_cast<const BYTE*>(mark), offset, count,
                                          &obtained, &rows));
    std::vector<HROW> handles(rows, rows + obtained);
    CoTaskMemFree(rows);
    return TakeIds(unknown, handles);
  };
  EXPECT_EQ((std::vector<LONG>{8, 9}), rowsAt(4, &bookmark, 0, 2, S_OK));
  EXPECT_EQ((std::vector<LONG>{3}), rowsAt(1, &first, 2, 1, S_OK));
  EXPECT_EQ((std::vector<LONG>{10}), rowsAt(1, &last, 0, 5, DB_S_ENDOFROWSET));
  EXPECT_TRUE(rowsAt(4, &foreignValue, 0, 1, DB_E_BADBOOKMARK).empty());

  DBCOUNTITEM position = 0, rowCount = 0;
  EXPECT_EQ(S_OK, scroll->GetApproximatePosition(DB_NULL_HCHAPTER, 4, reinterpret_cast<const BYTE*>(&bookmark),
                                                 &position, &rowCount));
  EXPECT_EQ(8u, position);
  EXPECT_EQ(10u, rowCount);
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  EXPECT_EQ(S_OK, scroll->GetRowsAtRatio(0, DB_NULL_HCHAPTER, 1, 2, 1, &obtained, &rows));
  EXPECT_EQ((std::vector<LONG>{6}), TakeIds(unknown, std::vector<HROW>(rows, rows + obtained)));
  CoTaskMemFree(rows);

  // None of the positioned calls moved the fetch position.
  EXPECT_EQ((std::vector<LONG>{1}), TakeIds(unknown, Fetch(*rowset, 0, 1).Rows));
}

TEST(ConsumerRowsetValues, ConversionsTruncationNullsAndStreams) {
  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(8).Get(), 0);
  TComPtr<IRowset> rowset = Query<IRowset>(unknown, IID_IRowset);
  TFetched fetched = Fetch(*rowset, 0, 7);
  ASSERT_EQ(7u, fetched.Rows.size());

  TAccessor mixed;
  mixed.Add(Id, DBTYPE_WSTR, 20);
  mixed.Add(Name, DBTYPE_WSTR, 8);
  mixed.Add(Amount, DBTYPE_I4, 4);
  mixed.Add(Name, DBTYPE_I4, 4);
  ASSERT_EQ(S_OK, mixed.Create(unknown));
  mixed.Clear();
  EXPECT_EQ(DB_S_ERRORSOCCURRED, rowset->GetData(fetched.Rows[0], mixed.Handle(), mixed.Data()));
  EXPECT_STREQ(L"1", mixed.Text(0));
  EXPECT_EQ(DBSTATUS_S_TRUNCATED, mixed.Status(1));
  EXPECT_STREQ(L"nam", mixed.Text(1));
  EXPECT_EQ(10u, mixed.Length(1));
  EXPECT_EQ(DBSTATUS_S_OK, mixed.Status(2));
  EXPECT_EQ(2, mixed.Value<LONG>(2));
  EXPECT_NE(DBSTATUS_S_OK, mixed.Status(3)) << "name1 is no number";
  // NULL is no failure and leaves the length alone.
  mixed.Clear();
  EXPECT_EQ(S_OK, rowset->GetData(fetched.Rows[2], mixed.Handle(), mixed.Data()));
  EXPECT_EQ(DBSTATUS_S_ISNULL, mixed.Status(1));
  EXPECT_EQ(static_cast<DBLENGTH>(0xCDCDCDCDCDCDCDCDull), mixed.Length(1));
  EXPECT_EQ(DBSTATUS_S_ISNULL, mixed.Status(3));

  DBOBJECT reading = {STGM_READ, IID_ISequentialStream};
  DBOBJECT writing = {STGM_WRITE, IID_ISequentialStream};
  TAccessor streams;
  streams.Add(Note, DBTYPE_IUNKNOWN, sizeof(IUnknown*), &reading);
  streams.Add(Name, DBTYPE_IUNKNOWN, sizeof(IUnknown*), &reading);
  streams.Add(Note, DBTYPE_BYTES, 10);
  streams.Add(Note, DBTYPE_WSTR, 400);
  streams.Add(Note, DBTYPE_IUNKNOWN, sizeof(IUnknown*), &writing);
  ASSERT_EQ(S_OK, streams.Create(unknown));
  EXPECT_EQ(DB_S_ERRORSOCCURRED, rowset->GetData(fetched.Rows[6], streams.Handle(), streams.Data()));
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
  EXPECT_EQ(0, std::memcmp(NoteOf(7).c_str(), &streams.Value<BYTE>(2), 10));
  EXPECT_EQ(DBSTATUS_E_CANTCONVERTVALUE, streams.Status(3));
  EXPECT_EQ(DBSTATUS_E_CANTCREATE, streams.Status(4)) << "a copy cannot carry writes back";
  Release(*rowset, fetched.Rows);
}

TEST(ConsumerRowsetChanges, ImmediateWritesInsertsAndDeletesReachTheRows) {
  TComPtr<TChangeableData> data = MakeRows(10);
  TComPtr<IUnknown> unknown = OpenRowset(data.Get(), 0x0F);
  TComPtr<IRowsetChange> change = Query<IRowsetChange>(unknown, IID_IRowsetChange);
  ASSERT_TRUE(change);
  const HROW third = Fetch(*Query<IRowset>(unknown, IID_IRowset), 2, 1).Rows.at(0);

  TAccessor names, ids, marks;
  names.Add(Name, DBTYPE_WSTR, 80);
  ids.Add(Id, DBTYPE_WSTR, 80);
  marks.Add(Bmk, DBTYPE_WSTR, 80);
  ASSERT_EQ(S_OK, names.Create(unknown));
  ASSERT_EQ(S_OK, ids.Create(unknown));
  ASSERT_EQ(S_OK, marks.Create(unknown));
  EXPECT_EQ(L"<null>", NameRead(unknown, third));
  EXPECT_EQ(S_OK, change->SetData(third, names.Handle(), names.Write(L"renamed")));
  EXPECT_EQ(L"renamed", NameRead(unknown, third));
  TOleDbVariant stored;
  data->GetValue(2, Name, stored.Get());
  EXPECT_STREQ(L"renamed", V_BSTR(&stored.Get()));
  EXPECT_EQ(DB_E_ERRORSOCCURRED, change->SetData(third, names.Handle(), names.Write(L"far too long a name")));
  EXPECT_EQ(DBSTATUS_E_DATAOVERFLOW, names.Status(0));
  EXPECT_EQ(L"renamed", NameRead(unknown, third)) << "a name that does not fit is not cut";
  EXPECT_EQ(S_OK, change->SetData(third, names.Handle(), names.Write(L"ignored", DBSTATUS_S_IGNORE)));
  EXPECT_EQ(L"renamed", NameRead(unknown, third));
  EXPECT_EQ(S_OK, change->SetData(third, names.Handle(), names.Write(L"", DBSTATUS_S_ISNULL)));
  EXPECT_EQ(L"<null>", NameRead(unknown, third));

  EXPECT_EQ(DB_E_ERRORSOCCURRED, change->SetData(third, ids.Handle(), ids.Write(L"not a number")));
  data->GetValue(2, Id, stored.Get());
  ASSERT_EQ(VT_I4, stored.Type()) << "a failed write leaves the value as it was";
  EXPECT_EQ(3, V_I4(&stored.Get()));
  // Bookmarks locate the rows: they cannot be overwritten.
  EXPECT_EQ(DB_E_ERRORSOCCURRED, change->SetData(third, marks.Handle(), marks.Write(L"5")));
  EXPECT_EQ(DBSTATUS_E_PERMISSIONDENIED, marks.Status(0));
  EXPECT_EQ(2, BookmarkValue(*data, 2));

  HROW inserted = DB_NULL_HROW;
  EXPECT_EQ(S_OK, change->InsertRow(DB_NULL_HCHAPTER, names.Handle(), names.Write(L"fresh"), &inserted));
  EXPECT_EQ(11, data->RowCount());
  EXPECT_EQ(L"fresh", NameRead(unknown, inserted));
  EXPECT_EQ(10, BookmarkValue(*data, 10));

  DBROWSTATUS deleted = ~0u;
  EXPECT_EQ(S_OK, change->DeleteRows(DB_NULL_HCHAPTER, 1, &third, &deleted));
  EXPECT_EQ(L"<failed>", NameRead(unknown, third));
  Release(*Query<IRowset>(unknown, IID_IRowset), {third, inserted});
}

TEST(ConsumerRowsetChanges, DeferredChangesAndAVetoingListener) {
  TComPtr<IUnknown> unknown = OpenRowset(MakeRows(5).Get(), 0x6F);
  TComPtr<IRowsetUpdate> update = Query<IRowsetUpdate>(unknown, IID_IRowsetUpdate);
  ASSERT_TRUE(update);
  const HROW first = Fetch(*Query<IRowset>(unknown, IID_IRowset), 0, 1).Rows.at(0);
  TAccessor names;
  names.Add(Name, DBTYPE_WSTR, 80);
  ASSERT_EQ(S_OK, names.Create(unknown));
  const auto pending = [&](HROW row) {
    DBPENDINGSTATUS status = 0;
    update->GetRowStatus(DB_NULL_HCHAPTER, 1, &row, &status);
    return status;
  };

  EXPECT_EQ(S_OK, update->SetData(first, names.Handle(), names.Write(L"changed")));
  EXPECT_EQ(DBPENDINGSTATUS_CHANGED, pending(first));
  EXPECT_EQ(L"changed", NameRead(unknown, first, true)) << "buffers keep one version of a row";
  EXPECT_EQ(S_OK, update->Update(DB_NULL_HCHAPTER, 1, &first, nullptr, nullptr, nullptr));
  EXPECT_EQ(DBPENDINGSTATUS_UNCHANGED, pending(first));
  HROW inserted = DB_NULL_HROW;
  EXPECT_EQ(S_OK, update->InsertRow(DB_NULL_HCHAPTER, names.Handle(), names.Write(L"new"), &inserted));
  EXPECT_EQ(DBPENDINGSTATUS_NEW, pending(inserted));
  EXPECT_EQ(S_OK, update->Undo(DB_NULL_HCHAPTER, 1, &inserted, nullptr, nullptr, nullptr));
  EXPECT_EQ(DBPENDINGSTATUS_INVALIDROW, pending(inserted));
  EXPECT_EQ(L"<failed>", NameRead(unknown, inserted));

  class TVetoingListener : public TComImpl<TComObject, IRowsetNotify> {
  public:
    HRESULT STDMETHODCALLTYPE OnFieldChange(IRowset*, HROW, DBORDINAL, DBORDINAL[], DBREASON reason,
                                            DBEVENTPHASE phase, BOOL) override {
      return reason == VetoReason && phase == DBEVENTPHASE_OKTODO ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnRowChange(IRowset*, DBCOUNTITEM, const HROW[], DBREASON reason, DBEVENTPHASE phase,
                                          BOOL) override {
      return reason == VetoReason && phase == DBEVENTPHASE_OKTODO ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnRowsetChange(IRowset*, DBREASON, DBEVENTPHASE, BOOL) override { return S_OK; }
    DBREASON VetoReason = DBREASON_COLUMN_SET;
  };
  TComPtr<IConnectionPoint> point;
  ASSERT_EQ(S_OK, Query<IConnectionPointContainer>(unknown, IID_IConnectionPointContainer)
                      ->FindConnectionPoint(IID_IRowsetNotify, point.Put()));
  TComPtr<TVetoingListener> listener = MakeComObject<TVetoingListener>();
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, point->Advise(static_cast<IRowsetNotify*>(listener.Get()), &cookie));
  EXPECT_EQ(DB_E_CANCELED, update->SetData(first, names.Handle(), names.Write(L"vetoed")));
  EXPECT_EQ(L"changed", NameRead(unknown, first));
  EXPECT_EQ(DBPENDINGSTATUS_UNCHANGED, pending(first));
  listener->VetoReason = DBREASON_ROW_DELETE;
  DBROWSTATUS status = 0;
  EXPECT_EQ(DB_E_ERRORSOCCURRED, update->DeleteRows(DB_NULL_HCHAPTER, 1, &first, &status));
  EXPECT_EQ(DBROWSTATUS_E_CANCELED, status);
  EXPECT_EQ(DBPENDINGSTATUS_UNCHANGED, pending(first));
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
  Release(*Query<IRowset>(unknown, IID_IRowset), {first, inserted});
}

}  // namespace
