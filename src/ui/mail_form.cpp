#include "ui/mail_form.h"

#include "mail/message.h"
#include "module/activity_log.h"
#include "module/headless_window_services.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "session/session_state.h"
#include "store/composition.h"
#include "store/letter_processing.h"
#include "store/mail_store.h"
#include "tznmail/host.h"
#include "ui/attached_data_info.h"
#include "ui/letter_commands.h"
#include "ui/letter_list.h"
#include "ui/mail_form_window.h"
#include "ui/mailbox_window_services.h"
#include "ui/pie_gauge.h"
#include "ui/station_overview_form.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <set>
#include <thread>
#include <vector>

namespace tzn {
namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The client area the window was designed for is 740 by 433.
constexpr int kDesignedClientWidth = 740;

// Room a list cell or tree row needs around its text.
constexpr int kCellPadding = 16;

// The widest "Сохранено" text the locale's month names give, in the list's font.
int SavedColumnWidth(const QFontMetrics& fm) {
    int widest = 0;
    for (int month = 1; month <= 12; ++month)
        widest = std::max(widest, fm.horizontalAdvance(QString::fromStdString(Utf8FromCp1251(
                                      FormatSavedDate(EncodeDateTime(2026, month, 28, 23, 59))))));
    return widest + kCellPadding;
}

// The designed column widths (file name, icon, From, To, Subject, Saved, Size), with Saved and
// Size wide enough for their texts in the font that renders them, and From, To and Subject
// sharing what is left of `listWidth` in their designed proportions, so the designed window
// shows every column whole.
std::vector<int> FittedColumnWidths(const QFontMetrics& fm, int listWidth) {
    std::vector<int> w{0, 20, 120, 120, 100, 120, 60};
    w[5] = std::max(w[5], SavedColumnWidth(fm));
    w[6] = std::max(w[6], fm.horizontalAdvance(Q("9999,99 кб")) + kCellPadding);
    const int rest = listWidth - w[1] - w[5] - w[6];
    const int designed = w[2] + w[3] + w[4];
    if (rest < designed)
        for (int c = 2; c <= 4; ++c)
            w[c] = std::max(40, w[c] * rest / designed);
    return w;
}

QString FromCp1251(const std::string& text) {
    return QString::fromStdString(Utf8FromCp1251(text));
}

// The host's answer to a parameter query; an absent host or a failing query reads as empty.
THostVariant HostParam(int number) {
    try {
        if (THostServices* host = Host())
            return host->GetParamValue(number, 0);
    } catch (...) { // NOLINT(bugprone-empty-catch): as empty
    }
    return {};
}

// An answer that is not a whole number counts as 0, the host's ordinary value.
int64_t HostParamInt(int number) {
    try {
        return HostParam(number).ToInteger();
    } catch (...) {
        return 0;
    }
}

// A menu command named for the tests, calling `handler` on the window's thread.
template <class Handler>
QAction* AddMenuItem(QWidget* owner, QMenu* menu, const char* name, const char* caption,
                     Handler handler) {
    QAction* a = menu->addAction(Q(caption));
    a->setObjectName(name);
    QObject::connect(a, &QAction::triggered, owner, handler);
    return a;
}

constexpr int kFileNameColumn = 0;
constexpr int kIconColumn = 1;
constexpr int kSizeColumn = 6;
constexpr int kAutoGetMailInterval = 300000; // ms
// FormClose waits so long for a retrieval to notice its cancel request.
constexpr int kCloseWaitRounds = 21;
constexpr auto kCloseWaitStep = std::chrono::milliseconds(50);

} // namespace

// The window's parts, named as the components they stand for.
struct TMailForm::TParts {
    TMailFormWindow* Window = nullptr;
    QTreeWidget* tvMailBox = nullptr;
    QTreeWidgetItem* Root = nullptr;
    QTreeWidget* lvMail = nullptr;
    QAction* btnGetMail = nullptr;
    QAction* btnSendMail = nullptr;
    QAction* btnProp = nullptr;
    QAction* btnCrReport = nullptr;
    QAction* btnCrQuery = nullptr;
    QAction* btnCrQueryAll = nullptr;
    QToolButton* bProcessMsg = nullptr;
    QToolButton* bResend = nullptr;
    QToolButton* bDeleteMail = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QWidget* PanelInfoMSG = nullptr;
    QPlainTextEdit* mInfoMSG = nullptr;
    TPieGauge* Gauge1 = nullptr;
    QAction* miMail = nullptr;
    QAction* miCreateConfigMail = nullptr;
    QAction* miCreateAllConfigMail = nullptr;
    QAction* miCreateReportMail = nullptr;
    QAction* miStationOverview = nullptr;
    QAction* btnStationOverview = nullptr;
    QMenu* N6 = nullptr;
    QMenu* MailMenu = nullptr;
    QAction* miResend = nullptr;
    QAction* miProcessMsg = nullptr;
    QAction* miDelete = nullptr;
    QTimer* AutoGetMailTimer = nullptr;
    bool Centred = false;
};

TMailForm::TMailForm(std::function<TSessionContext()> context, TMailFormCommands commands,
                     TSessionRunner* runner)
    : FContext(std::move(context)), FCommands(std::move(commands)), FClock(&Now),
      FParts(std::make_unique<TParts>()),
      FOwnRunner(runner ? nullptr : std::make_unique<TSessionRunner>()),
      FRunner(runner ? runner : FOwnRunner.get()) {
    BuildWindow();
    FOverview = std::make_unique<TStationOverviewForm>([this] {
        THostServices* host = FContext ? FContext().Host : Host();
        return LoadStationOverview(host, MailSettingsSnapshot(), std::time(nullptr));
    });
    FWindow = std::make_unique<TMessageWindow>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WndProc(msg, wParam, lParam); });
    // What a session did is in the ledger once it has ended: the overview reads it again.
    FRunnerObserver = FRunner->Observe({{}, [handle = Handle()](const TSessionRequest&) {
                                            PostMailMessage(handle, MailSessionEndMessage());
                                        }});
}

TMailForm::~TMailForm() {
    // Sessions still queued start nothing. The running one sends its lines to this window and
    // waits for them: keep handling messages until it has ended, and only then let the window
    // go.
    FClosing = true;
    FParts->AutoGetMailTimer->stop();
    FRunner->DropQueued();
    ProcessMessagesUntil([this] { return FRunner->Idle(); }, std::chrono::hours(24));
    FRunner->Forget(FRunnerObserver);
    FWindow.reset();
    FOverview.reset();
    delete FParts->Window;
}

void TMailForm::BuildWindow() {
    TParts& p = *FParts;
    p.Window = new TMailFormWindow([this] { FormShow(); }, [this] { FormClose(); });
    QWidget* w = p.Window;
    w->setObjectName("MailForm");
    w->setWindowTitle(Q("E-Mail"));
    w->setWindowFlag(Qt::WindowStaysOnTopHint);
    // Closing only hides: the host's application must not end with this window.
    w->setAttribute(Qt::WA_QuitOnClose, false);

    BuildMenus();
    QWidget* top = BuildToolBar();
    const int treeWidth = BuildLetterViews();
    BuildListMenu();
    QWidget* band = BuildBottomBand();

    auto* folders = new QSplitter(Qt::Horizontal);
    folders->addWidget(p.tvMailBox);
    folders->addWidget(p.lvMail);
    folders->setStretchFactor(1, 1);
    folders->setSizes({treeWidth, kDesignedClientWidth - treeWidth});
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(folders);
    split->addWidget(band);
    split->setStretchFactor(0, 1);
    split->setSizes({433 - 101, 101});

    auto* central = new QWidget;
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);
    centralLayout->addWidget(top);
    centralLayout->addWidget(split, 1);
    p.Window->setCentralWidget(central);

    auto* status = p.Window->statusBar();
    status->setObjectName("StatusBar1");
    for (int width : {300, 50}) {
        auto* panel = new QLabel;
        panel->setFixedWidth(width);
        status->addWidget(panel);
    }

    // The client area is what the window's layout was designed for; the menu bar lies above.
    w->resize(kDesignedClientWidth, 433 + p.Window->menuBar()->sizeHint().height());
    w->setMinimumWidth(600);

    p.AutoGetMailTimer = new QTimer(w);
    p.AutoGetMailTimer->setObjectName("AutoGetMailTimer");
    p.AutoGetMailTimer->setInterval(kAutoGetMailInterval);
    QObject::connect(p.AutoGetMailTimer, &QTimer::timeout, w, [this] { AutoGetMailTimerTimer(); });
    p.AutoGetMailTimer->start();
}

void TMailForm::BuildMenus() {
    TParts& p = *FParts;
    QWidget* w = p.Window;
    // Main menu.
    QMenu* mailbox = p.Window->menuBar()->addMenu(Q("Почтовый ящик"));
    p.miMail = AddMenuItem(w, mailbox, "miMail", "Электронная почта", [this] { ShowMailbox(); });
    AddMenuItem(w, mailbox, "miGetMail", "Получить почту", [this] { OnGetMail(); });
    AddMenuItem(w, mailbox, "miSendMail", "Отправить почту", [this] { OnSendMail(); });
    p.miCreateConfigMail = AddMenuItem(w, mailbox, "miCreateConfigMail", "Создать письмо-запрос",
                                       [this] { OnCreateConfigMail(LocalSide(), Services()); });
    p.miCreateAllConfigMail =
        AddMenuItem(w, mailbox, "miCreateAllConfigMail", "Создать письмо-запрос для всех АЗС",
                    [this] { OnCreateAllConfigMail(LocalSide(), Services()); });
    p.miCreateReportMail =
        AddMenuItem(w, mailbox, "miCreateReportMail", "Создать письмо-отчет", [this] {
            if (FCommands.CreateReport)
                FCommands.CreateReport();
        });
    p.miStationOverview = AddMenuItem(w, mailbox, "miStationOverview", "Сводка по АЗС",
                                      [this] { ShowStationOverview(); });
    p.N6 = p.Window->menuBar()->addMenu(Q("&Настройка"));
    p.N6->setObjectName("N6");
    AddMenuItem(w, p.N6, "miMailSettings", "Электронная почта", [this] { btnPropClick(); });
    QAction* exit = p.Window->menuBar()->addAction(Q("Выход"));
    exit->setObjectName("miExit");
    exit->setShortcut(QKeySequence(Qt::Key_Escape));
    exit->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(exit, &QAction::triggered, w, [w] { w->close(); });
}

QWidget* TMailForm::BuildToolBar() {
    TParts& p = *FParts;
    QWidget* w = p.Window;
    QStyle* style = w->style();
    auto icon = [style](QStyle::StandardPixmap sp) { return style->standardIcon(sp); };
    // Tool bar, and the three flat buttons at its right.
    auto* top = new QWidget;
    auto* topLayout = new QHBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 4, 0);
    auto* tools = new QToolBar;
    tools->setObjectName("ToolBar1");
    auto addTool = [&](const char* name, const char* hint, QStyle::StandardPixmap sp,
                       auto handler) {
        QAction* a = tools->addAction(icon(sp), Q(hint));
        a->setObjectName(name);
        a->setToolTip(Q(hint));
        QObject::connect(a, &QAction::triggered, w, handler);
        return a;
    };
    p.btnGetMail = addTool("btnGetMail", "Получить новую почту", QStyle::SP_ArrowDown,
                           [this] { btnGetMailClick(); });
    tools->addSeparator();
    p.btnSendMail = addTool("btnSendMail", "Отправить почту", QStyle::SP_ArrowUp,
                            [this] { btnSendMailClick(); });
    tools->addSeparator();
    p.btnProp = addTool("btnProp", "Настройки", QStyle::SP_FileDialogDetailedView,
                        [this] { btnPropClick(); });
    p.btnCrReport = addTool("btnCrReport", "Создать письмо-отчет", QStyle::SP_FileIcon,
                            [this] { FParts->miCreateReportMail->trigger(); });
    tools->addSeparator();
    p.btnCrQuery = addTool("btnCrQuery", "Создать письмо-запрос на выбранную АЗС",
                           QStyle::SP_FileDialogNewFolder,
                           [this] { OnCreateConfigMail(LocalSide(), Services()); });
    p.btnCrQueryAll =
        addTool("btnCrQueryAll", "Создать письма-запросы на все  АЗС", QStyle::SP_DirIcon,
                [this] { OnCreateAllConfigMail(LocalSide(), Services()); });
    p.btnStationOverview =
        addTool("btnStationOverview", "Сводка по АЗС", QStyle::SP_FileDialogContentsView,
                [this] { ShowStationOverview(); });
    topLayout->addWidget(tools);
    topLayout->addStretch();
    auto addFlat = [&](const char* name, const QString& hint, QStyle::StandardPixmap sp,
                       auto handler) {
        auto* b = new QToolButton;
        b->setObjectName(name);
        b->setAutoRaise(true);
        b->setIcon(icon(sp));
        b->setToolTip(hint);
        b->setEnabled(false);
        QObject::connect(b, &QToolButton::clicked, w, handler);
        topLayout->addWidget(b);
        return b;
    };
    p.bProcessMsg = addFlat("bProcessMsg", Q("Обработать выбранные письма"), QStyle::SP_MediaPlay,
                            [this] { miProcessMsgClick(); });
    p.bResend = addFlat("bResend", Q("Перместить выбранные письма в ") + Q("\"Исходящие\""),
                        QStyle::SP_ArrowBack, [this] { miResendClick(); });
    p.bDeleteMail = addFlat("bDeleteMail", Q("Удалить выбранные письма"), QStyle::SP_TrashIcon,
                            [this] { miDeleteClick(); });
    return top;
}

int TMailForm::BuildLetterViews() {
    TParts& p = *FParts;
    QWidget* w = p.Window;
    QStyle* style = w->style();
    auto icon = [style](QStyle::StandardPixmap sp) { return style->standardIcon(sp); };
    // Folder tree and letter list.
    p.tvMailBox = new QTreeWidget;
    p.tvMailBox->setObjectName("tvMailBox");
    p.tvMailBox->setHeaderHidden(true);
    p.tvMailBox->setEditTriggers(QAbstractItemView::NoEditTriggers);
    p.Root = new QTreeWidgetItem(p.tvMailBox, QStringList(Q("АЗС")));
    p.Root->setIcon(0, icon(QStyle::SP_ComputerIcon));
    const QStyle::StandardPixmap folderIcons[] = {QStyle::SP_ArrowDown, QStyle::SP_ArrowUp,
                                                  QStyle::SP_DialogApplyButton};
    for (int i = 0; i < 3; ++i) {
        auto* child = new QTreeWidgetItem(
            p.Root, QStringList(FromCp1251(FolderCaption(static_cast<MailFolder>(i + 1)))));
        child->setIcon(0, icon(folderIcons[i]));
    }
    p.tvMailBox->expandAll();
    QObject::connect(p.tvMailBox, &QTreeWidget::currentItemChanged, w,
                     [this] { RefreshLetterList(); });

    p.lvMail = new QTreeWidget;
    p.lvMail->setObjectName("lvMail");
    p.lvMail->setRootIsDecorated(false);
    p.lvMail->setSelectionMode(QAbstractItemView::ExtendedSelection);
    p.lvMail->setSelectionBehavior(QAbstractItemView::SelectRows);
    p.lvMail->setEditTriggers(QAbstractItemView::NoEditTriggers);
    p.lvMail->setColumnCount(7);
    p.lvMail->setHeaderLabels(
        {QString(), QString(), Q("От"), Q("Кому"), Q("Тема"), Q("Сохранено"), Q("Размер")});
    // The folder tree is as wide as its longest caption needs; the list takes the rest.
    int treeWidth = 153;
    const int iconWidth = p.tvMailBox->style()->pixelMetric(QStyle::PM_SmallIconSize);
    for (int i = 0; i < p.Root->childCount(); ++i)
        treeWidth = std::max(
            treeWidth, 2 * (p.tvMailBox->indentation() + p.tvMailBox->frameWidth()) + iconWidth +
                           2 * kCellPadding +
                           p.tvMailBox->fontMetrics().horizontalAdvance(p.Root->child(i)->text(0)));
    const int listWidth = kDesignedClientWidth - treeWidth - 2 * p.lvMail->frameWidth() -
                          p.lvMail->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const std::vector<int> widths = FittedColumnWidths(p.lvMail->fontMetrics(), listWidth);
    for (int c = 0; c < 7; ++c)
        p.lvMail->setColumnWidth(c, widths[static_cast<size_t>(c)]);
    p.lvMail->setColumnHidden(kFileNameColumn, true);
    p.lvMail->headerItem()->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    p.lvMail->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(p.lvMail, &QTreeWidget::itemSelectionChanged, w,
                     [this] { UpdateCommandState(); });
    return treeWidth;
}

void TMailForm::BuildListMenu() {
    TParts& p = *FParts;
    QWidget* w = p.Window;
    // Popup menu of the list.
    p.MailMenu = new QMenu(w);
    p.MailMenu->setObjectName("MailMenu");
    p.miResend = AddMenuItem(w, p.MailMenu, "miResend", "Переслать", [this] { miResendClick(); });
    p.miProcessMsg =
        AddMenuItem(w, p.MailMenu, "miProcessMsg", "Обработать", [this] { miProcessMsgClick(); });
    p.miDelete = AddMenuItem(w, p.MailMenu, "miDelete", "Удалить", [this] { miDeleteClick(); });
    p.MailMenu->addSeparator();
    AddMenuItem(w, p.MailMenu, "N3", "Выделить все", [this] { N3Click(); });
    QObject::connect(p.MailMenu, &QMenu::aboutToShow, w, [this] { MailMenuPopup(); });
    QObject::connect(p.lvMail, &QWidget::customContextMenuRequested, w, [this](const QPoint& at) {
        FParts->MailMenu->popup(FParts->lvMail->viewport()->mapToGlobal(at));
    });
}

QWidget* TMailForm::BuildBottomBand() {
    TParts& p = *FParts;
    // Bottom band: session log, attached-data panel, gauge.
    auto* band = new QWidget;
    band->setObjectName("PanelBottom");
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->setContentsMargins(0, 0, 0, 0);
    p.Memo1 = new QPlainTextEdit;
    p.Memo1->setObjectName("Memo1");
    p.Memo1->setReadOnly(true);
    p.Memo1->setMaximumBlockCount(kMaxLogLines);
    p.Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bandLayout->addWidget(p.Memo1, 1);
    p.PanelInfoMSG = new QWidget;
    p.PanelInfoMSG->setObjectName("PanelInfoMSG");
    p.PanelInfoMSG->setFixedWidth(240);
    auto* infoLayout = new QVBoxLayout(p.PanelInfoMSG);
    infoLayout->setContentsMargins(0, 0, 0, 0);
    infoLayout->addWidget(new QLabel(Q("Прикрепленные данные:        ")));
    p.mInfoMSG = new QPlainTextEdit;
    p.mInfoMSG->setObjectName("mInfoMSG");
    p.mInfoMSG->setReadOnly(true);
    infoLayout->addWidget(p.mInfoMSG);
    p.PanelInfoMSG->hide();
    bandLayout->addWidget(p.PanelInfoMSG);
    p.Gauge1 = new TPieGauge;
    p.Gauge1->setObjectName("Gauge1");
    p.Gauge1->setFixedWidth(101);
    p.Gauge1->hide();
    bandLayout->addWidget(p.Gauge1);
    return band;
}

void TMailForm::ShowStationOverview() {
    FOverview->ShowOverview();
}

TWindowHandle TMailForm::Handle() const {
    return FWindow->Handle();
}

QWidget* TMailForm::Widget() const {
    return FParts->Window;
}

LRESULT TMailForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_MAIL_START:
        // A request still queued when the module unloads starts nothing.
        if (!FClosing)
            StartMailSession(ReadMailStart(lParam));
        return 0;
    case WM_MAIL_LOG:
        if (const char* line = ReadMailLog(lParam))
            AddLogLine(line);
        return 0;
    case WM_MAIL_BEGIN: {
        const TMailTransfer transfer = ReadMailTransfer(wParam, lParam);
        SetGauge(transfer.Size, 0, true);
        FProgressKind = static_cast<int>(transfer.Direction);
        return 0;
    }
    case WM_MAIL_END: {
        const TMailTransfer transfer = ReadMailTransfer(wParam, lParam);
        FProgressKind = 0;
        SetGauge(transfer.Size, transfer.Size, false);
        return 0;
    }
    case WM_MAIL_PROGRESS:
        SetGauge(FGaugeMaximum, ReadMailProgress(lParam), GaugeVisible());
        return 0;
    case WM_MAIL_SESSION_END:
        if (FOverview->Visible())
            FOverview->Refresh();
        return 0;
    case WM_MAIL_REFRESH:
        if (Visible())
            RefreshLetterList();
        return 0;
    default:
        return 0;
    }
}

void TMailForm::StartMailSession(TSessionMode mode) {
    FRunner->Request(
        {mode, SessionWindow(), FContext ? FContext() : TSessionContext::FromModule()});
}

TLocalSide TMailForm::LocalSide() {
    return (FContext ? FContext() : TSessionContext::FromModule()).LocalSide();
}

TMailWindow TMailForm::SessionWindow() {
    TMailWindow w;
    w.Send = [handle = Handle()](unsigned msg, uintptr_t wParam, intptr_t lParam,
                                 bool synchronous) -> intptr_t {
        if (synchronous)
            return SendMessage(handle, msg, wParam, lParam);
        return PostMessage(handle, msg, wParam, lParam) ? 1 : 0;
    };
    // The form outlives every session (its destructor waits for them).
    w.OnWork = [this](TMxComponent& s, TMxWorkMode m, int64_t c) { MailClientWork(s, m, c); };
    w.OnWorkBegin = [this](TMxComponent& s, TMxWorkMode m, int64_t c) {
        MailClientWorkBegin(s, m, c);
    };
    w.OnWorkEnd = [this](TMxComponent& s, TMxWorkMode m) { MailClientWorkEnd(s, m); };
    return w;
}

TWindowServices& TMailForm::Services() {
    static THeadlessWindowServices headless;
    if (FContext)
        if (TWindowServices* services = FContext().WindowServices)
            return *services;
    return headless;
}

void TMailForm::MailClientWork(TMxComponent&, TMxWorkMode mode, int64_t count) {
    const int kind = FProgressKind.load();
    if ((kind == 1 && mode == TMxWorkMode::Read) || (kind == 2 && mode == TMxWorkMode::Write))
        PostMailMessage(Handle(), MailProgressMessage(count));
}

void TMailForm::MailClientWorkBegin(TMxComponent&, TMxWorkMode, int64_t) {}

void TMailForm::MailClientWorkEnd(TMxComponent&, TMxWorkMode) {}

void TMailForm::ShowMailbox() {
    QWidget* w = FParts->Window;
    if (!FParts->Centred) {
        FParts->Centred = true;
        if (QScreen* screen = w->screen())
            w->move(screen->availableGeometry().center() - w->rect().center());
    }
    w->show();
    w->raise();
    w->activateWindow();
}

bool TMailForm::Visible() const {
    return FParts->Window->isVisible();
}

void TMailForm::FormShow() {
    TParts& p = *FParts;
    FProgressKind = 0;
    p.Memo1->clear();
    FLogLines.clear();
    p.miMail->setVisible(false);
    const bool station = ModuleSide() == TModuleSide::Station;
    const bool office = ModuleSide() == TModuleSide::Office;
    p.miCreateConfigMail->setVisible(!station);
    p.miCreateAllConfigMail->setVisible(!station);
    p.btnCrQuery->setVisible(!station);
    p.btnCrQueryAll->setVisible(!station);
    p.miStationOverview->setVisible(office);
    p.btnStationOverview->setVisible(office);
    p.miCreateReportMail->setVisible(!office);
    p.btnCrReport->setVisible(!office);

    p.Root->setText(0, FromCp1251(StationCode()));
    p.tvMailBox->setCurrentItem(p.Root->child(1));

    const bool settingsLocked = HostParamInt(kHostParamSettingsLocked) != 0;
    p.btnProp->setEnabled(!settingsLocked);
    p.N6->setEnabled(!settingsLocked);
    p.N6->menuAction()->setEnabled(!settingsLocked);

    MailCancelRequested = false;

    if (HostParamInt(kHostParamWorkMode) != kHostWorkModeAttachedData)
        p.Window->setWindowTitle(Q("E-mail. Название АЗС: ") + '"' +
                                 FromCp1251(HostParam(kHostParamStationName).ToString()) + '"');
}

void TMailForm::FormClose() {
    if (MailReceiving) {
        MailCancelRequested = true;
        for (int i = 0; i < kCloseWaitRounds && MailReceiving; ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(kCloseWaitStep);
        }
    }
}

std::optional<MailFolder> TMailForm::SelectedFolder() const {
    QTreeWidgetItem* current = FParts->tvMailBox->currentItem();
    if (!current || current == FParts->Root)
        return std::nullopt;
    return static_cast<MailFolder>(FParts->Root->indexOfChild(current) + 1);
}

void TMailForm::SetFlatButtons(bool process, bool resend, bool remove) {
    FParts->bProcessMsg->setEnabled(process);
    FParts->bResend->setEnabled(resend);
    FParts->bDeleteMail->setEnabled(remove);
}

void TMailForm::RefreshLetterList() {
    TParts& p = *FParts;
    {
        const QSignalBlocker quiet(p.lvMail);
        p.lvMail->clear();
    }
    const auto folder = SelectedFolder();
    if (!folder) {
        SetFlatButtons(false, false, false);
        p.PanelInfoMSG->hide();
        return;
    }
    {
        // One command-state update once the rows are in, not one per row.
        const QSignalBlocker quiet(p.lvMail);
        StoredLetterListVar letters;
        StoredLetterList noLetters;
        try {
            LoadFolderHeaders(letters, *folder);
            const std::string folderPath = FolderPath(MailSettingsSnapshot().MailDir, *folder);
            const QIcon letterIcon = p.Window->style()->standardIcon(QStyle::SP_FileIcon);
            for (TStoredLetter& entry : letters ? *letters : noLetters) {
                const std::string name = entry.FileName();
                const int64_t size = FileSize(folderPath + name);
                if (size < 0)
                    break; // the file went away: the rows so far stay
                TMxMessage& letter = *entry.Letter;
                auto* row = new QTreeWidgetItem(p.lvMail);
                row->setText(kFileNameColumn, FromCp1251(name));
                row->setIcon(kIconColumn, letterIcon);
                row->setText(2, FromCp1251(letter.From().Text()));
                row->setText(3, FromCp1251(letter.Recipients.EMailAddresses()));
                row->setText(4, FromCp1251(letter.Subject));
                row->setText(5, FromCp1251(FormatSavedDate(letter.Date)));
                row->setText(kSizeColumn, FromCp1251(FormatLetterSize(size)));
                row->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
            }
        } catch (...) { // NOLINT(bugprone-empty-catch): the rows added so far stay
        }
        if (p.lvMail->topLevelItemCount() > 0)
            p.lvMail->topLevelItem(0)->setSelected(true);
    }
    if (p.lvMail->topLevelItemCount() == 0) {
        SetFlatButtons(false, false, false);
        return;
    }
    p.lvMail->setCurrentItem(p.lvMail->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    UpdateCommandState();
}

void TMailForm::UpdateCommandState() {
    TParts& p = *FParts;
    const auto selected = SelectedFileNames();
    const auto folder = SelectedFolder();
    if (selected.empty() || !folder) {
        p.PanelInfoMSG->hide();
        SetFlatButtons(false, false, false);
        return;
    }
    SetFlatButtons(*folder == MailFolder::InBox, *folder == MailFolder::Sent, true);
    if (HostParamInt(kHostParamWorkMode) == kHostWorkModeAttachedData) {
        const std::string info = GetAttachedDataInfo(selected.front(), *folder);
        p.mInfoMSG->setPlainText(FromCp1251(info));
        p.PanelInfoMSG->setVisible(!info.empty());
    }
}

void TMailForm::MailMenuPopup() {
    TParts& p = *FParts;
    const auto folder = SelectedFolder();
    if (SelectedFileNames().empty() || !folder) {
        p.miResend->setVisible(false);
        p.miDelete->setVisible(false);
        p.miProcessMsg->setVisible(false);
        return;
    }
    p.miDelete->setVisible(true);
    p.miProcessMsg->setVisible(*folder == MailFolder::InBox);
    p.miResend->setVisible(*folder == MailFolder::Sent);
}

std::vector<std::string> TMailForm::SelectedFileNames() const {
    std::vector<std::string> names;
    QTreeWidget* list = FParts->lvMail;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected())
            names.push_back(ru(list->topLevelItem(i)->text(kFileNameColumn).toStdString()));
    return names;
}

void TMailForm::btnGetMailClick() {
    PostMailMessage(Handle(), MailStartMessage(TSessionMode::Full));
}

void TMailForm::btnSendMailClick() {
    PostMailMessage(Handle(), MailStartMessage(TSessionMode::SendOnly));
}

void TMailForm::OnGetMail() {
    if (MailSettingsSnapshot().ShowWnd)
        ShowMailbox();
    btnGetMailClick();
}

void TMailForm::OnSendMail() {
    if (MailSettingsSnapshot().ShowWnd)
        ShowMailbox();
    btnSendMailClick();
}

void TMailForm::btnPropClick() {
    if (FCommands.Settings)
        FCommands.Settings();
}

void TMailForm::miResendClick() {
    const auto folder = SelectedFolder();
    const auto names = SelectedFileNames();
    if (folder && (names.size() >= 2 || (names.size() == 1 && *folder == MailFolder::Sent))) {
        const std::string stationCode = LocalSide().StationCode;
        for (const std::string& name : names)
            MoveLetterToOutBox(name, *folder, stationCode);
    }
    RefreshLetterList();
}

void TMailForm::miDeleteClick() {
    const auto folder = SelectedFolder();
    const auto names = SelectedFileNames();
    if (folder && !names.empty())
        for (auto it = names.rbegin(); it != names.rend(); ++it)
            DeleteLetterFile(*it, *folder);
    RefreshLetterList();
}

void TMailForm::miProcessMsgClick() {
    if (SelectedFolder() != MailFolder::InBox)
        return;
    ProcessInBoxLetters(SelectedFileNames(), LocalSide(), Services());
}

void TMailForm::N3Click() {
    FParts->lvMail->selectAll();
}

void TMailForm::AutoGetMailTimerTimer() {
    try {
        const MailSettings settings = MailSettingsSnapshot();
        if (!settings.AutoGetMail)
            return;
        TDateTime last = 0;
        if (!ReadAutoGetMailLastDate(last))
            last = 0; // never collected: due at once
        const TDateTime due = last + settings.AutoGetMailPeriod / 24.0;
        const TDateTime now = FClock();
        if (now <= due)
            return;
        WriteAutoGetMailLastDate(now);
        OnGetMail();
    } catch (const std::exception& e) {
        try {
            WriteActivityLog(e.what());
        } catch (...) { // NOLINT(bugprone-empty-catch): the next tick tries again
        }
    }
}

void TMailForm::SetClock(std::function<TDateTime()> clock) {
    FClock = clock ? std::move(clock) : std::function<TDateTime()>(&Now);
}

std::vector<std::string> TMailForm::LogLines() const {
    return {FLogLines.begin(), FLogLines.end()};
}

bool TMailForm::GaugeVisible() const {
    return !FParts->Gauge1->isHidden();
}

void TMailForm::AddLogLine(const std::string& text) {
    FLogLines.push_back(text);
    while (FLogLines.size() > static_cast<size_t>(kMaxLogLines))
        FLogLines.pop_front();
    FParts->Memo1->appendPlainText(FromCp1251(text));
}

void TMailForm::SetGauge(int64_t maximum, int64_t position, bool visible) {
    FGaugeMaximum = maximum;
    FGaugePosition = position;
    FParts->Gauge1->SetMaximum(maximum);
    FParts->Gauge1->SetPosition(position);
    FParts->Gauge1->setVisible(visible);
}

} // namespace tzn
