#pragma once

// libgsf, set up once for the whole program. Call before any other libgsf
// function; cheap after the first call, safe from any thread.
//
// A damaged compound file makes libgsf log CRITICALs (its own failed checks)
// and warnings through GLib. Our readers report such a file in the user's
// words, so these messages are dropped instead of reaching the terminal, and
// they never abort the program, not even under G_DEBUG=fatal-criticals.
// Messages of every other log domain are left as they are.
#include <memory>

#include <glib-object.h>

namespace GsfLibrary {

// Owns one reference to a GObject (any libgsf object) and drops it when it
// goes, whatever way the function is left.
struct Unref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
template<typename T>
using Owned = std::unique_ptr<T, Unref>;

void ensureReady();

// Some libgsf calls (opening a stream of a damaged file) warn in GLib's
// default domain instead of their own. While one of these lives, such
// warnings are dropped too. The program calls libgsf from one thread only.
class Quiet
{
public:
    Quiet();
    ~Quiet();
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;

private:
    unsigned m_handler = 0;
};

} // namespace GsfLibrary
