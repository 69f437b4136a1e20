#include "OLEDbColumnsRowset.h"

#include <oledberr.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "OLEDbRowset.h"
#include "OLEDbSchemaDefaults.h"
#include "OLEDbSchemaRowset.h"
#include "OLEDbSimpleRowsetData.h"

namespace {
// The columns every metadata rowset has, in this order.
const DBID* const StandardColumnIDs[] = {
    &DBCOLUMN_IDNAME,   &DBCOLUMN_GUID,       &DBCOLUMN_PROPID,    &DBCOLUMN_NAME,
    &DBCOLUMN_NUMBER,   &DBCOLUMN_TYPE,       &DBCOLUMN_TYPEINFO,  &DBCOLUMN_COLUMNSIZE,
    &DBCOLUMN_PRECISION, &DBCOLUMN_SCALE,     &DBCOLUMN_FLAGS,
};
// Their positions.
enum TStandardColumn : std::size_t {
  MetaIdName,
  MetaGuid,
  MetaPropId,
  MetaName,
  MetaNumber,
  MetaType,
  MetaTypeInfo,
  MetaColumnSize,
  MetaPrecision,
  MetaScale,
  MetaFlags,
};

// The cell of a column of the row being filled, no longer NULL.
void* CellForWrite(TSimpleRowsetData& data, std::byte* row, std::size_t columnIndex) {
  data.SetColumnNull(row, columnIndex, false);
  return row + data.ColumnOffset(columnIndex);
}

template <class T>
void WriteCell(TSimpleRowsetData& data, std::byte* row, std::size_t columnIndex, T value) {
  memcpy(CellForWrite(data, row, columnIndex), &value, sizeof value);
}

// Zero-terminated, cut to the cell's declared size.
void WriteText(TSimpleRowsetData& data, std::byte* row, const TOleDbColumn& cell, std::wstring_view text) {
  const std::size_t characters = std::min<std::size_t>(text.size(), cell.Size / sizeof(wchar_t) - 1);
  auto* target = static_cast<wchar_t*>(CellForWrite(data, row, cell.Index));
  memcpy(target, text.data(), characters * sizeof(wchar_t));
  target[characters] = L'\0';
}

bool HasGuid(DBKIND kind) noexcept { return kind != DBKIND_NAME && kind != DBKIND_PROPID; }

void AddMetadataRow(TSimpleRowsetData& data, const TOleDbColumn& column, const TOleDbColumn* baseColumnName) {
  const TOleDbColumns& meta = data.GetColumns();
  std::byte* row = data.AppendRow();
  WriteText(data, row, meta.Items(MetaIdName), column.Name);
  if (!column.ColumnID.IsEmpty()) {
    const DBKIND kind = column.ColumnID.DBKind();
    if (HasGuid(kind)) WriteCell(data, row, MetaGuid, column.ColumnID.Guid);
    if (DBIDHasPropID(kind)) WriteCell<ULONG>(data, row, MetaPropId, column.ColumnID.PropID);
  }
  WriteText(data, row, meta.Items(MetaName), column.Name);
  WriteCell<ULONG>(data, row, MetaNumber, column.Ordinal);
  WriteCell<USHORT>(data, row, MetaType, column.DataType);
  WriteCell<ULONG>(data, row, MetaColumnSize, column.ReportedSize());
  WriteCell<USHORT>(data, row, MetaPrecision, column.Precision);
  WriteCell<SHORT>(data, row, MetaScale, column.Scale);
  WriteCell<ULONG>(data, row, MetaFlags, column.Flags);
  if (baseColumnName) WriteText(data, row, *baseColumnName, column.Name);
}
}  // namespace

TOleDbColumnsRowsetBuilder::TOleDbColumnsRowsetBuilder() : RowsetClass(&OleDbClassOf<TOleDbSchemaRowset>()) {}

TComPtr<IOleDbRowsetData> TOleDbColumnsRowsetBuilder::BuildColumnsRowsetData(const TOleDbColumns& columns,
                                                                              DBORDINAL cOptColumns,
                                                                              const DBID rgOptColumns[]) const {
  if (cOptColumns > 0 && !rgOptColumns) throw EOleDbException(E_INVALIDARG);
  const TOleDbOptionalColumns requested(rgOptColumns, rgOptColumns + cOptColumns);
  if (OnBuildColumnsRowset) {
    TComPtr<IOleDbRowsetData> own;
    OnBuildColumnsRowset(requested, own);
    if (own) return own;
  }

  TComPtr<TSimpleRowsetData> data = MakeComObject<TSimpleRowsetData>();
  // Cells no column metadata fills stay NULL.
  data->NullByDefault = true;
  TOleDbColumns& meta = data->GetColumns();
  for (const DBID* id : StandardColumnIDs) CreateSchemaColumns(OleDbColumnsRowsetGroup, meta, id);
  // A standard or repeated identifier would add a second column of the same
  // name; it is already there.
  for (const DBID& id : requested)
    if (!meta.FindByID(id)) CreateSchemaColumns(OleDbColumnsRowsetGroup, meta, &id);
  data->InitLayout();

  const TOleDbColumn* baseColumnName = meta.FindByID(DBCOLUMN_BASECOLUMNNAME);
  for (std::size_t i = 0; i < columns.Count(); ++i) AddMetadataRow(*data, columns.Items(i), baseColumnName);
  return TComPtr<IOleDbRowsetData>(data.Get());
}

HRESULT TOleDbColumnsRowsetBuilder::GetColumnsRowset(const TOleDbColumns& columns, IUnknown* pUnkOuter,
                                                     DBORDINAL cOptColumns, const DBID rgOptColumns[], REFIID riid,
                                                     ULONG cPropertySets, DBPROPSET rgPropertySets[],
                                                     IUnknown** ppColRowset) const {
  if (!ppColRowset) throw EOleDbException(E_INVALIDARG);
  *ppColRowset = nullptr;
  if (!RowsetClass) NotImplemented(L"BuildSchema handler must be defined");
  CheckAggregation(pUnkOuter, riid);

  TComPtr<IOleDbRowsetData> data = BuildColumnsRowsetData(columns, cOptColumns, rgOptColumns);
  return OpenRowsetOverData(data.Get(), *RowsetClass, pUnkOuter, riid, cPropertySets, rgPropertySets, ppColRowset);
}
