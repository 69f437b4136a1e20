#include "OLEDbDataConvert.h"

#include <msdaguid.h>

using dataconvert_detail::sharedConvert;

// Concurrent trees read the pointer without a lock; only creation and the
// unload-time release take the lock. The conversion library is registered for
// both threading models and keeps no per-call state, so one object serves
// every apartment.
std::atomic<IDataConvert*> dataconvert_detail::sharedConvert{nullptr};

namespace {
SRWLOCK sharedConvertLock = SRWLOCK_INIT;

// Once an apartment that loaded the conversion library is torn down, COM may
// free the library while other trees still hold the shared object; pinning the
// module that implements it keeps its code mapped for the life of the process.
void PinImplementingModule(IDataConvert* convert) noexcept {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     *reinterpret_cast<LPCWSTR*>(convert), &module);
}

IDataConvert* CreateDataConvert() noexcept {
  IDataConvert* convert = nullptr;
  if (FAILED(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                              IID_IDataConvert, reinterpret_cast<void**>(&convert))))
    return nullptr;
  if (!convert) return nullptr;
  IDCInfo* info = nullptr;
  if (SUCCEEDED(convert->QueryInterface(IID_IDCInfo, reinterpret_cast<void**>(&info))) && info) {
    DCINFO version{};
    version.eInfoType = DCINFOTYPE_VERSION;
    V_VT(&version.vData) = VT_UI4;
    V_UI4(&version.vData) = 0x200;
    info->SetInfo(1, &version);
    info->Release();
  }
  PinImplementingModule(convert);
  return convert;
}

class TExclusive {
public:
  TExclusive() noexcept { AcquireSRWLockExclusive(&sharedConvertLock); }
  ~TExclusive() { ReleaseSRWLockExclusive(&sharedConvertLock); }
  TExclusive(const TExclusive&) = delete;
  TExclusive& operator=(const TExclusive&) = delete;
};
}  // namespace

IDataConvert* dataconvert_detail::CreateSharedConvert() noexcept {
  TExclusive lock;
  IDataConvert* convert = sharedConvert.load(std::memory_order_relaxed);
  if (!convert) {
    convert = CreateDataConvert();
    sharedConvert.store(convert, std::memory_order_release);
  }
  return convert;
}

void ReleaseDataConvert() noexcept {
  IDataConvert* convert = nullptr;
  {
    TExclusive lock;
    convert = sharedConvert.exchange(nullptr, std::memory_order_acq_rel);
  }
  if (convert) convert->Release();
}
