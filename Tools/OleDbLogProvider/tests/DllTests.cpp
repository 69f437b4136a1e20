// zellogdb.dll as consumers load it: by path, by CLSID and ProgID after
// registration, and through the platform's service components.
#include <gtest/gtest.h>
#include <msdasc.h>
#include <oledberr.h>

#include <set>

#include "ProviderTestSupport.h"
#include "ZelLogProvider_un.h"

namespace {
using TDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using TDllFunction = HRESULT(STDAPICALLTYPE*)();

const std::wstring ClsidText = L"{55EC7CF0-F505-4435-959F-3EDF8409519C}";

HMODULE Library() {
  static HMODULE module = LoadLibraryW(WindowsPath(ZELLOGDB_DLL_PATH).c_str());
  return module;
}

template <class F>
F Export(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Library(), name)));
}

TComPtr<IDBInitialize> CreateByPath() {
  TComPtr<IClassFactory> factory;
  EXPECT_EQ(S_OK, Export<TDllGetClassObject>("DllGetClassObject")(CLSID_ZelLogDbProvider, IID_IClassFactory,
                                                                    factory.PutVoid()));
  TComPtr<IDBInitialize> provider;
  if (factory) {
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDBInitialize, provider.PutVoid()));
  }
  return provider;
}

std::wstring RegistryText(const std::wstring& key, const wchar_t* valueName) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), valueName, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return data;
}

bool KeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// The names the module's export directory lists.
std::set<std::string> ExportNames(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::set<std::string> result;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) result.insert(reinterpret_cast<const char*>(base + names[i]));
  return result;
}

// The system DLLs a module imports, lower case.
std::set<std::string> ImportNames(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::set<std::string> result;
  for (const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + entry.VirtualAddress);
       import->Name != 0; ++import) {
    std::string name = reinterpret_cast<const char*>(base + import->Name);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    result.insert(name);
  }
  return result;
}
}  // namespace

TEST(ZelLogDbDll, ExportsExactlyTheFourFunctionsAndNeedsOnlySystemLibraries) {
  ASSERT_NE(nullptr, Library());
  EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                   "DllUnregisterServer"}),
            ExportNames(Library()));
  for (const std::string& name : ImportNames(Library())) {
    EXPECT_EQ(std::string::npos, name.find("libstdc++")) << name;
    EXPECT_EQ(std::string::npos, name.find("libgcc")) << name;
    EXPECT_EQ(std::string::npos, name.find("libwinpthread")) << name;
  }
}

TEST(ZelLogDbDll, ClassObjectOnlyForTheProviderAndUnloadOnlyWhenNothingLives) {
  void* object = reinterpret_cast<void*>(1);
  const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Export<TDllGetClassObject>("DllGetClassObject")(other, IID_IClassFactory, &object));
  EXPECT_EQ(nullptr, object);

  const auto canUnload = Export<TDllFunction>("DllCanUnloadNow");
  TComPtr<IRowset> rowset;
  {
    TComPtr<IDBInitialize> provider = CreateByPath();
    ASSERT_TRUE(provider);
    EXPECT_EQ(S_FALSE, canUnload());
    ASSERT_EQ(S_OK, SetInitDataSource(provider.Get(), WindowsPath(ZELLOG_EXAMPLE_LOGS)));
    ASSERT_EQ(S_OK, provider->Initialize());
    TComPtr<IDBCreateSession> create;
    ASSERT_EQ(S_OK, provider.As(create, IID_IDBCreateSession));
    TComPtr<IOpenRowset> session;
    ASSERT_EQ(S_OK, create->CreateSession(nullptr, IID_IOpenRowset, reinterpret_cast<IUnknown**>(session.Put())));
    DBID table{};
    table.eKind = DBKIND_NAME;
    table.uName.pwszName = const_cast<wchar_t*>(L"mail2-20090315.log");
    ASSERT_EQ(S_OK, session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr,
                                        reinterpret_cast<IUnknown**>(rowset.Put())));
  }
  // The rowset alone keeps its session and data source, and the library.
  EXPECT_EQ(S_FALSE, canUnload());
  rowset = nullptr;
  EXPECT_EQ(S_OK, canUnload());
}

TEST(ZelLogDbDll, InitializeChecksTheFolder) {
  TComPtr<IDBInitialize> provider = CreateByPath();
  ASSERT_TRUE(provider);
  EXPECT_EQ(E_UNEXPECTED, provider->Initialize());
  TTestErrorInfo error = TakeErrorInfo();
  EXPECT_EQ(L"Folder with log files cannot be found:\r\n''.", error.Description);
  EXPECT_EQ(L"zellogdb.provider", error.Source);

  TTempFolder folder(L"init");
  const std::wstring missing = folder.Name() + L"\\missing";
  ASSERT_EQ(S_OK, SetInitDataSource(provider.Get(), L"  " + missing + L"\t"));
  EXPECT_EQ(E_UNEXPECTED, provider->Initialize());
  EXPECT_EQ(L"Folder with log files cannot be found:\r\n'" + missing + L"'.", TakeErrorInfo().Description);

  // Still uninitialised, so the folder can be corrected.
  ASSERT_EQ(S_OK, SetInitDataSource(provider.Get(), L" " + folder.Name() + L" "));
  EXPECT_EQ(S_OK, provider->Initialize());
  EXPECT_EQ(DB_E_ALREADYINITIALIZED, provider->Initialize());
}

TEST(ZelLogDbDll, RegistrationWritesExactlyItsEntriesAndRemovesThem) {
  const std::wstring classKey = L"CLSID\\" + ClsidText;
  const auto check = [&] {
    EXPECT_EQ(ZelLogDbProviderDescription, RegistryText(classKey, nullptr));
    EXPECT_EQ(L"Apartment", RegistryText(classKey + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_NE(std::wstring::npos, RegistryText(classKey + L"\\InprocServer32", nullptr).find(L"zellogdb.dll"));
    EXPECT_EQ(ZelLogDbProviderDescription, RegistryText(L"zellogdb.provider", nullptr));
    EXPECT_EQ(ClsidText, RegistryText(L"zellogdb.provider\\Clsid", nullptr));
    EXPECT_EQ(L"zellogdb.provider", RegistryText(classKey + L"\\ProgID", nullptr));
    EXPECT_EQ(ZelLogDbProviderDescription, RegistryText(classKey + L"\\OLE DB Provider", nullptr));
    DWORD services = 0;
    DWORD size = sizeof services;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, classKey.c_str(), L"OLEDB_SERVICES", RRF_RT_REG_DWORD,
                                          nullptr, &services, &size));
    EXPECT_EQ(0xFFFFFFFFu, services);
  };
  // regsvr32 registered the library before the tests ran.
  check();
  EXPECT_EQ(S_OK, Export<TDllFunction>("DllUnregisterServer")());
  EXPECT_FALSE(KeyExists(classKey));
  EXPECT_FALSE(KeyExists(L"zellogdb.provider"));
  EXPECT_EQ(S_OK, Export<TDllFunction>("DllRegisterServer")());
  check();
}

TEST(ZelLogDbDll, ConsumersCreateItByClsidAndByProgID) {
  TComPtr<IDBInitialize> byClsid;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZelLogDbProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                   byClsid.PutVoid()));
  CLSID fromProgID{};
  ASSERT_EQ(S_OK, CLSIDFromProgID(L"zellogdb.provider", &fromProgID));
  EXPECT_TRUE(IsEqualCLSID(CLSID_ZelLogDbProvider, fromProgID));
  TComPtr<IPersist> persist;
  ASSERT_EQ(S_OK, byClsid.As(persist, IID_IPersist));
  CLSID classId{};
  EXPECT_EQ(S_OK, persist->GetClassID(&classId));
  EXPECT_TRUE(IsEqualCLSID(CLSID_ZelLogDbProvider, classId));
}

TEST(ZelLogDbDll, ServiceComponentsCreateItFromAConnectionString) {
  TComPtr<IDataInitialize> services;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                                   services.PutVoid()));
  TTempFolder folder(L"services");
  std::wstring connection = L"Provider=zellogdb.provider;Data Source=" + folder.Name();
  TComPtr<IDBInitialize> provider;
  ASSERT_EQ(S_OK, services->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, connection.c_str(), IID_IDBInitialize,
                                          reinterpret_cast<IUnknown**>(provider.Put())));
  LPOLESTR text = nullptr;
  ASSERT_EQ(S_OK, services->GetInitializationString(provider.Get(), FALSE, &text));
  const std::wstring back = text;
  CoTaskMemFree(text);
  // Wine's service components write the provider only; Windows adds every
  // initialisation property that has a value.
  EXPECT_EQ(0u, back.find(L"Provider=zellogdb.provider;")) << back;
  // The connection string's folder reached the provider: it initialises.
  EXPECT_EQ(S_OK, provider->Initialize());
}
