#include "ZelLogProvider_un.h"

#include "ComObj.h"
#include "OLEDbDataConvert.h"
#include "ZelLogFolder_un.h"
#include "ZelLogSession_un.h"

const TOleDbClass* TZelLogDbProvider::TClass::SessionClass() const { return &OleDbClassOf<TZelLogDbSession>(); }

void TZelLogDbProvider::DoInitialize() {
  const std::wstring folder = DataSourceFolderName(*this);
  const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    throw EZelLogDbProviderError("Folder with log files cannot be found:\r\n'" + Utf8FromWide(folder) + "'.");
}

TOleDbDatasourceFactory& ZelLogDbFactory() {
  static TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TZelLogDbProvider>(), CLSID_ZelLogDbProvider,
                                         L"provider", ZelLogDbProviderDescription, TThreadingModel::Both);
  return factory;
}

// The four exports. The factory is made on the first call rather than while
// the loader lock is held.
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  try {
    ZelLogDbFactory();
  } catch (...) {
    if (ppv) *ppv = nullptr;
    return E_UNEXPECTED;
  }
  return ComServer().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return ComServer().CanUnloadNow(); }

// COM unloads the library only once no object is left, so nothing can be
// converting; at process exit the conversion library may be gone already, so
// the reference is left alone then.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && !reserved) ReleaseDataConvert();
  return TRUE;
}

STDAPI DllRegisterServer() {
  try {
    ZelLogDbFactory();
  } catch (...) {
    return E_FAIL;
  }
  return ComServer().UpdateRegistry(true);
}

STDAPI DllUnregisterServer() {
  try {
    ZelLogDbFactory();
  } catch (...) {
    return E_FAIL;
  }
  return ComServer().UpdateRegistry(false);
}
