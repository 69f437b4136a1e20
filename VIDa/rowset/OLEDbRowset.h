#pragma once
// The COM face of a rowset: accessors, column information, row handles,
// notifications and properties live here; every data operation goes to the
// rowset data engine behind IOleDbRowsetData (OLEDbRowsetData.h).
//
// Which optional interfaces a rowset answers is decided by its capability
// bits (OleDbCapability* in OLEDbRowsetData.h), which a concrete rowset
// chooses (SetCapabilities) when it creates its rowset data:
//
//   void TMyRowset::CreateRowsetData(TOleDbExecParams& params) {
//     AttachData(MakeMyRowsetData(params));     // stores RowsetData
//     SetCapabilities(OleDbCapabilityNotify);
//   }
#include <windows.h>
#include <oledb.h>
#include <ocidl.h>

#include <cstdint>
#include <memory>
#include <span>

#include "ComObj.h"
#include "ComPtr.h"
#include "OLEDbAccessor.h"
#include "OLEDbBase.h"
#include "OLEDbColumnStorage.h"
#include "OLEDbColumnsRowset.h"
#include "OLEDbExecParams.h"
#include "OLEDbRowHandles.h"
#include "OLEDbRowsetData.h"
#include "OLEDbRowsetEvents.h"

// ---------------------------------------------------------------------------
// Private identifiers.

extern const IID IID_IOleDbRowsetInit;
// The optional interfaces are listed under these, so the static interface
// table alone never hands them out.
extern const IID IID_OleDbOptionalRowsetLocate;
extern const IID IID_OleDbOptionalRowsetChange;
extern const IID IID_OleDbOptionalRowsetScroll;
extern const IID IID_OleDbOptionalConnectionPointContainer;
extern const IID IID_OleDbOptionalRowsetUpdate;
extern const IID IID_OleDbOptionalRowsetRefresh;

// How sessions and commands set up a new rowset. Failures are raised.
struct IOleDbRowsetInit : public IUnknown {
  // The property storage's set operation; forNewRowset turns a failed
  // required property into DB_E_ERRORSOCCURRED. Only failure codes raise; a
  // warning is left in status.
  virtual void SetRowsetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[], bool forNewRowset,
                                   HRESULT& status) = 0;
  // Takes the values of another object's property sets (a command's); the
  // same rule for status.
  virtual void CopyRowsetProperties(TOleDbPropertySets& source, HRESULT& status, bool forNewRowset) = 0;
  // CreateRowsetData, InitRowsetData, then the rowset data's Open.
  virtual void Open(TOleDbExecParams& params) = 0;
  // Uses data as the rowset data (schema and columns rowsets), then
  // InitRowsetData.
  virtual void AttachRowsetData(IOleDbRowsetData* data) = 0;
};

VIDA_COM_INTERFACE(IOleDbRowsetInit)

// ---------------------------------------------------------------------------

// IRowset, IRowsetLocate and IRowsetScroll share one operation table (the
// IRowsetScroll one), as do IRowsetChange and IRowsetUpdate.
class TOleDbRowset
    : public TComImpl<TOleDbBase, TComEntry<IRowsetScroll, IID_IRowset>, IAccessor, IColumnsInfo, IColumnsRowset,
                      IRowsetInfo, IConvertType, IRowsetIdentity, IOleDbRowsetInit,
                      TComEntry<IRowsetUpdate, IID_OleDbOptionalRowsetUpdate>,
                      TComEntry<IConnectionPointContainer, IID_OleDbOptionalConnectionPointContainer>,
                      TComEntry<IRowsetRefresh, IID_OleDbOptionalRowsetRefresh>>,
      public IOleDbRowsetDataOwner {
public:
  static constexpr const wchar_t* ClassName = L"TOleDbRowset";

  TOleDbRowset();
  ~TOleDbRowset() override;

  // ---- What the rowset data engine reaches through its owner. The storages
  // exist from construction on.
  TOleDbRowHandleStorage& RowHandleStorage() const noexcept { return *rowHandleStorage_; }
  TOleDbRowHandles& RowHandles() const noexcept { return rowHandleStorage_->Handles(); }
  TOleDbAccessorStorage& AccessorStorage() const noexcept { return *accessorStorage_; }
  TOleDbAccessors& Accessors() const noexcept { return accessorStorage_->Accessors(); }
  TOleDbColumnStorage& ColumnStorage() const noexcept { return *columnStorage_; }
  // What IColumnsRowset::GetColumnsRowset builds with; its handler asks the
  // rowset data first.
  TOleDbColumnsRowsetBuilder& ColumnsRowsetBuilder() noexcept { return columnsRowset_; }
  // Null until a consumer first calls through IConnectionPointContainer.
  TOleDbRowsetEvents* Events() const noexcept { return events_.get(); }
  // The container, created now when it does not exist yet.
  TOleDbRowsetEvents& EnsureEvents();
  std::uint8_t Capabilities() const noexcept { return capabilities_; }
  // Null until the rowset data is created or attached.
  IOleDbRowsetData* RowsetData() const noexcept { return rowsetData_.Get(); }

  // IOleDbRowsetDataOwner
  TOleDbRowHandles& OwnerRowHandles() override { return RowHandles(); }
  TOleDbAccessors& OwnerAccessors() override { return Accessors(); }
  TOleDbPropertySets& OwnerPropertySets() override { return PropertySets(); }
  TOleDbRowsetEvents* OwnerEvents() override { return Events(); }
  std::uint8_t OwnerCapabilities() override { return Capabilities(); }

  // ---- Set-up.
  // Stores the bits and mirrors them into the ROWSET properties; scrolling
  // without bookmarks fails with "Bookmark support is required for
  // scrolling" and changes nothing.
  void SetCapabilities(std::uint8_t flags);
  // Sets RowsetData (what a concrete CreateRowsetData calls).
  void AttachData(IOleDbRowsetData* data);
  // Owner, InitializeData, AfterInitialize, then the rowset data's columns
  // answer IColumnsInfo and IColumnsRowset; "Unable to initialize rowset
  // data" without rowset data.
  void InitRowsetData();

  // A concrete rowset creates its rowset data here (AttachData) and may call
  // SetCapabilities.
  virtual void CreateRowsetData(TOleDbExecParams& params) = 0;
  // The argument checks of IConvertType::CanConvert.
  virtual void CheckConvert(DBTYPE wFromType, DBTYPE wToType, DBCONVERTFLAGS dwConvertFlags);

  void InitProperties() override;
  void* FindStaticInterface(REFIID riid) noexcept override;

  // ---- IRowset
  HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT rgRefCounts[],
                                       DBROWSTATUS rgRowStatus[]) override;
  HRESULT STDMETHODCALLTYPE GetData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
  HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER hChapter, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                        DBCOUNTITEM* pcRowsObtained, HROW** prghRows) override;
  HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], DBROWOPTIONS rgRowOptions[],
                                        DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) override;
  HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER hChapter) override;
  // ---- IRowsetLocate
  HRESULT STDMETHODCALLTYPE Compare(HCHAPTER hChapter, DBBKMARK cbBookmark1, const BYTE* pBookmark1,
                                    DBBKMARK cbBookmark2, const BYTE* pBookmark2, DBCOMPARE* pComparison) override;
  HRESULT STDMETHODCALLTYPE GetRowsAt(HWATCHREGION hReserved1, HCHAPTER hChapter, DBBKMARK cbBookmark,
                                      const BYTE* pBookmark, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                      DBCOUNTITEM* pcRowsObtained, HROW** prghRows) override;
  HRESULT STDMETHODCALLTYPE GetRowsByBookmark(HCHAPTER hChapter, DBCOUNTITEM cRows, const DBBKMARK rgcbBookmarks[],
                                              const BYTE* rgpBookmarks[], HROW rghRows[],
                                              DBROWSTATUS rgRowStatus[]) override;
  HRESULT STDMETHODCALLTYPE Hash(HCHAPTER hChapter, DBBKMARK cBookmarks, const DBBKMARK rgcbBookmarks[],
                                 const BYTE* rgpBookmarks[], DBHASHVALUE rgHashedValues[],
                                 DBROWSTATUS rgBookmarkStatus[]) override;
  // ---- IRowsetScroll
  HRESULT STDMETHODCALLTYPE GetApproximatePosition(HCHAPTER hChapter, DBBKMARK cbBookmark, const BYTE* pBookmark,
                                                   DBCOUNTITEM* pulPosition, DBCOUNTITEM* pcRows) override;
  HRESULT STDMETHODCALLTYPE GetRowsAtRatio(HWATCHREGION hReserved1, HCHAPTER hChapter, DBCOUNTITEM ulNumerator,
                                           DBCOUNTITEM ulDenominator, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                                           HROW** prghRows) override;
  // ---- IRowsetChange
  HRESULT STDMETHODCALLTYPE DeleteRows(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[],
                                       DBROWSTATUS rgRowStatus[]) override;
  HRESULT STDMETHODCALLTYPE SetData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
  HRESULT STDMETHODCALLTYPE InsertRow(HCHAPTER hReserved, HACCESSOR hAccessor, void* pData, HROW* phRow) override;
  // ---- IRowsetUpdate
  HRESULT STDMETHODCALLTYPE GetOriginalData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
  HRESULT STDMETHODCALLTYPE GetPendingRows(HCHAPTER hReserved, DBPENDINGSTATUS dwRowStatus,
                                           DBCOUNTITEM* pcPendingRows, HROW** prgPendingRows,
                                           DBPENDINGSTATUS** prgPendingStatus) override;
  HRESULT STDMETHODCALLTYPE GetRowStatus(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[],
                                         DBPENDINGSTATUS rgPendingStatus[]) override;
  HRESULT STDMETHODCALLTYPE Undo(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[],
                                 DBCOUNTITEM* pcRowsUndone, HROW** prgRowsUndone,
                                 DBROWSTATUS** prgRowStatus) override;
  HRESULT STDMETHODCALLTYPE Update(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[], DBCOUNTITEM* pcRows,
                                   HROW** prgRows, DBROWSTATUS** prgRowStatus) override;
  // ---- IRowsetRefresh
  HRESULT STDMETHODCALLTYPE RefreshVisibleData(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[],
                                               BOOL fOverWrite, DBCOUNTITEM* pcRowsRefreshed,
                                               HROW** prghRowsRefreshed, DBROWSTATUS** prgRowStatus) override;
  HRESULT STDMETHODCALLTYPE GetLastVisibleData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
  // ---- IRowsetIdentity
  HRESULT STDMETHODCALLTYPE IsSameRow(HROW hThisRow, HROW hThatRow) override;
  // ---- IAccessor
  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override;
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                           const DBBINDING rgBindings[], DBLENGTH cbRowSize,
                                           HACCESSOR* phAccessor, DBBINDSTATUS rgStatus[]) override;
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                                        DBCOUNTITEM* pcBindings, DBBINDING** prgBindings) override;
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override;
  // ---- IColumnsInfo
  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                          OLECHAR** ppStringsBuffer) override;
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[],
                                         DBORDINAL rgColumns[]) override;
  // ---- IColumnsRowset
  HRESULT STDMETHODCALLTYPE GetAvailableColumns(DBORDINAL* pcOptColumns, DBID** prgOptColumns) override;
  HRESULT STDMETHODCALLTYPE GetColumnsRowset(IUnknown* pUnkOuter, DBORDINAL cOptColumns, const DBID rgOptColumns[],
                                             REFIID riid, ULONG cPropertySets, DBPROPSET rgPropertySets[],
                                             IUnknown** ppColRowset) override;
  // ---- IRowsetInfo
  HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                          ULONG* pcPropertySets, DBPROPSET** prgPropertySets) override;
  HRESULT STDMETHODCALLTYPE GetReferencedRowset(DBORDINAL iOrdinal, REFIID riid,
                                                IUnknown** ppReferencedRowset) override;
  HRESULT STDMETHODCALLTYPE GetSpecification(REFIID riid, IUnknown** ppSpecification) override;
  // ---- IConvertType
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE wFromType, DBTYPE wToType, DBCONVERTFLAGS dwConvertFlags) override;
  // ---- IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
  // ---- IOleDbRowsetInit
  void SetRowsetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[], bool forNewRowset,
                           HRESULT& status) override;
  void CopyRowsetProperties(TOleDbPropertySets& source, HRESULT& status, bool forNewRowset) override;
  void Open(TOleDbExecParams& params) override;
  void AttachRowsetData(IOleDbRowsetData* data) override;

protected:
  std::span<const TOleDbOptionalInterface> OptionalInterfaces() const noexcept override;
  std::uint8_t CapabilityBits() const noexcept override { return capabilities_; }
  const char* QueryInterfaceFailPrefix() const noexcept override { return "Rowset QI Fail: "; }

private:
  // The rowset data, raising "Unable to initialize rowset data" while there
  // is none.
  IOleDbRowsetData& Data() const;

  std::unique_ptr<TOleDbAccessorStorage> accessorStorage_;
  std::unique_ptr<TOleDbColumnStorage> columnStorage_;
  std::unique_ptr<TOleDbRowHandleStorage> rowHandleStorage_;
  TOleDbColumnsRowsetBuilder columnsRowset_;
  TComPtr<IOleDbRowsetData> rowsetData_;
  std::uint8_t capabilities_ = 0;
  std::unique_ptr<TOleDbRowsetEvents> events_;
};

// A new rowset of rowsetClass over existing rowset data, straight into the
// consumer's out-parameter: aggregation check, creation, AttachRowsetData.
// No parent is set: such rowsets answer S_FALSE to GetSpecification.
void CreateRowsetOverData(IOleDbRowsetData* data, const TComClass& rowsetClass, IUnknown* outer, REFIID riid,
                          IUnknown** rowset);

// Makes a rowset that a session or command has just created its child and
// answers the interface that sets the rowset up.
TComPtr<IOleDbRowsetInit> AdoptRowset(IUnknown& rowset, IOleDbParentClass& parent);
