#include "ProviderTestSupport.h"

#include <gtest/gtest.h>
#include <oledberr.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "ZelLogProvider_un.h"

namespace {
constexpr DBLENGTH TextBufferBytes = 140000;

bool IsTextType(DBTYPE type) { return type == DBTYPE_STR || type == DBTYPE_WSTR; }

std::wstring WideOfAnsi(const char* text, std::size_t length) {
  if (length == 0) return {};
  const int size = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), size);
  return wide;
}

template <class T>
T LoadAt(const BYTE* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

std::wstring StreamText(ISequentialStream* stream, DBTYPE columnType) {
  std::string bytes;
  char chunk[4096];
  ULONG read = 0;
  while (SUCCEEDED(stream->Read(chunk, sizeof chunk, &read)) && read > 0) bytes.append(chunk, read);
  if (columnType == DBTYPE_WSTR) return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  return WideOfAnsi(bytes.data(), bytes.size());
}
}  // namespace

std::wstring WindowsPath(const std::string& unixPath) {
  std::wstring path = L"Z:";
  for (char c : unixPath) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return path;
}

TTempFolder::TTempFolder(const std::wstring& name) {
  wchar_t base[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, base);
  path_ = std::filesystem::path(base) / (L"zellogdb-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TTempFolder::Write(const std::wstring& name, const std::string& bytes) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TSession Connect(const std::wstring& folder, TComPtr<IDBInitialize> dataSource) {
  TSession session;
  session.DataSource = std::move(dataSource);
  if (!session.DataSource) {
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ZelLogDbProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                     session.DataSource.PutVoid()));
  }
  if (!session.DataSource) return session;
  EXPECT_EQ(S_OK, SetInitDataSource(session.DataSource.Get(), folder));
  EXPECT_EQ(S_OK, session.DataSource->Initialize());
  EXPECT_EQ(S_OK, CreateSessionOf(session.DataSource.Get(), session.Open, IID_IOpenRowset));
  return session;
}

TOpened OpenTable(const TSession& session, const std::wstring& table) {
  DBID id{};
  id.eKind = DBKIND_NAME;
  id.uName.pwszName = const_cast<wchar_t*>(table.c_str());
  TOpened opened;
  opened.Result = session.Open->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 0, nullptr,
                                           reinterpret_cast<IUnknown**>(opened.Rowset.Put()));
  opened.Error = TakeErrorInfo();
  return opened;
}

TOpened Execute(const TSession& session, const std::wstring& text) {
  TOpened opened;
  TComPtr<ICommandText> command;
  EXPECT_EQ(S_OK, CreateCommandOf(session.Open.Get(), command, text.c_str()));
  if (!command) return opened;
  opened.Result = command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(opened.Rowset.Put()));
  opened.Error = TakeErrorInfo();
  return opened;
}

std::vector<std::wstring> ColumnNames(IUnknown* object, HRESULT* result) {
  std::vector<std::wstring> names;
  TComPtr<IColumnsInfo> info;
  HRESULT hr = object->QueryInterface(IID_IColumnsInfo, info.PutVoid());
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* buffer = nullptr;
  if (SUCCEEDED(hr)) hr = info->GetColumnInfo(&count, &columns, &buffer);
  for (DBORDINAL i = 0; i < count; ++i) names.push_back(columns[i].pwszName ? columns[i].pwszName : L"");
  CoTaskMemFree(columns);
  CoTaskMemFree(buffer);
  if (result) *result = hr;
  return names;
}

DBPROP MakeProperty(DBPROPID id, VARTYPE type, LONG value, DBPROPOPTIONS options) {
  DBPROP property{};
  property.dwPropertyID = id;
  property.dwOptions = options;
  property.colid = DB_NULLID;
  V_VT(&property.vValue) = type;
  if (type == VT_BOOL)
    V_BOOL(&property.vValue) = value ? VARIANT_TRUE : VARIANT_FALSE;
  else
    V_I4(&property.vValue) = value;
  return property;
}

std::string LogText(const std::vector<std::string>& dataLines) {
  std::string text =
      "#Software: Tarnvel ZEL Corvane Edition\r\n#Version: 2.0\r\n#Timezone: UTC\r\n#Server: MAIL1\r\n"
      "#Fields: x-event-datetime x-event-class x-event-action x-filtering-point x-event-severity x-ip x-sender "
      "x-recipients x-msg-subject x-event-msg\r\n";
  for (const std::string& line : dataLines) text += line + "\r\n";
  return text;
}

std::wstring BoolText(bool value) { return value ? L"true" : L"false"; }

std::wstring DateText(double value) {
  wchar_t text[64];
  swprintf(text, 64, L"%.9f", value);
  return text;
}

TTableReader::TTableReader(IRowset* rowset, TBindingKind kind) : rowset_(rowset), kind_(kind) {
  TComPtr<IColumnsInfo> info;
  EXPECT_EQ(S_OK, rowset->QueryInterface(IID_IColumnsInfo, info.PutVoid()));
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* names = nullptr;
  EXPECT_EQ(S_OK, info->GetColumnInfo(&count, &columns, &names));
  static DBOBJECT streamObject{STGM_READ, IID_ISequentialStream};
  DBBYTEOFFSET offset = 0;
  for (DBORDINAL i = 0; i < count; ++i) {
    const DBTYPE type = columns[i].wType;
    columnTypes_.push_back(type);
    DBBINDING binding{};
    binding.iOrdinal = columns[i].iOrdinal;
    binding.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    binding.obStatus = offset;
    binding.obLength = offset + 8;
    binding.obValue = offset + 16;
    binding.wType = type;
    binding.cbMaxLen = 16;
    switch (kind) {
      case TBindingKind::Native:
        if (IsTextType(type)) binding.cbMaxLen = TextBufferBytes;
        break;
      case TBindingKind::WideText:
        binding.wType = DBTYPE_WSTR;
        binding.cbMaxLen = TextBufferBytes;
        break;
      case TBindingKind::Variant:
        binding.wType = DBTYPE_VARIANT;
        binding.cbMaxLen = sizeof(VARIANT);
        break;
      case TBindingKind::Stream:
        if (IsTextType(type)) {
          binding.wType = DBTYPE_IUNKNOWN;
          binding.pObject = &streamObject;
          binding.cbMaxLen = sizeof(IUnknown*);
        }
        break;
    }
    bindings_.push_back(binding);
    offset += 16 + ((binding.cbMaxLen + 7) / 8) * 8;
  }
  CoTaskMemFree(columns);
  CoTaskMemFree(names);
  buffer_.resize(offset);
  EXPECT_EQ(S_OK, rowset->QueryInterface(IID_IAccessor, accessor_.PutVoid()));
  std::vector<DBBINDSTATUS> status(bindings_.size());
  EXPECT_EQ(S_OK, accessor_->CreateAccessor(DBACCESSOR_ROWDATA, bindings_.size(), bindings_.data(), buffer_.size(),
                                            &handle_, status.data()));
}

TTableReader::~TTableReader() {
  if (accessor_ && handle_) accessor_->ReleaseAccessor(handle_, nullptr);
}

HRESULT TTableReader::Fetch(DBROWCOUNT count, std::vector<HROW>& rows) {
  DBCOUNTITEM obtained = 0;
  HROW* handles = nullptr;
  const HRESULT hr = rowset_->GetNextRows(DB_NULL_HCHAPTER, 0, count, &obtained, &handles);
  rows.assign(handles, handles + obtained);
  CoTaskMemFree(handles);
  return hr;
}

void TTableReader::Release(const std::vector<HROW>& rows) {
  if (!rows.empty()) {
    EXPECT_EQ(S_OK, rowset_->ReleaseRows(rows.size(), rows.data(), nullptr, nullptr, nullptr));
  }
}

TRowText TTableReader::Read(HROW row, HRESULT& result) {
  std::memset(buffer_.data(), 0, buffer_.size());
  result = rowset_->GetData(row, handle_, buffer_.data());
  TRowText text;
  if (FAILED(result)) return text;
  for (std::size_t i = 0; i < bindings_.size(); ++i) {
    const DBBINDING& binding = bindings_[i];
    const BYTE* value = buffer_.data() + binding.obValue;
    const auto status = LoadAt<DBSTATUS>(buffer_.data() + binding.obStatus);
    const auto length = LoadAt<DBLENGTH>(buffer_.data() + binding.obLength);
    if (status != DBSTATUS_S_OK) {
      text.push_back(L"!" + std::to_wstring(status));
      continue;
    }
    switch (binding.wType) {
      case DBTYPE_STR:
        text.push_back(WideOfAnsi(reinterpret_cast<const char*>(value), length));
        break;
      case DBTYPE_WSTR:
        text.push_back(std::wstring(reinterpret_cast<const wchar_t*>(value), length / sizeof(wchar_t)));
        break;
      case DBTYPE_BOOL:
        text.push_back(BoolText(LoadAt<VARIANT_BOOL>(value) == VARIANT_TRUE));
        break;
      case DBTYPE_DATE:
        text.push_back(DateText(LoadAt<double>(value)));
        break;
      case DBTYPE_I4:
        text.push_back(std::to_wstring(LoadAt<std::int32_t>(value)));
        break;
      case DBTYPE_UI4:
        text.push_back(std::to_wstring(LoadAt<std::uint32_t>(value)));
        break;
      case DBTYPE_UI2:
        text.push_back(std::to_wstring(LoadAt<std::uint16_t>(value)));
        break;
      case DBTYPE_I2:
        text.push_back(std::to_wstring(LoadAt<std::int16_t>(value)));
        break;
      case DBTYPE_IUNKNOWN: {
        auto* stream = LoadAt<ISequentialStream*>(value);
        text.push_back(StreamText(stream, columnTypes_[i]));
        stream->Release();
        break;
      }
      case DBTYPE_VARIANT: {
        VARIANT variant = LoadAt<VARIANT>(value);
        switch (V_VT(&variant)) {
          case VT_BSTR:
            text.push_back(std::wstring(V_BSTR(&variant), SysStringLen(V_BSTR(&variant))));
            break;
          case VT_BOOL:
            text.push_back(BoolText(V_BOOL(&variant) == VARIANT_TRUE));
            break;
          case VT_DATE:
            text.push_back(DateText(V_DATE(&variant)));
            break;
          case VT_I4:
            text.push_back(std::to_wstring(V_I4(&variant)));
            break;
          default:
            text.push_back(L"?vt" + std::to_wstring(V_VT(&variant)));
        }
        VariantClear(&variant);
        break;
      }
      default:
        text.push_back(L"?type");
    }
  }
  return text;
}

std::vector<TRowText> TTableReader::ReadAll(DBROWCOUNT batch) {
  std::vector<TRowText> rows;
  std::vector<HROW> held;
  for (;;) {
    const HRESULT fetched = Fetch(batch, held);
    EXPECT_TRUE(fetched == S_OK || fetched == DB_S_ENDOFROWSET) << std::hex << fetched;
    for (HROW row : held) {
      HRESULT result = S_OK;
      rows.push_back(Read(row, result));
      if (FAILED(result)) rows.back() = {L"!GetData"};
    }
    Release(held);
    if (fetched != S_OK || held.empty()) break;
  }
  return rows;
}
