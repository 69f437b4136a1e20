// Reading row values through accessors: per-binding value, length and status,
// conversion and long values.
#include "OLEDbRowsetData.h"

#include <oledberr.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "Diagnostics.h"
#include "OLEDbAccessor.h"
#include "OLEDbDataConvert.h"
#include "OLEDbError.h"
#include "OLEDbStoredLength.h"
#include "OLEDbTypes.h"

namespace {
template <class T>
void StoreAt(void* buffer, DBBYTEOFFSET offset, const T& value) noexcept {
  std::memcpy(static_cast<BYTE*>(buffer) + offset, &value, sizeof(T));
}

// Terminated text into a slot of maxLength bytes: measured up to its first
// zero unit within sourceLength, cut to the room left beside the
// terminator. False when there is not even room for the terminator: the
// converter decides how that fails.
template <class Unit>
inline bool CopyText(const void* source, DBLENGTH sourceLength, void* destination, DBLENGTH maxLength,
              DBLENGTH& destinationLength, DBSTATUS& status) noexcept {
  if (maxLength < sizeof(Unit)) return false;
  const auto* from = static_cast<const Unit*>(source);
  auto* to = static_cast<Unit*>(destination);
  const std::size_t units = static_cast<std::size_t>(sourceLength / sizeof(Unit));
  const std::size_t room = static_cast<std::size_t>((maxLength - sizeof(Unit)) / sizeof(Unit));
  std::size_t measured;
  std::size_t copied;
  if (units <= room) {
    measured = copied = CopyUpToZero(to, from, units);
  } else {
    measured = storedlength_detail::FirstZero(from, units);
    copied = std::min(measured, room);
    std::memcpy(to, from, copied * sizeof(Unit));
  }
  const Unit terminator = 0;
  std::memcpy(to + copied, &terminator, sizeof terminator);
  destinationLength = measured * sizeof(Unit);
  status = copied < measured ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
  return true;
}

void CopyBytes(const void* source, DBLENGTH sourceLength, void* destination, DBLENGTH maxLength,
               DBLENGTH& destinationLength, DBSTATUS& status) noexcept {
  const DBLENGTH copied = std::min(sourceLength, maxLength);
  std::memcpy(destination, source, copied);
  destinationLength = sourceLength;
  status = copied < sourceLength ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
}

// A value of a fixed-size type, mostly 2, 4 or 8 bytes: moves, not a call.
void CopyFixed(const void* source, void* destination, std::size_t size) noexcept {
  switch (size) {
    case 2:
      std::memcpy(destination, source, 2);
      break;
    case 4:
      std::memcpy(destination, source, 4);
      break;
    case 8:
      std::memcpy(destination, source, 8);
      break;
    case 16:
      std::memcpy(destination, source, 16);
      break;
    default:
      std::memcpy(destination, source, size);
  }
}

// How a value reaches a binding of the column's own type without the
// converter; Convert: a binding of another type, through ConvertData.
// Widen: single-byte text to a WSTR, BSTR or VARIANT binding, converted
// here when the converter exists (as ConvertData would), else like Convert.
// Exact: a pair ConvertExactly may convert, tried here first as ConvertData
// would. Recall: a fixed-size value whose answers from the library are kept
// with the binding, replayed here when the value is one of them.
enum class TSameTypeCopy : std::uint8_t { None, Fixed, Text, WideText, Bytes, Convert, Widen, Exact, Recall };

TSameTypeCopy SameTypeCopyOf(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_STR:
      return TSameTypeCopy::Text;
    case DBTYPE_WSTR:
      return TSameTypeCopy::WideText;
    case DBTYPE_BYTES:
      return TSameTypeCopy::Bytes;
    default:
      return IsPlainValueType(type) ? TSameTypeCopy::Fixed : TSameTypeCopy::None;
  }
}

// A value copied into a destination of the same type; text is measured up
// to its terminator within sourceLength. False when the type, or a slot too
// small for any text, needs the converter.
inline bool CopySameType(TSameTypeCopy copy, DBTYPE type, const void* source, void* destination, DBLENGTH sourceLength,
                         DBLENGTH maxLength, DBLENGTH& destinationLength, DBSTATUS& status) noexcept {
  switch (copy) {
    case TSameTypeCopy::Fixed:
      destinationLength = static_cast<DBLENGTH>(TypeSize(type));
      CopyFixed(source, destination, static_cast<std::size_t>(destinationLength));
      status = DBSTATUS_S_OK;
      return true;
    case TSameTypeCopy::Text:
      return CopyText<char>(source, sourceLength, destination, maxLength, destinationLength, status);
    case TSameTypeCopy::WideText:
      return CopyText<wchar_t>(source, sourceLength, destination, maxLength, destinationLength, status);
    case TSameTypeCopy::Bytes:
      CopyBytes(source, sourceLength, destination, maxLength, destinationLength, status);
      return true;
    case TSameTypeCopy::None:
    case TSameTypeCopy::Convert:
    case TSameTypeCopy::Widen:
    case TSameTypeCopy::Exact:
    case TSameTypeCopy::Recall:
      break;
  }
  return false;
}

bool CopySameType(DBTYPE type, const void* source, void* destination, DBLENGTH sourceLength, DBLENGTH maxLength,
                  DBLENGTH& destinationLength, DBSTATUS& status) noexcept {
  return CopySameType(SameTypeCopyOf(type), type, source, destination, sourceLength, maxLength, destinationLength,
                      status);
}
// Values whose conversion allocates what the consumer frees.
bool IsConsumerOwned(DBTYPE type) noexcept {
  return type == DBTYPE_BSTR || type == DBTYPE_VARIANT || (type & DBTYPE_BYREF) != 0;
}

// Column types whose value in the row is all a conversion reads: fixed-size
// values and terminated text.
bool ConvertsFromRowValue(DBTYPE type) noexcept {
  return type == DBTYPE_STR || type == DBTYPE_WSTR || IsPlainValueType(type);
}

// Asks for the cache line at address, which need not be valid, ahead of
// its use.
inline void Prefetch(const void* address) noexcept {
#if defined(_MSC_VER) && !defined(__clang__)
  _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
  __builtin_prefetch(address);
#endif
}

// The bits of a fixed-size value of size bytes, at most 8, as a word.
std::uint64_t ValueBits(const void* source, std::size_t size) noexcept {
  std::uint64_t bits = 0;
  switch (size) {
    case 2: {
      std::uint16_t half;
      std::memcpy(&half, source, sizeof half);
      return half;
    }
    case 8:
      std::memcpy(&bits, source, sizeof bits);
      return bits;
    default:
      std::memcpy(&bits, source, size);
      return bits;
  }
}

// Frees a value a failed read had already stored and clears its slot.
void TakeBack(BYTE* slot, DBTYPE type) noexcept {
  if (type == DBTYPE_VARIANT) {
    VariantClear(reinterpret_cast<VARIANT*>(slot));
    return;
  }
  void* pointer = nullptr;
  std::memcpy(&pointer, slot, sizeof(pointer));
  if (pointer) {
    if (type == DBTYPE_IUNKNOWN)
      static_cast<IUnknown*>(pointer)->Release();
    else if (type == DBTYPE_BSTR)
      SysFreeString(static_cast<BSTR>(pointer));
    else
      CoTaskMemFree(pointer);
  }
  pointer = nullptr;
  std::memcpy(slot, &pointer, sizeof(pointer));
}
}  // namespace

void TOleDbRowsetData::ConvertData(DBTYPE sourceType, DBTYPE destinationType, const void* source,
                                   void* destination, DBLENGTH sourceLength, DBLENGTH destinationMaxLength,
                                   BYTE precision, BYTE scale, DBLENGTH& destinationLength, DBSTATUS& status) {
  if (sourceType == destinationType &&
      CopySameType(sourceType, source, destination, sourceLength, destinationMaxLength, destinationLength, status))
    return;
  IDataConvert* convert = GetDataConvert();
  // Without the converter no conversion is made, not even the exact ones.
  if (!convert) NotImplemented(L"TOleDbRowsetData.ConvertData");
  // The outcome stays in locals until it is final: status and length are
  // the caller's, written once.
  TConversionOutcome outcome;
  if (status != DBSTATUS_S_OK || !ConvertExactly(sourceType, destinationType, source, sourceLength, destination,
                                                destinationMaxLength, outcome))
    conversionMemo_.Convert(*convert,
                            {sourceType, destinationType, source, sourceLength, destinationMaxLength, precision,
                             scale, status},
                            destination, destinationLength, outcome);
  destinationLength = outcome.Length;
  status = outcome.Status;
  const HRESULT hr = outcome.Result;
  if (SUCCEEDED(hr) && status != DBSTATUS_E_BADACCESSOR) return;
  if (hr == E_OUTOFMEMORY) throw EOleDbException(hr);
  // A value the converter refuses is this binding's failure; the others
  // are still transferred. The accessor was checked: a converter's
  // "bad accessor" means the value could not be converted.
  if (status != DBSTATUS_E_DATAOVERFLOW && status != DBSTATUS_E_SIGNMISMATCH)
    status = hr == DISP_E_OVERFLOW ? DBSTATUS_E_DATAOVERFLOW : DBSTATUS_E_CANTCONVERTVALUE;
}

std::span<const TOleDbColumn* const> TOleDbRowsetData::BindingColumns(const TOleDbAccessor& accessor) {
  return ResolveBindings(accessor).Columns;
}

TOleDbRowsetData::TBindingColumns& TOleDbRowsetData::ResolveBindings(const TOleDbAccessor& accessor) {
  const TOleDbColumns* columnSet = columns_.get();
  const std::uint64_t version = columnSet->Version();
  for (TBindingColumns& entry : bindingColumns_)
    if (entry.Accessor == &accessor && entry.Handle == accessor.Handle() && entry.Bindings == accessor.Bindings() &&
        entry.ColumnSet == columnSet && entry.ColumnsVersion == version)
      return entry;
  TBindingColumns& entry = bindingColumns_[nextBindingColumns_];
  entry.Accessor = nullptr;
  entry.Columns.resize(accessor.BindingCount());
  entry.Copies.resize(accessor.BindingCount());
  entry.Answers.assign(accessor.BindingCount(), TBindingAnswers{});
  for (DBCOUNTITEM i = 0; i < accessor.BindingCount(); ++i) {
    const DBBINDING& binding = accessor.Binding(i);
    const TOleDbColumn* column = columnSet->FindByOrdinal(binding.iOrdinal);
    if (!column) throw EOleDbException(DB_E_BADORDINAL);
    entry.Columns[i] = column;
    const bool direct = (binding.dwPart & DBPART_VALUE) != 0 && binding.dwMemOwner != DBMEMOWNER_PROVIDEROWNED &&
                        !column->IsLong() && binding.wType != DBTYPE_IUNKNOWN;
    TSameTypeCopy copy = TSameTypeCopy::None;
    if (direct && binding.wType == column->DataType)
      copy = SameTypeCopyOf(binding.wType);
    else if (direct && column->DataType == DBTYPE_STR &&
             (binding.wType == DBTYPE_WSTR || binding.wType == DBTYPE_BSTR || binding.wType == DBTYPE_VARIANT))
      copy = TSameTypeCopy::Widen;
    else if (direct && ConvertsFromRowValue(column->DataType) && ConvertsExactly(column->DataType, binding.wType))
      copy = TSameTypeCopy::Exact;
    else if (direct && TBindingAnswers::Keeps(column->DataType, binding.wType))
      copy = TSameTypeCopy::Recall;
    else if (direct && ConvertsFromRowValue(column->DataType))
      copy = TSameTypeCopy::Convert;
    std::uint8_t size = 0;
    if (copy == TSameTypeCopy::Fixed) size = static_cast<std::uint8_t>(TypeSize(binding.wType));
    if (copy == TSameTypeCopy::Recall) size = static_cast<std::uint8_t>(TypeSize(column->DataType));
    entry.Copies[i] = {static_cast<std::uint8_t>(copy),
                       size,
                       (binding.dwPart & DBPART_LENGTH) != 0,
                       (binding.dwPart & DBPART_STATUS) != 0,
                       IsConsumerOwned(binding.wType),
                       column->DataType,
                       binding.wType,
                       column->Index,
                       binding.obValue,
                       binding.obLength,
                       binding.obStatus,
                       binding.cbMaxLen};
  }
  entry.Accessor = &accessor;
  entry.Handle = accessor.Handle();
  entry.Bindings = accessor.Bindings();
  entry.ColumnSet = columnSet;
  entry.ColumnsVersion = version;
  nextBindingColumns_ = (nextBindingColumns_ + 1) % bindingColumns_.size();
  return entry;
}

bool TOleDbRowsetData::CheckDataAccess(TOleDbRowHandle* handle, TOleDbAccessor* accessor, const void* pData) {
  if (!handle) throw EOleDbException(DB_E_BADROWHANDLE);
  if (!accessor) throw EOleDbException(DB_E_BADACCESSORHANDLE);
  if (accessor->IsNullAccessor()) return false;
  if (!pData) throw EOleDbException(E_INVALIDARG);
  BindingColumns(*accessor);
  return true;
}

HRESULT TOleDbRowsetData::GetData(HROW hRow, HACCESSOR hAccessor, void* pData) {
  return ReadData(TOleDbDataMode::Current, hRow, hAccessor, pData);
}

HRESULT TOleDbRowsetData::GetOriginalData(HROW hRow, HACCESSOR hAccessor, void* pData) {
  return ReadData(TOleDbDataMode::Original, hRow, hAccessor, pData);
}

HRESULT TOleDbRowsetData::GetVisibleData(HROW hRow, HACCESSOR hAccessor, void* pData) {
  return ReadData(TOleDbDataMode::Visible, hRow, hAccessor, pData);
}

HRESULT TOleDbRowsetData::ReadData(TOleDbDataMode mode, HROW hRow, HACCESSOR hAccessor, void* pData) {
  TOleDbRowHandle* handle = FindRowHandle(hRow);
  TOleDbAccessor* accessor = FindAccessor(hAccessor);
  if (!CheckDataAccess(handle, accessor, pData)) return S_OK;
  HRESULT result = S_OK;
  ReadRowData(mode, pData, result, *accessor, *handle);
  return result;
}

void TOleDbRowsetData::ReadRowData(TOleDbDataMode mode, void* pData, HRESULT& result, const TOleDbAccessor& accessor,
                                   TOleDbRowHandle& handle) {
  result = S_OK;
  DBCOUNTITEM failed = 0;
  const DBCOUNTITEM count = accessor.BindingCount();
  TBindingColumns& plan = ResolveBindings(accessor);
  const std::span<const TOleDbColumnValue> rowValues = GetRowValues(mode, handle.RowValue());
  const DBBINDING* const bindings = accessor.Bindings();
  BYTE* const buffer = static_cast<BYTE*>(pData);
  handedOut_.clear();
  handedOut_.reserve(count);
  // A row's values were most often made on another core, by a read ahead:
  // asked for all at once, they arrive together rather than one after the
  // other as the bindings come to them.
  for (const TBindingColumns::TCopyStep& step : plan.Copies)
    if (step.Kind != 0 && step.Column < rowValues.size()) Prefetch(rowValues[step.Column].Data);
  try {
    for (DBCOUNTITEM i = 0; i < count; ++i) {
      // Most bindings of most consumers: the column's own type, or a type
      // the toolkit converts to, from a row that holds its values, with
      // nothing else to pay for.
      const TBindingColumns::TCopyStep& step = plan.Copies[i];
      if (step.Kind != 0 && step.Column < rowValues.size()) {
        const TOleDbColumnValue& value = rowValues[step.Column];
        if (!value.IsNull && value.Data) {
          const auto copy = static_cast<TSameTypeCopy>(step.Kind);
          BYTE* const destination = buffer + step.Value;
          DBLENGTH length = step.Size;
          DBSTATUS status = DBSTATUS_S_OK;
          bool copied = true;
          switch (copy) {
            case TSameTypeCopy::Fixed:
              CopyFixed(value.Data, destination, step.Size);
              break;
            case TSameTypeCopy::Text:
              copied = CopyText<char>(value.Data, value.Length, destination, step.MaxLength, length, status);
              break;
            case TSameTypeCopy::Widen:
            case TSameTypeCopy::Exact:
            case TSameTypeCopy::Recall:
            case TSameTypeCopy::Convert: {
              // The toolkit's own conversions and the library's kept
              // answers are ConvertData's too, and like it need the
              // converter.
              const bool converter = GetDataConvert() != nullptr;
              TConversionOutcome outcome;
              bool converted = false;
              if (converter && copy == TSameTypeCopy::Widen)
                converted = ConvertTextToWide(static_cast<const char*>(value.Data), value.Length, step.Type,
                                              destination, step.MaxLength, outcome);
              else if (converter && copy == TSameTypeCopy::Exact)
                converted = ConvertExactly(step.SourceType, step.Type, value.Data,
                                           StoredLength(step.SourceType, value.Data, value.Length), destination,
                                           step.MaxLength, outcome);
              else if (converter && copy == TSameTypeCopy::Recall && value.Length == step.Size &&
                       plan.Answers[i].Recall(ValueBits(value.Data, step.Size), destination, length, status))
                break;
              if (converted) {
                // As ConvertData: only a BSTR that could not be made fails.
                if (FAILED(outcome.Result)) throw EOleDbException(outcome.Result);
                length = outcome.Length;
                status = outcome.Status;
              } else if (!ConvertValue(step, plan.Answers[i], value, destination, bindings[i], length, status)) {
                ++failed;
                break;
              }
              if (step.HandsOut) handedOut_.push_back({step.Value, step.Type});
              break;
            }
            default:
              copied = CopySameType(copy, bindings[i].wType, value.Data, destination, value.Length, step.MaxLength,
                                    length, status);
          }
          if (copied) {
            if (step.WantsLength) StoreAt(buffer, step.Length, length);
            if (step.WantsStatus) StoreAt(buffer, step.Status, status);
            continue;
          }
        }
      }
      const TOleDbColumn& column = *plan.Columns[i];
      if (!TransferValue(mode, pData, bindings[i], column, handle, LocateValue(mode, rowValues, column, handle)))
        ++failed;
    }
  } catch (...) {
    // A failed read hands out nothing: the consumer would not know to free it.
    for (const THandedOut& value : handedOut_) TakeBack(static_cast<BYTE*>(pData) + value.Offset, value.Type);
    handedOut_.clear();
    throw;
  }
  handedOut_.clear();
  result = OleDbSummedResult(failed, count);
}

bool TOleDbRowsetData::ConvertValue(const TBindingColumns::TCopyStep& step, TBindingAnswers& answers,
                                    const TOleDbColumnValue& value, BYTE* destination, const DBBINDING& binding,
                                    DBLENGTH& length, DBSTATUS& status) {
  length = step.MaxLength;
  ConvertData(step.SourceType, step.Type, value.Data, destination,
              StoredLength(step.SourceType, value.Data, value.Length), step.MaxLength, binding.bPrecision,
              binding.bScale, length, status);
  if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) return false;
  if (static_cast<TSameTypeCopy>(step.Kind) == TSameTypeCopy::Recall && value.Length == step.Size)
    answers.Remember(ValueBits(value.Data, step.Size), step.Type, step.MaxLength, destination, length, status);
  return true;
}

std::span<const TOleDbColumnValue> TOleDbRowsetData::GetRowValues(TOleDbDataMode, std::int32_t) { return {}; }

TOleDbColumnValue TOleDbRowsetData::LocateValue(TOleDbDataMode mode, std::span<const TOleDbColumnValue> rowValues,
                                                const TOleDbColumn& column, TOleDbRowHandle& handle) {
  if (column.Index < rowValues.size()) return rowValues[column.Index];
  void* data = nullptr;
  DBLENGTH length = column.Size;
  bool isNull = false;
  GetColumnReadBuffer(mode, handle.RowValue(), column, data, length, isNull);
  return {data, length, isNull};
}

bool TOleDbRowsetData::TransferValue(TOleDbDataMode mode, void* pData, const DBBINDING& binding,
                                     const TOleDbColumn& column, TOleDbRowHandle& handle,
                                     const TOleDbColumnValue& value) {
  DBSTATUS status = DBSTATUS_S_OK;
  void* data = const_cast<void*>(value.Data);
  DBLENGTH transferLength = binding.cbMaxLen;
  bool ok = true;

  if (value.IsNull) {
    status = DBSTATUS_S_ISNULL;
  } else {
    if (binding.dwMemOwner == DBMEMOWNER_PROVIDEROWNED) {
      OleDbDebugOutput("Warning: provider owned accessor to retrieve data.");
      NotImplemented(L"Provider owned bindings are not supported");
    }
    if (column.IsLong() || binding.wType == DBTYPE_IUNKNOWN) {
      ok = ReadLongValue(mode, pData, binding, column, handle, data, transferLength, status);
    } else {
      if (!data) throw EOleError(L"Column value is not available", E_FAIL);
      const DBLENGTH sourceLength = StoredLength(column.DataType, data, value.Length);
      if (binding.dwPart & DBPART_VALUE) {
        ConvertData(column.DataType, binding.wType, data, static_cast<BYTE*>(pData) + binding.obValue, sourceLength,
                    binding.cbMaxLen, binding.bPrecision, binding.bScale, transferLength, status);
        ok = status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED;
        if (ok && IsConsumerOwned(binding.wType)) handedOut_.push_back({binding.obValue, binding.wType});
      } else {
        transferLength = sourceLength;
      }
    }
    if (binding.dwPart & DBPART_LENGTH) StoreAt(pData, binding.obLength, transferLength);
  }
  if (binding.dwPart & DBPART_STATUS) StoreAt(pData, binding.obStatus, status);
  return ok;
}

bool TOleDbRowsetData::ReadLongValue(TOleDbDataMode mode, void* pData, const DBBINDING& binding,
                                     const TOleDbColumn& column, TOleDbRowHandle& handle, void* data,
                                     DBLENGTH& transferLength, DBSTATUS& status) {
  const bool wantsValue = (binding.dwPart & DBPART_VALUE) != 0;
  if (binding.wType == DBTYPE_IUNKNOWN) {
    if (!binding.pObject) throw EOleDbException(E_INVALIDARG);
    TOleDbBlobAccess access = TOleDbBlobAccess::Read;
    if (binding.pObject->dwFlags == STGM_WRITE)
      access = TOleDbBlobAccess::Write;
    else if (binding.pObject->dwFlags == STGM_READWRITE)
      access = TOleDbBlobAccess::ReadWrite;
    std::unique_ptr<TOleDbByteStream> reader = GetColumnBlobStream(mode, handle.RowValue(), column, access, data);
    if (!reader) {
      status = DBSTATUS_E_CANTCREATE;
      return false;
    }
    transferLength = reader->Size();
    if (wantsValue) {
      TComPtr<IUnknown> stream = CreateBlobStream(std::move(reader));
      void* object = nullptr;
      if (!stream || FAILED(stream->QueryInterface(binding.pObject->iid, &object)) || !object)
        throw EOleDbException(E_NOINTERFACE);
      StoreAt(pData, binding.obValue, object);
      handedOut_.push_back({binding.obValue, DBTYPE_IUNKNOWN});
    }
    return true;
  }
  if (binding.wType == DBTYPE_BYTES) {
    std::unique_ptr<TOleDbByteStream> reader =
        GetColumnBlobStream(mode, handle.RowValue(), column, TOleDbBlobAccess::Read, data);
    if (!reader) {
      status = DBSTATUS_E_CANTCREATE;
      return false;
    }
    transferLength = reader->Size();
    if (wantsValue) {
      reader->Read(static_cast<BYTE*>(pData) + binding.obValue, std::min<DBLENGTH>(transferLength, binding.cbMaxLen));
      if (transferLength > binding.cbMaxLen) status = DBSTATUS_S_TRUNCATED;
    }
    return true;
  }
  status = DBSTATUS_E_CANTCONVERTVALUE;
  return false;
}
