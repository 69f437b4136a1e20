#include <gtest/gtest.h>

#include <olectl.h>
#include <oledberr.h>

#include <functional>
#include <memory>
#include <vector>

#include "ComObj.h"
#include "OLEDbBase.h"
#include "OLEDbRowsetEvents.h"

namespace {

// A stand-in rowset exposing the notification container the way a rowset
// does; it answers IRowset so that listeners receive a rowset.
class TTestRowset : public TComImpl<TComObject, IConnectionPointContainer, IRowset> {
public:
  explicit TTestRowset(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~TTestRowset() override {
    if (destroyed_) *destroyed_ = true;
  }
  TOleDbRowsetEvents& Events() {
    if (!events_) events_ = std::make_unique<TOleDbRowsetEvents>(Controller());
    return *events_;
  }
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    return OleDbGuard(*this, [&] { Events().EnumConnectionPoints(ppEnum); });
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    return OleDbGuard(*this, [&] { Events().FindConnectionPoint(riid, ppCP); });
  }
  HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM, const HROW[], DBREFCOUNT[], DBROWSTATUS[]) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetData(HROW, HACCESSOR, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER, DBROWOFFSET, DBROWCOUNT, DBCOUNTITEM*, HROW**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM, const HROW[], DBROWOPTIONS[], DBREFCOUNT[],
                                        DBROWSTATUS[]) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER) override { return E_NOTIMPL; }

private:
  bool* destroyed_;
  std::unique_ptr<TOleDbRowsetEvents> events_;
};

enum class TKind { Field, Row, Rowset };

struct TCall {
  int Listener;
  TKind Kind;
  DBREASON Reason;
  DBEVENTPHASE Phase;
  BOOL CantDeny;
  bool HasRowset;
};
using TCallLog = std::vector<TCall>;

class TTestListener : public TComImpl<TComObject, IRowsetNotify> {
public:
  TTestListener(int id, TCallLog& log) : id_(id), log_(log) {}
  std::function<HRESULT(const TCall&)> Answer;  // S_OK when empty

  HRESULT STDMETHODCALLTYPE OnFieldChange(IRowset* rowset, HROW, DBORDINAL, DBORDINAL[], DBREASON reason,
                                          DBEVENTPHASE phase, BOOL cantDeny) override {
    return Record({id_, TKind::Field, reason, phase, cantDeny, rowset != nullptr});
  }
  HRESULT STDMETHODCALLTYPE OnRowChange(IRowset* rowset, DBCOUNTITEM, const HROW[], DBREASON reason, DBEVENTPHASE phase,
                                        BOOL cantDeny) override {
    return Record({id_, TKind::Row, reason, phase, cantDeny, rowset != nullptr});
  }
  HRESULT STDMETHODCALLTYPE OnRowsetChange(IRowset* rowset, DBREASON reason, DBEVENTPHASE phase,
                                           BOOL cantDeny) override {
    return Record({id_, TKind::Rowset, reason, phase, cantDeny, rowset != nullptr});
  }

private:
  HRESULT Record(const TCall& call) {
    log_.push_back(call);
    return Answer ? Answer(call) : S_OK;
  }
  int id_;
  TCallLog& log_;
};

LONG RefCountOf(IUnknown* unknown) {
  unknown->AddRef();
  return static_cast<LONG>(unknown->Release());
}

IUnknown* SinkOf(const TComPtr<TTestListener>& listener) { return static_cast<IRowsetNotify*>(listener.Get()); }

TComPtr<IConnectionPoint> FindNotifyPoint(IConnectionPointContainer* container) {
  TComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IRowsetNotify, point.Put()), S_OK);
  return point;
}

// A rowset with listeners 1..n advised in that order.
struct NotifyDispatch : ::testing::Test {
  TComPtr<TTestRowset> rowset = MakeComObject<TTestRowset>();
  TComPtr<IConnectionPoint> point = FindNotifyPoint(rowset.Get());
  TCallLog log;
  std::vector<TComPtr<TTestListener>> listeners;
  std::vector<DWORD> cookies;

  TTestListener& AddListener() {
    listeners.push_back(MakeComObject<TTestListener>(static_cast<int>(listeners.size()) + 1, log));
    cookies.push_back(0);
    EXPECT_EQ(point->Advise(SinkOf(listeners.back()), &cookies.back()), S_OK);
    return *listeners.back();
  }
  TOleDbRowsetEvents& Events() { return rowset->Events(); }
  bool RowChange(int reason, int phase, bool cantDeny = false) {
    HROW row = 7;
    return Events().NotifyRowChange(rowset.Get(), 1, &row, reason, phase, cantDeny);
  }
  std::vector<int> Called() const {
    std::vector<int> ids;
    for (const TCall& call : log) ids.push_back(call.Listener);
    return ids;
  }
};

}  // namespace

TEST(ConnectionPoint, FindAndEnumerateConnectionPoints) {
  TComPtr<TTestRowset> rowset = MakeComObject<TTestRowset>();
  TComPtr<IConnectionPoint> point = FindNotifyPoint(rowset.Get());
  EXPECT_EQ(point.Get(), FindNotifyPoint(rowset.Get()).Get());
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualGUID(iid, IID_IRowsetNotify));
  EXPECT_EQ(point->GetConnectionInterface(nullptr), E_POINTER);
  TComPtr<IConnectionPointContainer> container;
  EXPECT_EQ(point->GetConnectionPointContainer(container.Put()), S_OK);
  EXPECT_EQ(container.Get(), static_cast<IConnectionPointContainer*>(rowset.Get()));
  EXPECT_EQ(point->GetConnectionPointContainer(nullptr), E_POINTER);

  IConnectionPoint* other = reinterpret_cast<IConnectionPoint*>(1);
  EXPECT_EQ(rowset->FindConnectionPoint(IID_IRowset, &other), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(rowset->FindConnectionPoint(IID_IRowsetNotify, nullptr), E_POINTER);

  EXPECT_EQ(rowset->EnumConnectionPoints(nullptr), E_POINTER);
  TComPtr<IEnumConnectionPoints> points, clone;
  ASSERT_EQ(rowset->EnumConnectionPoints(points.Put()), S_OK);
  IConnectionPoint* got[2] = {};
  ULONG fetched = 9;
  EXPECT_EQ(points->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(TComPtr<IConnectionPoint>::Attach(got[0]).Get(), point.Get());
  EXPECT_EQ(points->Next(1, got, nullptr), S_FALSE);
  EXPECT_EQ(points->Next(2, got, nullptr), E_INVALIDARG);
  EXPECT_EQ(points->Next(1, nullptr, &fetched), E_POINTER);
  EXPECT_EQ(points->Reset(), S_OK);
  EXPECT_EQ(points->Skip(1), S_OK);
  EXPECT_EQ(points->Skip(1), S_FALSE);
  EXPECT_EQ(points->Reset(), S_OK);
  EXPECT_EQ(points->Clone(nullptr), E_POINTER);
  ASSERT_EQ(points->Clone(clone.Put()), S_OK);
  ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);
  TComPtr<IConnectionPoint>::Attach(got[0]);
  EXPECT_EQ(clone->Next(1, got, nullptr), S_FALSE);
  ASSERT_EQ(points->Next(1, got, nullptr), S_OK);  // the original kept its own position
  TComPtr<IConnectionPoint>::Attach(got[0]);
}

TEST(ConnectionPoint, AdviseChecksSinksAndNeverReusesCookies) {
  TComPtr<TTestRowset> rowset = MakeComObject<TTestRowset>(), stranger = MakeComObject<TTestRowset>();
  TComPtr<IConnectionPoint> point = FindNotifyPoint(rowset.Get());
  TCallLog log;
  TComPtr<TTestListener> listener = MakeComObject<TTestListener>(1, log);
  DWORD cookie = 5;
  EXPECT_EQ(point->Advise(static_cast<IRowset*>(stranger.Get()), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(RefCountOf(static_cast<IRowset*>(stranger.Get())), 1);
  cookie = 5;
  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point->Advise(SinkOf(listener), nullptr), E_POINTER);
  EXPECT_FALSE(rowset->Events().HasListeners());
  EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(1), CONNECT_E_NOCONNECTION);

  std::vector<DWORD> seen;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(point->Advise(SinkOf(listener), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    for (DWORD earlier : seen) EXPECT_NE(cookie, earlier);
    seen.push_back(cookie);
    if (i % 2 == 0) {
      EXPECT_EQ(point->Unadvise(cookie), S_OK);
      EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    }
  }
  EXPECT_EQ(point->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
}

TEST(ConnectionPoint, SinkReferencesFollowConnectionsEnumeratorsAndTheContainer) {
  bool destroyed = false;
  TComPtr<TTestRowset> rowset = MakeComObject<TTestRowset>(&destroyed);
  TComPtr<IConnectionPoint> point = FindNotifyPoint(rowset.Get());
  TCallLog log;
  TComPtr<TTestListener> a = MakeComObject<TTestListener>(1, log), b = MakeComObject<TTestListener>(2, log);
  DWORD cookieA = 0, cookieB = 0;
  ASSERT_EQ(point->Advise(SinkOf(a), &cookieA), S_OK);
  ASSERT_EQ(point->Advise(SinkOf(b), &cookieB), S_OK);
  EXPECT_EQ(RefCountOf(SinkOf(a)), 2);

  EXPECT_EQ(point->EnumConnections(nullptr), E_POINTER);
  TComPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
  EXPECT_EQ(point->Unadvise(cookieA), S_OK);  // the snapshot still lists and holds a
  EXPECT_EQ(RefCountOf(SinkOf(a)), 2);
  CONNECTDATA data[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_TRUE(data[0].dwCookie == cookieA && data[0].pUnk == SinkOf(a));
  EXPECT_TRUE(data[1].dwCookie == cookieB && data[1].pUnk == SinkOf(b));
  for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
  connections = nullptr;
  EXPECT_EQ(RefCountOf(SinkOf(a)), 1);

  // The point keeps the container alive, the container keeps its sinks.
  rowset = nullptr;
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(RefCountOf(SinkOf(b)), 2);
  point = nullptr;
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(RefCountOf(SinkOf(b)), 1);
}

TEST_F(NotifyDispatch, DeliversEveryKindWithReasonPhaseAndRowset) {
  EXPECT_FALSE(Events().IsWanted(DBREASON_ROW_DELETE, DBEVENTPHASE_OKTODO));
  EXPECT_FALSE(RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_OKTODO));
  EXPECT_EQ(Events().Sinks().RecordCount(), 0u);
  AddListener();
  AddListener();
  DBORDINAL columns[2] = {1, 3};
  EXPECT_FALSE(
      Events().NotifyFieldChange(rowset.Get(), 42, 2, columns, DBREASON_COLUMN_SET, DBEVENTPHASE_OKTODO, false));
  EXPECT_FALSE(RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_ABOUTTODO, true));
  // Without a rowset given the owner's is handed out.
  EXPECT_FALSE(Events().NotifyRowsetChange(nullptr, DBREASON_ROWSET_CHANGED, DBEVENTPHASE_DIDEVENT, false));
  EXPECT_FALSE(RowChange(OleDbReasonIndexAsynchInsert, DBEVENTPHASE_DIDEVENT));
  // The rowset-wide masks deliver row releases only after the fact.
  EXPECT_FALSE(Events().IsWanted(DBREASON_ROW_RELEASE, DBEVENTPHASE_OKTODO));
  EXPECT_FALSE(RowChange(DBREASON_ROW_RELEASE, DBEVENTPHASE_OKTODO));

  EXPECT_EQ(Called(), (std::vector<int>{1, 2, 1, 2, 1, 2, 1, 2}));
  for (const TCall& call : log) EXPECT_TRUE(call.HasRowset);
  EXPECT_TRUE(log[1].Kind == TKind::Field && log[1].Reason == DBREASON_COLUMN_SET &&
              log[1].Phase == DBEVENTPHASE_OKTODO && log[1].CantDeny == FALSE);
  EXPECT_TRUE(log[2].Kind == TKind::Row && log[2].Reason == DBREASON_ROW_DELETE && log[2].CantDeny == TRUE);
  // A phase that cannot be denied is announced as such whatever the caller says.
  EXPECT_TRUE(log[4].Kind == TKind::Rowset && log[4].CantDeny == TRUE);
  EXPECT_EQ(log[6].Reason, static_cast<DBREASON>(DBREASON_ROW_ASYNCHINSERT));
  EXPECT_THROW(Events().IsWanted(OleDbReasonCount, 0), std::out_of_range);
}

TEST_F(NotifyDispatch, VetoStopsDeliveryAndTellsThoseAlreadyToldItFailed) {
  AddListener();
  AddListener().Answer = [](const TCall&) { return DB_S_UNWANTEDPHASE; };
  AddListener().Answer = [](const TCall& c) { return c.Phase == DBEVENTPHASE_OKTODO ? S_FALSE : S_OK; };
  AddListener();
  EXPECT_TRUE(RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_OKTODO));
  ASSERT_EQ(Called(), (std::vector<int>{1, 2, 3, 1}));
  EXPECT_TRUE(log[3].Phase == DBEVENTPHASE_FAILEDTODO && log[3].Reason == DBREASON_ROW_DELETE &&
              log[3].CantDeny == TRUE && log[3].HasRowset);

  // S_FALSE where the event cannot be denied is no veto and stops nobody.
  log.clear();
  EXPECT_FALSE(RowChange(DBREASON_ROW_INSERT, DBEVENTPHASE_DIDEVENT));
  EXPECT_FALSE(RowChange(DBREASON_ROW_INSERT, DBEVENTPHASE_OKTODO, true));
  EXPECT_EQ(Called(), (std::vector<int>{1, 2, 3, 4, 1, 2, 3, 4}));
}

TEST_F(NotifyDispatch, UnwantedPhasesAndReasonsAreRememberedPerListener) {
  AddListener().Answer = [](const TCall& c) { return c.Phase == DBEVENTPHASE_ABOUTTODO ? DB_S_UNWANTEDPHASE : S_OK; };
  AddListener().Answer = [](const TCall& c) { return c.Reason == DBREASON_ROW_INSERT ? DB_S_UNWANTEDREASON : S_OK; };
  DBORDINAL column = 1;
  auto columnSet = [&](int phase) {
    Events().NotifyFieldChange(rowset.Get(), 1, 1, &column, DBREASON_COLUMN_SET, phase, false);
  };
  columnSet(DBEVENTPHASE_ABOUTTODO);
  RowChange(DBREASON_ROW_INSERT, DBEVENTPHASE_OKTODO);
  log.clear();

  columnSet(DBEVENTPHASE_ABOUTTODO);
  columnSet(DBEVENTPHASE_OKTODO);
  RowChange(DBREASON_ROW_INSERT, DBEVENTPHASE_ABOUTTODO);
  RowChange(DBREASON_ROW_INSERT, DBEVENTPHASE_DIDEVENT);
  RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_ABOUTTODO);
  EXPECT_EQ(Called(), (std::vector<int>{2, 1, 2, 1, 1, 1, 2}));

  EXPECT_TRUE(Events().IsWanted(DBREASON_COLUMN_SET, DBEVENTPHASE_ABOUTTODO));
  EXPECT_EQ(point->Unadvise(cookies[1]), S_OK);
  EXPECT_FALSE(Events().IsWanted(DBREASON_COLUMN_SET, DBEVENTPHASE_ABOUTTODO));
  EXPECT_EQ(Events().Sinks().RecordCount(), 1u);
}

TEST_F(NotifyDispatch, WishesStayWithTheirListenerWhenOthersDisconnect) {
  AddListener().Answer = [](const TCall& c) { return c.Reason == DBREASON_ROW_INSERT ? DB_S_UNWANTEDREASON : S_OK; };
  AddListener();
  AddListener().Answer = [](const TCall& c) { return c.Reason == DBREASON_ROW_DELETE ? DB_S_UNWANTEDREASON : S_OK; };
  RowChange(DBREASON_ROW_INSERT, DBEVENTPHASE_DIDEVENT);
  RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_DIDEVENT);
  EXPECT_EQ(point->Unadvise(cookies[0]), S_OK);
  log.clear();
  RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_DIDEVENT);
  RowChange(DBREASON_ROW_INSERT, DBEVENTPHASE_DIDEVENT);
  EXPECT_EQ(Called(), (std::vector<int>{2, 2, 3}));

  // A newcomer starts with the rowset-wide wishes.
  EXPECT_EQ(point->Unadvise(cookies[2]), S_OK);
  AddListener();
  log.clear();
  RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_DIDEVENT);
  EXPECT_EQ(Called(), (std::vector<int>{2, 4}));
}

TEST_F(NotifyDispatch, ListenersMayAdviseAndUnadviseDuringANotification) {
  TTestListener& first = AddListener();
  AddListener();
  AddListener();
  TComPtr<TTestListener> late = MakeComObject<TTestListener>(9, log);
  first.Answer = [&](const TCall&) {
    point->Unadvise(cookies[1]);  // a later one
    point->Unadvise(cookies[0]);  // itself
    DWORD cookie = 0;
    point->Advise(SinkOf(late), &cookie);
    return S_OK;
  };
  EXPECT_FALSE(RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_DIDEVENT));
  EXPECT_EQ(Called(), (std::vector<int>{1, 3}));
  log.clear();
  RowChange(DBREASON_ROW_DELETE, DBEVENTPHASE_DIDEVENT);
  EXPECT_EQ(Called(), (std::vector<int>{3, 9}));

  // A told listener that went away during the dispatch is not told it failed.
  log.clear();
  late->Answer = [&](const TCall&) {
    point->Unadvise(cookies[2]);
    return S_FALSE;
  };
  EXPECT_TRUE(RowChange(DBREASON_ROW_INSERT, DBEVENTPHASE_OKTODO));
  EXPECT_EQ(Called(), (std::vector<int>{3, 9}));
}

TEST_F(NotifyDispatch, SurvivesAListenerReleasingTheRowset) {
  bool destroyed = false;
  TComPtr<TTestRowset> owned = MakeComObject<TTestRowset>(&destroyed);
  TTestRowset* raw = owned.Get();
  TComPtr<TTestListener> releaser = MakeComObject<TTestListener>(1, log), after = MakeComObject<TTestListener>(2, log);
  DWORD cookie = 0;
  ASSERT_EQ(FindNotifyPoint(raw)->Advise(SinkOf(releaser), &cookie), S_OK);
  ASSERT_EQ(FindNotifyPoint(raw)->Advise(SinkOf(after), &cookie), S_OK);
  releaser->Answer = [&](const TCall&) {
    owned = nullptr;
    EXPECT_FALSE(destroyed);
    return S_OK;
  };
  HROW row = 3;
  EXPECT_FALSE(raw->Events().NotifyRowChange(nullptr, 1, &row, DBREASON_ROW_INSERT, DBEVENTPHASE_DIDEVENT, false));
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(Called(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(log[1].HasRowset);
  EXPECT_EQ(RefCountOf(SinkOf(after)), 1);
}
