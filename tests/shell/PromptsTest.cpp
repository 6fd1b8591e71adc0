#include "shell/Prompts.h"

#include <QApplication>
#include <QFontMetrics>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

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
