#include "ZelLogProvider_un.h"

#include <new>

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
  folderPrefix_ = FolderPrefix(folder);
}

std::wstring TZelLogDbProvider::FolderOf(const TOleDbBase& object) {
  if (const auto* source = dynamic_cast<const TZelLogDbProvider*>(object.FindDataSource()))
    if (!source->folderPrefix_.empty()) return source->folderPrefix_;
  return FolderPrefix(DataSourceFolderName(object));
}

TOleDbDatasourceFactory& ZelLogDbFactory() {
  static TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TZelLogDbProvider>(), CLSID_ZelLogDbProvider,
                                         L"provider", ZelLogDbProviderDescription, TThreadingModel::Both);
  return factory;
}

namespace {
// The factory is made on the first call rather than while the loader lock is
// held. Failing to make it answers with the standard results all three
// exports document, E_OUTOFMEMORY or E_UNEXPECTED; E_FAIL is none of theirs.
HRESULT MakeFactory() noexcept {
  try {
    ZelLogDbFactory();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}
}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (const HRESULT made = MakeFactory(); FAILED(made)) {
    if (ppv) *ppv = nullptr;
    return made;
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
  const HRESULT made = MakeFactory();
  return FAILED(made) ? made : ComServer().UpdateRegistry(true);
}

STDAPI DllUnregisterServer() {
  const HRESULT made = MakeFactory();
  return FAILED(made) ? made : ComServer().UpdateRegistry(false);
}
