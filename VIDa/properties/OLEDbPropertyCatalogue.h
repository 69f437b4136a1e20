#pragma once
// The static catalogue of every property the toolkit knows: metadata and
// default value per (set, ID). Objects instantiate only what they support,
// by ID, from here.
#include <windows.h>
#include <oledb.h>

#include <array>
#include <span>

// A catalogue default, read according to the row's VarType:
// VT_I2, VT_I4, VT_UI1 and VT_BOOL (0 false, -1 true) use Integer, VT_CY uses
// Integer as the scaled currency value (units of 1/10000), VT_R4, VT_R8 and
// VT_DATE use Real, VT_BSTR uses Text (8-bit, at most 255 characters).
struct TOleDbPropertyDefaultValue {
  long long Integer = 0;
  double Real = 0;
  const char* Text = nullptr;
};

struct TOleDbPropertyDefault {
  const GUID* PropSet;
  DBPROPID PropID;
  const wchar_t* Name;
  DBPROPFLAGS Flags;
  DBPROPOPTIONS Options;
  VARTYPE VarType;
  TOleDbPropertyDefaultValue Value;
};

// All rows in their stored order.
std::span<const TOleDbPropertyDefault> PropertyDefaults();

// First row for (set, ID), or null.
const TOleDbPropertyDefault* FindPropertyDefault(REFGUID propSet, DBPROPID propID);

// Writes the row's default into an empty (VariantInit-ed or cleared) variant;
// an unhandled VarType raises "Unsupported property data type".
void PropertyDefaultToVariant(const TOleDbPropertyDefault& row, VARIANT& value);

// DBPROP_OLEOBJECTS, which not every SDK header spells the same way.
inline constexpr DBPROPID OleDbPropOleObjects = 0x54;

// The ROWSET properties every command, rowset and data source carries, in
// their answer order.
inline constexpr std::array<DBPROPID, 36> StandardRowsetPropertyIDs = {
    DBPROP_IAccessor,         DBPROP_IColumnsInfo,
    DBPROP_IConvertType,      DBPROP_IRowset,
    DBPROP_IRowsetInfo,       DBPROP_ISupportErrorInfo,
    DBPROP_IRowsetIdentity,   DBPROP_IRowsetLocate,
    DBPROP_IRowsetChange,     DBPROP_IRowsetScroll,
    DBPROP_IConnectionPointContainer, DBPROP_IRowsetUpdate,
    DBPROP_IRowsetRefresh,    DBPROP_IRowsetResynch,
    DBPROP_IColumnsRowset,    DBPROP_BOOKMARKS,
    DBPROP_BOOKMARKSKIPPED,   DBPROP_CANFETCHBACKWARDS,
    DBPROP_CANHOLDROWS,       DBPROP_CANSCROLLBACKWARDS,
    DBPROP_COMMANDTIMEOUT,    DBPROP_LITERALBOOKMARKS,
    DBPROP_LITERALIDENTITY,   DBPROP_NOTIFICATIONPHASES,
    DBPROP_NOTIFICATIONGRANULARITY, DBPROP_OWNINSERT,
    DBPROP_OWNUPDATEDELETE,   DBPROP_OTHERINSERT,
    DBPROP_OTHERUPDATEDELETE, DBPROP_ROWTHREADMODEL,
    DBPROP_UNIQUEROWS,        DBPROP_UPDATABILITY,
    DBPROP_ISequentialStream, DBPROP_CLIENTCURSOR,
    DBPROP_ACCESSORDER,       DBPROP_HIDDENCOLUMNS,
};

// Data source DBPROPSET_DBINIT, in order; DBPROP_INIT_MODE is the one added
// with the keep-default switch.
inline constexpr std::array<DBPROPID, 10> DatasourceInitPropertyIDs = {
    DBPROP_AUTH_PASSWORD,  DBPROP_AUTH_USERID,         DBPROP_INIT_DATASOURCE, DBPROP_INIT_LOCATION,
    DBPROP_INIT_MODE,      DBPROP_INIT_PROMPT,         DBPROP_INIT_PROVIDERSTRING, DBPROP_INIT_TIMEOUT,
    DBPROP_INIT_HWND,      DBPROP_INIT_OLEDBSERVICES,
};

// Data source DBPROPSET_DATASOURCE.
inline constexpr std::array<DBPROPID, 1> DatasourcePropertyIDs = {DBPROP_CURRENTCATALOG};

// Data source DBPROPSET_DATASOURCEINFO, in order.
inline constexpr std::array<DBPROPID, 11> DatasourceInfoPropertyIDs = {
    DBPROP_ACTIVESESSIONS, DBPROP_DATASOURCEREADONLY, DBPROP_PROVIDEROLEDBVER, DBPROP_DSOTHREADMODEL,
    DBPROP_BYREFACCESSORS, DBPROP_DBMSNAME,           DBPROP_PROVIDERNAME,     OleDbPropOleObjects,
    DBPROP_STRUCTUREDSTORAGE, DBPROP_MULTIPLERESULTS, DBPROP_PROVIDERVER,
};

// Session DBPROPSET_SESSION.
inline constexpr std::array<DBPROPID, 1> SessionPropertyIDs = {DBPROP_SESS_AUTOCOMMITISOLEVELS};
