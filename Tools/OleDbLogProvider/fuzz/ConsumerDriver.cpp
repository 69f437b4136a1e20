#include "ConsumerDriver.h"

#include <oledberr.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "CodePageText.h"

namespace {
constexpr CLSID ProviderClass = {0x55EC7CF0, 0xF505, 0x4435, {0x95, 0x9F, 0x3E, 0xDF, 0x84, 0x09, 0x51, 0x9C}};
constexpr DBLENGTH TextBytes = 4096;

std::string Utf8(const wchar_t* text, std::size_t length) {
  return text ? Utf8FromWide(std::wstring_view(text, length)) : std::string();
}

std::string Hex(const BYTE* data, std::size_t size) {
  std::string out;
  char digits[3];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", data[i]);
    out += digits;
  }
  return out;
}

// Data lines of every event class, action and field form the reader knows,
// repeated to the number of rows a test asks for.
const char* const LogHeader =
    "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n#Date: 2010-04-01 00:00:00\r\n#LogMode: verbose\r\n"
    "#Timezone: GMT+0200\r\n#Server: MAIL1\r\n#Fields: x-event-datetime x-event-class x-event-action "
    "x-filtering-point x-event-severity x-ip x-sender x-recipients x-msg-subject x-event-msg\r\n";
const char* const LogLines[] = {
    "2010-04-01T00:00:04 System - - Info - - - - Service started",
    "2010-04-01T07:42:11 Pass - OnArrival Info 81.12.200.7 anna@example.org sales@example.com "
    "Zaproszenie+na+spotkanie+%E2%80%93+%C5%81%C3%B3d%C5%BA Message accepted (size 18733 bytes, score 0.4)",
    "2010-04-01T08:03:55 Blacklist Reject BeforeArrival Info 203.0.113.54 offers@cheap.example info@example.com - "
    "Connection rejected: listed on zen.dnsbl.example",
    "2010-04-01T09:15:30 Blacklist Reject+TagSubject OnArrival Info 10.0.0.1 - - Hello+World%21 Rejected by rule",
    "2010-04-01T09:16:02 Pass - OnArrival Info 2001:db8:85a3::8a2e:370:7334 jp@shop.example.fr "
    "office@example.com;hr@example.com R%C3%A9union+de+projet Message accepted for delivery to 2 recipients",
    "2010-04-01T11:02:19 System - - Warning 127.0.0.1 - - - Could not reach DNSBL server: timeout after 5000 ms",
};
}  // namespace

std::string HResultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(hr));
  return text;
}

TProviderModule::TProviderModule(const std::wstring& path) {
  module_ = LoadLibraryW(path.c_str());
  if (!module_) throw std::runtime_error("cannot load the provider DLL");
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module_);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module_) + dos->e_lfanew);
  end_ = reinterpret_cast<const BYTE*>(module_) + nt->OptionalHeader.SizeOfImage;
  using TGetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  const auto getClassObject =
      reinterpret_cast<TGetClassObject>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
  const auto heap =
      reinterpret_cast<TZelLogHeapHookEntry>(reinterpret_cast<void*>(GetProcAddress(module_, "ZelLogHeapHook")));
  if (!getClassObject || !heap) throw std::runtime_error("the DLL is not the provider's test build");
  heap_ = heap();
  if (FAILED(getClassObject(ProviderClass, IID_IClassFactory, factory_.PutVoid())))
    throw std::runtime_error("DllGetClassObject failed");
}

TProviderModule::~TProviderModule() {
  factory_ = nullptr;
  // Left loaded: the platform may still hold the DLL's error objects.
}

TComPtr<IDBInitialize> TProviderModule::Create(HRESULT& result) const {
  TComPtr<IDBInitialize> source;
  result = factory_->CreateInstance(nullptr, IID_IDBInitialize, source.PutVoid());
  return source;
}

namespace {
bool ProcessRuns(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!process) return false;
  DWORD code = 0;
  const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return runs;
}

// A run stopped by its watchdog, killed or crashed never removed its folder.
void RemoveAbandoned(const std::filesystem::path& base, const std::wstring& prefix) {
  std::vector<std::filesystem::path> abandoned;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
    const std::wstring name = entry.path().filename().wstring();
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        !ProcessRuns(std::wcstoul(name.c_str() + prefix.size(), nullptr, 10)))
      abandoned.push_back(entry.path());
  }
  for (const auto& path : abandoned) std::filesystem::remove_all(path, error);
}
}  // namespace

TSandbox::TSandbox(const std::wstring& name, int rows) {
  wchar_t base[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, base);
  const std::wstring prefix = L"zellogdb-" + name + L"-";
  RemoveAbandoned(base, prefix);
  path_ = std::filesystem::path(base) / (prefix + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
  std::ofstream out(path_ / Table, std::ios::binary);
  out << LogHeader;
  for (int i = 0; i < rows; ++i) out << LogLines[i % std::size(LogLines)] << "\r\n";
}

TSandbox::~TSandbox() { Remove(); }

std::string TSandbox::Remove() {
  if (path_.empty()) return {};
  std::error_code error;
  // Closing a handle may reach the file system a moment after the call
  // that released it returned.
  for (int attempt = 0; attempt < 20; ++attempt) {
    error.clear();
    std::filesystem::remove_all(path_, error);
    if (!error) {
      path_.clear();
      return {};
    }
    Sleep(50);
  }
  return "the sandbox " + Utf8FromWide(path_.wstring()) + " could not be removed (" + error.message() +
         "): a file in it is still open";
}

TRowReader::TRowReader(IRowset* rowset, TBindKind kind) : rowset_(rowset) {
  TComPtr<IColumnsInfo> info;
  created_ = rowset->QueryInterface(IID_IColumnsInfo, info.PutVoid());
  if (FAILED(created_)) return;
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* strings = nullptr;
  created_ = info->GetColumnInfo(&count, &columns, &strings);
  if (FAILED(created_)) return;
  static DBOBJECT streamObject{STGM_READ, IID_ISequentialStream};
  DBBYTEOFFSET offset = 0;
  for (DBORDINAL i = 0; i < count; ++i) {
    if (columns[i].iOrdinal == 0) continue;
    DBBINDING binding{};
    binding.iOrdinal = columns[i].iOrdinal;
    binding.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    binding.eParamIO = DBPARAMIO_NOTPARAM;
    binding.obLength = offset;
    binding.obStatus = offset + sizeof(DBLENGTH);
    binding.obValue = offset + 16;
    const bool isLong = (columns[i].dwFlags & DBCOLUMNFLAGS_ISLONG) != 0;
    switch (kind) {
      case TBindKind::Native:
        binding.wType = columns[i].wType;
        binding.cbMaxLen = (columns[i].wType == DBTYPE_STR || columns[i].wType == DBTYPE_WSTR ||
                            columns[i].wType == DBTYPE_BYTES || columns[i].ulColumnSize > TextBytes)
                               ? TextBytes
                               : std::max<DBLENGTH>(columns[i].ulColumnSize, 16);
        break;
      case TBindKind::Bstr: binding.wType = DBTYPE_BSTR; binding.cbMaxLen = sizeof(BSTR); break;
      case TBindKind::Variant: binding.wType = DBTYPE_VARIANT; binding.cbMaxLen = sizeof(VARIANT); break;
      case TBindKind::ByRef: binding.wType = DBTYPE_WSTR | DBTYPE_BYREF; binding.cbMaxLen = sizeof(void*); break;
      case TBindKind::Stream:
        if (isLong) {
          binding.wType = DBTYPE_IUNKNOWN;
          binding.cbMaxLen = sizeof(IUnknown*);
          binding.pObject = &streamObject;
          break;
        }
        [[fallthrough]];
      default: binding.wType = DBTYPE_WSTR; binding.cbMaxLen = TextBytes; break;
    }
    offset += 16 + ((binding.cbMaxLen + 7) & ~DBLENGTH{7});
    bindings_.push_back(binding);
  }
  CoTaskMemFree(columns);
  CoTaskMemFree(strings);
  buffer_.assign(static_cast<std::size_t>(offset) + 8, 0);
  created_ = rowset->QueryInterface(IID_IAccessor, accessor_.PutVoid());
  if (FAILED(created_)) return;
  created_ = accessor_->CreateAccessor(DBACCESSOR_ROWDATA, bindings_.size(), bindings_.data(), buffer_.size(),
                                       &handle_, nullptr);
}

TRowReader::~TRowReader() {
  if (handle_) accessor_->ReleaseAccessor(handle_, nullptr);
}

std::string TRowReader::Read(HROW row, HRESULT& hr) {
  std::fill(buffer_.begin(), buffer_.end(), BYTE{0});
  hr = rowset_->GetData(row, handle_, buffer_.data());
  std::string text;
  for (const DBBINDING& binding : bindings_) {
    BYTE* value = buffer_.data() + binding.obValue;
    DBLENGTH length = 0;
    DBSTATUS status = 0;
    std::memcpy(&length, buffer_.data() + binding.obLength, sizeof length);
    std::memcpy(&status, buffer_.data() + binding.obStatus, sizeof status);
    text += '|';
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) {
      text += "!" + std::to_string(status);
      continue;
    }
    if (status == DBSTATUS_S_TRUNCATED) text += "~";
    switch (binding.wType) {
      case DBTYPE_WSTR: text += Utf8(reinterpret_cast<const wchar_t*>(value), wcsnlen(reinterpret_cast<const wchar_t*>(value), TextBytes / 2)); break;
      case DBTYPE_STR: text.append(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), TextBytes)); break;
      case DBTYPE_BSTR: {
        BSTR bstr = nullptr;
        std::memcpy(&bstr, value, sizeof bstr);
        text += Utf8(bstr, SysStringLen(bstr));
        SysFreeString(bstr);
        break;
      }
      case DBTYPE_VARIANT: {
        VARIANT* variant = reinterpret_cast<VARIANT*>(value);
        text += std::to_string(V_VT(variant)) + ":";
        VARIANT shown;
        VariantInit(&shown);
        if (SUCCEEDED(VariantChangeTypeEx(&shown, variant, 0x0409, 0, VT_BSTR)))
          text += Utf8(V_BSTR(&shown), SysStringLen(V_BSTR(&shown)));
        VariantClear(&shown);
        VariantClear(variant);
        break;
      }
      case DBTYPE_WSTR | DBTYPE_BYREF: {
        wchar_t* owned = nullptr;
        std::memcpy(&owned, value, sizeof owned);
        text += Utf8(owned, length / sizeof(wchar_t));
        CoTaskMemFree(owned);
        break;
      }
      case DBTYPE_IUNKNOWN: {
        ISequentialStream* stream = nullptr;
        std::memcpy(&stream, value, sizeof stream);
        if (!stream) break;
        char chunk[512];
        ULONG read = 0;
        while (SUCCEEDED(stream->Read(chunk, sizeof chunk, &read)) && read > 0) text.append(chunk, read);
        stream->Release();
        break;
      }
      default: text += Hex(value, std::min<DBLENGTH>(length, binding.cbMaxLen)); break;
    }
  }
  return text;
}

std::string ReadAllRows(IUnknown* object, TBindKind kind, DBROWCOUNT batch) {
  TComPtr<IRowset> rowset;
  if (FAILED(object->QueryInterface(IID_IRowset, rowset.PutVoid()))) return "no IRowset";
  TRowReader reader(rowset.Get(), kind);
  if (FAILED(reader.Created())) return "accessor " + HResultText(reader.Created());
  std::string text;
  for (;;) {
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    const HRESULT fetched = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, batch, &obtained, &rows);
    if (FAILED(fetched) && (obtained || rows)) text += "OUT-PARAMETERS NOT CLEARED";
    for (DBCOUNTITEM i = 0; i < obtained; ++i) {
      HRESULT read = S_OK;
      const std::string row = reader.Read(rows[i], read);
      text += HResultText(read) + row + "\n";
    }
    if (obtained) rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
    CoTaskMemFree(rows);
    // Fewer rows for want of memory is a pause, not the end.
    if ((fetched != S_OK && fetched != DB_S_ROWLIMITEXCEEDED) || obtained == 0) {
      text += "end " + HResultText(fetched) + "\n";
      break;
    }
  }
  return text;
}
