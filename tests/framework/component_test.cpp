// The component model: ownership, destruction order, removal notices, names.
#include "framework/component.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "framework/exceptions.h"

namespace fw {
namespace {

std::vector<std::string> g_log;
// Labels by address: a component announced from ~TComponent is no Probe any more.
std::map<const TComponent*, std::string> g_labels;

// Logs its destruction and every removal notice it receives about others.
// Like a form, it frees its components while it is still whole.
class Probe : public TComponent {
public:
    Probe(TComponent* owner, const std::string& label) : TComponent(owner) {
        g_labels[this] = label;
    }
    ~Probe() override {
        Destroying();
        DestroyComponents();
        g_log.push_back("~" + g_labels[this]);
    }
    TComponent* watched = nullptr;

protected:
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        if (op == opRemove && c != this) {
            g_log.push_back(g_labels[this] + " hears " + g_labels[c] + " go");
            if (c == watched)
                watched = nullptr;
        }
    }
};

class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override { g_log.clear(); }
};

TEST_F(ComponentTest, OwnerFreesOwnedComponentsNewestFirstAndTellsTheRest) {
    auto* owner = new Probe(nullptr, "owner");
    new Probe(owner, "a");
    auto* b = new Probe(owner, "b");
    new Probe(owner, "c");
    // An outsider that refers to b asks for its removal notice.
    Probe outsider(nullptr, "outsider");
    outsider.watched = b;
    outsider.FreeNotification(b);
    EXPECT_EQ(owner->ComponentCount(), 3);

    g_log.clear();
    delete owner;
    // Each component, as it dies, is announced to its siblings and its owner,
    // and, once gone, to those that asked for the notice.
    const std::vector<std::string> expected = {"b hears c go",
                                               "a hears c go",
                                               "owner hears c go",
                                               "~c",
                                               "a hears b go",
                                               "owner hears b go",
                                               "~b",
                                               "outsider hears b go",
                                               "owner hears a go",
                                               "~a",
                                               "~owner"};
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(outsider.watched, nullptr);
}

TEST_F(ComponentTest, FreeNotificationIsForgottenWhenTheAskerDiesFirst) {
    Probe target(nullptr, "target");
    {
        Probe asker(nullptr, "asker");
        asker.FreeNotification(&target);
    }
    g_log.clear();
    // Under the sanitizers a stale link would be a use after free here.
    target.Destroying();
    EXPECT_TRUE(target.ComponentState().Contains(csDestroying));
}

TEST_F(ComponentTest, DeletingAnOwnedComponentLeavesItsOwner) {
    Probe owner(nullptr, "owner");
    new Probe(&owner, "a");
    auto* b = new Probe(&owner, "b");
    g_log.clear();
    delete b;
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"~b", "a hears b go", "owner hears b go"}));
}

TEST_F(ComponentTest, DestroyingMarksTheWholeTreeAndNeverDesigning) {
    Probe owner(nullptr, "owner");
    auto* child = new Probe(&owner, "child");
    auto* grandchild = new Probe(child, "grandchild");
    EXPECT_TRUE(grandchild->ComponentState().Empty());
    owner.Destroying();
    EXPECT_TRUE(child->IsDestroying());
    EXPECT_TRUE(grandchild->IsDestroying());
    EXPECT_FALSE(grandchild->ComponentState().Contains(csDesigning));
}

TEST_F(ComponentTest, NamesAreUniqueAmongAnOwnersComponentsWithoutRegardToCase) {
    Probe owner(nullptr, "owner");
    auto* a = new Probe(&owner, "a");
    auto* b = new Probe(&owner, "b");
    a->SetName("Timer1");
    EXPECT_THROW(b->SetName("TIMER1"), EComponentError);
    EXPECT_EQ(b->Name(), "");
    b->SetName("Ping1");
    EXPECT_EQ(owner.FindComponent("ping1"), b);
    // Another owner's components may share the name.
    Probe other(nullptr, "other");
    auto* c = new Probe(&other, "c");
    EXPECT_NO_THROW(c->SetName("Timer1"));
    EXPECT_THROW(owner.InsertComponent(c), EComponentError);
    EXPECT_EQ(c->Owner(), &other);
}

}  // namespace
}  // namespace fw
