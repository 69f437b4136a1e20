#pragma once
// The object base: reference counting and aggregation done once, interface
// tables, class descriptors.
//
// Usage: derive from TComImpl<Base, Interfaces...> (Base is TComObject or a
// class derived from it, for example TOleDbBase) and implement only the
// interface methods; QueryInterface/AddRef/Release are supplied once by
// TComImpl and serve every interface base. An interface needs its IID named
// through VIDA_COM_INTERFACE(I) (most published ones are below); an interface
// answered under another identifier is listed as TComEntry<I, Id>.
//
//   class TBlobStream : public TComImpl<TComObject, ISequentialStream> {
//   public:
//     explicit TBlobStream(std::string data);
//     HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override;
//     HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override;
//   };
//   TComPtr<TBlobStream> stream = MakeComObject<TBlobStream>(std::move(data));
//
// Objects published through a class factory are default-constructible, carry
// `static constexpr const wchar_t* ClassName` and are described by
// ComClassOf<T>() (or by OleDbClassOf<T>() for toolkit classes).
#include <windows.h>
#include <ocidl.h>
#include <oaidl.h>
#include <oledb.h>
#include <msdadc.h>
#include <objidl.h>

#include <atomic>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "ComPtr.h"

class TComObject;
class TComObjectFactory;

// ---------------------------------------------------------------------------
// Interface identifiers: mingw has no __uuidof for most OLE DB interfaces.

template <class I>
struct TComInterfaceId;  // specialise with VIDA_COM_INTERFACE

#define VIDA_COM_INTERFACE_AS(I, ID)                       \
  template <>                                              \
  struct TComInterfaceId<I> {                              \
    static const IID& Get() noexcept { return ID; }        \
  };
#define VIDA_COM_INTERFACE(I) VIDA_COM_INTERFACE_AS(I, IID_##I)

VIDA_COM_INTERFACE(IUnknown)
VIDA_COM_INTERFACE(IClassFactory)
VIDA_COM_INTERFACE(ISupportErrorInfo)
VIDA_COM_INTERFACE(IErrorInfo)
VIDA_COM_INTERFACE(IPersist)
VIDA_COM_INTERFACE(ISequentialStream)
VIDA_COM_INTERFACE(IStream)
VIDA_COM_INTERFACE(IConnectionPointContainer)
VIDA_COM_INTERFACE(IConnectionPoint)
VIDA_COM_INTERFACE(IEnumConnections)
VIDA_COM_INTERFACE(IEnumConnectionPoints)
VIDA_COM_INTERFACE(IDataConvert)
VIDA_COM_INTERFACE(IDCInfo)
VIDA_COM_INTERFACE(IAccessor)
VIDA_COM_INTERFACE(IRowset)
VIDA_COM_INTERFACE(IRowsetInfo)
VIDA_COM_INTERFACE(IRowsetLocate)
VIDA_COM_INTERFACE(IRowsetResynch)
VIDA_COM_INTERFACE(IRowsetScroll)
VIDA_COM_INTERFACE(IRowsetFind)
VIDA_COM_INTERFACE(IRowsetChange)
VIDA_COM_INTERFACE(IRowsetUpdate)
VIDA_COM_INTERFACE(IRowsetIdentity)
VIDA_COM_INTERFACE(IRowsetNotify)
VIDA_COM_INTERFACE(IRowsetIndex)
VIDA_COM_INTERFACE(IRowsetRefresh)
VIDA_COM_INTERFACE(IRowsetBookmark)
VIDA_COM_INTERFACE(IRowsetChapterMember)
VIDA_COM_INTERFACE(IChapteredRowset)
VIDA_COM_INTERFACE(ICommand)
VIDA_COM_INTERFACE(IMultipleResults)
VIDA_COM_INTERFACE(IConvertType)
VIDA_COM_INTERFACE(ICommandPrepare)
VIDA_COM_INTERFACE(ICommandProperties)
VIDA_COM_INTERFACE(ICommandText)
VIDA_COM_INTERFACE(ICommandWithParameters)
VIDA_COM_INTERFACE(ICommandPersist)
VIDA_COM_INTERFACE(IColumnsRowset)
VIDA_COM_INTERFACE(IColumnsInfo)
VIDA_COM_INTERFACE(IDBCreateCommand)
VIDA_COM_INTERFACE(IDBCreateSession)
VIDA_COM_INTERFACE(ISourcesRowset)
VIDA_COM_INTERFACE(IDBProperties)
VIDA_COM_INTERFACE(IDBInitialize)
VIDA_COM_INTERFACE(IDBInfo)
VIDA_COM_INTERFACE(IDBDataSourceAdmin)
VIDA_COM_INTERFACE(IDBAsynchStatus)
VIDA_COM_INTERFACE(ISessionProperties)
VIDA_COM_INTERFACE(IIndexDefinition)
VIDA_COM_INTERFACE(ITableDefinition)
VIDA_COM_INTERFACE(IOpenRowset)
VIDA_COM_INTERFACE(IDBSchemaRowset)
VIDA_COM_INTERFACE(IErrorRecords)
VIDA_COM_INTERFACE(IErrorLookup)
VIDA_COM_INTERFACE(ISQLErrorInfo)
VIDA_COM_INTERFACE(IGetDataSource)
VIDA_COM_INTERFACE(ITransactionLocal)
VIDA_COM_INTERFACE(ITransactionJoin)
VIDA_COM_INTERFACE(ITransactionObject)
VIDA_COM_INTERFACE(IRow)
VIDA_COM_INTERFACE(IGetRow)
VIDA_COM_INTERFACE(IRowsetCurrentIndex)

// An interface answered under identifier Id instead of its own IID (used for
// optional interfaces that only a capability check may hand out).
template <class I, const IID& Id>
struct TComEntry {};

namespace ComDetail {
template <class E>
struct TEntry {
  using Interface = E;
  static const IID& Id() noexcept { return TComInterfaceId<E>::Get(); }
};
template <class I, const IID& EntryIid>
struct TEntry<TComEntry<I, EntryIid>> {
  using Interface = I;
  static const IID& Id() noexcept { return EntryIid; }
};
}  // namespace ComDetail

// ---------------------------------------------------------------------------
// Class descriptors: C++ has no class references, so a class is named by a
// static descriptor that can create its objects before any of them exists.

struct TComClass {
  virtual ~TComClass() = default;
  const wchar_t* Name = L"";
  // A new, not yet initialised object (reference count 0); null when the
  // class cannot be created by a factory.
  TComObject* (*Create)() = nullptr;
};

namespace ComDetail {
template <class T>
TComObject* CreateDefault() {
  return new T();
}
template <class T>
void FillComClass(TComClass& cls) {
  cls.Name = T::ClassName;
  if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>) cls.Create = &CreateDefault<T>;
}
}  // namespace ComDetail

template <class T>
const TComClass& ComClassOf() {
  static const TComClass cls = [] {
    TComClass c;
    ComDetail::FillComClass<T>(c);
    return c;
  }();
  return cls;
}

// ---------------------------------------------------------------------------
// The object base.

class TComObject : public ISupportErrorInfo {
public:
  TComObject() noexcept;
  virtual ~TComObject();
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  // The non-delegating IUnknown: what an aggregating outer object calls.
  virtual HRESULT ObjQueryInterface(REFIID riid, void** ppv) noexcept;
  virtual ULONG ObjAddRef() noexcept;
  virtual ULONG ObjRelease() noexcept;

  // Runs once, right after construction, with the reference count at 1
  // (named apart from IDBInitialize::Initialize, which data sources implement).
  virtual void InitializeObject() {}
  // Runs when the last reference goes, before the destructors, while every
  // derived part still exists.
  virtual void BeforeDestruction() noexcept {}

  // The object's identity: the inner IUnknown when not aggregated.
  IUnknown* Controller() noexcept { return outer_ ? outer_ : &inner_; }
  IUnknown* InnerUnknown() noexcept { return &inner_; }
  IUnknown* Outer() const noexcept { return outer_; }
  TComObjectFactory* Factory() const noexcept { return factory_; }
  const TComClass* ComClass() const noexcept { return comClass_; }
  LONG RefCount() const noexcept { return refCount_; }
  // Error-object source: the factory's ProgID, else server name "." class name.
  std::wstring ProgID() const;
  const IID& ErrorIID() const noexcept { return IID_IUnknown; }

  // ISupportErrorInfo: S_OK for the interfaces of the static table.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  // The static interface table: the interface pointer for riid (no new
  // reference) or null. TComImpl extends it layer by layer.
  virtual void* FindStaticInterface(REFIID riid) noexcept;

protected:
  HRESULT DelegatingQueryInterface(REFIID riid, void** ppv) noexcept;
  ULONG DelegatingAddRef() noexcept;
  ULONG DelegatingRelease() noexcept;

private:
  friend class TComObjectFactory;
  // ObjQueryInterface as a consumer calls it: traced.
  HRESULT PublishedQueryInterface(REFIID riid, void** ppv) noexcept;
  template <class T, class... Args>
  friend TComPtr<T> MakeComObject(Args&&... args);

  // Stores factory, class and outer and runs InitializeObject with the count at 1;
  // the count is left at keepReference ? 1 : 0.
  void Construct(TComObjectFactory* factory, const TComClass* comClass, IUnknown* outer, bool keepReference);

  class TInnerUnknown : public IUnknown {
  public:
    explicit TInnerUnknown(TComObject& owner) noexcept : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      return owner_.PublishedQueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.ObjAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.ObjRelease(); }

  private:
    TComObject& owner_;
  };

  TInnerUnknown inner_;
  std::atomic<LONG> refCount_{0};
  TComObjectFactory* factory_ = nullptr;
  const TComClass* comClass_ = nullptr;
  IUnknown* outer_ = nullptr;  // never counted: the outer owns the inner
};

// The one implementation of the interfaces' IUnknown methods for a layer of
// a class hierarchy; each layer adds its interfaces to the static table.
template <class Base, class... Entries>
class TComImpl : public Base, public ComDetail::TEntry<Entries>::Interface... {
  static_assert(std::is_base_of_v<TComObject, Base>, "TComImpl layers derive from TComObject");

public:
  using Base::Base;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return this->DelegatingQueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return this->DelegatingAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return this->DelegatingRelease(); }

  void* FindStaticInterface(REFIID riid) noexcept override {
    void* found = nullptr;
    ((found == nullptr && IsEqualGUID(riid, ComDetail::TEntry<Entries>::Id())
          ? void(found = static_cast<typename ComDetail::TEntry<Entries>::Interface*>(this))
          : void()),
     ...);
    return found ? found : Base::FindStaticInterface(riid);
  }
};

namespace ComDetail {
template <class T>
const TComClass* ComClassIfNamed() {
  if constexpr (requires { T::ClassName; })
    return &ComClassOf<T>();
  else
    return nullptr;
}
}  // namespace ComDetail

// A COM object without a published factory (streams, enumerators, connection
// points...): constructed with args, initialised, handed out with one reference.
template <class T, class... Args>
TComPtr<T> MakeComObject(Args&&... args) {
  std::unique_ptr<T> object(new T(std::forward<Args>(args)...));
  object->Construct(nullptr, ComDetail::ComClassIfNamed<T>(), nullptr, true);
  return TComPtr<T>::Attach(object.release());
}
