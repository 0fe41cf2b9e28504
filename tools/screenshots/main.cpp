// Renders the module's windows offscreen into PNG files, so a reader of the documentation
// sees them without running the module: the mailbox window on each of its folders, with
// letters of a few stations and a session's log, and the settings dialog's three pages. Usage:
// tzn_screenshots OUTPUT_DIR.
#include "mail/message.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/window_messages.h"
#include "store/mail_store.h"
#include "tznmail/host.h"
#include "ui/config_form.h"
#include "ui/mail_form.h"
#include "ui/station_overview_form.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QTreeWidget>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>

namespace tzn {
namespace {

// A host that answers only what the windows ask: the station's name for the caption.
class TShowcaseHost final : public THostServices {
public:
    int GetCount() override { return 0; }
    std::string GetStationCode() override { return "12"; }
    std::string GetDataFileName() override { return "C:\\PLAV\\OFFICE\\data.dat"; }
    std::string ImportDataFile(const std::string&) override { return {}; }
    std::string MakeStationRequestFile(const std::string&) override { return {}; }
    std::string ImportDataFileFrom(const std::string&, const std::string&) override { return {}; }
    THostMenuItem* GetMainMenuItems() override { return nullptr; }
    THostMenuItem* NewMenuItem(THostMenuItem*, int) override { return nullptr; }
    THostVariant GetParamValue(int number, int) override {
        return number == 13 ? THostVariant(ru("АЗС №12 «Северная»")) : THostVariant();
    }
    std::optional<THostStation> GetStation(int) override { return std::nullopt; }
    std::string PrepareExportData(int, const std::string&) override { return {}; }
};

void StoreLetter(MailFolder folder, const char* from, const char* to, const char* subject,
                 TDateTime date, size_t bodyLines) {
    TMxMessage letter;
    letter.From().SetText(ru(from));
    letter.Recipients.Add().SetText(ru(to));
    letter.Subject = ru(subject);
    letter.Date = date;
    letter.MessageParts.AddText(std::vector<std::string>(bodyLines, std::string(70, 'x')));
    letter.MessageParts.CountParts();
    if (!SaveLetterToFolder(letter, folder))
        throw std::runtime_error("cannot store a sample letter");
}

void FillStore() {
    StoreLetter(MailFolder::InBox, "Офис <office@neftebaza.ru>", "azs12@neftebaza.ru",
                "TZN-12 Запрос данных за смену", EncodeDateTime(2026, 3, 2, 8, 15), 40);
    StoreLetter(MailFolder::InBox, "Офис <office@neftebaza.ru>", "azs12@neftebaza.ru",
                "TZN-12 Новые цены на топливо", EncodeDateTime(2026, 3, 3, 7, 50), 12);
    StoreLetter(MailFolder::InBox, "Бухгалтерия <buh@neftebaza.ru>", "azs12@neftebaza.ru",
                "TZN-12 Сверка остатков", EncodeDateTime(2026, 3, 3, 9, 5), 90);
    StoreLetter(MailFolder::OutBox, "12 <azs12@neftebaza.ru>", "Office <office@neftebaza.ru>",
                "TZN-Office Отчет за смену 418", EncodeDateTime(2026, 3, 3, 22, 1), 300);
    StoreLetter(MailFolder::OutBox, "12 <azs12@neftebaza.ru>", "Office <office@neftebaza.ru>",
                "TZN-Office Отчет за смену 419", EncodeDateTime(2026, 3, 4, 10, 2), 280);
    StoreLetter(MailFolder::Sent, "12 <azs12@neftebaza.ru>", "Office <office@neftebaza.ru>",
                "TZN-Office Отчет за смену 416", EncodeDateTime(2026, 3, 1, 22, 0), 310);
    StoreLetter(MailFolder::Sent, "12 <azs12@neftebaza.ru>", "Office <office@neftebaza.ru>",
                "TZN-Office Отчет за смену 417", EncodeDateTime(2026, 3, 2, 22, 3), 295);
}

void Log(TMailForm& form, const char* line) {
    const std::string text = ru(line);
    SendMailMessage(form.Handle(), MailLogMessage(text));
}

// The window's client area under a plain title strip with its caption: offscreen windows
// have no frame of the window system's to show it.
QPixmap WithCaption(QWidget* window) {
    const QPixmap client = window->grab();
    const int strip = QFontMetrics(window->font()).height() + 10;
    QPixmap picture(client.width(), client.height() + strip);
    picture.fill(QColor(0x3a, 0x5f, 0x94));
    QPainter p(&picture);
    p.setPen(Qt::white);
    QFont bold = window->font();
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRect(8, 0, client.width() - 16, strip), Qt::AlignVCenter | Qt::AlignLeft,
               window->windowTitle());
    p.drawPixmap(0, strip, client);
    return picture;
}

bool Save(QWidget* window, const std::filesystem::path& file) {
    QApplication::processEvents();
    if (!WithCaption(window).save(QString::fromStdString(file.string()), "PNG")) {
        std::cerr << "tzn_screenshots: cannot write " << file << "\n";
        return false;
    }
    std::cout << file.string() << "\n";
    return true;
}

// The window is shown as a user sees it: at its designed size, with its own column widths.
void SelectFolder(TMailForm& form, int child) {
    auto* tree = form.Widget()->findChild<QTreeWidget*>("tvMailBox");
    tree->setCurrentItem(tree->topLevelItem(0)->child(child));
}

// The settings dialog's three pages, the second one (the one showing at opening) first.
bool RenderSettingsPages(const std::filesystem::path& outDir) {
    TConfigForm dialog;
    dialog.FormShow();
    dialog.Widget()->show();
    bool ok = true;
    const char* names[] = {"settings-transport.png", "settings-general.png",
                           "settings-connection.png"};
    for (int page : {1, 0, 2}) {
        dialog.ShowPage(page);
        ok &= Save(dialog.Widget(), outDir / names[page]);
    }
    dialog.Widget()->hide();
    return ok;
}

// The office's overview of a chain of a dozen stations one December morning: most report
// every evening, one has been silent since the day before yesterday, one since last night,
// one was just added to the list, one's data was refused by the host twice, and a code the
// list does not know wrote once.
bool RenderStationOverview(const std::filesystem::path& outDir) {
    const std::time_t now = UnixFromDateTime(EncodeDateTime(2026, 12, 9, 9, 30));
    const std::time_t hour = 3600, day = 24 * hour;
    const char* names[] = {"Центральная", "Северная",   "Южная",     "Заречная",
                           "Вокзальная",  "Трассовая",  "Промзона",  "Лесная",
                           "Озерная",     "Приморская", "Кольцевая", "Новая"};
    std::vector<TListedStation> listed;
    std::vector<TLedgerRecord> records;
    for (int i = 0; i < 12; ++i) {
        const std::string code = std::to_string(i < 9 ? i + 1 : i * 2);
        listed.push_back({code, ru("АЗС «") + ru(names[i]) + ru("»")});
        const int silentDays = i == 3 ? 4 : i == 7 ? 2 : 0;
        if (i == 11)
            continue; // just added: nothing yet
        for (int d = 13; d >= silentDays; --d) {
            const std::time_t evening = now - d * day + 12 * hour + (i * 7 % 50) * 60;
            if (evening > now)
                continue;
            const bool refused = i == 5 && (d == 4 || d == 2);
            records.push_back({evening, TLedgerKind::Received, code, 1, refused ? 0 : 1, false, "",
                               "TZN-Office"});
        }
        if (i == 3 || i == 9)
            records.push_back({now - 20 * hour - i * 600, TLedgerKind::Sent, code, 1, 0, true, "",
                               "TZN-" + code});
    }
    records.push_back({now - 5 * day, TLedgerKind::Received, "99", 1, 1, false, "", "TZN-Office"});
    std::stable_sort(
        records.begin(), records.end(),
        [](const TLedgerRecord& a, const TLedgerRecord& b) { return a.Time < b.Time; });
    TStationOverviewForm overview([&] {
        TStationOverview view;
        view.Now = now;
        view.Rows = BuildStationOverview(records, listed, now, kDefaultLateHours);
        return view;
    });
    overview.ShowOverview();
    overview.Widget()->resize(1090, 470);
    const bool ok = Save(overview.Widget(), outDir / "station-overview.png");
    overview.Widget()->hide();
    return ok;
}

int Run(const std::filesystem::path& outDir) {
    std::filesystem::create_directories(outDir);
    TShowcaseHost host;
    SetHost(&host);
    SetStationCode("12");
    MailSettings settings;
    settings.MailDir = "C:\\PLAV\\OFFICE\\MAIL\\";
    settings.IsSaveInMail = settings.IsSaveOutMail = true;
    settings.EMail = "azs12@neftebaza.ru";
    settings.SMTPHost = "smtp.neftebaza.ru";
    settings.POP3Host = "pop.neftebaza.ru";
    settings.SMTPPort = 587;
    settings.POP3Port = 110;
    settings.UserName = "azs12";
    settings.Password = "secret";
    settings.SMTPSecurity = settings.POP3Security = "starttls";
    settings.ConnectTimeout = 30;
    settings.ReadTimeout = 120;
    settings.AutoOnNoMail = true;
    settings.AddTovarCount = 1;
    settings.AutoGetMail = true;
    settings.AutoGetMailPeriod = 2;
    settings.UseAddictionAddress = true;
    settings.MailAddictionAdressList = {"office2@neftebaza.ru"};
    SetMailSettings(settings);
    CreateMailFolders(settings.MailDir);
    FillStore();

    TMailForm form({});
    form.ShowMailbox();
    bool ok = true;

    SelectFolder(form, 0);
    ok &= Save(form.Widget(), outDir / "mailbox-inbox.png");

    // The outgoing folder during a session: its log lines and the gauge of a transfer.
    SelectFolder(form, 1);
    Log(form, "======== Старт приема писем =========");
    Log(form, "Соединение с почтовым сервером...");
    Log(form, "Соединение установлено.");
    Log(form, "Отправка письма: TZN-Office Отчет за смену 418");
    SendMailMessage(form.Handle(), MailBeginMessage(kMailDirectionSending, 24000));
    SendMailMessage(form.Handle(), MailProgressMessage(15000));
    ok &= Save(form.Widget(), outDir / "mailbox-outbox.png");
    SendMailMessage(form.Handle(), MailEndMessage(24000));

    SelectFolder(form, 2);
    ok &= Save(form.Widget(), outDir / "mailbox-sent.png");

    ok &= RenderSettingsPages(outDir);
    ok &= RenderStationOverview(outDir);
    form.Widget()->hide();
    SetHost(nullptr);
    return ok ? 0 : 1;
}

} // namespace
} // namespace tzn

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tzn_screenshots OUTPUT_DIR\n";
        return 2;
    }
    const std::filesystem::path outDir = std::filesystem::absolute(argv[1]);
    // The letters live in a throw-away root, never in the user's own store.
    std::string root = (std::filesystem::temp_directory_path() / "tzn-shots-XXXXXX").string();
    if (!::mkdtemp(root.data()))
        return 1;
    ::setenv("TZN_ROOT", root.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    QApplication::setFont(QFont("DejaVu Sans", 9));
    int rc = 1;
    try {
        rc = tzn::Run(outDir);
    } catch (const std::exception& e) {
        std::cerr << "tzn_screenshots: " << e.what() << "\n";
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return rc;
}
