// What the timed browse takes from a resolved service's TXT text.
#pragma once

#include <string>

// The document path announced in a TXT text (the library's form: zero-terminated
// UTF-8 strings, ended by an empty one): the value of the first entry whose key is
// "path" in any case, or "/" when there is none or its value is empty.
std::wstring ExtractTxtPath(const char* txt);

// What the folder browses for: web servers in the link-local domain.
extern const wchar_t kServiceType[];
extern const wchar_t kServiceDomain[];
