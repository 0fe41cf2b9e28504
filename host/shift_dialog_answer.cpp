#include "host/shift_dialog_answer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>

namespace tzn {

TShiftDialogAnswer::TShiftDialogAnswer(std::vector<std::string> shifts)
    : FShifts(std::move(shifts)) {
    connect(&FTimer, &QTimer::timeout, this, [this] { Poll(); });
    FTimer.start(20);
}

void TShiftDialogAnswer::Poll() {
    if (FAnswered)
        return;
    QWidget* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "SmListForm" && w->isVisible())
            dialog = w;
    if (!dialog)
        return;
    auto* list = dialog->findChild<QTreeWidget*>("lvShifts");
    auto* ok = dialog->findChild<QAbstractButton*>("OKBtn");
    auto* cancel = dialog->findChild<QAbstractButton*>("CancelBtn");
    FAnswered = true;
    FTimer.stop();
    if (!list || !ok || !cancel) {
        // Not the dialog this host knows how to answer: closing it is its cancel, and the
        // host's wait goes on to the preparation's end instead of hanging in its loop.
        FError = "the shift dialog lacks its list \"lvShifts\" or its buttons";
        dialog->close();
        return;
    }
    std::vector<std::string> missing = FShifts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        const std::string number = item->text(0).toStdString();
        if (std::find(FShifts.begin(), FShifts.end(), number) == FShifts.end())
            continue;
        item->setCheckState(0, Qt::Checked);
        missing.erase(std::remove(missing.begin(), missing.end(), number), missing.end());
    }
    if (missing.empty()) {
        ok->click();
        return;
    }
    FError = "the shift list has no shift " + missing.front();
    cancel->click();
}

} // namespace tzn
