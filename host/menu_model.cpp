#include "host/menu_model.h"

#include "platform/cp1251.h"
#include "platform/text.h"

namespace tzn {
namespace {

void FormatLevel(const TMenuNode& node, int depth, std::string& out) {
    for (int i = 0; i < node.Count(); ++i) {
        const TMenuNode* child = node.Child(i);
        out += std::string(static_cast<size_t>(depth) * 2, ' ');
        out += Utf8FromCp1251(child->GetCaption());
        out += '\n';
        FormatLevel(*child, depth + 1, out);
    }
}

} // namespace

TMenuNode* TMenuNode::Child(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return FChildren[static_cast<size_t>(index)].get();
}

TMenuNode* TMenuNode::Insert(int index) {
    auto node = std::make_unique<TMenuNode>();
    TMenuNode* raw = node.get();
    if (index < 0 || index >= Count())
        FChildren.push_back(std::move(node));
    else
        FChildren.insert(FChildren.begin() + index, std::move(node));
    return raw;
}

TMenuNode* TMenuNode::FindChild(const std::string& caption) const {
    const std::string wanted = WithoutHotkeys(caption);
    for (const auto& child : FChildren)
        if (AnsiSameText(WithoutHotkeys(child->FCaption), wanted))
            return child.get();
    return nullptr;
}

bool TMenuNode::Click() {
    if (!FOnClick)
        return false;
    // A copy: the handler may change this item.
    const ClickHandler handler = FOnClick;
    handler(this);
    return true;
}

std::string FormatMenuTree(const TMenuNode& root) {
    std::string out;
    FormatLevel(root, 0, out);
    return out;
}

} // namespace tzn
