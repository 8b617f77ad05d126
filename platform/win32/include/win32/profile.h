// Private-profile (INI) files with the Windows semantics.
//
// Sections and keys compare case-insensitively (ASCII); the first matching
// section, and the first matching key inside it, wins. Keys and values are
// trimmed of blanks; a value wholly enclosed in matching quotes (" or ')
// loses them when read as a single value. Lines starting with ';' are
// comments; lines that are neither a section header nor key=value are kept
// on rewrite but otherwise ignored. Section order is kept and new keys go to
// the end of their section, new sections to the end of the file.
//
// The file name is used as given (callers pass full paths). Every write
// rewrites the file atomically (temporary file in the same folder, then
// rename), so a reader never sees a half-written file; writers in one
// process are serialised, writers in different processes hold an flock on
// the file while they read, change and replace it.
//
// Read functions set the last error to ERROR_FILE_NOT_FOUND when the file
// does not exist and to 0 otherwise.
#pragma once

#include "win32/types.h"

// Value of key in section, or the default (NULL = "", trailing blanks cut)
// when absent. Returns the characters copied without the terminator;
// nSize - 1 when the value was cut to fit.
// section == NULL: the section names, "a\0b\0\0"; key == NULL: the key
// names of the section. Lists hold whole names only; a list that does not
// fit returns nSize - 2.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer, DWORD size,
                               LPCSTR file_name);

// Leading decimal number of the value (after blanks and an optional sign);
// the default when the key is absent or empty; 0 when the value is negative
// or does not start with a number (as documented for Windows).
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT default_value, LPCSTR file_name);

// The section's entries as "key=value\0...\0\0" (file order, trimmed, quotes
// kept). A section that does not fit returns size - 2; the buffer then holds
// only the entries that fit whole, never a cut one.
DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file_name);

// All section names, "a\0b\0\0"; size - 2 when they do not fit.
DWORD GetPrivateProfileSectionNamesA(LPSTR buffer, DWORD size, LPCSTR file_name);

// Sets key in section (creating both, and the file, as needed). value ==
// NULL deletes the key; key == NULL deletes the whole section. Texts holding
// a line break, keys holding '=' or starting with ';' or '[' are refused
// (ERROR_INVALID_PARAMETER): they would come back as something else.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file_name);

// Replaces the section's contents with the entries "k=v\0k2=v2\0\0" (kept in
// place when the section exists, else appended). entries == NULL deletes it.
BOOL WritePrivateProfileSectionA(LPCSTR section, LPCSTR entries, LPCSTR file_name);
