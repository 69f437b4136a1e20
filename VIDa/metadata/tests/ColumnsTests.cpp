#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstring>
#include <string>
#include <vector>

#include "OLEDbError.h"
#include "OLEDbSchemaDefaults.h"
#include "OLEDbTypes.h"
#include "TestRowset.h"

namespace {
std::vector<std::wstring> NamesOf(const TOleDbColumns& columns) {
  std::vector<std::wstring> names;
  for (std::size_t i = 0; i < columns.Count(); ++i) names.push_back(columns.Items(i).Name);
  return names;
}

DBID NameId(const wchar_t* name) {
  DBID id{};
  id.eKind = DBKIND_NAME;
  id.uName.pwszName = const_cast<wchar_t*>(name);
  return id;
}
}  // namespace

TEST(Columns, SizesFlagsAndOrdinalsFollowTheType) {
  TOleDbColumns columns;
  TOleDbColumn& a = columns.AddColumn(L"A", DBTYPE_I4, 100);
  EXPECT_EQ(a.Ordinal, 1u);
  EXPECT_EQ(a.Size, 4u);
  EXPECT_TRUE(a.Flags & DBCOLUMNFLAGS_ISFIXEDLENGTH);
  TOleDbColumn& b = columns.AddColumn(L"B", DBTYPE_WSTR, 512);
  EXPECT_EQ(b.Ordinal, 2u);
  EXPECT_EQ(b.Size, 512u);
  EXPECT_FALSE(b.Flags & DBCOLUMNFLAGS_ISFIXEDLENGTH);
  // A BSTR column holds a pointer: a fixed size, but no fixed-length data.
  TOleDbColumn& text = columns.AddColumn(L"C", DBTYPE_BSTR, 0);
  EXPECT_EQ(text.Size, sizeof(BSTR));
  EXPECT_FALSE(text.Flags & DBCOLUMNFLAGS_ISFIXEDLENGTH);
  EXPECT_EQ(TypeSize(DBTYPE_VARIANT), static_cast<int>(sizeof(VARIANT)));
  EXPECT_EQ(TypeSize(DBTYPE_I4 | DBTYPE_BYREF), -1);  // only the bare modifier has a size

  TOleDbColumns numbered;
  numbered.AddColumn(L"bookmark", DBTYPE_I4, 0, DBCOLUMNFLAGS_ISBOOKMARK, 0, 0, 0);
  EXPECT_EQ(numbered.AddColumn(L"first", DBTYPE_I4, 0).Ordinal, 1u);
  EXPECT_EQ(numbered.BookmarkColumn(), &numbered.Items(0));
  numbered.Clear();
  EXPECT_EQ(numbered.BookmarkColumn(), nullptr);
  EXPECT_EQ(numbered.AddColumn(L"again", DBTYPE_I4, 0).Ordinal, 1u);
}

TEST(Columns, NamesAreUniqueCaseSensitively) {
  TOleDbColumns columns;
  columns.AddColumn(L"A", DBTYPE_I4, 0);
  columns.AddColumn(L"a", DBTYPE_I4, 0);
  try {
    columns.AddColumn(L"A", DBTYPE_WSTR, 20);
    FAIL() << "duplicate accepted";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.ErrorCode(), E_FAIL);
    EXPECT_EQ(e.Message(), L"Duplicate column names are not allowed");
  }
  EXPECT_EQ(NamesOf(columns), (std::vector<std::wstring>{L"A", L"a"}));
}

TEST(Columns, OrdinalLookupFollowsChanges) {
  TOleDbColumns columns;
  for (int i = 0; i < 12; ++i) columns.AddColumn(L"c" + std::to_wstring(i), DBTYPE_I4, 0);
  EXPECT_EQ(columns.FindByOrdinal(10), &columns.Items(9));
  EXPECT_EQ(columns.FindByOrdinal(0), nullptr);
  if constexpr (sizeof(DBORDINAL) > 4) {  // not ordinal 1
    EXPECT_EQ(columns.FindByOrdinal(static_cast<DBORDINAL>(std::uint64_t{1} << 32) | 1), nullptr);
  }
  columns.AddColumn(L"late", DBTYPE_I4, 0);
  EXPECT_EQ(columns.FindByOrdinal(13), &columns.Items(12));
  // A repeated explicit ordinal leaves the first column in charge.
  columns.AddColumn(L"twin", DBTYPE_I4, 0, 0, 0, 0, 5);
  EXPECT_EQ(columns.FindByOrdinal(5)->Name, L"c4");
  columns.Clear();
  EXPECT_EQ(columns.FindByOrdinal(1), nullptr);
}

TEST(ColumnsTypes, NamesAreTrimmedAndCaseFree) {
  DBTYPE type = DBTYPE_EMPTY;
  EXPECT_TRUE(TypeFromName(L"  dbtype_wvarchar \t", type));
  EXPECT_EQ(type, DBTYPE_WSTR);
  type = DBTYPE_I8;
  EXPECT_FALSE(TypeFromName(L"DBTYPE_WSTR", type));
  EXPECT_EQ(type, DBTYPE_I8);
  EXPECT_EQ(CharsToBytes(DBTYPE_WSTR, 10), 20u);
  EXPECT_EQ(CharsToBytes(DBTYPE_STR, 10), 10u);
}

TEST(ColumnsTemplate, GroupsGiveTheirColumns) {
  TOleDbColumns tables, columns, types, none;
  CreateSchemaColumns(DBSCHEMA_TABLES, tables);
  EXPECT_EQ(NamesOf(tables),
            (std::vector<std::wstring>{L"TABLE_CATALOG", L"TABLE_SCHEMA", L"TABLE_NAME", L"TABLE_TYPE", L"TABLE_GUID",
                                       L"DESCRIPTION", L"TABLE_PROPID", L"DATE_CREATED", L"DATE_MODIFIED"}));
  EXPECT_EQ(tables.Items(0).Size, 256u);
  EXPECT_EQ(tables.Items(4).DataType, DBTYPE_GUID);
  CreateSchemaColumns(DBSCHEMA_COLUMNS, columns);
  CreateSchemaColumns(DBSCHEMA_PROVIDER_TYPES, types);
  CreateSchemaColumns(DBSCHEMA_CATALOGS, none);
  EXPECT_EQ(columns.Count(), 28u);
  EXPECT_EQ(types.Count(), 21u);
  EXPECT_EQ(none.Count(), 0u);
  EXPECT_EQ(SchemaDefaults().size(), 94u);

  // The metadata group is selected by identifier only, one column per call.
  TOleDbColumns metadata;
  CreateSchemaColumns(OleDbColumnsRowsetGroup, metadata);
  EXPECT_EQ(metadata.Count(), 0u);
  DBID unknown = DBCOLUMN_NAME;
  unknown.uName.ulPropid = 999;
  for (const DBID* id : {&DBCOLUMN_NAME, &DBCOLUMN_BASECOLUMNNAME, const_cast<const DBID*>(&unknown)})
    CreateSchemaColumns(OleDbColumnsRowsetGroup, metadata, id);
  ASSERT_EQ(NamesOf(metadata), (std::vector<std::wstring>{L"DBCOLUMN_NAME", L"DBCOLUMN_BASECOLUMNNAME"}));
  EXPECT_EQ(metadata.FindByID(DBCOLUMN_BASECOLUMNNAME), &metadata.Items(1));
  CreateSchemaColumns(DBSCHEMA_TABLES, none, &DBCOLUMN_NAME);  // no leaking across groups
  EXPECT_EQ(none.Count(), 0u);
}

class ColumnInfo : public ::testing::Test {
protected:
  ~ColumnInfo() override {
    for (DBORDINAL i = 0; i < count; ++i) DBIDRelease(info[i].columnid);
    CoTaskMemFree(info);
    CoTaskMemFree(strings);
  }
  HRESULT Get() { return columnsInfo->GetColumnInfo(&count, &info, &strings); }

  TComPtr<TTestRowset> rowset = MakeTestRowset();
  TComPtr<IColumnsInfo> columnsInfo = ConsumerInterface<IColumnsInfo>(rowset);
  DBORDINAL count = 0;
  DBCOLUMNINFO* info = nullptr;
  OLECHAR* strings = nullptr;
};

TEST_F(ColumnInfo, OneStringBufferHoldsEveryName) {
  TOleDbColumns& columns = rowset->Columns();
  columns.AddColumn(L"Time", DBTYPE_DATE, 0);
  columns.AddColumn(L"", DBTYPE_I4, 0);
  columns.AddColumn(L"Subject", DBTYPE_WSTR, 1024, DBCOLUMNFLAGS_ISNULLABLE);
  columns.AddColumn(L"Text", DBTYPE_WSTR, 0, DBCOLUMNFLAGS_ISLONG);
  columns.Items(0).ColumnID.Assign(NameId(L"Time"));

  ASSERT_EQ(Get(), S_OK);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(std::wstring(strings, 18), std::wstring(L"Time\0Subject\0Text\0", 18));
  EXPECT_EQ(info[0].pwszName, strings);
  EXPECT_EQ(info[1].pwszName, nullptr);  // nameless columns take no room
  EXPECT_EQ(info[2].pwszName, strings + 5);
  EXPECT_EQ(info[3].pwszName, strings + 13);

  EXPECT_EQ(info[1].iOrdinal, 2u);
  EXPECT_EQ(info[2].ulColumnSize, 512u);  // characters
  EXPECT_EQ(info[2].dwFlags, static_cast<DBCOLUMNFLAGS>(DBCOLUMNFLAGS_ISNULLABLE));
  EXPECT_EQ(info[3].ulColumnSize, ~DBLENGTH(0));
  EXPECT_EQ(info[0].columnid.eKind, static_cast<DBKIND>(DBKIND_NAME));
  EXPECT_STREQ(info[0].columnid.uName.pwszName, L"Time");
  EXPECT_NE(info[0].columnid.uName.pwszName, info[0].pwszName);
  const DBID zero{};
  EXPECT_EQ(memcmp(&info[1].columnid, &zero, sizeof(DBID)), 0);
}

TEST_F(ColumnInfo, NoNamesNoBuffer) {
  EXPECT_EQ(Get(), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(strings, nullptr);
  rowset->Columns().AddColumn(L"", DBTYPE_I4, 0);
  EXPECT_EQ(Get(), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(strings, nullptr);
  EXPECT_EQ(info[0].pwszName, nullptr);

  DBORDINAL stale = 7;
  DBCOLUMNINFO* refused = reinterpret_cast<DBCOLUMNINFO*>(1);
  EXPECT_EQ(columnsInfo->GetColumnInfo(&stale, &refused, nullptr), E_INVALIDARG);
  EXPECT_EQ(stale, 0u);
  EXPECT_EQ(refused, nullptr);
}

TEST_F(ColumnInfo, MapColumnIDsSumsUpPerIdentifier) {
  TOleDbColumns& columns = rowset->Columns();
  columns.AddColumn(L"Server", DBTYPE_WSTR, 100);
  columns.AddColumn(L"Source", DBTYPE_WSTR, 100);
  DBID propid{};
  propid.eKind = DBKIND_PROPID;
  propid.uName.ulPropid = 3;
  columns.Items(1).ColumnID.Assign(propid);
  columns.Items(0).ColumnID.Assign(NameId(L"Source"));  // names win over identifiers

  const DBID ids[] = {NameId(L"Source"), propid, NameId(L"Server"), NameId(L"server")};
  DBORDINAL ordinals[4] = {};
  EXPECT_EQ(columnsInfo->MapColumnIDs(3, ids, ordinals), S_OK);
  EXPECT_EQ(ordinals[0], 2u);
  EXPECT_EQ(ordinals[1], 2u);
  EXPECT_EQ(ordinals[2], 1u);
  EXPECT_EQ(columnsInfo->MapColumnIDs(4, ids, ordinals), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(ordinals[3], DB_INVALIDCOLUMN);
  EXPECT_EQ(columnsInfo->MapColumnIDs(1, ids + 3, ordinals), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(columnsInfo->MapColumnIDs(0, nullptr, ordinals), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(columnsInfo->MapColumnIDs(1, nullptr, ordinals), E_INVALIDARG);
  EXPECT_EQ(columnsInfo->MapColumnIDs(1, ids, nullptr), E_INVALIDARG);
}
