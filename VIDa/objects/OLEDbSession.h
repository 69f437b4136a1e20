#pragma once
// The toolkit's session object. A concrete session names its rowset class
// and may name a command class in its class descriptor, sets Capabilities in
// InitializeObject and supplies the rows of its schema rowsets in
// BuildSchemaRowset:
//
//   class TMySession : public TOleDbSession {
//   public:
//     static constexpr const wchar_t* ClassName = L"TMySession";
//     struct TClass : TOleDbClass {
//       const TOleDbClass* RowsetClass() const override { return &OleDbClassOf<TMyRowset>(); }
//       const TOleDbClass* CommandClass() const override { return &OleDbClassOf<TMyCommand>(); }
//     };
//     void InitializeObject() override {
//       TOleDbSession::InitializeObject();
//       Capabilities = OleDbSessionCreateCommand | OleDbSessionSchemaRowset;
//     }
//     void BuildSchemaRowset(const TOleDbSchema&, const TOleDbRestrictions&,
//                            TComPtr<IOleDbRowsetData>&) override;
//   };
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <memory>
#include <span>

#include "OLEDbBase.h"
#include "OLEDbExecParams.h"
#include "OLEDbSchemas.h"

// Private identifiers of the optional session interfaces.
extern const IID IID_OleDbOptionalCreateCommand;
extern const IID IID_OleDbOptionalSchemaRowset;

// Capability bits of a session.
inline constexpr std::uint8_t OleDbSessionCreateCommand = 0x01;  // IDBCreateCommand
inline constexpr std::uint8_t OleDbSessionSchemaRowset = 0x02;   // IDBSchemaRowset

class TOleDbSession
    : public TComImpl<TOleDbBase, IOpenRowset, ISessionProperties, IGetDataSource,
                      TComEntry<IDBCreateCommand, IID_OleDbOptionalCreateCommand>,
                      TComEntry<IDBSchemaRowset, IID_OleDbOptionalSchemaRowset>> {
public:
  // Left incomplete: a concrete class names its class-level choices in a
  // TClass of its own, so a misspelt one fails to compile.
  struct TClass;
  // Base initialisation, CreateSchemaStorage, then the storage's BuildSchema
  // handler bound to BuildSchemaRowset unless one is bound already.
  void InitializeObject() override;
  // DBPROPSET_SESSION with DBPROP_SESS_AUTOCOMMITISOLEVELS.
  void InitProperties() override;

  // The rows of a schema rowset (see TOleDbSchemaStorage); none here.
  virtual void BuildSchemaRowset(const TOleDbSchema& schema, const TOleDbRestrictions& restrictions,
                                 TComPtr<IOleDbRowsetData>& data);
  // A TOleDbSchemaStorage over an empty list into SchemaStorage; a concrete
  // session replaces it to use its own storage class.
  virtual void CreateSchemaStorage();
  // An object of the session's rowset class; params is there for sessions
  // that choose the class by request.
  virtual void CreateRowset(IUnknown* outer, REFIID riid, TComPtr<IUnknown>& rowset, TOleDbExecParams& params);
  // Checks the table and index IDs (E_INVALIDARG, DB_E_NOTABLE, DB_E_NOINDEX)
  // and makes the open request for the table.
  virtual std::unique_ptr<TOleDbExecParams> CreateExecParams(const DBID* tableID, const DBID* indexID);

  std::uint8_t Capabilities = 0;
  std::unique_ptr<TOleDbSchemaStorage> SchemaStorage;

  // IOpenRowset
  HRESULT STDMETHODCALLTYPE OpenRowset(IUnknown* pUnkOuter, DBID* pTableID, DBID* pIndexID, REFIID riid,
                                       ULONG cPropertySets, DBPROPSET rgPropertySets[],
                                       IUnknown** ppRowset) override;
  // IGetDataSource
  HRESULT STDMETHODCALLTYPE GetDataSource(REFIID riid, IUnknown** ppDataSource) override;
  // ISessionProperties
  HRESULT STDMETHODCALLTYPE GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                          ULONG* pcPropertySets, DBPROPSET** prgPropertySets) override;
  HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) override;
  // IDBCreateCommand
  HRESULT STDMETHODCALLTYPE CreateCommand(IUnknown* pUnkOuter, REFIID riid, IUnknown** ppCommand) override;
  // IDBSchemaRowset
  HRESULT STDMETHODCALLTYPE GetRowset(IUnknown* pUnkOuter, REFGUID rguidSchema, ULONG cRestrictions,
                                      const VARIANT rgRestrictions[], REFIID riid, ULONG cPropertySets,
                                      DBPROPSET rgPropertySets[], IUnknown** ppRowset) override;
  HRESULT STDMETHODCALLTYPE GetSchemas(ULONG* pcSchemas, GUID** prgSchemas, ULONG** prgRestrictionSupport) override;

protected:
  std::span<const TOleDbOptionalInterface> OptionalInterfaces() const noexcept override;
  std::uint8_t CapabilityBits() const noexcept override { return Capabilities; }
  const char* QueryInterfaceFailPrefix() const noexcept override { return "Session QI Fail: "; }

private:
  TOleDbSchemaStorage& Schemas() const;
};
