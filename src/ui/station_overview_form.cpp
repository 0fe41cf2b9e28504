#include "ui/station_overview_form.h"

#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "store/exchange_ledger.h"
#include "tznmail/host.h"

#include <QColor>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <exception>

namespace tzn {
namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString FromCp1251(const std::string& text) {
    return QString::fromStdString(Utf8FromCp1251(text));
}

QString When(std::time_t t) {
    if (t == 0)
        return Q("нет");
    return FromCp1251(FormatDateTime("dd.mm.yyyy hh:nn", DateTimeFromUnix(t)));
}

// "2 д 5 ч", "5 ч", "менее часа".
QString Age(std::time_t since, std::time_t now) {
    const long long hours = since < now ? (now - since) / 3600 : 0;
    if (hours == 0)
        return Q("менее часа");
    if (hours < 24)
        return QString::number(hours) + Q(" ч");
    return QString::number(hours / 24) + Q(" д ") + QString::number(hours % 24) + Q(" ч");
}

// The cells of the day strip.
constexpr int kCellWidth = 11;
constexpr int kCellHeight = 14;
constexpr int kCellGap = 2;

QColor MarkColour(TDayMark mark) {
    switch (mark) {
    case TDayMark::Data:
        return {67, 160, 71};
    case TDayMark::Letter:
        return {251, 192, 45};
    default:
        return {224, 224, 224};
    }
}

QPixmap DayStrip(const TStationRow& row) {
    QPixmap strip(kOverviewDays * (kCellWidth + kCellGap), kCellHeight);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    for (int d = 0; d < kOverviewDays; ++d)
        painter.fillRect(d * (kCellWidth + kCellGap), 0, kCellWidth, kCellHeight,
                         MarkColour(row.Days[static_cast<size_t>(d)]));
    return strip;
}

// The strip's days named, for its tool tip: "20.07: данные".
QString DayStripHint(const TStationRow& row, std::time_t now) {
    QString hint;
    for (int d = 0; d < kOverviewDays; ++d) {
        const std::time_t day = now - static_cast<std::time_t>(kOverviewDays - 1 - d) * 86400;
        const TDayMark mark = row.Days[static_cast<size_t>(d)];
        hint += FromCp1251(FormatDateTime("dd.mm", DateTimeFromUnix(day))) + ": " +
                (mark == TDayMark::Data     ? Q("данные приняты")
                 : mark == TDayMark::Letter ? Q("письмо без принятых данных")
                                            : Q("ничего")) +
                (d + 1 < kOverviewDays ? "\n" : "");
    }
    return hint;
}

} // namespace

TStationOverview LoadStationOverview(THostServices* host, const MailSettings& settings,
                                     std::time_t now) {
    TStationOverview view;
    view.Now = now;
    view.LateHours = settings.LateHours > 0 ? settings.LateHours : kDefaultLateHours;
    std::vector<TLedgerRecord> records;
    try {
        records = TExchangeLedger(settings.MailDir).Load();
    } catch (const std::exception& e) {
        view.Error = e.what();
        return view;
    }
    std::vector<TListedStation> listed;
    try {
        listed = host ? HostStationList(*host) : LatestStationList(records);
    } catch (...) {
        // A host that fails to list its stations: the list the sessions noted stands in.
        listed = LatestStationList(records);
    }
    view.Rows = BuildStationOverview(records, listed, now, view.LateHours);
    return view;
}

TStationOverviewForm::TStationOverviewForm(std::function<TStationOverview()> source)
    : FSource(std::move(source)), FWindow(std::make_unique<QWidget>()) {
    QWidget* w = FWindow.get();
    w->setObjectName("StationOverviewForm");
    w->setWindowTitle(Q("Сводка по АЗС"));
    w->setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(w);

    auto* top = new QHBoxLayout;
    FSummary = new QLabel;
    FSummary->setObjectName("lSummary");
    top->addWidget(FSummary, 1);
    auto* refresh = new QPushButton(Q("Обновить"));
    refresh->setObjectName("btnRefresh");
    QObject::connect(refresh, &QPushButton::clicked, w, [this] { Refresh(); });
    top->addWidget(refresh);
    layout->addLayout(top);

    FList = new QTreeWidget;
    FList->setObjectName("lvStations");
    FList->setRootIsDecorated(false);
    FList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FList->setSortingEnabled(false);
    FList->setHeaderLabels({Q("Состояние"), Q("Код"), Q("АЗС"), Q("Последнее письмо"),
                            Q("Последние данные"), Q("Запрос отправлен"), Q("Ждет ответа"),
                            Q("14 дней")});
    FList->setIconSize(QSize(kOverviewDays * (kCellWidth + kCellGap), kCellHeight));
    layout->addWidget(FList, 1);

    auto* legend = new QHBoxLayout;
    for (TDayMark mark : {TDayMark::Data, TDayMark::Letter, TDayMark::None}) {
        QPixmap cell(kCellWidth, kCellHeight);
        cell.fill(MarkColour(mark));
        auto* swatch = new QLabel;
        swatch->setPixmap(cell);
        legend->addWidget(swatch);
        legend->addWidget(new QLabel(mark == TDayMark::Data ? Q("данные приняты")
                                     : mark == TDayMark::Letter ? Q("письмо без принятых данных")
                                                                : Q("ничего не получено")));
        legend->addSpacing(12);
    }
    legend->addStretch();
    layout->addLayout(legend);
    w->resize(1090, 440);
}

TStationOverviewForm::~TStationOverviewForm() = default;

QWidget* TStationOverviewForm::Widget() const {
    return FWindow.get();
}

bool TStationOverviewForm::Visible() const {
    return FWindow->isVisible();
}

void TStationOverviewForm::ShowOverview() {
    Refresh();
    FWindow->show();
    FWindow->raise();
    FWindow->activateWindow();
}

void TStationOverviewForm::Refresh() {
    const TStationOverview view = FSource ? FSource() : TStationOverview{};
    FList->clear();
    int late = 0;
    const QColor lateBackground(255, 224, 224);
    for (const TStationRow& row : view.Rows) {
        auto* item = new QTreeWidgetItem(FList);
        if (row.Late) {
            ++late;
            item->setText(State, row.LastLetter == 0
                                     ? Q("опаздывает: писем нет")
                                     : Q("опаздывает: ") + Age(row.LastLetter, view.Now));
        } else {
            item->setText(State, Q("в срок"));
        }
        item->setText(Code, FromCp1251(row.Code));
        item->setText(Name, row.Name.empty() && !row.Listed ? Q("(нет в списке АЗС)")
                                                            : FromCp1251(row.Name));
        item->setText(LastLetter, When(row.LastLetter));
        item->setText(LastData, When(row.LastData));
        item->setText(Request, row.OpenRequest ? When(row.OpenRequest) : QString());
        item->setText(Waiting, row.OpenRequest ? Age(row.OpenRequest, view.Now) : QString());
        item->setIcon(Days, QIcon(DayStrip(row)));
        item->setData(Days, Qt::UserRole, QString::fromStdString(row.DayStrip()));
        item->setToolTip(Days, DayStripHint(row, view.Now));
        if (row.Late) {
            QFont bold = item->font(State);
            bold.setBold(true);
            for (int c = 0; c <= Days; ++c) {
                item->setBackground(c, lateBackground);
                item->setFont(c, bold);
            }
        }
    }
    for (int c = 0; c < Days; ++c)
        FList->resizeColumnToContents(c);
    // The whole strip, today included, whatever the header's text needs.
    FList->setColumnWidth(
        Days, std::max(FList->iconSize().width() + 16, FList->header()->sectionSizeHint(Days)));
    if (!view.Error.empty())
        FSummary->setText(Q("Журнал обмена не прочитан: ") + FromCp1251(view.Error));
    else
        FSummary->setText(Q("АЗС: ") + QString::number(view.Rows.size()) + Q(", опаздывают: ") +
                          QString::number(late) + Q(" (ничего не получено дольше ") +
                          QString::number(view.LateHours) + Q(" ч)"));
}

} // namespace tzn
