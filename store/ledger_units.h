#pragma once
// Measure-unit groups ("Corabin.MeasureUnitGroupSet") and measure units
// ("Corabin.MeasureUnitSet"), both enumerated in ID order.
//
// A group: GroupID (read), Name, DefaultUnitID; fields FGroupID, FName,
// FDefaultUnitID. Its Call members:
// - "ExistenceCheck" with the named argument "Name" (or the name as first
//   argument): the ID of the group's unit of that name, 0 when none;
// - "SetDefaultUnit" with a unit ID: stores the group's default unit at once.
// Group names may repeat.
//
// A unit: MeasureUnitID (read), UnitGroupID, Number, Name, Coefficient,
// AuxClass; fields FMeasureUnitID, FUnitGroupID, FNumber, FName,
// FCoefficient, FAuxClass. Names are unique within a group. The unit set
// takes the restriction "UnitGroupID": Count, enumeration, GetNext and
// ExistenceCheck then see that group's units, and CreateNew makes a unit of
// the group last written there. Item and GetUnit find any unit by ID.
#include "context/ledger_api.h"
#include "store/ledger_store.h"

namespace morvent {

ObjectSetPtr NewMeasureUnitGroupSet(LedgerStorePtr store);
ObjectSetPtr NewMeasureUnitSet(LedgerStorePtr store);

}  // namespace morvent
