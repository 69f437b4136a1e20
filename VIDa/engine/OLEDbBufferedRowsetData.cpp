#include "OLEDbBufferedRowsetData.h"

#include <oledberr.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "OLEDbAccessor.h"
#include "OLEDbDataConvert.h"
#include "OLEDbError.h"
#include "OLEDbIndexCursor.h"
#include "OLEDbStoredLength.h"

namespace {
constexpr std::size_t RowBufferAlignment = 16;
constexpr std::int64_t SlotAlignment = 8;
constexpr std::int64_t MaxInt32 = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void RaiseOverflow() { throw EOleError(L"Integer overflow", E_UNEXPECTED); }

std::int64_t AlignUp(std::int64_t value, std::int64_t alignment) noexcept {
  return (value + alignment - 1) / alignment * alignment;
}

bool HoldsOwnedValue(DBTYPE type) noexcept { return type == DBTYPE_VARIANT || type == DBTYPE_BSTR; }

// Types a VARIANT holds by value under the same type code.
bool IsAutomationType(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_I8:
    case DBTYPE_UI8:
    case DBTYPE_R4:
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DATE:
    case DBTYPE_BOOL:
    case DBTYPE_DECIMAL:
    case DBTYPE_ERROR:
    case DBTYPE_BSTR:
      return true;
    default:
      return false;
  }
}

// Conversion libraries that lack some variant pairs (wine's has no
// VARIANT to I8, BOOL, UI2 or VARIANT) are completed by the automation
// runtime for the types a VARIANT can hold.
bool IsUnsupportedConversion(HRESULT hr) noexcept { return hr == E_NOTIMPL || hr == DB_E_UNSUPPORTEDCONVERSION; }

HRESULT StoreVariant(const VARIANT& value, DBTYPE type, std::byte* slot, std::size_t size) {
  auto* source = const_cast<VARIANT*>(&value);
  if (type == DBTYPE_VARIANT) return VariantCopy(reinterpret_cast<VARIANT*>(slot), source);
  if (!IsAutomationType(type)) return DB_E_UNSUPPORTEDCONVERSION;
  VARIANT converted;
  VariantInit(&converted);
  const HRESULT hr = VariantChangeType(&converted, source, 0, static_cast<VARTYPE>(type));
  if (FAILED(hr)) return hr;
  if (type == DBTYPE_DECIMAL) {
    DECIMAL decimal = V_DECIMAL(&converted);
    decimal.wReserved = 0;
    std::memcpy(slot, &decimal, sizeof decimal);
  } else {
    // A BSTR's ownership passes to the slot.
    std::memcpy(slot, &V_UI1(&converted), std::min(size, sizeof(LONGLONG)));
  }
  return S_OK;
}

HRESULT LoadVariant(DBTYPE type, const std::byte* slot, std::size_t size, VARIANT& value) {
  if (type == DBTYPE_VARIANT) return VariantCopy(&value, reinterpret_cast<VARIANT*>(const_cast<std::byte*>(slot)));
  if (!IsAutomationType(type)) return DB_E_UNSUPPORTEDCONVERSION;
  // A view of the slot; VariantCopy copies what it points to.
  VARIANT view;
  VariantInit(&view);
  if (type == DBTYPE_DECIMAL)
    std::memcpy(&V_DECIMAL(&view), slot, sizeof(DECIMAL));
  else
    std::memcpy(&V_UI1(&view), slot, std::min(size, sizeof(LONGLONG)));
  V_VT(&view) = static_cast<VARTYPE>(type);
  return VariantCopy(&value, &view);
}

IDataConvert* RequireDataConvert() {
  IDataConvert* convert = GetDataConvert();
  if (!convert) NotImplemented(L"TOleDbRowsetData.ConvertData");
  return convert;
}
}  // namespace

void TRowBufferDeleter::operator()(std::byte* block) const noexcept {
  ::operator delete[](block, std::align_val_t(RowBufferAlignment));
}

void RowsetDataAssertionFailed(const wchar_t* message) { throw EOleError(message, E_UNEXPECTED); }

void RowsetDataRangeError() { throw EOleError(L"Range check error", E_UNEXPECTED); }

TBufferedRowsetData::~TBufferedRowsetData() { ClearRows(); }

// ---- Layout and buffers ----------------------------------------------------------

void TBufferedRowsetData::InitRowLayout() {
  // Buffers of the old layout go with it.
  ClearRows();
  const TOleDbColumns& columns = Columns();
  std::vector<std::int32_t> offsets;
  offsets.reserve(columns.Count());
  std::int64_t end = 0;
  for (std::size_t i = 0; i < columns.Count(); ++i) {
    end = AlignUp(end, SlotAlignment);
    offsets.push_back(static_cast<std::int32_t>(end));
    end += columns.Items(i).Size;
    if (end > MaxInt32) RaiseOverflow();
  }
  const std::int64_t wordCount = std::max<std::int64_t>(1, (static_cast<std::int64_t>(columns.Count()) + 31) / 32);
  const std::int64_t nullWordsOffset = AlignUp(end, SlotAlignment);
  const std::int64_t rowIndexOffset = nullWordsOffset + wordCount * 4;
  const std::int64_t rowSize = AlignUp(rowIndexOffset + 4, SlotAlignment);
  if (rowSize > MaxInt32) RaiseOverflow();

  columnOffsets_ = std::move(offsets);
  nullWordsOffset_ = static_cast<std::int32_t>(nullWordsOffset);
  nullWordCount_ = static_cast<std::int32_t>(wordCount);
  rowIndexOffset_ = static_cast<std::int32_t>(rowIndexOffset);
  rowSize_ = static_cast<std::int32_t>(rowSize);
}

TRowBuffer TBufferedRowsetData::AllocRowBuffer() {
  const auto size = static_cast<std::size_t>(rowSize_);
  TRowBuffer buffer(static_cast<std::byte*>(::operator new[](size, std::align_val_t(RowBufferAlignment))));
  std::memset(buffer.get(), 0, size);
  return buffer;
}

void TBufferedRowsetData::FreeRowBuffer(TRowBuffer buffer) { buffer.reset(); }

void TBufferedRowsetData::InitRowNulls(std::byte* buffer) {
  const std::uint32_t word = NullByDefault ? 0xFFFFFFFFu : 0u;
  std::uint32_t* words = NullWords(buffer);
  std::fill(words, words + nullWordCount_, word);
}

void TBufferedRowsetData::FreeRowData(std::byte* buffer) {
  const TOleDbColumns& columns = Columns();
  const std::size_t count = std::min(columns.Count(), columnOffsets_.size());
  for (std::size_t i = 0; i < count; ++i) ReleaseValue(buffer, i);
}

void TBufferedRowsetData::ReleaseValue(std::byte* buffer, std::size_t columnIndex) const {
  const TOleDbColumn& column = Columns().Items(columnIndex);
  if (!HoldsOwnedValue(column.DataType)) return;
  std::byte* value = ValueAt(buffer, columnIndex);
  if (column.DataType == DBTYPE_VARIANT) {
    VariantClear(reinterpret_cast<VARIANT*>(value));
  } else {
    BSTR text;
    std::memcpy(&text, value, sizeof text);
    SysFreeString(text);
  }
  std::memset(value, 0, column.Size);
}

std::byte* TBufferedRowsetData::RowValueToBuffer(std::int32_t rowValue) const {
  if (rowValue < 0 || rowValue >= rowCount_) throw EOleDbException(DB_E_BADROWHANDLE);
  return rows_[static_cast<std::size_t>(rowValue)].get();
}

void TBufferedRowsetData::ClearRows() {
  for (TRowBuffer& buffer : rows_) {
    FreeRowData(buffer.get());
    FreeRowBuffer(std::move(buffer));
  }
  rows_.clear();
  rowCount_ = 0;
  current_ = -1;
}

void TBufferedRowsetData::SetCapacity(std::int32_t capacity) {
  if (rowSize_ <= 0) RowsetDataAssertionFailed(L"Row buffer size is not initialized");
  if (capacity < 0) RowsetDataRangeError();
  const auto wanted = static_cast<std::size_t>(capacity);
  if (wanted == rows_.size()) return;
  if (wanted < rows_.size()) {
    for (std::size_t i = wanted; i < rows_.size(); ++i) {
      FreeRowData(rows_[i].get());
      FreeRowBuffer(std::move(rows_[i]));
    }
    rows_.resize(wanted);
    // Rows beyond the new capacity no longer exist.
    rowCount_ = std::min(rowCount_, capacity);
    current_ = std::min(current_, rowCount_);
    return;
  }
  if (rows_.capacity() < wanted) rows_.reserve(std::max(wanted, rows_.capacity() * 2));
  for (std::size_t i = rows_.size(); i < wanted; ++i) {
    TRowBuffer buffer = AllocRowBuffer();
    InitRowNulls(buffer.get());
    const auto index = static_cast<std::int32_t>(i);
    std::memcpy(buffer.get() + rowIndexOffset_, &index, sizeof index);
    rows_.push_back(std::move(buffer));
  }
}

std::byte* TBufferedRowsetData::AddRow() {
  if (rowCount_ >= Capacity()) {
    const std::int64_t grown = static_cast<std::int64_t>(Capacity()) + std::max(GrowBy, std::int32_t(1));
    if (grown > MaxInt32) RaiseOverflow();
    SetCapacity(static_cast<std::int32_t>(grown));
  }
  ++rowCount_;
  return rows_[static_cast<std::size_t>(rowCount_ - 1)].get();
}

std::byte* TBufferedRowsetData::CurrentRowBuffer() const {
  if (current_ < 0 || current_ >= rowCount_) RowsetDataAssertionFailed(L"Current row is not available");
  return rows_[static_cast<std::size_t>(current_)].get();
}

std::byte* TBufferedRowsetData::RowBuffer(std::int32_t rowIndex) const {
  if (rowIndex < 0 || rowIndex >= rowCount_) RowsetDataRangeError();
  return rows_[static_cast<std::size_t>(rowIndex)].get();
}

std::int32_t TBufferedRowsetData::RowIndexOfBuffer(const std::byte* buffer) const noexcept {
  std::int32_t index;
  std::memcpy(&index, buffer + rowIndexOffset_, sizeof index);
  return index;
}

std::int32_t TBufferedRowsetData::ColumnOffset(std::size_t columnIndex) const {
  CheckColumnIndex(columnIndex);
  return columnOffsets_[columnIndex];
}

void TBufferedRowsetData::CheckColumnIndex(std::size_t columnIndex) const {
  if (columnIndex >= columnOffsets_.size()) RowsetDataRangeError();
}

std::byte* TBufferedRowsetData::ValueAt(std::byte* buffer, std::size_t columnIndex) const {
  CheckColumnIndex(columnIndex);
  return buffer + columnOffsets_[columnIndex];
}

std::uint32_t* TBufferedRowsetData::NullWords(std::byte* buffer) const noexcept {
  return reinterpret_cast<std::uint32_t*>(buffer + nullWordsOffset_);
}

const std::uint32_t* TBufferedRowsetData::NullWords(const std::byte* buffer) const noexcept {
  return reinterpret_cast<const std::uint32_t*>(buffer + nullWordsOffset_);
}

bool TBufferedRowsetData::IsColumnNull(const std::byte* buffer, std::size_t columnIndex) const {
  CheckColumnIndex(columnIndex);
  return (NullWords(buffer)[columnIndex / 32] >> (columnIndex % 32) & 1u) != 0;
}

void TBufferedRowsetData::SetColumnNull(std::byte* buffer, std::size_t columnIndex, bool isNull) const {
  CheckColumnIndex(columnIndex);
  std::uint32_t& word = NullWords(buffer)[columnIndex / 32];
  const std::uint32_t bit = 1u << (columnIndex % 32);
  word = isNull ? word | bit : word & ~bit;
}

// ---- Variant access ----------------------------------------------------------------

void TBufferedRowsetData::SetValue(std::int32_t rowIndex, std::size_t columnIndex, const VARIANT& value) {
  if (rowCount_ <= 0) RowsetDataAssertionFailed(L"No rows available");
  std::byte* buffer = RowBuffer(rowIndex);
  if (V_VT(&value) == VT_NULL) {
    SetColumnNull(buffer, columnIndex, true);
    return;
  }
  SetColumnNull(buffer, columnIndex, false);
  const TOleDbColumn& column = Columns().Items(columnIndex);
  // The converter writes over the slot; what it held is freed first.
  ReleaseValue(buffer, columnIndex);
  std::byte* slot = ValueAt(buffer, columnIndex);
  DBLENGTH length = column.Size;
  DBSTATUS status = DBSTATUS_S_OK;
  HRESULT hr = RequireDataConvert()->DataConvert(DBTYPE_VARIANT, column.DataType, sizeof(VARIANT), &length,
                                                 const_cast<VARIANT*>(&value), slot, column.Size, DBSTATUS_S_OK,
                                                 &status, 0, 0, 0);
  if (IsUnsupportedConversion(hr)) hr = StoreVariant(value, column.DataType, slot, column.Size);
  if (hr != S_OK) throw EOleError(L"Unable to convert data", hr);
}

void TBufferedRowsetData::GetValue(std::int32_t rowIndex, std::size_t columnIndex, VARIANT& value) const {
  if (rowCount_ <= 0) RowsetDataAssertionFailed(L"No rows available");
  std::byte* buffer = RowBuffer(rowIndex);
  VariantClear(&value);
  if (IsColumnNull(buffer, columnIndex)) {
    V_VT(&value) = VT_NULL;
    return;
  }
  const TOleDbColumn& column = Columns().Items(columnIndex);
  std::byte* data = ValueAt(buffer, columnIndex);
  DBLENGTH length = sizeof(VARIANT);
  DBSTATUS status = DBSTATUS_S_OK;
  HRESULT hr = RequireDataConvert()->DataConvert(column.DataType, DBTYPE_VARIANT,
                                                 StoredLength(column.DataType, data, column.Size), &length, data,
                                                 &value, sizeof(VARIANT), DBSTATUS_S_OK, &status, 0, 0, 0);
  if (IsUnsupportedConversion(hr)) hr = LoadVariant(column.DataType, data, column.Size, value);
  if (hr != S_OK) throw EOleError(L"Unable to convert data", hr);
}

void TBufferedRowsetData::SetValues(std::span<const VARIANT> keys, std::span<const VARIANT> values) {
  if (keys.size() != values.size()) RowsetDataAssertionFailed(L"Keys and values must have the same length");
  for (std::size_t i = 0; i < keys.size(); ++i) SetValueByKey(keys[i], values[i]);
}

std::size_t TBufferedRowsetData::ColumnIndexOfKey(const VARIANT& key) const {
  std::int64_t number;
  switch (V_VT(&key)) {
    case VT_I2:
      number = V_I2(&key);
      break;
    case VT_I4:
      number = V_I4(&key);
      break;
    case VT_BSTR: {
      const TOleDbColumn* column = Columns().FindByName(V_BSTR(&key) ? V_BSTR(&key) : L"");
      if (!column) RowsetDataAssertionFailed(L"Invalid column name");
      return column->Index;
    }
    default:
      throw EOleError(L"Invalid column index", E_FAIL);
  }
  if (number < 0 || static_cast<std::uint64_t>(number) >= Columns().Count()) RowsetDataRangeError();
  return static_cast<std::size_t>(number);
}

void TBufferedRowsetData::GetValueByKey(const VARIANT& key, VARIANT& value) const {
  GetValue(current_, ColumnIndexOfKey(key), value);
}

void TBufferedRowsetData::SetValueByKey(const VARIANT& key, const VARIANT& value) {
  SetValue(current_, ColumnIndexOfKey(key), value);
}

void* TBufferedRowsetData::ValuePointerByKey(const VARIANT& key) const {
  const std::size_t column = ColumnIndexOfKey(key);
  return ValueAt(CurrentRowBuffer(), column);
}

void* TBufferedRowsetData::ValuePointerForWriteByKey(const VARIANT& key) {
  const std::size_t column = ColumnIndexOfKey(key);
  std::byte* buffer = CurrentRowBuffer();
  SetColumnNull(buffer, column, false);
  return ValueAt(buffer, column);
}

// ---- Engine slots ----------------------------------------------------------------

void TBufferedRowsetData::GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue,
                                              const TOleDbColumn& column, void*& data, DBLENGTH& length,
                                              bool& isNull) {
  std::byte* buffer = RowValueToBuffer(rowValue);
  length = column.Size;
  data = ValueAt(buffer, column.Index);
  isNull = IsColumnNull(buffer, column.Index);
}

TOleDbCursorPosition TBufferedRowsetData::Position() const noexcept {
  return IndexCursorPosition(current_, rowCount_);
}

TOleDbCursorPosition TBufferedRowsetData::MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) {
  return MoveIndexCursor(current_, rowCount_, kind, count);
}

TOleDbCursorPosition TBufferedRowsetData::FetchCurrentRow(TOleDbRowHandle& handle) {
  const TOleDbCursorPosition position = Position();
  if (position == TOleDbCursorPosition::OnRow) handle.SetRowValue(current_);
  return position;
}

void* TBufferedRowsetData::GetBookmark() {
  const TOleDbColumn* bookmark = Columns().BookmarkColumn();
  if (!bookmark) RowsetDataAssertionFailed(L"Bookmark column is not available");
  return ValueAt(CurrentRowBuffer(), bookmark->Index);
}

void TBufferedRowsetData::FreeBookmark(void* bookmark) {}

std::unique_ptr<TOleDbByteStream> TBufferedRowsetData::GetColumnBlobStream(TOleDbDataMode mode,
                                                                           std::int32_t rowValue,
                                                                           const TOleDbColumn& column,
                                                                           TOleDbBlobAccess access, void* data) {
  if (access != TOleDbBlobAccess::Read || !data) return nullptr;
  const auto* value = static_cast<const std::byte*>(data);
  if (column.DataType == DBTYPE_BSTR) {
    BSTR text;
    std::memcpy(&text, value, sizeof text);
    return std::make_unique<TOleDbByteStream>(text, SysStringByteLen(text));
  }
  return std::make_unique<TOleDbByteStream>(value, StoredLength(column.DataType, value, column.Size));
}

bool TBufferedRowsetData::SetColumnValue(void* pData, TOleDbRowHandle& handle, DBCOUNTITEM bindingIndex,
                                         const TOleDbAccessor& accessor, const TOleDbColumn& column) {
  const DBBINDING& binding = accessor.Binding(bindingIndex);
  DBSTATUS incoming = DBSTATUS_S_OK;
  if (binding.dwPart & DBPART_STATUS)
    std::memcpy(&incoming, static_cast<BYTE*>(pData) + binding.obStatus, sizeof incoming);
  // The engine refuses writes to the bookmark column.
  const bool writesValue = (binding.dwPart & DBPART_VALUE) != 0 && incoming == DBSTATUS_S_OK && !column.IsBookmark();
  std::byte* buffer = RowValueToBuffer(handle.RowValue());
  // A VARIANT or BSTR is freed before the new value takes its slot, so a
  // failed write leaves such a column NULL; any other column keeps its value.
  const bool released = writesValue && HoldsOwnedValue(column.DataType);
  if (released) ReleaseValue(buffer, column.Index);
  const bool ok = TOleDbRowsetData::SetColumnValue(pData, handle, bindingIndex, accessor, column);
  if (ok ? writesValue : released) SetColumnNull(buffer, column.Index, !ok);
  return ok;
}

void TBufferedRowsetData::SetColumnStatus(std::int32_t rowValue, const TOleDbColumn& column, DBSTATUS& status,
                                          TOleDbColumnStatusKind kind) {
  std::byte* buffer = RowValueToBuffer(rowValue);
  if (kind == TOleDbColumnStatusKind::SetNull) {
    SetColumnNull(buffer, column.Index, true);
    return;
  }
  ReleaseValue(buffer, column.Index);
  std::memset(ValueAt(buffer, column.Index), 0, column.Size);
  SetColumnNull(buffer, column.Index, NullByDefault);
}
