// TSmListForm: the shift dialog. It shows the shift log rows of a TShiftList with a check box
// each and, on OK, stores the ticked shift numbers back into the list. The window is created
// hidden with the form and lives until the form goes; between showings it keeps its position
// and size.
#pragma once

#include "exchange/shift_list.h"

#include <QRect>

#include <memory>

class QDialog;
class QTreeWidget;
class QTreeWidgetItem;

namespace tzn {

class TSmListForm : public TShiftDialog {
public:
    // Creates the hidden dialog on the window thread (a Qt application exists).
    explicit TSmListForm(TShiftList& list);
    ~TSmListForm();
    TSmListForm(const TSmListForm&) = delete;
    TSmListForm& operator=(const TSmListForm&) = delete;

    // Modal showing (window thread): 1 after OK, 2 after cancel or the close box.
    int ShowModal() override;

    // The parts of a showing, for the host's scripted use and the tests.
    // Rebuilds the list from the rows, every item unticked.
    void FormShow();
    // Records the ticked numbers (top to bottom) and closes with OK.
    void OKBtnClick();
    QDialog* Widget() const { return FDialog.get(); }

private:
    void PaintRow(QTreeWidgetItem* item);

    TShiftList& FList;
    std::unique_ptr<QDialog> FDialog;
    QTreeWidget* FShifts = nullptr;
    QRect FGeometry; // where the user left the dialog last time; empty before the first showing
};

} // namespace tzn
