#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "OLEDbError.h"
#include "OLEDbProperties.h"
#include "OLEDbSimpleRowsetData.h"

namespace {

struct TFailure {
  HRESULT Code = S_OK;
  std::wstring Message;
};

template <class F>
TFailure Failure(F&& call) {
  try {
    call();
  } catch (const EOleDbException& e) {
    return {e.ErrorCode, {}};
  } catch (const EOleError& e) {
    return {e.ErrorCode(), e.Message()};
  }
  return {};
}

// A variant the producer calls take as it is.
struct TVar : TOleDbVariant {
  operator const VARIANT&() const noexcept { return Get(); }
};

TVar Int(LONG value, VARTYPE type = VT_I4) {
  TVar v;
  V_VT(&v.Get()) = type;
  if (type == VT_I2)
    V_I2(&v.Get()) = static_cast<SHORT>(value);
  else
    V_I4(&v.Get()) = value;
  return v;
}

TVar Text(const wchar_t* text) {
  TVar v;
  V_VT(&v.Get()) = VT_BSTR;
  V_BSTR(&v.Get()) = SysAllocString(text);
  return v;
}

TVar Real(double value) {
  TVar v;
  V_VT(&v.Get()) = VT_R8;
  V_R8(&v.Get()) = value;
  return v;
}

TVar Null() {
  TVar v;
  V_VT(&v.Get()) = VT_NULL;
  return v;
}

// The value as text, "<null>" for NULL.
std::wstring TextOf(const TBufferedRowsetData& data, std::int32_t row, std::size_t column) {
  TOleDbVariant value;
  data.GetValue(row, column, value.Get());
  if (value.Type() == VT_NULL) return L"<null>";
  TOleDbVariant text;
  EXPECT_EQ(S_OK, VariantChangeTypeEx(&text.Get(), &value.Get(), 0x0409, 0, VT_BSTR));
  return V_BSTR(&text.Get());
}

// A bookmark column of the given type, then ID (I4) and NAME (WSTR, 20 chars).
TComPtr<TSimpleRowsetData> MakeData(DBTYPE bookmarkType = DBTYPE_I4, bool nullByDefault = false) {
  TComPtr<TSimpleRowsetData> data = MakeComObject<TSimpleRowsetData>();
  TOleDbColumns& columns = data->GetColumns();
  if (bookmarkType != DBTYPE_EMPTY) columns.AddColumn(L"BMK", bookmarkType, 4, DBCOLUMNFLAGS_ISBOOKMARK, 0, 0, 0);
  columns.AddColumn(L"ID", DBTYPE_I4, 4);
  columns.AddColumn(L"NAME", DBTYPE_WSTR, 40);
  data->NullByDefault = nullByDefault;
  data->InitLayout();
  return data;
}

LONG BookmarkOf(const TSimpleRowsetData& data, std::int32_t row) {
  LONG token;
  std::memcpy(&token, data.RowBuffer(row) + data.ColumnOffset(0), sizeof token);
  return token;
}

TEST(BufferedRowsetLayout, SlotsAreAlignedForTheConverter) {
  TComPtr<TSimpleRowsetData> data = MakeComObject<TSimpleRowsetData>();
  TOleDbColumns& columns = data->GetColumns();
  columns.AddColumn(L"SMALL", DBTYPE_I2, 2);
  columns.AddColumn(L"TEXT", DBTYPE_WSTR, 10);
  columns.AddColumn(L"ANY", DBTYPE_VARIANT, 0);
  columns.AddColumn(L"FLAG", DBTYPE_BOOL, 2);
  columns.AddColumn(L"WHEN", DBTYPE_DBTIMESTAMP, 0);
  data->InitLayout();

  std::int32_t previousEnd = 0;
  for (std::size_t i = 0; i < columns.Count(); ++i) {
    const std::int32_t offset = data->ColumnOffset(i);
    EXPECT_EQ(0, offset % 8) << i;
    EXPECT_GE(offset, previousEnd) << "slots overlap at " << i;
    previousEnd = offset + static_cast<std::int32_t>(columns.Items(i).Size);
  }
  EXPECT_GT(data->RowSize(), previousEnd);
  data->AppendRow();
  EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(data->CurrentRowBuffer()) % 16);

  // A VARIANT in place holds an owned value and gives it back.
  data->SetValue(0, 2, Text(L"inside"));
  data->SetValue(0, 2, Text(L"replaced"));
  EXPECT_EQ(L"replaced", TextOf(*data, 0, 2));
  EXPECT_EQ(L"0", TextOf(*data, 0, 3));
}

TEST(BufferedRowsetGrowth, BuffersStayPutShrinkingDropsRowsCursorStops) {
  TComPtr<TSimpleRowsetData> unlaid = MakeComObject<TSimpleRowsetData>();
  EXPECT_EQ(L"Row buffer size is not initialized", Failure([&] { unlaid->SetCapacity(5); }).Message);

  TComPtr<TSimpleRowsetData> data = MakeData();
  for (int i = 0; i < 25; ++i) data->AppendRow();
  EXPECT_EQ(25, data->Capacity());
  std::byte* first = data->RowBuffer(0);
  data->SetValue(0, 1, Int(11));
  data->AppendRow();
  EXPECT_EQ(50, data->Capacity());
  EXPECT_EQ(25, data->Current());
  EXPECT_EQ(first, data->RowBuffer(0));
  EXPECT_EQ(L"11", TextOf(*data, 0, 1));
  EXPECT_EQ(7, BookmarkOf(*data, 7));
  EXPECT_EQ(TOleDbCursorPosition::AfterLast, data->MoveCursor(TOleDbMoveKind::Forward, ~DBCOUNTITEM(0)));
  EXPECT_EQ(26, data->Current());
  EXPECT_EQ(TOleDbCursorPosition::BeforeFirst, data->MoveCursor(TOleDbMoveKind::Backward, ~DBCOUNTITEM(0)));
  EXPECT_EQ(L"Current row is not available", Failure([&] { data->CurrentRowBuffer(); }).Message);

  data->MoveCursor(TOleDbMoveKind::ToEnd, 1);
  data->SetCapacity(10);
  EXPECT_EQ(10, data->RowCount());
  EXPECT_EQ(10, data->Current());
  EXPECT_TRUE(FAILED(Failure([&] { data->RowBuffer(10); }).Code));
  EXPECT_EQ(DB_E_BADROWHANDLE, Failure([&] { data->RowValueToBuffer(12); }).Code);

  data->ClearRows();
  EXPECT_EQ(0, data->Capacity());
  EXPECT_EQ(-1, data->Current());
  EXPECT_EQ(L"No rows available", Failure([&] { data->SetValue(0, 1, Int(1)); }).Message);
}

TEST(BufferedRowsetNulls, DefaultStateAndWideRows) {
  TComPtr<TSimpleRowsetData> zeroed = MakeData(DBTYPE_I4, false);
  zeroed->AppendRow();
  EXPECT_EQ(L"0", TextOf(*zeroed, 0, 1));
  EXPECT_EQ(L"", TextOf(*zeroed, 0, 2));

  TComPtr<TSimpleRowsetData> nulled = MakeData(DBTYPE_I4, true);
  nulled->AppendRow();
  EXPECT_EQ(L"0", TextOf(*nulled, 0, 0)) << "the bookmark is set";
  EXPECT_EQ(L"<null>", TextOf(*nulled, 0, 1));
  nulled->SetValue(0, 1, Int(5));
  EXPECT_EQ(L"5", TextOf(*nulled, 0, 1));
  nulled->SetValue(0, 1, Null());
  EXPECT_EQ(L"<null>", TextOf(*nulled, 0, 1));

  TComPtr<TSimpleRowsetData> wide = MakeComObject<TSimpleRowsetData>();
  for (int i = 0; i < 33; ++i) wide->GetColumns().AddColumn(L"C" + std::to_wstring(i), DBTYPE_I4, 4);
  wide->InitLayout();
  std::byte* row = wide->AppendRow();
  wide->SetColumnNull(row, 32, true);
  EXPECT_TRUE(wide->IsColumnNull(row, 32));
  EXPECT_FALSE(wide->IsColumnNull(row, 0));
  EXPECT_FALSE(wide->IsColumnNull(row, 31));
  wide->SetColumnNull(row, 31, true);
  wide->SetColumnNull(row, 32, false);
  EXPECT_TRUE(wide->IsColumnNull(row, 31));
  EXPECT_FALSE(wide->IsColumnNull(row, 32));
  EXPECT_TRUE(FAILED(Failure([&] { wide->IsColumnNull(row, 33); }).Code));
}

TEST(BufferedRowsetValues, ConvertInAndOutOfEveryStoredType) {
  TComPtr<TSimpleRowsetData> data = MakeComObject<TSimpleRowsetData>();
  TOleDbColumns& columns = data->GetColumns();
  columns.AddColumn(L"I4", DBTYPE_I4, 0);
  columns.AddColumn(L"I8", DBTYPE_I8, 0);
  columns.AddColumn(L"R8", DBTYPE_R8, 0);
  columns.AddColumn(L"DATE", DBTYPE_DATE, 0);
  columns.AddColumn(L"WSTR", DBTYPE_WSTR, 12);
  columns.AddColumn(L"BOOL", DBTYPE_BOOL, 0);
  columns.AddColumn(L"BSTR", DBTYPE_BSTR, 0);
  columns.AddColumn(L"STR", DBTYPE_STR, 8);
  data->InitLayout();
  data->AppendRow();

  data->SetValue(0, 0, Text(L"42"));
  data->SetValue(0, 1, Real(6e12));
  data->SetValue(0, 2, Real(2.5));
  data->SetValue(0, 3, Real(45000.5));
  data->SetValue(0, 4, Text(L"abc"));
  data->SetValue(0, 5, Int(1));
  data->SetValue(0, 6, Text(L"first"));
  data->SetValue(0, 6, Text(L"second"));
  data->SetValue(0, 7, Text(L"narrow"));
  EXPECT_EQ(L"42", TextOf(*data, 0, 0));
  EXPECT_EQ(L"6000000000000", TextOf(*data, 0, 1));
  EXPECT_EQ(L"2.5", TextOf(*data, 0, 2));
  TOleDbVariant date;
  data->GetValue(0, 3, date.Get());
  EXPECT_EQ(VT_DATE, date.Type());
  EXPECT_EQ(45000.5, V_DATE(&date.Get()));
  EXPECT_EQ(L"abc", TextOf(*data, 0, 4));
  TOleDbVariant flag;
  data->GetValue(0, 5, flag.Get());
  EXPECT_EQ(VT_BOOL, flag.Type());
  EXPECT_EQ(VARIANT_TRUE, V_BOOL(&flag.Get()));
  EXPECT_EQ(L"second", TextOf(*data, 0, 6));
  EXPECT_EQ(L"narrow", TextOf(*data, 0, 7));

  // Text longer than the slot is cut and stays terminated inside it.
  data->SetValue(0, 4, Text(L"much too long"));
  EXPECT_EQ(L"much ", TextOf(*data, 0, 4));

  const TFailure failure = Failure([&] { data->SetValue(0, 0, Text(L"not a number")); });
  EXPECT_TRUE(FAILED(failure.Code));
  EXPECT_EQ(L"Unable to convert data", failure.Message);
}

TEST(BufferedRowsetKeys, NumbersNamesAndBadKeys) {
  TComPtr<TSimpleRowsetData> data = MakeData(DBTYPE_I4, true);
  data->AppendRow();
  data->SetValueByKey(Int(1, VT_I2), Int(3));
  data->SetValueByKey(Text(L"NAME"), Text(L"Ann"));
  TOleDbVariant value;
  data->GetValueByKey(Int(1), value.Get());
  EXPECT_EQ(3, V_I4(&value.Get()));
  data->GetValueByKey(Int(2, VT_I2), value.Get());
  EXPECT_STREQ(L"Ann", V_BSTR(&value.Get()));

  EXPECT_EQ(L"Invalid column name", Failure([&] { data->SetValueByKey(Text(L"name"), Int(1)); }).Message);
  const TFailure real = Failure([&] { data->SetValueByKey(Real(1), Int(1)); });
  EXPECT_EQ(E_FAIL, real.Code);
  EXPECT_EQ(L"Invalid column index", real.Message);
  EXPECT_TRUE(FAILED(Failure([&] { data->SetValueByKey(Int(3), Int(1)); }).Code));
  EXPECT_TRUE(FAILED(Failure([&] { data->SetValueByKey(Int(-1), Int(1)); }).Code));

  const TVar idKey = Int(1), nameKey = Text(L"NAME"), id = Int(4), name = Text(L"Bob");
  const VARIANT keys[] = {idKey.Get(), nameKey.Get()};
  const VARIANT values[] = {id.Get(), name.Get()};
  data->SetValues(std::span<const VARIANT>(keys, 1), std::span<const VARIANT>(values, 1));
  EXPECT_EQ(L"4", TextOf(*data, 0, 1));
  EXPECT_FALSE(Failure([&] { data->SetValues(keys, std::span<const VARIANT>(values, 1)); }).Message.empty());

  data->AppendRow();
  void* peek = data->ValuePointerByKey(Int(1));
  EXPECT_EQ(L"<null>", TextOf(*data, 1, 1));
  LONG* slot = static_cast<LONG*>(data->ValuePointerForWriteByKey(Int(1)));
  EXPECT_EQ(peek, slot);
  *slot = 99;
  EXPECT_EQ(L"99", TextOf(*data, 1, 1));
  EXPECT_EQ(L"4", TextOf(*data, 0, 1));
}

TEST(SimpleRowsetBookmarks, TokensLocateTheirRowsUntilCleared) {
  TComPtr<TSimpleRowsetData> data = MakeData(DBTYPE_UI4);
  for (int i = 0; i < 30; ++i) data->AppendRow();
  const LONG seventh = BookmarkOf(*data, 7);
  const BYTE* token = reinterpret_cast<const BYTE*>(&seventh);
  EXPECT_EQ(7u, data->GetBookmarkRowIndex(token));
  data->GotoBookmark(token);
  EXPECT_EQ(7, data->Current());
  EXPECT_EQ(data->RowBuffer(7) + data->ColumnOffset(0), data->GetBookmark());

  DBHASHVALUE hash = 0;
  DBROWSTATUS status = DBROWSTATUS_E_INVALID;
  data->HashBookmark(token, hash, status);
  EXPECT_EQ(DBROWSTATUS_S_OK, status);
  EXPECT_EQ(7u, hash);

  const LONG foreign[] = {30, -1, 0x7FFFFFFF};
  for (LONG bad : foreign) {
    const BYTE* badToken = reinterpret_cast<const BYTE*>(&bad);
    EXPECT_EQ(DB_E_BADBOOKMARK, Failure([&] { data->GetBookmarkRowIndex(badToken); }).Code) << bad;
    EXPECT_EQ(DB_E_BADBOOKMARK, Failure([&] { data->CompareBookmarks(token, badToken); }).Code) << bad;
    status = DBROWSTATUS_E_INVALID;
    data->HashBookmark(badToken, hash, status);
    EXPECT_EQ(DBROWSTATUS_E_INVALID, status) << bad;
  }
  const LONG eighth = BookmarkOf(*data, 8);
  EXPECT_EQ(DBCOMPARE_EQ, data->CompareBookmarks(token, token));
  EXPECT_EQ(DBCOMPARE_NE, data->CompareBookmarks(token, reinterpret_cast<const BYTE*>(&eighth)));

  data->ClearRows();
  EXPECT_EQ(DB_E_BADBOOKMARK, Failure([&] { data->GetBookmarkRowIndex(token); }).Code);
}

TEST(SimpleRowsetBookmarks, UnusableBookmarkColumnsAreReported) {
  TComPtr<TSimpleRowsetData> none = MakeData(DBTYPE_EMPTY);
  none->AppendRow();
  const LONG zero = 0;
  const BYTE* token = reinterpret_cast<const BYTE*>(&zero);
  EXPECT_EQ(L"Bookmark column is not available", Failure([&] { none->GetBookmarkRowIndex(token); }).Message);
  EXPECT_EQ(L"Bookmark column is not available", Failure([&] { none->GetBookmark(); }).Message);
  DBHASHVALUE hash = 0;
  DBROWSTATUS status = DBROWSTATUS_E_INVALID;
  EXPECT_EQ(L"This operation is not implemented.\rTOleDbRowSetData.HashBookmark",
            Failure([&] { none->HashBookmark(token, hash, status); }).Message);

  TComPtr<TSimpleRowsetData> shortMarks = MakeData(DBTYPE_I2);
  shortMarks->AppendRow();
  const TFailure failure = Failure([&] { shortMarks->GetBookmarkRowIndex(token); });
  EXPECT_EQ(E_FAIL, failure.Code);
  EXPECT_EQ(L"Bookmark type is unsupoorted", failure.Message);
  EXPECT_FALSE(shortMarks->BookmarksOn());
}

}  // namespace
