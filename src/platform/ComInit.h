#pragma once
// The component object model around each plugin call. Linux has no such thing, so both
// calls do nothing; they stay so that the calling pattern of the plugin bridge reads the
// same on every platform, and a port that needs a per-call apartment has one place to do it.

// Prepares the calling thread for one plugin call (single-threaded apartment elsewhere).
inline void CoInitializeThread() noexcept {}
// Undoes CoInitializeThread on the calling thread.
inline void CoUninitializeThread() noexcept {}
