#pragma once
// The toolkit's command object. A concrete command names its rowset class
// (RowsetClass in its class descriptor, as a session does), describes its result columns (DescribeColumns),
// may set Capabilities in InitializeObject and may implement preparation
// (PrepareCommand, UnprepareCommand) and statements (ExecuteCommand).
//
// A text that begins with UPDATE, INSERT or DELETE and a blank is executed
// as a statement; any other text opens a rowset whose rowset data gets the
// request (TOleDbExecParams, table-name rule applied to the text).
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>

#include "OLEDbAccessor.h"
#include "OLEDbBase.h"
#include "OLEDbColumnStorage.h"
#include "OLEDbCommandText.h"
#include "OLEDbExecParams.h"
#include "OLEDbParameters.h"

struct IOleDbRowsetInit;

// Private identifiers of the optional command interfaces.
extern const IID IID_OleDbOptionalCommandPrepare;
extern const IID IID_OleDbOptionalCommandWithParameters;

// Capability bits of a command.
inline constexpr std::uint8_t OleDbCommandPrepare = 0x01;     // ICommandPrepare; text must be prepared
inline constexpr std::uint8_t OleDbCommandParameters = 0x02;  // ICommandWithParameters

enum class TOleDbCommandState : std::uint8_t {
  NoText = 0,
  TextSet = 1,
  Prepared = 2,
  Executed = 3,
};

class TOleDbCommand
    : public TComImpl<TOleDbBase, ICommandText, ICommandProperties, IConvertType, IColumnsInfo, IAccessor,
                      TComEntry<ICommandPrepare, IID_OleDbOptionalCommandPrepare>,
                      TComEntry<ICommandWithParameters, IID_OleDbOptionalCommandWithParameters>> {
public:
  // Left incomplete: a concrete class names its class-level choices in a
  // TClass of its own, so a misspelt one fails to compile.
  struct TClass;
  TOleDbCommand();
  ~TOleDbCommand() override;

  // Base initialisation, then the storages and CreateCommandText.
  void InitializeObject() override;
  // The standard rowset properties, which the command's rowsets take over.
  void InitProperties() override;
  void* FindStaticInterface(REFIID riid) noexcept override;

  // ---- Hooks.
  // False for a text that, trimmed of blanks and control characters and in
  // upper case, begins with UPDATE, INSERT or DELETE and one blank.
  virtual bool IsRowsetCommand() const;
  // A statement; here "This operation is not implemented." with the text.
  virtual void ExecuteCommand(TOleDbExecParams& params);
  virtual void OpenRowsetWith(IOleDbRowsetInit& rowsetInit, TOleDbExecParams& params);
  virtual bool CanDescribeParameters() { return false; }
  virtual void DescribeParameters() {}
  virtual void PrepareCommand(ULONG cExpectedRuns);
  virtual void UnprepareCommand();
  virtual void CreateCommandText();
  virtual void CancelCommand() {}
  // The argument checks of IConvertType::CanConvert.
  virtual void CheckConvert(DBTYPE wFromType, DBTYPE wToType, DBCONVERTFLAGS dwConvertFlags);
  virtual void CreateRowset(IUnknown* outer, REFIID riid, TComPtr<IUnknown>& rowset, TOleDbExecParams& params);
  virtual std::unique_ptr<TOleDbExecParams> CreateRowsetExecParams();
  virtual std::unique_ptr<TOleDbExecParams> CreateStatementExecParams();
  // Fills columns with what executing params would return; nothing here.
  virtual void DescribeColumns(TOleDbExecParams& params, TOleDbColumns& columns) {}

  // ---- State.
  TOleDbCommandState State = TOleDbCommandState::NoText;
  std::uint8_t Capabilities = 0;
  std::unique_ptr<TOleDbAccessorStorage> AccessorStorage;
  std::unique_ptr<TOleDbColumnStorage> ColumnStorage;
  std::unique_ptr<TOleDbCommandText> CommandText;
  std::unique_ptr<TOleDbParameterStorage> ParameterStorage;

  // Raises code while State is one of states.
  void CheckState(std::initializer_list<TOleDbCommandState> states, HRESULT code) const;
  // The text as SetCommandText received it.
  const std::wstring& Text() const;
  // The column list, described anew for the current text.
  void RefreshColumns();

  // ---- ICommand
  HRESULT STDMETHODCALLTYPE Cancel() override;
  HRESULT STDMETHODCALLTYPE Execute(IUnknown* pUnkOuter, REFIID riid, DBPARAMS* pParams, DBROWCOUNT* pcRowsAffected,
                                    IUnknown** ppRowset) override;
  HRESULT STDMETHODCALLTYPE GetDBSession(REFIID riid, IUnknown** ppSession) override;
  // ---- ICommandText
  HRESULT STDMETHODCALLTYPE GetCommandText(GUID* pguidDialect, LPOLESTR* ppwszCommand) override;
  HRESULT STDMETHODCALLTYPE SetCommandText(REFGUID rguidDialect, LPCOLESTR pwszCommand) override;
  // ---- ICommandProperties
  HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                          ULONG* pcPropertySets, DBPROPSET** prgPropertySets) override;
  HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) override;
  // ---- ICommandPrepare
  HRESULT STDMETHODCALLTYPE Prepare(ULONG cExpectedRuns) override;
  HRESULT STDMETHODCALLTYPE Unprepare() override;
  // ---- ICommandWithParameters
  HRESULT STDMETHODCALLTYPE GetParameterInfo(DB_UPARAMS* pcParams, DBPARAMINFO** prgParamInfo,
                                             OLECHAR** ppNamesBuffer) override;
  HRESULT STDMETHODCALLTYPE MapParameterNames(DB_UPARAMS cParamNames, const OLECHAR* rgParamNames[],
                                              DB_LPARAMS rgParamOrdinals[]) override;
  HRESULT STDMETHODCALLTYPE SetParameterInfo(DB_UPARAMS cParams, const DB_UPARAMS rgParamOrdinals[],
                                             const DBPARAMBINDINFO rgParamBindInfo[]) override;
  // ---- IColumnsInfo
  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                          OLECHAR** ppStringsBuffer) override;
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[],
                                         DBORDINAL rgColumns[]) override;
  // ---- IConvertType
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE wFromType, DBTYPE wToType, DBCONVERTFLAGS dwConvertFlags) override;
  // ---- IAccessor
  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override;
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                           const DBBINDING rgBindings[], DBLENGTH cbRowSize,
                                           HACCESSOR* phAccessor, DBBINDSTATUS rgStatus[]) override;
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                                        DBCOUNTITEM* pcBindings, DBBINDING** prgBindings) override;
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override;

protected:
  std::span<const TOleDbOptionalInterface> OptionalInterfaces() const noexcept override;
  std::uint8_t CapabilityBits() const noexcept override { return Capabilities; }
  const char* QueryInterfaceFailPrefix() const noexcept override { return "Command QI Fail: "; }

  // Hands the consumer's parameter values (when given) and this command's
  // properties to the request.
  void BindParameters(TOleDbExecParams& params, const DBPARAMS* pParams);
  // Copies of the row-data accessors into the new rowset, under the handles
  // the consumer got from this command.
  void InheritAccessors(IUnknown& rowset);
  // The checks GetParameterInfo and MapParameterNames make while no
  // parameter information is held.
  void CheckParameterInfoState() const;
  // The checks of GetColumnInfo and MapColumnIDs.
  // Whether the current text's columns can be described now (the state in
  // which CheckColumnsState lets IColumnsInfo answer).
  bool ColumnsKnown() const;
  void CheckColumnsState() const;
  // Execute for a rowset text; returns the rows affected and the warning of
  // unsettable properties in status.
  DBROWCOUNT ExecuteRowset(IUnknown* outer, REFIID riid, const DBPARAMS* pParams, IUnknown** ppRowset,
                           HRESULT& status);
  DBROWCOUNT ExecuteStatement(const DBPARAMS* pParams);
};
