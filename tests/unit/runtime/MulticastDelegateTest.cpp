#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/TBNMulticastDelegate.h"

using namespace lumvane;

namespace {

struct Listener {
    virtual ~Listener() = default;
    virtual std::string name() const = 0;
};

struct Named : Listener {
    explicit Named(std::string n) : n_(std::move(n)) {}
    std::string name() const override { return n_; }
    std::string n_;
};

class MulticastFixture {
  public:
    MulticastFixture() {
        for (const char* n : {"A", "B", "C", "D"}) objects[n] = std::make_shared<Named>(n);
    }
    std::vector<std::string> invoke() {
        std::vector<std::string> called;
        multicast.invoke([&](const std::shared_ptr<Listener>& l) { called.push_back(l->name()); });
        return called;
    }
    std::vector<std::string> listed() const {
        std::vector<std::string> out;
        for (const auto& box : multicast.delegates()) {
            auto v = box->value();
            out.push_back(v ? v->name() : "<gone>");
        }
        return out;
    }
    std::map<std::string, std::shared_ptr<Listener>> objects;
    TBNMulticastDelegate<Listener> multicast;
};

TEST(TBNMulticastDelegate, AddRemoveDestroyAndInvoke) {
    struct Case {
        const char* name;
        std::vector<std::string> add;
        std::vector<std::string> remove;
        std::vector<std::string> destroy;
        std::vector<std::string> called;
        std::vector<std::string> remaining;
    };
    const Case cases[] = {
        {"called in order", {"A", "B", "C"}, {}, {}, {"A", "B", "C"}, {"A", "B", "C"}},
        {"added twice, called twice", {"A", "A"}, {}, {}, {"A", "A"}, {"A", "A"}},
        {"removed once of twice", {"A", "B", "A"}, {"A"}, {}, {"B", "A"}, {"B", "A"}},
        {"first destroyed", {"A", "B"}, {}, {"A"}, {"B"}, {"B"}},
        {"first two destroyed", {"A", "B", "C"}, {}, {"A", "B"}, {"C"}, {"C"}},
        {"outer two destroyed", {"A", "B", "C"}, {}, {"A", "C"}, {"B"}, {"B"}},
        {"all destroyed", {"A", "B"}, {}, {"A", "B"}, {}, {}},
        {"remove never added", {"A", "B"}, {"C"}, {}, {"A", "B"}, {"A", "B"}},
        {"empty", {}, {}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MulticastFixture f;
        for (const auto& n : c.add) f.multicast.add(f.objects[n]);
        for (const auto& n : c.remove) f.multicast.remove(f.objects[n]);
        for (const auto& n : c.destroy) f.objects.erase(n);
        EXPECT_EQ(f.invoke(), c.called);
        EXPECT_EQ(f.listed(), c.remaining);
    }
}

TEST(TBNMulticastDelegate, DestroyedEntryStaysInertUntilTheNextInvoke) {
    MulticastFixture f;
    f.multicast.add(f.objects["A"]);
    f.multicast.add(f.objects["B"]);
    f.objects.erase("A");
    f.multicast.remove(f.objects["B"]);  // finds B, cannot find the gone A
    EXPECT_EQ(f.listed(), std::vector<std::string>{"<gone>"});
    EXPECT_TRUE(f.invoke().empty());
    EXPECT_TRUE(f.listed().empty());
}

TEST(TBNMulticastDelegate, ChangesDuringInvokeAffectTheNextWalkOnly) {
    MulticastFixture f;
    f.multicast.add(f.objects["A"]);
    f.multicast.add(f.objects["B"]);
    f.multicast.add(f.objects["C"]);
    std::vector<std::string> called;
    f.multicast.invoke([&](const std::shared_ptr<Listener>& l) {
        called.push_back(l->name());
        if (l->name() == "A") {
            f.multicast.add(f.objects["D"]);     // not called in this walk
            f.multicast.remove(f.objects["C"]);  // still called in this walk
        }
    });
    EXPECT_EQ(called, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(f.invoke(), (std::vector<std::string>{"A", "B", "D"}));
}

TEST(TBNMulticastDelegate, PruningDuringInvokeKeepsEntriesAddedMeanwhile) {
    MulticastFixture f;
    f.multicast.add(f.objects["A"]);
    f.multicast.add(f.objects["B"]);
    f.multicast.add(f.objects["A"]);
    f.objects.erase("B");
    bool added = false;
    f.multicast.invoke([&](const std::shared_ptr<Listener>& l) {
        if (l->name() == "A" && !added) {
            f.multicast.add(f.objects["C"]);
            added = true;
        }
    });
    EXPECT_EQ(f.listed(), (std::vector<std::string>{"A", "A", "C"}));
}

TEST(TBNMulticastDelegate, NullDelegateIsRefusedOnAddAndIgnoredOnRemove) {
    TBNMulticastDelegate<Listener> multicast;
    EXPECT_THROW(multicast.add(nullptr), std::invalid_argument);
    multicast.remove(nullptr);
    EXPECT_TRUE(multicast.delegates().empty());
}

TEST(TBNWeak, EqualityIsIdentity) {
    auto a = std::make_shared<Named>("x");
    auto b = std::make_shared<Named>("x");
    EXPECT_TRUE(TBNWeak<Named>(a) == TBNWeak<Named>(a));
    EXPECT_FALSE(TBNWeak<Named>(a) == TBNWeak<Named>(b));
    EXPECT_TRUE(TBNWeak<Named>() == TBNWeak<Named>());
    EXPECT_FALSE(TBNWeak<Named>(a) == TBNWeak<Named>());
    TBNWeak<Named> gone(b);
    b.reset();
    EXPECT_EQ(gone.value(), nullptr);
    EXPECT_TRUE(gone == TBNWeak<Named>());
}

}  // namespace
