// Internal (kova_slice).
// Whether the generated code's namespace-scope statics (operation names, type
// id tables) are constructed. They are built by dynamic initialisation, whose
// order between translation units is unspecified: code running before main (a
// caller's namespace-scope initialiser) may find them still empty, and an
// operation sent then would carry an empty name. The service's generated
// unit (the only one with such statics) is compiled through a wrapper,
// KOVASliceUnitService.cpp, that reports it ready after its last static.
//
// Thread-safety: an atomic, constant-initialised; usable at any time of the
// process's life, also before main and during exit.
#pragma once

namespace KOVA {

// True once the generated service unit's statics are constructed.
bool SliceStaticsReady();

// Called by the wrapper only.
bool MarkSliceStaticsReady();

}  // namespace KOVA
