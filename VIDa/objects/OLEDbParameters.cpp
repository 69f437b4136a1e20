#include "OLEDbParameters.h"

#include <oledberr.h>

#include <algorithm>
#include <cwctype>
#include <utility>

#include "OLEDbError.h"
#include "OLEDbTaskMemory.h"
#include "OLEDbTypes.h"

namespace {
constexpr DBPARAMFLAGS HighestParamFlag = DBPARAMFLAGS_SCALEISNEGATIVE;

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  return true;
}

// The bytes a consumer's size stands for.
ULONG SizeInBytes(DBTYPE type, DBLENGTH size) noexcept {
  const ULONG narrowed = size > MAXDWORD ? MAXDWORD : static_cast<ULONG>(size);
  return CharsToBytes(type, narrowed);
}
}  // namespace

DB_UPARAMS TOleDbParameter::Ordinal() const { return Parameters->Ordinal(*this); }

// ---------------------------------------------------------------------------

TOleDbParameter& TOleDbParameters::AddParameter(std::wstring_view name, DBTYPE dataType, ULONG size,
                                                DBPARAMFLAGS flags, BYTE precision, BYTE scale) {
  auto parameter = std::make_unique<TOleDbParameter>(*this);
  parameter->Name = name;
  parameter->DataType = dataType;
  const int fixed = TypeSize(dataType);
  parameter->Size = fixed >= 0 ? static_cast<ULONG>(fixed) : size;
  parameter->Flags = flags;
  parameter->Precision = precision;
  parameter->Scale = scale;
  items_.push_back(std::move(parameter));
  return *items_.back();
}

void TOleDbParameters::RemoveParameter(DB_UPARAMS ordinal) {
  if (ordinal == 0 || ordinal > items_.size()) throw EOleDbException(DB_E_BADORDINAL);
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(ordinal - 1));
}

void TOleDbParameters::Clear() noexcept {
  while (!items_.empty()) items_.pop_back();
}

DB_UPARAMS TOleDbParameters::Ordinal(const TOleDbParameter& parameter) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == &parameter) return i + 1;
  throw EOleError(L"Parameter is not in the list", E_UNEXPECTED);
}

TOleDbParameter* TOleDbParameters::FindByName(std::wstring_view name) const noexcept {
  for (const auto& parameter : items_)
    if (EqualIgnoringCase(parameter->Name, name)) return parameter.get();
  return nullptr;
}

TOleDbParameter* TOleDbParameters::FindByOrdinal(DB_UPARAMS ordinal) const noexcept {
  return ordinal >= 1 && ordinal <= items_.size() ? items_[ordinal - 1].get() : nullptr;
}

void TOleDbParameters::BindForExecution(const DBPARAMS& params, TOleDbAccessor* accessor,
                                        std::wstring_view commandText) {
  ParamData = params;
  HasParamData = true;
  Accessor = accessor;
  CurrentSet = 0;
  if (items_.empty()) ScanMarkers(commandText);
}

void TOleDbParameters::ScanMarkers(std::wstring_view commandText) {
  // One flag for all three quote characters: any of them ends a literal
  // that any of them opened.
  bool inLiteral = false;
  unsigned marker = 0;
  for (wchar_t c : commandText) {
    if (c == L'\0') break;
    if (c == L'"' || c == L'\'' || c == L'`')
      inLiteral = !inLiteral;
    else if (c == L'?' && !inLiteral)
      AddParameter(L"Parameter" + std::to_wstring(marker++), DBTYPE_VARIANT, sizeof(VARIANT));
  }
}

// ---------------------------------------------------------------------------

TOleDbParameterStorage::TOleDbParameterStorage(std::unique_ptr<TOleDbParameters> parameters)
    : parameters_(std::move(parameters)) {
  if (!parameters_) throw EOleError(L"Parameters must be defined", E_FAIL);
}

bool TOleDbParameterStorage::TypeFromName(const wchar_t* name, DBTYPE& type) const {
  return name && ::TypeFromName(name, type);
}

bool TOleDbParameterStorage::DeriveParameters() {
  if (!OnCanDeriveParameters || !OnCanDeriveParameters() || !OnDeriveParameters) return false;
  OnDeriveParameters();
  State = TOleDbParameterState::Available;
  return true;
}

void TOleDbParameterStorage::GetParameterInfo(DB_UPARAMS* pcParams, DBPARAMINFO** prgParamInfo,
                                              OLECHAR** ppNamesBuffer) {
  if (pcParams) *pcParams = 0;
  if (prgParamInfo) *prgParamInfo = nullptr;
  if (ppNamesBuffer) *ppNamesBuffer = nullptr;
  if (!pcParams || !prgParamInfo) throw EOleDbException(E_INVALIDARG);
  if (State != TOleDbParameterState::Available && !DeriveParameters()) throw EOleDbException(DB_E_PARAMUNAVAILABLE);

  const TOleDbParameters& list = *parameters_;
  const std::size_t count = list.Count();
  if (count == 0) return;

  TTaskMemory<DBPARAMINFO[]> infos = OleDbAllocArray<DBPARAMINFO>(count);
  std::size_t nameChars = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const TOleDbParameter& parameter = list.Items(i);
    DBPARAMINFO& info = infos[i];
    info.dwFlags = parameter.Flags;
    info.iOrdinal = i + 1;
    info.ulParamSize = (parameter.Flags & DBPARAMFLAGS_ISLONG) ? ~static_cast<DBLENGTH>(0)
                                                               : BytesToChars(parameter.DataType, parameter.Size);
    info.wType = parameter.DataType;
    info.bPrecision = parameter.Precision;
    info.bScale = parameter.Scale;
    if (!parameter.Name.empty()) nameChars += parameter.Name.size() + 1;
  }

  TTaskMemory<OLECHAR[]> names;
  if (ppNamesBuffer && nameChars > 0) {
    names = OleDbAllocArray<OLECHAR>(nameChars);
    OLECHAR* next = names.get();
    for (std::size_t i = 0; i < count; ++i) {
      const std::wstring& name = list.Items(i).Name;
      if (name.empty()) continue;
      infos[i].pwszName = next;
      next = std::copy(name.begin(), name.end(), next);
      *next++ = L'\0';
    }
  }
  *prgParamInfo = infos.release();
  if (ppNamesBuffer) *ppNamesBuffer = names.release();
  *pcParams = count;
}

HRESULT TOleDbParameterStorage::MapParameterNames(DB_UPARAMS cParamNames, const OLECHAR* rgParamNames[],
                                                  DB_LPARAMS rgParamOrdinals[]) {
  if (cParamNames == 0) return S_OK;
  if (!rgParamNames || !rgParamOrdinals) throw EOleDbException(E_INVALIDARG);
  DB_UPARAMS found = 0;
  for (DB_UPARAMS i = 0; i < cParamNames; ++i) {
    const TOleDbParameter* parameter = rgParamNames[i] ? parameters_->FindByName(rgParamNames[i]) : nullptr;
    rgParamOrdinals[i] = parameter ? static_cast<DB_LPARAMS>(parameter->Ordinal()) : 0;
    if (parameter) ++found;
  }
  if (found == 0) return DB_E_ERRORSOCCURRED;
  return found < cParamNames ? DB_S_ERRORSOCCURRED : S_OK;
}

HRESULT TOleDbParameterStorage::SetParameterInfo(DB_UPARAMS cParams, const DB_UPARAMS rgParamOrdinals[],
                                                 const DBPARAMBINDINFO rgParamBindInfo[]) {
  TOleDbParameters& list = *parameters_;
  if (cParams == 0) {
    list.Clear();
    State = TOleDbParameterState::Discarded;
    return S_OK;
  }

  // Validation first: a refused call changes nothing.
  if (!rgParamOrdinals) throw EOleDbException(E_INVALIDARG);
  for (DB_UPARAMS i = 0; i < cParams; ++i) {
    if (rgParamOrdinals[i] == 0) throw EOleDbException(E_INVALIDARG);
    if (rgParamBindInfo &&
        (!rgParamBindInfo[i].pwszDataSourceType || rgParamBindInfo[i].dwFlags > HighestParamFlag))
      throw EOleDbException(E_INVALIDARG);
  }
  const bool create = list.Count() == 0 && rgParamBindInfo;
  for (DB_UPARAMS i = 0; i < cParams && !create; ++i)
    if (!list.FindByOrdinal(rgParamOrdinals[i])) throw EOleDbException(DB_E_BADORDINAL);
  std::vector<DBTYPE> types;
  if (rgParamBindInfo) {
    const bool named = rgParamBindInfo[0].pwszName != nullptr;
    for (DB_UPARAMS i = 0; i < cParams; ++i)
      if ((rgParamBindInfo[i].pwszName != nullptr) != named) throw EOleDbException(DB_E_BADPARAMETERNAME);
    for (std::size_t p = 0; p < list.Count(); ++p) {
      const bool beingSet = std::find(rgParamOrdinals, rgParamOrdinals + cParams, p + 1) != rgParamOrdinals + cParams;
      if (!beingSet && list.Items(p).Name.empty() == named) throw EOleDbException(DB_E_BADPARAMETERNAME);
    }
    types.resize(cParams);
    for (DB_UPARAMS i = 0; i < cParams; ++i)
      if (!TypeFromName(rgParamBindInfo[i].pwszDataSourceType, types[i])) throw EOleDbException(DB_E_BADTYPENAME);
  }
  if (create)
    for (DB_UPARAMS i = 0; i < cParams; ++i)
      if (rgParamOrdinals[i] != i + 1)
        throw EOleError(L"New parameters must be numbered 1, 2, 3, ... in order", E_UNEXPECTED);

  HRESULT result = S_OK;
  if (create) {
    if (OnCanDeriveParameters && OnCanDeriveParameters()) result = DB_S_TYPEINFOOVERRIDDEN;
    try {
      for (DB_UPARAMS i = 0; i < cParams; ++i) {
        const DBPARAMBINDINFO& info = rgParamBindInfo[i];
        list.AddParameter(info.pwszName ? info.pwszName : L"", types[i], SizeInBytes(types[i], info.ulParamSize),
                          info.dwFlags, info.bPrecision, info.bScale);
      }
    } catch (...) {
      list.Clear();
      throw;
    }
  } else if (!rgParamBindInfo) {
    std::vector<DB_UPARAMS> ordinals(rgParamOrdinals, rgParamOrdinals + cParams);
    std::sort(ordinals.begin(), ordinals.end());
    ordinals.erase(std::unique(ordinals.begin(), ordinals.end()), ordinals.end());
    for (auto it = ordinals.rbegin(); it != ordinals.rend(); ++it) list.RemoveParameter(*it);
  } else {
    std::vector<std::wstring> names(cParams);
    for (DB_UPARAMS i = 0; i < cParams; ++i)
      if (rgParamBindInfo[i].pwszName) names[i] = rgParamBindInfo[i].pwszName;
    for (DB_UPARAMS i = 0; i < cParams; ++i) {
      const DBPARAMBINDINFO& info = rgParamBindInfo[i];
      TOleDbParameter& parameter = *list.FindByOrdinal(rgParamOrdinals[i]);
      parameter.Name = std::move(names[i]);
      parameter.DataType = types[i];
      const int fixed = TypeSize(types[i]);
      parameter.Size = fixed >= 0 ? static_cast<ULONG>(fixed) : SizeInBytes(types[i], info.ulParamSize);
      parameter.Flags = info.dwFlags;
      parameter.Precision = info.bPrecision;
      parameter.Scale = info.bScale;
    }
    result = DB_S_TYPEINFOOVERRIDDEN;
  }
  State = TOleDbParameterState::Available;
  return result;
}
