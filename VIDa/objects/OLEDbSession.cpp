#include "OLEDbSession.h"

#include <oledberr.h>

#include "OLEDbPropertyCatalogue.h"
#include "OLEDbRowset.h"

// {7C2E4A90-3B1D-4E6F-8A57-C4D9E0B31A01} and neighbours: private to the toolkit.
const IID IID_OleDbOptionalCreateCommand = {0x7c2e4a90, 0x3b1d, 0x4e6f, {0x8a, 0x57, 0xc4, 0xd9, 0xe0, 0xb3, 0x1a, 0x01}};
const IID IID_OleDbOptionalSchemaRowset = {0x7c2e4a90, 0x3b1d, 0x4e6f, {0x8a, 0x57, 0xc4, 0xd9, 0xe0, 0xb3, 0x1a, 0x02}};

namespace {
const TOleDbOptionalInterface SessionOptionalInterfaces[] = {
    {&IID_IDBCreateCommand, &IID_OleDbOptionalCreateCommand, OleDbSessionCreateCommand},
    {&IID_IDBSchemaRowset, &IID_OleDbOptionalSchemaRowset, OleDbSessionSchemaRowset},
};
}  // namespace

void TOleDbSession::InitializeObject() {
  TComImpl::InitializeObject();
  CreateSchemaStorage();
  if (SchemaStorage && !SchemaStorage->OnBuildSchema)
    SchemaStorage->OnBuildSchema = [this](const TOleDbSchema& schema, const TOleDbRestrictions& restrictions,
                                          TComPtr<IOleDbRowsetData>& data) {
      BuildSchemaRowset(schema, restrictions, data);
    };
}

void TOleDbSession::InitProperties() {
  TComImpl::InitProperties();
  PropertySets().FindOrCreateSet(DBPROPSET_SESSION).AddDefaults(SessionPropertyIDs);
}

void TOleDbSession::BuildSchemaRowset(const TOleDbSchema&, const TOleDbRestrictions&, TComPtr<IOleDbRowsetData>&) {}

void TOleDbSession::CreateSchemaStorage() {
  SchemaStorage = std::make_unique<TOleDbSchemaStorage>(std::make_unique<TOleDbSchemas>());
}

void TOleDbSession::CreateRowset(IUnknown* outer, REFIID riid, TComPtr<IUnknown>& rowset, TOleDbExecParams&) {
  CreateRowsetObject(L"TOleDbSession.GetRowsetClass", outer, riid, rowset.PutVoid());
}

std::unique_ptr<TOleDbExecParams> TOleDbSession::CreateExecParams(const DBID* tableID, const DBID* indexID) {
  std::wstring tableName, indexName;
  CheckTableAndIndexID(tableID, indexID, tableName, indexName);
  return std::make_unique<TOleDbExecParams>(tableName, indexName);
}

TOleDbSchemaStorage& TOleDbSession::Schemas() const {
  if (!SchemaStorage) throw EOleError(L"SchemaStorage must be defined", E_UNEXPECTED);
  return *SchemaStorage;
}

std::span<const TOleDbOptionalInterface> TOleDbSession::OptionalInterfaces() const noexcept {
  return SessionOptionalInterfaces;
}

HRESULT TOleDbSession::OpenRowset(IUnknown* pUnkOuter, DBID* pTableID, DBID* pIndexID, REFIID riid,
                                  ULONG cPropertySets, DBPROPSET rgPropertySets[], IUnknown** ppRowset) {
  return Guard([&] {
    if (!ppRowset) throw EOleDbException(E_INVALIDARG);
    *ppRowset = nullptr;
    CheckAggregation(pUnkOuter, riid);
    if (cPropertySets > 0 && !rgPropertySets) throw EOleDbException(E_INVALIDARG);
    const std::unique_ptr<TOleDbExecParams> params = CreateExecParams(pTableID, pIndexID);

    // Any failure from here on releases the rowset, which leaves this
    // session's children again.
    TComPtr<IUnknown> rowset;
    CreateRowset(pUnkOuter, riid, rowset, *params);
    TComPtr<IOleDbRowsetInit> init = AdoptRowset(*rowset, *this);
    HRESULT status = S_OK;
    init->SetRowsetProperties(cPropertySets, rgPropertySets, true, status);
    init->Open(*params);
    init.Reset();

    TComPtr<IUnknown> answer;
    OleDbCheck(rowset->QueryInterface(riid, answer.PutVoid()));
    *ppRowset = answer.Detach();
    OleDbError(status);
  }, [&](TOleDbTraceArgs& t) {
    t("pUnkOuter", pUnkOuter)("pTableID", pTableID)("pIndexID", pIndexID)("riid", riid);
    t.Items("rgPropertySets", cPropertySets, rgPropertySets);
  });
}

HRESULT TOleDbSession::GetDataSource(REFIID riid, IUnknown** ppDataSource) {
  return Guard([&] {
    if (!ppDataSource) throw EOleDbException(E_INVALIDARG);
    *ppDataSource = nullptr;
    if (!Parent) throw EOleDbException(E_FAIL);
    return Parent->QueryInterface(riid, reinterpret_cast<void**>(ppDataSource));
  }, [&](TOleDbTraceArgs& t) { t("riid", riid); });
}

HRESULT TOleDbSession::GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                     ULONG* pcPropertySets, DBPROPSET** prgPropertySets) {
  return Guard([&] {
    OleDbError(PropertyStorage->GetProperties(cPropertyIDSets, rgPropertyIDSets, pcPropertySets, prgPropertySets));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgPropertyIDSets", cPropertyIDSets, rgPropertyIDSets); });
}

HRESULT TOleDbSession::SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) {
  return Guard([&] { OleDbError(PropertyStorage->SetProperties(cPropertySets, rgPropertySets, false)); },
               [&](TOleDbTraceArgs& t) { t.Items("rgPropertySets", cPropertySets, rgPropertySets); });
}

HRESULT TOleDbSession::CreateCommand(IUnknown* pUnkOuter, REFIID riid, IUnknown** ppCommand) {
  return Guard([&] {
    if (ppCommand) *ppCommand = nullptr;
    const TOleDbClass* cls = OleDbClass();
    const TOleDbClass* commandClass = cls ? cls->GetCommmandClass() : nullptr;
    if (!commandClass) NotImplemented(L"TOleDbSession.GetCommmandClass");
    if (!ppCommand) throw EOleDbException(E_INVALIDARG);
    CreateChildObject(*commandClass, pUnkOuter, riid, ppCommand);
  }, [&](TOleDbTraceArgs& t) { t("pUnkOuter", pUnkOuter)("riid", riid); });
}

HRESULT TOleDbSession::GetRowset(IUnknown* pUnkOuter, REFGUID rguidSchema, ULONG cRestrictions,
                                 const VARIANT rgRestrictions[], REFIID riid, ULONG cPropertySets,
                                 DBPROPSET rgPropertySets[], IUnknown** ppRowset) {
  return Guard([&] {
    if (ppRowset) *ppRowset = nullptr;
    OleDbError(Schemas().GetRowset(pUnkOuter, rguidSchema, cRestrictions, rgRestrictions, riid, cPropertySets,
                                   rgPropertySets, ppRowset));
  }, [&](TOleDbTraceArgs& t) {
    t("pUnkOuter", pUnkOuter)("rguidSchema", rguidSchema).Items("rgRestrictions", cRestrictions, rgRestrictions);
    t("riid", riid).Items("rgPropertySets", cPropertySets, rgPropertySets);
  });
}

HRESULT TOleDbSession::GetSchemas(ULONG* pcSchemas, GUID** prgSchemas, ULONG** prgRestrictionSupport) {
  return Guard([&] { Schemas().GetSchemas(pcSchemas, prgSchemas, prgRestrictionSupport); },
               [&](TOleDbTraceArgs& t) { t.Out("pcSchemas", pcSchemas); });
}
