#pragma once
// Memory given back after a burst of many small allocations (an import of a large file).
// The C library keeps what a program frees for its later allocations; after hundreds of
// megabytes in small pieces nothing of it goes back to the system on its own, and the
// process stays that large until it ends.
namespace lumvane {

// Returns the free memory the allocator holds to the system (no effect where the C
// library cannot do that). Costs a walk over the heap: call it after a burst, not often.
void returnFreedMemoryToSystem();

}  // namespace lumvane
