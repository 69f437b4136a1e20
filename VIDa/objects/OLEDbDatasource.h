#pragma once
// The toolkit's data source object. A concrete provider derives from it,
// names its session class by overriding SessionClass() in its nested TClass
// (see TOleDbClass) and may override DoInitialize/DoUninitialize.
#include "OLEDbBase.h"

class TOleDbDatasource
    : public TComImpl<TOleDbBase, IPersist, IDBCreateSession, IDBProperties, IDBInitialize> {
public:
  // Left incomplete: a concrete class names its class-level choices in a
  // TClass of its own, so a misspelt one fails to compile.
  struct TClass;
  TOleDbDatasource() = default;
  ~TOleDbDatasource() override;

  // Counts no children any more and uninitialises while the derived parts
  // still exist (DoUninitialize of the concrete class runs); a failure is
  // reported to the debugger output.
  void BeforeDestruction() noexcept override;
  void InitializeObject() override;
  void InitProperties() override;
  TOleDbDatasource* AsDataSource() noexcept override { return this; }

  // Stores the state and arranges the property sets: initialised, every set
  // read-only but DBPROPSET_DATASOURCE; uninitialised, every set hidden but
  // DBPROPSET_DBINIT.
  virtual void SetInitialized(bool value);
  // The provider's own work, run before the state changes.
  virtual void DoInitialize() {}
  virtual void DoUninitialize() {}

  // E_UNEXPECTED unless initialised.
  void CheckInitialized() const;
  // DBPROP_ACTIVESESSIONS above 0 and at least that many sessions open.
  bool SessionLimitReached() const;
  bool IsInitialized() const noexcept { return initialized_; }

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
  // IDBCreateSession
  HRESULT STDMETHODCALLTYPE CreateSession(IUnknown* pUnkOuter, REFIID riid, IUnknown** ppDBSession) override;
  // IDBProperties
  HRESULT STDMETHODCALLTYPE GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                          ULONG* pcPropertySets, DBPROPSET** prgPropertySets) override;
  HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                            ULONG* pcPropertyInfoSets, DBPROPINFOSET** prgPropertyInfoSets,
                                            OLECHAR** ppDescBuffer) override;
  HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) override;
  // IDBInitialize
  HRESULT STDMETHODCALLTYPE Initialize() override;
  HRESULT STDMETHODCALLTYPE Uninitialize() override;

protected:
  const char* QueryInterfaceFailPrefix() const noexcept override { return "Datasource QI Fail: "; }

private:
  bool initialized_ = false;
};
