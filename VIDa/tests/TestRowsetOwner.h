#pragma once
// What a rowset data's tests put in the rowset's place: the handles,
// accessors, properties, events and capabilities the engine asks its owner for.
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <memory>

#include "ComObj.h"
#include "OLEDbAccessor.h"
#include "OLEDbProperties.h"
#include "OLEDbRowHandles.h"
#include "OLEDbRowsetData.h"
#include "OLEDbRowsetEvents.h"

class TTestRowsetOwner : public TComImpl<TComObject>, public IOleDbRowsetDataOwner {
public:
  explicit TTestRowsetOwner(std::uint8_t capabilities) : Capabilities(capabilities) {}

  TOleDbRowHandles& OwnerRowHandles() override { return Handles; }
  TOleDbAccessors& OwnerAccessors() override { return Accessors; }
  TOleDbPropertySets& OwnerPropertySets() override { return Properties; }
  TOleDbRowsetEvents* OwnerEvents() override { return Events.get(); }
  std::uint8_t OwnerCapabilities() override { return Capabilities; }

  void SetRowsetFlag(DBPROPID id, bool on) {
    Properties.EnsureProperty(DBPROPSET_ROWSET, id);
    VARIANT value;
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = on ? VARIANT_TRUE : VARIANT_FALSE;
    Properties.PutValue(DBPROPSET_ROWSET, id, value);
  }

  TOleDbRowHandles Handles;
  TOleDbAccessors Accessors;
  TOleDbPropertySets Properties;
  std::unique_ptr<TOleDbRowsetEvents> Events;
  std::uint8_t Capabilities;
};
