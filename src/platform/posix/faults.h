// Fault injection for the test builds of the POSIX file services.
//
// Every system call of the file services that can fail passes through
// PlFault() with its kind first. In a build with PARCELOT_FAULTS the calls are
// counted, and the environment variable PARCELOT_FAULTS chooses what happens;
// its value is a comma-separated list of:
//
//   fail=KIND:N:ERRNO  the N-th call of KIND (1 for the first) fails with
//                      ERRNO (a number or a name such as EIO, ENOSPC, EACCES)
//   fail=KIND:N+:ERRNO every call of KIND from the N-th on fails
//   kill=N             the process kills itself (SIGKILL) at the N-th call of
//                      any kind, before the call is made
//   stop=N:PATH        at the N-th call of any kind, before it is made, the
//                      process writes its id to the new file PATH and stops
//                      itself (SIGSTOP), so that a test can run another
//                      process meanwhile and then continue this one
//   nosync             the flushes do nothing (for measuring their cost)
//
// KIND is one of open, read, write, sync, unlink, rename, copy, trunc, chmod,
// lock (the lock that honours a share mode between processes; its failure is
// a conflict), or any. Without PARCELOT_FAULTS none of this is compiled: the seam is a
// constant false, and the program reads no environment variable.
#pragma once

enum class PlCall { Open, Read, Write, Sync, Unlink, Rename, Copy, Trunc, Chmod, Lock };

#ifdef PARCELOT_FAULTS
// True when this call is to fail; errno is then set to the chosen error.
bool PlFault(PlCall call);
// True when flushes are to be skipped.
bool PlFlushDisabled();
#else
inline bool PlFault(PlCall) { return false; }
inline bool PlFlushDisabled() { return false; }
#endif
