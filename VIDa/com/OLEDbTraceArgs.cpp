#include "OLEDbTraceArgs.h"

#include <oledberr.h>

#include <cstdio>
#include <cwchar>

#include "ComText.h"

namespace {
// Initialisation values that may carry credentials: a password, or a
// provider string that may spell one out.
bool IsSecret(REFGUID set, DBPROPID id) noexcept {
  return IsEqualGUID(set, DBPROPSET_DBINIT) && (id == DBPROP_AUTH_PASSWORD || id == DBPROP_INIT_PROVIDERSTRING);
}
}  // namespace

void TOleDbTraceArgs::Name(std::string_view name, std::string_view prefix) {
  if (!text_.empty()) text_ += ", ";
  text_.append(prefix);
  text_.append(name);
  text_ += '=';
}

TOleDbTraceArgs& TOleDbTraceArgs::Null(std::string_view name) {
  Name(name);
  text_ += "null";
  return *this;
}

void TOleDbTraceArgs::AppendSigned(long long value) { text_ += std::to_string(value); }
void TOleDbTraceArgs::AppendUnsigned(unsigned long long value) { text_ += std::to_string(value); }
void TOleDbTraceArgs::AppendGuid(REFGUID guid) { text_ += GuidToAnsiString(guid); }

void TOleDbTraceArgs::AppendText(const wchar_t* text) {
  if (!text) {
    text_ += "null";
    return;
  }
  const std::size_t length = wcsnlen(text, MaxChars + 1);
  text_ += '"';
  text_ += Utf8FromWide(std::wstring_view(text, length > MaxChars ? MaxChars : length));
  if (length > MaxChars) text_ += Cut;
  text_ += '"';
}

void TOleDbTraceArgs::AppendId(const DBID& id) {
  const bool guid = id.eKind == DBKIND_GUID_NAME || id.eKind == DBKIND_GUID_PROPID || id.eKind == DBKIND_GUID;
  const bool name = id.eKind == DBKIND_GUID_NAME || id.eKind == DBKIND_NAME || id.eKind == DBKIND_PGUID_NAME;
  const bool propid = id.eKind == DBKIND_GUID_PROPID || id.eKind == DBKIND_PROPID || id.eKind == DBKIND_PGUID_PROPID;
  const bool pguid = id.eKind == DBKIND_PGUID_NAME || id.eKind == DBKIND_PGUID_PROPID;
  if (guid) AppendGuid(id.uGuid.guid);
  if (pguid) {
    if (id.uGuid.pguid)
      AppendGuid(*id.uGuid.pguid);
    else
      text_ += "null";
  }
  if (guid || pguid) text_ += ':';
  if (name) AppendText(id.uName.pwszName);
  if (propid) AppendUnsigned(id.uName.ulPropid);
  if (!guid && !name && !propid && !pguid) {
    text_ += "kind ";
    AppendUnsigned(id.eKind);
  }
}

void TOleDbTraceArgs::AppendVariant(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY: text_ += "empty"; return;
    case VT_NULL: text_ += "NULL"; return;
    case VT_BOOL: text_ += value.boolVal ? "true" : "false"; return;
    case VT_I2: AppendSigned(value.iVal); return;
    case VT_I4: AppendSigned(value.lVal); return;
    case VT_I8: AppendSigned(value.llVal); return;
    case VT_UI1: AppendUnsigned(value.bVal); return;
    case VT_UI2: AppendUnsigned(value.uiVal); return;
    case VT_UI4: AppendUnsigned(value.ulVal); return;
    case VT_UI8: AppendUnsigned(value.ullVal); return;
    case VT_INT: AppendSigned(value.intVal); return;
    case VT_UINT: AppendUnsigned(value.uintVal); return;
    case VT_BSTR: AppendText(value.bstrVal); return;
    default:
      text_ += "vt ";
      AppendUnsigned(value.vt);
  }
}

TOleDbTraceArgs& TOleDbTraceArgs::operator()(std::string_view name, REFGUID guid) {
  Name(name);
  AppendGuid(guid);
  return *this;
}

TOleDbTraceArgs& TOleDbTraceArgs::operator()(std::string_view name, const wchar_t* text) {
  Name(name);
  AppendText(text);
  return *this;
}

TOleDbTraceArgs& TOleDbTraceArgs::operator()(std::string_view name, const DBID* id) {
  if (!id) return Null(name);
  Name(name);
  AppendId(*id);
  return *this;
}

TOleDbTraceArgs& TOleDbTraceArgs::operator()(std::string_view name, const VARIANT& value) {
  Name(name);
  AppendVariant(value);
  return *this;
}

TOleDbTraceArgs& TOleDbTraceArgs::operator()(std::string_view name, const DBPARAMS* params) {
  if (!params) return Null(name);
  Name(name);
  text_ += "{cParamSets=";
  AppendUnsigned(params->cParamSets);
  text_ += ", hAccessor=";
  AppendUnsigned(params->hAccessor);
  text_ += params->pData ? "}" : ", pData=null}";
  return *this;
}

TOleDbTraceArgs& TOleDbTraceArgs::operator()(std::string_view name, const IUnknown* object) {
  Name(name);
  text_ += object ? "given" : "null";
  return *this;
}

TOleDbTraceArgs& TOleDbTraceArgs::Items(std::string_view name, ULONG count, const DBPROPSET* sets) {
  return EachItem(name, count, sets != nullptr, [&](std::size_t i) {
    const DBPROPSET& set = sets[i];
    AppendGuid(set.guidPropertySet);
    if (set.cProperties > 0 && !set.rgProperties) {
      text_ += "null";
      return;
    }
    AppendList(set.cProperties, '{', '}', [&](std::size_t j) {
      const DBPROP& prop = set.rgProperties[j];
      AppendUnsigned(prop.dwPropertyID);
      text_ += prop.dwOptions == DBPROPOPTIONS_REQUIRED ? "=" : "~=";
      if (IsSecret(set.guidPropertySet, prop.dwPropertyID))
        text_ += "(hidden)";
      else
        AppendVariant(prop.vValue);
    });
  });
}

TOleDbTraceArgs& TOleDbTraceArgs::Items(std::string_view name, ULONG count, const DBPROPIDSET* sets) {
  return EachItem(name, count, sets != nullptr, [&](std::size_t i) {
    const DBPROPIDSET& set = sets[i];
    AppendGuid(set.guidPropertySet);
    if (set.cPropertyIDs > 0 && !set.rgPropertyIDs) {
      text_ += "null";
      return;
    }
    AppendList(set.cPropertyIDs, '{', '}', [&](std::size_t j) { AppendUnsigned(set.rgPropertyIDs[j]); });
  });
}

// A binding as ordinal:type:parts, the parts as V, L and S for value,
// length and status, then "+obj" when the value is bound as an object.
TOleDbTraceArgs& TOleDbTraceArgs::Items(std::string_view name, DBCOUNTITEM count, const DBBINDING* bindings) {
  return EachItem(name, count, bindings != nullptr, [&](std::size_t i) {
    const DBBINDING& binding = bindings[i];
    AppendUnsigned(binding.iOrdinal);
    text_ += ':';
    AppendUnsigned(binding.wType);
    text_ += ':';
    if (binding.dwPart & DBPART_VALUE) text_ += 'V';
    if (binding.dwPart & DBPART_LENGTH) text_ += 'L';
    if (binding.dwPart & DBPART_STATUS) text_ += 'S';
    if (binding.pObject) text_ += "+obj";
  });
}

TOleDbTraceArgs& TOleDbTraceArgs::Items(std::string_view name, DBORDINAL count, const DBID* ids) {
  return EachItem(name, count, ids != nullptr, [&](std::size_t i) { AppendId(ids[i]); });
}

TOleDbTraceArgs& TOleDbTraceArgs::Items(std::string_view name, ULONG count, const VARIANT* values) {
  return EachItem(name, count, values != nullptr, [&](std::size_t i) { AppendVariant(values[i]); });
}

TOleDbTraceArgs& TOleDbTraceArgs::Items(std::string_view name, DB_UPARAMS count, const LPCWSTR* texts) {
  return EachItem(name, count, texts != nullptr, [&](std::size_t i) { AppendText(texts[i]); });
}

TOleDbTraceArgs& TOleDbTraceArgs::Bytes(std::string_view name, std::size_t size, const BYTE* bytes) {
  if (!bytes && size > 0) return Null(name);
  Name(name);
  text_ += "0x";
  constexpr std::size_t maxBytes = 16;
  for (std::size_t i = 0; i < size && i < maxBytes; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    text_ += hex;
  }
  if (size > maxBytes) text_ += Cut;
  return *this;
}
