#pragma once
// The log provider's session: opens the folder's log files as tables, makes
// log commands and lists the tables and their columns as schema rowsets.
#include <string>
#include <vector>

#include "OLEDbSchemas.h"
#include "OLEDbSession.h"

class TZelLogDbSchemaStorage : public TOleDbSchemaStorage {
public:
  using TOleDbSchemaStorage::TOleDbSchemaStorage;
  // The toolkit's schemas, then DBSCHEMA_INDEXES.
  void DefineSchemas() override;
};

class TZelLogDbSession : public TOleDbSession {
public:
  static constexpr const wchar_t* ClassName = L"TZelLogDbSession";
  struct TClass : TOleDbClass {
    const TOleDbClass* RowsetClass() const override;
    const TOleDbClass* CommandClass() const override;
  };

  // Answers IDBCreateCommand and IDBSchemaRowset.
  void InitializeObject() override;
  void CreateSchemaStorage() override;
  void BuildSchemaRowset(const TOleDbSchema& schema, const TOleDbRestrictions& restrictions,
                         TComPtr<IOleDbRowsetData>& data) override;
};
