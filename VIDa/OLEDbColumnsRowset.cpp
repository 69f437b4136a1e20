#include "OLEDbColumnsRowset.h"

#include <oledberr.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "OLEDbRowset.h"
#include "OLEDbSchemaDefaults.h"
#include "OLEDbSchemaRowset.h"

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

// The metadata rows, held in memory: one fixed-size buffer per row with
// every column at a fixed offset, in the column's own type; cells start NULL.
class TColumnsRowsetData : public TOleDbRowsetData {
public:
  // Fixes the row layout; the columns are complete.
  void InitLayout() {
    const TOleDbColumns& columns = GetColumns();
    offsets_.clear();
    rowSize_ = 0;
    for (std::size_t i = 0; i < columns.Count(); ++i) {
      offsets_.push_back(rowSize_);
      rowSize_ += columns.Items(i).Size;
    }
  }

  void AppendRow() {
    buffer_.resize(buffer_.size() + rowSize_);
    nulls_.resize(nulls_.size() + offsets_.size(), true);
    ++rowCount_;
  }

  // The cell of a column of the last row, no longer NULL.
  void* CellForWrite(std::size_t columnIndex) {
    const std::size_t row = rowCount_ - 1;
    nulls_[row * offsets_.size() + columnIndex] = false;
    return buffer_.data() + row * rowSize_ + offsets_[columnIndex];
  }

  void GetColumnReadBuffer(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH& length, bool& isNull) override {
    if (rowValue < 0 || static_cast<std::size_t>(rowValue) >= rowCount_ || column.Index >= offsets_.size())
      throw EOleDbException(DB_E_BADROWHANDLE);
    const auto row = static_cast<std::size_t>(rowValue);
    isNull = nulls_[row * offsets_.size() + column.Index];
    data = buffer_.data() + row * rowSize_ + offsets_[column.Index];
    length = column.Size;
  }

  TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) override {
    const auto rows = static_cast<std::ptrdiff_t>(rowCount_);
    const auto step = static_cast<std::ptrdiff_t>(std::min<DBCOUNTITEM>(count, rowCount_ + 1));
    switch (kind) {
      case TOleDbMoveKind::Forward: current_ = std::min(current_ + step, rows); break;
      case TOleDbMoveKind::Backward: current_ = std::max<std::ptrdiff_t>(current_ - step, -1); break;
      case TOleDbMoveKind::ToStart: current_ = -1; break;
      case TOleDbMoveKind::ToEnd: current_ = rows; break;
      case TOleDbMoveKind::Stay: break;
    }
    return Position();
  }

  TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) override {
    const TOleDbCursorPosition position = Position();
    if (position == TOleDbCursorPosition::OnRow) handle.SetRowValue(static_cast<std::int32_t>(current_));
    return position;
  }

private:
  TOleDbCursorPosition Position() const noexcept {
    if (current_ >= static_cast<std::ptrdiff_t>(rowCount_)) return TOleDbCursorPosition::AfterLast;
    if (current_ < 0) return TOleDbCursorPosition::BeforeFirst;
    return TOleDbCursorPosition::OnRow;
  }

  std::vector<std::size_t> offsets_;
  std::size_t rowSize_ = 0;
  std::vector<std::byte> buffer_;
  std::vector<bool> nulls_;
  std::size_t rowCount_ = 0;
  std::ptrdiff_t current_ = -1;
};

template <class T>
void WriteCell(TColumnsRowsetData& data, std::size_t columnIndex, T value) {
  memcpy(data.CellForWrite(columnIndex), &value, sizeof value);
}

// Zero-terminated, cut to the cell's declared size.
void WriteText(TColumnsRowsetData& data, const TOleDbColumn& cell, std::wstring_view text) {
  const std::size_t characters = std::min<std::size_t>(text.size(), cell.Size / sizeof(wchar_t) - 1);
  auto* target = static_cast<wchar_t*>(data.CellForWrite(cell.Index));
  memcpy(target, text.data(), characters * sizeof(wchar_t));
  target[characters] = L'\0';
}

bool HasGuid(DBKIND kind) noexcept { return kind != DBKIND_NAME && kind != DBKIND_PROPID; }

void AddMetadataRow(TColumnsRowsetData& data, const TOleDbColumn& column, const TOleDbColumn* baseColumnName) {
  const TOleDbColumns& meta = data.GetColumns();
  data.AppendRow();
  WriteText(data, meta.Items(MetaIdName), column.Name);
  if (!column.ColumnID.IsEmpty()) {
    const DBKIND kind = column.ColumnID.DBKind();
    if (HasGuid(kind)) WriteCell(data, MetaGuid, column.ColumnID.Guid);
    if (DBIDHasPropID(kind)) WriteCell<ULONG>(data, MetaPropId, column.ColumnID.PropID);
  }
  WriteText(data, meta.Items(MetaName), column.Name);
  WriteCell<ULONG>(data, MetaNumber, column.Ordinal);
  WriteCell<USHORT>(data, MetaType, column.DataType);
  WriteCell<ULONG>(data, MetaColumnSize, column.ReportedSize());
  WriteCell<USHORT>(data, MetaPrecision, column.Precision);
  WriteCell<SHORT>(data, MetaScale, column.Scale);
  WriteCell<ULONG>(data, MetaFlags, column.Flags);
  if (baseColumnName) WriteText(data, *baseColumnName, column.Name);
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

  TComPtr<TColumnsRowsetData> data = MakeComObject<TColumnsRowsetData>();
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
  TComPtr<IUnknown> rowset;
  CreateRowsetOverData(data.Get(), *RowsetClass, pUnkOuter, riid, rowset.Put());
  TComPtr<IOleDbRowsetInit> init;
  OleDbCheck(rowset->QueryInterface(IID_IOleDbRowsetInit, init.PutVoid()));
  // A failure (DB_E_ERRORSOCCURRED included) is raised and the rowset goes
  // with the smart pointers: the consumer gets no object it would not free.
  HRESULT status = S_OK;
  init->SetRowsetProperties(cPropertySets, rgPropertySets, true, status);
  init.Reset();
  *ppColRowset = rowset.Detach();
  return status;
}
