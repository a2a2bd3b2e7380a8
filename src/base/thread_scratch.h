#pragma once
// Scratch space a thread keeps from one call to the next.
//
// Not with mingw-w64: there the emulated TLS block of a thread can be freed
// before the destructors of its thread_local objects run, which then free
// whatever the reused memory holds (a heap fault at thread exit, now and
// then). There such scratch lives for one call instead.
#ifdef __MINGW32__
#define VARNHOLT_THREAD_SCRATCH
#else
#define VARNHOLT_THREAD_SCRATCH thread_local
#endif
