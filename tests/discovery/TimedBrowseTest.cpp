#include "discovery/TimedBrowse.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
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

// An enumerator as EnumObjects makes it, released at the end of the test.
class TimedBrowse : public ::testing::Test {
protected:
    void SetUp() override {
        StandInReset();
        ASSERT_EQ(S_OK, CreateObject(&m_enumerator));
        m_enumerator->AddRef();
    }
    void TearDown() override { m_enumerator->Release(); }
    const ServiceItemId* At(size_t index) { return AsServiceItem(m_enumerator->m_items.at(index)); }

    CComObject<CEnumIdList>* m_enumerator = nullptr;
};

TEST_F(TimedBrowse, ListsResolvedServicesOfTheWaitInArrivalOrderWithDuplicates) {
    Queue(L"Printer", Txt({"path=/status"}));
    Queue(L"Camera", Txt({}), 20);
    Queue(L"Ignored kind", Txt({}), 0, kOtherEventType);
    Queue(L"Printer", Txt({"path=/status"}), 20);
    Queue(L"Too late", Txt({}), 900);

    DWORD started = GetTickCount();
    EXPECT_EQ(S_OK, m_enumerator->BrowseServices());
    EXPECT_GE(GetTickCount() - started, 450u);

    EXPECT_EQ("ICSEEEETRF", StandInLog());
    ASSERT_EQ(3u, m_enumerator->m_items.size());
    const wchar_t* const names[] = {L"Printer", L"Camera", L"Printer"};
    const wchar_t* const paths[] = {L"/status", L"/", L"/status"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(names[i], At(i)->name);
        EXPECT_STREQ(paths[i], At(i)->path);
        EXPECT_EQ(0xC0000201u, At(i)->address.ipv4Address);
    }
    EXPECT_EQ(&m_enumerator->m_items, m_enumerator->m_pList);
}

TEST_F(TimedBrowse, EveryFailingStepReportsSuccessAndCleansUp) {
    const struct {
        StandInCall call;
        bool writeHandle;
        const char* expectedLog;
        bool attached;
    } steps[] = {
        {kCallInitialize, false, "I", false},
        {kCallCreate, false, "ICF", false},
        {kCallCreate, true, "ICRF", false},
        {kCallStart, false, "ICSRF", false},
        {kCallStop, false, "ICSTRF", true},
        {kCallRelease, false, "ICSTRF", true},
        {kCallFinalize, false, "ICSTRF", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.expectedLog);
        StandInReset();
        StandInFailCall(step.call, kDNSBadStateErr, step.writeHandle);
        Queue(L"Seen only when the search ran", Txt({}));
        CComObject<CEnumIdList>* enumerator = nullptr;
        ASSERT_EQ(S_OK, CreateObject(&enumerator));
        enumerator->AddRef();
        EXPECT_EQ(S_OK, enumerator->BrowseServices());

        std::string log = StandInLog();
        log.erase(std::remove(log.begin(), log.end(), 'E'), log.end());
        EXPECT_EQ(step.expectedLog, log);
        EXPECT_EQ(step.attached ? &enumerator->m_items : nullptr, enumerator->m_pList);
        enumerator->Release();
    }
}

TEST_F(TimedBrowse, CallbackDropsWhatIsNotAResolvedService) {
    ResolvedServiceData data{};
    data.name = L"Service";
    data.address = kAddress;
    const std::string txt = Txt({});
    data.txt = txt.data();
    const BrowserEvent other{kOtherEventType, &data};
    const BrowserEvent withoutRecord{kDNSBrowserEventTypeResolved, nullptr};
    const BrowserEvent resolved{kDNSBrowserEventTypeResolved, &data};
    for (const BrowserEvent* event : {static_cast<const BrowserEvent*>(nullptr), &other,
                                      &withoutRecord, &resolved})
        CEnumIdList::OnBrowserEvent(m_enumerator, nullptr, 0, event);
    ASSERT_EQ(1u, m_enumerator->m_items.size());
    EXPECT_STREQ(L"Service", At(0)->name);
}

// The value of the first "path" key in any case; "/" when there is none or it is empty.
TEST(ExtractTxtPath, FirstPathEntryOrTheRoot) {
    const std::string longValue = "path=/" + std::string(100000, 'a');
    const struct {
        std::string txt;
        std::wstring expected;
    } cases[] = {
        {Txt({"txtvers=1", "path=/admin", "u=x"}), L"/admin"},
        {Txt({"PATH=/admin"}), L"/admin"},
        {Txt({"path=/a=b"}), L"/a=b"},
        {Txt({"path=/first", "path=/second"}), L"/first"},
        {Txt({"path=", "path=/second"}), L"/"},
        {Txt({"path", "path=/second"}), L"/"},
        {Txt({"path=\xc3\xa9t\xc3\xa9"}), L"\u00e9t\u00e9"},
        {Txt({"path=/\xf0\x9f\x98\x80"}), L"/\xD83D\xDE00"},
        {Txt({"k=v", longValue.c_str()}), L"/" + std::wstring(100000, L'a')},
        {Txt({}), L"/"},
        {Txt({"pathx=/x", "xpath=/y", "pat=/z", "=/w"}), L"/"},
        {Txt({" path=/x"}), L"/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(c.expected, ExtractTxtPath(c.txt.c_str()));
    }
    // Invalid UTF-8 becomes replacement characters rather than failing the item.
    const std::wstring invalid = ExtractTxtPath(Txt({"path=/\xff\xfe\xc3"}).c_str());
    ASSERT_FALSE(invalid.empty());
    EXPECT_EQ(L'/', invalid[0]);
}

}  // namespace
