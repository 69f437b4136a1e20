#pragma once
// The process-wide OLE DB data conversion object: created on first use,
// dropped when a data source is uninitialised.
#include <windows.h>
#include <oledb.h>
#include <msdadc.h>

#include "ComPtr.h"

// The shared IDataConvert (created now if needed); empty when the conversion
// library cannot be created.
TComPtr<IDataConvert> GetDataConvert() noexcept;
// Drops the shared reference; the next GetDataConvert creates a new object.
void ReleaseDataConvert() noexcept;
