#include "OLEDbRowset.h"

#include <oledberr.h>

#include "OLEDbPropertyCatalogue.h"

// {3E9D5B20-7C41-4F8A-A6D2-5B0C19E47A01} and neighbours: private to the toolkit.
const IID IID_IOleDbRowsetInit = {0x3e9d5b20, 0x7c41, 0x4f8a, {0xa6, 0xd2, 0x5b, 0x0c, 0x19, 0xe4, 0x7a, 0x01}};
const IID IID_OleDbOptionalRowsetLocate = {0x3e9d5b20, 0x7c41, 0x4f8a, {0xa6, 0xd2, 0x5b, 0x0c, 0x19, 0xe4, 0x7a, 0x02}};
const IID IID_OleDbOptionalRowsetChange = {0x3e9d5b20, 0x7c41, 0x4f8a, {0xa6, 0xd2, 0x5b, 0x0c, 0x19, 0xe4, 0x7a, 0x03}};
const IID IID_OleDbOptionalRowsetScroll = {0x3e9d5b20, 0x7c41, 0x4f8a, {0xa6, 0xd2, 0x5b, 0x0c, 0x19, 0xe4, 0x7a, 0x04}};
const IID IID_OleDbOptionalConnectionPointContainer = {
    0x3e9d5b20, 0x7c41, 0x4f8a, {0xa6, 0xd2, 0x5b, 0x0c, 0x19, 0xe4, 0x7a, 0x05}};
const IID IID_OleDbOptionalRowsetUpdate = {0x3e9d5b20, 0x7c41, 0x4f8a, {0xa6, 0xd2, 0x5b, 0x0c, 0x19, 0xe4, 0x7a, 0x06}};
const IID IID_OleDbOptionalRowsetRefresh = {0x3e9d5b20, 0x7c41, 0x4f8a, {0xa6, 0xd2, 0x5b, 0x0c, 0x19, 0xe4, 0x7a, 0x07}};

namespace {
constexpr std::uint8_t ChangeCapabilities = OleDbCapabilityChange | OleDbCapabilityDelete | OleDbCapabilityInsert;

// In the order QueryInterface tests them.
const TOleDbOptionalInterface RowsetOptionalInterfaces[] = {
    {&IID_IRowsetLocate, &IID_OleDbOptionalRowsetLocate, OleDbCapabilityLocate},
    {&IID_IRowsetChange, &IID_OleDbOptionalRowsetChange, ChangeCapabilities},
    {&IID_IRowsetScroll, &IID_OleDbOptionalRowsetScroll, OleDbCapabilityScroll},
    {&IID_IConnectionPointContainer, &IID_OleDbOptionalConnectionPointContainer, OleDbCapabilityNotify},
    {&IID_IRowsetUpdate, &IID_OleDbOptionalRowsetUpdate, OleDbCapabilityDeferredUpdate},
    {&IID_IRowsetRefresh, &IID_OleDbOptionalRowsetRefresh, OleDbCapabilityRefresh},
};

}  // namespace

TOleDbRowset::TOleDbRowset()
    : accessorStorage_(std::make_unique<TOleDbAccessorStorage>(std::make_unique<TOleDbAccessors>())),
      columnStorage_(std::make_unique<TOleDbColumnStorage>(std::make_unique<TOleDbColumns>())),
      rowHandleStorage_(std::make_unique<TOleDbRowHandleStorage>(std::make_unique<TOleDbRowHandles>())) {
  columnsRowset_.OnBuildColumnsRowset = [this](const TOleDbOptionalColumns& requested,
                                               TComPtr<IOleDbRowsetData>& data) {
    if (rowsetData_) rowsetData_->GetColumnsRowsetData(requested, data);
  };
}

TOleDbRowset::~TOleDbRowset() {
  // The data may outlive this rowset (someone else can hold it): it must
  // stop listening to these row handles before they go.
  if (rowsetData_) {
    try {
      if (rowsetData_->GetOwner() == this) rowsetData_->SetOwner(nullptr);
    } catch (...) {
    }
    rowsetData_.Reset();
  }
}

void TOleDbRowset::InitProperties() {
  TOleDbBase::InitProperties();
  TOleDbPropertySet& rowset = PropertySets().FindOrCreateSet(DBPROPSET_ROWSET);
  rowset.AddDefaults(StandardRowsetPropertyIDs);
  PropertySets().PutValue(DBPROPSET_ROWSET, DBPROP_IColumnsRowset, TOleDbVariant::Bool(true).Get());
}

void* TOleDbRowset::FindStaticInterface(REFIID riid) noexcept {
  // The private identifiers that share another entry's operation table.
  if (IsEqualGUID(riid, IID_OleDbOptionalRowsetLocate) || IsEqualGUID(riid, IID_OleDbOptionalRowsetScroll))
    return static_cast<IRowsetScroll*>(this);
  if (IsEqualGUID(riid, IID_OleDbOptionalRowsetChange))
    return static_cast<IRowsetChange*>(static_cast<IRowsetUpdate*>(this));
  return TComImpl::FindStaticInterface(riid);
}

std::span<const TOleDbOptionalInterface> TOleDbRowset::OptionalInterfaces() const noexcept {
  return RowsetOptionalInterfaces;
}

TOleDbRowsetEvents& TOleDbRowset::EnsureEvents() {
  if (!events_) events_ = std::make_unique<TOleDbRowsetEvents>(Controller());
  return *events_;
}

void TOleDbRowset::SetCapabilities(std::uint8_t flags) {
  if ((flags & OleDbCapabilityScroll) && !(flags & OleDbCapabilityLocate))
    OleDbError(E_FAIL, L"Bookmark support is required for scrolling");
  capabilities_ = flags;

  struct TMirror {
    DBPROPID PropID;
    bool On;
  };
  const TMirror mirrors[] = {
      {DBPROP_IRowsetLocate, (flags & OleDbCapabilityLocate) != 0},
      {DBPROP_BOOKMARKS, (flags & OleDbCapabilityLocate) != 0},
      {DBPROP_IRowsetChange, (flags & ChangeCapabilities) != 0},
      {DBPROP_UPDATABILITY, (flags & ChangeCapabilities) != 0},
      {DBPROP_IRowsetScroll, (flags & OleDbCapabilityScroll) != 0},
      {DBPROP_IConnectionPointContainer, (flags & OleDbCapabilityNotify) != 0},
      {DBPROP_IRowsetUpdate, (flags & OleDbCapabilityDeferredUpdate) != 0},
      {DBPROP_IRowsetRefresh, (flags & OleDbCapabilityRefresh) != 0},
  };
  TOleDbPropertySets& sets = PropertySets();
  for (const TMirror& mirror : mirrors) {
    if (mirror.On) sets.EnsureProperty(DBPROPSET_ROWSET, mirror.PropID);
    const TOleDbVariant value = mirror.PropID == DBPROP_UPDATABILITY ? TOleDbVariant::Int((flags >> 1) & 7)
                                                                     : TOleDbVariant::Bool(mirror.On);
    sets.PutValue(DBPROPSET_ROWSET, mirror.PropID, value.Get());
  }
}

void TOleDbRowset::AttachData(IOleDbRowsetData* data) { rowsetData_ = TComPtr<IOleDbRowsetData>(data); }

IOleDbRowsetData& TOleDbRowset::Data() const {
  if (!rowsetData_) OleDbError(E_FAIL, L"Unable to initialize rowset data");
  return *rowsetData_;
}

void TOleDbRowset::InitRowsetData() {
  IOleDbRowsetData& data = Data();
  data.SetOwner(this);
  data.InitializeData();
  data.AfterInitialize();
  columnStorage_->SetColumns(&data.GetColumns());
}

void TOleDbRowset::CheckConvert(DBTYPE wFromType, DBTYPE, DBCONVERTFLAGS dwConvertFlags) {
  // A rowset has no parameters.
  if (dwConvertFlags & DBCONVERTFLAGS_PARAMETER) throw EOleDbException(DB_E_BADCONVERTFLAG);
  if (dwConvertFlags == DBCONVERTFLAGS_FROMVARIANT && wFromType != DBTYPE_VARIANT)
    throw EOleDbException(DB_E_BADTYPE);
}

void TOleDbRowset::SetRowsetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[], bool forNewRowset,
                                       HRESULT& status) {
  status = PropertyStorage->SetProperties(cPropertySets, rgPropertySets, forNewRowset);
  OleDbCheck(status);
}

void TOleDbRowset::CopyRowsetProperties(TOleDbPropertySets& source, HRESULT& status, bool forNewRowset) {
  status = PropertyStorage->ApplyPropertySets(source, forNewRowset);
  OleDbCheck(status);
}

void TOleDbRowset::Open(TOleDbExecParams& params) {
  CreateRowsetData(params);
  InitRowsetData();
  OleDbCheck(Data().Open(&params));
}

void TOleDbRowset::AttachRowsetData(IOleDbRowsetData* data) {
  AttachData(data);
  InitRowsetData();
}

void CreateRowsetOverData(IOleDbRowsetData* data, const TComClass& rowsetClass, IUnknown* outer, REFIID riid,
                          IUnknown** rowset) {
  if (!rowset) throw EOleDbException(E_INVALIDARG);
  *rowset = nullptr;
  CheckAggregation(outer, riid);
  CreateOleDbObject(rowsetClass, outer, riid, reinterpret_cast<void**>(rowset));
  try {
    TComPtr<IOleDbRowsetInit> init;
    OleDbCheck((*rowset)->QueryInterface(IID_IOleDbRowsetInit, init.PutVoid()));
    init->AttachRowsetData(data);
  } catch (...) {
    (*rowset)->Release();
    *rowset = nullptr;
    throw;
  }
}

HRESULT OpenRowsetOverData(IOleDbRowsetData* data, const TComClass& rowsetClass, IUnknown* outer, REFIID riid,
                           ULONG cPropertySets, DBPROPSET rgPropertySets[], IUnknown** rowset) {
  TComPtr<IUnknown> created;
  CreateRowsetOverData(data, rowsetClass, outer, riid, created.Put());
  TComPtr<IOleDbRowsetInit> init;
  OleDbCheck(created->QueryInterface(IID_IOleDbRowsetInit, init.PutVoid()));
  HRESULT status = S_OK;
  init->SetRowsetProperties(cPropertySets, rgPropertySets, true, status);
  init.Reset();
  *rowset = created.Detach();
  return status;
}

TComPtr<IOleDbRowsetInit> AdoptRowset(IUnknown& rowset, IOleDbParentClass& parent) {
  {
    TComPtr<IOleDbChildClass> child;
    OleDbCheck(rowset.QueryInterface(IID_IOleDbChildClass, child.PutVoid()));
    child->SetParent(&parent);
  }
  TComPtr<IOleDbRowsetInit> init;
  OleDbCheck(rowset.QueryInterface(IID_IOleDbRowsetInit, init.PutVoid()));
  return init;
}
