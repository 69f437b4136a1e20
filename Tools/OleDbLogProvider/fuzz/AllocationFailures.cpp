// One scripted consumer session over every path a consumer uses, run again
// with the k-th allocation of the provider failing, for every k, for task
// memory and for the provider's own heap. Each run must end the way it ends
// without the failure, except that the call which met the failure gives
// E_OUTOFMEMORY (or a column status) with its outputs cleared and succeeds
// when called again, or a row read from the log fails as a damaged line does.
#include "AllocationFailures.h"

#include <msdasc.h>
#include <oledberr.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "ConsumerTestSupport.h"

namespace {
constexpr int LogRows = 108;  // the fetches of 1, 7 and 100 rows reach the end
constexpr const char* NotCleared = "OUT-PARAMETERS NOT CLEARED";

enum class TAllocator { None, Task, Heap };

// One injected failure and what the run saw of it.
class TInjection {
public:
  TInjection(const TProviderModule& dll, TAllocator allocator, std::uint64_t at)
      : dll_(dll), allocator_(allocator) {
    dll_.Heap().Injected = false;
    dll_.Heap().Counted = 0;
    dll_.Heap().FailAt = allocator == TAllocator::Heap ? at : 0;
    TTaskMemorySpy::Instance().InjectFailure(dll_.Begin(), dll_.End(), allocator == TAllocator::Task ? at : 0);
  }
  ~TInjection() {
    dll_.Heap().FailAt = 0;
    TTaskMemorySpy::Instance().StopInjecting();
  }
  std::string Where() const {
    return allocator_ == TAllocator::Task
               ? TTaskMemorySpy::Instance().InjectedAt()
               : TTaskMemorySpy::StackText(dll_.Heap().InjectedAt, dll_.Heap().InjectedFrames);
  }
  bool Fired() const {
    return allocator_ == TAllocator::Task ? TTaskMemorySpy::Instance().Injected() : dll_.Heap().Injected.load();
  }

private:
  const TProviderModule& dll_;
  TAllocator allocator_;
};

enum class TStepKind {
  Call,
  ReadsLines,    // opens or fetches rows of the log
  ReportsError,  // fails on purpose and reads the error object it leaves
};

struct TOutcome {
  HRESULT Result;
  std::string Text;
};

class TScript {
public:
  TScript(const TProviderModule& dll, const std::wstring& folder, const TInjection& injection,
          const std::vector<std::string>* expected, std::vector<std::string>& faults)
      : dll_(dll), folder_(folder), injection_(injection), expected_(expected), faults_(faults) {}

  std::vector<std::string> Run();

private:
  // Runs one step: a call (or a call and the reading of what it opened)
  // that can be repeated after failing.
  TOutcome Step(const char* name, const std::function<TOutcome()>& call, TStepKind kind = TStepKind::Call);
  void ReadRow(IRowset* rowset, TRowReader& reader, HROW row);

  const TProviderModule& dll_;
  std::wstring folder_;
  const TInjection& injection_;
  const std::vector<std::string>* expected_;
  std::vector<std::string>& faults_;
  std::vector<std::string> transcript_;
  bool rowErrorAllowed_ = false;
  std::string metSilently_;
  bool damaged_ = false;  // a damaged row was met: later line numbers come one lower
};

bool MetTheFailure(const std::string& text) {
  for (const char* code : {"8007000e", "00040eda", "80040e21"})
    if (text.find(code) != std::string::npos) return true;
  return false;
}

// The call failed as it should but left no error object: installing one
// needs memory too, so want of it may leave the consumer with the result alone.
bool LostErrorObject(const std::string& got, const std::string& expected) {
  return expected.size() > got.size() && expected.compare(0, got.size(), got) == 0 && expected[got.size()] == ' ';
}

// Equal line by line, except rows whose GetData failed: a line the reader
// could not read is a row whose every column fails.
// Such a line takes no line number, so the rows after it come one lower.
bool SameBarDamagedRows(const std::string& got, const std::string& expected, bool& damaged) {
  std::size_t g = 0, e = 0;
  while (g < got.size() && e < expected.size()) {
    const std::size_t gEnd = std::min(got.find('\n', g), got.size());
    const std::size_t eEnd = std::min(expected.find('\n', e), expected.size());
    std::string_view gotLine(got.data() + g, gEnd - g), expectedLine(expected.data() + e, eEnd - e);
    if (gotLine.size() > 8 && gotLine[0] == '8' && gotLine[8] == '|' && gotLine != expectedLine) {
      damaged = true;
    } else {
      if (damaged) {
        gotLine = gotLine.substr(0, gotLine.rfind('|'));
        expectedLine = expectedLine.substr(0, expectedLine.rfind('|'));
      }
      if (gotLine != expectedLine) return false;
    }
    g = gEnd + 1;
    e = eEnd + 1;
  }
  return g >= got.size() && e >= expected.size();
}

TOutcome TScript::Step(const char* name, const std::function<TOutcome()>& call, TStepKind kind) {
  const bool readsLines = kind == TStepKind::ReadsLines;
  const bool firedBefore = injection_.Fired();
  TOutcome outcome = call();
  const std::string& expected = expected_ ? (*expected_)[transcript_.size()] : outcome.Text;
  const bool firedHere = !firedBefore && injection_.Fired();
  auto fault = [&](const std::string& what) {
    if (faults_.size() >= 3) return;  // the first ones tell the story
    if (!metSilently_.empty()) {
      faults_.push_back("the failure was met without a visible effect in " + metSilently_);
      metSilently_.clear();
    }
    // Shown from the line where the texts part.
    std::size_t from = 0;
    while (from < outcome.Text.size() && from < expected.size() && outcome.Text[from] == expected[from]) ++from;
    from = outcome.Text.rfind('\n', from) == std::string::npos ? 0 : outcome.Text.rfind('\n', from) + 1;
    faults_.push_back(std::string(name) + ": " + what + "\n    got:      " + outcome.Text.substr(from, 700) +
                      "\n    expected: " + expected.substr(std::min(from, expected.size()), 700));
  };
  if (outcome.Text.find(NotCleared) != std::string::npos) fault("a failed call left its out-parameters set");
  if (firedHere && outcome.Text != expected) {
    if (MetTheFailure(outcome.Text) || (kind == TStepKind::ReportsError && LostErrorObject(outcome.Text, expected)))
      outcome = call();  // the objects must still work
    else if (!(readsLines && SameBarDamagedRows(outcome.Text, expected, damaged_)))
      fault("the allocation failure was not reported as E_OUTOFMEMORY; it failed at " + injection_.Where());
  }
  if (firedHere && readsLines) rowErrorAllowed_ = true;
  if (firedHere && outcome.Text == expected) metSilently_ = std::string(name) + ", at " + injection_.Where();
  if (outcome.Text != expected && !(rowErrorAllowed_ && SameBarDamagedRows(outcome.Text, expected, damaged_)))
    fault(firedHere ? "calling again after the failure at " + injection_.Where() + " gave other results"
                    : "results differ from the run without failure");
  transcript_.push_back(expected_ ? expected : outcome.Text);
  return outcome;
}

void TScript::ReadRow(IRowset*, TRowReader& reader, HROW row) {
  Step("GetData", [&] {
    HRESULT hr = S_OK;
    const std::string text = reader.Read(row, hr);
    return TOutcome{hr, HResultText(hr) + text};
  });
}

TOutcome Called(HRESULT hr, bool cleared = true) { return {hr, HResultText(hr) + (cleared ? "" : NotCleared)}; }

std::string PropertySetsText(ULONG count, DBPROPSET* sets) {
  std::string text = std::to_string(count);
  for (ULONG s = 0; s < count; ++s) {
    for (ULONG p = 0; p < sets[s].cProperties; ++p) {
      text += " " + std::to_string(sets[s].rgProperties[p].dwPropertyID) + ":" +
              std::to_string(V_VT(&sets[s].rgProperties[p].vValue));
      VariantClear(&sets[s].rgProperties[p].vValue);
    }
    CoTaskMemFree(sets[s].rgProperties);
  }
  CoTaskMemFree(sets);
  return text;
}

std::vector<std::string> TScript::Run() {
  TComPtr<IDBInitialize> source;
  Step("CreateInstance", [&] {
    HRESULT hr = S_OK;
    source = dll_.Create(hr);
    return Called(hr, SUCCEEDED(hr) || !source);
  });
  if (!source) return transcript_;
  Step("SetProperties", [&] { return Called(SetInitDataSource(source.Get(), folder_)); });
  Step("Initialize", [&] { return Called(source->Initialize()); });
  TComPtr<IDBProperties> properties;
  source->QueryInterface(IID_IDBProperties, properties.PutVoid());
  Step("GetProperties", [&] {
    ULONG count = 99;
    DBPROPSET* sets = reinterpret_cast<DBPROPSET*>(1);
    const HRESULT hr = properties->GetProperties(0, nullptr, &count, &sets);
    if (FAILED(hr)) return Called(hr, count == 0 && !sets);
    return TOutcome{hr, HResultText(hr) + PropertySetsText(count, sets)};
  });
  Step("GetPropertyInfo", [&] {
    ULONG count = 99;
    DBPROPINFOSET* sets = reinterpret_cast<DBPROPINFOSET*>(1);
    OLECHAR* descriptions = reinterpret_cast<OLECHAR*>(1);
    const HRESULT hr = properties->GetPropertyInfo(0, nullptr, &count, &sets, &descriptions);
    if (FAILED(hr)) return Called(hr, count == 0 && !sets && !descriptions);
    std::string text = HResultText(hr) + std::to_string(count);
    for (ULONG s = 0; s < count; ++s) {
      text += " " + std::to_string(sets[s].cPropertyInfos);
      for (ULONG p = 0; p < sets[s].cPropertyInfos; ++p) VariantClear(&sets[s].rgPropertyInfos[p].vValues);
      CoTaskMemFree(sets[s].rgPropertyInfos);
    }
    CoTaskMemFree(sets);
    CoTaskMemFree(descriptions);
    return TOutcome{hr, text};
  });

  TComPtr<IDBCreateSession> creator;
  source->QueryInterface(IID_IDBCreateSession, creator.PutVoid());
  TComPtr<IOpenRowset> session;
  Step("CreateSession", [&] {
    session = nullptr;
    const HRESULT hr = creator->CreateSession(nullptr, IID_IOpenRowset, reinterpret_cast<IUnknown**>(session.Put()));
    return Called(hr, SUCCEEDED(hr) || !session);
  });
  if (!session) return transcript_;

  TComPtr<IDBSchemaRowset> schemas;
  session->QueryInterface(IID_IDBSchemaRowset, schemas.PutVoid());
  Step("GetSchemas", [&] {
    ULONG count = 99;
    GUID* guids = reinterpret_cast<GUID*>(1);
    ULONG* restrictions = reinterpret_cast<ULONG*>(1);
    const HRESULT hr = schemas->GetSchemas(&count, &guids, &restrictions);
    if (FAILED(hr)) return Called(hr, count == 0 && !guids && !restrictions);
    std::string text = HResultText(hr) + std::to_string(count);
    for (ULONG i = 0; i < count; ++i) text += " " + std::to_string(guids[i].Data1) + ":" + std::to_string(restrictions[i]);
    CoTaskMemFree(guids);
    CoTaskMemFree(restrictions);
    return TOutcome{hr, text};
  });
  const GUID schemaGuids[] = {DBSCHEMA_TABLES, DBSCHEMA_COLUMNS, DBSCHEMA_PROVIDER_TYPES, DBSCHEMA_INDEXES};
  for (const GUID& schema : schemaGuids) {
    for (bool restricted : {false, true}) {
      Step("GetRowset", [&] {
        VARIANT restrictions[3];
        for (VARIANT& v : restrictions) VariantInit(&v);
        ULONG count = 0;
        if (restricted && IsEqualGUID(schema, DBSCHEMA_PROVIDER_TYPES)) {
          V_VT(&restrictions[0]) = VT_UI2;
          V_UI2(&restrictions[0]) = DBTYPE_WSTR;
          count = 1;
        } else if (restricted) {
          V_VT(&restrictions[2]) = VT_BSTR;
          V_BSTR(&restrictions[2]) = SysAllocString(TSandbox::Table);
          count = 3;
        }
        TComPtr<IRowset> rowset;
        const HRESULT hr = schemas->GetRowset(nullptr, schema, count, restrictions, IID_IRowset, 0, nullptr,
                                              reinterpret_cast<IUnknown**>(rowset.Put()));
        for (VARIANT& v : restrictions) VariantClear(&v);
        if (FAILED(hr)) return Called(hr, !rowset);
        return TOutcome{hr, HResultText(hr) + ReadAllRows(rowset.Get(), TBindKind::WideText, 7)};
      });
    }
  }

  DBID table{};
  table.eKind = DBKIND_NAME;
  table.uName.pwszName = const_cast<LPOLESTR>(TSandbox::Table);
  TComPtr<IRowset> rowset;
  Step("OpenRowset", [&] {
    rowset = nullptr;
    const HRESULT hr = session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr,
                                           reinterpret_cast<IUnknown**>(rowset.Put()));
    return Called(hr, SUCCEEDED(hr) || !rowset);
  });
  if (!rowset) return transcript_;
  Step("GetColumnInfo", [&] {
    TComPtr<IColumnsInfo> info;
    rowset->QueryInterface(IID_IColumnsInfo, info.PutVoid());
    DBORDINAL count = 99;
    DBCOLUMNINFO* columns = reinterpret_cast<DBCOLUMNINFO*>(1);
    OLECHAR* strings = reinterpret_cast<OLECHAR*>(1);
    const HRESULT hr = info->GetColumnInfo(&count, &columns, &strings);
    if (FAILED(hr)) return Called(hr, count == 0 && !columns && !strings);
    std::string text = HResultText(hr);
    for (DBORDINAL i = 0; i < count; ++i)
      text += " " + std::to_string(columns[i].wType) + ":" + std::to_string(columns[i].ulColumnSize);
    CoTaskMemFree(columns);
    CoTaskMemFree(strings);
    return TOutcome{hr, text};
  });
  Step("GetColumnsRowset", [&] {
    TComPtr<IColumnsRowset> columnsRowset;
    rowset->QueryInterface(IID_IColumnsRowset, columnsRowset.PutVoid());
    if (!columnsRowset) return Called(E_NOINTERFACE);
    TComPtr<IRowset> columns;
    const HRESULT hr = columnsRowset->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowset, 0, nullptr,
                                                       reinterpret_cast<IUnknown**>(columns.Put()));
    if (FAILED(hr)) return Called(hr, !columns);
    return TOutcome{hr, HResultText(hr) + ReadAllRows(columns.Get(), TBindKind::WideText, 7)};
  });

  std::vector<std::unique_ptr<TRowReader>> readers;
  for (int kind = 0; kind < static_cast<int>(TBindKind::Count); ++kind) {
    Step("CreateAccessor", [&] {
      auto reader = std::make_unique<TRowReader>(rowset.Get(), static_cast<TBindKind>(kind));
      const HRESULT hr = reader->Created();
      const bool cleared = SUCCEEDED(hr) || reader->Handle() == 0;
      if (SUCCEEDED(hr)) readers.push_back(std::move(reader));
      return Called(hr, cleared);
    });
  }
  if (readers.size() != static_cast<std::size_t>(TBindKind::Count)) return transcript_;

  std::size_t rowNumber = 0;
  for (DBROWCOUNT batch : {1, 7, 100, 1}) {
    std::vector<HROW> rows;
    Step("GetNextRows", [&] {
      // Fewer rows for want of memory is a pause: the rest come next time.
      HRESULT hr = DB_S_ROWLIMITEXCEEDED;
      bool cleared = true;
      while (hr == DB_S_ROWLIMITEXCEEDED && static_cast<DBROWCOUNT>(rows.size()) < batch) {
        DBCOUNTITEM obtained = 99;
        HROW* taken = nullptr;
        hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, batch - static_cast<DBROWCOUNT>(rows.size()), &obtained, &taken);
        if (FAILED(hr)) cleared = cleared && obtained == 0 && !taken;
        if (SUCCEEDED(hr)) rows.insert(rows.end(), taken, taken + obtained);
        CoTaskMemFree(taken);
      }
      return TOutcome{hr, HResultText(hr) + " " + std::to_string(rows.size()) + (cleared ? "" : NotCleared)};
    }, TStepKind::ReadsLines);
    const DBCOUNTITEM obtained = rows.size();
    for (DBCOUNTITEM i = 0; i < obtained; ++i, ++rowNumber) {
      if (batch < 100) {
        for (auto& reader : readers) ReadRow(rowset.Get(), *reader, rows[i]);
      } else {
        ReadRow(rowset.Get(), *readers[rowNumber % readers.size()], rows[i]);
      }
    }
    if (obtained) {
      Step("ReleaseRows", [&] { return Called(rowset->ReleaseRows(obtained, rows.data(), nullptr, nullptr, nullptr)); });
    }
  }
  rowErrorAllowed_ = damaged_ = false;
  readers.clear();
  rowset = nullptr;

  TComPtr<IDBCreateCommand> commands;
  session->QueryInterface(IID_IDBCreateCommand, commands.PutVoid());
  TComPtr<ICommandText> command;
  Step("CreateCommand", [&] {
    command = nullptr;
    const HRESULT hr = commands->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.Put()));
    return Called(hr, SUCCEEDED(hr) || !command);
  });
  if (!command) return transcript_;
  const std::wstring commandText = std::wstring(L"SELECT * FROM ") + TSandbox::Table;
  Step("SetCommandText", [&] { return Called(command->SetCommandText(DBGUID_DEFAULT, commandText.c_str())); });
  Step("GetCommandText", [&] {
    GUID dialect = DBGUID_SQL;
    LPOLESTR text = reinterpret_cast<LPOLESTR>(1);
    const HRESULT hr = command->GetCommandText(&dialect, &text);
    if (FAILED(hr)) return Called(hr, !text);
    TOutcome outcome{hr, HResultText(hr) + (text && commandText == text ? " same" : " other")};
    CoTaskMemFree(text);
    return outcome;
  });
  Step("Execute", [&] {
    TComPtr<IRowset> executed;
    const HRESULT hr = command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(executed.Put()));
    if (FAILED(hr)) return Called(hr, !executed);
    return TOutcome{hr, HResultText(hr) + ReadAllRows(executed.Get(), TBindKind::Native, 50)};
  }, TStepKind::ReadsLines);
  rowErrorAllowed_ = damaged_ = false;

  // A failing call and its error records, as a consumer shows them.
  Step("ErrorRecords", [&] {
    DBID missing{};
    missing.eKind = DBKIND_NAME;
    missing.uName.pwszName = const_cast<LPOLESTR>(L"missing.log");
    TComPtr<IRowset> none;
    const HRESULT hr = session->OpenRowset(nullptr, &missing, nullptr, IID_IRowset, 0, nullptr,
                                           reinterpret_cast<IUnknown**>(none.Put()));
    std::string text = HResultText(hr) + (none ? NotCleared : "");
    TComPtr<IErrorInfo> error;
    if (GetErrorInfo(0, error.Put()) == S_OK && error) {
      BSTR description = nullptr;
      error->GetDescription(&description);
      text += " " + std::to_string(SysStringLen(description));
      SysFreeString(description);
      TComPtr<IErrorRecords> records;
      ULONG count = 0;
      if (SUCCEEDED(error->QueryInterface(IID_IErrorRecords, records.PutVoid())) && SUCCEEDED(records->GetRecordCount(&count)))
        text += " records " + std::to_string(count);
    }
    return TOutcome{hr, text};
  }, TStepKind::ReportsError);
  return transcript_;
}

// Runs the script once and checks that it left nothing behind.
std::vector<std::string> RunOnce(const TProviderModule& dll, const std::wstring& folder, TAllocator allocator,
                                 std::uint64_t at, const std::vector<std::string>* expected,
                                 std::vector<std::string>& faults, std::uint64_t* counted = nullptr) {
  const std::uint64_t mark = TTaskMemorySpy::Instance().Mark();
  const std::int64_t live = dll.Heap().Live;
  std::vector<std::string> transcript;
  {
    TInjection injection(dll, allocator, at);
    if (allocator == TAllocator::None) TTaskMemorySpy::Instance().InjectFailure(dll.Begin(), dll.End(), UINT64_MAX);
    transcript = TScript(dll, folder, injection, expected, faults).Run();
    if (counted) *counted = allocator == TAllocator::Heap ? dll.Heap().Counted.load()
                                                          : TTaskMemorySpy::Instance().CountedAllocations();
  }
  SetErrorInfo(0, nullptr);
  for (const auto& block : TTaskMemorySpy::Instance().Unfreed(mark))
    faults.push_back("task memory leaked: " + std::to_string(block.Size) + " bytes, allocated by " + block.Caller);
  if (dll.Heap().Live != live)
    faults.push_back("heap blocks leaked: " + std::to_string(dll.Heap().Live - live));
  return transcript;
}
}  // namespace

int RunAllocationFailures(const TProviderModule& dll, std::uint64_t every, std::uint64_t only,
                          const std::string& allocators) {
  TTaskMemorySpy::Instance().Start();
  TSandbox sandbox(L"allocation-failures", LogRows);
  std::vector<std::string> faults;
  // The first run settles what lives for the process (the provider's text
  // pool, the platform's caches); the second is the expected transcript.
  RunOnce(dll, sandbox.Folder(), TAllocator::None, 0, nullptr, faults);
  faults.clear();
  std::uint64_t taskPoints = 0, heapPoints = 0;
  RunOnce(dll, sandbox.Folder(), TAllocator::None, 0, nullptr, faults, &taskPoints);
  const std::vector<std::string> expected = RunOnce(dll, sandbox.Folder(), TAllocator::Heap, 0, nullptr, faults, &heapPoints);
  if (!faults.empty()) {
    for (const std::string& fault : faults) std::printf("without failure: %s\n", fault.c_str());
    return 1;
  }
  std::uint64_t ran = 0, failed = 0;
  for (TAllocator allocator : {TAllocator::Task, TAllocator::Heap}) {
    if (allocators != "both" && allocators != (allocator == TAllocator::Task ? "task" : "heap")) continue;
    const std::uint64_t points = allocator == TAllocator::Task ? taskPoints : heapPoints;
    for (std::uint64_t k = 1; k <= points; ++k) {
      if (only ? k != only : (k % every != 1 % every)) continue;
      std::vector<std::string> found;
      RunOnce(dll, sandbox.Folder(), allocator, k, &expected, found);
      ++ran;
      if (found.empty()) continue;
      ++failed;
      std::printf("%s allocation %llu failing:\n", allocator == TAllocator::Task ? "task" : "heap",
                  static_cast<unsigned long long>(k));
      for (const std::string& fault : found) std::printf("  %s\n", fault.c_str());
    }
  }
  std::printf("allocation failures: %llu task and %llu heap allocations in the script, %llu injected, %llu failed\n",
              static_cast<unsigned long long>(taskPoints), static_cast<unsigned long long>(heapPoints),
              static_cast<unsigned long long>(ran), static_cast<unsigned long long>(failed));
  return failed ? 1 : 0;
}
