// Seeded random call sequences through the published interfaces, valid and
// invalid arguments mixed. Every result must be one the OLE DB reference
// allows the method (the table below), failed calls must clear their
// out-parameters, and a sequence must end with no task memory or heap block
// left behind once its objects are released.
#include "ConsumerFuzzer.h"

#include <msdasc.h>
#include <oledberr.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "ConsumerTestSupport.h"

namespace {
// The result codes the OLE DB reference lists for each method fuzzed (the
// common ones, S_OK, E_FAIL, E_OUTOFMEMORY and E_UNEXPECTED, for all).
const std::map<std::string, std::set<HRESULT>> AllowedResults = {
    {"SetProperties", {DB_S_ERRORSOCCURRED, E_INVALIDARG, DB_E_ERRORSOCCURRED}},
    {"GetProperties", {DB_S_ERRORSOCCURRED, E_INVALIDARG, DB_E_ERRORSOCCURRED}},
    {"Initialize", {DB_S_ERRORSOCCURRED, DB_E_ALREADYINITIALIZED, DB_E_ERRORSOCCURRED, DB_SEC_E_AUTH_FAILED}},
    {"Uninitialize", {DB_E_OBJECTOPEN}},
    {"CreateSession", {E_INVALIDARG, E_NOINTERFACE, DB_E_NOAGGREGATION, DB_E_OBJECTCREATIONLIMITREACHED}},
    {"OpenRowset", {DB_S_ERRORSOCCURRED, E_INVALIDARG, E_NOINTERFACE, DB_E_BADTABLEID, DB_E_NOTABLE,
                    DB_E_BADINDEXID, DB_E_NOINDEX, DB_E_NOAGGREGATION, DB_E_ERRORSOCCURRED, DB_SEC_E_PERMISSIONDENIED}},
    {"GetRowset", {DB_S_ERRORSOCCURRED, E_INVALIDARG, E_NOINTERFACE, DB_E_NOAGGREGATION, DB_E_NOTSUPPORTED,
                   DB_E_ERRORSOCCURRED, DB_SEC_E_PERMISSIONDENIED}},
    {"CreateCommand", {E_NOINTERFACE, DB_E_NOAGGREGATION, E_INVALIDARG}},
    {"SetCommandText", {DB_E_DIALECTNOTSUPPORTED, DB_E_OBJECTOPEN, DB_E_CANTTRANSLATE}},
    {"Execute", {DB_S_ERRORSOCCURRED, E_INVALIDARG, E_NOINTERFACE, DB_E_ERRORSINCOMMAND, DB_E_NOCOMMAND,
                 DB_E_NOTABLE, DB_E_NOAGGREGATION, DB_E_ERRORSOCCURRED, DB_E_OBJECTOPEN, DB_E_PARAMNOTOPTIONAL,
                 DB_SEC_E_PERMISSIONDENIED}},
    {"GetColumnInfo", {E_INVALIDARG, DB_E_NOTPREPARED, DB_E_NOCOMMAND}},
    {"CreateAccessor", {E_INVALIDARG, DB_E_BADACCESSORFLAGS, DB_E_BADBINDINFO, DB_E_BADORDINAL,
                        DB_E_BYREFACCESSORNOTSUPPORTED, DB_E_ERRORSOCCURRED, DB_E_NULLACCESSORNOTSUPPORTED,
                        DB_E_NOTREENTRANT}},
    {"ReleaseAccessor", {E_INVALIDARG, DB_E_BADACCESSORHANDLE}},
    {"GetNextRows", {DB_S_ENDOFROWSET, DB_S_ROWLIMITEXCEEDED, DB_S_STOPLIMITREACHED, E_INVALIDARG, DB_E_BADCHAPTER,
                     DB_E_BADSTARTPOSITION, DB_E_CANCELED, DB_E_CANTFETCHBACKWARDS, DB_E_CANTSCROLLBACKWARDS,
                     DB_E_ROWSNOTRELEASED, DB_E_NOTREENTRANT}},
    // DB_E_BADORDINAL: rowset accessors have their ordinals checked when data moves.
    {"GetData", {DB_S_ERRORSOCCURRED, E_INVALIDARG, DB_E_BADACCESSORHANDLE, DB_E_BADACCESSORTYPE,
                 DB_E_BADROWHANDLE, DB_E_DELETEDROW, DB_E_ERRORSOCCURRED, DB_E_NOTREENTRANT, DB_E_BADORDINAL}},
    {"ReleaseRows", {DB_S_ERRORSOCCURRED, E_INVALIDARG, DB_E_ERRORSOCCURRED, DB_E_NOTREENTRANT}},
    {"RestartPosition", {DB_S_COLUMNSCHANGED, DB_S_COMMANDREEXECUTED, DB_E_CANCELED, DB_E_CANNOTRESTART,
                         DB_E_ROWSNOTRELEASED, DB_E_NOTREENTRANT, DB_E_BADCHAPTER}},
};

struct TAccessor {
  HACCESSOR Handle;
  std::vector<DBBINDING> Bindings;
};

// One consumer's objects and what it holds of them.
struct TState {
  TComPtr<IDBInitialize> Source;
  TComPtr<IOpenRowset> Session;
  TComPtr<ICommandText> Command;
  TComPtr<IRowset> Rowset, Other;
  std::vector<TAccessor> Accessors;
  std::vector<HROW> Rows;
  std::vector<HROW> Stale;  // released rows and the other rowset's
  std::vector<HACCESSOR> StaleAccessors;
};

class TSequence {
public:
  TSequence(const TProviderModule& dll, const std::wstring& folder, std::uint64_t seed, bool trace = false)
      : dll_(dll), folder_(folder), seed_(seed), random_(seed), trace_(trace) {}

  // Runs up to steps calls, skipping those in skip; the first finding, or empty.
  std::string Run(int steps, const std::set<int>& skip, std::uint64_t& calls);

private:
  std::uint64_t Pick(std::uint64_t n) { return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random_); }
  bool Chance(int percent) { return Pick(100) < static_cast<std::uint64_t>(percent); }
  void Check(const char* method, HRESULT hr, bool cleared = true);
  void Step();
  void FreeData(const TAccessor& accessor, BYTE* data, bool succeeded);
  DBID TableId(std::wstring& name);

  const TProviderModule& dll_;
  std::wstring folder_;
  std::uint64_t seed_;
  std::mt19937_64 random_;
  bool trace_;  // prints each call, for reading a reproducer
  int step_ = -1;
  TState state_;
  std::string finding_;
  std::uint64_t calls_ = 0;
  std::vector<BYTE> buffer_ = std::vector<BYTE>(16384);
};

void TSequence::Check(const char* method, HRESULT hr, bool cleared) {
  ++calls_;
  if (trace_) std::printf("  step %d: %s -> %s\n", step_, method, HResultText(hr).c_str());
  if (!finding_.empty()) return;
  const auto allowed = AllowedResults.find(method);
  const bool common = hr == S_OK || hr == E_FAIL || hr == E_OUTOFMEMORY || hr == E_UNEXPECTED;
  if (!common && (allowed == AllowedResults.end() || !allowed->second.count(hr)))
    finding_ = std::string(method) + " returned " + HResultText(hr) + ", which it may not";
  else if (FAILED(hr) && !cleared)
    finding_ = std::string(method) + " failed with " + HResultText(hr) + " and left its out-parameters set";
}

DBID TSequence::TableId(std::wstring& name) {
  static const wchar_t* const Names[] = {TSandbox::Table, L"MAIL1-20100401.LOG", L"missing.log", L"..\\escape.log",
                                         L"..\\..\\..\\Windows\\win.ini", L"C:\\Windows\\win.ini", L"\\\\.\\NUL",
                                         L"sub\\..\\mail1-20100401.log", L"", L"*.log", L"CON", L"a\x00e9\x4e2d.log"};
  name = Names[Pick(std::size(Names))];
  if (Chance(5)) name.assign(40000, L'x');
  DBID id{};
  const DBKIND kinds[] = {DBKIND_NAME, DBKIND_NAME, DBKIND_NAME, DBKIND_GUID, DBKIND_PROPID, DBKIND_GUID_NAME,
                          DBKIND_PGUID_NAME, static_cast<DBKIND>(77)};
  id.eKind = kinds[Pick(std::size(kinds))];
  if (id.eKind == DBKIND_PGUID_NAME) id.uGuid.pguid = nullptr;
  if (id.eKind != DBKIND_GUID && id.eKind != DBKIND_PROPID) id.uName.pwszName = Chance(5) ? nullptr : name.data();
  return id;
}

void TSequence::FreeData(const TAccessor& accessor, BYTE* data, bool succeeded) {
  for (const DBBINDING& binding : accessor.Bindings) {
    if (!(binding.dwPart & DBPART_VALUE)) continue;
    DBSTATUS status = DBSTATUS_S_OK;
    if (binding.dwPart & DBPART_STATUS) std::memcpy(&status, data + binding.obStatus, sizeof status);
    else if (!succeeded) continue;
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) continue;
    BYTE* value = data + binding.obValue;
    void* pointer = nullptr;
    std::memcpy(&pointer, value, sizeof pointer);
    if (binding.wType == DBTYPE_BSTR) SysFreeString(static_cast<BSTR>(pointer));
    else if (binding.wType == DBTYPE_VARIANT) VariantClear(reinterpret_cast<VARIANT*>(value));
    else if (binding.wType & DBTYPE_BYREF) CoTaskMemFree(pointer);
    else if (binding.wType == DBTYPE_IUNKNOWN && pointer) static_cast<IUnknown*>(pointer)->Release();
  }
}

void TSequence::Step() {
  TState& s = state_;
  switch (Pick(16)) {
    case 0: {  // a new data source, or dropping the old one with everything it made
      if (Chance(50)) s = TState{};
      HRESULT hr = S_OK;
      s.Source = dll_.Create(hr);
      Check("CreateInstance", hr);
      break;
    }
    case 1: {
      if (!s.Source) break;
      TComPtr<IDBProperties> properties;
      s.Source->QueryInterface(IID_IDBProperties, properties.PutVoid());
      static const wchar_t* const Folders[] = {L"", L"\\sub", L"\\missing", L"\\..\\", L"\\.\\", L"   "};
      DBPROP prop{};
      prop.dwPropertyID =
          Chance(80) ? static_cast<DBPROPID>(DBPROP_INIT_DATASOURCE) : static_cast<DBPROPID>(Pick(300));
      prop.dwOptions = Chance(50) ? DBPROPOPTIONS_REQUIRED : DBPROPOPTIONS_OPTIONAL;
      prop.colid = DB_NULLID;
      VariantInit(&prop.vValue);
      if (Chance(85)) {
        // Names that try to leave the sandbox are for the provider to refuse;
        // the run never names a folder outside it itself.
        std::wstring folder = folder_ + Folders[Pick(std::size(Folders))];
        if (folder.size() > 2 && folder.back() == L'\\' && Chance(50)) folder += L"zellogdb-fuzz-sandbox-escape";
        V_VT(&prop.vValue) = VT_BSTR;
        V_BSTR(&prop.vValue) = SysAllocString(folder.c_str());
      } else {
        V_VT(&prop.vValue) = static_cast<VARTYPE>(Chance(50) ? VT_I4 : VT_NULL);
      }
      DBPROPSET set{&prop, 1, Chance(90) ? DBPROPSET_DBINIT : DBPROPSET_ROWSET};
      const ULONG count = Chance(95) ? 1 : 2;
      Check("SetProperties", properties->SetProperties(count, count == 1 ? &set : nullptr));
      VariantClear(&prop.vValue);
      break;
    }
    case 2:
      if (s.Source) Check("Initialize", s.Source->Initialize());
      break;
    case 3:
      if (s.Source && Chance(30)) Check("Uninitialize", s.Source->Uninitialize());
      break;
    case 4: {
      if (!s.Source) break;
      TComPtr<IDBCreateSession> creator;
      if (FAILED(s.Source->QueryInterface(IID_IDBCreateSession, creator.PutVoid()))) break;
      TComPtr<IOpenRowset> session;
      const IID& iid = Chance(90) ? IID_IOpenRowset : IID_IRowset;
      const HRESULT hr = creator->CreateSession(Chance(5) ? s.Source.Get() : nullptr, iid,
                                                Chance(3) ? nullptr : reinterpret_cast<IUnknown**>(session.Put()));
      Check("CreateSession", hr, SUCCEEDED(hr) || !session);
      if (SUCCEEDED(hr)) s.Session = session;
      break;
    }
    case 5: case 6: {
      if (!s.Session) break;
      std::wstring name;
      DBID id = TableId(name);
      TComPtr<IRowset> rowset;
      const HRESULT hr = s.Session->OpenRowset(nullptr, Chance(5) ? nullptr : &id, nullptr,
                                               Chance(95) ? IID_IRowset : IID_IDBProperties, 0, nullptr,
                                               reinterpret_cast<IUnknown**>(rowset.Put()));
      Check("OpenRowset", hr, SUCCEEDED(hr) || !rowset);
      if (hr == S_OK && rowset) {
        if (s.Rowset && Chance(50)) {
          s.Other = s.Rowset;  // its rows and accessors become foreign
          s.Stale.insert(s.Stale.end(), s.Rows.begin(), s.Rows.end());
          for (const TAccessor& a : s.Accessors) s.StaleAccessors.push_back(a.Handle);
          s.Rows.clear();
          s.Accessors.clear();
        }
        s.Rowset = rowset;
      }
      break;
    }
    case 7: {
      if (!s.Session) break;
      TComPtr<IDBSchemaRowset> schemas;
      if (FAILED(s.Session->QueryInterface(IID_IDBSchemaRowset, schemas.PutVoid()))) break;
      const GUID guids[] = {DBSCHEMA_TABLES, DBSCHEMA_COLUMNS, DBSCHEMA_PROVIDER_TYPES, DBSCHEMA_INDEXES, DBSCHEMA_VIEWS};
      VARIANT restrictions[6];
      const ULONG count = static_cast<ULONG>(Pick(7));
      for (VARIANT& v : restrictions) {
        VariantInit(&v);
        switch (Pick(4)) {
          case 0: V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocString(Chance(50) ? TSandbox::Table : L"missing.log"); break;
          case 1: V_VT(&v) = VT_I4; V_I4(&v) = static_cast<LONG>(Pick(200)); break;
          case 2: V_VT(&v) = VT_UI2; V_UI2(&v) = DBTYPE_WSTR; break;
          default: break;
        }
      }
      TComPtr<IRowset> rowset;
      const HRESULT hr = schemas->GetRowset(nullptr, guids[Pick(std::size(guids))], count,
                                            count && Chance(5) ? nullptr : restrictions, IID_IRowset, 0, nullptr,
                                            reinterpret_cast<IUnknown**>(rowset.Put()));
      for (VARIANT& v : restrictions) VariantClear(&v);
      Check("GetRowset", hr, SUCCEEDED(hr) || !rowset);
      if (SUCCEEDED(hr) && rowset && Chance(50)) ReadAllRows(rowset.Get(), TBindKind::WideText, 5);
      break;
    }
    case 8: {
      if (!s.Session) break;
      if (!s.Command || Chance(20)) {
        TComPtr<IDBCreateCommand> commands;
        if (FAILED(s.Session->QueryInterface(IID_IDBCreateCommand, commands.PutVoid()))) break;
        TComPtr<ICommandText> command;
        const HRESULT hr = commands->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.Put()));
        Check("CreateCommand", hr, SUCCEEDED(hr) || !command);
        s.Command = command;
      }
      if (!s.Command) break;
      std::wstring name;
      TableId(name);
      const std::wstring text = (Chance(70) ? L"SELECT * FROM " : L"DROP TABLE ") + name;
      Check("SetCommandText", s.Command->SetCommandText(Chance(90) ? DBGUID_DEFAULT : DBGUID_SESSION,
                                                        Chance(5) ? nullptr : text.c_str()));
      break;
    }
    case 9: {
      if (!s.Command) break;
      TComPtr<IRowset> rowset;
      const HRESULT hr = s.Command->Execute(nullptr, Chance(95) ? IID_IRowset : IID_IDBInitialize, nullptr, nullptr,
                                            reinterpret_cast<IUnknown**>(rowset.Put()));
      Check("Execute", hr, SUCCEEDED(hr) || !rowset);
      if (hr == S_OK && rowset && Chance(50)) s.Rowset = rowset;  // the old rowset goes with its rows held
      if (hr == S_OK && rowset && s.Rowset != rowset) s.Rows.clear(), s.Accessors.clear();
      break;
    }
    case 10: {
      if (!s.Rowset) break;
      TComPtr<IColumnsInfo> info;
      s.Rowset->QueryInterface(IID_IColumnsInfo, info.PutVoid());
      DBORDINAL count = 7;
      DBCOLUMNINFO* columns = reinterpret_cast<DBCOLUMNINFO*>(8);
      OLECHAR* strings = reinterpret_cast<OLECHAR*>(8);
      const int nulls = static_cast<int>(Pick(8));
      const HRESULT hr = info->GetColumnInfo(nulls == 1 ? nullptr : &count, nulls == 2 ? nullptr : &columns,
                                             nulls == 3 ? nullptr : &strings);
      Check("GetColumnInfo", hr, SUCCEEDED(hr) || nulls < 4 ? true : (count == 0 && !columns && !strings));
      if (SUCCEEDED(hr)) {
        CoTaskMemFree(columns);
        CoTaskMemFree(strings);
      }
      break;
    }
    case 11: {
      if (!s.Rowset) break;
      TComPtr<IAccessor> accessor;
      s.Rowset->QueryInterface(IID_IAccessor, accessor.PutVoid());
      static DBOBJECT stream{STGM_READ, IID_ISequentialStream};
      const DBTYPE types[] = {DBTYPE_WSTR, DBTYPE_STR, DBTYPE_BSTR, DBTYPE_VARIANT, DBTYPE_I4, DBTYPE_DATE,
                              DBTYPE_BOOL, DBTYPE_WSTR | DBTYPE_BYREF, DBTYPE_IUNKNOWN, DBTYPE_NUMERIC,
                              DBTYPE_DBTIMESTAMP, DBTYPE_I4 | DBTYPE_ARRAY, 0x7777, DBTYPE_EMPTY, DBTYPE_GUID};
      std::vector<DBBINDING> bindings(Pick(26));
      DBBYTEOFFSET offset = 0;
      for (DBBINDING& b : bindings) {
        b.iOrdinal = Chance(90) ? 1 + Pick(23) : Pick(40);
        b.wType = types[Pick(std::size(types))];
        b.dwPart = Chance(80) ? DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS : static_cast<DBPART>(Pick(16));
        b.dwMemOwner = Chance(95) ? DBMEMOWNER_CLIENTOWNED : DBMEMOWNER_PROVIDEROWNED;
        b.eParamIO = DBPARAMIO_NOTPARAM;
        b.cbMaxLen = Chance(90) ? 1 + Pick(300) : 0;
        b.pObject = b.wType == DBTYPE_IUNKNOWN && Chance(80) ? &stream : nullptr;
        b.obLength = offset;
        b.obStatus = offset + 8;
        b.obValue = offset + 16;
        offset += 16 + ((std::max<DBLENGTH>(b.cbMaxLen, 32) + 7) & ~DBLENGTH{7});
        if (offset > buffer_.size() - 512) break;
      }
      const DBACCESSORFLAGS flags =
          Chance(90) ? static_cast<DBACCESSORFLAGS>(DBACCESSOR_ROWDATA) : static_cast<DBACCESSORFLAGS>(Pick(64));
      HACCESSOR handle = 7;
      const HRESULT hr = accessor->CreateAccessor(flags, bindings.size(), bindings.empty() || Chance(97) ? bindings.data() : nullptr,
                                                  Chance(90) ? 0 : Pick(100), Chance(3) ? nullptr : &handle, nullptr);
      Check("CreateAccessor", hr, SUCCEEDED(hr) || handle == 0 || handle == 7);
      if (SUCCEEDED(hr)) s.Accessors.push_back({handle, bindings});
      break;
    }
    case 12: case 13: {
      if (!s.Rowset) break;
      const DBROWCOUNT counts[] = {0, 1, 3, 7, 100, -1, 1'000'000'000, LONG_MAX};
      const DBROWCOUNT count = counts[Pick(std::size(counts))];
      const DBROWOFFSET offset = Chance(80) ? 0 : static_cast<DBROWOFFSET>(Pick(5)) - 2;
      HROW own[8];
      HROW* rows = Chance(20) && count > 0 && count <= 8 ? own : nullptr;
      HROW* const given = rows;
      DBCOUNTITEM obtained = 5;
      const HRESULT hr = s.Rowset->GetNextRows(DB_NULL_HCHAPTER, offset, count, Chance(3) ? nullptr : &obtained,
                                               Chance(3) ? nullptr : &rows);
      Check("GetNextRows", hr, SUCCEEDED(hr) || obtained == 0 || obtained == 5);
      if (SUCCEEDED(hr)) {
        s.Rows.insert(s.Rows.end(), rows, rows + obtained);
        if (rows != given) CoTaskMemFree(rows);
      }
      break;
    }
    case 14: {
      if (!s.Rowset || (s.Accessors.empty() && s.StaleAccessors.empty())) break;
      const TAccessor* accessor = s.Accessors.empty() || Chance(10) ? nullptr : &s.Accessors[Pick(s.Accessors.size())];
      const HACCESSOR handle = accessor ? accessor->Handle
                               : s.StaleAccessors.empty() ? HACCESSOR(12345) : s.StaleAccessors[Pick(s.StaleAccessors.size())];
      HROW row = 777;
      if (!s.Rows.empty() && Chance(85)) row = s.Rows[Pick(s.Rows.size())];
      else if (!s.Stale.empty() && Chance(80)) row = s.Stale[Pick(s.Stale.size())];
      std::fill(buffer_.begin(), buffer_.end(), BYTE{0});
      const HRESULT hr = s.Rowset->GetData(row, handle, Chance(3) ? nullptr : buffer_.data());
      Check("GetData", hr);
      if (accessor) FreeData(*accessor, buffer_.data(), SUCCEEDED(hr));
      break;
    }
    case 15: {
      if (!s.Rowset) break;
      switch (Pick(5)) {
        case 0: {  // release some rows, now and then with stale ones among them
          std::vector<HROW> release;
          while (!s.Rows.empty() && Chance(70)) {
            const std::size_t i = Pick(s.Rows.size());
            release.push_back(s.Rows[i]);
            s.Stale.push_back(s.Rows[i]);
            s.Rows.erase(s.Rows.begin() + static_cast<std::ptrdiff_t>(i));
          }
          if (!s.Stale.empty() && Chance(20)) release.push_back(s.Stale[Pick(s.Stale.size())]);
          std::vector<DBROWSTATUS> statuses(release.size());
          Check("ReleaseRows", s.Rowset->ReleaseRows(release.size(), release.empty() && Chance(50) ? nullptr : release.data(),
                                                     nullptr, nullptr, Chance(50) ? statuses.data() : nullptr));
          break;
        }
        case 1: {
          if (s.Accessors.empty()) break;
          TComPtr<IAccessor> accessor;
          s.Rowset->QueryInterface(IID_IAccessor, accessor.PutVoid());
          const std::size_t i = Pick(s.Accessors.size());
          Check("ReleaseAccessor", accessor->ReleaseAccessor(s.Accessors[i].Handle, nullptr));
          s.StaleAccessors.push_back(s.Accessors[i].Handle);
          s.Accessors.erase(s.Accessors.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        }
        case 2:
          Check("RestartPosition", s.Rowset->RestartPosition(DB_NULL_HCHAPTER));
          break;
        case 3:  // the rowset goes before its rows
          s.Rowset = nullptr;
          s.Rows.clear();
          s.Accessors.clear();
          break;
        default: {
          TComPtr<IRowsetInfo> info;
          if (FAILED(s.Rowset->QueryInterface(IID_IRowsetInfo, info.PutVoid()))) break;
          ULONG count = 3;
          DBPROPSET* sets = reinterpret_cast<DBPROPSET*>(8);
          const HRESULT hr = info->GetProperties(0, nullptr, &count, &sets);
          Check("GetProperties", hr, SUCCEEDED(hr) || (count == 0 && !sets));
          if (SUCCEEDED(hr)) {
            for (ULONG i = 0; i < count; ++i) {
              for (ULONG p = 0; p < sets[i].cProperties; ++p) VariantClear(&sets[i].rgProperties[p].vValue);
              CoTaskMemFree(sets[i].rgProperties);
            }
            CoTaskMemFree(sets);
          }
        }
      }
      break;
    }
  }
}

std::string TSequence::Run(int steps, const std::set<int>& skip, std::uint64_t& calls) {
  // Most sequences start from an open log rowset, so that the calls on rows
  // and accessors are reached often.
  if (Chance(75)) {
    HRESULT hr = S_OK;
    state_.Source = dll_.Create(hr);
    TComPtr<IDBCreateSession> creator;
    DBID table{};
    table.eKind = DBKIND_NAME;
    table.uName.pwszName = const_cast<LPOLESTR>(TSandbox::Table);
    if (state_.Source && SUCCEEDED(SetInitDataSource(state_.Source.Get(), folder_)) &&
        SUCCEEDED(state_.Source->Initialize()) &&
        SUCCEEDED(state_.Source->QueryInterface(IID_IDBCreateSession, creator.PutVoid())) &&
        SUCCEEDED(creator->CreateSession(nullptr, IID_IOpenRowset, reinterpret_cast<IUnknown**>(state_.Session.Put()))))
      state_.Session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr,
                                 reinterpret_cast<IUnknown**>(state_.Rowset.Put()));
  }
  for (step_ = 0; step_ < steps && finding_.empty(); ++step_) {
    if (skip.count(step_)) continue;
    // Each step draws from its own seed, so that skipping one while shrinking
    // leaves the others' arguments as they were.
    random_.seed(seed_ + 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(step_ + 1));
    Step();
  }
  calls += calls_;
  // What the consumer holds goes back before the sequence is judged.
  if (state_.Rowset && !state_.Rows.empty())
    state_.Rowset->ReleaseRows(state_.Rows.size(), state_.Rows.data(), nullptr, nullptr, nullptr);
  state_ = TState{};
  SetErrorInfo(0, nullptr);
  return finding_;
}

// One sequence from seed, judged for its result codes and for what it left:
// the task memory its thread allocated, and with one thread the heap blocks.
std::string RunSequence(const TProviderModule& dll, const std::wstring& folder, std::uint64_t seed, int steps,
                        const std::set<int>& skip, std::uint64_t& calls, bool countLeaks, bool countHeap,
                        bool trace = false) {
  const std::uint64_t mark = TTaskMemorySpy::Instance().Mark();
  const std::int64_t live = dll.Heap().Live;
  std::string finding = TSequence(dll, folder, seed, trace).Run(steps, skip, calls);
  if (finding.empty() && countLeaks) {
    const auto unfreed = TTaskMemorySpy::Instance().Unfreed(mark, GetCurrentThreadId());
    if (!unfreed.empty())
      finding = "task memory leaked: " + std::to_string(unfreed[0].Size) + " bytes, allocated by " + unfreed[0].Caller;
    else if (countHeap && dll.Heap().Live != live)
      finding = "heap blocks leaked: " + std::to_string(dll.Heap().Live - live);
  }
  return finding;
}

constexpr int SequenceSteps = 200;

// Shrinks a sequence to the fewest steps that still find something, then
// skips each step that is not needed, and saves the reproducer.
void Shrink(const TProviderModule& dll, const std::wstring& folder, std::uint64_t seed, const std::string& finding) {
  int steps = SequenceSteps;
  std::uint64_t ignored = 0;
  while (steps > 1 && !RunSequence(dll, folder, seed, steps - 1, {}, ignored, true, true).empty()) --steps;
  std::set<int> skip;
  for (int i = 0; i < steps - 1; ++i) {
    skip.insert(i);
    if (RunSequence(dll, folder, seed, steps, skip, ignored, true, true).empty()) skip.erase(i);
  }
  std::ofstream out("consumer-fuzz-failure.txt");
  out << seed << "\n" << steps << " steps, skipping:";
  for (int i : skip) out << " " << i;
  out << "\n" << finding << "\n";
  std::printf("FINDING (sequence seed %llu, %d steps, %zu of them skipped; saved in consumer-fuzz-failure.txt):\n  %s\n",
              static_cast<unsigned long long>(seed), steps, skip.size(), finding.c_str());
}
}  // namespace

int RunConsumerFuzzer(const TProviderModule& dll, const TFuzzOptions& options) {
  if (options.Spy) TTaskMemorySpy::Instance().Start();
  TSandbox sandbox(L"consumer-fuzz", 40);
  CreateDirectoryW((sandbox.Folder() + L"\\sub").c_str(), nullptr);
  std::uint64_t seed = options.Seed ? options.Seed : static_cast<std::uint64_t>(
                                                         std::chrono::steady_clock::now().time_since_epoch().count());
  const int threads = std::max(1, options.Threads);
  std::printf("consumer fuzzer: seed %llu, %d thread(s), malloc spy %s\n", static_cast<unsigned long long>(seed),
              threads, options.Spy ? "on" : "off");
  std::uint64_t ignored = 0;
  // The platform's caches and the provider's text pool settle first.
  RunSequence(dll, sandbox.Folder(), seed ^ 0x5eed, SequenceSteps, {}, ignored, false, false);
  if (!options.Replay.empty()) {
    // As Shrink saved it: the seed, then "<steps> steps, skipping: <step>...".
    std::ifstream in(options.Replay);
    int steps = 0;
    std::string words;
    std::set<int> skip;
    if (!(in >> seed >> steps >> words >> words)) {
      std::printf("consumer fuzzer: %s holds no saved sequence\n", options.Replay.c_str());
      return 2;
    }
    for (int step = 0; in >> step;) skip.insert(step);
    std::printf("replaying seed %llu, %d steps, %zu skipped:\n", static_cast<unsigned long long>(seed), steps,
                skip.size());
    const std::string found = RunSequence(dll, sandbox.Folder(), seed, steps, skip, ignored, options.Spy, true, true);
    std::printf("%s%s\n", found.empty() ? "no finding" : "FINDING: ", found.c_str());
    return found.empty() ? 0 : 1;
  }
  const std::int64_t live = dll.Heap().Live;

  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.Seconds);
  std::atomic<std::uint64_t> calls{0}, sequences{0}, nextSequence{0};
  std::atomic<bool> stop{false};
  std::mutex findingLock;
  std::string finding;
  std::uint64_t findingSeed = 0;
  auto worker = [&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::uint64_t own = 0;
    // Each thread's own first sequence settles what the platform keeps per thread.
    RunSequence(dll, sandbox.Folder(), seed ^ GetCurrentThreadId(), SequenceSteps, {}, own, false, false);
    while (!stop) {
      const std::uint64_t sequenceSeed = seed + nextSequence++;
      own = 0;
      std::string found =
          RunSequence(dll, sandbox.Folder(), sequenceSeed, SequenceSteps, {}, own, options.Spy, threads == 1);
      calls += own;
      ++sequences;
      if (!found.empty()) {
        std::lock_guard lock(findingLock);
        if (finding.empty()) finding = found, findingSeed = sequenceSeed;
        stop = true;
      }
      if (std::chrono::steady_clock::now() >= end) stop = true;
    }
    CoUninitialize();
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker);
  // A call that never returns stops the run with its seed instead of hanging it.
  std::thread watchdog([&] {
    std::uint64_t seen = 0;
    for (int quiet = 0; !stop; std::this_thread::sleep_for(std::chrono::seconds(1))) {
      const std::uint64_t now = calls + sequences;
      quiet = now == seen ? quiet + 1 : 0;
      seen = now;
      if (quiet >= 120) {
        std::printf("FINDING: no call returned for 120 s (seed %llu, sequence %llu)\n",
                    static_cast<unsigned long long>(seed), static_cast<unsigned long long>(nextSequence.load()));
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  });
  worker();
  for (std::thread& thread : pool) thread.join();
  stop = true;
  watchdog.join();
  if (finding.empty() && threads > 1 && dll.Heap().Live != live)
    finding = "heap blocks leaked across the threads: " + std::to_string(dll.Heap().Live - live);
  if (!finding.empty()) {
    Shrink(dll, sandbox.Folder(), findingSeed, finding);
    return 1;
  }
  if (const std::string left = sandbox.Remove(); !left.empty()) {
    std::printf("FINDING (seed %llu): %s\n", static_cast<unsigned long long>(seed), left.c_str());
    return 1;
  }
  std::printf("consumer fuzzer: %llu calls in %llu sequences on %d thread(s), no finding\n",
              static_cast<unsigned long long>(calls.load()), static_cast<unsigned long long>(sequences.load()), threads);
  return 0;
}
