#include "Core/Startup.h"

#include <clocale>

namespace velto {

void locale_init() {
  // Everything from the user's settings, except that numbers always use a
  // decimal point.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
}

// Map- and list-valued variables need no routines beyond their containers in
// this program; the steps keep their places in the start-up order.
void map_library_init() {}
void list_library_init() {}

}  // namespace velto
