#pragma once
// A small provider for the toolkit's own tests: a data source whose
// initialisation can be made to fail, and a session with one optional
// interface, published through a data source factory under a test CLSID.
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <span>
#include <string>

#include "ConsumerTestSupport.h"
#include "OLEDbDatasource.h"
#include "OLEDbFactory.h"

// {6B0F4C1E-2D57-4A8B-B3C9-7E15A0D4F201}
inline constexpr CLSID CLSID_TestProvider = {0x6b0f4c1e, 0x2d57, 0x4a8b, {0xb3, 0xc9, 0x7e, 0x15, 0xa0, 0xd4, 0xf2, 0x01}};
extern const IID IID_TestSessionCreateCommand;

class TTestSession : public TComImpl<TOleDbBase, IGetDataSource,
                                     TComEntry<IDBCreateCommand, IID_TestSessionCreateCommand>> {
public:
  static constexpr const wchar_t* ClassName = L"TTestSession";

  // IGetDataSource
  HRESULT STDMETHODCALLTYPE GetDataSource(REFIID riid, IUnknown** ppDataSource) override;
  // IDBCreateCommand: answered only with capability bit 0.
  HRESULT STDMETHODCALLTYPE CreateCommand(IUnknown* pUnkOuter, REFIID riid, IUnknown** ppCommand) override;

  std::uint8_t Capabilities = 0;

protected:
  std::span<const TOleDbOptionalInterface> OptionalInterfaces() const noexcept override;
  std::uint8_t CapabilityBits() const noexcept override { return Capabilities; }
  const char* QueryInterfaceFailPrefix() const noexcept override { return "Session QI Fail: "; }
};

// DoInitialize looks at DBPROP_INIT_DATASOURCE: "plain-error" raises a plain
// exception, "code-error" DB_SEC_E_AUTH_FAILED without a message, "ole-error"
// DB_E_NOTABLE with the message "No such table"; anything else passes.
class TTestDataSource : public TOleDbDatasource {
public:
  static constexpr const wchar_t* ClassName = L"TTestDataSource";
  struct TClass : TOleDbClass {
    const TOleDbClass* SessionClass() const override { return &OleDbClassOf<TTestSession>(); }
  };

  void DoInitialize() override;
  void DoUninitialize() override { ++UninitializeCalls; }

  static inline int UninitializeCalls = 0;
};

// An aggregating outer object as the service components build one: its own
// identity and reference count, every other interface answered by the inner
// object it holds. Created with one reference.
class TTestOuter : public IUnknown {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
  ULONG STDMETHODCALLTYPE Release() override;

  // Takes over the inner object's non-delegating IUnknown.
  void SetInner(IUnknown* inner) noexcept { inner_ = inner; }
  IUnknown* Inner() const noexcept { return inner_; }
  LONG RefCount() const noexcept { return refCount_; }

private:
  virtual ~TTestOuter();
  LONG refCount_ = 1;
  IUnknown* inner_ = nullptr;
};

// The published test factory (ProgID: test module name + ".testprovider").
TOleDbDatasourceFactory& TestProviderFactory();

// A consumer's way in: class object by CLSID, then CreateInstance.
HRESULT CreateTestProvider(IUnknown* outer, REFIID riid, void** object);
