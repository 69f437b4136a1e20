#pragma once
// The base of every COM-visible toolkit object (data source, session,
// command, rowset): property storage, the link to its creator, the optional
// interface scheme and the one guard every published method runs in.
//
//   HRESULT STDMETHODCALLTYPE TMyRowset::GetNextRows(...) {
//     return Guard([&] {
//       ...                      // raise EOleDbException / OleDbError freely
//       OleDbError(status);      // a warning leaves as the return value
//     }, [&](TOleDbTraceArgs& t) { t("lRowsOffset", lRowsOffset)("cRows", cRows).Out("cRowsObtained", pcRowsObtained); });
//   }
// Objects not derived from TOleDbBase use OleDbGuard(*this, body) (see
// OLEDbGuard.h). The body returns void (S_OK) or an HRESULT.
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <memory>
#include <new>
#include <source_location>
#include <span>
#include <type_traits>
#include <utility>

#include "ComObj.h"
#include "ComPtr.h"
#include "OLEDbError.h"
#include "OLEDbGuard.h"
#include "OLEDbProperties.h"
#include "OLEDbPropertyStorage.h"

// wingdi.h maps GetObject to GetObjectW; the toolkit's GetObject is its own.
#ifdef GetObject
#undef GetObject
#endif

class TOleDbBase;
class TOleDbDatasource;

// ---------------------------------------------------------------------------
// Private interfaces: toolkit objects find each other through them; they are
// never called by consumers and report failures by raising.

extern const IID IID_IOleDbClass;
extern const IID IID_IOleDbParentClass;
extern const IID IID_IOleDbChildClass;

struct IOleDbClass : public IUnknown {
  virtual TOleDbBase* GetObject() = 0;
};

struct IOleDbChildClass;

struct IOleDbParentClass : public IOleDbClass {
  virtual void AddChild(IOleDbChildClass* child) = 0;
  virtual void RemoveChild(IOleDbChildClass* child) = 0;
};

struct IOleDbChildClass : public IOleDbClass {
  virtual void SetParent(IOleDbParentClass* parent) = 0;
  virtual TComPtr<IOleDbParentClass> GetParent() = 0;
};

VIDA_COM_INTERFACE(IOleDbClass)
VIDA_COM_INTERFACE(IOleDbParentClass)
VIDA_COM_INTERFACE(IOleDbChildClass)

// ---------------------------------------------------------------------------
// Class descriptors of toolkit classes. The class-level choices of a
// concrete class (its data source's session class, a session's or
// command's rowset class, a session's command class) are virtual functions
// of its descriptor: the class declares a nested TClass derived from
// TOleDbClass and overrides what it chooses, so a misspelled choice fails to
// compile instead of being silently left out:
//
//   class TMyProvider : public TOleDbDatasource {
//   public:
//     static constexpr const wchar_t* ClassName = L"TMyProvider";
//     struct TClass : TOleDbClass {
//       const TOleDbClass* SessionClass() const override { return &OleDbClassOf<TMySession>(); }
//     };
//   };
//
// OleDbClassOf<T>() builds T::TClass (TOleDbClass unless T declares its own;
// data sources, sessions and commands must declare their own).

struct TOleDbClass : public TComClass {
  virtual const TOleDbClass* SessionClass() const { return nullptr; }
  virtual const TOleDbClass* RowsetClass() const { return nullptr; }
  virtual const TOleDbClass* CommandClass() const { return nullptr; }

  // The toolkit's published names for the choices above.
  const TOleDbClass* GetSessionClass() const { return SessionClass(); }
  const TOleDbClass* GetRowsetClass() const { return RowsetClass(); }
  const TOleDbClass* GetCommmandClass() const { return CommandClass(); }
};

template <class T>
const TOleDbClass& OleDbClassOf() {
  using TClass = typename T::TClass;
  static_assert(requires { sizeof(TClass); },
                "a data source, session or command declares its own nested TClass (is its name misspelt?)");
  static_assert(std::is_base_of_v<TOleDbClass, TClass>, "a toolkit class's TClass derives from TOleDbClass");
  // Static hooks of the earlier form would be silently ignored.
  static_assert(!requires { T::GetSessionClass(); } && !requires { T::GetRowsetClass(); } &&
                    !requires { T::GetCommmandClass(); } && !requires { T::GetCommandClass(); },
                "class-level choices are overrides in T::TClass, not static member functions");
  static const TClass cls = [] {
    TClass c;
    ComDetail::FillComClass<T>(c);
    return c;
  }();
  return cls;
}

// Finds the factory registered for cls (raises "Object factory for class %s
// missing" when there is none) and creates an instance; a result other than
// S_OK is raised.
void CreateOleDbObject(const TComClass& cls, IUnknown* outer, REFIID riid, void** object);

// ---------------------------------------------------------------------------
// Optional interfaces: listed in the static table as TComEntry<I, PrivateId>
// and described here; answered only while (capabilities & Mask) != 0.

struct TOleDbOptionalInterface {
  const IID* Published;
  const IID* Private;
  std::uint8_t Mask;
};

class TOleDbBase : public TComImpl<TComObject, IOleDbChildClass, IOleDbParentClass>,
                   public IOleDbPropertyHandler {
public:
  // The descriptor type OleDbClassOf builds; a concrete class declares its
  // own to make class-level choices.
  using TClass = TOleDbClass;

  TOleDbBase();
  ~TOleDbBase() override;

  // IOleDbClass, IOleDbParentClass, IOleDbChildClass
  TOleDbBase* GetObject() override { return this; }
  void AddChild(IOleDbChildClass* child) override;
  void RemoveChild(IOleDbChildClass* child) override;
  void SetParent(IOleDbParentClass* parent) override;
  TComPtr<IOleDbParentClass> GetParent() override { return Parent; }

  // Base initialisation, CreatePropertyStorage, InitProperties, then every
  // property's OnSetValue handler bound to CheckPropertyValue.
  void InitializeObject() override;
  // The static table, then the optional interfaces by capability; an
  // interface the class never offers logs QueryInterfaceFailPrefix + IID.
  HRESULT ObjQueryInterface(REFIID riid, void** ppv) noexcept override;
  void* FindStaticInterface(REFIID riid) noexcept override;

  // Accepts every value (status stays DBPROPSTATUS_OK).
  void CheckPropertyValue(TOleDbProperty& property, const VARIANT& value, DBPROPSTATUS& status) override;
  virtual void CreatePropertyStorage();
  virtual void InitProperties() {}
  virtual bool HasChildren() const { return ChildCount > 0; }

  // The sets of PropertyStorage.
  TOleDbPropertySets& PropertySets() const;
  // The data source at the top of the parent chain, or null.
  TOleDbDatasource* FindDataSource() const;
  // This object as a data source, or null: lets the parent chain be walked
  // without knowing the data source class.
  virtual TOleDbDatasource* AsDataSource() noexcept { return nullptr; }
  // The descriptor of the object's class (null for objects made without one).
  const TOleDbClass* OleDbClass() const noexcept;

  template <class F, class A = TOleDbNoTraceArgs>
  HRESULT Guard(F&& body, const A& args = {},
                std::source_location where = std::source_location::current()) const noexcept {
    return OleDbGuard(*this, std::forward<F>(body), args, where);
  }

  // Counted: a child keeps its creator alive.
  TComPtr<IOleDbParentClass> Parent;
  LONG ChildCount = 0;
  std::unique_ptr<TOleDbPropertyStorage> PropertyStorage;

protected:
  virtual std::span<const TOleDbOptionalInterface> OptionalInterfaces() const noexcept { return {}; }
  virtual std::uint8_t CapabilityBits() const noexcept { return 0; }
  // "Datasource QI Fail: " and the like; null for no debug line.
  virtual const char* QueryInterfaceFailPrefix() const noexcept { return nullptr; }

  // Creates an object of cls as this object's child straight into the
  // consumer's out-parameter: aggregation check, creation, SetParent.
  void CreateChildObject(const TComClass& cls, IUnknown* outer, REFIID riid, IUnknown** object);
  // Creates an object of the rowset class this object's class names (not yet
  // adopted); hook names the class operation when it names none.
  void CreateRowsetObject(const wchar_t* hook, IUnknown* outer, REFIID riid, void** rowset) const;
};
