// The info box on the offscreen platform: Execute's answers for every button
// set by keyboard, the showing flag, the remembered state in the registry
// (a private one: XDG_CONFIG_HOME points into a temporary folder), the
// layout arithmetic, pictures from resources, and the copy keys.
#include "dialogs/info_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFontMetrics>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWhatsThis>
#include <QtTest/QTest>
#include <functional>

#include "dialogs/info_box_form.h"
#include "framework/application.h"
#include "platform/menu.h"
#include "platform/registry.h"

namespace {

class InfoBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("XDG_CONFIG_HOME", home_.filePath("config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", home_.filePath("xdg").toUtf8());
        app_.SetTitle("Quilvane Test");
    }

    // Runs Execute; `act` runs on the open box from inside its modal loop.
    // A box still open afterwards is closed, so a test never hangs.
    fw::TModalResult Run(TacInfoBox& box, bool check, std::function<void(TacInfoBoxForm&)> act) {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            TacInfoBoxForm* form = InfoBoxForm();
            if (!form)
                return;
            acted = true;
            EXPECT_TRUE(QTest::qWaitForWindowActive(form->Widget()));
            act(*form);
            if (InfoBoxForm() == form && form->ModalResult() == fw::mrNone) {
                ADD_FAILURE() << "the box stayed open";
                form->SetModalResult(99);
            }
        });
        const fw::TModalResult result = box.Execute(check);
        if (result != fw::mrNone) {
            EXPECT_TRUE(acted);
        }
        return result;
    }

    static void Key(TacInfoBoxForm& form, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : form.Widget();
        QTest::keyClick(target, static_cast<Qt::Key>(key), mods);
    }

    // The stored REG_DWORD, or -1 when there is none.
    static long long Stored(const TacInfoBox& box) {
        win::HKEY key{};
        if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, box.RegKey().c_str(), 0, win::KEY_READ,
                               &key) != 0)
            return -1;
        win::DWORD value = 0, type = 0, size = sizeof(value);
        const auto rc = win::RegQueryValueExA(key, box.RegValue().c_str(), nullptr, &type,
                                              reinterpret_cast<win::BYTE*>(&value), &size);
        win::RegCloseKey(key);
        return rc == 0 && type == win::REG_DWORD ? value : -1;
    }

    QTemporaryDir home_;
    fw::TApplication app_;
};

struct KeyCase {
    const char* name;
    TacInfoBoxButtons buttons;
    bool escCancel;
    std::vector<int> keys;
    fw::TModalResult result;
};

class ExecuteKeys : public InfoBoxTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(ExecuteKeys, AnswersTheButtonTheKeysPress) {
    const KeyCase& c = GetParam();
    TacInfoBox box(nullptr);
    box.SetText("Question?");
    box.SetShowCheckBox(false);
    box.SetInfoBoxButtons(c.buttons);
    box.SetEscCancel(c.escCancel);
    EXPECT_EQ(Run(box, false,
                  [&](TacInfoBoxForm& form) {
                      for (int k : c.keys) {
                          if (k & Qt::AltModifier)
                              Key(form, k & ~Qt::AltModifier, Qt::AltModifier);
                          else
                              Key(form, k);
                      }
                  }),
              c.result);
}

constexpr int Alt = Qt::AltModifier;

INSTANTIATE_TEST_SUITE_P(
    Cases, ExecuteKeys,
    ::testing::Values(
        KeyCase{"OkEnter", ibOK, true, {Qt::Key_Return}, fw::mrOk},
        KeyCase{"OkEscape", ibOK, true, {Qt::Key_Escape}, fw::mrOk},
        KeyCase{"OkEscapeIgnoredWithoutEscCancel",
                ibOK,
                false,
                {Qt::Key_Escape, Qt::Key_Space},
                fw::mrOk},
        KeyCase{"OkCancelEnter", ibOKCancel, true, {Qt::Key_Return}, fw::mrOk},
        KeyCase{"OkCancelEscape", ibOKCancel, true, {Qt::Key_Escape}, fw::mrCancel},
        KeyCase{"OkCancelTabSpace", ibOKCancel, true, {Qt::Key_Tab, Qt::Key_Space}, fw::mrCancel},
        KeyCase{"YesNoEnter", ibYesNo, true, {Qt::Key_Return}, fw::mrYes},
        KeyCase{"YesNoEscape", ibYesNo, true, {Qt::Key_Escape}, fw::mrNo},
        KeyCase{"YesNoAltN", ibYesNo, true, {Alt | Qt::Key_N}, fw::mrNo},
        KeyCase{"YesNoEscapeIgnoredWithoutEscCancel",
                ibYesNo,
                false,
                {Qt::Key_Escape, Alt | Qt::Key_Y},
                fw::mrYes},
        KeyCase{"RetryAbortEnter", ibRetryAbort, true, {Qt::Key_Return}, fw::mrRetry},
        KeyCase{"RetryAbortEscape", ibRetryAbort, true, {Qt::Key_Escape}, fw::mrAbort},
        KeyCase{"RetryAbortAltA", ibRetryAbort, true, {Alt | Qt::Key_A}, fw::mrAbort},
        KeyCase{"YesNoCancelEnter", ibYesNoCancel, true, {Qt::Key_Return}, fw::mrYes},
        KeyCase{
            "YesNoCancelEscapeIsCancelNotNo", ibYesNoCancel, true, {Qt::Key_Escape}, fw::mrCancel},
        KeyCase{"YesNoCancelAltN", ibYesNoCancel, true, {Alt | Qt::Key_N}, fw::mrNo},
        KeyCase{"YesNoCancelTabTabSpace",
                ibYesNoCancel,
                true,
                {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Space},
                fw::mrCancel}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InfoBoxTest, ButtonSetsShowTheirCaptionsCentredWithTheirSpacing) {
    TacInfoBox box(nullptr);
    box.SetShowCheckBox(false);
    TacInfoBoxButtonCaptions captions;
    captions.Cancel = "&Stop";
    box.SetButtonCaptions(captions);
    box.SetInfoBoxButtons(ibYesNoCancel);
    Run(box, false, [](TacInfoBoxForm& form) {
        TacButtonPanel& b = *form.btns;
        EXPECT_EQ(b.OKButton->Button()->text().toStdString(), "&Yes");
        EXPECT_EQ(b.CancelButton->Button()->text().toStdString(), "&No");
        EXPECT_EQ(b.CustomButton->Button()->text().toStdString(), "&Stop");
        EXPECT_TRUE(b.CustomButton->Button()->isVisible());
        EXPECT_EQ(b.CancelButton->Left() - b.OKButton->Left(), 75 + 10);
        EXPECT_EQ(b.CustomButton->Left() - b.CancelButton->Left(), 75 + 10);
        EXPECT_NEAR(b.OKButton->Left(), form.ClientWidth() - b.CustomButton->Left() - 75, 1);
        EXPECT_EQ(b.Top(), form.ClientHeight() - 39);
        EXPECT_EQ(b.OKButton->Top(), 7);
        form.SetModalResult(fw::mrOk);
    });
    box.SetInfoBoxButtons(ibOK);
    Run(box, false, [](TacInfoBoxForm& form) {
        TacButtonPanel& b = *form.btns;
        EXPECT_FALSE(b.CancelButton->Button()->isVisible());
        EXPECT_FALSE(b.CustomButton->Button()->isVisible());
        EXPECT_NEAR(b.OKButton->Left(), (form.ClientWidth() - 75) / 2, 1);
        form.SetModalResult(fw::mrOk);
    });
}

TEST_F(InfoBoxTest, ClosingFromTheTitleBarAnswersCancel) {
    TacInfoBox box(nullptr);
    box.SetInfoBoxButtons(ibYesNo);
    EXPECT_EQ(Run(box, false,
                  [](TacInfoBoxForm& form) { form.Perform(win::WM_SYSCOMMAND, win::SC_CLOSE, 0); }),
              fw::mrCancel);
}

TEST_F(InfoBoxTest, ACheckedExecuteShowsNothingWhileAnotherBoxIsOpen) {
    TacInfoBox first(nullptr), second(nullptr);
    first.SetRegValue("First");
    second.SetRegValue("Second");
    EXPECT_FALSE(InfoBoxShowing());
    int inner = -1;
    EXPECT_EQ(Run(first, true,
                  [&](TacInfoBoxForm& form) {
                      EXPECT_TRUE(InfoBoxShowing());
                      EXPECT_EQ(first.Handle(), form.Handle());
                      inner = second.Execute(true);
                      EXPECT_EQ(InfoBoxForm(), &form) << "no second window was made";
                      form.SetModalResult(fw::mrOk);
                  }),
              fw::mrOk);
    EXPECT_EQ(inner, 0);
    EXPECT_FALSE(InfoBoxShowing());
    EXPECT_EQ(first.Handle(), 0u);
    EXPECT_EQ(InfoBoxForm(), nullptr);
    // Once the first is closed, the second shows.
    EXPECT_EQ(Run(second, true, [](TacInfoBoxForm& form) { form.SetModalResult(fw::mrOk); }),
              fw::mrOk);
}

// A box shown unchecked inside another (the upgrader's question during
// About): when it closes, the outer box is still the open one, so a checked
// Execute meanwhile still shows nothing.
TEST_F(InfoBoxTest, AnInnerBoxClosingLeavesTheOuterBoxShowing) {
    TacInfoBox outer(nullptr), inner(nullptr), third(nullptr);
    outer.SetRegValue("Outer");
    inner.SetRegValue("Inner");
    third.SetRegValue("Third");
    int innerResult = -1;
    int thirdResult = -1;
    EXPECT_EQ(Run(outer, true,
                  [&](TacInfoBoxForm& form) {
                      innerResult = Run(inner, false, [&](TacInfoBoxForm& innerForm) {
                          EXPECT_NE(&innerForm, &form);
                          EXPECT_TRUE(InfoBoxShowing());
                          innerForm.SetModalResult(fw::mrOk);
                      });
                      EXPECT_TRUE(InfoBoxShowing());
                      EXPECT_EQ(InfoBoxForm(), &form);
                      // A third box that shows anyway is closed, so the fault
                      // fails the test instead of hanging it.
                      QTimer::singleShot(0, form.Widget(), [outer = &form] {
                          if (TacInfoBoxForm* open = InfoBoxForm(); open && open != outer)
                              open->SetModalResult(fw::mrOk);
                      });
                      thirdResult = third.Execute(true);
                      form.SetModalResult(fw::mrOk);
                  }),
              fw::mrOk);
    EXPECT_EQ(innerResult, fw::mrOk);
    EXPECT_EQ(thirdResult, fw::mrNone) << "a checked box showed over an open one";
    EXPECT_FALSE(InfoBoxShowing());
    EXPECT_EQ(InfoBoxForm(), nullptr);
}

TEST_F(InfoBoxTest, RememberedStateRoundTripsThroughTheRegistry) {
    TacInfoBox box(nullptr);
    box.SetRegKey("Software\\QuilvaneTest\\InfoBox\\");
    EXPECT_EQ(box.RegKey(), "Software\\QuilvaneTest\\InfoBox");
    std::vector<bool> events;
    box.OnCheckBoxChecked = [&](fw::TObject* sender, bool checked) {
        EXPECT_EQ(sender, &box);
        events.push_back(checked);
    };

    // Unchanged state writes nothing: not even the key appears.
    box.SetDontShowAgain(false);
    EXPECT_EQ(Stored(box), -1);

    // The user checks the box: 1 is stored and the box no longer shows.
    Run(box, true, [](TacInfoBoxForm& form) {
        EXPECT_FALSE(form.CheckBox->Checked());
        EXPECT_EQ(form.CheckBox->Caption(), "Don't show me this message again");
        // The hint has no short part: no tooltip, the long part for What's This.
        EXPECT_TRUE(form.CheckBox->Widget()->toolTip().isEmpty());
        EXPECT_EQ(form.CheckBox->Widget()->whatsThis().toStdString(),
                  "Check this box if you don't want this message appear in future.");
        form.CheckBox->CheckBox()->click();
        form.SetModalResult(fw::mrOk);
    });
    EXPECT_EQ(Stored(box), 1);
    EXPECT_EQ(events, std::vector<bool>{true});
    EXPECT_TRUE(box.DontShowAgain());
    EXPECT_EQ(box.Execute(true), fw::mrNone);

    // Shown without the check, it comes up checked; unchecking stores 0 ...
    Run(box, false, [](TacInfoBoxForm& form) {
        EXPECT_TRUE(form.CheckBox->Checked());
        form.CheckBox->CheckBox()->click();
        form.SetModalResult(fw::mrOk);
    });
    EXPECT_EQ(Stored(box), 0);
    EXPECT_EQ(events, (std::vector<bool>{true, false}));
    // ... and the checked Execute shows the box again.
    EXPECT_EQ(Run(box, true, [](TacInfoBoxForm& form) { form.SetModalResult(fw::mrYes); }),
              fw::mrYes);

    // Another value under the same key is a state of its own.
    TacInfoBox other(nullptr);
    other.SetRegKey(box.RegKey());
    other.SetRegValue("Dlg2");
    EXPECT_FALSE(other.DontShowAgain());
}

TEST_F(InfoBoxTest, ARegistryThatCannotBeWrittenReadsAsNotSet) {
    TacInfoBox box(nullptr);
    // The machine's hive lives under XDG_CONFIG_DIRS; make it a file, so no
    // hive can be made there whoever runs the test.
    QFile blocker(home_.filePath("xdg"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    box.SetRegLocation(rlLocalMachine);
    box.SetDontShowAgain(true);
    EXPECT_FALSE(box.DontShowAgain());
    EXPECT_EQ(Run(box, true, [](TacInfoBoxForm& form) { form.SetModalResult(fw::mrOk); }),
              fw::mrOk);
}

struct LayoutFigures {
    int labelLeft, labelWidth, labelHeight, clientWidth, clientHeight;
    int checkLeft, checkTop, checkWidth, checkHeight;
    int pictureLeft, pictureTop;
    bool pictureShown;
    std::string caption;
};

LayoutFigures Figures(TacInfoBoxForm& form) {
    return {form.Text->Left(),    form.Text->Width(),     form.Text->Height(),
            form.ClientWidth(),   form.ClientHeight(),    form.CheckBox->Left(),
            form.CheckBox->Top(), form.CheckBox->Width(), form.CheckBox->Height(),
            form.Picture->Left(), form.Picture->Top(),    form.Picture->Widget()->isVisible(),
            form.Caption()};
}

TEST_F(InfoBoxTest, ShortTextWithCheckBoxIsLaidOutAtTheCheckBoxWidth) {
    TacInfoBox box(nullptr);
    box.SetText("Hi");
    LayoutFigures f{};
    Run(box, false, [&](TacInfoBoxForm& form) {
        f = Figures(form);
        form.SetModalResult(fw::mrOk);
    });
    EXPECT_EQ(f.caption, "Quilvane Test") << "an empty Title shows the application's title";
    EXPECT_EQ(f.labelLeft, 12 * 2 + 32);
    EXPECT_EQ(f.labelWidth, 210);
    EXPECT_EQ(f.clientWidth, 210 + 32 + 12 * 3);
    EXPECT_EQ(f.checkLeft, 56);
    EXPECT_EQ(f.checkWidth, f.clientWidth - 56 - 30);
    EXPECT_EQ(f.checkHeight, 17);
    // The icon's bottom less the button panel is above the text's bottom.
    EXPECT_EQ(f.checkTop, 15 + 12 + f.labelHeight);
    EXPECT_EQ(f.clientHeight, 39 + f.checkTop + 17 + 4);
    EXPECT_FALSE(f.pictureShown);
}

TEST_F(InfoBoxTest, ShortTextWithoutCheckBoxTakesItsNaturalWidth) {
    TacInfoBox box(nullptr);
    box.SetText("Hi");
    box.SetTitle("About");
    box.SetShowCheckBox(false);
    LayoutFigures f{};
    int natural = 0;
    bool checkShown = true;
    Run(box, false, [&](TacInfoBoxForm& form) {
        f = Figures(form);
        natural = QFontMetrics(form.Text->Widget()->font()).horizontalAdvance("Hi");
        checkShown = form.CheckBox->Widget()->isVisible();
        form.SetModalResult(fw::mrOk);
    });
    EXPECT_EQ(f.caption, "About");
    EXPECT_NEAR(f.labelWidth, natural, 1);
    EXPECT_LT(f.labelWidth, 210);
    EXPECT_EQ(f.clientWidth, f.labelWidth + 68);
    EXPECT_FALSE(checkShown);
    EXPECT_EQ(f.checkWidth, 0);
    EXPECT_EQ(f.checkHeight, 0);
    EXPECT_EQ(f.checkTop, 15 + 12 + f.labelHeight);
    EXPECT_EQ(f.clientHeight, 39 + f.checkTop);
}

TEST_F(InfoBoxTest, APictureGoesCentredUnderTheTextAndTheCheckBoxUnderIt) {
    TacInfoBox box(nullptr);
    box.SetText("With a picture");
    QImage picture(100, 40, QImage::Format_RGB32);
    picture.fill(Qt::green);
    box.SetPicture(picture);
    LayoutFigures f{};
    int windowWidth = 0;
    Run(box, false, [&](TacInfoBoxForm& form) {
        f = Figures(form);
        windowWidth = form.Width();
        form.SetModalResult(fw::mrOk);
    });
    EXPECT_TRUE(f.pictureShown);
    EXPECT_EQ(f.pictureLeft, windowWidth / 2 - 50);
    EXPECT_EQ(f.pictureTop, 12 + f.labelHeight + 15);
    EXPECT_EQ(f.checkTop, f.pictureTop + 40 + 15);
    EXPECT_EQ(f.clientHeight, 39 + f.checkTop + 17 + 4);
}

TEST_F(InfoBoxTest, PicturesAndIconsComeFromResourcesByNumberOrName) {
    TacInfoBox box(nullptr);
    box.SetShowCheckBox(false);
    box.SetPictureResID(12);  // a JPEG resource: no bitmap of that number
    box.SetIconResID("testico");
    QSize picture, icon;
    bool shown = false;
    Run(box, false, [&](TacInfoBoxForm& form) {
        picture = form.Picture->Picture().size();
        icon = form.Icon->Picture().size();
        shown = form.Picture->Widget()->isVisible();
        form.SetModalResult(fw::mrOk);
    });
    EXPECT_EQ(picture, QSize(64, 48));
    EXPECT_TRUE(shown);
    EXPECT_EQ(icon, QSize(16, 16));

    // A number names "#7": the bitmap serves as the icon. Missing resources
    // leave the built-in icon and an empty picture, and no error.
    box.SetIconResID("7");
    box.SetPictureResID(99);
    Run(box, false, [&](TacInfoBoxForm& form) {
        EXPECT_EQ(form.Icon->Picture().size(), QSize(8, 6));
        EXPECT_TRUE(form.Picture->Picture().isNull());
        form.SetModalResult(fw::mrOk);
    });
    box.SetIconResID("NOSUCHICON");
    Run(box, false, [&](TacInfoBoxForm& form) {
        EXPECT_EQ(form.Icon->Picture().size(), QSize(32, 32)) << "the built-in icon";
        form.SetModalResult(fw::mrOk);
    });
}

TEST_F(InfoBoxTest, CopyKeysPutTheMessageWithoutMarkupOnTheClipboard) {
    TacInfoBox box(nullptr);
    box.SetText("Quilvane\r\nVersion [b]1.0[DEF] is [red]here[]");
    for (int key : {int(Qt::Key_C), int(Qt::Key_Insert)}) {
        QApplication::clipboard()->setText("before");
        Run(box, false, [&](TacInfoBoxForm& form) {
            Key(form, key, Qt::ControlModifier);
            form.SetModalResult(fw::mrOk);
        });
        EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
                  "Quilvane\r\nVersion 1.0 is here");
    }
}

TEST_F(InfoBoxTest, SystemMenuHasWhatsThisAfterASeparatorAtPosition7) {
    TacInfoBox box(nullptr);
    Run(box, false, [](TacInfoBoxForm& form) {
        win::HMENU menu = win::GetSystemMenu(form.Handle(), win::FALSE);
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(win::GetMenuItemCount(menu), 9);
        EXPECT_EQ(win::GetMenuString(menu, 6, win::MF_BYPOSITION), "&Close\tAlt+F4");
        EXPECT_TRUE(win::GetMenuState(menu, 7, win::MF_BYPOSITION) & win::MF_SEPARATOR);
        EXPECT_EQ(win::GetMenuString(menu, 8, win::MF_BYPOSITION), "&What's This?");
        const win::UINT help = win::GetMenuItemID(menu, 8);
        EXPECT_FALSE(
            win::GetMenuState(menu, static_cast<win::UINT>(win::SC_CLOSE), win::MF_BYCOMMAND) &
            win::MF_GRAYED);
        // Choosing it starts What's This: a click on a control shows its help.
        form.Perform(win::WM_SYSCOMMAND, help, 0);
        EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
        QWhatsThis::leaveWhatsThisMode();
        form.SetModalResult(fw::mrOk);
    });
}

TEST_F(InfoBoxTest, WithoutEscCancelCloseIsGreyedAndTheTitleBarCannotClose) {
    TacInfoBox box(nullptr);
    box.SetEscCancel(false);
    box.SetInfoBoxButtons(ibYesNo);
    EXPECT_EQ(Run(box, false,
                  [](TacInfoBoxForm& form) {
                      win::HMENU menu = win::GetSystemMenu(form.Handle(), win::FALSE);
                      EXPECT_TRUE(win::GetMenuState(menu, static_cast<win::UINT>(win::SC_CLOSE),
                                                    win::MF_BYCOMMAND) &
                                  win::MF_GRAYED);
                      form.Perform(win::WM_SYSCOMMAND, win::SC_CLOSE, 0);
                      Key(form, Qt::Key_Escape);
                      EXPECT_EQ(form.ModalResult(), fw::mrNone) << "still open";
                      Key(form, Qt::Key_N, Qt::AltModifier);
                  }),
              fw::mrNo);
}

TEST(SystemSoundAlias, NamesTheRegisteredAliases) {
    EXPECT_EQ(SystemSoundAlias(stNoSound), nullptr);
    EXPECT_STREQ(SystemSoundAlias(stAsterisk), "SystemAsterisk");
    EXPECT_STREQ(SystemSoundAlias(stDefaultSound), ".Default");
    EXPECT_STREQ(SystemSoundAlias(stNewMailNotification), "MailBeep");
    EXPECT_STREQ(SystemSoundAlias(stStartWindows), "SystemStart");
}

}  // namespace
