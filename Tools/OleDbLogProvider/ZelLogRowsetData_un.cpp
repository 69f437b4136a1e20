#include "ZelLogRowsetData_un.h"

#include <oledberr.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "OLEDbError.h"
#include "ZelLogFolder_un.h"

namespace {
struct TColumnDefinition {
  const wchar_t* Name;
  DBTYPE Type;
  ULONG Size;
};

constexpr std::array<TColumnDefinition, ZelLogColumnCount> ColumnDefinitions = {{
    {L"Version", DBTYPE_STR, 50},
    {L"Verbose", DBTYPE_BOOL, 2},
    {L"Class", DBTYPE_STR, 15},
    {L"Server", DBTYPE_STR, 1024},
    {L"Source", DBTYPE_STR, 1024},
    {L"Time", DBTYPE_DATE, 8},
    {L"Action_Reject", DBTYPE_BOOL, 2},
    {L"Action_TagSubject", DBTYPE_BOOL, 2},
    {L"Action_TagHeader", DBTYPE_BOOL, 2},
    {L"Action_Redirect", DBTYPE_BOOL, 2},
    {L"Action_ReplaceAtt", DBTYPE_BOOL, 2},
    {L"Action_RemoveRcpt", DBTYPE_BOOL, 2},
    {L"Action_WhitelistRcpt", DBTYPE_BOOL, 2},
    {L"Severity", DBTYPE_STR, 16},
    {L"FilteringPoint", DBTYPE_STR, 16},
    {L"RelatedIP", DBTYPE_STR, 45},  // the longest IPv6 text, not only IPv4
    {L"MessageID", DBTYPE_STR, 16384},
    {L"Sender", DBTYPE_STR, 1024},
    {L"Recipients", DBTYPE_STR, 16384},
    {L"HeloDomain", DBTYPE_STR, 1024},
    {L"Subject", DBTYPE_WSTR, 16384},
    {L"Message", DBTYPE_STR, 16384},
    {L"LineNr", DBTYPE_I4, 4},
}};

constexpr auto Action0 = static_cast<std::size_t>(TZelLogColumn::ActionReject);

// The single-byte text a text column of record hands out; null for columns
// of other types.
const std::string* TextOf(const TZelLogDbRecord& record, TZelLogColumn column) noexcept {
  const TLogRecord& parsed = record.Parsed;
  switch (column) {
    case TZelLogColumn::Version:
      return &parsed.Version;
    case TZelLogColumn::Class:
      return &EventClassDisplayText(parsed.Class);
    case TZelLogColumn::Severity:
      return &SeverityDisplayText(parsed.Severity);
    case TZelLogColumn::FilteringPoint:
      return &FilteringPointDisplayText(parsed.FilteringPoint);
    case TZelLogColumn::Server:
      return &parsed.Server;
    case TZelLogColumn::Source:
      return &parsed.Source;
    case TZelLogColumn::RelatedIP:
      return &parsed.IP;
    case TZelLogColumn::MessageID:
      return &parsed.MessageID;
    case TZelLogColumn::Sender:
      return &parsed.Sender;
    case TZelLogColumn::Recipients:
      return &parsed.Recipients;
    case TZelLogColumn::HeloDomain:
      return &parsed.HeloDomain;
    case TZelLogColumn::Message:
      return &parsed.Message;
    default:
      return nullptr;
  }
}

std::wstring ClassNameOf(const std::exception& error) {
  if (const auto* logError = dynamic_cast<const ELogError*>(&error)) return WideFromUtf8(logError->ClassName());
  return L"Exception";
}

std::u16string AsU16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::wstring WideFromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}
}  // namespace

EZelLogRowsetData::EZelLogRowsetData(const std::string& text) : EOleError(WideFromAnsi(text), E_UNEXPECTED) {}

void BuildDataColumns(const TOleDbExecParams*, TOleDbColumns& columns) {
  while (columns.Count() < ColumnDefinitions.size()) {
    const TColumnDefinition& definition = ColumnDefinitions[columns.Count()];
    columns.AddColumn(definition.Name, definition.Type, definition.Size);
  }
}

TZelLogRowsetData::TZelLogRowsetData(std::wstring folder) : folder_(std::move(folder)) {}

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
  const std::wstring path = folder_ + request->TableName;
  bool notDiskFile = false;
  if (!TLogFileReader::CheckFingerprint(AsU16(path), &notDiskFile)) {
    if (notDiskFile) RefuseTable(request->TableName, L"is not a file on a disk");
    throw EOleError(L"Could not load file, because it is either not an ZEL Text Log file or cannot be opened.\r\n\r\n"
                    L"File: \"" + path + L"\".",
                    E_UNEXPECTED);
  }
  std::string errorText;
  reader_ = std::make_unique<TLogFileReader>();
  try {
    readerOpened_ = true;
    reader_->Open(AsU16(path), errorText);
  } catch (const std::exception& error) {
    throw EOleError(L"Unexpected error while opening the log file: " + ClassNameOf(error) + L".\r\n" +
                        WideFromUtf8(error.what()),
                    E_UNEXPECTED);
  }
  if (!errorText.empty()) throw EZelLogRowsetData(errorText);
  // Records are reused from here on; reserve the error text's storage once.
  errorText_.reserve(256);
  return S_OK;
}

std::int32_t TZelLogRowsetData::WritableSlot() {
  const TZelLogDbRecord* current = pool_.Record(currentSlot_);
  if (current && current->Holders == 0) return currentSlot_;
  if (spareSlot_ == TZelLogRecordPool::NoSlot) spareSlot_ = pool_.TakeFree();
  return spareSlot_;
}

TOleDbCursorPosition TZelLogRowsetData::MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) {
  // 64 bits: a count near the type's limit must not wrap the target.
  const std::int64_t current = currentIndex_;
  const std::int64_t steps = static_cast<std::int64_t>(std::min<DBCOUNTITEM>(count, INT32_MAX));
  std::int64_t target = current;
  switch (kind) {
    case TOleDbMoveKind::Forward:
      target = current + steps;
      if (knownRowCount_ >= 0) target = std::min<std::int64_t>(target, knownRowCount_);
      break;
    case TOleDbMoveKind::Backward:
      target = std::max<std::int64_t>(current - steps, -1);
      break;
    case TOleDbMoveKind::ToStart:
      target = -1;
      break;
    case TOleDbMoveKind::ToEnd:
      target = knownRowCount_;
      break;
    case TOleDbMoveKind::Stay:
      break;
  }
  if (target < current) NotImplemented(L"ZELLogDb recordsets are not bidirectional.");

  while (target > currentIndex_ && reader_ && !reader_->Eof()) {
    const std::int32_t slot = WritableSlot();
    TZelLogDbRecord& record = *pool_.Record(slot);
    errorText_.clear();
    const bool produced = reader_->ReadRecord(record.Parsed, errorText_);
    if (produced || !errorText_.empty()) {
      ++currentIndex_;
      record.PendingError.assign(errorText_);
      if (produced && currentIndex_ == target) record.Complete();
      if (slot == spareSlot_) spareSlot_ = TZelLogRecordPool::NoSlot;
      currentSlot_ = slot;
    }
  }
  if (knownRowCount_ < 0 && (!reader_ || reader_->Eof())) knownRowCount_ = currentIndex_ + 1;
  // A move that ran out of lines before its target stands after the last
  // row, so the next forward move reports the end again.
  currentIndex_ = static_cast<std::int32_t>(knownRowCount_ >= 0 ? std::min<std::int64_t>(target, knownRowCount_)
                                                                 : target);
  if (currentIndex_ == -1) return TOleDbCursorPosition::BeforeFirst;
  if (knownRowCount_ >= 0 && currentIndex_ >= knownRowCount_) return TOleDbCursorPosition::AfterLast;
  return TOleDbCursorPosition::OnRow;
}

TOleDbCursorPosition TZelLogRowsetData::FetchCurrentRow(TOleDbRowHandle& handle) {
  if (currentIndex_ == -1) return TOleDbCursorPosition::BeforeFirst;
  if (knownRowCount_ >= 0 && currentIndex_ >= knownRowCount_) return TOleDbCursorPosition::AfterLast;
  handle.SetRowValue(currentSlot_);
  return TOleDbCursorPosition::OnRow;
}

void TZelLogRowsetData::RowHandleStateChanged(TOleDbRowHandle& handle, bool active) {
  TZelLogDbRecord* record = pool_.Record(handle.RowValue());
  if (!record) return;
  if (active) {
    ++record->Holders;
  } else if (record->Holders > 0 && --record->Holders == 0 && handle.RowValue() != currentSlot_) {
    pool_.GiveBack(handle.RowValue());
  }
}

const TZelLogDbRecord& TZelLogRowsetData::HeldRecord(std::int32_t rowValue) {
  const TZelLogDbRecord* record = pool_.Record(rowValue);
  if (!record) throw EOleDbException(DB_E_BADROWHANDLE);
  if (!record->PendingError.empty()) throw EZelLogRowsetData(record->PendingError);
  return *record;
}

void TZelLogRowsetData::GetColumnReadBuffer(TOleDbDataMode, std::int32_t rowValue, const TOleDbColumn& column,
                                            void*& data, DBLENGTH& length, bool&) {
  const TZelLogDbRecord& record = HeldRecord(rowValue);
  const auto index = static_cast<TZelLogColumn>(column.Index);
  if (const std::string* text = TextOf(record, index)) {
    data = const_cast<char*>(text->c_str());
    length = text->size();
    return;
  }
  switch (index) {
    case TZelLogColumn::Verbose:
      data = const_cast<VARIANT_BOOL*>(&record.Verbose);
      length = sizeof record.Verbose;
      return;
    case TZelLogColumn::Time:
      data = const_cast<double*>(&record.Time);
      length = sizeof record.Time;
      return;
    case TZelLogColumn::Subject:
      data = const_cast<char16_t*>(record.Parsed.Subject.c_str());
      length = record.Parsed.Subject.size() * sizeof(char16_t);
      return;
    case TZelLogColumn::LineNr:
      data = const_cast<std::int32_t*>(&record.Parsed.LineNr);
      length = sizeof record.Parsed.LineNr;
      return;
    default:
      break;
  }
  const std::size_t action = column.Index - Action0;
  if (column.Index >= Action0 && action < record.Actions.size()) {
    data = const_cast<VARIANT_BOOL*>(&record.Actions[action]);
    length = sizeof(VARIANT_BOOL);
    return;
  }
  NotImplemented(L"TZelLogRowsetData.GetColumnReadBuffer");
}

std::unique_ptr<TOleDbByteStream> TZelLogRowsetData::GetColumnBlobStream(TOleDbDataMode, std::int32_t rowValue,
                                                                         const TOleDbColumn& column,
                                                                         TOleDbBlobAccess, void*) {
  const TZelLogDbRecord& record = HeldRecord(rowValue);
  const auto index = static_cast<TZelLogColumn>(column.Index);
  if (const std::string* text = TextOf(record, index))
    return std::make_unique<TOleDbByteStream>(text->data(), text->size());
  if (index == TZelLogColumn::Subject)
    return std::make_unique<TOleDbByteStream>(record.Parsed.Subject.data(),
                                              record.Parsed.Subject.size() * sizeof(char16_t));
  NotImplemented(L"TZelLogRowsetData.GetColumnBlobStream");
}

void TZelLogRowsetData::GetColumnPointer(std::int32_t, const TOleDbColumn&, void*&, DBLENGTH&) {
  NotImplemented(L"ZEL Log Provider has no write support.");
}

void* TZelLogRowsetData::GetBookmark() { NotImplemented(L"Bookmarking is not supported."); }
void TZelLogRowsetData::GotoBookmark(const void*) { NotImplemented(L"Bookmarking is not supported."); }
void TZelLogRowsetData::FreeBookmark(void*) { NotImplemented(L"Bookmarking is not supported."); }
void TZelLogRowsetData::HashBookmark(const BYTE*, DBHASHVALUE&, DBROWSTATUS&) {
  NotImplemented(L"Bookmarking is not supported.");
}
DBCOUNTITEM TZelLogRowsetData::GetBookmarkRowIndex(const BYTE*) { NotImplemented(L"Bookmarking is not supported."); }

DBCOUNTITEM TZelLogRowsetData::GetRowCount() { return static_cast<DBCOUNTITEM>(static_cast<DBROWCOUNT>(knownRowCount_)); }

void TZelLogRowsetData::SetRowIndex(DBCOUNTITEM index) {
  currentIndex_ = static_cast<std::int32_t>(std::min<DBCOUNTITEM>(index, INT32_MAX));
}

void DeclareForwardOnly(TOleDbPropertySets& sets) {
  VARIANT no;
  VariantInit(&no);
  V_VT(&no) = VT_BOOL;
  V_BOOL(&no) = VARIANT_FALSE;
  for (DBPROPID id : {DBPROP_CANFETCHBACKWARDS, DBPROP_CANSCROLLBACKWARDS}) {
    TOleDbProperty& property = sets.EnsureProperty(DBPROPSET_ROWSET, id);
    property.Flags &= ~DBPROPFLAGS_WRITE;
    sets.PutValue(DBPROPSET_ROWSET, id, no);
  }
}

void TZelLogDbRowset::InitProperties() {
  TOleDbRowset::InitProperties();
  DeclareForwardOnly(PropertySets());
}

void TZelLogDbRowset::CreateRowsetData(TOleDbExecParams&) {
  TComPtr<TZelLogRowsetData> data = MakeComObject<TZelLogRowsetData>(FolderPrefix(DataSourceFolderName(*this)));
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
