// The program's texts in the user's language: _() looks an English text up
// in the catalogue of the text domain "mereglass" and gives it back as it is
// when there is none; N_() only marks a text for the catalogue, to be
// looked up where it is shown; P_() picks a singular or a plural form for a
// count. Relies on glibc's libintl; the program binds the domain to its
// catalogues and sets the message locale at start (platform/platform.h,
// UseUserLanguage).
#pragma once

#include <libintl.h>

#include <string>

#define MEREGLASS_TEXT_DOMAIN "mereglass"

#define _(text) dgettext(MEREGLASS_TEXT_DOMAIN, text)
#define N_(text) text
#define P_(singular, plural, count) \
    dngettext(MEREGLASS_TEXT_DOMAIN, singular, plural, static_cast<unsigned long>(count))

// A translated sentence with its parts put in: printf's format, whose
// placeholders a translation may reorder (%1$s, %2$s). The numbers are
// written as in the C locale, which the program never leaves for numbers.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
