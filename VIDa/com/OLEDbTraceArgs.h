#pragma once
// The arguments of one traced call, as text: "name=value, name=value". A
// published method names the arguments that tell what its consumer asked for
// in a callable the guard runs only when the trace is on, after the call, so
// out-values (rows obtained, a new handle) can be shown as well.
//
// Consumer memory is read as defensively as the methods themselves read it:
// null pointers print as null, arrays and strings are cut after a few items,
// and values that may hold credentials are never printed.
#include <windows.h>
#include <oledb.h>

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

class TOleDbTraceArgs {
public:
  // Arrays show at most this many items, then "…" and the count.
  static constexpr std::size_t MaxItems = 16;
  // Strings show at most this many characters, then "…".
  static constexpr std::size_t MaxChars = 200;

  template <std::integral T>
  TOleDbTraceArgs& operator()(std::string_view name, T value) {
    Name(name);
    AppendInteger(value);
    return *this;
  }
  TOleDbTraceArgs& operator()(std::string_view name, REFGUID guid);
  TOleDbTraceArgs& operator()(std::string_view name, const wchar_t* text);
  TOleDbTraceArgs& operator()(std::string_view name, const DBID* id);
  TOleDbTraceArgs& operator()(std::string_view name, const VARIANT& value);
  TOleDbTraceArgs& operator()(std::string_view name, const DBPARAMS* params);
  // Whether an interface pointer (an aggregating outer object, a sink) was
  // given, not its address.
  TOleDbTraceArgs& operator()(std::string_view name, const IUnknown* object);

  // "*name=value" for an out-value the call wrote, or "name=null".
  template <std::integral T>
  TOleDbTraceArgs& Out(std::string_view name, const T* value) {
    if (!value) return Null(name);
    Name(name, "*");
    AppendInteger(*value);
    return *this;
  }

  // The first items of a consumer array of count items.
  template <std::integral C, std::integral T>
  TOleDbTraceArgs& Items(std::string_view name, C count, const T* items) {
    return EachItem(name, static_cast<std::size_t>(count), items != nullptr,
                    [&](std::size_t i) { AppendInteger(items[i]); });
  }
  TOleDbTraceArgs& Items(std::string_view name, ULONG count, const DBPROPSET* sets);
  TOleDbTraceArgs& Items(std::string_view name, ULONG count, const DBPROPIDSET* sets);
  TOleDbTraceArgs& Items(std::string_view name, DBCOUNTITEM count, const DBBINDING* bindings);
  TOleDbTraceArgs& Items(std::string_view name, DBORDINAL count, const DBID* ids);
  TOleDbTraceArgs& Items(std::string_view name, ULONG count, const VARIANT* values);
  TOleDbTraceArgs& Items(std::string_view name, DB_UPARAMS count, const LPCWSTR* texts);
  // A bookmark or other opaque value: its first bytes in hexadecimal.
  TOleDbTraceArgs& Bytes(std::string_view name, std::size_t size, const BYTE* bytes);

  const std::string& Text() const noexcept { return text_; }

private:
  void Name(std::string_view name, std::string_view prefix = {});
  TOleDbTraceArgs& Null(std::string_view name);
  template <std::integral T>
  void AppendInteger(T value) {
    if constexpr (std::is_same_v<T, bool>)
      text_ += value ? "true" : "false";
    else if constexpr (std::is_signed_v<T>)
      AppendSigned(value);
    else
      AppendUnsigned(value);
  }
  void AppendSigned(long long value);
  void AppendUnsigned(unsigned long long value);
  void AppendGuid(REFGUID guid);
  void AppendText(const wchar_t* text);
  void AppendId(const DBID& id);
  void AppendVariant(const VARIANT& value);
  template <class Each>
  TOleDbTraceArgs& EachItem(std::string_view name, std::size_t count, bool present, Each&& each) {
    if (!present && count > 0) return Null(name);
    Name(name);
    text_ += '[';
    for (std::size_t i = 0; i < count && i < MaxItems; ++i) {
      if (i > 0) text_ += ", ";
      each(i);
    }
    if (count > MaxItems) {
      text_ += ", \xE2\x80\xA6 ";
      AppendUnsigned(count);
    }
    text_ += ']';
    return *this;
  }

  std::string text_;
};

// Names no argument.
struct TOleDbNoTraceArgs {
  void operator()(TOleDbTraceArgs&) const noexcept {}
};
