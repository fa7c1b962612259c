// TacComponent: the owner reference follows changes and removals, the owner
// form is found only on forms, and restoring brings a minimised form back.
#include "shell/ac_component.h"

#include <gtest/gtest.h>

#include "platform/window_pos.h"
#include "shell_fixture.h"

namespace {

using shell_test::ShellTest;

TEST_F(ShellTest, OwnerFormIsTheOwnerOnlyWhenItIsAForm) {
    auto* onForm = new TacComponent(form);
    EXPECT_EQ(onForm->OwnerReference(), form);
    EXPECT_EQ(onForm->OwnerForm(), form);

    auto* plain = new fw::TComponent(form);
    auto* onPlain = new TacComponent(plain);
    EXPECT_EQ(onPlain->OwnerReference(), plain);
    EXPECT_EQ(onPlain->OwnerForm(), nullptr);
    onPlain->RestoreOwnerForm();  // without an owner form: nothing happens
}

TEST_F(ShellTest, OwnerReferenceIsClearedWhenTheReferencedComponentDies) {
    auto* c = new TacComponent(form);
    auto* other = fw::TForm::Create<shell_test::PlainForm>(&app);
    c->SetOwnerReferenceForward(other);
    EXPECT_EQ(c->OwnerForm(), other);
    delete other;
    EXPECT_EQ(c->OwnerReference(), nullptr);
    EXPECT_EQ(c->OwnerForm(), nullptr);
    c->SetOwnerReference(form);
    EXPECT_EQ(c->OwnerForm(), form);
}

TEST_F(ShellTest, RestoreOwnerFormShowsAHiddenOrMinimisedFormRestored) {
    auto* c = new TacComponent(form);
    ASSERT_FALSE(form->Widget()->isVisible());
    c->RestoreOwnerForm();
    EXPECT_TRUE(form->Widget()->isVisible());
    EXPECT_TRUE(win::IsWindowVisible(form->Handle()));

    win::ShowWindow(form->Handle(), win::SW_MINIMIZE);
    ASSERT_TRUE(win::IsIconic(form->Handle()));
    c->RestoreOwnerForm();
    EXPECT_FALSE(win::IsIconic(form->Handle()));
    EXPECT_FALSE(form->Widget()->isMinimized());
    EXPECT_TRUE(form->Visible());
}

}  // namespace
