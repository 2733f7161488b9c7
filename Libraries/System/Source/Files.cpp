#include "System/Files.h"

namespace velto {

void file_library_end() {}

}  // namespace velto
