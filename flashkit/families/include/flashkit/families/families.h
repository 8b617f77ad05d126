// The six device families of the firmware server.
#pragma once

namespace update {

// Registers the families' probes and recognizers once, in the order alder,
// alderamd, birch, birchamd, cedar, dogwood; later calls do nothing.
void register_families();

} // namespace update
