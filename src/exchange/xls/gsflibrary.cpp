#include "exchange/xls/gsflibrary.h"

#include <glib.h>
#include <gsf/gsf-utils.h>

#include <cstring>
#include <mutex>

namespace {

// The log domains libgsf 1.14 uses; GLib looks handlers up by exact name.
constexpr const char *gsfDomains[] = {"libgsf", "libgsf:msole", "libgsf:zip", "libgsf:open_pkg",
                                      "libgsf:tar"};

bool isGsfDomain(const gchar *domain)
{
    return domain
        && (std::strcmp(domain, "libgsf") == 0 || std::strncmp(domain, "libgsf:", 7) == 0);
}

void dropMessage(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

int g_quietScopes = 0; // GsfLibrary::Quiet objects alive

const auto QuietLevels = GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING
                                        | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO
                                        | G_LOG_LEVEL_DEBUG | G_LOG_FLAG_FATAL
                                        | G_LOG_FLAG_RECURSION);

// Asked by GLib before it aborts on a message made fatal by G_DEBUG or
// g_log_set_always_fatal(); errors (G_LOG_LEVEL_ERROR) abort regardless.
// GLib keeps one such function per process: this program sets no other.
gboolean fatalUnlessGsf(const gchar *domain, GLogLevelFlags, const gchar *, gpointer)
{
    return !isGsfDomain(domain) && !(domain == nullptr && g_quietScopes > 0);
}

} // namespace

void GsfLibrary::ensureReady()
{
    static std::once_flag ready;
    std::call_once(ready, [] {
        gsf_init();
        // Errors are left to GLib: they end the program, and then their text helps.
        for (const char *domain : gsfDomains)
            g_log_set_handler(domain, QuietLevels, dropMessage, nullptr);
        g_test_log_set_fatal_handler(fatalUnlessGsf, nullptr);
    });
}

GsfLibrary::Quiet::Quiet()
{
    ensureReady();
    ++g_quietScopes;
    m_handler = g_log_set_handler(nullptr, QuietLevels, dropMessage, nullptr);
}

GsfLibrary::Quiet::~Quiet()
{
    g_log_remove_handler(nullptr, m_handler);
    --g_quietScopes;
}
