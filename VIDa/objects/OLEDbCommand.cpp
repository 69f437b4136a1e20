#include "OLEDbCommand.h"

#include <oledberr.h>

#include <algorithm>
#include <cwctype>

#include "OLEDbDataConvert.h"
#include "OLEDbPropertyCatalogue.h"
#include "OLEDbRowset.h"

// {9D4B6E21-5C3A-4F70-B18E-2A6C7D0E5B01} and neighbours: private to the toolkit.
const IID IID_OleDbOptionalCommandPrepare = {0x9d4b6e21, 0x5c3a, 0x4f70, {0xb1, 0x8e, 0x2a, 0x6c, 0x7d, 0x0e, 0x5b, 0x01}};
const IID IID_OleDbOptionalCommandWithParameters = {
    0x9d4b6e21, 0x5c3a, 0x4f70, {0xb1, 0x8e, 0x2a, 0x6c, 0x7d, 0x0e, 0x5b, 0x02}};

namespace {
// In the order QueryInterface tests them.
const TOleDbOptionalInterface CommandOptionalInterfaces[] = {
    {&IID_ICommandWithParameters, &IID_OleDbOptionalCommandWithParameters, OleDbCommandParameters},
    {&IID_ICommandPrepare, &IID_OleDbOptionalCommandPrepare, OleDbCommandPrepare},
};

bool IsBlankOrControl(wchar_t c) noexcept { return c <= L' '; }

bool StartsWithKeyword(std::wstring_view text, std::wstring_view keyword) noexcept {
  if (text.size() <= keyword.size() || text[keyword.size()] != L' ') return false;
  for (std::size_t i = 0; i < keyword.size(); ++i)
    if (static_cast<wchar_t>(std::towupper(text[i])) != keyword[i]) return false;
  return true;
}
}  // namespace

TOleDbCommand::TOleDbCommand() = default;
TOleDbCommand::~TOleDbCommand() = default;

void TOleDbCommand::InitializeObject() {
  TComImpl::InitializeObject();
  AccessorStorage = std::make_unique<TOleDbAccessorStorage>(std::make_unique<TOleDbAccessors>());
  ColumnStorage = std::make_unique<TOleDbColumnStorage>(std::make_unique<TOleDbColumns>());
  ParameterStorage = std::make_unique<TOleDbParameterStorage>(std::make_unique<TOleDbParameters>());
  ParameterStorage->OnCanDeriveParameters = [this] { return CanDescribeParameters(); };
  ParameterStorage->OnDeriveParameters = [this] { DescribeParameters(); };
  CreateCommandText();
}

void TOleDbCommand::InitProperties() {
  TComImpl::InitProperties();
  PropertySets().FindOrCreateSet(DBPROPSET_ROWSET).AddDefaults(StandardRowsetPropertyIDs);
}

void* TOleDbCommand::FindStaticInterface(REFIID riid) noexcept {
  if (IsEqualGUID(riid, IID_ICommand)) return static_cast<ICommand*>(static_cast<ICommandText*>(this));
  return TComImpl::FindStaticInterface(riid);
}

std::span<const TOleDbOptionalInterface> TOleDbCommand::OptionalInterfaces() const noexcept {
  return CommandOptionalInterfaces;
}

// ---- Hooks

bool TOleDbCommand::IsRowsetCommand() const {
  std::wstring_view text = Text();
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  for (std::wstring_view keyword : {L"UPDATE", L"INSERT", L"DELETE"})
    if (StartsWithKeyword(text, keyword)) return false;
  return true;
}

void TOleDbCommand::ExecuteCommand(TOleDbExecParams& params) {
  const std::wstring name = L"TOleDbCommand.ExecuteCommand\r\"" + params.Text + L"\"";
  NotImplemented(name.c_str());
}

void TOleDbCommand::OpenRowsetWith(IOleDbRowsetInit& rowsetInit, TOleDbExecParams& params) { rowsetInit.Open(params); }

void TOleDbCommand::PrepareCommand(ULONG) { NotImplemented(L"TOleDbCommand.PrepareCommand"); }

void TOleDbCommand::UnprepareCommand() { NotImplemented(L"TOleDbCommand.UnprepareCommand"); }

void TOleDbCommand::CreateCommandText() { CommandText = std::make_unique<TOleDbCommandText>(); }

void TOleDbCommand::CheckConvert(DBTYPE wFromType, DBTYPE, DBCONVERTFLAGS dwConvertFlags) {
  if ((dwConvertFlags & DBCONVERTFLAGS_PARAMETER) && !(Capabilities & OleDbCommandParameters))
    throw EOleDbException(DB_E_BADCONVERTFLAG);
  if (dwConvertFlags == DBCONVERTFLAGS_FROMVARIANT && wFromType != DBTYPE_VARIANT)
    throw EOleDbException(DB_E_BADTYPE);
}

void TOleDbCommand::CreateRowset(IUnknown* outer, REFIID riid, TComPtr<IUnknown>& rowset, TOleDbExecParams&) {
  CreateRowsetObject(L"TOleDbCommand.GetRowsetClass", outer, riid, rowset.PutVoid());
}

std::unique_ptr<TOleDbExecParams> TOleDbCommand::CreateRowsetExecParams() {
  return std::make_unique<TOleDbExecParams>(Text());
}

std::unique_ptr<TOleDbExecParams> TOleDbCommand::CreateStatementExecParams() {
  return std::make_unique<TOleDbExecParams>(Text());
}

// ---- Helpers

void TOleDbCommand::CheckState(std::initializer_list<TOleDbCommandState> states, HRESULT code) const {
  if (std::find(states.begin(), states.end(), State) != states.end()) throw EOleDbException(code);
}

const std::wstring& TOleDbCommand::Text() const {
  if (!CommandText) throw EOleError(L"CommandText must be defined", E_UNEXPECTED);
  return CommandText->Text;
}

void TOleDbCommand::RefreshColumns() {
  TOleDbColumns& columns = ColumnStorage->Columns();
  columns.Clear();
  if (!IsRowsetCommand()) return;
  const std::unique_ptr<TOleDbExecParams> params = CreateRowsetExecParams();
  DescribeColumns(*params, columns);
}

void TOleDbCommand::CheckParameterInfoState() const {
  // Once the consumer has described the parameters, even as none, the
  // storage answers whatever the text.
  if (ParameterStorage->State != TOleDbParameterState::NeverDescribed) return;
  CheckState({TOleDbCommandState::NoText}, DB_E_NOCOMMAND);
  if (Capabilities & OleDbCommandPrepare) CheckState({TOleDbCommandState::TextSet}, DB_E_NOTPREPARED);
}

bool TOleDbCommand::ColumnsKnown() const {
  if (State == TOleDbCommandState::NoText) return false;
  return !(Capabilities & OleDbCommandPrepare) || State == TOleDbCommandState::Prepared;
}

void TOleDbCommand::CheckColumnsState() const {
  CheckState({TOleDbCommandState::NoText}, DB_E_NOCOMMAND);
  if (Capabilities & OleDbCommandPrepare)
    CheckState({TOleDbCommandState::TextSet, TOleDbCommandState::Executed}, DB_E_NOTPREPARED);
}

void TOleDbCommand::BindParameters(TOleDbExecParams& params, const DBPARAMS* pParams) {
  if (pParams) {
    if (pParams->cParamSets > 0 && !pParams->pData) throw EOleDbException(E_INVALIDARG);
    TOleDbAccessor* accessor = AccessorStorage->Accessors().FindAccessor(pParams->hAccessor);
    if (!accessor) throw EOleDbException(DB_E_BADACCESSORHANDLE);
    if (!(accessor->Flags() & DBACCESSOR_PARAMETERDATA)) throw EOleDbException(DB_E_BADACCESSORTYPE);
    TOleDbParameters& parameters = ParameterStorage->Parameters();
    parameters.BindForExecution(*pParams, accessor, Text());
    params.Parameters = &parameters;
  }
  params.PropertySets = &PropertySets();
}

void TOleDbCommand::InheritAccessors(IUnknown& rowset) {
  const TOleDbAccessors& own = AccessorStorage->Accessors();
  if (own.Count() == 0) return;
  TComPtr<IOleDbClass> link;
  OleDbCheck(rowset.QueryInterface(IID_IOleDbClass, link.PutVoid()));
  auto* target = dynamic_cast<TOleDbRowset*>(link->GetObject());
  if (!target) throw EOleError(L"Accessors can only be inherited by a toolkit rowset", E_UNEXPECTED);
  for (std::size_t i = 0; i < own.Count(); ++i) {
    const TOleDbAccessor& accessor = own.AccessorAt(i);
    if (accessor.IsRowData()) target->Accessors().CreateInheritedCopy(accessor);
  }
}

DBROWCOUNT TOleDbCommand::ExecuteRowset(IUnknown* outer, REFIID riid, const DBPARAMS* pParams, IUnknown** ppRowset,
                                        HRESULT& status) {
  CheckAggregation(outer, riid);
  const std::unique_ptr<TOleDbExecParams> params = CreateRowsetExecParams();
  BindParameters(*params, pParams);

  // Until it is handed out, a failure releases the rowset, which leaves
  // this command's children again.
  TComPtr<IUnknown> rowset;
  CreateRowset(outer, riid, rowset, *params);
  TComPtr<IOleDbRowsetInit> init = AdoptRowset(*rowset, *this);
  init->CopyRowsetProperties(PropertySets(), status, true);
  InheritAccessors(*rowset);
  OpenRowsetWith(*init, *params);
  init.Reset();

  if (ppRowset) *ppRowset = rowset.Detach();
  State = TOleDbCommandState::Executed;
  return params->RowsAffected;
}

DBROWCOUNT TOleDbCommand::ExecuteStatement(const DBPARAMS* pParams) {
  const std::unique_ptr<TOleDbExecParams> params = CreateStatementExecParams();
  BindParameters(*params, pParams);
  ExecuteCommand(*params);
  State = TOleDbCommandState::Executed;
  return params->RowsAffected;
}

// ---- ICommand

HRESULT TOleDbCommand::Cancel() {
  return Guard([&] {
    CancelCommand();
    State = TOleDbCommandState::TextSet;
  });
}

HRESULT TOleDbCommand::Execute(IUnknown* pUnkOuter, REFIID riid, DBPARAMS* pParams, DBROWCOUNT* pcRowsAffected,
                               IUnknown** ppRowset) {
  return Guard([&] {
    // Null from the start, so that no failure leaves the consumer a stale
    // pointer to release.
    if (ppRowset) *ppRowset = nullptr;
    CheckState({TOleDbCommandState::NoText}, DB_E_NOCOMMAND);
    HRESULT status = S_OK;
    const DBROWCOUNT rowsAffected =
        IsRowsetCommand() ? ExecuteRowset(pUnkOuter, riid, pParams, ppRowset, status) : ExecuteStatement(pParams);
    // Written with the warning of unsettable properties as well: the
    // consumer reads it either way.
    if (pcRowsAffected) *pcRowsAffected = rowsAffected;
    OleDbError(status);
  }, [&](TOleDbTraceArgs& t) {
    t("pUnkOuter", pUnkOuter)("riid", riid)("pParams", pParams).Out("pcRowsAffected", pcRowsAffected);
  });
}

HRESULT TOleDbCommand::GetDBSession(REFIID riid, IUnknown** ppSession) {
  return Guard([&]() -> HRESULT {
    if (!ppSession) throw EOleDbException(E_INVALIDARG);
    *ppSession = nullptr;
    if (!Parent) return S_FALSE;
    return Parent->QueryInterface(riid, reinterpret_cast<void**>(ppSession));
  }, [&](TOleDbTraceArgs& t) { t("riid", riid); });
}

// ---- ICommandText

HRESULT TOleDbCommand::GetCommandText(GUID* pguidDialect, LPOLESTR* ppwszCommand) {
  return Guard([&] {
    if (!ppwszCommand) throw EOleDbException(E_INVALIDARG);
    *ppwszCommand = nullptr;
    CheckState({TOleDbCommandState::NoText}, DB_E_NOCOMMAND);
    GUID dialect;
    std::wstring text;
    HRESULT status = S_OK;
    CommandText->GetText(dialect, text, status);
    *ppwszCommand = OleDbStrDup(text.c_str());
    if (pguidDialect) *pguidDialect = DBGUID_DEFAULT;
    OleDbError(status);
  });
}

HRESULT TOleDbCommand::SetCommandText(REFGUID rguidDialect, LPCOLESTR pwszCommand) {
  return Guard([&] {
    if (HasChildren()) CheckState({TOleDbCommandState::Executed}, DB_E_OBJECTOPEN);
    CommandText->SetText(rguidDialect, pwszCommand ? std::wstring(pwszCommand) : std::wstring());
    State = TOleDbCommandState::TextSet;
  }, [&](TOleDbTraceArgs& t) { t("rguidDialect", rguidDialect)("pwszCommand", pwszCommand); });
}

// ---- ICommandProperties

HRESULT TOleDbCommand::GetProperties(const ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                     ULONG* pcPropertySets, DBPROPSET** prgPropertySets) {
  return Guard([&] {
    OleDbError(PropertyStorage->GetProperties(cPropertyIDSets, rgPropertyIDSets, pcPropertySets, prgPropertySets));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgPropertyIDSets", cPropertyIDSets, rgPropertyIDSets); });
}

HRESULT TOleDbCommand::SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) {
  return Guard([&] {
    if (HasChildren()) CheckState({TOleDbCommandState::Executed}, DB_E_OBJECTOPEN);
    OleDbError(PropertyStorage->SetProperties(cPropertySets, rgPropertySets, false));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgPropertySets", cPropertySets, rgPropertySets); });
}

// ---- ICommandPrepare

HRESULT TOleDbCommand::Prepare(ULONG cExpectedRuns) {
  return Guard([&] {
    CheckState({TOleDbCommandState::NoText}, DB_E_NOCOMMAND);
    if (HasChildren()) CheckState({TOleDbCommandState::Executed}, DB_E_OBJECTOPEN);
    PrepareCommand(cExpectedRuns);
    State = TOleDbCommandState::Prepared;
  }, [&](TOleDbTraceArgs& t) { t("cExpectedRuns", cExpectedRuns); });
}

HRESULT TOleDbCommand::Unprepare() {
  return Guard([&] {
    if (HasChildren()) CheckState({TOleDbCommandState::Executed}, DB_E_OBJECTOPEN);
    UnprepareCommand();
    if (State == TOleDbCommandState::Prepared || State == TOleDbCommandState::Executed)
      State = TOleDbCommandState::TextSet;
  });
}

// ---- ICommandWithParameters

HRESULT TOleDbCommand::GetParameterInfo(DB_UPARAMS* pcParams, DBPARAMINFO** prgParamInfo, OLECHAR** ppNamesBuffer) {
  return Guard([&] {
    if (pcParams) *pcParams = 0;
    if (prgParamInfo) *prgParamInfo = nullptr;
    if (ppNamesBuffer) *ppNamesBuffer = nullptr;
    CheckParameterInfoState();
    ParameterStorage->GetParameterInfo(pcParams, prgParamInfo, ppNamesBuffer);
  }, [&](TOleDbTraceArgs& t) { t.Out("pcParams", pcParams); });
}

HRESULT TOleDbCommand::MapParameterNames(DB_UPARAMS cParamNames, const OLECHAR* rgParamNames[],
                                         DB_LPARAMS rgParamOrdinals[]) {
  return Guard([&] {
    CheckParameterInfoState();
    OleDbError(ParameterStorage->MapParameterNames(cParamNames, rgParamNames, rgParamOrdinals));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgParamNames", cParamNames, rgParamNames); });
}

HRESULT TOleDbCommand::SetParameterInfo(DB_UPARAMS cParams, const DB_UPARAMS rgParamOrdinals[],
                                        const DBPARAMBINDINFO rgParamBindInfo[]) {
  return Guard([&] {
    if (HasChildren()) CheckState({TOleDbCommandState::Executed}, DB_E_OBJECTOPEN);
    OleDbError(ParameterStorage->SetParameterInfo(cParams, rgParamOrdinals, rgParamBindInfo));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgParamOrdinals", cParams, rgParamOrdinals); });
}

// ---- IColumnsInfo

HRESULT TOleDbCommand::GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo, OLECHAR** ppStringsBuffer) {
  return Guard([&] {
    if (pcColumns) *pcColumns = 0;
    if (prgInfo) *prgInfo = nullptr;
    if (ppStringsBuffer) *ppStringsBuffer = nullptr;
    CheckColumnsState();
    RefreshColumns();
    ColumnStorage->GetColumnInfo(pcColumns, prgInfo, ppStringsBuffer);
  }, [&](TOleDbTraceArgs& t) { t.Out("pcColumns", pcColumns); });
}

HRESULT TOleDbCommand::MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[], DBORDINAL rgColumns[]) {
  return Guard([&] {
    CheckColumnsState();
    RefreshColumns();
    OleDbError(ColumnStorage->MapColumnIDs(cColumnIDs, rgColumnIDs, rgColumns));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgColumnIDs", cColumnIDs, rgColumnIDs); });
}

// ---- IConvertType

HRESULT TOleDbCommand::CanConvert(DBTYPE wFromType, DBTYPE wToType, DBCONVERTFLAGS dwConvertFlags) {
  return Guard([&] {
    CheckConvert(wFromType, wToType, dwConvertFlags);
    if (IDataConvert* convert = GetDataConvert()) OleDbError(convert->CanConvert(wFromType, wToType));
  }, [&](TOleDbTraceArgs& t) { t("wFromType", wFromType)("wToType", wToType)("dwConvertFlags", dwConvertFlags); });
}

// ---- IAccessor

HRESULT TOleDbCommand::AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
  return Guard([&] { AccessorStorage->AddRefAccessor(hAccessor, pcRefCount); },
               [&](TOleDbTraceArgs& t) { t("hAccessor", hAccessor).Out("pcRefCount", pcRefCount); });
}

HRESULT TOleDbCommand::CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                      const DBBINDING rgBindings[], DBLENGTH cbRowSize, HACCESSOR* phAccessor,
                                      DBBINDSTATUS rgStatus[]) {
  return Guard([&] {
    TAccessorRules rules;
    // Conversions are checked against the current text's columns; while they
    // are not known, the rowset checks the accessor when it takes it over.
    if (ColumnsKnown()) {
      RefreshColumns();
      rules.Columns = &ColumnStorage->Columns();
    }
    AccessorStorage->CreateAccessor(dwAccessorFlags, cBindings, rgBindings, cbRowSize, phAccessor, rgStatus, rules);
  }, [&](TOleDbTraceArgs& t) {
    t("dwAccessorFlags", dwAccessorFlags).Items("rgBindings", cBindings, rgBindings)("cbRowSize", cbRowSize);
    t.Out("phAccessor", phAccessor);
  });
}

HRESULT TOleDbCommand::GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags, DBCOUNTITEM* pcBindings,
                                   DBBINDING** prgBindings) {
  return Guard([&] { AccessorStorage->GetBindings(hAccessor, pdwAccessorFlags, pcBindings, prgBindings); },
               [&](TOleDbTraceArgs& t) { t("hAccessor", hAccessor); });
}

HRESULT TOleDbCommand::ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
  return Guard([&] { AccessorStorage->ReleaseAccessor(hAccessor, pcRefCount); },
               [&](TOleDbTraceArgs& t) { t("hAccessor", hAccessor).Out("pcRefCount", pcRefCount); });
}
