// The user's language for the program's texts. Relies on glibc's setlocale
// and libintl, and on GTK only to keep it from setting the whole locale.
//
// Provides: UseUserLanguage.
#include <gtk/gtk.h>
#include <libintl.h>

#include <clocale>

#include "platform/platform.h"
#include "support/translation.h"

namespace platform {

void UseUserLanguage() {
    // gtk_init would otherwise call setlocale(LC_ALL, ""), and a decimal
    // comma would then change how settings, flags and numbers are read.
    gtk_disable_setlocale();
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
    bindtextdomain(MEREGLASS_TEXT_DOMAIN, BundleLocaleDirectory().c_str());
    bind_textdomain_codeset(MEREGLASS_TEXT_DOMAIN, "UTF-8");
}

}  // namespace platform
