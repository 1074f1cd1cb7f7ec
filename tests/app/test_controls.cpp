#include <gtest/gtest.h>

#include "app/controls.h"
#include "platform/error.h"

namespace tidewell {
namespace {

TEST(CheckBox, AcceptsOnlyTheThreeStatesAndClicksOnlyOnChange) {
    CheckBox box("Check1", "", {}, 0, 0);
    int clicks = 0;
    box.Click = [&] { ++clicks; };

    box.Value(0);
    EXPECT_EQ(clicks, 0) << "assigning the current state is no change";
    box.Value(2);
    box.Value(1);
    EXPECT_EQ(clicks, 2);

    for (int refused : {3, -1, 5, 32767}) {
        try {
            box.Value(refused);
            ADD_FAILURE() << refused << " was accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), errors::InvalidPropertyValue);
        }
    }
    EXPECT_EQ(box.Value(), 1) << "a refused state leaves the box as it was";
    EXPECT_EQ(clicks, 2);

    box.click();
    EXPECT_EQ(box.Value(), 0);
    box.Value(2);
    box.click();
    EXPECT_EQ(box.Value(), 0) << "a click on a greyed box unchecks it";
}

TEST(TextBox, ChangeRunsOnlyForADifferentText) {
    TextBox box("UDPaddress", "10.0.0.255", {}, 0, 15);
    std::vector<std::string> seen;
    box.Change = [&] { seen.push_back(box.Text()); };
    box.Text("10.0.0.255");
    box.Text("");
    box.Text("");
    box.Text("127.0.0.1");
    EXPECT_EQ(seen, (std::vector<std::string>{"", "127.0.0.1"}));
}

TEST(ComboBox, SettingTextRaisesNothingWhileAUserPickClicks) {
    ComboBox list("Combo1", "None", {}, 0);
    int clicks = 0;
    list.Click = [&] { ++clicks; };
    for (const char* p : {"None", "COM1", "COM2"}) list.AddItem(p);

    list.Text("COM2");
    EXPECT_EQ(list.ListIndex(), 2) << "the position follows an exact match";
    list.Text("com2");
    EXPECT_EQ(list.ListIndex(), -1) << "list texts match case-sensitively";
    EXPECT_EQ(clicks, 0);

    list.choose(1);
    EXPECT_EQ(list.Text(), "COM1");
    EXPECT_EQ(list.ListIndex(), 1);
    EXPECT_EQ(clicks, 1);
    list.choose(7);  // no such item
    EXPECT_EQ(clicks, 1);
}

TEST(OptionButton, SelectingOneDeselectsTheOtherWithoutItsClick) {
    OptionButton utc("Option1", 0, "UTC", {}, 20), local("Option1", 1, "LOCAL", {}, 21);
    utc.group = local.group = {&utc, &local};
    std::vector<int> clicks;
    utc.Click = local.Click = [&](int index) { clicks.push_back(index); };

    utc.Value(false);
    EXPECT_TRUE(clicks.empty()) << "deselecting an unselected button is no change";
    utc.Value(true);
    utc.Value(true);
    local.Value(true);
    EXPECT_EQ(clicks, (std::vector<int>{0, 1}));
    EXPECT_FALSE(utc.Value());
    EXPECT_TRUE(local.Value());

    local.Value(false);
    EXPECT_FALSE(local.Value());
    EXPECT_EQ(clicks.size(), 2u) << "deselecting from code raises nothing";
}

}  // namespace
}  // namespace tidewell
