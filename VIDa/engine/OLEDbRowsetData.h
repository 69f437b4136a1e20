#pragma once
// The rowset data engine: fetching, positioning, bookmarks, reading and
// writing values through accessors, pending changes and change
// notifications, once for every data source. A concrete data class supplies
// the rows through the virtual slots of TOleDbRowsetData; the rowset object
// checks its COM arguments and forwards each data operation to one method of
// IOleDbRowsetData.
//
// Methods raise (EOleDbException, EOleError); operations over many entries
// return their summed result (S_OK, DB_S_ERRORSOCCURRED, DB_E_ERRORSOCCURRED,
// DB_S_ENDOFROWSET), which the rowset hands on with OleDbError.
#include <windows.h>
#include <oledb.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "ComObj.h"
#include "ComPtr.h"
#include "OLEDbBlobStream.h"
#include "OLEDbColumns.h"
#include "OLEDbDBID.h"
#include "OLEDbExactConvert.h"
#include "OLEDbPendingRows.h"
#include "OLEDbRowHandles.h"

class TOleDbAccessor;
class TOleDbAccessors;
class TOleDbExecParams;
class TOleDbPropertySets;
class TOleDbRowsetData;
class TOleDbRowsetEvents;

// What the engine uses of the rowset that owns it; TOleDbRowset implements it.
class IOleDbRowsetDataOwner {
public:
  virtual TOleDbRowHandles& OwnerRowHandles() = 0;
  virtual TOleDbAccessors& OwnerAccessors() = 0;
  // DBPROPSET_ROWSET is read from here.
  virtual TOleDbPropertySets& OwnerPropertySets() = 0;
  // Null while the rowset has no notification container.
  virtual TOleDbRowsetEvents* OwnerEvents() = 0;
  // The rowset's capability bits (OleDbCapability* below).
  virtual std::uint8_t OwnerCapabilities() = 0;

protected:
  ~IOleDbRowsetDataOwner() = default;
};

inline constexpr std::uint8_t OleDbCapabilityLocate = 0x01;
inline constexpr std::uint8_t OleDbCapabilityChange = 0x02;
inline constexpr std::uint8_t OleDbCapabilityDelete = 0x04;
inline constexpr std::uint8_t OleDbCapabilityInsert = 0x08;
inline constexpr std::uint8_t OleDbCapabilityScroll = 0x10;
inline constexpr std::uint8_t OleDbCapabilityNotify = 0x20;
inline constexpr std::uint8_t OleDbCapabilityDeferredUpdate = 0x40;
inline constexpr std::uint8_t OleDbCapabilityRefresh = 0x80;

// Which value GetColumnReadBuffer is asked for.
enum class TOleDbDataMode : std::uint8_t { Current = 0, Original = 1, Visible = 2 };
enum class TOleDbMoveKind : std::uint8_t { Stay = 0, Forward = 1, Backward = 2, ToStart = 3, ToEnd = 4 };
// Where a cursor operation left the cursor.
enum class TOleDbCursorPosition : std::uint8_t { OnRow = 0, BeforeFirst = 1, AfterLast = 2 };
enum class TOleDbFetchDirection : std::uint8_t { Forward = 0, Backward = 1, None = 2 };
enum class TOleDbPendingOperation : std::uint8_t { Undo = 0, Update = 1, Insert = 2, Delete = 3, SetData = 4, Refresh = 5 };
enum class TOleDbColumnStatusKind : std::uint8_t { SetNull = 1, SetDefault = 2 };
// How a consumer wants to use a storage object (DBOBJECT::dwFlags).
enum class TOleDbBlobAccess : std::uint8_t { Read = 0, Write = 1, ReadWrite = 2 };

// A column's value where the data class keeps it, as GetColumnReadBuffer
// locates it: the value in the column's own DBTYPE, and for fixed-length
// types its byte length; text is measured up to its terminator within Length.
struct TOleDbColumnValue {
  const void* Data = nullptr;
  DBLENGTH Length = 0;
  bool IsNull = false;
};

// A set of pending states: bit s for state s.
using TOleDbPendingStates = std::uint8_t;
constexpr TOleDbPendingStates OleDbPendingStateBit(TOleDbPendingState state) noexcept {
  return static_cast<TOleDbPendingStates>(1u << static_cast<unsigned>(state));
}
inline constexpr TOleDbPendingStates OleDbPendingChanges = OleDbPendingStateBit(TOleDbPendingState::New) |
                                                           OleDbPendingStateBit(TOleDbPendingState::Changed) |
                                                           OleDbPendingStateBit(TOleDbPendingState::Deleted);
// The DBPENDINGSTATUS a consumer sees for a pending state.
DBPENDINGSTATUS OleDbPendingStatusOf(TOleDbPendingState state) noexcept;

extern const IID IID_IOleDbRowsetData;

struct IOleDbRowsetData : public IUnknown {
  virtual IOleDbRowsetDataOwner* GetOwner() = 0;
  virtual void SetOwner(IOleDbRowsetDataOwner* owner) = 0;
  virtual TOleDbColumns& GetColumns() = 0;
  virtual void InitializeData() = 0;
  virtual void AfterInitialize() = 0;
  virtual bool IsSameRow(HROW hRow1, HROW hRow2) = 0;
  // step: IRowset::GetNextRows (true) rather than a positioned fetch.
  virtual HRESULT GetNextRows(HCHAPTER hChapter, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                              DBCOUNTITEM* pcRowsObtained, HROW** prghRows, bool step) = 0;
  virtual void RestartPosition(HCHAPTER hChapter) = 0;
  virtual HRESULT GetData(HROW hRow, HACCESSOR hAccessor, void* pData) = 0;
  virtual HRESULT Open(TOleDbExecParams* request) = 0;
  virtual void Compare(HCHAPTER hChapter, DBBKMARK cbBookmark1, const BYTE* pBookmark1, DBBKMARK cbBookmark2,
                       const BYTE* pBookmark2, DBCOMPARE* pComparison) = 0;
  virtual HRESULT GetRowsAt(HCHAPTER hChapter, DBBKMARK cbBookmark, const BYTE* pBookmark, DBROWOFFSET lRowsOffset,
                            DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained, HROW** prghRows) = 0;
  virtual HRESULT GetRowsByBookmark(HCHAPTER hChapter, DBCOUNTITEM cRows, const DBBKMARK rgcbBookmarks[],
                                    const BYTE* rgpBookmarks[], HROW rghRows[], DBROWSTATUS rgRowStatus[]) = 0;
  virtual HRESULT Hash(HCHAPTER hChapter, DBBKMARK cBookmarks, const DBBKMARK rgcbBookmarks[],
                       const BYTE* rgpBookmarks[], DBHASHVALUE rgHashedValues[], DBROWSTATUS rgBookmarkStatus[]) = 0;
  virtual HRESULT DeleteRows(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[],
                             DBROWSTATUS rgRowStatus[]) = 0;
  virtual HRESULT SetData(HROW hRow, HACCESSOR hAccessor, void* pData) = 0;
  virtual HRESULT InsertRow(HCHAPTER hChapter, HACCESSOR hAccessor, void* pData, HROW* phRow) = 0;
  virtual void GetApproximatePosition(HCHAPTER hReserved, DBBKMARK cbBookmark, const BYTE* pBookmark,
                                      DBCOUNTITEM* pulPosition, DBCOUNTITEM* pcRows) = 0;
  virtual HRESULT GetRowsAtRatio(HWATCHREGION hReserved, HCHAPTER hChapter, DBCOUNTITEM ulNumerator,
                                 DBCOUNTITEM ulDenominator, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                                 HROW** prghRows) = 0;
  virtual HRESULT GetOriginalData(HROW hRow, HACCESSOR hAccessor, void* pData) = 0;
  // True when rows in the asked states exist (S_OK), else false (S_FALSE).
  virtual bool GetPendingRows(HCHAPTER hChapter, DBPENDINGSTATUS dwRowStatus, DBCOUNTITEM* pcPendingRows,
                              HROW** prgPendingRows, DBPENDINGSTATUS** prgPendingStatus) = 0;
  virtual HRESULT GetRowStatus(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[],
                               DBPENDINGSTATUS rgPendingStatus[]) = 0;
  virtual HRESULT Undo(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[], DBCOUNTITEM* pcRowsUndone,
                       HROW** prgRowsUndone, DBROWSTATUS** prgRowStatus) = 0;
  virtual HRESULT Update(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[], DBCOUNTITEM* pcRows,
                         HROW** prgRows, DBROWSTATUS** prgRowStatus) = 0;
  virtual HRESULT GetVisibleData(HROW hRow, HACCESSOR hAccessor, void* pData) = 0;
  virtual HRESULT RefreshVisibleData(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[], BOOL fOverwrite,
                                     DBCOUNTITEM* pcRowsRefreshed, HROW** prghRowsRefreshed,
                                     DBROWSTATUS** prgRowStatus) = 0;
  virtual void GetAvailableColumns(std::vector<TOleDbDBID>& columnIds) = 0;
  // Leaves data empty for the toolkit's standard column-information rowset.
  virtual void GetColumnsRowsetData(std::span<const DBID> optionalColumns, TComPtr<IOleDbRowsetData>& data) = 0;
};

VIDA_COM_INTERFACE(IOleDbRowsetData)

// The engine's listener on its owner's row handles.
class TRDRowHandleEvents : public TOleDbRowHandleEventsListener {
public:
  explicit TRDRowHandleEvents(TOleDbRowsetData& target) noexcept : Target(&target) {}
  void RowHandleStateChanged(TOleDbRowHandle& handle, bool active) override;
  // Keeps a handle whose row has a pending insert, change or delete.
  void QueryKeepRowHandle(TOleDbRowHandle& handle, bool& keep) override;

  TOleDbRowsetData* Target;
};

// Reference counted (the count starts at 0; create with MakeComObject).
// Row values identify rows for the data class; -1 means no row. Bookmark
// blocks from GetBookmark are the saver's and go back through FreeBookmark.
class TOleDbRowsetData : public TComImpl<TComObject, IOleDbRowsetData> {
public:
  TOleDbRowsetData();
  ~TOleDbRowsetData() override;

  // IOleDbRowsetData
  IOleDbRowsetDataOwner* GetOwner() override { return owner_; }
  void SetOwner(IOleDbRowsetDataOwner* owner) override;
  TOleDbColumns& GetColumns() override { return *columns_; }
  void AfterInitialize() override {}
  bool IsSameRow(HROW hRow1, HROW hRow2) override;
  HRESULT GetNextRows(HCHAPTER hChapter, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                      HROW** prghRows, bool step) override;
  void RestartPosition(HCHAPTER hChapter) override;
  HRESULT GetData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
  void Compare(HCHAPTER hChapter, DBBKMARK cbBookmark1, const BYTE* pBookmark1, DBBKMARK cbBookmark2,
               const BYTE* pBookmark2, DBCOMPARE* pComparison) override;
  HRESULT GetRowsAt(HCHAPTER hChapter, DBBKMARK cbBookmark, const BYTE* pBookmark, DBROWOFFSET lRowsOffset,
                    DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained, HROW** prghRows) override;
  HRESULT GetRowsByBookmark(HCHAPTER hChapter, DBCOUNTITEM cRows, const DBBKMARK rgcbBookmarks[],
                            const BYTE* rgpBookmarks[], HROW rghRows[], DBROWSTATUS rgRowStatus[]) override;
  HRESULT Hash(HCHAPTER hChapter, DBBKMARK cBookmarks, const DBBKMARK rgcbBookmarks[], const BYTE* rgpBookmarks[],
               DBHASHVALUE rgHashedValues[], DBROWSTATUS rgBookmarkStatus[]) override;
  HRESULT DeleteRows(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[], DBROWSTATUS rgRowStatus[]) override;
  HRESULT SetData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
  HRESULT InsertRow(HCHAPTER hChapter, HACCESSOR hAccessor, void* pData, HROW* phRow) override;
  void GetApproximatePosition(HCHAPTER hReserved, DBBKMARK cbBookmark, const BYTE* pBookmark,
                              DBCOUNTITEM* pulPosition, DBCOUNTITEM* pcRows) override;
  HRESULT GetRowsAtRatio(HWATCHREGION hReserved, HCHAPTER hChapter, DBCOUNTITEM ulNumerator,
                         DBCOUNTITEM ulDenominator, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                         HROW** prghRows) override;
  HRESULT GetOriginalData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
  bool GetPendingRows(HCHAPTER hChapter, DBPENDINGSTATUS dwRowStatus, DBCOUNTITEM* pcPendingRows,
                      HROW** prgPendingRows, DBPENDINGSTATUS** prgPendingStatus) override;
  HRESULT GetRowStatus(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[],
                       DBPENDINGSTATUS rgPendingStatus[]) override;
  HRESULT Undo(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[], DBCOUNTITEM* pcRowsUndone,
               HROW** prgRowsUndone, DBROWSTATUS** prgRowStatus) override;
  HRESULT Update(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[], DBCOUNTITEM* pcRows, HROW** prgRows,
                 DBROWSTATUS** prgRowStatus) override;
  HRESULT GetVisibleData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
  HRESULT RefreshVisibleData(HCHAPTER hChapter, DBCOUNTITEM cRows, const HROW rghRows[], BOOL fOverwrite,
                             DBCOUNTITEM* pcRowsRefreshed, HROW** prghRowsRefreshed,
                             DBROWSTATUS** prgRowStatus) override;

  // ---- Virtual slots, in slot order ----------------------------------------

  // Locates one column of a row: sets isNull, or data to the value in the
  // column's own DBTYPE and, for fixed-length types, length to its byte
  // length (the engine enters with length = the column's declared size).
  // Text is measured up to its terminator, within the length left here.
  virtual void GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue, const TOleDbColumn& column,
                                   void*& data, DBLENGTH& length, bool& isNull) = 0;
  // Every column's value of a row at once, by column index, for a data class
  // that keeps a row's values in place: a read then asks once, not once per
  // binding. Empty (the default) sends every binding to GetColumnReadBuffer,
  // as does a column past the end. What a row cannot give raises here.
  virtual std::span<const TOleDbColumnValue> GetRowValues(TOleDbDataMode mode, std::int32_t rowValue);
  // Where the write path stores a column's value.
  virtual void GetColumnPointer(std::int32_t rowValue, const TOleDbColumn& column, void*& data, DBLENGTH& length);
  // Counts are positive; moving past either end stops before the first or
  // after the last row.
  virtual TOleDbCursorPosition MoveCursor(TOleDbMoveKind kind, DBCOUNTITEM count) = 0;
  // On a row: stores its row value in the handle and answers OnRow.
  virtual TOleDbCursorPosition FetchCurrentRow(TOleDbRowHandle& handle) = 0;
  HRESULT Open(TOleDbExecParams* request) override;
  // A new block (OleDbAlloc) remembering the current row.
  virtual void* GetBookmark();
  // Puts the cursor on the row of a block from GetBookmark or of a provider
  // bookmark of the bookmark column's size.
  virtual void GotoBookmark(const void* bookmark);
  // Frees a block from GetBookmark (task memory).
  virtual void FreeBookmark(void* bookmark);
  // Provider bookmarks reach the slots below only with the bookmark column's
  // declared size; one the data class did not hand out must be refused.
  virtual void GetBookmarkRow(const BYTE* bookmark, std::int32_t& rowValue, DBROWSTATUS& status);
  virtual DBCOMPARE CompareBookmarks(const BYTE* bookmark1, const BYTE* bookmark2);
  // Sets hash and status 0 (the engine presets DBROWSTATUS_E_INVALID).
  virtual void HashBookmark(const BYTE* bookmark, DBHASHVALUE& hash, DBROWSTATUS& status);
  // Creates an empty row and stores its row value in the handle.
  virtual void InsertRow(TOleDbRowHandle& handle);
  virtual void DeleteRow(std::int32_t rowValue, DBROWSTATUS& status);
  virtual void SetColumnStatus(std::int32_t rowValue, const TOleDbColumn& column, DBSTATUS& status,
                               TOleDbColumnStatusKind kind);
  virtual void RowDataWritten(std::int32_t rowValue);
  virtual DBCOUNTITEM GetRowCount();
  // Zero-based.
  virtual DBCOUNTITEM GetBookmarkRowIndex(const BYTE* bookmark);
  virtual void SetRowIndex(DBCOUNTITEM index);
  virtual void UndoRow(std::int32_t rowValue, DBROWSTATUS& status);
  virtual void UpdateRow(std::int32_t rowValue, DBROWSTATUS& status);
  virtual void RefreshRow(std::int32_t rowValue, bool overwrite, DBROWSTATUS& status);
  virtual HRESULT RowsRefreshed();
  // A handle gained its first reference (active) or is released for good.
  virtual void RowHandleStateChanged(TOleDbRowHandle& handle, bool active);
  virtual bool SameRow(const TOleDbRowHandle& handle1, const TOleDbRowHandle& handle2);
  void GetAvailableColumns(std::vector<TOleDbDBID>& columnIds) override;
  void GetColumnsRowsetData(std::span<const DBID> optionalColumns, TComPtr<IOleDbRowsetData>& data) override;
  // False for a null accessor (nothing to transfer); raises for a missing
  // handle, accessor or buffer and for a binding to an unknown column.
  virtual bool CheckDataAccess(TOleDbRowHandle* handle, TOleDbAccessor* accessor, const void* pData);
  // The rowset properties that allow scrolling and fetching backwards and
  // holding rows.
  virtual void CheckFetch(DBROWOFFSET lRowsOffset, DBROWCOUNT cRows);
  // Through the shared IDataConvert; a value of the same type is copied
  // without it, and what OLE DB fixes to the byte is converted here, once the
  // converter exists. A conversion the converter refuses fails the binding
  // (status), not the call.
  virtual void ConvertData(DBTYPE sourceType, DBTYPE destinationType, const void* source, void* destination,
                           DBLENGTH sourceLength, DBLENGTH destinationMaxLength, BYTE precision, BYTE scale,
                           DBLENGTH& destinationLength, DBSTATUS& status);
  // Back before the first row; the next fetch starts with the first row.
  virtual void RestartPosition();
  void InitializeData() override {}
  // A row handle taken before the fetch moves its cursor, so that want of
  // memory cannot drop the row the cursor then stands on.
  struct TTakenRowHandle {
    TOleDbRowHandle* Handle = nullptr;
    bool Created = false;
  };
  // Up to |cRows| rows from the cursor on into handles, the first one into
  // first's handle (which FetchRows then owns); handles of a fetch that
  // raises are released again.
  virtual void FetchRows(DBROWCOUNT cRows, DBCOUNTITEM& rowsObtained, HRESULT& result,
                         std::vector<TOleDbRowHandle*>& handles, TTakenRowHandle& first);
  virtual bool SetColumnValue(void* pData, TOleDbRowHandle& handle, DBCOUNTITEM bindingIndex,
                              const TOleDbAccessor& accessor, const TOleDbColumn& column);
  virtual void WriteRowData(void* pData, TOleDbRowHandle& handle, HRESULT& result, const TOleDbAccessor& accessor);
  virtual void ReadRowData(TOleDbDataMode mode, void* pData, HRESULT& result, const TOleDbAccessor& accessor,
                           TOleDbRowHandle& handle);
  virtual void DeleteRowsCore(DBCOUNTITEM cRows, const HROW rghRows[], HRESULT& result, DBROWSTATUS rgRowStatus[]);
  // A handle object FetchRows may use instead of a new one; null by default.
  virtual TOleDbRowHandle* ReuseRowHandle();
  virtual void NotifySetDataBefore(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor);
  virtual void NotifySetDataAfter(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor);
  virtual void NotifyInsertBefore(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor);
  virtual void NotifyInsertAfter(void* pData, TOleDbRowHandle& handle, const TOleDbAccessor& accessor);
  // A veto sets status to DBROWSTATUS_E_CANCELED.
  virtual void NotifyDeleteBefore(TOleDbRowHandle& handle, DBROWSTATUS& status);
  virtual void NotifyDeleteAfter(TOleDbRowHandle& handle);
  // The owner's handles whose rows are in one of states, in handle order.
  virtual void ListPendingRows(TOleDbPendingStates states, std::vector<TOleDbRowHandle*>& handles);
  virtual bool HasPendingRows(TOleDbPendingStates states);
  // The engine of Undo, Update and RefreshVisibleData (all: cRows = 0).
  virtual void ProcessPendingRows(TOleDbPendingOperation operation, bool all, bool overwrite, HRESULT& result,
                                  DBROWSTATUS** statusesOut, HROW** handlesOut, DBCOUNTITEM* countOut,
                                  const HROW rghRows[], DBCOUNTITEM cRows);
  virtual void ProcessPendingRow(TOleDbPendingOperation operation, TOleDbRowHandle& handle, bool overwrite,
                                 DBROWSTATUS& status);
  // Undo or Update of one row: UndoRow or UpdateRow unless it has nothing pending.
  virtual void SettlePendingRow(TOleDbPendingOperation operation, TOleDbRowHandle& handle, DBROWSTATUS& status);
  virtual void RefreshPendingRow(TOleDbRowHandle& handle, bool overwrite, DBROWSTATUS& status);
  // Does nothing unless status is 0.
  virtual void SetPendingState(TOleDbRowHandle& handle, TOleDbPendingOperation operation, DBROWSTATUS status);
  // The value of a long column as bytes the engine owns; null when there is
  // none (the binding then fails with DBSTATUS_E_CANTCREATE).
  virtual std::unique_ptr<TOleDbByteStream> GetColumnBlobStream(TOleDbDataMode mode, std::int32_t rowValue,
                                                                const TOleDbColumn& column, TOleDbBlobAccess access,
                                                                void* data);
  // A storage object owning reader, as its IUnknown.
  virtual TComPtr<IUnknown> CreateBlobStream(std::unique_ptr<TOleDbByteStream> reader);

  // ---- For data classes ------------------------------------------------------

  // Created on first use.
  TOleDbPendingRows& PendingRows();
  bool HasPendingRowsObject() const noexcept { return pendingRows_ != nullptr; }
  // The owner's capability bit for IRowsetUpdate is set.
  bool DeferredUpdateMode();

  // The columns a data class defines (AddColumn and the like).
  TOleDbColumns& Columns() const noexcept { return *columns_; }

protected:
  // The owner's handle and accessor lists; without an owner, nothing is found.
  TOleDbRowHandle* FindRowHandle(HROW hRow) const noexcept;
  TOleDbAccessor* FindAccessor(HACCESSOR hAccessor) const noexcept;
  // Raises E_FAIL "Rowset data has no owner" when unset.
  TOleDbRowHandles& RowHandles() const;

private:
  std::unique_ptr<TOleDbColumns> columns_;
  // Where the last fetch left the cursor, for the next one's first step.
  bool atStart_ = true;
  TOleDbFetchDirection lastDirection_ = TOleDbFetchDirection::Forward;

  struct TSavedPosition {
    TOleDbCursorPosition Position = TOleDbCursorPosition::BeforeFirst;
    void* Bookmark = nullptr;
  };

  TOleDbCursorPosition DirectionalStep(TOleDbFetchDirection direction);
  TSavedPosition SavePosition();
  void RestorePosition(TSavedPosition& saved);
  // Runs fetch between saving and restoring the cursor.
  template <class F>
  HRESULT WithSavedPosition(F&& fetch);
  // True for a provider bookmark the slots may read: length of the bookmark
  // column.
  bool IsProviderBookmark(DBBKMARK length) const noexcept;
  HRESULT ReadData(TOleDbDataMode mode, HROW hRow, HACCESSOR hAccessor, void* pData);
  bool ReadLongValue(TOleDbDataMode mode, void* pData, const DBBINDING& binding, const TOleDbColumn& column,
                     TOleDbRowHandle& handle, void* data, DBLENGTH& transferLength, DBSTATUS& status);
  bool GetBoolRowsetProperty(DBPROPID id) const;
  // Sends one phase of a field or row event; true when it was vetoed.
  bool NotifyColumnSet(TOleDbRowHandle& handle, const TOleDbAccessor& accessor, DBEVENTPHASE phase);
  bool NotifyRowEvent(TOleDbRowHandle& handle, DBREASON reason, DBEVENTPHASE phase);
  TOleDbRowsetEvents* ListenedEvents() const;
  TTakenRowHandle TakeRowHandle();

  // The columns an accessor's bindings name, resolved once per accessor and
  // column set; raises DB_E_BADORDINAL for an ordinal no column has.
  std::span<const TOleDbColumn* const> BindingColumns(const TOleDbAccessor& accessor);

  struct TBindingColumns {
    const TOleDbAccessor* Accessor = nullptr;
    HACCESSOR Handle = 0;
    const DBBINDING* Bindings = nullptr;
    const TOleDbColumns* ColumnSet = nullptr;
    std::uint64_t ColumnsVersion = 0;
    std::vector<const TOleDbColumn*> Columns;
    // Per binding that asks for a client-owned value of a column that is not
    // long: how its value reaches the buffer straight from the row's values
    // (Kind 0: through the general path), copied when the binding has the
    // column's type and converted otherwise, with what that needs of the
    // binding and the column, side by side.
    struct TCopyStep {
      std::uint8_t Kind = 0;
      // Byte size of a fixed-size type: the binding's when copied, the
      // column's when the library's answers are kept.
      std::uint8_t Size = 0;
      bool WantsLength = false;
      bool WantsStatus = false;
      // The converted value is the consumer's to free (BSTR, VARIANT).
      bool HandsOut = false;
      DBTYPE SourceType = DBTYPE_EMPTY;
      DBTYPE Type = DBTYPE_EMPTY;
      std::size_t Column = 0;
      DBBYTEOFFSET Value = 0;
      DBBYTEOFFSET Length = 0;
      DBBYTEOFFSET Status = 0;
      DBLENGTH MaxLength = 0;
    };
    std::vector<TCopyStep> Copies;
    // The library's last answers, per binding whose answers are kept.
    std::vector<TBindingAnswers> Answers;
  };
  TBindingColumns& ResolveBindings(const TOleDbAccessor& accessor);
  // A binding's value through ConvertData, as TransferValue converts it,
  // into destination; the answer kept with the binding when its plan step
  // keeps answers. False when the binding failed (status says why).
  bool ConvertValue(const TBindingColumns::TCopyStep& step, TBindingAnswers& answers, const TOleDbColumnValue& value,
                    BYTE* destination, const DBBINDING& binding, DBLENGTH& length, DBSTATUS& status);
  // Where a binding's value lies: from the row's values when the data class
  // gave them, else from GetColumnReadBuffer.
  TOleDbColumnValue LocateValue(TOleDbDataMode mode, std::span<const TOleDbColumnValue> rowValues,
                                const TOleDbColumn& column, TOleDbRowHandle& handle);
  // One binding's value, length and status; false when the binding failed.
  bool TransferValue(TOleDbDataMode mode, void* pData, const DBBINDING& binding, const TOleDbColumn& column,
                     TOleDbRowHandle& handle, const TOleDbColumnValue& value);

  IOleDbRowsetDataOwner* owner_ = nullptr;
  std::unique_ptr<TOleDbPendingRows> pendingRows_;
  TRDRowHandleEvents rowHandleEvents_;
  // Reused by every fetch, so steady-state fetching allocates nothing.
  std::vector<TOleDbRowHandle*> fetchList_;
  // A consumer rarely reads through more than a few accessors at a time.
  std::array<TBindingColumns, 4> bindingColumns_;
  std::size_t nextBindingColumns_ = 0;
  // Where the current read stored memory or objects the consumer would own
  // (storage objects, BSTRs, by-reference values, variants), so a read that
  // fails later can take them back.
  struct THandedOut {
    DBBYTEOFFSET Offset;
    DBTYPE Type;
  };
  std::vector<THandedOut> handedOut_;
  // The converter's answers for booleans and dates, which repeat from row to
  // row.
  TConversionMemo conversionMemo_;
  // A value is converted here before it replaces a column's.
  std::vector<BYTE> writeScratch_;
};

// Sums per-entry failures: none S_OK, some DB_S_ERRORSOCCURRED, all
// DB_E_ERRORSOCCURRED.
HRESULT OleDbSummedResult(DBCOUNTITEM failed, DBCOUNTITEM total) noexcept;
