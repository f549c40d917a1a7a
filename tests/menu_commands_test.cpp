// The pop-up menu's four commands: exact texts, titles and the download step.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_platform.h"
#include "window/messages.h"
#include "window/screen_keyboard.h"

namespace vimbrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::u16string> Lines(std::u16string_view text) {
    std::vector<std::u16string> lines(1);
    for (char16_t c : text) {
        if (c == u'\n')
            lines.emplace_back();
        else
            lines.back() += c;
    }
    return lines;
}

class MenuCommandsTest : public ::testing::Test {
protected:
    RecordingPlatform platform;
    ScreenKeyboard keyboard{platform};
};

TEST_F(MenuCommandsTest, AboutShowsFiveUsageLinesUnderTheMakersHost) {
    keyboard.MnuAbout_Click();
    ASSERT_EQ(platform.messages.size(), 1u);
    const auto& [title, text] = platform.messages[0];
    EXPECT_EQ(title, u"Vimbrel" + std::u16string(kMakerHost));
    EXPECT_EQ(text.find(u'\r'), std::u16string::npos);
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 5u);
    const char16_t* starts[] = {u"1\uFF0E气球提示\uFF1A", u"2\uFF0E指法提示\uFF1A", u"3\uFF0E高亮提示\uFF1A",
                                u"4\uFF0E换档提示\uFF1A", u"5\uFF0E随手移动\uFF1A"};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(lines[i].rfind(starts[i], 0), 0u) << "line " << i + 1;
    // The fourth line runs its two sentences together, with ordinary spaces around the key names.
    EXPECT_NE(lines[3].find(u"小键盘数字会突出显示；反之， 当弹起 Caps Lock 、Shift 、Num Lock 键时"), std::u16string::npos);
    EXPECT_NE(lines[0].find(u"停留片该"), std::u16string::npos);  // the text as the product has always had it
    EXPECT_EQ(lines[4], u"5\uFF0E随手移动\uFF1A在键盘背景处用鼠标拖动，可移动键盘。");
}

TEST_F(MenuCommandsTest, EditionShowsNameVersionAndTheFixedDate) {
    keyboard.MnuEdition_Click();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].first, u"版本信息");
    EXPECT_THAT(Lines(platform.messages[0].second),
                ElementsAre(u"Vimbrel", u"版本\uFF1A" VIMBREL_VERSION_TEXT, u"2013年11月12日13时14分15秒"));
}

TEST_F(MenuCommandsTest, ProgrammeNamesTheLanguageOnOneLine) {
    keyboard.MnuProgramme_Click();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].first, u"编程语言");
    EXPECT_EQ(Lines(platform.messages[0].second).size(), 1u);
    EXPECT_NE(platform.messages[0].second.find(u"C++"), std::u16string::npos);
}

TEST_F(MenuCommandsTest, LatestVersionMinimisesThenOpensTheDownloadOverHttps) {
    keyboard.MnuAuthor_Click();
    EXPECT_THAT(platform.calls, ElementsAre("Minimise", "OpenAddress"));
    EXPECT_THAT(platform.addresses, ElementsAre(u"https://" + std::u16string(kMakerHost) + u"/pelorin.exe"));
    EXPECT_THAT(platform.messages, IsEmpty());
    EXPECT_THAT(platform.keys, IsEmpty());
    // The maker's host is a reserved example name: no real third party is opened.
    EXPECT_TRUE(kMakerHost.ends_with(u".example.org") || kMakerHost.ends_with(u".example.com") ||
                kMakerHost.ends_with(u".example"));
}

// A "&" would make the next character an access key on Windows and vanish.
TEST(MenuItems, CaptionsHoldNoAccessCharacter) {
    for (const MenuItemDef& def : kMenuItems) EXPECT_EQ(def.caption.find(u'&'), std::u16string_view::npos);
}

}  // namespace
}  // namespace vimbrel
