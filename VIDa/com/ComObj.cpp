#include "ComObj.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "Diagnostics.h"
#include "OLEDbGuard.h"
#include "OLEDbTrace.h"

// ---------------------------------------------------------------------------
// Helpers

std::wstring GuidToString(REFGUID guid) {
  wchar_t text[40];
  swprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(guid.Data1),
           guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
           guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string GuidToAnsiString(REFGUID guid) {
  char text[40];
  snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
           guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(size > 0 ? size : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(size > 0 ? size : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
  return result;
}

void ComSetErrorInfo(REFGUID guid, const std::wstring& source, const std::wstring& description,
                     const std::wstring& helpFile, DWORD helpContext) noexcept {
  TComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put())) || !create) return;
  create->SetGUID(guid);
  if (!source.empty()) create->SetSource(const_cast<LPOLESTR>(source.c_str()));
  if (!helpFile.empty()) create->SetHelpFile(const_cast<LPOLESTR>(helpFile.c_str()));
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  create->SetHelpContext(helpContext);
  TComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(info, IID_IErrorInfo))) SetErrorInfo(0, info.Get());
}

namespace {
[[noreturn]] void RaiseRegistryError(LONG status) {
  throw EOleError(L"Error creating system registry entry",
                  status != ERROR_SUCCESS ? HRESULT_FROM_WIN32(static_cast<DWORD>(status)) : E_FAIL);
}

void SetRegistryValue(const std::wstring& key, const std::wstring& valueName, DWORD type, const BYTE* data,
                      DWORD size) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                &handle, nullptr);
  if (status != ERROR_SUCCESS) RaiseRegistryError(status);
  status = RegSetValueExW(handle, valueName.empty() ? nullptr : valueName.c_str(), 0, type, data, size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) RaiseRegistryError(status);
}
}  // namespace

void ComRegisterValue(const std::wstring& key, const std::wstring& valueName, const std::wstring& value) {
  SetRegistryValue(key, valueName, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void ComRegisterDWord(const std::wstring& key, const std::wstring& valueName, DWORD value) {
  SetRegistryValue(key, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void ComDeleteRegKey(const std::wstring& key) noexcept { RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str()); }

// ---------------------------------------------------------------------------
// Server and class manager

TComServer& ComServer() {
  static TComServer server;
  return server;
}

TComClassManager& ComClassManager() {
  static TComClassManager manager;
  return manager;
}

HRESULT TComServer::CanUnloadNow() const noexcept {
  return objectCount_ > 0 || lockCount_ > 0 || factoryRefCount_ > 0 ? S_FALSE : S_OK;
}

HMODULE TComServer::ModuleHandle() const noexcept {
  if (module_) return module_;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ComServer), &module);
  return module;
}

std::wstring TComServer::ModuleFileName() const {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(ModuleHandle(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring TComServer::ServerName() const {
  std::wstring name = ModuleFileName();
  size_t slash = name.find_last_of(L"\\/:");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

HRESULT TComServer::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  TComObjectFactory* factory = ComClassManager().FindByClassID(rclsid);
  if (!factory || factory->Instancing() == TComInstancing::Internal) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(riid, ppv);
}

HRESULT TComServer::UpdateRegistry(bool doRegister) noexcept {
  HRESULT result = S_OK;
  for (TComObjectFactory* factory : ComClassManager().Factories()) {
    if (factory->Instancing() == TComInstancing::Internal) continue;
    try {
      factory->UpdateRegistry(doRegister);
    } catch (...) {
      result = E_FAIL;
    }
  }
  return result;
}

void TComClassManager::Add(TComObjectFactory* factory) { factories_.push_back(factory); }

void TComClassManager::Remove(TComObjectFactory* factory) noexcept {
  factories_.erase(std::remove(factories_.begin(), factories_.end(), factory), factories_.end());
}

TComObjectFactory* TComClassManager::FindByClassID(REFCLSID classId) const noexcept {
  for (TComObjectFactory* factory : factories_)
    if (IsEqualGUID(factory->ClassID(), classId)) return factory;
  return nullptr;
}

TComObjectFactory* TComClassManager::FindByClass(const TComClass& cls) const noexcept {
  for (TComObjectFactory* factory : factories_)
    if (&factory->ComClass() == &cls) return factory;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Factory

TComObjectFactory::TComObjectFactory(TComServer& server, const TComClass& comClass, const CLSID& classId,
                                     std::wstring className, std::wstring description, TComInstancing instancing,
                                     TThreadingModel threadingModel)
    : server_(server),
      comClass_(comClass),
      classId_(classId),
      className_(std::move(className)),
      description_(std::move(description)),
      instancing_(instancing),
      threadingModel_(threadingModel) {
  ComClassManager().Add(this);
}

TComObjectFactory::~TComObjectFactory() { ComClassManager().Remove(this); }

HRESULT TComObjectFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TComObjectFactory::AddRef() {
  server_.FactoryReferenced();
  return static_cast<ULONG>(++refCount_);
}

ULONG TComObjectFactory::Release() {
  server_.FactoryReleased();
  return static_cast<ULONG>(--refCount_);
}

HRESULT TComObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  const HRESULT result = Instantiate(outer, riid, ppv);
  if (OleDbTracing) [[unlikely]] {
    try {
      OleDbTraceCall("IClassFactory::CreateInstance", GuidToAnsiString(riid), className_.c_str(), this, result);
    } catch (...) {
    }
  }
  return result;
}

HRESULT TComObjectFactory::Instantiate(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && !IsEqualGUID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  TComObject* object = nullptr;
  try {
    object = CreateComObject(outer);
  } catch (...) {
    TOleDbFailure failure = OleDbCurrentFailure();
    if (ShowErrors && !failure.Message.empty()) {
      // Construction failures go to the debugger output and the error
      // object: an in-process server never blocks its host with a dialog.
      try {
        if (failure.Message.back() > L'.') failure.Message += L'.';
        OleDbDebugOutput("VIZ Error: " + Utf8FromWide(failure.Message));
        ComSetErrorInfo(ErrorIID(), GetProgID(), failure.Message, server_.HelpFileName());
      } catch (...) {
      }
    }
    return failure.Result;
  }
  HRESULT result = object->ObjQueryInterface(riid, ppv);
  if (FAILED(result)) {
    *ppv = nullptr;
    delete object;
  }
  return result;
}

HRESULT TComObjectFactory::LockServer(BOOL lock) {
  if (lock)
    server_.Lock();
  else
    server_.Unlock();
  return S_OK;
}

std::wstring TComObjectFactory::GetProgID() const {
  if (className_.empty()) return {};
  std::wstring server = server_.ServerName();
  if (server.empty()) return {};
  return server + L"." + className_;
}

TComObject* TComObjectFactory::CreateComObject(IUnknown* outer) {
  if (!comClass_.Create)
    throw EOleError(std::wstring(L"Object factory for class ") + comClass_.Name + L" cannot create objects", E_FAIL);
  std::unique_ptr<TComObject> object(comClass_.Create());
  object->Construct(this, &comClass_, outer, false);
  return object.release();
}

namespace {
const wchar_t* ThreadingModelName(TThreadingModel model) {
  switch (model) {
    case TThreadingModel::Single:
      return nullptr;
    case TThreadingModel::Apartment:
      return L"Apartment";
    case TThreadingModel::Free:
      return L"Free";
    case TThreadingModel::Both:
      return L"Both";
    case TThreadingModel::Neutral:
      return L"Neutral";
  }
  return nullptr;
}

// The long path, or its 8.3 form when it has a space and the volume keeps
// short names; never an empty value.
std::wstring RegistryModulePath(const std::wstring& path) {
  if (path.find(L' ') == std::wstring::npos) return path;
  DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return path;
  std::wstring shortPath(size, L'\0');
  DWORD length = GetShortPathNameW(path.c_str(), shortPath.data(), size);
  if (length == 0 || length >= size) return path;
  shortPath.resize(length);
  return shortPath;
}
}  // namespace

void TComObjectFactory::UpdateRegistry(bool doRegister) {
  const std::wstring classKey = L"CLSID\\" + GuidToString(classId_);
  const std::wstring progId = GetProgID();
  if (doRegister) {
    ComRegisterValue(classKey, L"", description_);
    std::wstring modulePath = server_.ModuleFileName();
    if (modulePath.empty()) RaiseRegistryError(static_cast<LONG>(GetLastError()));
    ComRegisterValue(classKey + L"\\InprocServer32", L"", RegistryModulePath(modulePath));
    if (const wchar_t* model = ThreadingModelName(threadingModel_))
      ComRegisterValue(classKey + L"\\InprocServer32", L"ThreadingModel", model);
    if (!progId.empty()) {
      ComRegisterValue(progId, L"", description_);
      ComRegisterValue(progId + L"\\Clsid", L"", GuidToString(classId_));
      ComRegisterValue(classKey + L"\\ProgID", L"", progId);
    }
  } else {
    if (!progId.empty()) {
      ComDeleteRegKey(classKey + L"\\ProgID");
      ComDeleteRegKey(progId + L"\\Clsid");
      ComDeleteRegKey(progId);
    }
    ComDeleteRegKey(classKey + L"\\InprocServer32");
    ComDeleteRegKey(classKey);
  }
}

// ---------------------------------------------------------------------------
// Object base

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
