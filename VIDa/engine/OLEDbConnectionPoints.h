#pragma once
// Connection points written from scratch: the platform offers no library for
// them. An owning object (a rowset) keeps a TOleDbEventStorage and forwards
// its IConnectionPointContainer methods to it from inside its own guard.
//
// Lifetimes: the storage belongs to its owner and lives as long as the owner.
// A connection point is a COM object of its own, made when a consumer asks for
// it; it holds a reference to the owner's controlling unknown, which keeps the
// storage and its connection lists alive, and the storage only remembers it
// (uncounted) so that every request answers the same object while it lives.
#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <memory>
#include <vector>

#include "ComObj.h"
#include "ComPtr.h"

// One advised sink: the interface it answered for the point's IID.
struct TOleDbConnection {
  DWORD Cookie = 0;
  TComPtr<IUnknown> Sink;
};

// The connections of one outgoing interface. Cookies start at 1 and only
// grow, so the list is always in cookie order and a cookie is never handed
// out twice while the list lives.
class TOleDbConnectionList {
public:
  explicit TOleDbConnectionList(const IID& iid) noexcept : iid_(iid) {}
  TOleDbConnectionList(const TOleDbConnectionList&) = delete;
  TOleDbConnectionList& operator=(const TOleDbConnectionList&) = delete;
  // Releases the sinks without reporting disconnects: the owner is going.
  ~TOleDbConnectionList();

  const IID& Iid() const noexcept { return iid_; }

  // Connects sink by the interface it answers for Iid(); raises E_POINTER,
  // CONNECT_E_CANNOTCONNECT or CONNECT_E_ADVISELIMIT.
  DWORD Advise(IUnknown* sink);
  // Raises CONNECT_E_NOCONNECTION for a cookie that is not connected.
  void Unadvise(DWORD cookie);

  bool Empty() const noexcept { return connections_.empty(); }
  const std::vector<TOleDbConnection>& Connections() const noexcept { return connections_; }
  const TOleDbConnection* Find(DWORD cookie) const noexcept;
  // The first connection whose cookie is above cookie, or null. Walking by
  // cookie stays correct while callbacks connect and disconnect.
  const TOleDbConnection* NextAfter(DWORD cookie) const noexcept;
  // The newest cookie handed out (0 before the first Advise).
  DWORD LastCookie() const noexcept { return lastCookie_; }

  // Told after a connection has left the list, before its sink is released.
  std::function<void(DWORD cookie)> OnDisconnect;

private:
  IID iid_;
  std::vector<TOleDbConnection> connections_;
  DWORD lastCookie_ = 0;
};

class TOleDbConnectionPoint;

// The work behind IConnectionPointContainer for an owning object.
class TOleDbEventStorage {
public:
  // owner: the controlling unknown of the object that owns this storage; not
  // counted, the owner outlives its storage.
  explicit TOleDbEventStorage(IUnknown* owner) noexcept : owner_(owner) {}
  TOleDbEventStorage(const TOleDbEventStorage&) = delete;
  TOleDbEventStorage& operator=(const TOleDbEventStorage&) = delete;
  virtual ~TOleDbEventStorage();

  IUnknown* Owner() const noexcept { return owner_; }

  // IConnectionPointContainer::EnumConnectionPoints and FindConnectionPoint;
  // failures are raised (E_POINTER, CONNECT_E_NOCONNECTION).
  void EnumConnectionPoints(IEnumConnectionPoints** ppEnum);
  void FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP);

protected:
  // Adds the connection point for iid; the list lives as long as the storage.
  TOleDbConnectionList& AddConnectionPoint(const IID& iid);

private:
  friend class TOleDbConnectionPoint;
  struct TPoint {
    std::unique_ptr<TOleDbConnectionList> Connections;
    TOleDbConnectionPoint* Live = nullptr;  // uncounted; cleared by the point
  };
  TComPtr<IConnectionPoint> PointOf(TPoint& point);
  void PointDestroyed(const TOleDbConnectionPoint* point) noexcept;

  IUnknown* owner_;
  std::vector<TPoint> points_;
};

class TOleDbConnectionPoint : public TComImpl<TComObject, IConnectionPoint> {
public:
  TOleDbConnectionPoint(TOleDbEventStorage& storage, TOleDbConnectionList& connections);
  ~TOleDbConnectionPoint() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

private:
  TOleDbEventStorage& storage_;
  TOleDbConnectionList& connections_;
  // Released after the destructor body has unhooked this point: the last
  // release of the owner destroys the storage.
  TComPtr<IUnknown> owner_;
};
