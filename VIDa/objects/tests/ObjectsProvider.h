#pragma once
// A provider made of the toolkit's objects for the object tests: its
// session opens buffered rows of any table name, offers the toolkit's three
// schema rowsets and creates commands that describe two columns.
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <string>

#include "OLEDbCommand.h"
#include "OLEDbDatasource.h"
#include "OLEDbFactory.h"
#include "OLEDbRowset.h"
#include "OLEDbSession.h"

// {6B0F4C1E-2D57-4A8B-B3C9-7E15A0D4F210}
inline constexpr CLSID CLSID_ObjectsTestProvider = {
    0x6b0f4c1e, 0x2d57, 0x4a8b, {0xb3, 0xc9, 0x7e, 0x15, 0xa0, 0xd4, 0xf2, 0x10}};

// What the last rowset was opened with.
struct TObjectsOpenRequest {
  TOleDbExecKind Kind = TOleDbExecKind::Table;
  std::wstring TableName, IndexName, Text;
  std::size_t ParameterCount = 0;
  bool HasParamData = false;
  bool HasPropertySets = false;
};

// Three rows of ID (I4) and NAME (WSTR): 1 "one", 2 "two", 3 "three"; a
// table named "missing" fails with DB_E_NOTABLE, reading NAME of a table
// named "faulty" fails with E_FAIL; a command text sets the rows affected
// to 7.
class TObjectsRowset : public TOleDbRowset {
public:
  static constexpr const wchar_t* ClassName = L"TObjectsRowset";
  void CreateRowsetData(TOleDbExecParams& params) override;
  // A command timeout other than 0 is not settable.
  void CheckPropertyValue(TOleDbProperty& property, const VARIANT& value, DBPROPSTATUS& status) override;
  static inline TObjectsOpenRequest LastRequest;
};

class TObjectsCommand : public TOleDbCommand {
public:
  static constexpr const wchar_t* ClassName = L"TObjectsCommand";
  struct TClass : TOleDbClass {
    const TOleDbClass* RowsetClass() const override { return &OleDbClassOf<TObjectsRowset>(); }
  };

  // Capabilities from NextCapabilities.
  void InitializeObject() override;
  void DescribeColumns(TOleDbExecParams& params, TOleDbColumns& columns) override;
  void PrepareCommand(ULONG) override { ++PrepareCalls; }
  void UnprepareCommand() override {}

  static inline std::uint8_t NextCapabilities = 0;
  static inline int PrepareCalls = 0;
};

class TObjectsSession : public TOleDbSession {
public:
  static constexpr const wchar_t* ClassName = L"TObjectsSession";
  struct TClass : TOleDbClass {
    const TOleDbClass* RowsetClass() const override { return &OleDbClassOf<TObjectsRowset>(); }
    const TOleDbClass* CommandClass() const override { return &OleDbClassOf<TObjectsCommand>(); }
  };

  // Capabilities from NextCapabilities.
  void InitializeObject() override;
  // TABLES: one row per table of "one.tbl" and "two.tbl" whose name passes
  // the TABLE_NAME restriction; COLUMNS and PROVIDER_TYPES: one row; with
  // BuildNothing, no data at all.
  void BuildSchemaRowset(const TOleDbSchema& schema, const TOleDbRestrictions& restrictions,
                         TComPtr<IOleDbRowsetData>& data) override;

  static inline std::uint8_t NextCapabilities = OleDbSessionCreateCommand | OleDbSessionSchemaRowset;
  static inline bool BuildNothing = false;
  static inline std::size_t LastRestrictionCount = 0;
};

class TObjectsDataSource : public TOleDbDatasource {
public:
  static constexpr const wchar_t* ClassName = L"TObjectsDataSource";
  struct TClass : TOleDbClass {
    const TOleDbClass* SessionClass() const override { return &OleDbClassOf<TObjectsSession>(); }
  };
};

// An initialised data source of the objects provider.
TComPtr<IDBInitialize> CreateObjectsDataSource();
// A session of a new data source (the session keeps it alive).
TComPtr<IOpenRowset> CreateObjectsSession();
// A command of session, with text when given.
TComPtr<ICommandText> CreateObjectsCommand(IOpenRowset* session, const wchar_t* text = nullptr);
// The toolkit object behind a consumer's interface.
template <class T>
T& ObjectBehind(IUnknown* unknown) {
  TComPtr<IOleDbClass> link;
  unknown->QueryInterface(IID_IOleDbClass, link.PutVoid());
  return dynamic_cast<T&>(*link->GetObject());
}
