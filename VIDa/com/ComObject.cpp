#include "ComObject.h"

#include "ComServer.h"
#include "ComText.h"
#include "OLEDbGuard.h"
#include "OLEDbTrace.h"

TComObject::TComObject() noexcept : inner_(*this) { ComServer().ObjectCreated(); }

TComObject::~TComObject() { ComServer().ObjectDestroyed(); }

void TComObject::Construct(TComObjectFactory* factory, const TComClass* comClass, IUnknown* outer,
                           bool keepReference) {
  factory_ = factory;
  comClass_ = comClass;
  outer_ = outer;
  refCount_ = 1;
  InitializeObject();
  if (!keepReference) refCount_ = 0;
}

HRESULT TComObject::ObjQueryInterface(REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  void* found = FindStaticInterface(riid);
  if (!found) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Through the interface itself: an aggregated object's interfaces count
  // on the outer object, its inner IUnknown on itself.
  static_cast<IUnknown*>(found)->AddRef();
  *ppv = found;
  return S_OK;
}

ULONG TComObject::ObjAddRef() noexcept { return static_cast<ULONG>(++refCount_); }

ULONG TComObject::ObjRelease() noexcept {
  LONG count = --refCount_;
  if (count == 0) {
    // A destructor that takes and drops a reference must not delete twice.
    refCount_ = 1;
    BeforeDestruction();
    delete this;
  }
  return static_cast<ULONG>(count);
}

std::wstring TComObject::ProgID() const {
  if (factory_) return factory_->GetProgID();
  std::wstring server = ComServer().ServerName();
  if (comClass_ && *comClass_->Name) return server + L"." + comClass_->Name;
  return server;
}

HRESULT TComObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return OleDbGuard(*this, [&] { return FindStaticInterface(riid) ? S_OK : S_FALSE; },
                    [&](TOleDbTraceArgs& t) { t("riid", riid); });
}

void* TComObject::FindStaticInterface(REFIID riid) noexcept {
  if (IsEqualGUID(riid, IID_IUnknown)) return static_cast<IUnknown*>(&inner_);
  if (IsEqualGUID(riid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
  return nullptr;
}

HRESULT TComObject::DelegatingQueryInterface(REFIID riid, void** ppv) noexcept {
  if (outer_) return outer_->QueryInterface(riid, ppv);
  return PublishedQueryInterface(riid, ppv);
}

HRESULT TComObject::PublishedQueryInterface(REFIID riid, void** ppv) noexcept {
  const HRESULT result = ObjQueryInterface(riid, ppv);
  if (OleDbTracing) [[unlikely]] {
    try {
      OleDbTraceCall(*this, "QueryInterface", GuidToAnsiString(riid), result);
    } catch (...) {
    }
  }
  return result;
}

ULONG TComObject::DelegatingAddRef() noexcept { return outer_ ? outer_->AddRef() : ObjAddRef(); }

ULONG TComObject::DelegatingRelease() noexcept { return outer_ ? outer_->Release() : ObjRelease(); }
