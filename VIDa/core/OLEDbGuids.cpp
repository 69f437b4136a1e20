// The one place where the OLE DB constants (property-set GUIDs, DBIDs and the
// conversion library's CLSID) are defined: the mingw import libraries lack
// some of them, and the SDK lets exactly one translation unit define them.
#define DBINITCONSTANTS
#include <windows.h>
#include <oledb.h>
#include <msdaguid.h>
