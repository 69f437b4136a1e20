#include "OLEDbProperties.h"

#include "Diagnostics.h"
#include "OLEDbError.h"
#include "OLEDbPropertyCatalogue.h"

#include <array>
#include <cwchar>
#include <cstring>
#include <string>

namespace {
const std::array<const GUID*, 11> kSetGuidsByType = {
    &GUID_NULL,          &DBPROPSET_COLUMN,  &DBPROPSET_DATASOURCE, &DBPROPSET_DATASOURCEINFO,
    &DBPROPSET_INDEX,    &DBPROPSET_DBINIT,  &DBPROPSET_ROWSET,     &DBPROPSET_SESSION,
    &DBPROPSET_TABLE,    &DBPROPSET_PROPERTIESINERROR, &DBPROPSET_VIEW,
};

bool IsIntegerType(VARTYPE type) { return type == VT_I2 || type == VT_I4; }

bool SameText(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring_view BstrText(BSTR text) { return text ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view(); }

// A lookup key is either an ID or a name; anything else selects nothing.
struct TPropertyKey {
  enum { None, ID, Name } Kind = None;
  DBPROPID PropID = 0;
  std::wstring Text;
};

TPropertyKey ReadKey(const VARIANT& key) {
  TPropertyKey result;
  switch (V_VT(&key)) {
    case VT_I2:
      result.Kind = TPropertyKey::ID;
      result.PropID = static_cast<DBPROPID>(V_I2(&key));
      break;
    case VT_UI2:
      result.Kind = TPropertyKey::ID;
      result.PropID = V_UI2(&key);
      break;
    case VT_I4:
      result.Kind = TPropertyKey::ID;
      result.PropID = static_cast<DBPROPID>(V_I4(&key));
      break;
    case VT_UI4:
      result.Kind = TPropertyKey::ID;
      result.PropID = V_UI4(&key);
      break;
    case VT_BSTR:
      result.Kind = TPropertyKey::Name;
      result.Text = BstrText(V_BSTR(&key));
      break;
    default:
      break;
  }
  return result;
}

std::wstring KeyText(const TPropertyKey& key) {
  if (key.Kind == TPropertyKey::ID) return std::to_wstring(key.PropID);
  return key.Text;
}

[[noreturn]] void RaiseNotSupported(const TPropertyKey& key) {
  throw EOleError(L"This property is not supported. PropID=" + KeyText(key), E_FAIL);
}

// Compares element i of a locked array with value.
bool ArrayElementEquals(const SAFEARRAY& array, VARTYPE elementType, ULONG index, const VARIANT& value) {
  const BYTE* element = static_cast<const BYTE*>(array.pvData) + static_cast<size_t>(index) * array.cbElements;
  if (elementType == VT_VARIANT) return VariantsEqual(*reinterpret_cast<const VARIANT*>(element), value);
  if (array.cbElements > sizeof(LONGLONG)) return false;
  VARIANT view;
  VariantInit(&view);
  V_VT(&view) = elementType;
  memcpy(&V_I8(&view), element, array.cbElements);
  return VariantsEqual(view, value);  // view only borrows the element
}

bool IsAmongValidValues(const VARIANT& validValues, const VARIANT& value) {
  SAFEARRAY* array = (V_VT(&validValues) & VT_BYREF) ? *V_ARRAYREF(&validValues) : V_ARRAY(&validValues);
  if (!array) return false;
  VARTYPE elementType = V_VT(&validValues) & VT_TYPEMASK;
  ULONG count = 1;
  for (USHORT dim = 0; dim < array->cDims; ++dim) count *= array->rgsabound[dim].cElements;
  if (FAILED(SafeArrayLock(array))) return false;
  bool found = false;
  for (ULONG i = 0; i < count && !found; ++i) found = ArrayElementEquals(*array, elementType, i, value);
  SafeArrayUnlock(array);
  return found;
}
}  // namespace

bool VariantsEqual(const VARIANT& a, const VARIANT& b) {
  VARTYPE type = V_VT(&a);
  if (type != V_VT(&b)) return false;
  switch (type) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I2:
      return V_I2(&a) == V_I2(&b);
    case VT_I4:
      return V_I4(&a) == V_I4(&b);
    case VT_UI1:
      return V_UI1(&a) == V_UI1(&b);
    case VT_BOOL:
      return (V_BOOL(&a) != VARIANT_FALSE) == (V_BOOL(&b) != VARIANT_FALSE);
    case VT_R4:
      return V_R4(&a) == V_R4(&b);
    case VT_R8:
      return V_R8(&a) == V_R8(&b);
    case VT_DATE:
      return V_DATE(&a) == V_DATE(&b);
    case VT_CY:
      return V_CY(&a).int64 == V_CY(&b).int64;
    case VT_BSTR:
      return BstrText(V_BSTR(&a)) == BstrText(V_BSTR(&b));
    default:
      if (type & (VT_ARRAY | VT_BYREF)) return false;
      return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
  }
}

// --- Set type codes -------------------------------------------------------

TOleDbPropertySetType PropertySetTypeOf(REFGUID guid) {
  for (size_t code = 1; code < kSetGuidsByType.size(); ++code)
    if (IsEqualGUID(*kSetGuidsByType[code], guid)) return static_cast<TOleDbPropertySetType>(code);
  return TOleDbPropertySetType::None;
}

const GUID& PropertySetGuidOf(TOleDbPropertySetType type) {
  auto code = static_cast<size_t>(type);
  return code < kSetGuidsByType.size() ? *kSetGuidsByType[code] : GUID_NULL;
}

// --- TOleDbProperty -------------------------------------------------------

bool TOleDbProperty::IsReadOnly() const noexcept {
  return !(Flags & DBPROPFLAGS_WRITE) || (PropSet && PropSet->State == TOleDbPropertySetState::ReadOnly);
}

bool TOleDbProperty::SetValue(DBPROP& prop) {
  if (prop.dwOptions != DBPROPOPTIONS_REQUIRED && prop.dwOptions != DBPROPOPTIONS_OPTIONAL) {
    prop.dwStatus = DBPROPSTATUS_BADOPTION;
    return false;
  }
  const VARIANT& proposed = prop.vValue;
  if (V_VT(&proposed) == VT_EMPTY) {
    if (!Value.IsEmpty()) Value = DefaultValue;
    Options = prop.dwOptions;
    prop.dwStatus = DBPROPSTATUS_OK;
    return true;
  }
  VARTYPE type = V_VT(&proposed);
  if (type != VarType && !(IsIntegerType(type) && IsIntegerType(VarType))) {
    prop.dwStatus = DBPROPSTATUS_BADVALUE;
    return false;
  }
  // A VT_I2 for a VT_I4 property (or the reverse) is stored in the
  // property's own type, so readers of the value see what they expect.
  TOleDbVariant candidate(proposed);
  if (type != VarType && FAILED(VariantChangeType(&candidate.Get(), &candidate.Get(), 0, VarType))) {
    prop.dwStatus = DBPROPSTATUS_BADVALUE;
    return false;
  }
  if ((ValidValues.Type() & VT_ARRAY) && !IsAmongValidValues(ValidValues.Get(), candidate.Get())) {
    prop.dwStatus = DBPROPSTATUS_BADVALUE;
    return false;
  }
  if (IsReadOnly() && !VariantsEqual(candidate.Get(), Value.Get())) {
    prop.dwStatus = DBPROPSTATUS_NOTSETTABLE;
    return false;
  }
  if (OnSetValue) {
    DBPROPSTATUS status = DBPROPSTATUS_OK;
    OnSetValue->CheckPropertyValue(*this, candidate.Get(), status);
    if (status != DBPROPSTATUS_OK) {
      prop.dwStatus = status;
      return false;
    }
  }
  Value = std::move(candidate);
  // Kept with the value: a command hands it on to its rowsets, where a
  // required property that cannot be met fails the execution.
  Options = prop.dwOptions;
  prop.dwStatus = DBPROPSTATUS_OK;
  return true;
}

void TOleDbProperty::FillDBProp(DBPROP& prop) const {
  prop.dwPropertyID = PropID;
  prop.dwStatus = ReportedStatus();
  prop.dwOptions = Options;
  prop.colid.eKind = DBKIND_GUID_PROPID;
  prop.colid.uGuid.guid = GUID_NULL;
  prop.colid.uName.ulPropid = 0;
  bool reportsDefault = Value.Type() == DefaultValue.Type() &&
                        (Value.IsEmpty() || VariantsEqual(Value.Get(), DefaultValue.Get()));
  VariantInit(&prop.vValue);
  if (!reportsDefault) Value.CopyTo(prop.vValue);
}

// --- TOleDbPropertySet ----------------------------------------------------

TOleDbPropertySet::TOleDbPropertySet(TOleDbPropertySets& owner, REFGUID guid) noexcept
    : Guid(guid), SetType(PropertySetTypeOf(guid)), Owner(&owner) {}

void TOleDbPropertySet::Reinitialize(REFGUID guid) noexcept {
  Guid = guid;
  SetType = PropertySetTypeOf(guid);
}

TOleDbProperty* TOleDbPropertySet::FindByID(DBPROPID id) const noexcept {
  for (const auto& item : items_)
    if (item->PropID == id) return item.get();
  return nullptr;
}

TOleDbProperty* TOleDbPropertySet::FindByName(std::wstring_view name) const noexcept {
  for (const auto& item : items_)
    if (SameText(item->Name, name)) return item.get();
  return nullptr;
}

std::unique_ptr<TOleDbProperty> TOleDbPropertySet::CreateProperty() {
  if (SetType == TOleDbPropertySetType::PropertiesInError) return std::make_unique<TOleDbErrorProperty>(*this);
  return std::make_unique<TOleDbProperty>(*this);
}

TOleDbProperty& TOleDbPropertySet::AddDefault(DBPROPID id, bool keepDefault) {
  const TOleDbPropertyDefault* row = FindPropertyDefault(Guid, id);
  if (!row) {
    wchar_t text[80];
    swprintf(text, sizeof text / sizeof text[0], L"Property default information must be defined. PropID=%x",
             static_cast<unsigned>(id));
    throw EOleError(text, E_FAIL);
  }
  TOleDbVariant defaultValue;
  PropertyDefaultToVariant(*row, defaultValue.Get());
  TOleDbProperty* property = FindByID(id);
  if (!property) {
    items_.push_back(CreateProperty());
    property = items_.back().get();
  }
  property->PropID = row->PropID;
  property->Name = row->Name;
  property->Flags = row->Flags;
  property->Options = row->Options;
  property->VarType = row->VarType;
  property->ValidValues.Clear();
  if (keepDefault) property->DefaultValue = defaultValue;
  property->Value = std::move(defaultValue);
  return *property;
}

void TOleDbPropertySet::AddDefaults(std::span<const DBPROPID> ids, bool keepDefault) {
  for (DBPROPID id : ids) AddDefault(id, keepDefault);
}

TOleDbProperty& TOleDbPropertySet::AddCopy(const TOleDbProperty& source, DBPROPSTATUS status) {
  std::unique_ptr<TOleDbProperty> copy = CreateProperty();
  copy->PropID = source.PropID;
  copy->Name = source.Name;
  copy->Flags = source.Flags;
  copy->VarType = source.VarType;
  copy->ValidValues = source.ValidValues;
  copy->Value = source.Value;
  copy->Options = source.Options;
  if (auto* error = dynamic_cast<TOleDbErrorProperty*>(copy.get())) error->Status = status;
  items_.push_back(std::move(copy));
  return *items_.back();
}

void TOleDbPropertySet::Clear() noexcept {
  while (!items_.empty()) items_.pop_back();
}

bool TOleDbPropertySet::IsSupported(DBPROPID id) const {
  if (!FindByID(id)) {
    OleDbDebugOutput("Property is not supported:" + std::to_string(id) +
                     " SetType:" + std::to_string(static_cast<unsigned>(SetType)));
    return false;
  }
  return State != TOleDbPropertySetState::Hidden;
}

// --- TOleDbPropertySets ---------------------------------------------------

void TOleDbPropertySets::Clear() noexcept {
  while (!sets_.empty()) sets_.pop_back();
}

TOleDbPropertySet* TOleDbPropertySets::FindSet(REFGUID guid) const noexcept {
  for (const auto& set : sets_)
    if (IsEqualGUID(set->Guid, guid)) return set.get();
  return nullptr;
}

TOleDbPropertySet& TOleDbPropertySets::FindOrCreateSet(REFGUID guid) {
  TOleDbPropertySet* set = FindSet(guid);
  if (!set) {
    sets_.push_back(std::make_unique<TOleDbPropertySet>(*this, guid));
    set = sets_.back().get();
  }
  set->Reinitialize(guid);
  return *set;
}

TOleDbPropertySet& TOleDbPropertySets::SetByType(TOleDbPropertySetType type) {
  return FindOrCreateSet(PropertySetGuidOf(type));
}

TOleDbProperty* TOleDbPropertySets::FindProperty(REFGUID set, const VARIANT& key) const {
  TOleDbPropertySet* found = FindSet(set);
  if (!found) return nullptr;
  TPropertyKey parsed = ReadKey(key);
  switch (parsed.Kind) {
    case TPropertyKey::ID:
      return found->FindByID(parsed.PropID);
    case TPropertyKey::Name:
      return found->FindByName(parsed.Text);
    default:
      return nullptr;
  }
}

bool TOleDbPropertySets::GetValue(REFGUID set, const VARIANT& key, VARIANT& value) const {
  TOleDbProperty* property = FindProperty(set, key);
  if (property) property->Value.CopyTo(value);
  return property != nullptr;
}

bool TOleDbPropertySets::PutValue(REFGUID set, const VARIANT& key, const VARIANT& value) {
  TOleDbProperty* property = FindProperty(set, key);
  if (property) property->Value.Assign(value);
  return property != nullptr;
}

bool TOleDbPropertySets::GetValue(REFGUID set, DBPROPID id, VARIANT& value) const {
  TOleDbPropertySet* found = FindSet(set);
  TOleDbProperty* property = found ? found->FindByID(id) : nullptr;
  if (property) property->Value.CopyTo(value);
  return property != nullptr;
}

bool TOleDbPropertySets::PutValue(REFGUID set, DBPROPID id, const VARIANT& value) {
  TOleDbPropertySet* found = FindSet(set);
  TOleDbProperty* property = found ? found->FindByID(id) : nullptr;
  if (property) property->Value.Assign(value);
  return property != nullptr;
}

bool TOleDbPropertySets::GetValue(REFGUID set, std::wstring_view name, VARIANT& value) const {
  TOleDbPropertySet* found = FindSet(set);
  TOleDbProperty* property = found ? found->FindByName(name) : nullptr;
  if (property) property->Value.CopyTo(value);
  return property != nullptr;
}

bool TOleDbPropertySets::PutValue(REFGUID set, std::wstring_view name, const VARIANT& value) {
  TOleDbPropertySet* found = FindSet(set);
  TOleDbProperty* property = found ? found->FindByName(name) : nullptr;
  if (property) property->Value.Assign(value);
  return property != nullptr;
}

void TOleDbPropertySets::GetValueByType(TOleDbPropertySetType type, const VARIANT& key, VARIANT& value) const {
  if (!GetValue(PropertySetGuidOf(type), key, value)) RaiseNotSupported(ReadKey(key));
}

void TOleDbPropertySets::PutValueByType(TOleDbPropertySetType type, const VARIANT& key, const VARIANT& value) {
  if (!PutValue(PropertySetGuidOf(type), key, value)) RaiseNotSupported(ReadKey(key));
}

void TOleDbPropertySets::GetValueByType(TOleDbPropertySetType type, DBPROPID id, VARIANT& value) const {
  if (!GetValue(PropertySetGuidOf(type), id, value)) RaiseNotSupported({TPropertyKey::ID, id, {}});
}

void TOleDbPropertySets::PutValueByType(TOleDbPropertySetType type, DBPROPID id, const VARIANT& value) {
  if (!PutValue(PropertySetGuidOf(type), id, value)) RaiseNotSupported({TPropertyKey::ID, id, {}});
}

void TOleDbPropertySets::BindHandlers(IOleDbPropertyHandler* handler) noexcept {
  for (const auto& set : sets_)
    for (size_t i = 0; i < set->Count(); ++i) set->Items(i).OnSetValue = handler;
}

void TOleDbPropertySets::SetAllStates(TOleDbPropertySetState state) noexcept {
  for (const auto& set : sets_) set->State = state;
}

TOleDbProperty& TOleDbPropertySets::EnsureProperty(REFGUID set, DBPROPID id) {
  TOleDbPropertySet* found = FindSet(set);
  if (!found) found = &FindOrCreateSet(set);
  if (TOleDbProperty* property = found->FindByID(id)) return *property;
  return found->AddDefault(id);
}
