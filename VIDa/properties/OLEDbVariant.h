#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string_view>

// Owns one VARIANT: copies with VariantCopy, frees with VariantClear.
class TOleDbVariant {
public:
  TOleDbVariant() noexcept { VariantInit(&value_); }
  explicit TOleDbVariant(const VARIANT& value) : TOleDbVariant() { Assign(value); }
  TOleDbVariant(const TOleDbVariant& other) : TOleDbVariant() { Assign(other.value_); }
  TOleDbVariant(TOleDbVariant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
  ~TOleDbVariant() { VariantClear(&value_); }

  TOleDbVariant& operator=(const TOleDbVariant& other) {
    if (this != &other) Assign(other.value_);
    return *this;
  }
  TOleDbVariant& operator=(TOleDbVariant&& other) noexcept;
  TOleDbVariant& operator=(const VARIANT& value) {
    Assign(value);
    return *this;
  }

  // Replaces the value with a copy; raises EOleDbException when the copy fails
  // (the old value is kept then).
  void Assign(const VARIANT& value);
  // Takes over value without copying and leaves it VT_EMPTY.
  void Adopt(VARIANT& value) noexcept;
  void Clear() noexcept { VariantClear(&value_); }
  // Writes a copy into dest, which must be initialised (its old content is
  // freed).
  void CopyTo(VARIANT& dest) const;

  const VARIANT& Get() const noexcept { return value_; }
  VARIANT& Get() noexcept { return value_; }
  VARTYPE Type() const noexcept { return V_VT(&value_); }
  bool IsEmpty() const noexcept { return V_VT(&value_) == VT_EMPTY; }

  // Values built in place; Text raises E_OUTOFMEMORY when no BSTR is left.
  static TOleDbVariant Text(std::wstring_view text);
  static TOleDbVariant Bool(bool value) noexcept;
  static TOleDbVariant Int(LONG value) noexcept;
  static TOleDbVariant UInt(ULONG value) noexcept;
  static TOleDbVariant Null() noexcept;

private:
  VARIANT value_;
};
