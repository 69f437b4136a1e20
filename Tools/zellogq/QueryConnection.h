#pragma once
// A data source and one session, reached through the platform's service
// components from a connection string, so any OLE DB provider will do.
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <oledb.h>

#include "ComPtr.h"
#include "QueryCell.h"

class TQueryConnection {
public:
  // Throws EQueryFailure when the provider cannot be loaded or refuses.
  explicit TQueryConnection(const std::string& connectionString);

  TComPtr<IRowset> OpenTable(const std::string& name);
  TComPtr<IRowset> Execute(const std::string& text);
  // Null when the provider does not offer that schema rowset.
  TComPtr<IRowset> Schema(REFGUID schema, std::span<VARIANT> restrictions);
  // The data source's information properties (name and version of the
  // provider among them): each property's description and value.
  std::vector<std::pair<std::string, TQueryCell>> DataSourceInfo();

private:
  TComPtr<IDBInitialize> DataSource;
  TComPtr<IOpenRowset> Session;
};
