#pragma once

namespace dorvex {

// Page buffers (a megabyte for a 1-bit A4 page, nine for grey) are made and freed several times
// per page. By default glibc maps each one afresh and hands it back on free, and touching
// the new memory costs more than the clean-up itself. Called once at the start of a program that
// processes pages, freed buffers then stay in the heap and are reused, and the buffers too
// large for the heap (colour pages) are mapped in huge pages.
void KeepPageBuffersForReuse();

}  // namespace dorvex
