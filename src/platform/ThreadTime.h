// The processor time the calling thread has used.
#pragma once

namespace tessaly {

// Seconds of processor time (user and system) of the calling thread; 0 where
// the system cannot tell.
double threadCpuSeconds();

} // namespace tessaly
