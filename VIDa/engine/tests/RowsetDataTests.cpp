#include <gtest/gtest.h>

#include <oledberr.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ComObj.h"
#include "EngineOutcome.h"
#include "OLEDbAccessor.h"
#include "OLEDbError.h"
#include "OLEDbIndexCursor.h"
#include "OLEDbProperties.h"
#include "OLEDbRowsetData.h"
#include "TestRowsetOwner.h"

namespace {

enum : DBORDINAL { BookmarkOrdinal = 0, IdOrdinal = 1, NameOrdinal = 2, StampOrdinal = 3, BlobOrdinal = 4 };

struct TTableRow {
  std::int32_t Index;
  std::int32_t Id;
  std::wstring Name;
  DATE Stamp;
  std::string Blob;
};

class TCountedStream : public TOleDbBlobStream {
public:
  TCountedStream(std::unique_ptr<TOleDbByteStream> stream, int& live)
      : TOleDbBlobStream(std::move(stream)), live_(&live) {
    ++*live_;
  }
  ~TCountedStream() override { --*live_; }

private:
  int* live_;
};

// Rows i = 0..n-1: Id i + 1, Name "Row<i+1>" (NULL in row 4), a date and
// bytes. Row values and the 4-byte bookmarks are row indexes.
class TTableData : public TOleDbRowsetData {
public:
  TTableData(int rowCount, bool bookmarks) : bookmarks_(bookmarks) {
    if (bookmarks) Columns().AddColumn(L"Bookmark", DBTYPE_I4, 4, DBCOLUMNFLAGS_ISBOOKMARK, 0, 0, BookmarkOrdinal);
    Columns().AddColumn(L"Id", DBTYPE_I4, 4, 0, 0, 0, IdOrdinal);
    Columns().AddColumn(L"Name", DBTYPE_WSTR, 22, DBCOLUMNFLAGS_ISNULLABLE, 0, 0, NameOrdinal);
    Columns().AddColumn(L"Stamp", DBTYPE_DATE, 8, 0, 0, 0, StampOrdinal);
    Columns().AddColumn(L"Blob", DBTYPE_BYTES, ~0u, DBCOLUMNFLAGS_ISLONG, 0, 0, BlobOrdinal);
    for (int i = 0; i < rowCount; ++i)
      Rows.push_back({i, i + 1, L"Row" + std::to_wstring(i + 1), 45000.0 + i, "blob-" + std::to_string(i + 1)});
  }

  void GetColumnReadBuffer(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH&, bool& isNull) override {
    TTableRow& row = Rows.at(rowValue);
    isNull = column.Ordinal == NameOrdinal && rowValue == 4;
    void* fields[] = {&row.Index, &row.Id, row.Name.data(), &row.Stamp, row.Blob.data()};
    data = fields[column.Ordinal];
  }
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override {
    return MoveIndexCursor(Current, static_cast<std::int32_t>(Rows.size()), kind, count);
  }
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override {
    if (Current == FailFetchAt) throw EOleError(L"Row cannot be read", E_FAIL);
    const TOleDbCursorPosition position = MoveCursor(TOleDbMoveKind::Stay, 1);
    if (position == TOleDbCursorPosition::OnRow) handle.SetRowValue(Current);
    return position;
  }
  void* GetBookmark() override {
    if (!bookmarks_) return TOleDbRowsetData::GetBookmark();
    void* block = OleDbAlloc(sizeof(std::int32_t));
    const auto index = static_cast<std::int32_t>(Current);
    std::memcpy(block, &index, sizeof(index));
    return block;
  }
  void GotoBookmark(const void* bookmark) override { Current = IndexOf(bookmark); }
  void GetBookmarkRow(const BYTE* bookmark, std::int32_t& rowValue, DBROWSTATUS& status) override {
    if (Outcome([&] { rowValue = IndexOf(bookmark); }) != S_OK) status = DBROWSTATUS_E_INVALID;
  }
  void HashBookmark(const BYTE* bookmark, DBHASHVALUE& hash, DBROWSTATUS& status) override {
    hash = IndexOf(bookmark) * 7u;
    status = DBROWSTATUS_S_OK;
  }
  DBCOUNTITEM GetRowCount() override { return bookmarks_ ? Rows.size() : TOleDbRowsetData::GetRowCount(); }
  DBCOUNTITEM GetBookmarkRowIndex(const BYTE* bookmark) override { return IndexOf(bookmark); }
  void SetRowIndex(DBCOUNTITEM index) override { Current = static_cast<std::int32_t>(index); }
  // Counts the streams alive, through a stream that tells when it goes.
  TComPtr<IUnknown> CreateBlobStream(std::unique_ptr<TOleDbByteStream> reader) override {
    TComPtr<TCountedStream> stream = MakeComObject<TCountedStream>(std::move(reader), LiveStreams);
    return TComPtr<IUnknown>(static_cast<ISequentialStream*>(stream.Get()));
  }
  std::unique_ptr<TOleDbByteStream> GetColumnBlobStream(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn&,
                                                        TOleDbBlobAccess access, void*) override {
    LastBlobAccess = access;
    if (!BlobStreams) return nullptr;
    const std::string& blob = Rows.at(rowValue).Blob;
    return std::make_unique<TOleDbByteStream>(blob.data(), blob.size());
  }

  std::vector<TTableRow> Rows;
  std::int32_t Current = -1;
  std::int64_t FailFetchAt = -2;
  bool BlobStreams = true;
  TOleDbBlobAccess LastBlobAccess = TOleDbBlobAccess::Read;
  int LiveStreams = 0;

private:
  std::int32_t IndexOf(const void* bookmark) const {
    std::int32_t index;
    std::memcpy(&index, bookmark, sizeof(index));
    if (index < 0 || index >= static_cast<std::int32_t>(Rows.size())) throw EOleDbException(DB_E_BADBOOKMARK);
    return index;
  }
  bool bookmarks_;
};

// One binding's status, length and value in the consumer's buffer.
struct TSlot {
  DBSTATUS Status;
  DBLENGTH Length;
  BYTE Value[48];
};

DBBINDING Bind(std::size_t slot, DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength = 48,
               DBPART parts = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS) {
  DBBINDING binding{};
  binding.iOrdinal = ordinal;
  binding.obValue = slot * sizeof(TSlot) + offsetof(TSlot, Value);
  binding.obLength = slot * sizeof(TSlot) + offsetof(TSlot, Length);
  binding.obStatus = slot * sizeof(TSlot) + offsetof(TSlot, Status);
  binding.cbMaxLen = maxLength;
  binding.dwPart = parts;
  binding.wType = type;
  return binding;
}

template <class T>
T ValueOf(const TSlot& slot) {
  T value;
  std::memcpy(&value, slot.Value, sizeof(value));
  return value;
}

using V = std::vector<int>;

class RowsetDataTest : public testing::Test {
protected:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override {
    if (data) data->SetOwner(nullptr);
    CoUninitialize();
  }

  void Open(int rows = 10, bool bookmarks = true) {
    if (data) data->SetOwner(nullptr);
    data = nullptr;
    owner = MakeComObject<TTestRowsetOwner>(OleDbCapabilityLocate | OleDbCapabilityScroll);
    data = MakeComObject<TTableData>(rows, bookmarks);
    data->SetOwner(owner.Get());
    for (DBPROPID id : {DBPROP_CANHOLDROWS, DBPROP_CANFETCHBACKWARDS, DBPROP_CANSCROLLBACKWARDS})
      owner->SetRowsetFlag(id, true);
  }

  // Runs a fetch and answers the Ids of its rows, which are released again.
  template <class F>
  V Rows(F&& fetch, HRESULT* hr = nullptr) {
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    const HRESULT result = Outcome([&] { return fetch(&obtained, &rows); });
    if (hr) *hr = result;
    V ids;
    for (DBCOUNTITEM i = 0; i < obtained; ++i) {
      TOleDbRowHandle* handle = owner->Handles.FindHandle(rows[i]);
      ids.push_back(handle ? handle->RowValue() + 1 : -1);
      if (handle) handle->Release();
    }
    CoTaskMemFree(rows);
    return ids;
  }
  V Next(DBROWOFFSET offset, DBROWCOUNT count, HRESULT* hr = nullptr) {
    return Rows([&](DBCOUNTITEM* n, HROW** rows) { return data->GetNextRows(0, offset, count, n, rows, true); }, hr);
  }
  V At(DBBKMARK size, const void* bookmark, DBROWOFFSET offset, DBROWCOUNT count, HRESULT* hr = nullptr) {
    return Rows([&](DBCOUNTITEM* n, HROW** rows) {
      return data->GetRowsAt(0, size, static_cast<const BYTE*>(bookmark), offset, count, n, rows);
    }, hr);
  }
  V AtRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator, DBROWCOUNT count, HRESULT* hr = nullptr) {
    return Rows([&](DBCOUNTITEM* n, HROW** rows) {
      return data->GetRowsAtRatio(0, 0, numerator, denominator, count, n, rows);
    }, hr);
  }
  HACCESSOR Accessor(std::vector<DBBINDING> bindings) {
    return owner->Accessors.CreateAccessor(DBACCESSOR_ROWDATA, 0, bindings.data(), bindings.size()).Handle();
  }
  HROW RowHandle(std::int32_t rowValue) {
    TOleDbRowHandle& handle = owner->Handles.CreateHandle(rowValue);
    handle.AddRef();
    return handle.HRow();
  }

  TComPtr<TTestRowsetOwner> owner;
  TComPtr<TTableData> data;
  const BYTE first = DBBMK_FIRST, last = DBBMK_LAST, invalid = DBBMK_INVALID;
  const std::int32_t row3 = 3, row3Again = 3, row6 = 6, row7 = 7, row40 = 40;
};

// ---- Fetching -----------------------------------------------------------------------

TEST_F(RowsetDataTest, FetchDirectionsOffsetsAndRestart) {
  Open();
  EXPECT_EQ(Next(-1, 1), V{1}) << "from the start a skip of -1 means none";
  data->RestartPosition(0);
  EXPECT_EQ(Next(0, 3), (V{1, 2, 3}));
  EXPECT_EQ(Next(0, 0), V{});
  EXPECT_EQ(Next(0, 3), (V{4, 5, 6}));
  EXPECT_EQ(Next(0, -2), (V{6, 5})) << "turning round returns the last row first";
  EXPECT_EQ(Next(0, 2), (V{5, 6}));
  EXPECT_EQ(Next(2, 1), V{9});
  EXPECT_EQ(Next(-3, -1), V{6});
  data->RestartPosition(0);
  EXPECT_EQ(Next(0, -2), (V{10, 9}));
}

TEST_F(RowsetDataTest, FetchEndsAndRowsetProperties) {
  Open();
  HRESULT hr;
  EXPECT_EQ(Next(20, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  data->RestartPosition(0);
  EXPECT_EQ(Next(5, 10, &hr), (V{6, 7, 8, 9, 10}));
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(Next(0, -1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(Next(0, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(Next(-1, 1, &hr), V{10}) << "a skip back from the end brings rows again";

  data->RestartPosition(0);
  for (DBPROPID id : {DBPROP_CANHOLDROWS, DBPROP_CANFETCHBACKWARDS, DBPROP_CANSCROLLBACKWARDS})
    owner->SetRowsetFlag(id, false);
  Next(-1, 1, &hr);
  EXPECT_EQ(hr, DB_E_CANTSCROLLBACKWARDS);
  Next(0, -1, &hr);
  EXPECT_EQ(hr, DB_E_CANTFETCHBACKWARDS);
  DBCOUNTITEM obtained = 0;
  HROW row[1] = {};
  HROW* rows = row;
  ASSERT_EQ(data->GetNextRows(0, 0, 1, &obtained, &rows, true), S_OK);
  EXPECT_EQ(rows, row) << "a consumer's array is filled, not replaced";
  Next(0, 1, &hr);
  EXPECT_EQ(hr, DB_E_ROWSNOTRELEASED);
  owner->Handles.FindHandle(row[0])->Release();
  EXPECT_EQ(Next(0, 1), V{2}) << "the refused fetch did not move";

  Open(0);
  EXPECT_EQ(Next(0, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
}

TEST_F(RowsetDataTest, FetchBadOutputsAndPartWayFailure) {
  Open();
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  EXPECT_EQ(Outcome([&] { return data->GetNextRows(0, 0, 1, nullptr, &rows, true); }), E_INVALIDARG);
  EXPECT_EQ(Outcome([&] { return data->GetNextRows(0, 0, 1, &obtained, nullptr, true); }), E_INVALIDARG);
  EXPECT_EQ(data->GetNextRows(0, 50, 1, &obtained, &rows, true), DB_S_ENDOFROWSET);
  EXPECT_EQ(rows, nullptr) << "nothing allocated without rows";

  data->RestartPosition(0);
  data->FailFetchAt = 3;
  std::wstring message;
  EXPECT_EQ(Outcome([&] { return data->GetNextRows(0, 0, 5, &obtained, &rows, true); }, &message), E_FAIL);
  EXPECT_EQ(message, L"Row cannot be read");
  EXPECT_EQ(obtained, 0u);
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(owner->Handles.Count(), 0u) << "the rows taken before the failure went back";
}

// ---- Positioned fetches and bookmarks -----------------------------------------------

TEST_F(RowsetDataTest, BookmarksPositionedFetchesKeepTheFetchPosition) {
  Open();
  EXPECT_EQ(Next(0, 2), (V{1, 2}));
  HRESULT hr;
  EXPECT_EQ(At(1, &first, 0, 2), (V{1, 2}));
  EXPECT_EQ(At(1, &last, -1, -2), (V{9, 8}));
  EXPECT_EQ(At(4, &row6, 1, 2), (V{8, 9}));
  EXPECT_EQ(At(4, &row6, 2, 5, &hr), (V{9, 10}));
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  At(1, &invalid, 0, 1, &hr);
  EXPECT_EQ(hr, DB_E_BADBOOKMARK);
  At(2, &row6, 0, 1, &hr);
  EXPECT_EQ(hr, DB_E_BADBOOKMARK) << "not the bookmark column's size";

  EXPECT_EQ(AtRatio(1, 2, 1), V{6});
  EXPECT_EQ(AtRatio(0, 5, 2), (V{1, 2}));
  EXPECT_EQ(AtRatio(3, 3, -1), V{10});
  EXPECT_EQ(AtRatio(9, 3, 1), V{10});
  EXPECT_EQ(AtRatio(3, 3, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  AtRatio(1, 0, 1, &hr);
  EXPECT_EQ(hr, DB_E_BADRATIO);
  EXPECT_EQ(Next(0, 1), V{3});
}

TEST_F(RowsetDataTest, BookmarksCompareHashAndLocate) {
  Open();
  DBCOMPARE comparison = 0;
  auto compare = [&](DBBKMARK size1, const void* b1, DBBKMARK size2, const void* b2) {
    const HRESULT hr = Outcome([&] {
      data->Compare(0, size1, static_cast<const BYTE*>(b1), size2, static_cast<const BYTE*>(b2), &comparison);
    });
    return hr == S_OK ? static_cast<HRESULT>(comparison) : hr;
  };
  EXPECT_EQ(compare(1, &first, 1, &first), DBCOMPARE_EQ);
  EXPECT_EQ(compare(1, &first, 1, &last), DBCOMPARE_NE);
  EXPECT_EQ(compare(4, &row3, 4, &row3Again), DBCOMPARE_EQ);
  EXPECT_EQ(compare(4, &row3, 4, &row6), DBCOMPARE_NE);
  EXPECT_EQ(compare(1, &first, 4, &row3), DBCOMPARE_NE);
  EXPECT_EQ(compare(1, &invalid, 1, &first), DB_E_BADBOOKMARK);
  EXPECT_EQ(compare(3, &row3, 4, &row3), DB_E_BADBOOKMARK);
  EXPECT_EQ(compare(0, &first, 1, &first), E_INVALIDARG);

  const DBBKMARK sizes[] = {4, 1, 4, 2, 4};
  const BYTE* bookmarks[] = {reinterpret_cast<const BYTE*>(&row3), &first, reinterpret_cast<const BYTE*>(&row40),
                             reinterpret_cast<const BYTE*>(&row7), reinterpret_cast<const BYTE*>(&row7)};
  HROW rows[5];
  DBROWSTATUS statuses[5];
  EXPECT_EQ(data->GetRowsByBookmark(0, 5, sizes, bookmarks, rows, statuses), DB_S_ERRORSOCCURRED);
  const DBROWSTATUS expected[] = {DBROWSTATUS_S_OK, DBROWSTATUS_E_INVALID, DBROWSTATUS_E_INVALID,
                                  DBROWSTATUS_E_INVALID, DBROWSTATUS_S_OK};
  EXPECT_TRUE(std::equal(statuses, statuses + 5, expected));
  EXPECT_EQ(rows[1], DB_NULL_HROW);
  EXPECT_EQ(owner->Handles.FindHandle(rows[0])->RowValue(), 3);
  EXPECT_EQ(owner->Handles.FindHandle(rows[4])->RefCount(), 1);

  DBHASHVALUE hashes[2];
  EXPECT_EQ(data->Hash(0, 2, sizes, bookmarks, hashes, statuses), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(hashes[0], 21u);
  EXPECT_EQ(statuses[1], DBROWSTATUS_E_INVALID);

  DBCOUNTITEM position = 0, rowCount = 0;
  data->GetApproximatePosition(0, 4, reinterpret_cast<const BYTE*>(&row7), &position, &rowCount);
  EXPECT_EQ(position, 8u);
  EXPECT_EQ(rowCount, 10u);
  data->GetApproximatePosition(0, 1, &last, &position, nullptr);
  EXPECT_EQ(position, 10u);
  EXPECT_EQ(Outcome([&] { data->GetApproximatePosition(0, 4, nullptr, &position, &rowCount); }), E_INVALIDARG);
}

TEST_F(RowsetDataTest, BookmarksOnDataWithoutThemAreNotImplemented) {
  Open(10, false);
  EXPECT_EQ(Next(0, 1), V{1});
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  std::wstring message;
  EXPECT_EQ(Outcome([&] { return data->GetRowsAt(0, 1, &first, 0, 1, &obtained, &rows); }, &message), E_FAIL);
  EXPECT_EQ(message, L"This operation is not implemented.\rTOleDbRowSetData.GetBookmark");
  EXPECT_EQ(Outcome([&] { data->GetApproximatePosition(0, 0, nullptr, nullptr, &obtained); }, &message), E_FAIL);
  EXPECT_EQ(message, L"This operation is not implemented.\rTOleDbRowSetData.GetRowCount");
  EXPECT_EQ(owner->Handles.Count(), 0u);
}

// ---- Reading values -----------------------------------------------------------------

TEST_F(RowsetDataTest, ValuesPartsNullsAndTruncation) {
  Open();
  const HACCESSOR accessor = Accessor({Bind(0, IdOrdinal, DBTYPE_I4), Bind(1, NameOrdinal, DBTYPE_WSTR),
                                       Bind(2, StampOrdinal, DBTYPE_DATE), Bind(3, BookmarkOrdinal, DBTYPE_I4),
                                       Bind(4, NameOrdinal, DBTYPE_WSTR, 48, DBPART_LENGTH),
                                       Bind(5, IdOrdinal, DBTYPE_I4, 48, DBPART_STATUS)});
  TSlot slots[6];
  std::memset(slots, 0xAB, sizeof(slots));
  ASSERT_EQ(data->GetData(RowHandle(2), accessor, slots), S_OK);
  EXPECT_EQ(ValueOf<std::int32_t>(slots[0]), 3);
  EXPECT_EQ(slots[0].Length, 4u);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(slots[1].Value), L"Row3");
  EXPECT_EQ(slots[1].Length, 8u);
  EXPECT_EQ(ValueOf<DATE>(slots[2]), 45002.0);
  EXPECT_EQ(ValueOf<std::int32_t>(slots[3]), 2) << "the bookmark";
  EXPECT_EQ(slots[4].Length, 8u);
  EXPECT_EQ(slots[4].Value[0], 0xAB) << "no value part, no value";
  EXPECT_EQ(slots[5].Status, DBSTATUS_S_OK);
  EXPECT_EQ(slots[5].Value[0], 0xAB);

  const HACCESSOR narrow = Accessor({Bind(0, NameOrdinal, DBTYPE_WSTR, 6), Bind(1, NameOrdinal, DBTYPE_STR, 3)});
  std::memset(slots, 0xAB, sizeof(slots));
  ASSERT_EQ(data->GetData(RowHandle(4), narrow, slots), S_OK);
  EXPECT_EQ(slots[0].Status, DBSTATUS_S_ISNULL);
  EXPECT_EQ(slots[0].Length, DBLENGTH(0xABABABABABABABABull)) << "the length of a NULL is left alone";
  ASSERT_EQ(data->GetData(RowHandle(9), narrow, slots), S_OK) << "truncation is success";
  EXPECT_EQ(slots[0].Status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(slots[0].Length, 10u);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(slots[0].Value), L"Ro");
  EXPECT_EQ(slots[1].Status, DBSTATUS_S_TRUNCATED) << "converted to single-byte text";
  EXPECT_EQ(slots[1].Length, 5u);
  EXPECT_STREQ(reinterpret_cast<const char*>(slots[1].Value), "Ro");
}

TEST_F(RowsetDataTest, ValuesConversionsAndAccessChecks) {
  Open();
  data->Rows[0].Name = L"x7";
  const HROW row = RowHandle(0);
  TSlot slots[3] = {};
  const HACCESSOR mixed = Accessor({Bind(0, IdOrdinal, DBTYPE_WSTR), Bind(1, NameOrdinal, DBTYPE_I4),
                                    Bind(2, StampOrdinal, DBTYPE_R8)});
  EXPECT_EQ(data->GetData(row, mixed, slots), DB_S_ERRORSOCCURRED);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(slots[0].Value), L"1");
  EXPECT_NE(slots[1].Status, DBSTATUS_S_OK);
  EXPECT_NE(slots[1].Status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(slots[2].Status, DBSTATUS_S_OK) << "bindings after a failed one are still transferred";
  EXPECT_EQ(ValueOf<double>(slots[2]), 45000.0);
  const HACCESSOR failing = Accessor({Bind(0, NameOrdinal, DBTYPE_I4), Bind(1, BlobOrdinal, DBTYPE_I4)});
  EXPECT_EQ(data->GetData(row, failing, slots), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(slots[0].Status, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(slots[1].Status, DBSTATUS_E_CANTCONVERTVALUE);
  const HACCESSOR refused = Accessor({Bind(0, StampOrdinal, DBTYPE_GUID), Bind(1, IdOrdinal, DBTYPE_UI1)});
  data->Rows[0].Id = 300;
  EXPECT_EQ(data->GetData(row, refused, slots), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(slots[0].Status, DBSTATUS_E_CANTCONVERTVALUE) << "a conversion the converter refuses";
  EXPECT_EQ(slots[1].Status, DBSTATUS_E_DATAOVERFLOW);

  EXPECT_EQ(data->GetData(row, Accessor({}), nullptr), S_OK) << "a null accessor transfers nothing";
  EXPECT_EQ(Outcome([&] { return data->GetData(row + 1000, mixed, slots); }), DB_E_BADROWHANDLE);
  EXPECT_EQ(Outcome([&] { return data->GetData(row, mixed + 1000, slots); }), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(Outcome([&] { return data->GetData(row, mixed, nullptr); }), E_INVALIDARG);
  EXPECT_EQ(Outcome([&] { return data->GetData(row, Accessor({Bind(0, 99, DBTYPE_I4)}), slots); }), DB_E_BADORDINAL);
  DBBINDING providerOwned = Bind(0, IdOrdinal, DBTYPE_I4);
  providerOwned.dwMemOwner = DBMEMOWNER_PROVIDEROWNED;
  std::wstring message;
  EXPECT_EQ(Outcome([&] { return data->GetData(row, Accessor({providerOwned}), slots); }, &message), E_FAIL);
  EXPECT_EQ(message, L"This operation is not implemented.\rProvider owned bindings are not supported");
  EXPECT_EQ(Outcome([&] { return data->IsSameRow(row, row + 1000) ? S_OK : S_FALSE; }), DB_E_BADROWHANDLE);
  EXPECT_TRUE(data->IsSameRow(row, RowHandle(0)));
  EXPECT_FALSE(data->IsSameRow(row, RowHandle(1)));
}

TEST_F(RowsetDataTest, ValuesLongColumnsAsStreamsAndBytes) {
  Open();
  const HROW row = RowHandle(1);
  DBOBJECT object{STGM_READWRITE, IID_ISequentialStream};
  DBBINDING asStream = Bind(0, BlobOrdinal, DBTYPE_IUNKNOWN);
  asStream.pObject = &object;
  const HACCESSOR accessor = Accessor({asStream, Bind(1, BlobOrdinal, DBTYPE_BYTES, 4)});
  TSlot slots[2] = {};
  ASSERT_EQ(data->GetData(row, accessor, slots), S_OK);
  EXPECT_EQ(slots[0].Length, 6u);
  TComPtr<ISequentialStream> stream = TComPtr<ISequentialStream>::Attach(ValueOf<ISequentialStream*>(slots[0]));
  ASSERT_TRUE(stream);
  char bytes[16] = {};
  ULONG read = 0;
  EXPECT_EQ(stream->Read(bytes, sizeof(bytes), &read), S_OK);
  EXPECT_EQ(std::string(bytes, read), "blob-2");
  EXPECT_EQ(slots[1].Status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(slots[1].Length, 6u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(slots[1].Value), 4), "blob");

  ASSERT_EQ(data->GetData(row, Accessor({asStream}), slots), S_OK);
  EXPECT_EQ(data->LastBlobAccess, TOleDbBlobAccess::ReadWrite);
  ValueOf<ISequentialStream*>(slots[0])->Release();
  DBOBJECT unsupported{STGM_READ, IID_IStream};
  DBBINDING asStorage = Bind(1, BlobOrdinal, DBTYPE_IUNKNOWN);
  asStorage.pObject = &unsupported;
  std::memset(slots, 0xAB, sizeof(slots));
  const int live = data->LiveStreams;
  EXPECT_EQ(Outcome([&] { return data->GetData(row, Accessor({asStream, asStorage}), slots); }), E_NOINTERFACE);
  EXPECT_EQ(ValueOf<IUnknown*>(slots[0]), nullptr) << "the stream handed out before the failure is taken back";
  EXPECT_EQ(data->LiveStreams, live);
  data->BlobStreams = false;
  EXPECT_EQ(data->GetData(row, accessor, slots), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(slots[0].Status, DBSTATUS_E_CANTCREATE);
  EXPECT_EQ(slots[1].Status, DBSTATUS_E_CANTCREATE);
}

}  // namespace
