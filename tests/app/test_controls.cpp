#include <gtest/gtest.h>

#include "app/controls.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using Strings = std::vector<std::string>;

// Each control raises its event only for a real change; a pick by the user always clicks.
TEST(Controls, RaiseTheirEventOnlyOnARealChange) {
    Strings events;
    CheckBox box("Check1", "", {}, 0, 0);
    box.Click = [&] { events.push_back("check " + std::to_string(box.Value())); };
    for (int v : {0, 2, 1}) box.Value(v);
    for (int refused : {3, -1}) EXPECT_THROW(box.Value(refused), Error);
    EXPECT_EQ(box.Value(), 1) << "a refused state leaves the box as it was";
    box.Value(2);
    box.click();  // a click on a greyed box unchecks it

    TextBox text("UDPaddress", "10.0.0.255", {}, 0, 15);
    text.Change = [&] { events.push_back("text " + text.Text()); };
    for (const char* t : {"10.0.0.255", "", "", "127.0.0.1"}) text.Text(t);

    ComboBox list("Combo1", "None", {}, 0);
    list.Click = [&] { events.push_back("list " + list.Text()); };
    for (const char* p : {"None", "COM1", "COM2"}) list.AddItem(p);
    list.Text("COM2");
    EXPECT_EQ(list.ListIndex(), 2) << "the position follows an exact match";
    list.Text("com2");
    EXPECT_EQ(list.ListIndex(), -1) << "list texts match case-sensitively";
    list.choose(1);
    list.choose(7);  // no such item

    OptionButton utc("Option1", 0, "UTC", {}, 20), local("Option1", 1, "LOCAL", {}, 21);
    utc.group = local.group = {&utc, &local};
    utc.Click = local.Click = [&](int i) { events.push_back("option " + std::to_string(i)); };
    for (bool v : {false, true, true}) utc.Value(v);
    local.Value(true);  // deselects UTC without its click
    EXPECT_FALSE(utc.Value());
    local.Value(false);  // deselecting from code raises nothing

    EXPECT_EQ(events, (Strings{"check 2", "check 1", "check 2", "check 0", "text ",
                               "text 127.0.0.1", "list COM1", "option 0", "option 1"}));
}

}  // namespace
}  // namespace tidewell
