#pragma once
// The rowset class of schema rowsets and column metadata rowsets: it makes
// no rowset data of its own and is always handed existing data
// (CreateRowsetOverData).
#include "OLEDbRowset.h"

class TOleDbSchemaRowset : public TOleDbRowset {
public:
  static constexpr const wchar_t* ClassName = L"TOleDbSchemaRowset";

  void CreateRowsetData(TOleDbExecParams&) override {}
};
