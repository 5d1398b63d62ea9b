// Replaces the global operator new so that a test can make one allocation fail: the n-th
// non-throwing allocation returns null, or the n-th throwing one throws std::bad_alloc. Off
// unless armed; the zone tests arm it on the main thread with no other thread allocating.
#pragma once

namespace alloc_hooks {

// Fails the n-th `new (std::nothrow)` from now on (1: the next one); 0 turns it off.
void FailNothrowNew(int n);
// Fails the n-th throwing `new` (also behind `new[]` and the nothrow array form).
void FailThrowingNew(int n);
// Whether the armed failure has happened (the countdown ran out).
bool Fired();
// Whether the block of the latest successful `new (std::nothrow)` has been deleted since.
bool LatestNothrowBlockFreed();

} // namespace alloc_hooks
