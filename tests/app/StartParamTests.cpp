// The start parameter, the instance title and the role decision.
#include <gtest/gtest.h>

#include <vector>

#include "app/HandOff.h"
#include "app/StartParam.h"
#include "res/Texts.h"

namespace {

struct ParamCase {
    std::vector<const char*> args;  // after the program name
    const char* param;
    std::string title;
    int gameId;
    int passValue;
};

TEST(StartParam, TableOfForms) {
    const std::string prefix = TEXT_TITLE_PREFIX;
    const std::string hall = prefix + TEXT_TITLE_HALL + "Hollo";
    auto game = [&](const char* n) { return prefix + " \xD3\xCE\xCF\xB7(" + n + ")"; };
    const ParamCase cases[] = {
        {{}, "Hollo", hall, 0, 0},
        {{"Hollo"}, "Hollo", hall, 0, 0},
        {{"hollo"}, "hollo", game("0"), 0, 0},
        {{"5,3"}, "5,3", game("5"), 5, 3},
        {{"7"}, "7", game("7"), 7, 0},
        {{"-5,3"}, "Hollo", hall, 0, 0},
        {{"/x", "", "5,3", "9,9"}, "5,3", game("5"), 5, 3},
        {{"", "5,3"}, "5,3", game("5"), 5, 3},
        {{"70000,-3"}, "70000,-3", game("70000"), 70000, -3},
    };
    for (const ParamCase& c : cases) {
        std::vector<const char*> argv = {"selfrenew.exe"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string param = ChooseStartParam(static_cast<int>(argv.size()), argv.data());
        SCOPED_TRACE("parameter " + param);
        EXPECT_EQ(param, c.param);
        InstanceTitle title = BuildInstanceTitle(param);
        EXPECT_EQ(title.strTitle, c.title);
        EXPECT_EQ(title.nGameId, c.gameId);
        EXPECT_EQ(title.nPassValue, c.passValue);
    }
}

TEST(StartParam, TitleBytesAreGbk) {
    // "自动更新程序 大厅Hollo" in code page 936, byte for byte.
    EXPECT_EQ(BuildInstanceTitle("Hollo").strTitle,
              "\xD7\xD4\xB6\xAF\xB8\xFC\xD0\xC2\xB3\xCC\xD0\xF2 \xB4\xF3\xCC\xFCHollo");
}

TEST(StartParam, RoleByFileName) {
    struct {
        const char* path;
        bool working;
    } cases[] = {
        {"C:\\Game\\Selfrenew.kro", true},
        {"C:\\Game\\SELFRENEW.KRO", true},
        {"C:/Game/selfrenew.kro", true},
        {"Selfrenew.kro", true},
        {"C:\\Game\\selfrenew.exe", false},
        {"C:\\Game\\Selfrenew.kro\\x.exe", false},
        {"C:\\Game\\upd.kro", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWorkingRole(c.path), c.working) << c.path;
}

TEST(StartParam, WorkingCopyPathReplacesLastThreeCharacters) {
    EXPECT_EQ(WorkingCopyPath("C:\\Program Files\\Hall\\selfrenew.exe"), "C:\\Program Files\\Hall\\selfrenew.kro");
    EXPECT_EQ(WorkingCopyPath("C:\\g\\upd.bin"), "C:\\g\\upd.kro");
    EXPECT_EQ(WorkingCopyPath("ab"), "kro");
}

TEST(HandOffLayout, GameUpdatedLParamCutsEachNumberTo16Bits) {
    EXPECT_EQ(GameUpdatedLParam(5, 3), 0x00030005ul);
    EXPECT_EQ(GameUpdatedLParam(70000, -3), 0xFFFD1170ul);
    EXPECT_EQ(WorkingCopyCommandLine("C:\\Program Files\\a\\Selfrenew.kro", "5,3"),
              "\"C:\\Program Files\\a\\Selfrenew.kro\" 5,3");
}

}  // namespace
