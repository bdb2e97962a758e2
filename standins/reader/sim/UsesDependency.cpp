// Linked into the variant that needs the small library beside it: the reference below
// makes the variant import it, so the variant loads only where the library is found.
extern "C" __declspec(dllimport) int SimDependencyAnswer();

int SimAskDependency() { return SimDependencyAnswer(); }
