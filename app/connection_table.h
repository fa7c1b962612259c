#pragma once
// The connection table's fields: what the program keeps of each share it
// watches, in the order of the table (and of the grid's field list).

#include <vector>

#include "framework/memory_data.h"

namespace quilvane {

// ID, HostName, Connected, FalseCount, UserName, Password, Drive, UNC, Maped,
// MaxPing.
std::vector<fw::TFieldDef> ConnectionFields();

}  // namespace quilvane
