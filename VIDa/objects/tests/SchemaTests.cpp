// Schema rowsets through IDBSchemaRowset, and the schema list's masks.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <string>
#include <vector>

#include "ConsumerTestSupport.h"
#include "ObjectsProvider.h"
#include "OLEDbSchemas.h"

namespace {

TComPtr<IDBSchemaRowset> SchemaRowsetOf(const TComPtr<IOpenRowset>& session) {
  TComPtr<IDBSchemaRowset> schemas;
  session.As(schemas, IID_IDBSchemaRowset);
  return schemas;
}

// The TABLE_NAME column of every row.
std::vector<std::wstring> TableNames(IUnknown* rowset) {
  TComPtr<IAccessor> accessor;
  rowset->QueryInterface(IID_IAccessor, accessor.PutVoid());
  DBBINDING binding{};
  binding.iOrdinal = 3;
  binding.obValue = 8;
  binding.obStatus = 0;
  binding.dwPart = DBPART_VALUE | DBPART_STATUS;
  binding.cbMaxLen = 128;
  binding.wType = DBTYPE_WSTR;
  HACCESSOR handle = DB_NULL_HACCESSOR;
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &handle, nullptr), S_OK);
  TComPtr<IRowset> rows;
  rowset->QueryInterface(IID_IRowset, rows.PutVoid());
  std::vector<std::wstring> names;
  for (;;) {
    HROW row;
    HROW* p = &row;
    DBCOUNTITEM obtained = 0;
    rows->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &p);
    if (obtained == 0) break;
    struct {
      DBSTATUS Status;
      DWORD Pad;
      wchar_t Text[64];
    } cell{};
    EXPECT_EQ(rows->GetData(row, handle, &cell), S_OK);
    names.emplace_back(cell.Text);
    rows->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  }
  accessor->ReleaseAccessor(handle, nullptr);
  return names;
}

TEST(SchemaList, RestrictionSupportMasks) {
  TOleDbSchemas schemas;
  EXPECT_EQ(schemas.AddSchema(DBSCHEMA_TABLES).RestrictionSupport(), 0xFu);
  EXPECT_EQ(schemas.AddSchema(DBSCHEMA_TABLES, L"01").RestrictionSupport(), 0xEu);
  EXPECT_EQ(schemas.AddSchema(DBSCHEMA_PROVIDER_TYPES, L"1111").RestrictionSupport(), 0x3u) << "beyond the defined ones";
  EXPECT_EQ(schemas.AddSchema(DBSCHEMA_SQL_LANGUAGES).RestrictionSupport(), 0u);
  EXPECT_EQ(schemas.AddSchema(DBSCHEMA_INDEXES, L"00100").RestrictionSupport(), 0x4u);
  const GUID unknown = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  TOleDbSchema& custom = schemas.AddSchema(unknown, L"101");
  EXPECT_EQ(custom.SchemaCode, 0);
  EXPECT_EQ(custom.RestrictionSupport(), 0x5u);
  EXPECT_EQ(schemas.FindSchema(DBSCHEMA_TABLES), &schemas.Items(0));
  EXPECT_EQ(schemas.FindSchema(DBSCHEMA_CATALOGS), nullptr);

  EXPECT_EQ(SchemaCodeOf(DBSCHEMA_STATISTICS), 30);
  EXPECT_EQ(SchemaRestrictionCount(SchemaCodeOf(DBSCHEMA_TABLE_CONSTRAINTS)), 7u);
  EXPECT_EQ(SchemaCodeOf(DBSCHEMA_KEY_COLUMN_USAGE), 0) << "not in the table";
  for (TOleDbSchemaCode code = 1; code < OleDbSchemaCodeCount; ++code) EXPECT_EQ(SchemaCodeOf(SchemaGuidOf(code)), code);
}

TEST(SchemaRowset, GetSchemasListsTheToolkitSchemas) {
  TComPtr<IDBSchemaRowset> schemas = SchemaRowsetOf(CreateObjectsSession());
  ULONG count = 99;
  GUID* guids = nullptr;
  ULONG* support = nullptr;
  ASSERT_EQ(schemas->GetSchemas(&count, &guids, &support), S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_TRUE(IsEqualGUID(guids[0], DBSCHEMA_TABLES));
  EXPECT_TRUE(IsEqualGUID(guids[1], DBSCHEMA_COLUMNS));
  EXPECT_TRUE(IsEqualGUID(guids[2], DBSCHEMA_PROVIDER_TYPES));
  EXPECT_EQ(support[0], 0xFu);
  EXPECT_EQ(support[1], 0xFu);
  EXPECT_EQ(support[2], 0x3u);
  CoTaskMemFree(guids);
  CoTaskMemFree(support);

  EXPECT_EQ(schemas->GetSchemas(&count, &guids, nullptr), S_OK);
  CoTaskMemFree(guids);
  EXPECT_EQ(schemas->GetSchemas(nullptr, &guids, nullptr), E_INVALIDARG);
  EXPECT_EQ(guids, nullptr);
  EXPECT_EQ(schemas->GetSchemas(&count, nullptr, &support), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(support, nullptr);
}

TEST(SchemaRowset, GetRowsetChecksItsRequest) {
  TComPtr<IDBSchemaRowset> schemas = SchemaRowsetOf(CreateObjectsSession());
  TComPtr<IUnknown> rowset;
  VARIANT restrictions[4] = {};
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_PROVIDER_TYPES, 3, restrictions, IID_IRowset, 0, nullptr,
                               rowset.Put()),
            E_INVALIDARG);
  TObjectsSession::LastRestrictionCount = 99;
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_PROVIDER_TYPES, 2, restrictions, IID_IRowset, 0, nullptr,
                               rowset.Put()),
            S_OK);
  EXPECT_EQ(TObjectsSession::LastRestrictionCount, 2u);
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_CATALOGS, 0, nullptr, IID_IRowset, 0, nullptr, rowset.Put()),
            E_INVALIDARG);
  EXPECT_FALSE(rowset);
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 1, nullptr, IID_IRowset, 0, nullptr, rowset.Put()),
            E_INVALIDARG);
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 1, nullptr, rowset.Put()),
            E_INVALIDARG);
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 0, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(schemas->GetRowset(reinterpret_cast<IUnknown*>(schemas.Get()), DBSCHEMA_TABLES, 0, nullptr, IID_IRowset,
                               0, nullptr, rowset.Put()),
            DB_E_NOAGGREGATION);

  TObjectsSession::BuildNothing = true;
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 0, nullptr, rowset.Put()), E_FAIL);
  TObjectsSession::BuildNothing = false;
  EXPECT_EQ(TakeErrorInfo().Description, L"Unable to initialize Schema information");
  EXPECT_FALSE(rowset);
}

TEST(SchemaRowset, RowsAndColumnsFromTheHandler) {
  TComPtr<IDBSchemaRowset> schemas = SchemaRowsetOf(CreateObjectsSession());
  TComPtr<IUnknown> rowset;
  ASSERT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 0, nullptr, rowset.Put()), S_OK);
  EXPECT_EQ(TableNames(rowset.Get()), (std::vector<std::wstring>{L"one.tbl", L"two.tbl"}));

  VARIANT restrictions[3] = {};
  V_VT(&restrictions[2]) = VT_BSTR;
  V_BSTR(&restrictions[2]) = SysAllocString(L"two.tbl");
  ASSERT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 3, restrictions, IID_IRowset, 0, nullptr, rowset.Put()),
            S_OK);
  VariantClear(&restrictions[2]);
  EXPECT_EQ(TableNames(rowset.Get()), (std::vector<std::wstring>{L"two.tbl"}));

  struct TExpected {
    const GUID* Schema;
    DBORDINAL Columns;
    const wchar_t* Last;
  } expected[] = {{&DBSCHEMA_TABLES, 9, L"DATE_MODIFIED"},
                  {&DBSCHEMA_COLUMNS, 28, L"DESCRIPTION"},
                  {&DBSCHEMA_PROVIDER_TYPES, 21, L"IS_FIXEDLENGTH"}};
  for (const TExpected& e : expected) {
    ASSERT_EQ(schemas->GetRowset(nullptr, *e.Schema, 0, nullptr, IID_IColumnsInfo, 0, nullptr, rowset.Put()), S_OK);
    TComPtr<IColumnsInfo> info;
    ASSERT_EQ(rowset.As(info, IID_IColumnsInfo), S_OK);
    DBORDINAL count = 0;
    DBCOLUMNINFO* columns = nullptr;
    OLECHAR* names = nullptr;
    ASSERT_EQ(info->GetColumnInfo(&count, &columns, &names), S_OK);
    EXPECT_EQ(count, e.Columns);
    EXPECT_STREQ(columns[count - 1].pwszName, e.Last);
    CoTaskMemFree(columns);
    CoTaskMemFree(names);
  }
}

TEST(SchemaRowset, RowsetProperties) {
  TComPtr<IDBSchemaRowset> schemas = SchemaRowsetOf(CreateObjectsSession());
  DBPROP prop{};
  prop.dwPropertyID = 0xFFFF;
  prop.dwOptions = DBPROPOPTIONS_REQUIRED;
  DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
  TComPtr<IUnknown> rowset;
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 1, &set, rowset.Put()),
            DB_E_ERRORSOCCURRED);
  EXPECT_FALSE(rowset) << "a failed call hands out no rowset";
  // An optional property only warns, even when it is the only one.
  prop.dwOptions = DBPROPOPTIONS_OPTIONAL;
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 1, &set, rowset.Put()),
            DB_S_ERRORSOCCURRED);
  EXPECT_TRUE(rowset);
  DBPROP both[2]{};
  both[0].dwPropertyID = DBPROP_IAccessor;
  V_VT(&both[0].vValue) = VT_BOOL;
  V_BOOL(&both[0].vValue) = VARIANT_TRUE;
  both[1] = prop;
  DBPROPSET mixed{both, 2, DBPROPSET_ROWSET};
  EXPECT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 1, &mixed, rowset.Put()),
            DB_S_ERRORSOCCURRED);
  EXPECT_TRUE(rowset);
}

}  // namespace
