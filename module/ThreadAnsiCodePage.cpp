#include "module/ThreadAnsiCodePage.h"

namespace {

using CodePageRule = UINT (*)();

UINT ChooseCodePageRule();

CodePageRule volatile g_codePageRule = &ChooseCodePageRule;

// NT 5 and later know CP_THREAD_ACP themselves.
UINT ThreadDesignator() { return CP_THREAD_ACP; }

// Older systems: the default ANSI code page of the thread's locale, read as decimal.
UINT LocaleCodePage() {
    char digits[7] = {};
    UINT codePage = 0;
    if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, digits,
                       sizeof(digits)) != 0) {
        for (const char* digit = digits; *digit >= '0' && *digit <= '9'; ++digit)
            codePage = codePage * 10 + static_cast<UINT>(*digit - '0');
    }
    return codePage != 0 ? codePage : GetACP();
}

UINT ChooseCodePageRule() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL known = GetVersionExW(&version);
#pragma GCC diagnostic pop
    CodePageRule rule = &LocaleCodePage;
    if (known && version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5)
        rule = &ThreadDesignator;
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_codePageRule),
                               reinterpret_cast<void*>(rule));
    return rule();
}

}  // namespace

UINT ThreadAnsiCodePage() { return g_codePageRule(); }
