#pragma once

// libgsf, set up once for the whole program. Call before any other libgsf
// function; cheap after the first call, safe from any thread.
//
// A damaged compound file makes libgsf log CRITICALs (its own failed checks)
// and warnings through GLib. Our readers report such a file in the user's
// words, so these messages are dropped instead of reaching the terminal, and
// they never abort the program, not even under G_DEBUG=fatal-criticals.
// Messages of every other log domain are left as they are.
namespace GsfLibrary {

void ensureReady();

} // namespace GsfLibrary
