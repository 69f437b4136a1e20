#include "ZelLogRowsetData_un.h"

#include <oledberr.h>

#include <algorithm>
#include <array>

#include "OLEDbError.h"
#include "ZelLogFileSequence_un.h"
#include "ZelLogFolder_un.h"
#include "ZelLogProvider_un.h"

EZelLogRowsetData::EZelLogRowsetData(const std::string& text) : EOleError(WideFromCodePage(text), E_UNEXPECTED) {}

namespace {
TZelLogQuery QueryOf(const TOleDbExecParams* request, std::wstring_view folder) {
  if (!request) return WholeTableQuery(L"");
  if (request->Kind == TOleDbExecKind::Command) return ReadZelLogQuery(request->Text, folder);
  return WholeTableQuery(request->TableName);
}

void AddQueryColumns(const TZelLogQuery& query, TOleDbColumns& columns) {
  while (columns.Count() < query.Columns.size()) {
    const TZelLogColumnDef& column = ZelLogColumns()[query.Columns[columns.Count()]];
    columns.AddColumn(column.Name, column.Type, column.Size, column.Flags);
  }
}
}  // namespace

void BuildDataColumns(const TOleDbExecParams* params, TOleDbColumns& columns, std::wstring_view folder) {
  AddQueryColumns(QueryOf(params, folder), columns);
}

namespace {
std::unique_ptr<TOleDbStreamRecord> NewRecord() { return std::make_unique<TZelLogDbRecord>(); }
}  // namespace

TZelLogRowsetData::TZelLogRowsetData(std::wstring folder, std::int64_t maxRows)
    : TOleDbStreamingRowsetData(&NewRecord, {L"ZELLogDb recordsets are not bidirectional.",
                                             L"Bookmarking is not supported.",
                                             L"ZEL Log Provider has no write support."}),
      folder_(std::move(folder)),
      maxRows_(maxRows) {}

TZelLogRowsetData::~TZelLogRowsetData() {
  StopReadAhead();
  if (readerOpened_) {
    std::string ignored;
    reader_->Close(ignored);
  }
}

HRESULT TZelLogRowsetData::Open(TOleDbExecParams* request) {
  if (!request) throw EOleDbException(E_INVALIDARG);
  query_ = QueryOf(request, folder_);
  AddQueryColumns(query_, Columns());
  filter_ = TZelLogRowFilter(query_);
  filtering_ = query_.FiltersRows();
  wholeRows_ = true;
  for (std::size_t i = 0; i < query_.Columns.size(); ++i) wholeRows_ = wholeRows_ && query_.Columns[i] == i;
  std::int64_t rowLimit = query_.Top;
  if (maxRows_ > 0 && (rowLimit < 0 || maxRows_ < rowLimit)) rowLimit = maxRows_;
  SetRowLimit(rowLimit);
  const std::wstring& tableName = query_.TableName;
  CheckTableName(tableName);
  reader_ = std::make_unique<TLogFileReader>();
  reader_->SetReadOptions({ZelLogReadFields(query_), query_.TimeFrom, query_.TimeTo});
  readerOpened_ = true;
  if (IsTablePattern(tableName)) {
    files_ = std::make_unique<TZelLogFileSequence>(folder_, tableName);
  } else if (TZelLogOpenFailure failure = OpenLogFile(*reader_, folder_ + tableName, tableName)) {
    throw EOleError(failure.Text, failure.Code);
  }
  // Reading a line touches only the reader, the file list and the filter.
  AllowReadAhead();
  return S_OK;
}

bool TZelLogRowsetData::AtEndOfSource() const {
  if (!reader_) return true;
  return files_ ? files_->AtEnd(*reader_) : reader_->Eof();
}

bool TZelLogRowsetData::ReadNextRecord(TOleDbStreamRecord& base, bool wanted) {
  auto& record = static_cast<TZelLogDbRecord&>(base);
  // The error goes straight into the record: reading ahead writes nothing of
  // this object, whose fields the consumer's thread reads at every row.
  std::string& errorText = record.PendingError;
  errorText.clear();
  const bool produced =
      files_ ? files_->ReadRecord(*reader_, record.Parsed, errorText) : reader_->ReadRecord(record.Parsed, errorText);
  record.LogFile = files_ ? &files_->CurrentName() : nullptr;
  // A directive or a skipped line is no row; a line that could not be read
  // is one, whose values fail with its error.
  if (!produced && errorText.empty()) return false;
  // A row that could not be read passes any filter: its values are unknown.
  if (produced && filtering_ && !filter_.Passes(record.Parsed, record.LogFile)) return false;
  if (produced && wanted) record.Complete();
  return true;
}

bool TZelLogRowsetData::RecordValues(const TOleDbStreamRecord& base, std::span<TOleDbColumnValue> values) {
  const auto& record = static_cast<const TZelLogDbRecord&>(base);
  if (!record.PendingError.empty()) throw EZelLogRowsetData(record.PendingError);
  if (wholeRows_ && values.size() >= ZelLogColumnCount) {
    ZelLogRecordValues(record, values);
    return true;
  }
  std::array<TOleDbColumnValue, ZelLogPatternColumnCount> all;
  ZelLogRecordValues(record, all);
  const std::size_t count = std::min(values.size(), query_.Columns.size());
  for (std::size_t i = 0; i < count; ++i) values[i] = all[query_.Columns[i]];
  return true;
}

TOleDbColumnValue TZelLogRowsetData::HeldValue(std::int32_t rowValue, const TOleDbColumn& column, bool stream) {
  const std::span<const TOleDbColumnValue> values = GetRowValues(TOleDbDataMode::Current, rowValue);
  const TZelLogColumnDef* definition =
      column.Index < query_.Columns.size() ? &ZelLogColumns()[query_.Columns[column.Index]] : nullptr;
  if (stream && (!definition || (definition->Type != DBTYPE_STR && definition->Type != DBTYPE_WSTR)))
    NotImplemented(L"TZelLogRowsetData.GetColumnBlobStream");
  if (!definition || column.Index >= values.size()) NotImplemented(L"TZelLogRowsetData.GetColumnReadBuffer");
  return values[column.Index];
}

void TZelLogRowsetData::GetColumnReadBuffer(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn& column,
                                            void*& data, DBLENGTH& length, bool&) {
  const TOleDbColumnValue value = HeldValue(rowValue, column, false);
  data = const_cast<void*>(value.Data);
  length = value.Length;
}

std::unique_ptr<TOleDbByteStream> TZelLogRowsetData::GetColumnBlobStream(TOleDbDataMode, std::int32_t rowValue,
                                                                         const TOleDbColumn& column,
                                                                         TOleDbBlobAccess, void*) {
  const TOleDbColumnValue value = HeldValue(rowValue, column, true);
  return std::make_unique<TOleDbByteStream>(value.Data, value.Length);
}

void TZelLogDbRowset::InitProperties() {
  TOleDbRowset::InitProperties();
  TOleDbStreamingRowsetData::DeclareForwardOnly(PropertySets());
  TOleDbStreamingRowsetData::DeclareRowLimit(PropertySets());
}

void TZelLogDbRowset::CreateRowsetData(TOleDbExecParams&) {
  TOleDbVariant maxRows;
  PropertySets().GetValue(DBPROPSET_ROWSET, DBPROP_MAXROWS, maxRows.Get());
  const std::int64_t limit = maxRows.Get().vt == VT_I4 ? maxRows.Get().lVal : 0;
  TComPtr<TZelLogRowsetData> data = MakeComObject<TZelLogRowsetData>(TZelLogDbProvider::FolderOf(*this), limit);
  AttachData(data.Get());
  SetCapabilities(OleDbCapabilityNotify);
}

std::unique_ptr<TOleDbByteStream> TSimpleRowsetData2::GetColumnBlobStream(TOleDbDataMode mode, std::int32_t rowValue,
                                                                          const TOleDbColumn& column,
                                                                          TOleDbBlobAccess access, void* data) {
  if (column.DataType != DBTYPE_WSTR && column.DataType != DBTYPE_STR)
    throw std::runtime_error("Streaming is not implemented for data type " + std::to_string(column.DataType));
  return TSimpleRowsetData::GetColumnBlobStream(mode, rowValue, column, access, data);
}
