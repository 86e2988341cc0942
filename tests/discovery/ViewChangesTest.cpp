// The watch's decisions: what an open view is told, step by step, and what never.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "discovery/ViewChanges.h"

namespace {

// "A80": service A on port 80.
ServiceState State(const std::string& text) {
    ServiceState state;
    state.name = std::wstring(1, static_cast<wchar_t>(text[0]));
    state.ipv4 = 0xC0000201;
    state.port = static_cast<uint16_t>(std::stoi(text.substr(1)));
    state.path = L"/";
    return state;
}

std::string Describe(const ViewChange& change) {
    auto item = [](const ServiceState& state) { return std::string(1, static_cast<char>(state.name[0])); };
    if (change.kind == ViewChange::kCreate) return "+" + item(change.to) + std::to_string(change.to.port);
    if (change.kind == ViewChange::kDelete) return "-" + item(change.from);
    return "~" + item(change.from) + std::to_string(change.from.port) + ">" + std::to_string(change.to.port);
}

// Steps, by spaces: L:A80,B81 the view's listing ends (L: an empty one); R:A80 resolved;
// X:A removed; B an enumeration begins; H the changes so far are handed out to be told;
// U those handed out are found superseded untold; D they and the others are delivered (a
// beginning enumeration takes back only those not handed out). Gives what was delivered.
std::string Play(const std::string& steps) {
    ViewChanges changes;
    std::vector<ViewChange> pending, handedOut;
    std::string told;
    auto deliver = [&] {
        handedOut.insert(handedOut.end(), pending.begin(), pending.end());
        for (const ViewChange& change : handedOut) told += (told.empty() ? "" : " ") + Describe(change);
        pending.clear();
        handedOut.clear();
    };
    std::istringstream words(steps);
    std::string step;
    while (words >> step) {
        std::vector<ViewChange> got;
        if (step == "B") changes.BeginEnumeration(pending);
        if (step == "D") deliver();
        if (step == "H") handedOut.swap(pending);
        if (step == "U") got = changes.Superseded(handedOut);
        if (step[0] == 'R') got = changes.OnResolved(State(step.substr(2)));
        if (step[0] == 'X') got = changes.OnRemoved(std::wstring(1, static_cast<wchar_t>(step[2])));
        if (step[0] == 'L') {
            std::vector<ServiceState> listed;
            std::istringstream items(step.substr(2));
            for (std::string item; std::getline(items, item, ',');) listed.push_back(State(item));
            got = changes.EndEnumeration(listed);
        }
        pending.insert(pending.end(), got.begin(), got.end());
    }
    deliver();
    return told;
}

TEST(ViewChanges, TellsEachChangeOnceAndNothingTheViewHas) {
    const struct {
        const char* what;
        const char* steps;
        const char* told;
    } rows[] = {
        {"a listed service heard again", "L:A80 R:A80 R:A80", ""},
        {"a new service, heard twice", "L:A80 R:C80 R:C80", "+C80"},
        {"heard before the first listing, which missed it", "R:C80 R:A80 L:A80", "+C80"},
        {"a service that moved", "L:A80 R:A81 R:A81", "~A80>81"},
        {"one that left, twice, and one never listed", "L:A80 X:A X:A X:Z", "-A"},
        {"not again after a refresh that lists it", "L:A80 R:C80 D B L:A80,C80", "+C80"},
        {"taken back by a refresh that lists it", "L:A80 R:C80 B L:A80,C80", ""},
        {"a refresh that missed one the watch holds", "L:A80 R:C80 D B L:A80", "+C80 +C80"},
        {"left during a refresh that still lists it", "L:A80 R:A80 B X:A L:A80", "-A"},
        {"a delete taken back by a refresh that lists it", "L:A80 R:A80 X:A B L:A80", "-A"},
        {"left and came back during a refresh", "L:A80 B X:A R:A80 L:A80", ""},
        {"moved during a refresh", "L:A80 B R:A81 L:A80", "~A80>81"},
        {"back after leaving", "L:A80 X:A D R:A80", "-A +A80"},
        {"handed out as a refresh that lists it begins", "L:A80 R:C80 H B U L:A80,C80", ""},
        {"handed out as a refresh that misses it ends", "L:A80 R:C80 H B L:A80 U", "+C80"},
        {"left, handed out, listed by a refresh", "L:A80 R:A80 X:A H B L:A80 U", "-A"},
        {"left, handed out, not listed by a refresh", "L:A80 R:A80 X:A H B L: U", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(Play(row.steps), row.told) << row.what;
}

}  // namespace
