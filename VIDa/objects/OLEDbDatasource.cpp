#include "OLEDbDatasource.h"

#include <oledberr.h>

#include <cstdio>

#include "Diagnostics.h"
#include "OLEDbPropertyCatalogue.h"

TOleDbDatasource::~TOleDbDatasource() = default;

void TOleDbDatasource::BeforeDestruction() noexcept {
  ChildCount = 0;
  // Uninitialize runs in the guard; a failure cannot be raised from here.
  HRESULT result = Uninitialize();
  if (FAILED(result)) {
    char line[64];
    snprintf(line, sizeof line, "Datasource Uninitialize failed: 0x%08lX", static_cast<unsigned long>(result));
    OleDbDebugOutput(line);
  }
  TComImpl::BeforeDestruction();
}

void TOleDbDatasource::InitializeObject() {
  TComImpl::InitializeObject();
  SetInitialized(initialized_);
}

void TOleDbDatasource::InitProperties() {
  TOleDbPropertySets& sets = PropertySets();
  TOleDbPropertySet& init = sets.FindOrCreateSet(DBPROPSET_DBINIT);
  for (DBPROPID id : DatasourceInitPropertyIDs) init.AddDefault(id, id == DBPROP_INIT_MODE);
  sets.FindOrCreateSet(DBPROPSET_DATASOURCE).AddDefaults(DatasourcePropertyIDs);
  sets.FindOrCreateSet(DBPROPSET_DATASOURCEINFO).AddDefaults(DatasourceInfoPropertyIDs);
  sets.FindOrCreateSet(DBPROPSET_ROWSET).AddDefaults(StandardRowsetPropertyIDs);

  std::wstring fileName = ComServer().ModuleFileName();
  size_t slash = fileName.find_last_of(L"\\/:");
  if (slash != std::wstring::npos) fileName.erase(0, slash + 1);
  VARIANT text;
  VariantInit(&text);
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocString(fileName.c_str());
  if (!V_BSTR(&text)) throw EOleDbException(E_OUTOFMEMORY);
  TOleDbVariant name;
  name.Adopt(text);
  sets.PutValue(DBPROPSET_DATASOURCEINFO, DBPROP_PROVIDERNAME, name.Get());
}

void TOleDbDatasource::SetInitialized(bool value) {
  initialized_ = value;
  TOleDbPropertySets& sets = PropertySets();
  if (value) {
    sets.SetAllStates(TOleDbPropertySetState::ReadOnly);
    if (TOleDbPropertySet* set = sets.FindSet(DBPROPSET_DATASOURCE)) set->State = TOleDbPropertySetState::Normal;
  } else {
    sets.SetAllStates(TOleDbPropertySetState::Hidden);
    if (TOleDbPropertySet* set = sets.FindSet(DBPROPSET_DBINIT)) set->State = TOleDbPropertySetState::Normal;
  }
}

void TOleDbDatasource::CheckInitialized() const {
  if (!initialized_) throw EOleDbException(E_UNEXPECTED);
}

bool TOleDbDatasource::SessionLimitReached() const {
  VARIANT limit;
  VariantInit(&limit);
  if (!PropertySets().GetValue(DBPROPSET_DATASOURCEINFO, DBPROP_ACTIVESESSIONS, limit)) return false;
  bool reached = false;
  if (SUCCEEDED(VariantChangeType(&limit, &limit, 0, VT_I4)))
    reached = V_I4(&limit) > 0 && ChildCount >= V_I4(&limit);
  VariantClear(&limit);
  return reached;
}

HRESULT TOleDbDatasource::GetClassID(CLSID* pClassID) {
  return Guard([&] {
    if (!pClassID) throw EOleDbException(E_INVALIDARG);
    *pClassID = Factory() ? Factory()->ClassID() : CLSID_NULL;
  });
}

HRESULT TOleDbDatasource::CreateSession(IUnknown* pUnkOuter, REFIID riid, IUnknown** ppDBSession) {
  return Guard([&] {
    if (!ppDBSession) throw EOleDbException(E_INVALIDARG);
    *ppDBSession = nullptr;
    CheckInitialized();
    CheckAggregation(pUnkOuter, riid);
    if (SessionLimitReached()) throw EOleDbException(DB_E_OBJECTCREATIONLIMITREACHED);
    const TOleDbClass* cls = OleDbClass();
    const TOleDbClass* sessionClass = cls ? cls->GetSessionClass() : nullptr;
    if (!sessionClass) NotImplemented(L"TOleDbDatasource.GetSessionClass");
    CreateChildObject(*sessionClass, pUnkOuter, riid, ppDBSession);
  }, [&](TOleDbTraceArgs& t) { t("pUnkOuter", pUnkOuter)("riid", riid); });
}

HRESULT TOleDbDatasource::GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                        ULONG* pcPropertySets, DBPROPSET** prgPropertySets) {
  return Guard([&] {
    OleDbError(PropertyStorage->GetProperties(cPropertyIDSets, rgPropertyIDSets, pcPropertySets, prgPropertySets));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgPropertyIDSets", cPropertyIDSets, rgPropertyIDSets); });
}

HRESULT TOleDbDatasource::GetPropertyInfo(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                          ULONG* pcPropertyInfoSets, DBPROPINFOSET** prgPropertyInfoSets,
                                          OLECHAR** ppDescBuffer) {
  return Guard([&] {
    OleDbError(PropertyStorage->GetPropertyInfo(cPropertyIDSets, rgPropertyIDSets, pcPropertyInfoSets,
                                                prgPropertyInfoSets, ppDescBuffer));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgPropertyIDSets", cPropertyIDSets, rgPropertyIDSets); });
}

HRESULT TOleDbDatasource::SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) {
  return Guard([&] { OleDbError(PropertyStorage->SetProperties(cPropertySets, rgPropertySets, false)); },
               [&](TOleDbTraceArgs& t) { t.Items("rgPropertySets", cPropertySets, rgPropertySets); });
}

HRESULT TOleDbDatasource::Initialize() {
  return Guard([&] {
    if (initialized_) throw EOleDbException(DB_E_ALREADYINITIALIZED);
    DoInitialize();
    SetInitialized(true);
  });
}

HRESULT TOleDbDatasource::Uninitialize() {
  return Guard([&] {
    if (!initialized_) return;
    if (HasChildren()) throw EOleDbException(DB_E_OBJECTOPEN);
    DoUninitialize();
    SetInitialized(false);
  });
}
