// The shift dialog: its rows, the ticked numbers OK hands back in list order, and cancel
// leaving the earlier choice alone.
#include "platform/cp1251.h"
#include "ui/sm_list_form.h"

#include "qt_environment.h"

#include <QDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace tzn {
namespace {

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new test::QtEnvironment);

using Strings = std::vector<std::string>;

QTreeWidget* Shifts(const TSmListForm& form) {
    return form.Widget()->findChild<QTreeWidget*>("lvShifts");
}

void ThreeShifts(TShiftList& list) {
    list.SetRows({{"41", "01.03.2026 08:00:00", "01.03.2026 20:00:00", ru("Иванова")},
                  {"42", "01.03.2026 20:00:00", "02.03.2026 08:00:00", ru("Петров")},
                  {"43", "02.03.2026 08:00:00", "", ru("Сидорова Ё.")}});
}

TEST(SmListFormTest, ListsTheRowsUntickedUnderTheFourColumns) {
    TShiftList list;
    ThreeShifts(list);
    TSmListForm form(list);
    EXPECT_EQ(form.Widget()->objectName(), "SmListForm");
    EXPECT_EQ(form.Widget()->windowTitle(), QString::fromUtf8("Выбор смены"));
    EXPECT_TRUE(form.Widget()->windowFlags() & ::Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form.Widget()->isVisible());

    form.FormShow();
    QTreeWidget* lv = Shifts(form);
    ASSERT_NE(lv, nullptr);
    EXPECT_EQ(lv->headerItem()->text(0), QString::fromUtf8("№ смены"));
    EXPECT_EQ(lv->headerItem()->text(3), QString::fromUtf8("Оператор"));
    EXPECT_EQ(lv->columnWidth(0), 60);
    EXPECT_EQ(lv->columnWidth(2), 120);
    EXPECT_FALSE(lv->header()->sectionsClickable());
    ASSERT_EQ(lv->topLevelItemCount(), 3);
    const QTreeWidgetItem* third = lv->topLevelItem(2);
    EXPECT_EQ(third->text(0), "43");
    EXPECT_EQ(third->text(1), "02.03.2026 08:00:00");
    EXPECT_EQ(third->text(3), QString::fromUtf8("Сидорова Ё."));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(lv->topLevelItem(i)->checkState(0), ::Qt::Unchecked);
    EXPECT_FALSE(third->flags() & ::Qt::ItemIsEditable);
}

TEST(SmListFormTest, OkReturnsTheTickedNumbersTopToBottomInTheirColours) {
    TShiftList list;
    ThreeShifts(list);
    TSmListForm form(list);
    form.FormShow();
    QTreeWidget* lv = Shifts(form);
    const QPalette& pal = lv->palette();
    // Tick the third row first: the order handed back is the list's.
    lv->topLevelItem(2)->setCheckState(0, ::Qt::Checked);
    lv->topLevelItem(0)->setCheckState(0, ::Qt::Checked);
    EXPECT_EQ(lv->topLevelItem(2)->background(1).color(), pal.color(QPalette::Highlight));
    EXPECT_EQ(lv->topLevelItem(2)->foreground(3).color(), pal.color(QPalette::HighlightedText));
    EXPECT_EQ(lv->topLevelItem(1)->background(1).color(), pal.color(QPalette::Base));
    lv->topLevelItem(0)->setCheckState(0, ::Qt::Unchecked);
    EXPECT_EQ(lv->topLevelItem(0)->background(0).color(), pal.color(QPalette::Base));
    lv->topLevelItem(0)->setCheckState(0, ::Qt::Checked);

    form.OKBtnClick();
    EXPECT_EQ(list.SelectedShifts(), (Strings{"41", "43"}));
    EXPECT_EQ(form.Widget()->result(), 1);

    // A new showing starts unticked again; an empty log gives an empty choice.
    list.SetRows({});
    form.FormShow();
    EXPECT_EQ(lv->topLevelItemCount(), 0);
    form.OKBtnClick();
    EXPECT_TRUE(list.SelectedShifts().empty());
}

// Runs `action` once the modal dialog's event loop runs.
class TLater {
public:
    explicit TLater(const std::function<void()>& action) {
        FTimer.setSingleShot(true);
        QObject::connect(&FTimer, &QTimer::timeout, action);
        FTimer.start(0);
    }

private:
    QTimer FTimer;
};

// Clicks the named button of the open dialog, after `before`.
std::function<void()> Click(const TSmListForm& form, const char* button,
                            const std::function<void()>& before) {
    return [&form, button, before] {
        before();
        form.Widget()->findChild<QPushButton*>(button)->click();
    };
}

TEST(SmListFormTest, ModalShowingMapsTheButtonsAndRemembersWhereItWas) {
    TShiftList list;
    ThreeShifts(list);
    list.SetSelectedShifts({"7"});
    TSmListForm form(list);

    {
        const TLater cancel(Click(form, "CancelBtn", [&] {
            Shifts(form)->topLevelItem(1)->setCheckState(0, ::Qt::Checked);
            form.Widget()->setGeometry(40, 50, 500, 460);
        }));
        EXPECT_EQ(form.ShowModal(), 2);
    }
    EXPECT_EQ(list.SelectedShifts(), Strings{"7"});

    // The next showing opens where the last one was left, with nothing ticked.
    QRect seen;
    {
        const TLater ok(Click(form, "OKBtn", [&] { seen = form.Widget()->geometry(); }));
        EXPECT_EQ(form.ShowModal(), 1);
    }
    EXPECT_EQ(seen, QRect(40, 50, 500, 460));
    EXPECT_TRUE(list.SelectedShifts().empty());

    // The close box is a cancel.
    const TLater close([&form] { form.Widget()->close(); });
    EXPECT_EQ(form.ShowModal(), 2);
}

} // namespace
} // namespace tzn
