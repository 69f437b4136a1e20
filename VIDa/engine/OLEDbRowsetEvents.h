#pragma once
// Rowset notifications: the IRowsetNotify connection point of a rowset and
// the dispatch of field, row and rowset events to its listeners.
//
// Reasons are named by a reason index 0..15: indexes 0..14 are the DBREASON
// values of the same number (DBREASON_ROWSET_FETCHPOSITIONCHANGE through
// DBREASON_ROWSET_CHANGED), index 15 is DBREASON_ROW_ASYNCHINSERT. Phases are
// the DBEVENTPHASE values 0..4; a phase mask has bit p set for phase p.
#include <windows.h>
#include <oledb.h>

#include <array>
#include <vector>

#include "OLEDbConnectionPoints.h"

inline constexpr int OleDbReasonCount = 16;
inline constexpr int OleDbPhaseCount = 5;
inline constexpr int OleDbReasonIndexAsynchInsert = 15;

using TOleDbPhaseMasks = std::array<BYTE, OleDbReasonCount>;

// Which phases of each reason a rowset delivers at all.
inline constexpr TOleDbPhaseMasks OleDbRowsetPhaseMasks = {
    0x1F,  // ROWSET_FETCHPOSITIONCHANGE
    0x10,  // ROWSET_RELEASE
    0x1F,  // COLUMN_SET
    0x10,  // COLUMN_RECALCULATED
    0x10,  // ROW_ACTIVATE
    0x10,  // ROW_RELEASE
    0x1F,  // ROW_DELETE
    0x1F,  // ROW_FIRSTCHANGE
    0x1F,  // ROW_INSERT
    0x1F,  // ROW_RESYNCH
    0x1F,  // ROW_UNDOCHANGE
    0x1F,  // ROW_UNDOINSERT
    0x1F,  // ROW_UNDODELETE
    0x1F,  // ROW_UPDATE
    0x10,  // ROWSET_CHANGED
    0x10,  // ROW_ASYNCHINSERT
};

// The published reason of a reason index; raises for an index out of range.
DBREASON OleDbReasonOf(int reasonIndex);

// What one listener still wants, once it has declined a phase or a reason.
struct TOleDbEventSink {
  DWORD Cookie = 0;
  TOleDbPhaseMasks PhaseMasks{};
};

// The listeners' wishes, kept next to the IRowsetNotify connections. Records
// are keyed by cookie, so a disconnect never hands one listener's wishes to
// another.
class TOleDbEventSinks {
public:
  explicit TOleDbEventSinks(TOleDbConnectionList& connectionPoint) noexcept : connectionPoint_(connectionPoint) {}
  TOleDbEventSinks(const TOleDbEventSinks&) = delete;
  TOleDbEventSinks& operator=(const TOleDbEventSinks&) = delete;

  TOleDbConnectionList& ConnectionPoint() const noexcept { return connectionPoint_; }
  BYTE RowsetMask(int reasonIndex) const noexcept { return phaseMasks_[reasonIndex]; }
  // The listener's own mask when it has a record, else the rowset-wide one.
  BYTE MaskOf(DWORD cookie, int reasonIndex) const noexcept;
  // A listener answered DB_S_UNWANTEDPHASE or DB_S_UNWANTEDREASON.
  void DropPhase(DWORD cookie, int reasonIndex, int phase);
  void DropReason(DWORD cookie, int reasonIndex);
  void Disconnected(DWORD cookie) noexcept;
  // True when some connected listener wants this phase of this reason.
  bool IsWanted(int reasonIndex, int phase) const noexcept;
  size_t RecordCount() const noexcept { return records_.size(); }

private:
  TOleDbEventSink& RecordOf(DWORD cookie);

  TOleDbConnectionList& connectionPoint_;
  std::vector<TOleDbEventSink> records_;  // in cookie order
  TOleDbPhaseMasks phaseMasks_ = OleDbRowsetPhaseMasks;
};

// The notification container of a rowset: the one IRowsetNotify connection
// point and the dispatch. Listeners are called synchronously; they may
// advise, unadvise and release the rowset from inside a callback.
class TOleDbRowsetEvents : public TOleDbEventStorage {
public:
  // owner: the rowset's controlling unknown (see TOleDbEventStorage).
  explicit TOleDbRowsetEvents(IUnknown* owner);

  bool HasListeners() const noexcept { return !connections_.Empty(); }
  // Raises for a reason index or phase out of range.
  bool IsWanted(int reasonIndex, int phase) const;

  // Each delivers one event and returns true when a listener vetoed it
  // (answered S_FALSE to a phase that may be denied, fCantDeny false); the
  // listeners told before then have received DBEVENTPHASE_FAILEDTODO. A null
  // rowset is replaced by the owner's IRowset.
  bool NotifyFieldChange(IRowset* rowset, HROW row, DBORDINAL columnCount, DBORDINAL columns[], int reasonIndex,
                         int phase, bool cantDeny);
  bool NotifyRowChange(IRowset* rowset, DBCOUNTITEM rowCount, const HROW rows[], int reasonIndex, int phase,
                       bool cantDeny);
  bool NotifyRowsetChange(IRowset* rowset, int reasonIndex, int phase, bool cantDeny);

  const TOleDbEventSinks& Sinks() const noexcept { return sinks_; }

private:
  struct TRowsetNotifyData;
  bool Dispatch(const TRowsetNotifyData& data, int reasonIndex, int phase, bool cantDeny);

  TOleDbConnectionList& connections_;
  TOleDbEventSinks sinks_;
};
