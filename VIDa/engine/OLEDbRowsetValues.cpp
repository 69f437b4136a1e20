// Reading row values through accessors: per-binding value, length and status,
// conversion and long values.
#include "OLEDbRowsetData.h"

#include <oledberr.h>

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

// A value copied into a destination of the same type; false when the type
// or a buffer too small for any text needs the converter.
bool CopySameType(DBTYPE type, const void* source, void* destination, DBLENGTH sourceLength,
                  DBLENGTH maxLength, DBLENGTH& destinationLength, DBSTATUS& status) noexcept {
  DBLENGTH room;
  DBLENGTH terminator;
  switch (type) {
    case DBTYPE_STR:
      terminator = 1;
      break;
    case DBTYPE_WSTR:
      terminator = sizeof(wchar_t);
      sourceLength -= sourceLength % sizeof(wchar_t);
      break;
    case DBTYPE_BYTES:
      terminator = 0;
      break;
    default:
      if (!IsPlainValueType(type)) return false;
      destinationLength = static_cast<DBLENGTH>(TypeSize(type));
      std::memcpy(destination, source, destinationLength);
      status = DBSTATUS_S_OK;
      return true;
  }
  // Not even room for the terminator: the converter decides how that fails.
  if (maxLength < terminator) return false;
  room = maxLength - terminator;
  if (terminator == sizeof(wchar_t)) room -= room % sizeof(wchar_t);
  const DBLENGTH copied = std::min(sourceLength, room);
  std::memcpy(destination, source, copied);
  if (terminator > 0) std::memset(static_cast<BYTE*>(destination) + copied, 0, terminator);
  destinationLength = sourceLength;
  status = copied < sourceLength ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
  return true;
}
// Values whose conversion allocates what the consumer frees.
bool IsConsumerOwned(DBTYPE type) noexcept {
  return type == DBTYPE_BSTR || type == DBTYPE_VARIANT || (type & DBTYPE_BYREF) != 0;
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

const TOleDbRowsetData::TBindingColumns& TOleDbRowsetData::ResolveBindings(const TOleDbAccessor& accessor) {
  const TOleDbColumns* columnSet = columns_.get();
  const std::uint64_t version = columnSet->Version();
  for (const TBindingColumns& entry : bindingColumns_)
    if (entry.Accessor == &accessor && entry.Handle == accessor.Handle() && entry.Bindings == accessor.Bindings() &&
        entry.ColumnSet == columnSet && entry.ColumnsVersion == version)
      return entry;
  TBindingColumns& entry = bindingColumns_[nextBindingColumns_];
  entry.Accessor = nullptr;
  entry.Columns.resize(accessor.BindingCount());
  entry.Copied.resize(accessor.BindingCount());
  for (DBCOUNTITEM i = 0; i < accessor.BindingCount(); ++i) {
    const DBBINDING& binding = accessor.Binding(i);
    const TOleDbColumn* column = columnSet->FindByOrdinal(binding.iOrdinal);
    if (!column) throw EOleDbException(DB_E_BADORDINAL);
    entry.Columns[i] = column;
    entry.Copied[i] = binding.wType == column->DataType && (binding.dwPart & DBPART_VALUE) != 0 &&
                      binding.dwMemOwner != DBMEMOWNER_PROVIDEROWNED && !column->IsLong() &&
                      (IsPlainValueType(binding.wType) || binding.wType == DBTYPE_STR ||
                       binding.wType == DBTYPE_WSTR || binding.wType == DBTYPE_BYTES);
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
  const TBindingColumns& plan = ResolveBindings(accessor);
  handedOut_.clear();
  handedOut_.reserve(count);
  try {
    for (DBCOUNTITEM i = 0; i < count; ++i) {
      const DBBINDING& binding = accessor.Binding(i);
      const TOleDbColumn& column = *plan.Columns[i];
      if (!(plan.Copied[i] ? CopyColumnValue(mode, pData, binding, column, handle)
                           : GetColumnValue(mode, pData, binding, column, handle)))
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

bool TOleDbRowsetData::CopyColumnValue(TOleDbDataMode mode, void* pData, const DBBINDING& binding,
                                       const TOleDbColumn& column, TOleDbRowHandle& handle) {
  void* data = nullptr;
  DBLENGTH length = column.Size;
  bool isNull = false;
  GetColumnReadBuffer(mode, handle.RowValue(), column, data, length, isNull);
  DBSTATUS status = DBSTATUS_S_ISNULL;
  if (!isNull) {
    DBLENGTH transferLength;
    if (!data || !CopySameType(binding.wType, data, static_cast<BYTE*>(pData) + binding.obValue,
                               StoredLength(binding.wType, data, length), binding.cbMaxLen, transferLength, status))
      return GetColumnValue(mode, pData, binding, column, handle);
    if (binding.dwPart & DBPART_LENGTH) StoreAt(pData, binding.obLength, transferLength);
  }
  if (binding.dwPart & DBPART_STATUS) StoreAt(pData, binding.obStatus, status);
  return true;
}

bool TOleDbRowsetData::GetColumnValue(TOleDbDataMode mode, void* pData, const DBBINDING& binding,
                                      const TOleDbColumn& column, TOleDbRowHandle& handle) {
  DBSTATUS status = DBSTATUS_S_OK;
  bool isNull = false;
  DBLENGTH sourceLength = column.Size;
  void* data = nullptr;
  DBLENGTH transferLength = binding.cbMaxLen;
  bool ok = true;

  GetColumnReadBuffer(mode, handle.RowValue(), column, data, sourceLength, isNull);
  if (isNull) {
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
      sourceLength = StoredLength(column.DataType, data, sourceLength);
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
