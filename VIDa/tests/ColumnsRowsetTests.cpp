#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "OLEDbFactory.h"
#include "OLEDbRowset.h"
#include "OLEDbSchemaRowset.h"
#include "TestProvider.h"

namespace {

// {8D1C6F30-49B2-4E07-9A15-2C7E3B0F5D11}
constexpr GUID KeyedColumnGuid = {0x8d1c6f30, 0x49b2, 0x4e07, {0x9a, 0x15, 0x2c, 0x7e, 0x3b, 0x0f, 0x5d, 0x11}};

DBID PropIdColumn(const GUID& guid, ULONG propid) {
  DBID id = {};
  id.uGuid.guid = guid;
  id.eKind = DBKIND_GUID_PROPID;
  id.uName.ulPropid = propid;
  return id;
}

// Columns only; a provider's own metadata data when OwnMetadata is set.
class TColumnsOnlyData : public TOleDbRowsetData {
public:
  void GetColumnReadBuffer(TOleDbDataMode, std::int32_t, const TOleDbColumn&, void*&, DBLENGTH&,
                           bool& isNull) override {
    isNull = true;
  }
  TOleDbCursorPosition MoveCursor(TOleDbMoveKind, DBCOUNTITEM) override { return TOleDbCursorPosition::AfterLast; }
  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle&) override { return TOleDbCursorPosition::AfterLast; }
  void GetColumnsRowsetData(std::span<const DBID> requested, TComPtr<IOleDbRowsetData>& data) override {
    RequestedCount = requested.size();
    data = OwnMetadata;
  }

  TComPtr<IOleDbRowsetData> OwnMetadata;
  std::size_t RequestedCount = 0;
};

TComPtr<TColumnsOnlyData> SampleData() {
  TComPtr<TColumnsOnlyData> data = MakeComObject<TColumnsOnlyData>();
  data->Columns->AddColumn(L"ID", DBTYPE_I4, 4);
  data->Columns->AddColumn(L"NAME", DBTYPE_WSTR, 40, DBCOLUMNFLAGS_MAYBENULL);
  TOleDbColumn& keyed = data->Columns->AddColumn(L"KEYED", DBTYPE_NUMERIC, 0, 0, 12, 3);
  keyed.ColumnID.Assign(PropIdColumn(KeyedColumnGuid, 7));
  data->Columns->AddColumn(L"TEXT", DBTYPE_WSTR, 2000, DBCOLUMNFLAGS_ISLONG);
  return data;
}

const TOleDbClass& SchemaRowsetClassForTests() {
  static const std::unique_ptr<TComObjectFactory> factory =
      RegisterInternalClass(ComServer(), &OleDbClassOf<TOleDbSchemaRowset>());
  return OleDbClassOf<TOleDbSchemaRowset>();
}

TComPtr<IColumnsRowset> RowsetOver(IOleDbRowsetData* data) {
  TComPtr<IUnknown> rowset;
  CreateRowsetOverData(data, SchemaRowsetClassForTests(), nullptr, IID_IUnknown, rowset.Put());
  TComPtr<IColumnsRowset> columnsRowset;
  rowset->QueryInterface(IID_IColumnsRowset, columnsRowset.PutVoid());
  return columnsRowset;
}

struct TCell {
  DBSTATUS Status = DBSTATUS_E_UNAVAILABLE;
  std::wstring Text;
  LONGLONG Number = 0;
  GUID Guid = GUID_NULL;
};
using TMetadataRow = std::map<std::wstring, TCell>;

struct TMetadata {
  std::vector<std::wstring> ColumnNames;
  std::vector<TMetadataRow> Rows;
};

// Every column of the metadata rowset but DBCOLUMN_TYPEINFO, in its own type.
TMetadata ReadMetadata(IUnknown* metadataRowset) {
  TMetadata result;
  TComPtr<IColumnsInfo> info;
  EXPECT_EQ(S_OK, metadataRowset->QueryInterface(IID_IColumnsInfo, info.PutVoid()));
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* names = nullptr;
  EXPECT_EQ(S_OK, info->GetColumnInfo(&count, &columns, &names));

  constexpr DBBYTEOFFSET Stride = 288;
  std::vector<DBBINDING> bindings;
  for (DBORDINAL i = 0; i < count; ++i) {
    result.ColumnNames.emplace_back(columns[i].pwszName);
    if (columns[i].wType == DBTYPE_IUNKNOWN) continue;
    DBBINDING binding = {};
    binding.iOrdinal = columns[i].iOrdinal;
    binding.obValue = i * Stride;
    binding.obStatus = i * Stride + 272;
    binding.dwPart = DBPART_VALUE | DBPART_STATUS;
    binding.wType = columns[i].wType;
    binding.cbMaxLen = 256;
    bindings.push_back(binding);
  }
  TComPtr<IAccessor> accessor;
  metadataRowset->QueryInterface(IID_IAccessor, accessor.PutVoid());
  HACCESSOR handle = DB_NULL_HACCESSOR;
  EXPECT_EQ(S_OK, accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), 0, &handle, nullptr));

  TComPtr<IRowset> rowset;
  metadataRowset->QueryInterface(IID_IRowset, rowset.PutVoid());
  std::vector<BYTE> buffer(count * Stride);
  for (;;) {
    DBCOUNTITEM obtained = 0;
    HROW row = DB_NULL_HROW;
    HROW* rows = &row;
    const HRESULT fetched = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows);
    if (obtained == 0) {
      EXPECT_EQ(DB_S_ENDOFROWSET, fetched);
      break;
    }
    std::fill(buffer.begin(), buffer.end(), BYTE(0));
    EXPECT_EQ(S_OK, rowset->GetData(row, handle, buffer.data()));
    TMetadataRow values;
    for (const DBBINDING& binding : bindings) {
      const BYTE* value = buffer.data() + binding.obValue;
      TCell cell;
      memcpy(&cell.Status, buffer.data() + binding.obStatus, sizeof(DBSTATUS));
      switch (binding.wType) {
        case DBTYPE_WSTR: cell.Text = reinterpret_cast<const wchar_t*>(value); break;
        case DBTYPE_GUID: memcpy(&cell.Guid, value, sizeof(GUID)); break;
        case DBTYPE_I2: cell.Number = *reinterpret_cast<const SHORT*>(value); break;
        case DBTYPE_UI2:
        case DBTYPE_BOOL: cell.Number = *reinterpret_cast<const USHORT*>(value); break;
        case DBTYPE_UI8: cell.Number = *reinterpret_cast<const LONGLONG*>(value); break;
        default: cell.Number = *reinterpret_cast<const LONG*>(value); break;
      }
      values[result.ColumnNames[binding.obValue / Stride]] = cell;
    }
    result.Rows.push_back(std::move(values));
    EXPECT_EQ(S_OK, rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr));
  }
  for (DBORDINAL i = 0; i < count; ++i) DBIDRelease(columns[i].columnid);
  CoTaskMemFree(columns);
  CoTaskMemFree(names);
  accessor->ReleaseAccessor(handle, nullptr);
  return result;
}

const std::vector<std::wstring> StandardNames = {
    L"DBCOLUMN_IDNAME",     L"DBCOLUMN_GUID",      L"DBCOLUMN_PROPID",    L"DBCOLUMN_NAME",
    L"DBCOLUMN_NUMBER",     L"DBCOLUMN_TYPE",      L"DBCOLUMN_TYPEINFO",  L"DBCOLUMN_COLUMNSIZE",
    L"DBCOLUMN_PRECISION",  L"DBCOLUMN_SCALE",     L"DBCOLUMN_FLAGS",
};

TComPtr<IUnknown> GetColumnsRowset(IColumnsRowset* columnsRowset, DBORDINAL cOptColumns = 0,
                                   const DBID* rgOptColumns = nullptr) {
  TComPtr<IUnknown> metadata;
  EXPECT_EQ(S_OK, columnsRowset->GetColumnsRowset(nullptr, cOptColumns, rgOptColumns, IID_IRowset, 0, nullptr,
                                                  metadata.Put()));
  return metadata;
}

}  // namespace

TEST(ColumnsRowsetContent, StandardColumnsAndOneRowPerColumn) {
  TComPtr<TColumnsOnlyData> data = SampleData();
  TComPtr<IUnknown> metadataRowset = GetColumnsRowset(RowsetOver(data.Get()).Get());
  ASSERT_TRUE(metadataRowset);
  const TMetadata metadata = ReadMetadata(metadataRowset.Get());
  EXPECT_EQ(StandardNames, metadata.ColumnNames);
  ASSERT_EQ(4u, metadata.Rows.size());

  const TMetadataRow& id = metadata.Rows[0];
  EXPECT_EQ(L"ID", id.at(L"DBCOLUMN_IDNAME").Text);
  EXPECT_EQ(L"ID", id.at(L"DBCOLUMN_NAME").Text);
  EXPECT_EQ(1, id.at(L"DBCOLUMN_NUMBER").Number);
  EXPECT_EQ(DBTYPE_I4, id.at(L"DBCOLUMN_TYPE").Number);
  EXPECT_EQ(4, id.at(L"DBCOLUMN_COLUMNSIZE").Number);
  EXPECT_EQ(DBCOLUMNFLAGS_ISFIXEDLENGTH, id.at(L"DBCOLUMN_FLAGS").Number);
  // A column without an identifier has neither GUID nor property ID.
  EXPECT_EQ(DBSTATUS_S_ISNULL, id.at(L"DBCOLUMN_GUID").Status);
  EXPECT_EQ(DBSTATUS_S_ISNULL, id.at(L"DBCOLUMN_PROPID").Status);

  EXPECT_EQ(20, metadata.Rows[1].at(L"DBCOLUMN_COLUMNSIZE").Number) << "wide text in characters";
  EXPECT_EQ(DBCOLUMNFLAGS_MAYBENULL, metadata.Rows[1].at(L"DBCOLUMN_FLAGS").Number);

  const TMetadataRow& keyed = metadata.Rows[2];
  EXPECT_EQ(DBSTATUS_S_OK, keyed.at(L"DBCOLUMN_GUID").Status);
  EXPECT_TRUE(IsEqualGUID(KeyedColumnGuid, keyed.at(L"DBCOLUMN_GUID").Guid));
  EXPECT_EQ(7, keyed.at(L"DBCOLUMN_PROPID").Number);
  EXPECT_EQ(12, keyed.at(L"DBCOLUMN_PRECISION").Number);
  EXPECT_EQ(3, keyed.at(L"DBCOLUMN_SCALE").Number);
  EXPECT_EQ(19, keyed.at(L"DBCOLUMN_COLUMNSIZE").Number);

  EXPECT_EQ(0xFFFFFFFF, static_cast<ULONG>(metadata.Rows[3].at(L"DBCOLUMN_COLUMNSIZE").Number));
}

TEST(ColumnsRowsetContent, OptionalColumnsAsRequested) {
  TComPtr<TColumnsOnlyData> data = SampleData();
  TComPtr<IColumnsRowset> columnsRowset = RowsetOver(data.Get());
  const DBID unknown = PropIdColumn(KeyedColumnGuid, 99);
  // Unknown, standard and repeated identifiers add nothing.
  const DBID requested[] = {DBCOLUMN_BASECOLUMNNAME, unknown, DBCOLUMN_ISUNIQUE, DBCOLUMN_NAME,
                            DBCOLUMN_BASECOLUMNNAME};
  TComPtr<IUnknown> metadataRowset = GetColumnsRowset(columnsRowset.Get(), 5, requested);
  ASSERT_TRUE(metadataRowset);
  EXPECT_EQ(5u, data->RequestedCount) << "the data was asked first";
  const TMetadata metadata = ReadMetadata(metadataRowset.Get());
  std::vector<std::wstring> expected = StandardNames;
  expected.push_back(L"DBCOLUMN_BASECOLUMNNAME");
  expected.push_back(L"DBCOLUMN_ISUNIQUE");
  EXPECT_EQ(expected, metadata.ColumnNames);
  ASSERT_EQ(4u, metadata.Rows.size());
  EXPECT_EQ(L"KEYED", metadata.Rows[2].at(L"DBCOLUMN_BASECOLUMNNAME").Text);
  EXPECT_EQ(DBSTATUS_S_ISNULL, metadata.Rows[2].at(L"DBCOLUMN_ISUNIQUE").Status);

  // The metadata columns carry their published identifiers.
  TComPtr<IColumnsInfo> info;
  metadataRowset->QueryInterface(IID_IColumnsInfo, info.PutVoid());
  DBORDINAL ordinals[2] = {};
  const DBID lookup[] = {DBCOLUMN_BASECOLUMNNAME, DBCOLUMN_TYPE};
  EXPECT_EQ(S_OK, info->MapColumnIDs(2, lookup, ordinals));
  EXPECT_EQ(12u, ordinals[0]);
  EXPECT_EQ(6u, ordinals[1]);
}

TEST(ColumnsRowsetContent, TheDataMayBuildItsOwnMetadata) {
  TComPtr<TColumnsOnlyData> data = SampleData();
  TComPtr<TColumnsOnlyData> own = MakeComObject<TColumnsOnlyData>();
  own->Columns->AddColumn(L"OWN", DBTYPE_I4, 4);
  data->OwnMetadata = TComPtr<IOleDbRowsetData>(own.Get());
  TComPtr<IUnknown> metadataRowset = GetColumnsRowset(RowsetOver(data.Get()).Get());
  ASSERT_TRUE(metadataRowset);
  const TMetadata metadata = ReadMetadata(metadataRowset.Get());
  EXPECT_EQ(std::vector<std::wstring>{L"OWN"}, metadata.ColumnNames);
  EXPECT_TRUE(metadata.Rows.empty());
}

TEST(ColumnsRowsetRequest, PropertiesApplyToTheNewRowset) {
  TComPtr<TColumnsOnlyData> data = SampleData();
  TComPtr<IColumnsRowset> columnsRowset = RowsetOver(data.Get());
  DBPROP property = {};
  property.dwPropertyID = DBPROP_IRowsetIndex;  // not a property of these rowsets
  property.dwOptions = DBPROPOPTIONS_REQUIRED;
  DBPROPSET set = {&property, 1, DBPROPSET_ROWSET};

  IUnknown* metadata = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(DB_E_ERRORSOCCURRED,
            columnsRowset->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowset, 1, &set, &metadata));
  EXPECT_EQ(nullptr, metadata) << "a failed call hands out no rowset";
  EXPECT_EQ(DBPROPSTATUS_NOTSUPPORTED, property.dwStatus);

  // One property set and one optional one refused: a warning and a rowset.
  DBPROP properties[2] = {};
  properties[0].dwPropertyID = DBPROP_CANHOLDROWS;
  properties[0].dwOptions = DBPROPOPTIONS_REQUIRED;
  V_VT(&properties[0].vValue) = VT_BOOL;
  V_BOOL(&properties[0].vValue) = VARIANT_TRUE;
  properties[1].dwPropertyID = DBPROP_IRowsetIndex;
  properties[1].dwOptions = DBPROPOPTIONS_OPTIONAL;
  DBPROPSET mixed = {properties, 2, DBPROPSET_ROWSET};
  ASSERT_EQ(DB_S_ERRORSOCCURRED,
            columnsRowset->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowsetInfo, 1, &mixed, &metadata));
  ASSERT_NE(nullptr, metadata);
  TComPtr<IRowsetInfo> info = TComPtr<IRowsetInfo>::Attach(static_cast<IRowsetInfo*>(metadata));
  DBPROPID id = DBPROP_CANHOLDROWS;
  DBPROPIDSET request = {&id, 1, DBPROPSET_ROWSET};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(S_OK, info->GetProperties(1, &request, &count, &sets));
  EXPECT_EQ(VARIANT_TRUE, V_BOOL(&sets[0].rgProperties[0].vValue));
  CoTaskMemFree(sets[0].rgProperties);
  CoTaskMemFree(sets);

  // Made over existing data: no creator to report.
  IUnknown* specification = nullptr;
  EXPECT_EQ(S_FALSE, info->GetSpecification(IID_IUnknown, &specification));
}

TEST(ColumnsRowsetRequest, BadArgumentsAreRefused) {
  TComPtr<TColumnsOnlyData> data = SampleData();
  TComPtr<IColumnsRowset> columnsRowset = RowsetOver(data.Get());
  EXPECT_EQ(E_INVALIDARG, columnsRowset->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowset, 0, nullptr, nullptr));
  IUnknown* metadata = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(E_INVALIDARG, columnsRowset->GetColumnsRowset(nullptr, 2, nullptr, IID_IRowset, 0, nullptr, &metadata));
  EXPECT_EQ(nullptr, metadata);

  TTestOuter* outer = new TTestOuter;
  metadata = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(DB_E_NOAGGREGATION, columnsRowset->GetColumnsRowset(outer, 0, nullptr, IID_IRowset, 0, nullptr, &metadata));
  EXPECT_EQ(nullptr, metadata);
  ASSERT_EQ(S_OK, columnsRowset->GetColumnsRowset(outer, 0, nullptr, IID_IUnknown, 0, nullptr, &metadata));
  outer->SetInner(metadata);
  TComPtr<IRowset> rowset;
  EXPECT_EQ(S_OK, outer->QueryInterface(IID_IRowset, rowset.PutVoid()));
  rowset.Reset();
  outer->Release();
}
