#include "discovery/TimedBrowse.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <string>

#include "discovery/ServiceItemId.h"
#include "tests/standin/StandIn.h"
#include "view/CEnumIdList.h"

namespace {

constexpr uint32_t kOtherEventType = 29;

std::string Txt(std::initializer_list<const char*> entries) {
    std::string txt;
    for (const char* entry : entries) txt.append(entry).push_back('\0');
    txt.push_back('\0');
    return txt;
}

const ServiceAddress kAddress{2, 0xC0000201, 80, {}};

void Queue(const wchar_t* name, const std::string& txt, uint32_t delayMs = 0,
           uint32_t type = kDNSBrowserEventTypeResolved) {
    StandInQueueEvent(type, name, &kAddress, txt.data(), txt.size(), delayMs);
}

// Whatever step fails, the browse succeeds and ends what it started; a search lists what was
// resolved during its wait, in arrival order, duplicates and all (E: an event delivered).
TEST(TimedBrowseSteps, EveryStepThatFailsIsCleanedUpAndAFullSearchListsItsServices) {
    const struct {
        int failing;
        const char* expectedLog;
        bool searched;
    } steps[] = {
        {kCallCount, "ICS6EEEETRF", true},  // nothing fails
        {kCallInitialize, "I", false},
        {kCallCreate, "ICF", false},
        {kCallStart, "ICS6RF", false},
        {kCallStop, "ICS6EEEETRF", true},  // as a failing release or finalise: ignored
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.expectedLog);
        StandInReset();
        if (step.failing != kCallCount) StandInFailCall(step.failing, kDNSBadStateErr);
        Queue(L"Printer", Txt({"path=/status"}));
        Queue(L"Camera", Txt({}), 20);
        Queue(L"Ignored kind", Txt({}), 0, kOtherEventType);
        Queue(L"Printer", Txt({"path=/status"}), 20);
        Queue(L"Too late", Txt({}), 5000);
        CComObject<CEnumIdList>* enumerator = nullptr;
        ASSERT_EQ(S_OK, CreateObject(&enumerator));
        enumerator->AddRef();
        const DWORD started = GetTickCount();
        EXPECT_EQ(S_OK, enumerator->BrowseServices());

        EXPECT_STREQ(step.expectedLog, StandInCallLog());
        EXPECT_EQ(step.searched ? &enumerator->m_items : nullptr, enumerator->m_pList);
        if (step.searched) {
            EXPECT_GE(GetTickCount() - started, 450u);
            std::wstring listed;
            for (LPITEMIDLIST pidl : enumerator->m_items) {
                const ServiceItemId* item = AsServiceItem(pidl);
                listed += std::wstring(item->name) + L" " + item->path + L";";
                EXPECT_EQ(0, std::memcmp(&kAddress, &item->address, sizeof kAddress));
            }
            EXPECT_EQ(L"Printer /status;Camera /;Printer /status;", listed);
        }
        enumerator->Release();
    }
}

// The first "path" key's value, in any case; "/" when none or empty; bad UTF-8 replaced.
TEST(ExtractTxtPath, FirstPathEntryOrTheRoot) {
    const std::string longValue = "path=/" + std::string(100000, 'a');
    const struct {
        std::string txt;
        std::wstring expected;
    } cases[] = {
        {Txt({"PATH=/admin"}), L"/admin"},
        {Txt({"path=/a=b"}), L"/a=b"},
        {Txt({"path=/first", "path=/second"}), L"/first"},
        {Txt({"path=", "path=/second"}), L"/"},
        {Txt({"path", "path=/second"}), L"/"},
        {Txt({"path=/\xf0\x9f\x98\x80"}), L"/\xD83D\xDE00"},
        {Txt({"k=v", longValue.c_str()}), L"/" + std::wstring(100000, L'a')},
        {Txt({"pathx=/x", "xpath=/y", "pat=/z", "=/w", " path=/v"}), L"/"},
        {Txt({"path=/\xff\xfe\xc3"}), L"/\xFFFD\xFFFD\xFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(c.expected, ExtractTxtPath(c.txt.c_str()));
    }
}

}  // namespace
