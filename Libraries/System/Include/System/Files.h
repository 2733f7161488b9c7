#pragma once

namespace velto {

// End step of the file library: releases every file still open through it.
// The client keeps no files open through it.
void file_library_end();

}  // namespace velto
