#include "OLEDbBase.h"

#include "Diagnostics.h"

// {5A3C1E70-8D2B-4F61-9C44-1B7E0D2A6F01} and neighbours: private to the toolkit.
const IID IID_IOleDbClass = {0x5a3c1e70, 0x8d2b, 0x4f61, {0x9c, 0x44, 0x1b, 0x7e, 0x0d, 0x2a, 0x6f, 0x01}};
const IID IID_IOleDbParentClass = {0x5a3c1e70, 0x8d2b, 0x4f61, {0x9c, 0x44, 0x1b, 0x7e, 0x0d, 0x2a, 0x6f, 0x02}};
const IID IID_IOleDbChildClass = {0x5a3c1e70, 0x8d2b, 0x4f61, {0x9c, 0x44, 0x1b, 0x7e, 0x0d, 0x2a, 0x6f, 0x03}};

void CreateOleDbObject(const TComClass& cls, IUnknown* outer, REFIID riid, void** object) {
  TComObjectFactory* factory = ComClassManager().FindByClass(cls);
  if (!factory) throw EOleError(std::wstring(L"Object factory for class ") + cls.Name + L" missing", E_UNEXPECTED);
  HRESULT result = factory->CreateInstance(outer, riid, object);
  if (result != S_OK) throw EOleDbException(result);
}

TOleDbBase::TOleDbBase() = default;

TOleDbBase::~TOleDbBase() {
  if (Parent) {
    Parent->RemoveChild(this);
    Parent.Reset();
  }
}

void TOleDbBase::AddChild(IOleDbChildClass*) { ++ChildCount; }

void TOleDbBase::RemoveChild(IOleDbChildClass*) {
  if (ChildCount > 0) --ChildCount;
}

void TOleDbBase::SetParent(IOleDbParentClass* parent) {
  if (parent == Parent.Get()) return;
  TComPtr<IOleDbParentClass> previous = std::move(Parent);
  if (previous) previous->RemoveChild(this);
  Parent = TComPtr<IOleDbParentClass>(parent);
  if (Parent) Parent->AddChild(this);
}

void TOleDbBase::InitializeObject() {
  TComImpl::InitializeObject();
  CreatePropertyStorage();
  InitProperties();
  PropertySets().BindHandlers(this);
}

void* TOleDbBase::FindStaticInterface(REFIID riid) noexcept {
  if (IsEqualGUID(riid, IID_IOleDbClass)) return static_cast<IOleDbClass*>(static_cast<IOleDbChildClass*>(this));
  return TComImpl::FindStaticInterface(riid);
}

HRESULT TOleDbBase::ObjQueryInterface(REFIID riid, void** ppv) noexcept {
  HRESULT result = TComImpl::ObjQueryInterface(riid, ppv);
  if (result != E_NOINTERFACE) return result;
  for (const TOleDbOptionalInterface& optional : OptionalInterfaces()) {
    if (!IsEqualGUID(riid, *optional.Published)) continue;
    if (CapabilityBits() & optional.Mask) return TComImpl::ObjQueryInterface(*optional.Private, ppv);
    return E_NOINTERFACE;
  }
  if (const char* prefix = QueryInterfaceFailPrefix()) {
    try {
      OleDbDebugOutput(prefix + GuidToAnsiString(riid));
    } catch (...) {
    }
  }
  return E_NOINTERFACE;
}

void TOleDbBase::CheckPropertyValue(TOleDbProperty&, const VARIANT&, DBPROPSTATUS&) {}

void TOleDbBase::CreatePropertyStorage() {
  PropertyStorage = std::make_unique<TOleDbPropertyStorage>(std::make_unique<TOleDbPropertySets>());
}

TOleDbPropertySets& TOleDbBase::PropertySets() const {
  if (!PropertyStorage) throw EOleError(L"PropertyStorage must be defined", E_UNEXPECTED);
  return PropertyStorage->PropertySets();
}

TOleDbDatasource* TOleDbBase::FindDataSource() const {
  // Through GetObject rather than QueryInterface: an aggregated parent's
  // QueryInterface belongs to its outer object.
  for (IOleDbParentClass* link = Parent.Get(); link;) {
    TOleDbBase* object = link->GetObject();
    if (auto* dataSource = object->AsDataSource()) return dataSource;
    link = object->Parent.Get();
  }
  return nullptr;
}

const TOleDbClass* TOleDbBase::OleDbClass() const noexcept { return dynamic_cast<const TOleDbClass*>(ComClass()); }

void TOleDbBase::CreateRowsetObject(const wchar_t* hook, IUnknown* outer, REFIID riid, void** rowset) const {
  const TOleDbClass* cls = OleDbClass();
  const TOleDbClass* rowsetClass = cls ? cls->GetRowsetClass() : nullptr;
  if (!rowsetClass) NotImplemented(hook);
  CreateOleDbObject(*rowsetClass, outer, riid, rowset);
}

void TOleDbBase::CreateChildObject(const TComClass& cls, IUnknown* outer, REFIID riid, IUnknown** object) {
  CheckAggregation(outer, riid);
  CreateOleDbObject(cls, outer, riid, reinterpret_cast<void**>(object));
  TComPtr<IUnknown> created(*object);
  TComPtr<IOleDbChildClass> child;
  try {
    OleDbCheck(created.As(child, IID_IOleDbChildClass));
    child->SetParent(this);
  } catch (...) {
    (*object)->Release();
    *object = nullptr;
    throw;
  }
}
