#pragma once
// The property model of every toolkit object: properties grouped in sets,
// sets in a set list; the storage (OLEDbPropertyStorage.h) answers the OLE DB
// property operations over such a list.
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "OLEDbVariant.h"

// Value equality as properties compare them: same type and same value.
bool VariantsEqual(const VARIANT& a, const VARIANT& b);

class TOleDbProperty;
class TOleDbPropertySet;
class TOleDbPropertySets;

// Consulted before a consumer's value is stored; a non-zero status rejects
// the value and becomes the DBPROP status. Implemented by the owning object.
class IOleDbPropertyHandler {
public:
  virtual void CheckPropertyValue(TOleDbProperty& property, const VARIANT& value, DBPROPSTATUS& status) = 0;

protected:
  ~IOleDbPropertyHandler() = default;
};

enum class TOleDbPropertySetType : std::uint8_t {
  None = 0,
  Column = 1,
  DataSource = 2,
  DataSourceInfo = 3,
  Index = 4,
  DBInit = 5,
  Rowset = 6,
  Session = 7,
  Table = 8,
  PropertiesInError = 9,
  View = 10,
};

// None for an unknown GUID.
TOleDbPropertySetType PropertySetTypeOf(REFGUID guid);
// GUID_NULL for None.
const GUID& PropertySetGuidOf(TOleDbPropertySetType type);

enum class TOleDbPropertySetState : std::uint8_t {
  Normal = 0,
  Hidden = 1,    // the set's properties read as unsupported
  ReadOnly = 2,  // a property accepts only its current value
};

class TOleDbProperty {
public:
  explicit TOleDbProperty(TOleDbPropertySet& owner) noexcept : PropSet(&owner) {}
  virtual ~TOleDbProperty() = default;
  TOleDbProperty(const TOleDbProperty&) = delete;
  TOleDbProperty& operator=(const TOleDbProperty&) = delete;

  // What GetProperties reports as dwStatus.
  virtual DBPROPSTATUS ReportedStatus() const noexcept { return DBPROPSTATUS_OK; }

  // Stores a consumer's value and its dwOptions under the option, type,
  // valid-value, access and handler rules; writes prop.dwStatus and answers
  // whether it was accepted.
  bool SetValue(DBPROP& prop);
  // Writes the property into an empty DBPROP (vValue VT_EMPTY while the value
  // is the default).
  void FillDBProp(DBPROP& prop) const;
  bool IsReadOnly() const noexcept;

  TOleDbPropertySet* PropSet;  // not owned
  std::wstring Name;
  DBPROPID PropID = 0;
  DBPROPFLAGS Flags = 0;
  VARTYPE VarType = VT_EMPTY;
  TOleDbVariant ValidValues;  // empty, or an array of the only accepted values
  TOleDbVariant Value;
  TOleDbVariant DefaultValue;  // empty unless added with the keep-default switch
  DBPROPOPTIONS Options = DBPROPOPTIONS_OPTIONAL;
  IOleDbPropertyHandler* OnSetValue = nullptr;  // not owned
};

// The kind of property a DBPROPSET_PROPERTIESINERROR set holds.
class TOleDbErrorProperty : public TOleDbProperty {
public:
  using TOleDbProperty::TOleDbProperty;
  DBPROPSTATUS ReportedStatus() const noexcept override { return Status; }
  DBPROPSTATUS Status = DBPROPSTATUS_OK;
};

class TOleDbPropertySet {
public:
  TOleDbPropertySet(TOleDbPropertySets& owner, REFGUID guid) noexcept;
  ~TOleDbPropertySet() { Clear(); }
  TOleDbPropertySet(const TOleDbPropertySet&) = delete;
  TOleDbPropertySet& operator=(const TOleDbPropertySet&) = delete;

  size_t Count() const noexcept { return items_.size(); }
  TOleDbProperty& Items(size_t index) const { return *items_.at(index); }

  TOleDbProperty* FindByID(DBPROPID id) const noexcept;
  TOleDbProperty* FindByName(std::wstring_view name) const noexcept;
  // Adds the catalogue row for (Guid, id), or resets an existing property to
  // it; keepDefault also makes the default the property's DefaultValue.
  TOleDbProperty& AddDefault(DBPROPID id, bool keepDefault = false);
  // AddDefault for each ID, in order.
  void AddDefaults(std::span<const DBPROPID> ids, bool keepDefault = false);
  // Appends a copy of a property that could not be applied (for a
  // DBPROPSET_PROPERTIESINERROR set; Status is recorded on error properties).
  TOleDbProperty& AddCopy(const TOleDbProperty& source, DBPROPSTATUS status);
  void Clear() noexcept;
  // Present and the set not hidden; a missing ID is logged.
  bool IsSupported(DBPROPID id) const;
  // Sets Guid and SetType.
  void Reinitialize(REFGUID guid) noexcept;

  GUID Guid;
  TOleDbPropertySetType SetType;
  TOleDbPropertySets* Owner;  // not owned
  TOleDbPropertySetState State = TOleDbPropertySetState::Normal;

private:
  std::unique_ptr<TOleDbProperty> CreateProperty();
  std::vector<std::unique_ptr<TOleDbProperty>> items_;
};

class TOleDbPropertySets {
public:
  TOleDbPropertySets() = default;
  ~TOleDbPropertySets() { Clear(); }
  TOleDbPropertySets(const TOleDbPropertySets&) = delete;
  TOleDbPropertySets& operator=(const TOleDbPropertySets&) = delete;

  size_t Count() const noexcept { return sets_.size(); }
  TOleDbPropertySet& Items(size_t index) const { return *sets_.at(index); }
  void Clear() noexcept;

  TOleDbPropertySet* FindSet(REFGUID guid) const noexcept;
  TOleDbPropertySet& FindOrCreateSet(REFGUID guid);
  TOleDbPropertySet& SetByType(TOleDbPropertySetType type);

  // Value lookups without flag, state, type or handler rules: how the toolkit
  // fills read-only values and reads initialisation values. A 16- or 32-bit
  // integer key selects by ID, a VT_BSTR key by Name ignoring case. The
  // result tells whether set and property were found. value must be
  // initialised; GetValue frees what it held before copying into it.
  bool GetValue(REFGUID set, const VARIANT& key, VARIANT& value) const;
  bool PutValue(REFGUID set, const VARIANT& key, const VARIANT& value);
  bool GetValue(REFGUID set, DBPROPID id, VARIANT& value) const;
  bool PutValue(REFGUID set, DBPROPID id, const VARIANT& value);
  bool GetValue(REFGUID set, std::wstring_view name, VARIANT& value) const;
  bool PutValue(REFGUID set, std::wstring_view name, const VARIANT& value);
  // The same through a set type code; a miss raises E_FAIL with
  // "This property is not supported. PropID=<key>".
  void GetValueByType(TOleDbPropertySetType type, const VARIANT& key, VARIANT& value) const;
  void PutValueByType(TOleDbPropertySetType type, const VARIANT& key, const VARIANT& value);
  void GetValueByType(TOleDbPropertySetType type, DBPROPID id, VARIANT& value) const;
  void PutValueByType(TOleDbPropertySetType type, DBPROPID id, const VARIANT& value);

  // The property for a lookup key (null when set or property is missing).
  TOleDbProperty* FindProperty(REFGUID set, const VARIANT& key) const;

  void BindHandlers(IOleDbPropertyHandler* handler) noexcept;
  void SetAllStates(TOleDbPropertySetState state) noexcept;
  // Adds the set and the catalogue property when missing; returns it.
  TOleDbProperty& EnsureProperty(REFGUID set, DBPROPID id);

private:
  std::vector<std::unique_ptr<TOleDbPropertySet>> sets_;
};
