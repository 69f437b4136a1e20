#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ComObj.h"
#include "OLEDbAccessor.h"
#include "OLEDbError.h"
#include "OLEDbProperties.h"
#include "OLEDbRowsetData.h"
#include "OLEDbRowsetEvents.h"

namespace {

enum : DBORDINAL { BookmarkOrdinal = 0, IdOrdinal = 1, NameOrdinal = 2, StampOrdinal = 3, BlobOrdinal = 4 };

struct TTableRow {
  std::int32_t Index;
  std::int32_t Id;
  std::wstring Name;
  bool NameNull;
  DATE Stamp;
  std::string Blob;
};

// Rows i = 0..n-1 with Id i + 1, Name "Row<i+1>" (NULL for the fifth row),
// a date and bytes; row values and bookmarks are row indexes.
class TTableData : public TOleDbRowsetData {
public:
  TTableData(int rowCount, bool bookmarks) : bookmarks_(bookmarks) {
    if (bookmarks) Columns->AddColumn(L"Bookmark", DBTYPE_I4, 4, DBCOLUMNFLAGS_ISBOOKMARK, 0, 0, BookmarkOrdinal);
    Columns->AddColumn(L"Id", DBTYPE_I4, 4, 0, 0, 0, IdOrdinal);
    Columns->AddColumn(L"Name", DBTYPE_WSTR, 22, DBCOLUMNFLAGS_ISNULLABLE, 0, 0, NameOrdinal);
    Columns->AddColumn(L"Stamp", DBTYPE_DATE, 8, 0, 0, 0, StampOrdinal);
    Columns->AddColumn(L"Blob", DBTYPE_BYTES, ~0u, DBCOLUMNFLAGS_ISLONG, 0, 0, BlobOrdinal);
    for (int i = 0; i < rowCount; ++i)
      Rows.push_back({i, i + 1, L"Row" + std::to_wstring(i + 1), i == 4, 45000.0 + i, "blob-" + std::to_string(i + 1)});
  }

  void GetColumnReadBuffer(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH& length, bool& isNull) override {
    TTableRow& row = Rows.at(rowValue);
    switch (column.Ordinal) {
      case BookmarkOrdinal:
        data = &row.Index;
        break;
      case IdOrdinal:
        data = &row.Id;
        break;
      case NameOrdinal:
        isNull = row.NameNull;
        data = row.Name.data();
        break;
      case StampOrdinal:
        data = &row.Stamp;
        break;
      default:
        data = row.Blob.data();
        break;
    }
  }
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override {
    const auto rows = static_cast<std::int64_t>(Rows.size());
    const auto n = static_cast<std::int64_t>(count);
    if (kind == TOleDbMoveKind::Forward) Current = Current + n > rows ? rows : Current + n;
    if (kind == TOleDbMoveKind::Backward) Current = Current - n < -1 ? -1 : Current - n;
    if (kind == TOleDbMoveKind::ToStart) Current = -1;
    if (kind == TOleDbMoveKind::ToEnd) Current = rows;
    return Position();
  }
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override {
    if (Current == FailFetchAt) throw EOleError(L"Row cannot be read", E_FAIL);
    if (Position() == TOleDbCursorPosition::OnRow) handle.SetRowValue(static_cast<std::int32_t>(Current));
    return Position();
  }
  void* GetBookmark() override {
    if (!bookmarks_) return TOleDbRowsetData::GetBookmark();
    auto* block = static_cast<std::int32_t*>(OleDbAlloc(sizeof(std::int32_t)));
    *block = static_cast<std::int32_t>(Current);
    return block;
  }
  void GotoBookmark(const void* bookmark) override { Current = IndexOf(bookmark); }
  void GetBookmarkRow(const BYTE* bookmark, std::int32_t& rowValue, DBROWSTATUS& status) override {
    const std::int32_t index = ReadIndex(bookmark);
    if (index < 0 || index >= static_cast<std::int32_t>(Rows.size()))
      status = DBROWSTATUS_E_INVALID;
    else
      rowValue = index;
  }
  void HashBookmark(const BYTE* bookmark, DBHASHVALUE& hash, DBROWSTATUS& status) override {
    hash = static_cast<DBHASHVALUE>(IndexOf(bookmark)) * 7;
    status = DBROWSTATUS_S_OK;
  }
  DBCOUNTITEM GetRowCount() override {
    if (!bookmarks_) return TOleDbRowsetData::GetRowCount();
    return Rows.size();
  }
  DBCOUNTITEM GetBookmarkRowIndex(const BYTE* bookmark) override { return IndexOf(bookmark); }
  void SetRowIndex(DBCOUNTITEM index) override { Current = static_cast<std::int64_t>(index); }
  std::unique_ptr<TOleDbByteStream> GetColumnBlobStream(TOleDbDataMode, std::int32_t rowValue,
                                                        const TOleDbColumn& column, TOleDbBlobAccess access,
                                                        void*) override {
    LastBlobAccess = access;
    if (!BlobStreams || column.Ordinal != BlobOrdinal) return nullptr;
    const std::string& blob = Rows.at(rowValue).Blob;
    return std::make_unique<TOleDbByteStream>(blob.data(), blob.size());
  }

  std::vector<TTableRow> Rows;
  std::int64_t Current = -1;
  std::int64_t FailFetchAt = -2;
  bool BlobStreams = true;
  TOleDbBlobAccess LastBlobAccess = TOleDbBlobAccess::Read;

private:
  static std::int32_t ReadIndex(const void* bookmark) {
    std::int32_t index;
    std::memcpy(&index, bookmark, sizeof(index));
    return index;
  }
  std::int32_t IndexOf(const void* bookmark) const {
    const std::int32_t index = ReadIndex(bookmark);
    if (index < 0 || index >= static_cast<std::int32_t>(Rows.size())) throw EOleDbException(DB_E_BADBOOKMARK);
    return index;
  }
  TOleDbCursorPosition Position() const {
    if (Current >= static_cast<std::int64_t>(Rows.size())) return TOleDbCursorPosition::AfterLast;
    return Current < 0 ? TOleDbCursorPosition::BeforeFirst : TOleDbCursorPosition::OnRow;
  }
  bool bookmarks_;
};

class TTestOwner : public TComImpl<TComObject>, public IOleDbRowsetDataOwner {
public:
  TOleDbRowHandles& OwnerRowHandles() override { return Handles; }
  TOleDbAccessors& OwnerAccessors() override { return Accessors; }
  TOleDbPropertySets& OwnerPropertySets() override { return Properties; }
  TOleDbRowsetEvents* OwnerEvents() override { return nullptr; }
  std::uint8_t OwnerCapabilities() override { return OleDbCapabilityLocate | OleDbCapabilityScroll; }

  void SetRowsetFlag(DBPROPID id, bool on) {
    Properties.EnsureProperty(DBPROPSET_ROWSET, id);
    VARIANT value;
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = on ? VARIANT_TRUE : VARIANT_FALSE;
    Properties.PutValue(DBPROPSET_ROWSET, id, value);
  }

  TOleDbRowHandles Handles;
  TOleDbAccessors Accessors;
  TOleDbPropertySets Properties;
};

// Runs an engine call the way the rowset's guard would see it.
template <class F>
HRESULT Outcome(F&& call, std::wstring* message = nullptr) {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
      call();
      return S_OK;
    } else {
      return call();
    }
  } catch (const EOleDbException& e) {
    return e.ErrorCode;
  } catch (const EOleError& e) {
    if (message) *message = e.Message();
    return e.ErrorCode();
  }
}

// One binding's value, length and status in the consumer's buffer.
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
  binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
  binding.wType = type;
  return binding;
}

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
    owner = MakeComObject<TTestOwner>();
    data = MakeComObject<TTableData>(rows, bookmarks);
    data->SetOwner(owner.Get());
    owner->SetRowsetFlag(DBPROP_CANHOLDROWS, true);
    owner->SetRowsetFlag(DBPROP_CANFETCHBACKWARDS, true);
    owner->SetRowsetFlag(DBPROP_CANSCROLLBACKWARDS, true);
  }

  // The Ids of the fetched rows, which are released again.
  std::vector<int> Ids(DBCOUNTITEM count, HROW* rows) {
    std::vector<int> ids;
    for (DBCOUNTITEM i = 0; i < count; ++i) {
      TOleDbRowHandle* handle = owner->Handles.FindHandle(rows[i]);
      ids.push_back(handle ? handle->RowValue() + 1 : -1);
      if (handle) handle->Release();
    }
    return ids;
  }
  std::vector<int> Next(DBROWOFFSET offset, DBROWCOUNT count, HRESULT* hr = nullptr) {
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    const HRESULT result = Outcome([&] { return data->GetNextRows(DB_NULL_HCHAPTER, offset, count, &obtained, &rows, true); });
    if (hr) *hr = result;
    std::vector<int> ids = Ids(obtained, rows);
    CoTaskMemFree(rows);
    return ids;
  }
  HACCESSOR Accessor(std::vector<DBBINDING> bindings) {
    TOleDbAccessor& accessor =
        owner->Accessors.CreateAccessor(DBACCESSOR_ROWDATA, 0, bindings.data(), bindings.size());
    accessor.AddRef();
    return accessor.Handle();
  }
  HROW RowHandle(std::int32_t rowValue) {
    TOleDbRowHandle& handle = owner->Handles.CreateHandle(rowValue);
    handle.AddRef();
    return handle.HRow();
  }
  std::vector<BYTE> Bookmark(std::int32_t index) {
    std::vector<BYTE> bytes(sizeof(index));
    std::memcpy(bytes.data(), &index, sizeof(index));
    return bytes;
  }

  TComPtr<TTestOwner> owner;
  TComPtr<TTableData> data;
};

using V = std::vector<int>;

// ---- Fetching -----------------------------------------------------------------------

TEST_F(RowsetDataTest, FetchSteppingForwardAndTurningRound) {
  Open();
  EXPECT_EQ(Next(0, 3), (V{1, 2, 3}));
  EXPECT_EQ(Next(0, 0), V{});
  EXPECT_EQ(Next(0, 3), (V{4, 5, 6}));
  // Turning round returns the row fetched last first.
  EXPECT_EQ(Next(0, -2), (V{6, 5}));
  EXPECT_EQ(Next(0, 2), (V{5, 6}));
  EXPECT_EQ(Next(2, 1), V{9});
  EXPECT_EQ(Next(-3, -1), V{6});
  data->RestartPosition(DB_NULL_HCHAPTER);
  EXPECT_EQ(Next(0, 1), V{1});
}

TEST_F(RowsetDataTest, FetchFromTheStartWithBackwardOffsetsAndCounts) {
  Open();
  EXPECT_EQ(Next(-1, 1), V{1});
  data->RestartPosition(DB_NULL_HCHAPTER);
  EXPECT_EQ(Next(0, -2), (V{10, 9}));
  data->RestartPosition(DB_NULL_HCHAPTER);
  EXPECT_EQ(Next(4, 2), (V{5, 6}));
}

TEST_F(RowsetDataTest, FetchEndOfRowset) {
  Open();
  HRESULT hr;
  EXPECT_EQ(Next(20, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  data->RestartPosition(DB_NULL_HCHAPTER);
  EXPECT_EQ(Next(5, 10, &hr), (V{6, 7, 8, 9, 10}));
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(Next(0, -1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(Next(0, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(Next(-1, 1, &hr), V{10}) << "a skip back from the end brings rows again";
  EXPECT_EQ(hr, S_OK);

  Open(0);
  EXPECT_EQ(Next(0, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
}

TEST_F(RowsetDataTest, FetchHonoursRowsetProperties) {
  Open();
  owner->SetRowsetFlag(DBPROP_CANSCROLLBACKWARDS, false);
  owner->SetRowsetFlag(DBPROP_CANFETCHBACKWARDS, false);
  owner->SetRowsetFlag(DBPROP_CANHOLDROWS, false);
  HRESULT hr;
  Next(-1, 1, &hr);
  EXPECT_EQ(hr, DB_E_CANTSCROLLBACKWARDS);
  Next(0, -1, &hr);
  EXPECT_EQ(hr, DB_E_CANTFETCHBACKWARDS);

  DBCOUNTITEM obtained = 0;
  HROW row[1] = {};
  HROW* rows = row;
  ASSERT_EQ(data->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows, true), S_OK);
  EXPECT_EQ(rows, row) << "a consumer's array is filled, not replaced";
  Next(0, 1, &hr);
  EXPECT_EQ(hr, DB_E_ROWSNOTRELEASED);
  Ids(1, row);
  EXPECT_EQ(Next(0, 1), V{2}) << "the refused fetch did not move";
}

TEST_F(RowsetDataTest, FetchRejectsMissingOutputsAndAllocatesNothingWithoutRows) {
  Open();
  DBCOUNTITEM obtained = 7;
  HROW* rows = nullptr;
  EXPECT_EQ(Outcome([&] { return data->GetNextRows(DB_NULL_HCHAPTER, 0, 1, nullptr, &rows, true); }), E_INVALIDARG);
  EXPECT_EQ(Outcome([&] { return data->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, nullptr, true); }), E_INVALIDARG);
  EXPECT_EQ(data->GetNextRows(DB_NULL_HCHAPTER, 50, 1, &obtained, &rows, true), DB_S_ENDOFROWSET);
  EXPECT_EQ(obtained, 0u);
  EXPECT_EQ(rows, nullptr);
  data->RestartPosition(DB_NULL_HCHAPTER);
  EXPECT_EQ(Next(0, 1), V{1});
}

TEST_F(RowsetDataTest, FetchFailingPartWayReleasesItsRows) {
  Open();
  data->FailFetchAt = 3;
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  std::wstring message;
  EXPECT_EQ(Outcome([&] { return data->GetNextRows(DB_NULL_HCHAPTER, 0, 5, &obtained, &rows, true); }, &message), E_FAIL);
  EXPECT_EQ(message, L"Row cannot be read");
  EXPECT_EQ(obtained, 0u);
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(owner->Handles.Count(), 0u);
}

// ---- Positioned fetches and bookmarks -----------------------------------------------

TEST_F(RowsetDataTest, BookmarksCompare) {
  Open();
  const BYTE first = DBBMK_FIRST, last = DBBMK_LAST, invalid = DBBMK_INVALID;
  const std::vector<BYTE> row3 = Bookmark(3), row3b = Bookmark(3), row4 = Bookmark(4);
  DBCOMPARE comparison = 0;
  data->Compare(DB_NULL_HCHAPTER, 1, &first, 1, &first, &comparison);
  EXPECT_EQ(comparison, DBCOMPARE_EQ);
  data->Compare(DB_NULL_HCHAPTER, 1, &first, 1, &last, &comparison);
  EXPECT_EQ(comparison, DBCOMPARE_NE);
  data->Compare(DB_NULL_HCHAPTER, 4, row3.data(), 4, row3b.data(), &comparison);
  EXPECT_EQ(comparison, DBCOMPARE_EQ);
  data->Compare(DB_NULL_HCHAPTER, 4, row3.data(), 4, row4.data(), &comparison);
  EXPECT_EQ(comparison, DBCOMPARE_NE);
  data->Compare(DB_NULL_HCHAPTER, 1, &first, 4, row3.data(), &comparison);
  EXPECT_EQ(comparison, DBCOMPARE_NE);
  EXPECT_EQ(Outcome([&] { data->Compare(DB_NULL_HCHAPTER, 1, &invalid, 1, &first, &comparison); }), DB_E_BADBOOKMARK);
  EXPECT_EQ(Outcome([&] { data->Compare(DB_NULL_HCHAPTER, 3, row3.data(), 4, row3.data(), &comparison); }),
            DB_E_BADBOOKMARK);
  EXPECT_EQ(Outcome([&] { data->Compare(DB_NULL_HCHAPTER, 1, &first, 1, &first, nullptr); }), E_INVALIDARG);
  EXPECT_EQ(Outcome([&] { data->Compare(DB_NULL_HCHAPTER, 0, &first, 1, &first, &comparison); }), E_INVALIDARG);
}

TEST_F(RowsetDataTest, BookmarksGetRowsAtKeepsTheFetchPosition) {
  Open();
  EXPECT_EQ(Next(0, 2), (V{1, 2}));
  auto rowsAt = [&](DBBKMARK size, const BYTE* bookmark, DBROWOFFSET offset, DBROWCOUNT count, HRESULT* hr = nullptr) {
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    const HRESULT result = Outcome([&] {
      return data->GetRowsAt(DB_NULL_HCHAPTER, size, bookmark, offset, count, &obtained, &rows);
    });
    if (hr) *hr = result;
    V ids = Ids(obtained, rows);
    CoTaskMemFree(rows);
    return ids;
  };
  const BYTE first = DBBMK_FIRST, last = DBBMK_LAST, invalid = DBBMK_INVALID;
  const std::vector<BYTE> row6 = Bookmark(6);
  EXPECT_EQ(rowsAt(1, &first, 0, 2), (V{1, 2}));
  EXPECT_EQ(rowsAt(1, &last, 0, 1), V{10});
  EXPECT_EQ(rowsAt(1, &last, -1, -2), (V{9, 8}));
  EXPECT_EQ(rowsAt(4, row6.data(), 1, 2), (V{8, 9}));
  HRESULT hr;
  EXPECT_EQ(rowsAt(4, row6.data(), 2, 5, &hr), (V{9, 10}));
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  rowsAt(1, &invalid, 0, 1, &hr);
  EXPECT_EQ(hr, DB_E_BADBOOKMARK);
  rowsAt(2, row6.data(), 0, 1, &hr);
  EXPECT_EQ(hr, DB_E_BADBOOKMARK);
  EXPECT_EQ(Next(0, 1), V{3});
}

TEST_F(RowsetDataTest, BookmarksGetRowsAtRatio) {
  Open();
  EXPECT_EQ(Next(0, 1), V{1});
  auto atRatio = [&](DBCOUNTITEM numerator, DBCOUNTITEM denominator, DBROWCOUNT count, HRESULT* hr = nullptr) {
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    const HRESULT result = Outcome([&] {
      return data->GetRowsAtRatio(0, DB_NULL_HCHAPTER, numerator, denominator, count, &obtained, &rows);
    });
    if (hr) *hr = result;
    V ids = Ids(obtained, rows);
    CoTaskMemFree(rows);
    return ids;
  };
  HRESULT hr;
  EXPECT_EQ(atRatio(1, 2, 1), V{6});
  EXPECT_EQ(atRatio(0, 5, 2), (V{1, 2}));
  EXPECT_EQ(atRatio(3, 3, -1), V{10});
  EXPECT_EQ(atRatio(9, 3, 1), V{10});
  EXPECT_EQ(atRatio(3, 3, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  atRatio(1, 0, 1, &hr);
  EXPECT_EQ(hr, DB_E_BADRATIO);
  EXPECT_EQ(Next(0, 1), V{2});
}

TEST_F(RowsetDataTest, BookmarksByBookmarkHashAndPosition) {
  Open();
  const BYTE first = DBBMK_FIRST;
  const std::vector<BYTE> row2 = Bookmark(2), row7 = Bookmark(7), unknown = Bookmark(40);
  const DBBKMARK sizes[] = {4, 1, 4, 2, 4};
  const BYTE* bookmarks[] = {row2.data(), &first, unknown.data(), row7.data(), row7.data()};
  HROW rows[5];
  DBROWSTATUS statuses[5];
  EXPECT_EQ(data->GetRowsByBookmark(DB_NULL_HCHAPTER, 5, sizes, bookmarks, rows, statuses), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(statuses[0], DBROWSTATUS_S_OK);
  EXPECT_EQ(statuses[1], DBROWSTATUS_E_INVALID);
  EXPECT_EQ(statuses[2], DBROWSTATUS_E_INVALID);
  EXPECT_EQ(statuses[3], DBROWSTATUS_E_INVALID);
  EXPECT_EQ(rows[1], DB_NULL_HROW);
  ASSERT_NE(owner->Handles.FindHandle(rows[4]), nullptr);
  EXPECT_EQ(owner->Handles.FindHandle(rows[4])->RefCount(), 1);
  EXPECT_EQ(Ids(1, &rows[0]), V{3});
  EXPECT_EQ(Ids(1, &rows[4]), V{8});
  EXPECT_EQ(Outcome([&] { return data->GetRowsByBookmark(DB_NULL_HCHAPTER, 1, sizes, bookmarks, nullptr, statuses); }),
            E_INVALIDARG);

  DBHASHVALUE hashes[2];
  EXPECT_EQ(data->Hash(DB_NULL_HCHAPTER, 2, sizes, bookmarks, hashes, statuses), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(hashes[0], 14u);
  EXPECT_EQ(statuses[1], DBROWSTATUS_E_INVALID);

  DBCOUNTITEM position = 0, rowCount = 0;
  data->GetApproximatePosition(DB_NULL_HCHAPTER, 4, row7.data(), &position, &rowCount);
  EXPECT_EQ(position, 8u);
  EXPECT_EQ(rowCount, 10u);
  const BYTE last = DBBMK_LAST;
  data->GetApproximatePosition(DB_NULL_HCHAPTER, 1, &last, &position, nullptr);
  EXPECT_EQ(position, 10u);
  EXPECT_EQ(Outcome([&] { data->GetApproximatePosition(DB_NULL_HCHAPTER, 4, nullptr, &position, &rowCount); }),
            E_INVALIDARG);
}

TEST_F(RowsetDataTest, BookmarksOnDataWithoutThemAreNotImplemented) {
  Open(10, false);
  EXPECT_EQ(Next(0, 1), V{1});
  const BYTE first = DBBMK_FIRST;
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  std::wstring message;
  EXPECT_EQ(Outcome([&] { return data->GetRowsAt(DB_NULL_HCHAPTER, 1, &first, 0, 1, &obtained, &rows); }, &message),
            E_FAIL);
  EXPECT_EQ(message, L"This operation is not implemented.\rTOleDbRowSetData.GetBookmark");
  EXPECT_EQ(Outcome([&] { data->GetApproximatePosition(DB_NULL_HCHAPTER, 0, nullptr, nullptr, &obtained); }, &message),
            E_FAIL);
  EXPECT_EQ(message, L"This operation is not implemented.\rTOleDbRowSetData.GetRowCount");
  EXPECT_EQ(owner->Handles.Count(), 0u);
}

// ---- Reading values -----------------------------------------------------------------

TEST_F(RowsetDataTest, ValuesPartsAndTypes) {
  Open();
  const HACCESSOR accessor = Accessor({Bind(0, IdOrdinal, DBTYPE_I4), Bind(1, NameOrdinal, DBTYPE_WSTR),
                                       Bind(2, StampOrdinal, DBTYPE_DATE), Bind(3, BookmarkOrdinal, DBTYPE_I4)});
  const HROW row = RowHandle(2);
  TSlot slots[4] = {};
  ASSERT_EQ(data->GetData(row, accessor, slots), S_OK);
  std::int32_t id;
  std::memcpy(&id, slots[0].Value, sizeof(id));
  EXPECT_EQ(id, 3);
  EXPECT_EQ(slots[0].Length, 4u);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(slots[1].Value), L"Row3");
  EXPECT_EQ(slots[1].Length, 8u);
  DATE stamp;
  std::memcpy(&stamp, slots[2].Value, sizeof(stamp));
  EXPECT_EQ(stamp, 45002.0);
  EXPECT_EQ(slots[3].Status, DBSTATUS_S_OK);

  // Length only, status only.
  const HACCESSOR partial = Accessor({Bind(0, NameOrdinal, DBTYPE_WSTR, 48, DBPART_LENGTH),
                                      Bind(1, IdOrdinal, DBTYPE_I4, 48, DBPART_STATUS)});
  TSlot parts[2];
  std::memset(parts, 0xAB, sizeof(parts));
  ASSERT_EQ(data->GetData(row, partial, parts), S_OK);
  EXPECT_EQ(parts[0].Length, 8u);
  EXPECT_EQ(parts[0].Value[0], 0xAB);
  EXPECT_EQ(parts[1].Status, DBSTATUS_S_OK);
  EXPECT_EQ(parts[1].Value[0], 0xAB);
}

TEST_F(RowsetDataTest, ValuesNullAndTruncation) {
  Open();
  const HACCESSOR accessor =
      Accessor({Bind(0, NameOrdinal, DBTYPE_WSTR, 6), Bind(1, NameOrdinal, DBTYPE_STR, 3), Bind(2, IdOrdinal, DBTYPE_I4)});
  TSlot slots[3];
  std::memset(slots, 0xAB, sizeof(slots));
  ASSERT_EQ(data->GetData(RowHandle(4), accessor, slots), S_OK);
  EXPECT_EQ(slots[0].Status, DBSTATUS_S_ISNULL);
  EXPECT_EQ(slots[0].Length, DBLENGTH(0xABABABABABABABABull)) << "the length of a NULL is left alone";

  ASSERT_EQ(data->GetData(RowHandle(9), accessor, slots), S_OK) << "truncation is success";
  EXPECT_EQ(slots[0].Status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(slots[0].Length, 10u);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(slots[0].Value), L"Ro");
  EXPECT_EQ(slots[1].Status, DBSTATUS_S_TRUNCATED) << "converted to single-byte text";
  EXPECT_EQ(slots[1].Length, 5u);
  EXPECT_STREQ(reinterpret_cast<const char*>(slots[1].Value), "Ro");
}

TEST_F(RowsetDataTest, ValuesConversionsSumPerBinding) {
  Open();
  data->Rows[0].Name = L"x7";
  const HROW row = RowHandle(0);
  const HACCESSOR mixed = Accessor({Bind(0, IdOrdinal, DBTYPE_WSTR), Bind(1, NameOrdinal, DBTYPE_I4),
                                    Bind(2, StampOrdinal, DBTYPE_BSTR)});
  TSlot slots[3] = {};
  EXPECT_EQ(data->GetData(row, mixed, slots), DB_S_ERRORSOCCURRED);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(slots[0].Value), L"1");
  EXPECT_EQ(slots[0].Status, DBSTATUS_S_OK);
  EXPECT_NE(slots[1].Status, DBSTATUS_S_OK);
  EXPECT_NE(slots[1].Status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(slots[2].Status, DBSTATUS_S_OK) << "bindings after a failed one are still transferred";
  BSTR text;
  std::memcpy(&text, slots[2].Value, sizeof(text));
  EXPECT_NE(text, nullptr);
  SysFreeString(text);

  const HACCESSOR failing = Accessor({Bind(0, NameOrdinal, DBTYPE_I4), Bind(1, BlobOrdinal, DBTYPE_I4)});
  EXPECT_EQ(data->GetData(row, failing, slots), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(slots[1].Status, DBSTATUS_E_CANTCONVERTVALUE);
}

TEST_F(RowsetDataTest, ValuesAccessChecks) {
  Open();
  const HROW row = RowHandle(0);
  const HACCESSOR accessor = Accessor({Bind(0, IdOrdinal, DBTYPE_I4)});
  TSlot slot;
  std::memset(&slot, 0xAB, sizeof(slot));
  EXPECT_EQ(data->GetData(row, Accessor({}), nullptr), S_OK) << "a null accessor transfers nothing";
  EXPECT_EQ(Outcome([&] { return data->GetData(row + 1000, accessor, &slot); }), DB_E_BADROWHANDLE);
  EXPECT_EQ(Outcome([&] { return data->GetData(row, accessor + 1000, &slot); }), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(Outcome([&] { return data->GetData(row, accessor, nullptr); }), E_INVALIDARG);
  EXPECT_EQ(Outcome([&] { return data->GetData(row, Accessor({Bind(0, 99, DBTYPE_I4)}), &slot); }), DB_E_BADORDINAL);
  DBBINDING providerOwned = Bind(0, IdOrdinal, DBTYPE_I4);
  providerOwned.dwMemOwner = DBMEMOWNER_PROVIDEROWNED;
  std::wstring message;
  EXPECT_EQ(Outcome([&] { return data->GetData(row, Accessor({providerOwned}), &slot); }, &message), E_FAIL);
  EXPECT_EQ(message, L"This operation is not implemented.\rProvider owned bindings are not supported");
  EXPECT_EQ(slot.Value[0], 0xAB);
  EXPECT_EQ(Outcome([&] { return data->IsSameRow(row, row + 1000) ? S_OK : S_FALSE; }), DB_E_BADROWHANDLE);
  EXPECT_TRUE(data->IsSameRow(row, RowHandle(0)));
  EXPECT_FALSE(data->IsSameRow(row, RowHandle(1)));
}

TEST_F(RowsetDataTest, ValuesLongColumnsAsStreamsAndBytes) {
  Open();
  const HROW row = RowHandle(1);
  DBOBJECT object{STGM_READWRITE, IID_ISequentialStream};
  DBBINDING streamBinding = Bind(0, BlobOrdinal, DBTYPE_IUNKNOWN);
  streamBinding.pObject = &object;
  const HACCESSOR accessor = Accessor({streamBinding, Bind(1, BlobOrdinal, DBTYPE_BYTES, 4)});
  TSlot slots[2] = {};
  ASSERT_EQ(data->GetData(row, accessor, slots), S_OK);
  EXPECT_EQ(data->LastBlobAccess, TOleDbBlobAccess::Read) << "the bytes binding came last";
  EXPECT_EQ(slots[0].Length, 6u);
  ISequentialStream* stream;
  std::memcpy(&stream, slots[0].Value, sizeof(stream));
  ASSERT_NE(stream, nullptr);
  char bytes[16] = {};
  ULONG read = 0;
  EXPECT_EQ(stream->Read(bytes, sizeof(bytes), &read), S_OK);
  EXPECT_EQ(std::string(bytes, read), "blob-2");
  stream->Release();
  EXPECT_EQ(slots[1].Status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(slots[1].Length, 6u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(slots[1].Value), 4), "blob");

  const HACCESSOR streamOnly = Accessor({streamBinding});
  ASSERT_EQ(data->GetData(row, streamOnly, slots), S_OK);
  EXPECT_EQ(data->LastBlobAccess, TOleDbBlobAccess::ReadWrite);
  std::memcpy(&stream, slots[0].Value, sizeof(stream));
  stream->Release();

  object.iid = IID_IStream;
  EXPECT_EQ(Outcome([&] { return data->GetData(row, Accessor({streamBinding}), slots); }), E_NOINTERFACE);
  data->BlobStreams = false;
  EXPECT_EQ(data->GetData(row, accessor, slots), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(slots[0].Status, DBSTATUS_E_CANTCREATE);
  EXPECT_EQ(slots[1].Status, DBSTATUS_E_CANTCREATE);
}

}  // namespace
