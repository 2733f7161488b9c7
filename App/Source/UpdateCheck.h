#pragma once

#include "Core/Types.h"

namespace velto::app {

// Asks the update server for a newer release and, when the user agrees,
// hands over to the updater and ends the client. Returns 0 when the client
// goes on starting; every failure is silent.
int update_check();

// 1 when `candidate` is newer than `current`, -1 when older, 0 when they are
// equal or cannot be compared (fewer than four dotted fields in either).
// Fields beyond the fourth are ignored; each field counts as the signed
// number it spells, and a field too large for 64 bits makes the two not
// comparable (never newer).
[[nodiscard]] int version_compare(TextView candidate, TextView current);

}  // namespace velto::app
