// The one translation unit that defines the OLE DB constants zellogq uses
// (schema GUIDs, DBGUID_DEFAULT): the import libraries lack them.
#define DBINITCONSTANTS
#include <windows.h>
#include <oledb.h>
