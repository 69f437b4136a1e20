#include "ConsumerTestSupport.h"

#include <gtest/gtest.h>
#include <msdadc.h>
#include <msdaguid.h>
#include <msdasc.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "ComPtr.h"

TTestErrorInfo TakeErrorInfo() {
  TTestErrorInfo result;
  TComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return result;
  result.Present = true;
  BSTR text = nullptr;
  if (SUCCEEDED(info->GetDescription(&text)) && text) result.Description = text;
  SysFreeString(text);
  text = nullptr;
  if (SUCCEEDED(info->GetSource(&text)) && text) result.Source = text;
  SysFreeString(text);
  info->GetGUID(&result.Guid);
  return result;
}

HRESULT SetInitDataSource(IUnknown* dataSource, const std::wstring& value) {
  TComPtr<IDBProperties> properties;
  HRESULT result = dataSource->QueryInterface(IID_IDBProperties, properties.PutVoid());
  if (FAILED(result)) return result;
  DBPROP prop{};
  prop.dwPropertyID = DBPROP_INIT_DATASOURCE;
  prop.dwOptions = DBPROPOPTIONS_REQUIRED;
  prop.colid = DB_NULLID;
  V_VT(&prop.vValue) = VT_BSTR;
  V_BSTR(&prop.vValue) = SysAllocString(value.c_str());
  DBPROPSET set{&prop, 1, DBPROPSET_DBINIT};
  result = properties->SetProperties(1, &set);
  VariantClear(&prop.vValue);
  return result;
}

HRESULT CreateCommandOf(IUnknown* session, TComPtr<ICommandText>& command, const wchar_t* text) {
  TComPtr<IDBCreateCommand> create;
  HRESULT result = session->QueryInterface(IID_IDBCreateCommand, create.PutVoid());
  if (FAILED(result)) return result;
  result = create->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.Put()));
  if (FAILED(result) || !text) return result;
  return command->SetCommandText(DBGUID_DEFAULT, text);
}

namespace {
// COM for the whole test process, on the main thread.
class TComEnvironment : public testing::Environment {
public:
  void SetUp() override { CoInitialize(nullptr); }
  void TearDown() override { CoUninitialize(); }
};
[[maybe_unused]] testing::Environment* const comEnvironment = testing::AddGlobalTestEnvironment(new TComEnvironment);

constexpr DWORD StackFrames = 24;

struct TLiveBlock {
  std::size_t Size;
  std::uint64_t Serial;
  DWORD Thread;
  USHORT FrameCount;
  void* Frames[StackFrames];
};

// The spy's state. The platform calls the spy under its own lock, but the
// state is read from test threads as well.
struct TSpyState {
  mutable std::mutex Lock;
  std::unordered_map<void*, TLiveBlock> Live;
  std::uint64_t NextSerial = 1;
  const void* InjectBegin = nullptr;
  const void* InjectEnd = nullptr;
  std::uint64_t FailAt = 0, Counted = 0;
  bool Injected = false;
  TLiveBlock InjectedAt{};
  bool Started = false;
  const char* Excuse = nullptr;
};
TSpyState& State() {
  static TSpyState* state = new TSpyState;  // outlives every static destructor that frees task memory
  return *state;
}

// What PreAlloc/PreRealloc learnt, for the Post call on the same thread.
thread_local TLiveBlock pending;
thread_local void* pendingOld = nullptr;

bool PassesThrough(const TLiveBlock& block, const void* begin, const void* end) {
  for (USHORT i = 0; i < block.FrameCount; ++i)
    if (block.Frames[i] >= begin && block.Frames[i] < end) return true;
  return false;
}

void Record(void* address, TSpyState& state) {
  if (!address) return;
  std::lock_guard lock(state.Lock);
  TLiveBlock& block = state.Live[address];
  block = pending;
  block.Serial = state.NextSerial++;
}

class TMallocSpy final : public IMallocSpy {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
      *object = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override {
    Capture(size);
    TSpyState& state = State();
    std::lock_guard lock(state.Lock);
    if (state.FailAt != 0 && PassesThrough(pending, state.InjectBegin, state.InjectEnd) &&
        ++state.Counted == state.FailAt) {
      state.Injected = true;
      state.InjectedAt = pending;
      return 0;  // the documented way for a spy to make Alloc fail
    }
    return size;
  }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
    Record(actual, State());
    return actual;
  }
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
    TSpyState& state = State();
    std::lock_guard lock(state.Lock);
    state.Live.erase(request);
    return request;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override {
    Capture(size);
    pendingOld = request;
    *newRequest = request;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override {
    TSpyState& state = State();
    // A failed reallocation leaves the old block; one to size zero frees it.
    if (actual || pending.Size == 0) {
      std::lock_guard lock(state.Lock);
      state.Live.erase(pendingOld);
    }
    Record(actual, state);
    return actual;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
  static void Capture(SIZE_T size) {
    pending.Size = size;
    pending.Thread = GetCurrentThreadId();
    pending.FrameCount = RtlCaptureStackBackTrace(2, StackFrames, pending.Frames, nullptr);
  }
};
TMallocSpy spy;

std::string FrameText(void* frame) {
  HMODULE module = nullptr;
  char text[MAX_PATH + 32] = "?";
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<const char*>(frame), &module)) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, MAX_PATH);
    const char* name = std::strrchr(path, '\\');
    std::snprintf(text, sizeof text, "%s+0x%llx", name ? name + 1 : path,
                  static_cast<unsigned long long>(static_cast<const char*>(frame) - reinterpret_cast<char*>(module)));
  }
  return text;
}

// Fails the test that ends with task memory it allocated still unfreed,
// naming each block's size and the stack that allocated it.
class TTaskMemoryCheck final : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    TTaskMemorySpy::Instance().Start();
    mark_ = TTaskMemorySpy::Instance().Mark();
    State().Excuse = nullptr;
  }
  void OnTestEnd(const testing::TestInfo&) override {
    // The thread's error object is the consumer's to take; a test that did
    // not look at it leaves it to the next call, not to a leak.
    SetErrorInfo(0, nullptr);
    const auto unfreed = TTaskMemorySpy::Instance().Unfreed(mark_);
    if (State().Excuse && !unfreed.empty()) {
      std::printf("%zu task memory blocks left unfreed: %s\n", unfreed.size(), State().Excuse);
      return;
    }
    for (const TTaskMemorySpy::TBlock& block : unfreed)
      ADD_FAILURE() << "task memory leaked: " << block.Size << " bytes, allocated by " << block.Caller;
  }
  std::uint64_t mark_ = 0;
};

// Registered at load so that every test program linking the support checks
// every test.
[[maybe_unused]] const bool checkInstalled = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new TTaskMemoryCheck);
  return true;
}();
}  // namespace

TTaskMemorySpy& TTaskMemorySpy::Instance() {
  static TTaskMemorySpy instance;
  return instance;
}

void TTaskMemorySpy::Start() {
  TSpyState& state = State();
  if (state.Started) return;
  state.Started = true;
  // Kept for the life of the process: the warm-up's caches belong to an
  // apartment that later tests must find alive.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (auto noCache = reinterpret_cast<void(WINAPI*)()>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache"))))
    noCache();
  WarmUpPlatform();
  if (FAILED(CoRegisterMallocSpy(&spy))) ADD_FAILURE() << "CoRegisterMallocSpy failed";
}

std::uint64_t TTaskMemorySpy::Mark() const {
  std::lock_guard lock(State().Lock);
  return State().NextSerial;
}

std::vector<TTaskMemorySpy::TBlock> TTaskMemorySpy::Unfreed(std::uint64_t since, DWORD thread) const {
  std::vector<TLiveBlock> live;
  std::vector<void*> addresses;
  {
    std::lock_guard lock(State().Lock);
    for (const auto& [address, block] : State().Live)
      if (block.Serial >= since && (thread == 0 || block.Thread == thread)) {
        live.push_back(block);
        addresses.push_back(address);
      }
  }
  std::vector<TBlock> blocks;
  for (std::size_t i = 0; i < live.size(); ++i) {
    blocks.push_back({addresses[i], live[i].Size, live[i].Serial, StackText(live[i].Frames, live[i].FrameCount)});
  }
  return blocks;
}

void TTaskMemorySpy::InjectFailure(const void* begin, const void* end, std::uint64_t failAt) {
  std::lock_guard lock(State().Lock);
  State().InjectBegin = begin;
  State().InjectEnd = end;
  State().FailAt = failAt;
  State().Counted = 0;
  State().Injected = false;
}

void TTaskMemorySpy::StopInjecting() {
  std::lock_guard lock(State().Lock);
  State().FailAt = 0;
}

std::uint64_t TTaskMemorySpy::CountedAllocations() const {
  std::lock_guard lock(State().Lock);
  return State().Counted;
}

bool TTaskMemorySpy::Injected() const {
  std::lock_guard lock(State().Lock);
  return State().Injected;
}

std::string TTaskMemorySpy::InjectedAt() const {
  std::lock_guard lock(State().Lock);
  return StackText(State().InjectedAt.Frames, State().InjectedAt.FrameCount);
}

std::string TTaskMemorySpy::StackText(void* const* frames, unsigned count) {
  std::string text;
  for (unsigned f = 0; f < count; ++f) text += (f ? " < " : "") + FrameText(frames[f]);
  return text;
}

void TTaskMemorySpy::ExcuseTest(const char* why) { State().Excuse = why; }

void WarmUpPlatform() {
  // The conversion library loads its type tables on first use.
  TComPtr<IDataConvert> convert;
  if (SUCCEEDED(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                                 convert.PutVoid()))) {
    DATE date = 40000.5;
    const DBTYPE targets[] = {DBTYPE_WSTR, DBTYPE_STR, DBTYPE_BSTR, DBTYPE_VARIANT, DBTYPE_DBTIMESTAMP};
    for (DBTYPE target : targets) {
      BYTE out[512];
      DBLENGTH length = 0;
      DBSTATUS status = DBSTATUS_S_OK;
      if (SUCCEEDED(convert->DataConvert(DBTYPE_DATE, target, sizeof date, &length, &date, out, sizeof out,
                                         DBSTATUS_S_OK, &status, 0, 0, DBDATACONVERT_DEFAULT))) {
        if (target == DBTYPE_BSTR) SysFreeString(*reinterpret_cast<BSTR*>(out));
        if (target == DBTYPE_VARIANT) VariantClear(reinterpret_cast<VARIANT*>(out));
      }
    }
  }
  TComPtr<IDataInitialize> services;
  CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize, services.PutVoid());
  // Error objects and OLE Automation's own tables.
  TComPtr<ICreateErrorInfo> error;
  if (SUCCEEDED(CreateErrorInfo(error.Put()))) {
    error->SetDescription(const_cast<LPOLESTR>(L"warm-up"));
    TComPtr<IErrorInfo> info;
    if (SUCCEEDED(error->QueryInterface(IID_IErrorInfo, info.PutVoid()))) SetErrorInfo(0, info.Get());
    SetErrorInfo(0, nullptr);
  }
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_DATE;
  V_DATE(&value) = 40000.5;
  VariantChangeType(&value, &value, 0, VT_BSTR);
  VariantClear(&value);
}
