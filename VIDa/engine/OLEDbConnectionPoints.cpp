#include "OLEDbConnectionPoints.h"

#include <olectl.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "OLEDbBase.h"
#include "OLEDbError.h"

namespace {

// A COM enumerator over a snapshot taken when it was made: clones share the
// snapshot, so connections made or broken later never disturb an enumeration
// and the items stay referenced as long as any enumerator can hand them out.
template <class TEnum, class TItem, class TStored, TItem (*CopyOut)(const TStored&)>
class TOleDbSnapshotEnum : public TComImpl<TComObject, TEnum> {
public:
  using TSnapshot = std::shared_ptr<const std::vector<TStored>>;

  explicit TOleDbSnapshotEnum(TSnapshot items, size_t position = 0) noexcept
      : items_(std::move(items)), position_(position) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, TItem* items, ULONG* fetched) override {
    return OleDbGuard(*this, [&] {
      if (fetched) *fetched = 0;
      if (!items) throw EOleDbException(E_POINTER);
      if (!fetched && count != 1) throw EOleDbException(E_INVALIDARG);
      ULONG done = 0;
      while (done < count && position_ < items_->size()) items[done++] = CopyOut((*items_)[position_++]);
      if (fetched) *fetched = done;
      OleDbError(done == count ? S_OK : S_FALSE);
    }, [&](TOleDbTraceArgs& t) { t("count", count).Out("fetched", fetched); });
  }

  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = items_->size() - position_;
    if (count > left) {
      position_ = items_->size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Clone(TEnum** ppEnum) override {
    return OleDbGuard(*this, [&] {
      if (!ppEnum) throw EOleDbException(E_POINTER);
      *ppEnum = nullptr;
      *ppEnum = MakeComObject<TOleDbSnapshotEnum>(items_, position_).Detach();
    });
  }

private:
  TSnapshot items_;
  size_t position_;
};

CONNECTDATA CopyConnection(const TOleDbConnection& connection) {
  CONNECTDATA data;
  connection.Sink.CopyTo(&data.pUnk);
  data.dwCookie = connection.Cookie;
  return data;
}

IConnectionPoint* CopyPoint(const TComPtr<IConnectionPoint>& point) {
  IConnectionPoint* result = nullptr;
  point.CopyTo(&result);
  return result;
}

using TOleDbEnumConnections = TOleDbSnapshotEnum<IEnumConnections, CONNECTDATA, TOleDbConnection, &CopyConnection>;
using TOleDbEnumConnectionPoints =
    TOleDbSnapshotEnum<IEnumConnectionPoints, IConnectionPoint*, TComPtr<IConnectionPoint>, &CopyPoint>;

bool CookieBelow(const TOleDbConnection& connection, DWORD cookie) noexcept { return connection.Cookie < cookie; }

}  // namespace

// ---------------------------------------------------------------------------

TOleDbConnectionList::~TOleDbConnectionList() {
  // A sink's last release may call back into its owner; let it find an
  // empty list instead of one being torn down.
  std::vector<TOleDbConnection> released;
  released.swap(connections_);
}

DWORD TOleDbConnectionList::Advise(IUnknown* sink) {
  if (!sink) throw EOleDbException(E_POINTER);
  TComPtr<IUnknown> connected;
  if (FAILED(sink->QueryInterface(iid_, connected.PutVoid())) || !connected)
    throw EOleDbException(CONNECT_E_CANNOTCONNECT);
  if (lastCookie_ == std::numeric_limits<DWORD>::max()) throw EOleDbException(CONNECT_E_ADVISELIMIT);
  connections_.reserve(connections_.size() + 1);
  connections_.push_back(TOleDbConnection{++lastCookie_, std::move(connected)});
  return lastCookie_;
}

void TOleDbConnectionList::Unadvise(DWORD cookie) {
  auto it = std::lower_bound(connections_.begin(), connections_.end(), cookie, CookieBelow);
  if (cookie == 0 || it == connections_.end() || it->Cookie != cookie) throw EOleDbException(CONNECT_E_NOCONNECTION);
  // The sink is released last: its release may run consumer code that
  // advises or unadvises again.
  TComPtr<IUnknown> sink = std::move(it->Sink);
  connections_.erase(it);
  if (OnDisconnect) OnDisconnect(cookie);
}

const TOleDbConnection* TOleDbConnectionList::Find(DWORD cookie) const noexcept {
  auto it = std::lower_bound(connections_.begin(), connections_.end(), cookie, CookieBelow);
  return it != connections_.end() && it->Cookie == cookie ? &*it : nullptr;
}

const TOleDbConnection* TOleDbConnectionList::NextAfter(DWORD cookie) const noexcept {
  if (cookie == std::numeric_limits<DWORD>::max()) return nullptr;
  auto it = std::lower_bound(connections_.begin(), connections_.end(), cookie + 1, CookieBelow);
  return it != connections_.end() ? &*it : nullptr;
}

// ---------------------------------------------------------------------------

TOleDbEventStorage::~TOleDbEventStorage() = default;

TOleDbConnectionList& TOleDbEventStorage::AddConnectionPoint(const IID& iid) {
  TPoint point;
  point.Connections = std::make_unique<TOleDbConnectionList>(iid);
  points_.push_back(std::move(point));
  return *points_.back().Connections;
}

TComPtr<IConnectionPoint> TOleDbEventStorage::PointOf(TPoint& point) {
  if (point.Live) return TComPtr<IConnectionPoint>(point.Live);
  TComPtr<TOleDbConnectionPoint> made = MakeComObject<TOleDbConnectionPoint>(*this, *point.Connections);
  point.Live = made.Get();
  return TComPtr<IConnectionPoint>(made.Get());
}

void TOleDbEventStorage::PointDestroyed(const TOleDbConnectionPoint* point) noexcept {
  for (TPoint& entry : points_)
    if (entry.Live == point) entry.Live = nullptr;
}

void TOleDbEventStorage::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (!ppEnum) throw EOleDbException(E_POINTER);
  *ppEnum = nullptr;
  auto snapshot = std::make_shared<std::vector<TComPtr<IConnectionPoint>>>();
  snapshot->reserve(points_.size());
  for (TPoint& point : points_) snapshot->push_back(PointOf(point));
  *ppEnum = MakeComObject<TOleDbEnumConnectionPoints>(std::move(snapshot)).Detach();
}

void TOleDbEventStorage::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP) throw EOleDbException(E_POINTER);
  *ppCP = nullptr;
  for (TPoint& point : points_)
    if (IsEqualGUID(riid, point.Connections->Iid())) {
      *ppCP = PointOf(point).Detach();
      return;
    }
  throw EOleDbException(CONNECT_E_NOCONNECTION);
}

// ---------------------------------------------------------------------------

TOleDbConnectionPoint::TOleDbConnectionPoint(TOleDbEventStorage& storage, TOleDbConnectionList& connections)
    : storage_(storage), connections_(connections), owner_(storage.Owner()) {}

TOleDbConnectionPoint::~TOleDbConnectionPoint() { storage_.PointDestroyed(this); }

HRESULT STDMETHODCALLTYPE TOleDbConnectionPoint::GetConnectionInterface(IID* pIID) {
  if (!pIID) return E_POINTER;
  *pIID = connections_.Iid();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TOleDbConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (!ppCPC) return E_POINTER;
  *ppCPC = nullptr;
  return owner_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
}

HRESULT STDMETHODCALLTYPE TOleDbConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  return OleDbGuard(*this, [&] {
    if (!pdwCookie) throw EOleDbException(E_POINTER);
    *pdwCookie = 0;
    // The sink's QueryInterface runs consumer code that may drop the last
    // reference to this point.
    TComPtr<IConnectionPoint> self(this);
    *pdwCookie = connections_.Advise(pUnkSink);
  }, [&](TOleDbTraceArgs& t) { t("pUnkSink", pUnkSink).Out("pdwCookie", pdwCookie); });
}

HRESULT STDMETHODCALLTYPE TOleDbConnectionPoint::Unadvise(DWORD dwCookie) {
  return OleDbGuard(*this, [&] {
    // The sink's release may drop the last reference to this point.
    TComPtr<IConnectionPoint> self(this);
    connections_.Unadvise(dwCookie);
  }, [&](TOleDbTraceArgs& t) { t("dwCookie", dwCookie); });
}

HRESULT STDMETHODCALLTYPE TOleDbConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
  return OleDbGuard(*this, [&] {
    if (!ppEnum) throw EOleDbException(E_POINTER);
    *ppEnum = nullptr;
    auto snapshot = std::make_shared<const std::vector<TOleDbConnection>>(connections_.Connections());
    *ppEnum = MakeComObject<TOleDbEnumConnections>(std::move(snapshot)).Detach();
  });
}
