#include "discovery/TimedBrowse.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <string>
#include <thread>

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

ServiceAddress Address(uint32_t ipv4, uint16_t port) {
    ServiceAddress address{};
    address.family = 2;
    address.ipv4Address = ipv4;
    address.port = port;
    return address;
}

void Queue(const wchar_t* name, const std::string& txt, uint32_t delayMs = 0,
           uint32_t type = kDNSBrowserEventTypeResolved) {
    ServiceAddress address = Address(0xC0000201, 80);
    StandInQueueEvent(type, name, &address, txt.data(), txt.size(), delayMs);
}

class TimedBrowse : public ::testing::Test {
protected:
    void SetUp() override { StandInReset(); }
    void TearDown() override { EXPECT_FALSE(StandInDeliveryFault()); }

    std::wstring NameAt(const CEnumIdList& enumerator, size_t index) {
        return GetServiceName(enumerator.m_items.at(index));
    }
};

// An enumerator as EnumObjects makes it, released at the end of the scope.
class Enumerator {
public:
    Enumerator() {
        EXPECT_EQ(S_OK, CreateObject(&m_object));
        m_object->AddRef();
    }
    ~Enumerator() { m_object->Release(); }
    CEnumIdList& operator*() { return *m_object; }
    CEnumIdList* operator->() { return m_object; }

private:
    CComObject<CEnumIdList>* m_object = nullptr;
};

TEST_F(TimedBrowse, ListsResolvedServicesInArrivalOrderWithDuplicates) {
    Queue(L"Printer", Txt({"path=/status"}));
    Queue(L"Camera", Txt({}), 20);
    Queue(L"Ignored kind", Txt({}), 0, kOtherEventType);
    Queue(L"Printer", Txt({"path=/status"}), 20);

    Enumerator holder;
    CEnumIdList& enumerator = *holder;
    DWORD started = GetTickCount();
    EXPECT_EQ(S_OK, enumerator.BrowseServices());
    EXPECT_GE(GetTickCount() - started, 450u);

    EXPECT_EQ("ICSEEEETRF", StandInLog());
    ASSERT_EQ(3u, enumerator.m_items.size());
    EXPECT_EQ(L"Printer", NameAt(enumerator, 0));
    EXPECT_EQ(L"Camera", NameAt(enumerator, 1));
    EXPECT_EQ(L"Printer", NameAt(enumerator, 2));
    EXPECT_STREQ(L"/status", AsServiceItem(enumerator.m_items[0])->path);
    EXPECT_STREQ(L"/", AsServiceItem(enumerator.m_items[1])->path);
    EXPECT_EQ(0xC0000201u, AsServiceItem(enumerator.m_items[1])->address.ipv4Address);
    EXPECT_EQ(80, AsServiceItem(enumerator.m_items[1])->address.port);

    EXPECT_EQ(&enumerator.m_items, enumerator.m_pList);
    EXPECT_TRUE(enumerator.m_pos == enumerator.m_items.cbegin());
}

TEST_F(TimedBrowse, EventsAfterTheWaitAreNeverDelivered) {
    Queue(L"In time", Txt({}), 100);
    Queue(L"Too late", Txt({}), 900);

    Enumerator holder;
    CEnumIdList& enumerator = *holder;
    EXPECT_EQ(S_OK, enumerator.BrowseServices());

    EXPECT_EQ("ICSETRF", StandInLog());
    ASSERT_EQ(1u, enumerator.m_items.size());
    EXPECT_EQ(L"In time", NameAt(enumerator, 0));
}

struct FailingStep {
    StandInCall call;
    bool writeHandle;
    const char* expectedLog;
    bool attached;
};

TEST_F(TimedBrowse, EveryFailingStepReportsSuccessAndCleansUp) {
    const FailingStep steps[] = {
        {kCallInitialize, false, "I", false},
        {kCallCreate, false, "ICF", false},
        {kCallCreate, true, "ICRF", false},
        {kCallStart, false, "ICSRF", false},
        {kCallStop, false, "ICSTRF", true},
        {kCallRelease, false, "ICSTRF", true},
        {kCallFinalize, false, "ICSTRF", true},
    };
    for (const FailingStep& step : steps) {
        SCOPED_TRACE(step.expectedLog);
        StandInReset();
        StandInFailCall(step.call, kDNSBadStateErr, step.writeHandle);
        Queue(L"Seen only when the search ran", Txt({}));

        Enumerator holder;
        CEnumIdList& enumerator = *holder;
        EXPECT_EQ(S_OK, enumerator.BrowseServices());

        std::string log = StandInLog();
        log.erase(std::remove(log.begin(), log.end(), 'E'), log.end());
        EXPECT_EQ(step.expectedLog, log);
        EXPECT_EQ(step.attached, enumerator.m_pList == &enumerator.m_items);
        if (!step.attached) {
            EXPECT_EQ(nullptr, enumerator.m_pList);
        }
    }
}

TEST_F(TimedBrowse, CallbackDropsWhatIsNotAResolvedService) {
    Enumerator holder;
    CEnumIdList& enumerator = *holder;
    ResolvedServiceData data{};
    data.name = L"Service";
    data.address = Address(0xC0000201, 80);
    const std::string txt = Txt({});
    data.txt = txt.data();

    const BrowserEvent other{kOtherEventType, &data};
    const BrowserEvent withoutRecord{kDNSBrowserEventTypeResolved, nullptr};
    const BrowserEvent resolved{kDNSBrowserEventTypeResolved, &data};
    CEnumIdList::OnBrowserEvent(&enumerator, nullptr, 0, nullptr);
    CEnumIdList::OnBrowserEvent(&enumerator, nullptr, 0, &other);
    CEnumIdList::OnBrowserEvent(&enumerator, nullptr, 0, &withoutRecord);
    EXPECT_TRUE(enumerator.m_items.empty());

    // The library's thread, not the browsing one, delivers in real use.
    std::thread library([&] { CEnumIdList::OnBrowserEvent(&enumerator, nullptr, 0, &resolved); });
    library.join();
    ASSERT_EQ(1u, enumerator.m_items.size());
    EXPECT_EQ(L"Service", NameAt(enumerator, 0));
}

TEST(ExtractTxtPath, FindsThePathEntryWhereverItStands) {
    EXPECT_EQ(L"/x", ExtractTxtPath(Txt({"path=/x"}).c_str()));
    EXPECT_EQ(L"/admin", ExtractTxtPath(Txt({"txtvers=1", "path=/admin", "u=x"}).c_str()));
    EXPECT_EQ(L"/admin", ExtractTxtPath(Txt({"Path=/admin"}).c_str()));
    EXPECT_EQ(L"/admin", ExtractTxtPath(Txt({"PATH=/admin"}).c_str()));
    EXPECT_EQ(L"/a=b", ExtractTxtPath(Txt({"path=/a=b"}).c_str()));
    // Only a key's first occurrence counts.
    EXPECT_EQ(L"/first", ExtractTxtPath(Txt({"path=/first", "path=/second"}).c_str()));
    EXPECT_EQ(L"/", ExtractTxtPath(Txt({"path=", "path=/second"}).c_str()));
    EXPECT_EQ(L"/", ExtractTxtPath(Txt({"path", "path=/second"}).c_str()));
    EXPECT_EQ(L"\u00e9t\u00e9", ExtractTxtPath(Txt({"path=\xc3\xa9t\xc3\xa9"}).c_str()));
}

TEST(ExtractTxtPath, FallsBackToTheRootForAnythingElse) {
    EXPECT_EQ(L"/", ExtractTxtPath(Txt({}).c_str()));
    EXPECT_EQ(L"/", ExtractTxtPath(Txt({"txtvers=1"}).c_str()));
    EXPECT_EQ(L"/", ExtractTxtPath(Txt({"pathx=/x", "xpath=/y", "pat=/z", "=/w"}).c_str()));
    EXPECT_EQ(L"/", ExtractTxtPath(Txt({"path"}).c_str()));
    EXPECT_EQ(L"/", ExtractTxtPath(Txt({"path="}).c_str()));
    EXPECT_EQ(L"/", ExtractTxtPath(Txt({" path=/x"}).c_str()));
}

TEST(ExtractTxtPath, HostileValuesStayBounded) {
    // Invalid UTF-8 becomes replacement characters rather than failing the item.
    const std::wstring invalid = ExtractTxtPath(Txt({"path=/\xff\xfe\xc3"}).c_str());
    ASSERT_FALSE(invalid.empty());
    EXPECT_EQ(L'/', invalid[0]);

    const std::string longValue = "path=/" + std::string(100000, 'a');
    const std::wstring path = ExtractTxtPath(Txt({"k=v", longValue.c_str()}).c_str());
    EXPECT_EQ(100001u, path.size());

    // The item keeps at most 255 units of it, never a lone high surrogate.
    std::string surrogates = "path=//";
    for (int i = 0; i < 200; ++i) surrogates += "\xf0\x9f\x98\x80";
    const std::wstring pairs = ExtractTxtPath(Txt({surrogates.c_str()}).c_str());
    ServiceAddress address = Address(0xC0000201, 80);
    LPITEMIDLIST item = nullptr;
    ASSERT_EQ(S_OK, CreateServiceItemId(L"n", &address, pairs.c_str(), &item));
    const std::wstring stored = AsServiceItem(item)->path;
    EXPECT_EQ(254u, stored.size());
    EXPECT_TRUE(IS_LOW_SURROGATE(stored.back()));
    CoTaskMemFree(item);
}

}  // namespace
