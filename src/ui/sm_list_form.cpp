#include "ui/sm_list_form.h"

#include "platform/cp1251.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tzn {
namespace {

constexpr int kModalOk = 1;
constexpr int kModalCancel = 2;
// The item keeps the shift number's own bytes, so that a number the widget cannot show
// exactly still comes back unchanged.
constexpr int kSmNumRole = Qt::UserRole;

QString Text(const std::string& cp1251) {
    return QString::fromStdString(Utf8FromCp1251(cp1251));
}

// Draws each cell as usual and then its grid lines.
class TGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->restore();
    }
};

} // namespace

TSmListForm::TSmListForm(TShiftList& list) : FList(list) {
    FDialog = std::make_unique<QDialog>(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    FDialog->setObjectName("SmListForm");
    FDialog->setWindowTitle(QString::fromUtf8("Выбор смены"));
    FDialog->setSizeGripEnabled(true);
    FDialog->resize(422, 431);

    auto* layout = new QVBoxLayout(FDialog.get());
    layout->setContentsMargins(0, 0, 0, 6);
    FShifts = new QTreeWidget(FDialog.get());
    FShifts->setObjectName("lvShifts");
    FShifts->setMinimumHeight(100);
    FShifts->setRootIsDecorated(false);
    FShifts->setAllColumnsShowFocus(true);
    FShifts->setSelectionBehavior(QAbstractItemView::SelectRows);
    FShifts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FShifts->setItemDelegate(new TGridDelegate(FShifts));
    FShifts->header()->setSectionsClickable(false);
    FShifts->setHeaderLabels({QString::fromUtf8("№ смены"), QString::fromUtf8("Время открытия"),
                              QString::fromUtf8("Время закрытия"), QString::fromUtf8("Оператор")});
    const int widths[] = {60, 120, 120, 100};
    for (int c = 0; c < 4; ++c)
        FShifts->setColumnWidth(c, widths[c]);
    // The selection stays visible when the list loses focus.
    QPalette pal = FShifts->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    FShifts->setPalette(pal);
    layout->addWidget(FShifts, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton("OK", FDialog.get());
    ok->setObjectName("OKBtn");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QString::fromUtf8("Отмена"), FDialog.get());
    cancel->setObjectName("CancelBtn");
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addSpacing(6);
    layout->addLayout(buttons);

    QObject::connect(ok, &QPushButton::clicked, FDialog.get(), [this] { OKBtnClick(); });
    QObject::connect(cancel, &QPushButton::clicked, FDialog.get(),
                     [this] { FDialog->done(kModalCancel); });
    QObject::connect(FShifts, &QTreeWidget::itemChanged, FDialog.get(),
                     [this](QTreeWidgetItem* item, int column) {
                         if (column == 0)
                             PaintRow(item);
                     });
}

TSmListForm::~TSmListForm() = default;

int TSmListForm::ShowModal() {
    FormShow();
    if (FGeometry.isValid())
        FDialog->setGeometry(FGeometry);
    const int result = FDialog->exec();
    FGeometry = FDialog->geometry();
    return result == kModalOk ? kModalOk : kModalCancel;
}

void TSmListForm::FormShow() {
    const QSignalBlocker quiet(FShifts);
    FShifts->clear();
    for (const TShiftRecord& row : FList.Rows()) {
        auto* item = new QTreeWidgetItem(
            FShifts, {Text(row.SmNum), Text(row.BegTime), Text(row.EndTime), Text(row.Operator)});
        item->setData(0, kSmNumRole, QByteArray::fromStdString(row.SmNum));
        item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
        item->setCheckState(0, Qt::Unchecked);
        PaintRow(item);
    }
}

void TSmListForm::OKBtnClick() {
    std::vector<std::string> ticked;
    try {
        for (int i = 0; i < FShifts->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = FShifts->topLevelItem(i);
            if (item->checkState(0) == Qt::Checked)
                ticked.push_back(item->data(0, kSmNumRole).toByteArray().toStdString());
        }
    } catch (...) {
        // What was collected before the failure is what the user gets; OK still holds.
    }
    FList.SetSelectedShifts(std::move(ticked));
    FDialog->done(kModalOk);
}

void TSmListForm::PaintRow(QTreeWidgetItem* item) {
    // A ticked row stands out in the selection colours, an unticked one is plain. Painting is
    // not a change the list reports.
    const QSignalBlocker quiet(FShifts);
    const QPalette& pal = FShifts->palette();
    const bool ticked = item->checkState(0) == Qt::Checked;
    const QBrush back = pal.brush(ticked ? QPalette::Highlight : QPalette::Base);
    const QBrush text = pal.brush(ticked ? QPalette::HighlightedText : QPalette::Text);
    for (int c = 0; c < FShifts->columnCount(); ++c) {
        item->setBackground(c, back);
        item->setForeground(c, text);
    }
}

} // namespace tzn
