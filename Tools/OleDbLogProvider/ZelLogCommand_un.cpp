#include "ZelLogCommand_un.h"

#include "ZelLogRowsetData_un.h"

const TOleDbClass* TZelLogDbCommand::TClass::RowsetClass() const { return &OleDbClassOf<TZelLogDbRowset>(); }

void TZelLogDbCommand::InitProperties() {
  TOleDbCommand::InitProperties();
  TOleDbStreamingRowsetData::DeclareForwardOnly(PropertySets());
}

void TZelLogDbCommand::DescribeColumns(TOleDbExecParams& params, TOleDbColumns& columns) {
  BuildDataColumns(&params, columns);
}
