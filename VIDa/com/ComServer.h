#pragma once
// The process-wide COM server: its object and lock counts, the class manager
// that knows every factory, and the class factories.
#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <string>
#include <vector>

#include "ComObject.h"

class TComClassManager;

class TComServer {
public:
  TComServer() noexcept = default;
  TComServer(const TComServer&) = delete;
  TComServer& operator=(const TComServer&) = delete;

  void ObjectCreated() noexcept { ++objectCount_; }
  void ObjectDestroyed() noexcept { --objectCount_; }
  LONG ObjectCount() const noexcept { return objectCount_; }

  // IClassFactory::LockServer.
  void Lock() noexcept { ++lockCount_; }
  void Unlock() noexcept { --lockCount_; }
  LONG LockCount() const noexcept { return lockCount_; }

  // References consumers hold on class factories.
  void FactoryReferenced() noexcept { ++factoryRefCount_; }
  void FactoryReleased() noexcept { --factoryRefCount_; }
  LONG FactoryRefCount() const noexcept { return factoryRefCount_; }

  // S_FALSE while any object, server lock or factory reference is alive.
  HRESULT CanUnloadNow() const noexcept;

  // The module this code is linked into, unless set explicitly.
  HMODULE ModuleHandle() const noexcept;
  void SetModuleHandle(HMODULE module) noexcept { module_ = module; }
  // Full path of the module.
  std::wstring ModuleFileName() const;
  // Module file name without directory and extension ("zellogdb").
  std::wstring ServerName() const;
  // The server has no help file.
  std::wstring HelpFileName() const { return {}; }

  // DllGetClassObject: the published factory for rclsid queried for riid;
  // CLASS_E_CLASSNOTAVAILABLE (and *ppv null) for an unknown class.
  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
  // DllRegisterServer / DllUnregisterServer: every published factory's
  // registry update; E_FAIL when anything failed.
  HRESULT UpdateRegistry(bool doRegister) noexcept;

private:
  std::atomic<LONG> objectCount_{0};
  std::atomic<LONG> lockCount_{0};
  std::atomic<LONG> factoryRefCount_{0};
  HMODULE module_ = nullptr;
};

TComServer& ComServer();

// Every factory of the process, published or internal; factories enter on
// construction and leave on destruction (the manager does not own them).
class TComClassManager {
public:
  void Add(TComObjectFactory* factory);
  void Remove(TComObjectFactory* factory) noexcept;
  TComObjectFactory* FindByClassID(REFCLSID classId) const noexcept;
  // The factory creating objects of cls (descriptor identity).
  TComObjectFactory* FindByClass(const TComClass& cls) const noexcept;
  const std::vector<TComObjectFactory*>& Factories() const noexcept { return factories_; }

private:
  std::vector<TComObjectFactory*> factories_;
};

TComClassManager& ComClassManager();

// ---------------------------------------------------------------------------
// Class factories.

enum class TComInstancing { Internal, SingleInstance, MultiInstance };
enum class TThreadingModel { Single, Apartment, Free, Both, Neutral };

class TComObjectFactory : public IClassFactory {
public:
  TComObjectFactory(TComServer& server, const TComClass& comClass, const CLSID& classId, std::wstring className,
                    std::wstring description, TComInstancing instancing, TThreadingModel threadingModel);
  virtual ~TComObjectFactory();
  TComObjectFactory(const TComObjectFactory&) = delete;
  TComObjectFactory& operator=(const TComObjectFactory&) = delete;

  // IUnknown: the factory lives as long as its owner; references are only
  // counted for the server's unload check.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IClassFactory
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  TComServer& ComServer() const noexcept { return server_; }
  const TComClass& ComClass() const noexcept { return comClass_; }
  const CLSID& ClassID() const noexcept { return classId_; }
  const std::wstring& ClassName() const noexcept { return className_; }
  const std::wstring& Description() const noexcept { return description_; }
  TComInstancing Instancing() const noexcept { return instancing_; }
  TThreadingModel ThreadingModel() const noexcept { return threadingModel_; }
  const IID& ErrorIID() const noexcept { return IID_IUnknown; }
  // Construction failures are reported to the debugger output.
  bool ShowErrors = true;

  // Server name "." class name; empty when either is empty.
  virtual std::wstring GetProgID() const;
  // Constructs and initialises an object (reference count 0 afterwards);
  // raises what construction raises.
  virtual TComObject* CreateComObject(IUnknown* outer);
  // Writes (true) or removes (false) the COM registry entries of the class.
  virtual void UpdateRegistry(bool doRegister);

private:
  HRESULT Instantiate(IUnknown* outer, REFIID riid, void** ppv);

  TComServer& server_;
  const TComClass& comClass_;
  CLSID classId_;
  std::wstring className_;
  std::wstring description_;
  TComInstancing instancing_;
  TThreadingModel threadingModel_;
  std::atomic<LONG> refCount_{0};
};
