// The simulator decoder target's checks, under a name of their own, for the corpus replay.
#define LLVMFuzzerTestOneInput FuzzSimFrameOneInput
#include "fuzz_simframe.cpp"
