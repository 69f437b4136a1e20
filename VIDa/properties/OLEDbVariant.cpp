#include "OLEDbVariant.h"

#include "OLEDbError.h"

TOleDbVariant& TOleDbVariant::operator=(TOleDbVariant&& other) noexcept {
  if (this != &other) Adopt(other.value_);
  return *this;
}

void TOleDbVariant::Assign(const VARIANT& value) {
  if (&value == &value_) return;
  VARIANT copy;
  VariantInit(&copy);
  HRESULT hr = VariantCopy(&copy, const_cast<VARIANT*>(&value));
  if (FAILED(hr)) throw EOleDbException(hr);
  Adopt(copy);
}

void TOleDbVariant::Adopt(VARIANT& value) noexcept {
  VariantClear(&value_);
  value_ = value;
  VariantInit(&value);
}

void TOleDbVariant::CopyTo(VARIANT& dest) const {
  HRESULT hr = VariantCopy(&dest, const_cast<VARIANT*>(&value_));
  if (FAILED(hr)) throw EOleDbException(hr);
}

TOleDbVariant TOleDbVariant::Text(std::wstring_view text) {
  TOleDbVariant result;
  BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!value) throw EOleDbException(E_OUTOFMEMORY);
  V_VT(&result.value_) = VT_BSTR;
  V_BSTR(&result.value_) = value;
  return result;
}

TOleDbVariant TOleDbVariant::Bool(bool value) noexcept {
  TOleDbVariant result;
  V_VT(&result.value_) = VT_BOOL;
  V_BOOL(&result.value_) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return result;
}

TOleDbVariant TOleDbVariant::Int(LONG value) noexcept {
  TOleDbVariant result;
  V_VT(&result.value_) = VT_I4;
  V_I4(&result.value_) = value;
  return result;
}

TOleDbVariant TOleDbVariant::UInt(ULONG value) noexcept {
  TOleDbVariant result;
  V_VT(&result.value_) = VT_UI4;
  V_UI4(&result.value_) = value;
  return result;
}

TOleDbVariant TOleDbVariant::Null() noexcept {
  TOleDbVariant result;
  V_VT(&result.value_) = VT_NULL;
  return result;
}
