#pragma once
// Carries out GetPropertyInfo, GetProperties and SetProperties for one
// object over its property set list, and the transfer of another object's
// values (a command's into its rowset).
//
// The operations return S_OK, DB_S_ERRORSOCCURRED or DB_E_ERRORSOCCURRED
// with the consumer's arrays filled; the calling interface method ends with
// OleDbError(result). Argument errors, allocation failures and "nothing to
// answer" are raised (EOleDbException) with every array already freed.
#include "OLEDbProperties.h"

#include <memory>

class TOleDbPropertyStorage {
public:
  // sets must not be null ("PropertySets must be defined").
  explicit TOleDbPropertyStorage(std::unique_ptr<TOleDbPropertySets> sets);
  virtual ~TOleDbPropertyStorage() = default;
  TOleDbPropertyStorage(const TOleDbPropertyStorage&) = delete;
  TOleDbPropertyStorage& operator=(const TOleDbPropertyStorage&) = delete;

  TOleDbPropertySets& PropertySets() const noexcept { return *sets_; }

  // Raise E_INVALIDARG on a malformed request.
  virtual void CheckPropertyInfoArgs(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[]);
  virtual void CheckGetPropertiesArgs(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[]);
  virtual void CheckSetPropertiesArgs(ULONG cPropertySets, const DBPROPSET rgPropertySets[]);

  // ppDescBuffer may be null (no descriptions wanted); the other output
  // pointers are required.
  virtual HRESULT GetPropertyInfo(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                  ULONG* pcPropertyInfoSets, DBPROPINFOSET** prgPropertyInfoSets,
                                  OLECHAR** ppDescBuffer);
  virtual HRESULT GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                ULONG* pcPropertySets, DBPROPSET** prgPropertySets);
  // Writes dwStatus of every DBPROP. Without failOnRequired nothing set is
  // DB_E_ERRORSOCCURRED; with it (a new object) only a failed required
  // property is, failed optional ones give DB_S_ERRORSOCCURRED.
  virtual HRESULT SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[], bool failOnRequired);
  // Applies source's values here, summed up as SetProperties does; source's
  // DBPROPSET_PROPERTIESINERROR set is (re)created and ends holding exactly
  // the properties that failed.
  virtual HRESULT ApplyPropertySets(TOleDbPropertySets& source, bool failOnRequired);

private:
  std::unique_ptr<TOleDbPropertySets> sets_;
};

// The DBPROPFLAGS mask an ALL request GUID stands for; 0 for any other GUID.
DBPROPFLAGS PropertySetMaskOf(REFGUID guid);
