#include "OLEDbPropertyStorage.h"

#include "CodePageText.h"
#include "Diagnostics.h"
#include "OLEDbError.h"
#include "OLEDbTaskMemory.h"

#include <oledberr.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {
void FreePropInfoSets(DBPROPINFOSET* sets, ULONG count) noexcept {
  if (!sets) return;
  for (ULONG i = 0; i < count; ++i) {
    DBPROPINFO* infos = sets[i].rgPropertyInfos;
    if (!infos) continue;
    for (ULONG j = 0; j < sets[i].cPropertyInfos; ++j) VariantClear(&infos[j].vValues);
    CoTaskMemFree(infos);
  }
  CoTaskMemFree(sets);
}

void FreePropSets(DBPROPSET* sets, ULONG count) noexcept {
  if (!sets) return;
  for (ULONG i = 0; i < count; ++i) {
    DBPROP* props = sets[i].rgProperties;
    if (!props) continue;
    for (ULONG j = 0; j < sets[i].cProperties; ++j) VariantClear(&props[j].vValue);
    CoTaskMemFree(props);
  }
  CoTaskMemFree(sets);
}

// Owns an answer array until it is handed to the consumer.
template <class TSet, void (*Free)(TSet*, ULONG) noexcept>
class TAnswer {
public:
  explicit TAnswer(ULONG count) : items_(OleDbAllocArray<TSet>(count).release()), count_(count) {}
  ~TAnswer() { Free(items_, count_); }
  TAnswer(const TAnswer&) = delete;
  TAnswer& operator=(const TAnswer&) = delete;
  TSet& operator[](ULONG index) noexcept { return items_[index]; }
  void HandTo(ULONG* count, TSet** items) noexcept {
    *count = count_;
    *items = items_;
    items_ = nullptr;
    count_ = 0;
  }

private:
  TSet* items_;
  ULONG count_;
};

using TPropInfoAnswer = TAnswer<DBPROPINFOSET, FreePropInfoSets>;
using TPropAnswer = TAnswer<DBPROPSET, FreePropSets>;

// Sets answered as a whole, or none: then the request is answered set by set.
struct TSelection {
  bool Selected = false;
  std::vector<TOleDbPropertySet*> Sets;
};

void Collect(const TOleDbPropertySets& sets, DBPROPFLAGS mask, std::vector<TOleDbPropertySet*>& into) {
  for (size_t i = 0; i < sets.Count(); ++i) {
    TOleDbPropertySet& set = sets.Items(i);
    if (set.State == TOleDbPropertySetState::Hidden || set.Count() == 0 ||
        set.SetType == TOleDbPropertySetType::PropertiesInError)
      continue;
    if (mask && !(set.Items(0).Flags & mask)) continue;
    into.push_back(&set);
  }
}

TSelection Select(const TOleDbPropertySets& sets, ULONG count, const DBPROPIDSET requested[], bool errorSetAllowed) {
  TSelection selection;
  if (count == 0) {
    selection.Selected = true;
    Collect(sets, 0, selection.Sets);
  } else if (PropertySetMaskOf(requested[0].guidPropertySet)) {
    selection.Selected = true;
    for (ULONG i = 0; i < count; ++i) Collect(sets, PropertySetMaskOf(requested[i].guidPropertySet), selection.Sets);
  } else if (errorSetAllowed && count == 1 &&
             IsEqualGUID(requested[0].guidPropertySet, DBPROPSET_PROPERTIESINERROR)) {
    TOleDbPropertySet* errors = sets.FindSet(DBPROPSET_PROPERTIESINERROR);
    if (!errors) throw EOleDbException(DB_E_ERRORSOCCURRED);
    selection.Selected = true;
    selection.Sets.push_back(errors);
  }
  return selection;
}

HRESULT SummedResult(ULONG succeeded, ULONG failed) {
  if (succeeded == 0) return DB_E_ERRORSOCCURRED;
  return failed ? DB_S_ERRORSOCCURRED : S_OK;
}

// Setting values on an object fails when nothing could be set. An object
// being created fails only on a required property: optional ones that could
// not be met leave it created with a warning, however many they were.
HRESULT SetResult(ULONG succeeded, ULONG failed, bool failOnRequired, bool requiredFailed) {
  if (!failOnRequired) return SummedResult(succeeded, failed);
  if (requiredFailed) return DB_E_ERRORSOCCURRED;
  return failed ? DB_S_ERRORSOCCURRED : S_OK;
}

DBPROPID RequestedID(const DBPROPIDSET& request, const TOleDbPropertySet* set, ULONG index) {
  return request.cPropertyIDs ? request.rgPropertyIDs[index] : set->Items(index).PropID;
}

void FillPropInfo(DBPROPINFO& info, const TOleDbProperty& property) {
  info.dwPropertyID = property.PropID;
  info.dwFlags = property.Flags;
  info.vtType = property.VarType;
  property.ValidValues.CopyTo(info.vValues);
}

std::string GuidText(REFGUID guid) {
  wchar_t wide[40] = {};
  StringFromGUID2(guid, wide, 40);
  std::string text;
  for (const wchar_t* c = wide; *c; ++c) text += static_cast<char>(*c);
  return text;
}

void ReportNotSupported(DBPROPID id) {
  OleDbDebugOutput("This property is not supported. PropID=" + std::to_string(id));
}

bool IsAllRequest(REFGUID guid) { return PropertySetMaskOf(guid) != 0; }

void CheckPropertyIDSets(ULONG count, const DBPROPIDSET sets[]) {
  if (count && !sets) throw EOleDbException(E_INVALIDARG);
  for (ULONG i = 0; i < count; ++i)
    if (sets[i].cPropertyIDs && !sets[i].rgPropertyIDs) throw EOleDbException(E_INVALIDARG);
  if (count && IsAllRequest(sets[0].guidPropertySet))
    for (ULONG i = 1; i < count; ++i)
      if (!IsAllRequest(sets[i].guidPropertySet)) throw EOleDbException(E_INVALIDARG);
}

// A DBPROP whose value is freed when it goes out of scope.
struct TScopedDBProp {
  TScopedDBProp() noexcept { memset(static_cast<void*>(&Prop), 0, sizeof Prop); }
  ~TScopedDBProp() { VariantClear(&Prop.vValue); }
  TScopedDBProp(const TScopedDBProp&) = delete;
  TScopedDBProp& operator=(const TScopedDBProp&) = delete;
  DBPROP Prop;
};

DBPROPINFO* AllocEntry(DBPROPINFOSET& entry, ULONG count) {
  if (count == 0) return nullptr;
  entry.rgPropertyInfos = OleDbAllocArray<DBPROPINFO>(count).release();
  entry.cPropertyInfos = count;
  return entry.rgPropertyInfos;
}

DBPROP* AllocEntry(DBPROPSET& entry, ULONG count) {
  if (count == 0) return nullptr;
  entry.rgProperties = OleDbAllocArray<DBPROP>(count).release();
  entry.cProperties = count;
  return entry.rgProperties;
}

// The walk GetPropertyInfo and GetProperties share: every property of the
// selected sets, or else set by set the IDs asked for (all of a known set's
// properties when none are named). found fills a supported property, missing
// marks one that is not. A set this storage lacks has each requested ID
// marked missing, or is left empty when it names none; either way it counts
// as an error.
template <class TAnswerArray, class TFound, class TMissing>
HRESULT AnswerSelection(const TOleDbPropertySets& sets, const TSelection& selection, ULONG count,
                        const DBPROPIDSET requested[], TAnswerArray& answer, TFound found, TMissing missing) {
  if (selection.Selected) {
    for (ULONG i = 0; i < count; ++i) {
      const TOleDbPropertySet& set = *selection.Sets[i];
      auto& entry = answer[i];
      entry.guidPropertySet = set.Guid;
      const auto setCount = static_cast<ULONG>(set.Count());
      auto* items = AllocEntry(entry, setCount);
      for (ULONG j = 0; j < setCount; ++j) found(items[j], set.Items(j));
    }
    return S_OK;
  }
  ULONG supported = 0, unsupported = 0;
  for (ULONG i = 0; i < count; ++i) {
    const DBPROPIDSET& request = requested[i];
    auto& entry = answer[i];
    entry.guidPropertySet = request.guidPropertySet;
    const TOleDbPropertySet* set = sets.FindSet(request.guidPropertySet);
    ULONG itemCount = request.cPropertyIDs;
    if (itemCount == 0 && set) itemCount = static_cast<ULONG>(set->Count());
    if (itemCount == 0 && !set) ++unsupported;
    auto* items = AllocEntry(entry, itemCount);
    for (ULONG j = 0; j < itemCount; ++j) {
      auto& item = items[j];
      item.dwPropertyID = RequestedID(request, set, j);
      if (set && set->IsSupported(item.dwPropertyID)) {
        found(item, *set->FindByID(item.dwPropertyID));
        ++supported;
      } else {
        missing(item);
        ++unsupported;
      }
    }
  }
  return SummedResult(supported, unsupported);
}
}  // namespace

DBPROPFLAGS PropertySetMaskOf(REFGUID guid) {
  if (IsEqualGUID(guid, DBPROPSET_DATASOURCEALL)) return DBPROPFLAGS_DATASOURCE;
  if (IsEqualGUID(guid, DBPROPSET_DATASOURCEINFOALL)) return DBPROPFLAGS_DATASOURCEINFO;
  if (IsEqualGUID(guid, DBPROPSET_ROWSETALL)) return DBPROPFLAGS_ROWSET;
  if (IsEqualGUID(guid, DBPROPSET_DBINITALL)) return DBPROPFLAGS_DBINIT;
  if (IsEqualGUID(guid, DBPROPSET_SESSIONALL)) return DBPROPFLAGS_SESSION;
  return 0;
}

TOleDbPropertyStorage::TOleDbPropertyStorage(std::unique_ptr<TOleDbPropertySets> sets) : sets_(std::move(sets)) {
  if (!sets_) throw EOleError(L"PropertySets must be defined", E_FAIL);
}

void TOleDbPropertyStorage::CheckPropertyInfoArgs(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[]) {
  CheckPropertyIDSets(cPropertyIDSets, rgPropertyIDSets);
}

void TOleDbPropertyStorage::CheckGetPropertiesArgs(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[]) {
  CheckPropertyIDSets(cPropertyIDSets, rgPropertyIDSets);
  for (ULONG i = 0; i < cPropertyIDSets; ++i) {
    const DBPROPIDSET& request = rgPropertyIDSets[i];
    if (!IsEqualGUID(request.guidPropertySet, DBPROPSET_PROPERTIESINERROR)) continue;
    if (request.cPropertyIDs != 0 || request.rgPropertyIDs || cPropertyIDSets != 1)
      throw EOleDbException(E_INVALIDARG);
  }
}

void TOleDbPropertyStorage::CheckSetPropertiesArgs(ULONG cPropertySets, const DBPROPSET rgPropertySets[]) {
  if (cPropertySets && !rgPropertySets) throw EOleDbException(E_INVALIDARG);
  for (ULONG i = 0; i < cPropertySets; ++i)
    if (rgPropertySets[i].cProperties && !rgPropertySets[i].rgProperties) throw EOleDbException(E_INVALIDARG);
}

HRESULT TOleDbPropertyStorage::GetPropertyInfo(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                               ULONG* pcPropertyInfoSets, DBPROPINFOSET** prgPropertyInfoSets,
                                               OLECHAR** ppDescBuffer) {
  if (pcPropertyInfoSets) *pcPropertyInfoSets = 0;
  if (prgPropertyInfoSets) *prgPropertyInfoSets = nullptr;
  if (ppDescBuffer) *ppDescBuffer = nullptr;
  if (!pcPropertyInfoSets || !prgPropertyInfoSets) throw EOleDbException(E_INVALIDARG);
  CheckPropertyInfoArgs(cPropertyIDSets, rgPropertyIDSets);

  TSelection selection = Select(*sets_, cPropertyIDSets, rgPropertyIDSets, false);
  ULONG count = selection.Selected ? static_cast<ULONG>(selection.Sets.size()) : cPropertyIDSets;
  if (count == 0) throw EOleDbException(DB_E_ERRORSOCCURRED);

  TPropInfoAnswer answer(count);
  // Entries that get a description, with the text they get.
  std::vector<std::pair<DBPROPINFO*, const std::wstring*>> described;
  auto noteDescription = [&](DBPROPINFO& info, const TOleDbProperty& property) {
    if (info.dwFlags != DBPROPFLAGS_NOTSUPPORTED && !property.Name.empty()) described.emplace_back(&info, &property.Name);
  };
  const HRESULT result = AnswerSelection(
      *sets_, selection, count, rgPropertyIDSets, answer,
      [&](DBPROPINFO& info, const TOleDbProperty& property) {
        FillPropInfo(info, property);
        noteDescription(info, property);
      },
      [](DBPROPINFO& info) { info.dwFlags = DBPROPFLAGS_NOTSUPPORTED; });

  if (result != DB_E_ERRORSOCCURRED && ppDescBuffer && !described.empty()) {
    size_t characters = 0;
    for (const auto& [info, name] : described) characters += name->size() + 1;
    TTaskMemory<OLECHAR[]> buffer = OleDbAllocArray<OLECHAR>(characters);
    OLECHAR* next = buffer.get();
    for (const auto& [info, name] : described) {
      memcpy(next, name->data(), name->size() * sizeof(OLECHAR));
      info->pwszDescription = next;
      next += name->size() + 1;
    }
    *ppDescBuffer = buffer.release();
  }
  answer.HandTo(pcPropertyInfoSets, prgPropertyInfoSets);
  return result;
}

HRESULT TOleDbPropertyStorage::GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                             ULONG* pcPropertySets, DBPROPSET** prgPropertySets) {
  if (pcPropertySets) *pcPropertySets = 0;
  if (prgPropertySets) *prgPropertySets = nullptr;
  if (!pcPropertySets || !prgPropertySets) throw EOleDbException(E_INVALIDARG);
  CheckGetPropertiesArgs(cPropertyIDSets, rgPropertyIDSets);

  TSelection selection = Select(*sets_, cPropertyIDSets, rgPropertyIDSets, true);
  ULONG count = selection.Selected ? static_cast<ULONG>(selection.Sets.size()) : cPropertyIDSets;
  if (count == 0) throw EOleDbException(DB_E_ERRORSOCCURRED);

  TPropAnswer answer(count);
  const HRESULT result = AnswerSelection(
      *sets_, selection, count, rgPropertyIDSets, answer,
      [](DBPROP& prop, const TOleDbProperty& property) { property.FillDBProp(prop); },
      [](DBPROP& prop) {
        prop.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
        ReportNotSupported(prop.dwPropertyID);
      });
  answer.HandTo(pcPropertySets, prgPropertySets);
  return result;
}

HRESULT TOleDbPropertyStorage::SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[], bool failOnRequired) {
  CheckSetPropertiesArgs(cPropertySets, rgPropertySets);
  if (cPropertySets == 0) return S_OK;
  ULONG succeeded = 0, failed = 0;
  bool requiredFailed = false;
  for (ULONG i = 0; i < cPropertySets; ++i) {
    DBPROPSET& request = rgPropertySets[i];
    TOleDbPropertySet* set = sets_->FindSet(request.guidPropertySet);
    // The properties in error are there to be read; a consumer sets them as
    // it would any set the object does not support.
    if (set && set->SetType == TOleDbPropertySetType::PropertiesInError) set = nullptr;
    for (ULONG j = 0; j < request.cProperties; ++j) {
      DBPROP& prop = request.rgProperties[j];
      bool accepted = false;
      if (!set || !set->IsSupported(prop.dwPropertyID)) {
        prop.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
        ReportNotSupported(prop.dwPropertyID);
      } else {
        accepted = set->FindByID(prop.dwPropertyID)->SetValue(prop);
        if (!accepted)
          OleDbDebugOutput("Could not set property PropID:" + std::to_string(prop.dwPropertyID) +
                           " Property:" + GuidText(request.guidPropertySet) +
                           " PropSet.Items[0].Name:" + CodePageFromWide(set->Items(0).Name));
      }
      if (accepted) {
        ++succeeded;
      } else {
        ++failed;
        // An option that is neither is refused, and as strictly as required.
        if (prop.dwOptions != DBPROPOPTIONS_OPTIONAL) requiredFailed = true;
      }
    }
  }
  return SetResult(succeeded, failed, failOnRequired, requiredFailed);
}

HRESULT TOleDbPropertyStorage::ApplyPropertySets(TOleDbPropertySets& source, bool failOnRequired) {
  bool sourceHasSets = false;
  for (size_t i = 0; i < source.Count() && !sourceHasSets; ++i)
    sourceHasSets = source.Items(i).SetType != TOleDbPropertySetType::PropertiesInError;
  TOleDbPropertySet& errors = source.FindOrCreateSet(DBPROPSET_PROPERTIESINERROR);
  errors.Clear();
  // Only the source's own sets can make the result worse than S_OK; its
  // error set from an earlier transfer is no request.
  if (!sourceHasSets) return S_OK;

  ULONG succeeded = 0, failed = 0;
  bool requiredFailed = false;
  for (size_t i = 0; i < source.Count(); ++i) {
    const TOleDbPropertySet& sourceSet = source.Items(i);
    if (&sourceSet == &errors) continue;
    TOleDbPropertySet* set = sets_->FindSet(sourceSet.Guid);
    for (size_t j = 0; j < sourceSet.Count(); ++j) {
      const TOleDbProperty& sourceProperty = sourceSet.Items(j);
      DBPROPSTATUS status = DBPROPSTATUS_NOTSUPPORTED;
      if (set && set->IsSupported(sourceProperty.PropID)) {
        TScopedDBProp scoped;
        sourceProperty.FillDBProp(scoped.Prop);
        if (set->FindByID(sourceProperty.PropID)->SetValue(scoped.Prop)) {
          ++succeeded;
          continue;
        }
        status = scoped.Prop.dwStatus;
      }
      errors.AddCopy(sourceProperty, status);
      ++failed;
      if (sourceProperty.Options == DBPROPOPTIONS_REQUIRED) requiredFailed = true;
    }
  }
  return SetResult(succeeded, failed, failOnRequired, requiredFailed);
}
