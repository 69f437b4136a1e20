// Must not compile: the data source's descriptor is misspelt, so its session
// class would silently be missing.
#include "OLEDbDatasource.h"

class TMisspeltProvider : public TOleDbDatasource {
public:
  static constexpr const wchar_t* ClassName = L"TMisspeltProvider";
  struct TClas : TOleDbClass {};
};

const TOleDbClass& MisspeltProviderClass() { return OleDbClassOf<TMisspeltProvider>(); }
