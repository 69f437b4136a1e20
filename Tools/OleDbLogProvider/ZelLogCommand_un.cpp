#include "ZelLogCommand_un.h"

#include "ZelLogProvider_un.h"
#include "ZelLogRowsetData_un.h"

const TOleDbClass* TZelLogDbCommand::TClass::RowsetClass() const { return &OleDbClassOf<TZelLogDbRowset>(); }

void TZelLogDbCommand::InitProperties() {
  TOleDbCommand::InitProperties();
  TOleDbStreamingRowsetData::DeclareForwardOnly(PropertySets());
  TOleDbStreamingRowsetData::DeclareRowLimit(PropertySets());
}

void TZelLogDbCommand::DescribeColumns(TOleDbExecParams& params, TOleDbColumns& columns) {
  BuildDataColumns(&params, columns, TZelLogDbProvider::FolderOf(*this));
}
