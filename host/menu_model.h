// The host's main menu: a tree of items the plug-in adds its commands to (owned by the host).
// Used on the window thread only.
#pragma once

#include "tznmail/host.h"

#include <memory>
#include <string>
#include <vector>

namespace tzn {

class TMenuNode final : public THostMenuItem {
public:
    std::string GetCaption() const override { return FCaption; }
    void SetCaption(const std::string& caption) override { FCaption = caption; }
    std::string GetHint() const override { return FHint; }
    void SetHint(const std::string& hint) override { FHint = hint; }
    int GetHelpContext() const override { return FHelpContext; }
    void SetHelpContext(int context) override { FHelpContext = context; }
    int GetShortCut() const override { return FShortCut; }
    void SetShortCut(int shortcut) override { FShortCut = shortcut; }
    ClickHandler GetOnClick() const override { return FOnClick; }
    void SetOnClick(ClickHandler handler) override { FOnClick = std::move(handler); }
    int Count() const override { return static_cast<int>(FChildren.size()); }
    THostMenuItem* Item(int index) override { return Child(index); }

    TMenuNode* Child(int index) const; // nullptr outside 0..Count()-1
    // A new empty child at index; -1 (or any index past the end) appends.
    TMenuNode* Insert(int index);
    // The first child whose caption equals caption, ignoring "&" markers and letter case
    // (CP1251).
    TMenuNode* FindChild(const std::string& caption) const;
    // Runs the click handler; false when the item has none.
    bool Click();

private:
    std::string FCaption, FHint;
    int FHelpContext = 0, FShortCut = 0;
    ClickHandler FOnClick;
    std::vector<std::unique_ptr<TMenuNode>> FChildren;
};

// The items below root, one per line in UTF-8, indented by two blanks per level.
std::string FormatMenuTree(const TMenuNode& root);

} // namespace tzn
