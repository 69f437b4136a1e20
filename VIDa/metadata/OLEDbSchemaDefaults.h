#pragma once
// The column template table: ready-made column lists for the schema rowsets
// and the column metadata rowset, one group per GUID.
#include "OLEDbColumns.h"

#include <windows.h>
#include <oledb.h>

#include <span>

struct TOleDbSchemaDefault {
  // The group: a schema rowset GUID or OleDbColumnsRowsetGroup.
  const GUID* Schema;
  // "-" ends a group.
  const wchar_t* Name;
  ULONG DataType;
  // Used only for types without a fixed size.
  LONG Size;
  // Rows with an identifier are selected by it; the others are the group's
  // standard columns.
  const DBID* ColumnID;
};

// The group of the IColumnsRowset metadata columns.
extern const GUID OleDbColumnsRowsetGroup;

std::span<const TOleDbSchemaDefault> SchemaDefaults() noexcept;

// Adds the standard columns of group to columns, or, with columnID, the one
// row of the group carrying that identifier (none when no row carries it).
// Raises E_FAIL "Invalid column size. ColumnName=<name>" for a row without a
// usable size.
void CreateSchemaColumns(const GUID& group, TOleDbColumns& columns, const DBID* columnID = nullptr);
