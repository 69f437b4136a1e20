#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstddef>
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

// Columns without rows; hands out OwnMetadata as its own metadata data.
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

TComPtr<IColumnsRowset> SampleRowset(TComPtr<TColumnsOnlyData>* dataOut = nullptr) {
  static const std::unique_ptr<TComObjectFactory> factory =
      RegisterInternalClass(ComServer(), &OleDbClassOf<TOleDbSchemaRowset>());
  TComPtr<TColumnsOnlyData> data = MakeComObject<TColumnsOnlyData>();
  data->Columns->AddColumn(L"ID", DBTYPE_I4, 4);
  data->Columns->AddColumn(L"NAME", DBTYPE_WSTR, 40, DBCOLUMNFLAGS_MAYBENULL);
  data->Columns->AddColumn(L"KEYED", DBTYPE_NUMERIC, 0, 0, 12, 3).ColumnID.Assign(PropIdColumn(KeyedColumnGuid, 7));
  data->Columns->AddColumn(L"TEXT", DBTYPE_WSTR, 2000, DBCOLUMNFLAGS_ISLONG);
  TComPtr<IUnknown> rowset;
  CreateRowsetOverData(data.Get(), OleDbClassOf<TOleDbSchemaRowset>(), nullptr, IID_IUnknown, rowset.Put());
  if (dataOut) *dataOut = data;
  TComPtr<IColumnsRowset> columnsRowset;
  rowset->QueryInterface(IID_IColumnsRowset, columnsRowset.PutVoid());
  return columnsRowset;
}

// A cell as text (NULL reads as "<null>"), by column name.
using TMetadataRow = std::map<std::wstring, std::wstring>;
struct TMetadata {
  std::vector<std::wstring> ColumnNames;
  std::vector<TMetadataRow> Rows;
};

TMetadata ReadMetadata(const TComPtr<IUnknown>& metadataRowset) {
  TMetadata result;
  TComPtr<IColumnsInfo> info;
  metadataRowset->QueryInterface(IID_IColumnsInfo, info.PutVoid());
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* names = nullptr;
  EXPECT_EQ(S_OK, info->GetColumnInfo(&count, &columns, &names));
  struct TSlot {
    wchar_t Text[128];
    DBSTATUS Status;
  };
  std::vector<DBBINDING> bindings;
  for (DBORDINAL i = 0; i < count; ++i) {
    result.ColumnNames.emplace_back(columns[i].pwszName);
    if (columns[i].wType == DBTYPE_IUNKNOWN) continue;  // DBCOLUMN_TYPEINFO
    DBBINDING binding = {};
    binding.iOrdinal = columns[i].iOrdinal;
    binding.obValue = i * sizeof(TSlot);
    binding.obStatus = i * sizeof(TSlot) + offsetof(TSlot, Status);
    binding.dwPart = DBPART_VALUE | DBPART_STATUS;
    binding.wType = DBTYPE_WSTR;
    binding.cbMaxLen = sizeof(TSlot::Text);
    bindings.push_back(binding);
  }
  CoTaskMemFree(columns);
  CoTaskMemFree(names);
  TComPtr<IAccessor> accessor;
  metadataRowset->QueryInterface(IID_IAccessor, accessor.PutVoid());
  HACCESSOR handle = DB_NULL_HACCESSOR;
  EXPECT_EQ(S_OK, accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), 0, &handle, nullptr));
  TComPtr<IRowset> rowset;
  metadataRowset->QueryInterface(IID_IRowset, rowset.PutVoid());
  std::vector<TSlot> slots(count);
  DBCOUNTITEM obtained = 0;
  HROW row = DB_NULL_HROW;
  HROW* rows = &row;
  while (rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows) == S_OK && obtained == 1) {
    EXPECT_EQ(S_OK, rowset->GetData(row, handle, slots.data()));
    TMetadataRow& values = result.Rows.emplace_back();
    for (const DBBINDING& binding : bindings) {
      const TSlot& slot = slots[binding.obValue / sizeof(TSlot)];
      values[result.ColumnNames[binding.obValue / sizeof(TSlot)]] =
          slot.Status == DBSTATUS_S_ISNULL ? L"<null>" : slot.Text;
    }
    EXPECT_EQ(S_OK, rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr));
  }
  return result;
}

const std::vector<std::wstring> StandardNames = {
    L"DBCOLUMN_IDNAME",    L"DBCOLUMN_GUID",  L"DBCOLUMN_PROPID",   L"DBCOLUMN_NAME",
    L"DBCOLUMN_NUMBER",    L"DBCOLUMN_TYPE",  L"DBCOLUMN_TYPEINFO", L"DBCOLUMN_COLUMNSIZE",
    L"DBCOLUMN_PRECISION", L"DBCOLUMN_SCALE", L"DBCOLUMN_FLAGS",
};

TComPtr<IUnknown> MetadataRowset(const TComPtr<IColumnsRowset>& columnsRowset, DBORDINAL cOptColumns = 0,
                                 const DBID* rgOptColumns = nullptr) {
  TComPtr<IUnknown> metadata;
  EXPECT_EQ(S_OK, columnsRowset->GetColumnsRowset(nullptr, cOptColumns, rgOptColumns, IID_IRowset, 0, nullptr,
                                                  metadata.Put()));
  return metadata;
}

}  // namespace

TEST(ColumnsRowsetContent, StandardColumnsAndOneRowPerColumn) {
  const TMetadata metadata = ReadMetadata(MetadataRowset(SampleRowset()));
  EXPECT_EQ(StandardNames, metadata.ColumnNames);
  ASSERT_EQ(4u, metadata.Rows.size());
  const TMetadataRow expectedId = {
      {L"DBCOLUMN_IDNAME", L"ID"},   {L"DBCOLUMN_GUID", L"<null>"},   {L"DBCOLUMN_PROPID", L"<null>"},
      {L"DBCOLUMN_NAME", L"ID"},     {L"DBCOLUMN_NUMBER", L"1"},      {L"DBCOLUMN_TYPE", L"3"},
      {L"DBCOLUMN_COLUMNSIZE", L"4"}, {L"DBCOLUMN_PRECISION", L"0"},  {L"DBCOLUMN_SCALE", L"0"},
      {L"DBCOLUMN_FLAGS", L"16"},
  };
  EXPECT_EQ(expectedId, metadata.Rows[0]);
  EXPECT_EQ(L"20", metadata.Rows[1].at(L"DBCOLUMN_COLUMNSIZE")) << "wide text in characters";
  EXPECT_EQ(L"{8D1C6F30-49B2-4E07-9A15-2C7E3B0F5D11}", metadata.Rows[2].at(L"DBCOLUMN_GUID"));
  EXPECT_EQ(L"7", metadata.Rows[2].at(L"DBCOLUMN_PROPID"));
  EXPECT_EQ(L"12", metadata.Rows[2].at(L"DBCOLUMN_PRECISION"));
  EXPECT_EQ(L"3", metadata.Rows[2].at(L"DBCOLUMN_SCALE"));
  EXPECT_EQ(L"4294967295", metadata.Rows[3].at(L"DBCOLUMN_COLUMNSIZE")) << "long column";
}

TEST(ColumnsRowsetContent, OptionalColumnsAsRequested) {
  TComPtr<TColumnsOnlyData> data;
  TComPtr<IColumnsRowset> columnsRowset = SampleRowset(&data);
  // Unknown, standard and repeated identifiers add nothing.
  const DBID requested[] = {DBCOLUMN_BASECOLUMNNAME, PropIdColumn(KeyedColumnGuid, 99), DBCOLUMN_ISUNIQUE,
                            DBCOLUMN_NAME, DBCOLUMN_BASECOLUMNNAME};
  TComPtr<IUnknown> metadataRowset = MetadataRowset(columnsRowset, 5, requested);
  EXPECT_EQ(5u, data->RequestedCount) << "the data is asked first";
  const TMetadata metadata = ReadMetadata(metadataRowset);
  std::vector<std::wstring> expected = StandardNames;
  expected.insert(expected.end(), {L"DBCOLUMN_BASECOLUMNNAME", L"DBCOLUMN_ISUNIQUE"});
  EXPECT_EQ(expected, metadata.ColumnNames);
  ASSERT_EQ(4u, metadata.Rows.size());
  EXPECT_EQ(L"KEYED", metadata.Rows[2].at(L"DBCOLUMN_BASECOLUMNNAME"));
  EXPECT_EQ(L"<null>", metadata.Rows[2].at(L"DBCOLUMN_ISUNIQUE"));

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
  TComPtr<TColumnsOnlyData> data;
  TComPtr<IColumnsRowset> columnsRowset = SampleRowset(&data);
  TComPtr<TColumnsOnlyData> own = MakeComObject<TColumnsOnlyData>();
  own->Columns->AddColumn(L"OWN", DBTYPE_I4, 4);
  data->OwnMetadata = TComPtr<IOleDbRowsetData>(own.Get());
  EXPECT_EQ(std::vector<std::wstring>{L"OWN"}, ReadMetadata(MetadataRowset(columnsRowset)).ColumnNames);
}

TEST(ColumnsRowsetRequest, PropertiesApplyToTheNewRowset) {
  TComPtr<IColumnsRowset> columnsRowset = SampleRowset();
  DBPROP properties[2] = {};
  properties[0].dwPropertyID = DBPROP_CANHOLDROWS;
  properties[0].dwOptions = DBPROPOPTIONS_REQUIRED;
  V_VT(&properties[0].vValue) = VT_BOOL;
  V_BOOL(&properties[0].vValue) = VARIANT_TRUE;
  properties[1].dwPropertyID = DBPROP_IRowsetIndex;  // not a property of these rowsets
  properties[1].dwOptions = DBPROPOPTIONS_REQUIRED;
  DBPROPSET set = {properties, 2, DBPROPSET_ROWSET};

  IUnknown* metadata = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(DB_E_ERRORSOCCURRED, columnsRowset->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowset, 1, &set, &metadata));
  EXPECT_EQ(nullptr, metadata) << "a failed call hands out no rowset";
  EXPECT_EQ(DBPROPSTATUS_NOTSUPPORTED, properties[1].dwStatus);

  properties[1].dwOptions = DBPROPOPTIONS_OPTIONAL;
  ASSERT_EQ(DB_S_ERRORSOCCURRED, columnsRowset->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowset, 1, &set, &metadata));
  ASSERT_NE(nullptr, metadata);
  metadata->Release();
}

TEST(ColumnsRowsetRequest, BadArgumentsAreRefused) {
  TComPtr<IColumnsRowset> columnsRowset = SampleRowset();
  EXPECT_EQ(E_INVALIDARG, columnsRowset->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowset, 0, nullptr, nullptr));
  IUnknown* metadata = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(E_INVALIDARG, columnsRowset->GetColumnsRowset(nullptr, 2, nullptr, IID_IRowset, 0, nullptr, &metadata));
  EXPECT_EQ(nullptr, metadata);

  TTestOuter* outer = new TTestOuter;
  EXPECT_EQ(DB_E_NOAGGREGATION, columnsRowset->GetColumnsRowset(outer, 0, nullptr, IID_IRowset, 0, nullptr, &metadata));
  ASSERT_EQ(S_OK, columnsRowset->GetColumnsRowset(outer, 0, nullptr, IID_IUnknown, 0, nullptr, &metadata));
  outer->SetInner(metadata);
  TComPtr<IRowsetInfo> info;
  ASSERT_EQ(S_OK, outer->QueryInterface(IID_IRowsetInfo, info.PutVoid()));
  IUnknown* specification = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(S_FALSE, info->GetSpecification(IID_IUnknown, &specification)) << "made without a creator";
  EXPECT_EQ(nullptr, specification);
  info.Reset();
  outer->Release();
}
