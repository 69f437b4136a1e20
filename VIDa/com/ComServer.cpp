#include "ComServer.h"

#include <algorithm>
#include <memory>

#include "ComErrorInfo.h"
#include "ComRegistry.h"
#include "ComText.h"
#include "Diagnostics.h"
#include "OLEDbGuard.h"
#include "OLEDbTrace.h"

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
    if (modulePath.empty()) ComRaiseRegistryError(static_cast<LONG>(GetLastError()));
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
