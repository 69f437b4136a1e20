#include "OLEDbDataConvert.h"

#include <msdaguid.h>

namespace {
// Process-wide and unlocked: each object tree is used by one thread at a time.
// At process exit the reference is abandoned, not released: by then COM may
// have unloaded the conversion library already.
struct TSharedDataConvert {
  ~TSharedDataConvert() { (void)Convert.Detach(); }
  TComPtr<IDataConvert> Convert;
};

TComPtr<IDataConvert>& SharedDataConvert() {
  static TSharedDataConvert shared;
  return shared.Convert;
}
}  // namespace

TComPtr<IDataConvert> GetDataConvert() noexcept {
  TComPtr<IDataConvert>& convert = SharedDataConvert();
  if (convert) return convert;
  if (FAILED(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                              IID_IDataConvert, convert.PutVoid()))) {
    convert = nullptr;
    return {};
  }
  TComPtr<IDCInfo> info;
  if (SUCCEEDED(convert.As(info, IID_IDCInfo)) && info) {
    DCINFO version{};
    version.eInfoType = DCINFOTYPE_VERSION;
    V_VT(&version.vData) = VT_UI4;
    V_UI4(&version.vData) = 0x200;
    info->SetInfo(1, &version);
  }
  return convert;
}

void ReleaseDataConvert() noexcept { SharedDataConvert() = nullptr; }
