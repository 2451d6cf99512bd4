// The frame target's checks, under a name of their own, for the corpus replay.
#define LLVMFuzzerTestOneInput FuzzFrameOneInput
#include "fuzz_frame.cpp"
