#include "OLEDbRowsetEvents.h"

#include <oledberr.h>

#include <algorithm>
#include <stdexcept>

namespace {

void CheckReasonAndPhase(int reasonIndex, int phase) {
  if (reasonIndex < 0 || reasonIndex >= OleDbReasonCount || phase < 0 || phase >= OleDbPhaseCount)
    throw std::out_of_range("Notification reason or phase out of range");
}

BYTE PhaseBit(int phase) noexcept { return static_cast<BYTE>(1u << phase); }

bool CookieBelow(const TOleDbEventSink& record, DWORD cookie) noexcept { return record.Cookie < cookie; }

}  // namespace

DBREASON OleDbReasonOf(int reasonIndex) {
  CheckReasonAndPhase(reasonIndex, 0);
  if (reasonIndex == OleDbReasonIndexAsynchInsert) return DBREASON_ROW_ASYNCHINSERT;
  return static_cast<DBREASON>(reasonIndex);
}

// ---------------------------------------------------------------------------

BYTE TOleDbEventSinks::MaskOf(DWORD cookie, int reasonIndex) const noexcept {
  auto it = std::lower_bound(records_.begin(), records_.end(), cookie, CookieBelow);
  return it != records_.end() && it->Cookie == cookie ? it->PhaseMasks[reasonIndex] : phaseMasks_[reasonIndex];
}

TOleDbEventSink& TOleDbEventSinks::RecordOf(DWORD cookie) {
  auto it = std::lower_bound(records_.begin(), records_.end(), cookie, CookieBelow);
  if (it == records_.end() || it->Cookie != cookie) it = records_.insert(it, TOleDbEventSink{cookie, phaseMasks_});
  return *it;
}

void TOleDbEventSinks::DropPhase(DWORD cookie, int reasonIndex, int phase) {
  RecordOf(cookie).PhaseMasks[reasonIndex] &= static_cast<BYTE>(~PhaseBit(phase));
}

void TOleDbEventSinks::DropReason(DWORD cookie, int reasonIndex) { RecordOf(cookie).PhaseMasks[reasonIndex] = 0; }

void TOleDbEventSinks::Disconnected(DWORD cookie) noexcept {
  auto it = std::lower_bound(records_.begin(), records_.end(), cookie, CookieBelow);
  if (it != records_.end() && it->Cookie == cookie) records_.erase(it);
}

bool TOleDbEventSinks::IsWanted(int reasonIndex, int phase) const noexcept {
  const BYTE bit = PhaseBit(phase);
  if ((phaseMasks_[reasonIndex] & bit) == 0) return false;
  return std::any_of(connectionPoint_.Connections().begin(), connectionPoint_.Connections().end(),
                     [&](const TOleDbConnection& c) { return (MaskOf(c.Cookie, reasonIndex) & bit) != 0; });
}

// ---------------------------------------------------------------------------

struct TOleDbRowsetEvents::TRowsetNotifyData {
  enum class TKind { FieldChange, RowChange, RowsetChange };

  TRowsetNotifyData(TKind kind, IUnknown* owner, IRowset* rowset) : Kind(kind), Owner(owner), Rowset(rowset) {
    if (!Rowset && Owner) Owner->QueryInterface(IID_IRowset, Rowset.PutVoid());
  }

  TKind Kind;
  // Keeps the rowset, and so this container, alive while listeners run: one
  // of them may release the consumer's last reference.
  TComPtr<IUnknown> Owner;
  TComPtr<IRowset> Rowset;
  HROW Row = DB_NULL_HROW;
  DBORDINAL ColumnCount = 0;
  DBORDINAL* Columns = nullptr;
  DBCOUNTITEM RowCount = 0;
  const HROW* Rows = nullptr;
};

namespace {

template <class TData>
HRESULT Deliver(IUnknown* sink, const TData& data, int reasonIndex, int phase, bool cantDeny) {
  // The connection list holds what the sink answered for IID_IRowsetNotify.
  auto* listener = static_cast<IRowsetNotify*>(sink);
  const DBREASON reason = OleDbReasonOf(reasonIndex);
  const auto ePhase = static_cast<DBEVENTPHASE>(phase);
  const BOOL fCantDeny = cantDeny ? TRUE : FALSE;
  switch (data.Kind) {
    case TData::TKind::FieldChange:
      return listener->OnFieldChange(data.Rowset.Get(), data.Row, data.ColumnCount, data.Columns, reason, ePhase,
                                     fCantDeny);
    case TData::TKind::RowChange:
      return listener->OnRowChange(data.Rowset.Get(), data.RowCount, data.Rows, reason, ePhase, fCantDeny);
    case TData::TKind::RowsetChange:
      return listener->OnRowsetChange(data.Rowset.Get(), reason, ePhase, fCantDeny);
  }
  return S_OK;
}

}  // namespace

TOleDbRowsetEvents::TOleDbRowsetEvents(IUnknown* owner)
    : TOleDbEventStorage(owner), connections_(AddConnectionPoint(IID_IRowsetNotify)), sinks_(connections_) {
  connections_.OnDisconnect = [this](DWORD cookie) { sinks_.Disconnected(cookie); };
}

bool TOleDbRowsetEvents::IsWanted(int reasonIndex, int phase) const {
  CheckReasonAndPhase(reasonIndex, phase);
  return sinks_.IsWanted(reasonIndex, phase);
}

bool TOleDbRowsetEvents::NotifyFieldChange(IRowset* rowset, HROW row, DBORDINAL columnCount, DBORDINAL columns[],
                                           int reasonIndex, int phase, bool cantDeny) {
  if (!IsWanted(reasonIndex, phase)) return false;
  TRowsetNotifyData data(TRowsetNotifyData::TKind::FieldChange, Owner(), rowset);
  data.Row = row;
  data.ColumnCount = columnCount;
  data.Columns = columns;
  return Dispatch(data, reasonIndex, phase, cantDeny);
}

bool TOleDbRowsetEvents::NotifyRowChange(IRowset* rowset, DBCOUNTITEM rowCount, const HROW rows[], int reasonIndex,
                                         int phase, bool cantDeny) {
  if (!IsWanted(reasonIndex, phase)) return false;
  TRowsetNotifyData data(TRowsetNotifyData::TKind::RowChange, Owner(), rowset);
  data.RowCount = rowCount;
  data.Rows = rows;
  return Dispatch(data, reasonIndex, phase, cantDeny);
}

bool TOleDbRowsetEvents::NotifyRowsetChange(IRowset* rowset, int reasonIndex, int phase, bool cantDeny) {
  if (!IsWanted(reasonIndex, phase)) return false;
  TRowsetNotifyData data(TRowsetNotifyData::TKind::RowsetChange, Owner(), rowset);
  return Dispatch(data, reasonIndex, phase, cantDeny);
}

// Listeners are visited in cookie order and looked up again after every
// call, so callbacks that advise or unadvise neither skip nor repeat anyone;
// listeners advised during the dispatch wait for the next event.
bool TOleDbRowsetEvents::Dispatch(const TRowsetNotifyData& data, int reasonIndex, int phase, bool cantDeny) {
  const BYTE bit = PhaseBit(phase);
  const bool deniablePhase = phase != DBEVENTPHASE_FAILEDTODO && phase != DBEVENTPHASE_DIDEVENT;
  const bool passCantDeny = deniablePhase ? cantDeny : true;
  // A listener told it cannot deny may still answer S_FALSE; that is no veto
  // and must not keep the event from the listeners after it.
  const bool mayVeto = deniablePhase && !cantDeny;

  std::vector<DWORD> told;
  bool vetoed = false;
  const DWORD newest = connections_.LastCookie();
  DWORD cookie = 0;
  for (const TOleDbConnection* c = connections_.NextAfter(0); c && c->Cookie <= newest;
       c = connections_.NextAfter(cookie)) {
    cookie = c->Cookie;
    if ((sinks_.MaskOf(cookie, reasonIndex) & bit) == 0) continue;
    TComPtr<IUnknown> sink = c->Sink;
    const HRESULT answer = Deliver(sink.Get(), data, reasonIndex, phase, passCantDeny);
    // A listener that unadvised itself in the callback leaves no record.
    const bool stillConnected = connections_.Find(cookie) != nullptr;
    if (answer == S_FALSE) {
      if (mayVeto) {
        vetoed = true;
        break;
      }
    } else if (answer == DB_S_UNWANTEDPHASE) {
      if (stillConnected) sinks_.DropPhase(cookie, reasonIndex, phase);
    } else if (answer == DB_S_UNWANTEDREASON) {
      if (stillConnected) sinks_.DropReason(cookie, reasonIndex);
    } else if (answer == S_OK && mayVeto) {
      told.push_back(cookie);
    }
  }

  if (vetoed)
    for (DWORD toldCookie : told) {
      const TOleDbConnection* c = connections_.Find(toldCookie);
      if (!c) continue;
      TComPtr<IUnknown> sink = c->Sink;
      Deliver(sink.Get(), data, reasonIndex, DBEVENTPHASE_FAILEDTODO, true);
    }
  return vetoed;
}
