#include "ZelLogRowsetData_un.h"

#include <oledberr.h>

#include "OLEDbError.h"
#include "ZelLogFileSequence_un.h"
#include "ZelLogFolder_un.h"
#include "ZelLogProvider_un.h"

EZelLogRowsetData::EZelLogRowsetData(const std::string& text) : EOleError(WideFromCodePage(text), E_UNEXPECTED) {}

void BuildDataColumns(const TOleDbExecParams* params, TOleDbColumns& columns) {
  const std::size_t count =
      params && IsTablePattern(params->TableName) ? ZelLogPatternColumnCount : ZelLogColumnCount;
  while (columns.Count() < count) {
    const TZelLogColumnDef& column = ZelLogColumns()[columns.Count()];
    columns.AddColumn(column.Name, column.Type, column.Size, column.Flags);
  }
}

namespace {
std::unique_ptr<TOleDbStreamRecord> NewRecord() { return std::make_unique<TZelLogDbRecord>(); }
}  // namespace

TZelLogRowsetData::TZelLogRowsetData(std::wstring folder)
    : TOleDbStreamingRowsetData(&NewRecord, {L"ZELLogDb recordsets are not bidirectional.",
                                             L"Bookmarking is not supported.",
                                             L"ZEL Log Provider has no write support."}),
      folder_(std::move(folder)) {}

TZelLogRowsetData::~TZelLogRowsetData() {
  if (readerOpened_) {
    std::string ignored;
    reader_->Close(ignored);
  }
}

HRESULT TZelLogRowsetData::Open(TOleDbExecParams* request) {
  if (!request) throw EOleDbException(E_INVALIDARG);
  BuildDataColumns(request, Columns());
  CheckTableName(request->TableName);
  reader_ = std::make_unique<TLogFileReader>();
  readerOpened_ = true;
  if (IsTablePattern(request->TableName)) {
    files_ = std::make_unique<TZelLogFileSequence>(folder_, request->TableName);
  } else if (TZelLogOpenFailure failure = OpenLogFile(*reader_, folder_ + request->TableName, request->TableName)) {
    throw EOleError(failure.Text, failure.Code);
  }
  // Records are reused from here on; reserve the error text's storage once.
  errorText_.reserve(256);
  return S_OK;
}

bool TZelLogRowsetData::AtEndOfSource() const {
  if (!reader_) return true;
  return files_ ? files_->AtEnd(*reader_) : reader_->Eof();
}

bool TZelLogRowsetData::ReadNextRecord(TOleDbStreamRecord& base, bool wanted) {
  auto& record = static_cast<TZelLogDbRecord&>(base);
  errorText_.clear();
  const bool produced =
      files_ ? files_->ReadRecord(*reader_, record.Parsed, errorText_) : reader_->ReadRecord(record.Parsed, errorText_);
  record.LogFile = files_ ? &files_->CurrentName() : nullptr;
  // A directive or a skipped line is no row; a line that could not be read
  // is one, whose values fail with its error.
  if (!produced && errorText_.empty()) return false;
  record.PendingError.assign(errorText_);
  if (produced && wanted) record.Complete();
  return true;
}

TZelLogValue TZelLogRowsetData::HeldValue(std::int32_t rowValue, const TOleDbColumn& column, bool stream) {
  const auto& record = static_cast<const TZelLogDbRecord&>(HeldRecord(rowValue));
  if (!record.PendingError.empty()) throw EZelLogRowsetData(record.PendingError);
  const TZelLogColumnDef* definition =
      column.Index < ZelLogColumns().size() ? &ZelLogColumns()[column.Index] : nullptr;
  if (stream && (!definition || (definition->Type != DBTYPE_STR && definition->Type != DBTYPE_WSTR)))
    NotImplemented(L"TZelLogRowsetData.GetColumnBlobStream");
  if (!definition) NotImplemented(L"TZelLogRowsetData.GetColumnReadBuffer");
  return definition->Read(record);
}

void TZelLogRowsetData::GetColumnReadBuffer(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn& column,
                                            void*& data, DBLENGTH& length, bool&) {
  const TZelLogValue value = HeldValue(rowValue, column, false);
  data = const_cast<void*>(value.Data);
  length = value.Length;
}

std::unique_ptr<TOleDbByteStream> TZelLogRowsetData::GetColumnBlobStream(TOleDbDataMode, std::int32_t rowValue,
                                                                         const TOleDbColumn& column,
                                                                         TOleDbBlobAccess, void*) {
  const TZelLogValue value = HeldValue(rowValue, column, true);
  return std::make_unique<TOleDbByteStream>(value.Data, value.Length);
}

void TZelLogDbRowset::InitProperties() {
  TOleDbRowset::InitProperties();
  TOleDbStreamingRowsetData::DeclareForwardOnly(PropertySets());
}

void TZelLogDbRowset::CreateRowsetData(TOleDbExecParams&) {
  TComPtr<TZelLogRowsetData> data = MakeComObject<TZelLogRowsetData>(TZelLogDbProvider::FolderOf(*this));
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
