// Message boxes without a window system answer their default button.
#include <gtest/gtest.h>

#include "platform/util/msgbox.h"

namespace tq {
namespace {

TEST(MessageBoxTest, AnswerIsTheDefaultButtonOfTheStyle) {
    EXPECT_EQ(DefaultButtonOf(MB_OK), IDOK);
    EXPECT_EQ(DefaultButtonOf(MB_OKCANCEL), IDOK);
    EXPECT_EQ(DefaultButtonOf(MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(DefaultButtonOf(MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(DefaultButtonOf(MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(DefaultButtonOf(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(DefaultButtonOf(MB_ABORTRETRYIGNORE | MB_DEFBUTTON2), IDRETRY);
    EXPECT_EQ(DefaultButtonOf(MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(DefaultButtonOf(MB_CANCELTRYCONTINUE | MB_DEFBUTTON3), IDCONTINUE);
    // A default past the box's buttons falls back to the first.
    EXPECT_EQ(DefaultButtonOf(MB_OKCANCEL | MB_DEFBUTTON3), IDOK);
    EXPECT_EQ(DefaultButtonOf(MB_YESNO | MB_DEFBUTTON4), IDYES);
    // Button kinds the box does not know read as a plain OK box.
    EXPECT_EQ(DefaultButtonOf(0xF), IDOK);
}

TEST(MessageBoxTest, ShowWritesCaptionAndTextToStandardError) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ShowMessageBox(nullptr, "Save changes?", "Tessaro", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(ShowMessageBox(nullptr, nullptr, nullptr, MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Tessaro: Save changes?\nError: \n");
}

}  // namespace
}  // namespace tq
