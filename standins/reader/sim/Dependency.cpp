// A small library of its own for the variant of the simulated reader library that
// imports it: installed beside that variant, it is found only where the loader looks
// in the variant's own folder.
extern "C" __declspec(dllexport) int SimDependencyAnswer() { return 42; }
