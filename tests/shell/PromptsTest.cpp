#include "shell/Prompts.h"

#include <QApplication>
#include <QFontMetrics>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(Prompts, ScriptedAnswersAreUsedInOrderAndRecorded)
{
    Prompts::setNextAnswer(PromptAnswer::No);
    EXPECT_EQ(Prompts::message(nullptr, u"Clear all files?"_s, PromptIcon::Question, PromptButtons::YesNo,
                               u"Confirmation"_s),
              PromptAnswer::No);
    // Without a pre-answer the first button is taken.
    EXPECT_EQ(Prompts::message(nullptr, u"No files to post."_s), PromptAnswer::Ok);
    EXPECT_EQ(Prompts::message(nullptr, u"Sure?"_s, PromptIcon::Question, PromptButtons::YesNo), PromptAnswer::Yes);

    ASSERT_EQ(Prompts::shown().size(), 3);
    const ShownPrompt &first = Prompts::shown()[0];
    EXPECT_EQ(first.title, u"Confirmation"_s);
    EXPECT_EQ(first.text, u"Clear all files?"_s);
    EXPECT_EQ(first.icon, PromptIcon::Question);
    EXPECT_EQ(first.buttons, PromptButtons::YesNo);
    EXPECT_EQ(Prompts::shown()[1].title, u"Tessaly Poster (Beta 2)"_s);
    EXPECT_EQ(Prompts::shown()[1].icon, PromptIcon::Exclamation);
}

TEST(Prompts, PickersAndInputs)
{
    Prompts::setNextFileNames({u"/a"_s, u"/b"_s});
    Prompts::setNextInput(u"typed"_s);
    EXPECT_EQ(Prompts::openFileNames(nullptr, u"Add"_s, u"/"_s), (QStringList{u"/a"_s, u"/b"_s}));
    EXPECT_EQ(Prompts::input(nullptr, u"T"_s, u"P"_s), std::optional<QString>(u"typed"_s));
    EXPECT_EQ(Prompts::input(nullptr, u"T"_s, u"P"_s), std::nullopt);
    EXPECT_EQ(Prompts::existingFolder(nullptr, u"Folder"_s, u"/"_s), QString());
    EXPECT_FALSE(Prompts::headlessFailure());
}

TEST(Prompts, HeadlessNeverWaitsAndMarksTheRunFailed)
{
    Prompts::setMode(PromptMode::Headless);
    testing::internal::CaptureStderr();
    const PromptAnswer a = Prompts::message(nullptr, u"Line one\r\nline two"_s, PromptIcon::Question,
                                            PromptButtons::YesNo);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(a, PromptAnswer::No);
    EXPECT_EQ(err, "Tessaly Poster (Beta 2): Line one\nline two\n");
    EXPECT_TRUE(Prompts::headlessFailure());
}

TEST(Prompts, BoxesAreWideEnoughForTheirWholeTitle)
{
    // The real boxes, closed as soon as they show.
    Prompts::setMode(PromptMode::Interactive);
    const QString title = u"Posting in Progress, a title longer than its text"_s;
    QFont bold = QApplication::font();
    bold.setBold(true);
    const int needed = QFontMetrics(bold).horizontalAdvance(title);
    QList<int> widths;
    const auto closeWhenShown = [&widths] {
        QTimer::singleShot(200, [&widths] {
            if (QWidget *box = QApplication::activeModalWidget()) {
                widths << box->width();
                box->close();
            }
        });
    };
    closeWhenShown();
    Prompts::message(nullptr, u"Stop?"_s, PromptIcon::Question, PromptButtons::YesNo, title);
    closeWhenShown();
    Prompts::input(nullptr, title, u"Name:"_s);
    Prompts::setMode(PromptMode::Scripted);
    ASSERT_EQ(widths.size(), 2);
    for (int w : widths)
        EXPECT_GT(w, needed);
}
