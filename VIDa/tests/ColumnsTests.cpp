#include <gtest/gtest.h>

#include <oledberr.h>

#include <cwchar>
#include <string>
#include <vector>

#include "OLEDbColumnStorage.h"
#include "OLEDbError.h"
#include "OLEDbSchemaDefaults.h"
#include "OLEDbTypes.h"
#include "TestRowset.h"

namespace {
std::wstring MessageOf(void (*body)()) {
  try {
    body();
  } catch (const EOleError& e) {
    return e.Message();
  }
  return L"<no error>";
}

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

// The consumer's side of GetColumnInfo, freed the way a consumer frees it.
struct TColumnInfo {
  DBORDINAL Count = 0;
  DBCOLUMNINFO* Info = nullptr;
  OLECHAR* Strings = nullptr;
  HRESULT Result = E_FAIL;

  explicit TColumnInfo(IColumnsInfo* columnsInfo) { Result = columnsInfo->GetColumnInfo(&Count, &Info, &Strings); }
  ~TColumnInfo() {
    for (DBORDINAL i = 0; i < Count; ++i) DBIDRelease(Info[i].columnid);
    CoTaskMemFree(Info);
    CoTaskMemFree(Strings);
  }
};
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
  EXPECT_EQ(b.ReportedSize(), 256u);

  // A BSTR column holds a pointer: fixed size, but not fixed-length data.
  TOleDbColumn& text = columns.AddColumn(L"C", DBTYPE_BSTR, 0);
  EXPECT_EQ(text.Size, sizeof(BSTR));
  EXPECT_FALSE(text.Flags & DBCOLUMNFLAGS_ISFIXEDLENGTH);

  TOleDbColumn& blob = columns.AddColumn(L"D", DBTYPE_STR, 10, DBCOLUMNFLAGS_ISLONG);
  EXPECT_EQ(blob.ReportedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(blob.Index, 3u);

  TOleDbColumns numbered;
  numbered.AddColumn(L"bookmark", DBTYPE_I4, 0, DBCOLUMNFLAGS_ISBOOKMARK, 0, 0, 0);
  EXPECT_EQ(numbered.AddColumn(L"first", DBTYPE_I4, 0).Ordinal, 1u);
  EXPECT_EQ(numbered.BookmarkColumn(), &numbered.Items(0));
  numbered.Clear();
  EXPECT_EQ(numbered.Count(), 0u);
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
  EXPECT_EQ(columns.FindByName(L"a"), &columns.Items(1));
  EXPECT_EQ(columns.FindByName(L"b"), nullptr);
}

TEST(Columns, OrdinalLookupFollowsChanges) {
  TOleDbColumns columns;
  for (int i = 0; i < 12; ++i) columns.AddColumn(L"c" + std::to_wstring(i), DBTYPE_I4, 0);
  EXPECT_EQ(columns.FindByOrdinal(10), &columns.Items(9));
  EXPECT_EQ(columns.FindByOrdinal(0), nullptr);
  EXPECT_EQ(columns.FindByOrdinal(13), nullptr);
  EXPECT_EQ(columns.FindByOrdinal(DBORDINAL(1) << 32 | 1), nullptr);  // not ordinal 1
  // A column added after a lookup is found too.
  columns.AddColumn(L"late", DBTYPE_I4, 0);
  EXPECT_EQ(columns.FindByOrdinal(13), &columns.Items(12));
  // A repeated explicit ordinal leaves the first column in charge.
  columns.AddColumn(L"twin", DBTYPE_I4, 0, 0, 0, 0, 5);
  EXPECT_EQ(columns.FindByOrdinal(5)->Name, L"c4");
  columns.Clear();
  EXPECT_EQ(columns.FindByOrdinal(1), nullptr);
}

TEST(Columns, FindByIDPrefersNamesForNameIdentifiers) {
  TOleDbColumns columns;
  columns.AddColumn(L"Sender", DBTYPE_WSTR, 200);
  TOleDbColumn& tagged = columns.AddColumn(L"Other", DBTYPE_I4, 0);
  DBID byName = NameId(L"Sender");
  tagged.ColumnID.Assign(byName);  // "Other" carries the identifier "Sender"
  EXPECT_EQ(columns.FindByID(byName), &columns.Items(0));

  DBID propid{};
  propid.eKind = DBKIND_GUID_PROPID;
  propid.uName.ulPropid = 7;
  tagged.ColumnID.Assign(propid);
  EXPECT_EQ(columns.FindByID(propid), &tagged);
  DBID unknown = NameId(L"sender");
  EXPECT_EQ(columns.FindByID(unknown), nullptr);
}

TEST(ColumnsTypes, SizesAndNames) {
  EXPECT_EQ(TypeSize(DBTYPE_I2), 2);
  EXPECT_EQ(TypeSize(DBTYPE_DBDATE), 6);
  EXPECT_EQ(TypeSize(DBTYPE_NUMERIC), 19);
  EXPECT_EQ(TypeSize(DBTYPE_GUID), 16);
  EXPECT_EQ(TypeSize(DBTYPE_VARIANT), static_cast<int>(sizeof(VARIANT)));
  EXPECT_EQ(TypeSize(DBTYPE_IUNKNOWN), static_cast<int>(sizeof(void*)));
  EXPECT_EQ(TypeSize(DBTYPE_WSTR), -1);
  EXPECT_EQ(TypeSize(DBTYPE_I4 | DBTYPE_BYREF), -1);  // only the bare modifier has a size
  EXPECT_EQ(CharsToBytes(DBTYPE_WSTR, 10), 20u);
  EXPECT_EQ(CharsToBytes(DBTYPE_STR, 10), 10u);

  DBTYPE type = DBTYPE_EMPTY;
  EXPECT_TRUE(TypeFromName(L"  dbtype_wvarchar \t", type));
  EXPECT_EQ(type, DBTYPE_WSTR);
  EXPECT_TRUE(TypeFromName(L"DBTYPE_LONGVARBINARY", type));
  EXPECT_EQ(type, DBTYPE_BYTES);
  type = DBTYPE_I8;
  EXPECT_FALSE(TypeFromName(L"DBTYPE_WSTR", type));
  EXPECT_FALSE(TypeFromName(L"", type));
  EXPECT_EQ(type, DBTYPE_I8);
}

TEST(ColumnsTemplate, SchemaGroupsGiveTheirStandardColumns) {
  TOleDbColumns tables;
  CreateSchemaColumns(DBSCHEMA_TABLES, tables);
  EXPECT_EQ(NamesOf(tables),
            (std::vector<std::wstring>{L"TABLE_CATALOG", L"TABLE_SCHEMA", L"TABLE_NAME", L"TABLE_TYPE", L"TABLE_GUID",
                                       L"DESCRIPTION", L"TABLE_PROPID", L"DATE_CREATED", L"DATE_MODIFIED"}));
  EXPECT_EQ(tables.Items(0).Size, 256u);
  EXPECT_EQ(tables.Items(4).DataType, DBTYPE_GUID);
  EXPECT_EQ(tables.Items(8).Ordinal, 9u);

  TOleDbColumns columns, types, none;
  CreateSchemaColumns(DBSCHEMA_COLUMNS, columns);
  CreateSchemaColumns(DBSCHEMA_PROVIDER_TYPES, types);
  CreateSchemaColumns(DBSCHEMA_CATALOGS, none);
  EXPECT_EQ(columns.Count(), 28u);
  EXPECT_EQ(columns.Items(27).Name, L"DESCRIPTION");
  EXPECT_EQ(types.Count(), 21u);
  EXPECT_EQ(types.Items(20).Name, L"IS_FIXEDLENGTH");
  EXPECT_EQ(none.Count(), 0u);

  std::size_t ends = 0;
  for (const auto& row : SchemaDefaults())
    if (std::wstring(row.Name) == L"-") ++ends;
  EXPECT_EQ(SchemaDefaults().size(), 94u);
  EXPECT_EQ(ends, 4u);
}

TEST(ColumnsTemplate, MetadataColumnsComeByIdentifier) {
  TOleDbColumns metadata;
  CreateSchemaColumns(OleDbColumnsRowsetGroup, metadata);
  EXPECT_EQ(metadata.Count(), 0u);  // every row of the group carries an identifier

  CreateSchemaColumns(OleDbColumnsRowsetGroup, metadata, &DBCOLUMN_NAME);
  CreateSchemaColumns(OleDbColumnsRowsetGroup, metadata, &DBCOLUMN_BASECOLUMNNAME);
  DBID unknown{};
  unknown.eKind = DBKIND_GUID_PROPID;
  unknown.uGuid.guid = DBCOLUMN_NAME.uGuid.guid;
  unknown.uName.ulPropid = 999;
  CreateSchemaColumns(OleDbColumnsRowsetGroup, metadata, &unknown);
  ASSERT_EQ(NamesOf(metadata), (std::vector<std::wstring>{L"DBCOLUMN_NAME", L"DBCOLUMN_BASECOLUMNNAME"}));
  EXPECT_TRUE(metadata.Items(1).ColumnID.Equals(DBCOLUMN_BASECOLUMNNAME));
  EXPECT_EQ(metadata.FindByID(DBCOLUMN_BASECOLUMNNAME), &metadata.Items(1));
  // An identifier of another group's column does not leak across groups.
  TOleDbColumns tables;
  CreateSchemaColumns(DBSCHEMA_TABLES, tables, &DBCOLUMN_NAME);
  EXPECT_EQ(tables.Count(), 0u);
}

TEST(ColumnsStorage, NeedsAColumnList) {
  EXPECT_EQ(MessageOf([] { TOleDbColumnStorage storage(nullptr); }), L"Columns must be defined");
  TOleDbColumnStorage storage(std::make_unique<TOleDbColumns>());
  EXPECT_EQ(MessageOf([] {
              TOleDbColumnStorage s(std::make_unique<TOleDbColumns>());
              s.SetColumns(nullptr);
            }),
            L"Columns must be defined");
  TOleDbColumns external;
  external.AddColumn(L"x", DBTYPE_I4, 0);
  storage.SetColumns(&external);
  EXPECT_TRUE(storage.External());
  EXPECT_EQ(&storage.Columns(), &external);
}

class ColumnInfo : public ::testing::Test {
protected:
  TComPtr<TTestRowset> rowset = MakeTestRowset();
  TComPtr<IColumnsInfo> columnsInfo = ConsumerInterface<IColumnsInfo>(rowset);
};

TEST_F(ColumnInfo, OneStringBufferHoldsEveryName) {
  TOleDbColumns& columns = rowset->Columns();
  columns.AddColumn(L"Time", DBTYPE_DATE, 0);
  columns.AddColumn(L"", DBTYPE_I4, 0);
  columns.AddColumn(L"Subject", DBTYPE_WSTR, 1024, DBCOLUMNFLAGS_ISNULLABLE);
  columns.AddColumn(L"Text", DBTYPE_WSTR, 0, DBCOLUMNFLAGS_ISLONG);
  columns.Items(0).ColumnID.Assign(NameId(L"Time"));

  TColumnInfo got(columnsInfo.Get());
  ASSERT_EQ(got.Result, S_OK);
  ASSERT_EQ(got.Count, 4u);
  // "Time\0Subject\0Text\0", nothing for the nameless column.
  EXPECT_EQ(got.Info[0].pwszName, got.Strings);
  EXPECT_EQ(got.Info[1].pwszName, nullptr);
  EXPECT_EQ(got.Info[2].pwszName, got.Strings + 5);
  EXPECT_EQ(got.Info[3].pwszName, got.Strings + 13);
  EXPECT_EQ(std::wstring(got.Strings, 18), std::wstring(L"Time\0Subject\0Text", 17) + L'\0');

  EXPECT_EQ(got.Info[1].iOrdinal, 2u);
  EXPECT_EQ(got.Info[2].ulColumnSize, 512u);  // characters
  EXPECT_EQ(got.Info[2].dwFlags, static_cast<DBCOLUMNFLAGS>(DBCOLUMNFLAGS_ISNULLABLE));
  EXPECT_EQ(got.Info[3].ulColumnSize, ~DBLENGTH(0));
  EXPECT_EQ(got.Info[0].wType, DBTYPE_DATE);
  EXPECT_EQ(got.Info[0].columnid.eKind, static_cast<DBKIND>(DBKIND_NAME));
  EXPECT_STREQ(got.Info[0].columnid.uName.pwszName, L"Time");
  EXPECT_NE(got.Info[0].columnid.uName.pwszName, got.Info[0].pwszName);
  DBID zero{};
  EXPECT_EQ(memcmp(&got.Info[1].columnid, &zero, sizeof(DBID)), 0);  // no identifier: left zero
}

TEST_F(ColumnInfo, NamelessAndEmptyListsMakeNoBuffer) {
  {
    TColumnInfo got(columnsInfo.Get());
    EXPECT_EQ(got.Result, S_OK);
    EXPECT_EQ(got.Count, 0u);
    EXPECT_EQ(got.Strings, nullptr);
  }
  rowset->Columns().AddColumn(L"", DBTYPE_I4, 0);
  TColumnInfo got(columnsInfo.Get());
  EXPECT_EQ(got.Count, 1u);
  EXPECT_EQ(got.Strings, nullptr);
  EXPECT_EQ(got.Info[0].pwszName, nullptr);
}

TEST_F(ColumnInfo, MissingOutputsAreRefused) {
  rowset->Columns().AddColumn(L"a", DBTYPE_I4, 0);
  DBORDINAL count = 99;
  DBCOLUMNINFO* info = reinterpret_cast<DBCOLUMNINFO*>(1);
  OLECHAR* strings = nullptr;
  EXPECT_EQ(columnsInfo->GetColumnInfo(&count, &info, nullptr), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(columnsInfo->GetColumnInfo(nullptr, &info, &strings), E_INVALIDARG);
}

TEST_F(ColumnInfo, MapColumnIDsSumsUpPerIdentifier) {
  TOleDbColumns& columns = rowset->Columns();
  columns.AddColumn(L"Server", DBTYPE_WSTR, 100);
  columns.AddColumn(L"Source", DBTYPE_WSTR, 100);
  DBID propid{};
  propid.eKind = DBKIND_PROPID;
  propid.uName.ulPropid = 3;
  columns.Items(1).ColumnID.Assign(propid);

  const DBID known[] = {NameId(L"Source"), propid, NameId(L"Server")};
  DBORDINAL ordinals[3] = {};
  EXPECT_EQ(columnsInfo->MapColumnIDs(3, known, ordinals), S_OK);
  EXPECT_EQ(ordinals[0], 2u);
  EXPECT_EQ(ordinals[1], 2u);
  EXPECT_EQ(ordinals[2], 1u);

  const DBID mixed[] = {NameId(L"server"), NameId(L"Server")};
  EXPECT_EQ(columnsInfo->MapColumnIDs(2, mixed, ordinals), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(ordinals[0], DB_INVALIDCOLUMN);
  EXPECT_EQ(ordinals[1], 1u);

  EXPECT_EQ(columnsInfo->MapColumnIDs(1, mixed, ordinals), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(ordinals[0], DB_INVALIDCOLUMN);
  EXPECT_EQ(columnsInfo->MapColumnIDs(0, nullptr, ordinals), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(columnsInfo->MapColumnIDs(1, nullptr, ordinals), E_INVALIDARG);
  EXPECT_EQ(columnsInfo->MapColumnIDs(1, known, nullptr), E_INVALIDARG);
}
