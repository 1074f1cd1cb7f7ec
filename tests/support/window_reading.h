#pragma once
// One check of a platform's window against the window model, at 96 DPI: each control where its
// twips put it, with the model's text, font and visibility, and Tab in the model's order. Each
// platform's window test reads its window through a WindowReading.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <tuple>

#include "app/orvane_set_time.h"

namespace tidewell::testing {

struct ShownControl {
    std::array<int, 4> place;  // left, top, width, height: pixels in the client area
    std::string text;
    std::optional<std::pair<int, bool>> font;  // pixels high, bold; none where it cannot be read
    bool shown = false;
    auto tie() const { return std::tie(place, text, font, shown); }
};

class WindowReading {
public:
    virtual ShownControl read(const Control& control) = 0;
    // The controls the focus reaches, in the order Tab takes it through them.
    virtual std::vector<const Control*> tabChain() = 0;
    virtual std::pair<int, int> clientSize() = 0;
    // Where the platform words a caption its own way.
    virtual std::string textOf(const Control& control) { return control.shownText(); }

protected:
    ~WindowReading() = default;
};

// Controls without a font of their own have the window's, of 8 points.
inline void expectMirrors(OrvaneSetTime& model, WindowReading& window) {
    const auto px = [](int twips) { return int(std::lround(twips / 15.0)); };
    EXPECT_EQ(window.clientSize(),
              std::pair(px(OrvaneSetTime::ClientWidth), px(OrvaneSetTime::ClientHeight)));
    std::vector<std::string> tabOrder, chain;
    std::vector<Control*> controls = model.controls();
    std::ranges::stable_sort(controls, {}, &Control::tabIndex);
    for (Control* c : controls) {
        const Geometry& g = c->geometry();
        const Font font = c->font.value_or(Font{"", 8, false});
        const ShownControl shown = window.read(*c);
        const bool visible = c->Visible() && !model.neverShown(*c);
        ShownControl expected{
            {px(g.left), px(g.top), px(g.width), px(g.height)}, window.textOf(*c), {}, visible};
        if (shown.font)
            expected.font = std::pair(int(std::lround(font.points * 96 / 72.0)), font.bold);
        EXPECT_EQ(shown.tie(), expected.tie()) << c->name();
        if (c->takesFocus()) tabOrder.push_back(c->name());
    }
    for (const Control* c : window.tabChain()) chain.push_back(c ? c->name() : "(none)");
    EXPECT_EQ(chain, tabOrder);
}

}  // namespace tidewell::testing
