#include "module/host_menu.h"

#include "platform/cp1251.h"
#include "platform/text.h"

#include <stdexcept>

namespace tzn {
namespace {

// The communication item of the side, created at the end of the main menu when missing.
THostMenuItem* CommunicationItem(THostServices& host, const std::string& caption) {
    THostMenuItem* root = host.GetMainMenuItems();
    if (!root)
        throw std::runtime_error("the host has no main menu");
    THostMenuItem* comm = FindMenuChild(root, caption);
    return comm ? comm : AddMenuCommand(host, caption, root, nullptr);
}

// The settings submenu of the communication item; a new one follows a separator.
THostMenuItem* SettingsItem(THostServices& host, THostMenuItem* comm) {
    const std::string caption = ru("Настройки");
    if (THostMenuItem* settings = FindMenuChild(comm, caption))
        return settings;
    AddMenuCommand(host, "-", comm, nullptr);
    return AddMenuCommand(host, caption, comm, nullptr);
}

} // namespace

THostMenuItem* AddMenuCommand(THostServices& host, const std::string& caption,
                              THostMenuItem* parent, THostMenuItem::ClickHandler handler) {
    THostMenuItem* item = host.NewMenuItem(parent, -1);
    if (!item)
        throw std::runtime_error("the host did not create a menu item");
    item->SetCaption(caption);
    item->SetHint("");
    item->SetHelpContext(0);
    item->SetShortCut(0);
    item->SetOnClick(std::move(handler));
    return item;
}

THostMenuItem* FindMenuChild(THostMenuItem* parent, const std::string& caption) {
    if (!parent)
        return nullptr;
    const std::string wanted = WithoutHotkeys(caption);
    const int count = parent->Count();
    for (int i = 0; i < count; ++i) {
        THostMenuItem* child = parent->Item(i);
        if (child && AnsiSameText(WithoutHotkeys(child->GetCaption()), wanted))
            return child;
    }
    return nullptr;
}

void AddHostMenuCommands(THostServices& host, uint8_t mode, const TMenuCommands& commands,
                         std::vector<THostMenuItem*>& handled) {
    if (mode != 0 && mode != 1)
        return;
    auto command = [&](const std::string& caption, THostMenuItem* parent,
                       const THostMenuItem::ClickHandler& handler) {
        THostMenuItem* item = AddMenuCommand(host, caption, parent, handler);
        if (handler)
            handled.push_back(item);
    };
    THostMenuItem* comm = CommunicationItem(host, mode == 0 ? ru("Связь с о&фисом") : ru("Связь"));
    AddMenuCommand(host, "-", comm, nullptr);
    command(ru("Электронная почта"), comm, commands.ShowMailbox);
    command(ru("Получить почту"), comm, commands.GetMail);
    command(ru("Отправить почту"), comm, commands.SendMail);
    if (mode == 0) {
        command(ru("Создать письмо-отчет"), comm, commands.CreateReportLetter);
    } else {
        command(ru("Создать письмо-запрос"), comm, commands.CreateRequestLetter);
        command(ru("Создать письмо-запрос для всех АЗС"), comm,
                commands.CreateRequestLettersForAll);
    }
    command(ru("Электронная почта "), SettingsItem(host, comm), commands.Settings);
}

} // namespace tzn
