// The headless host's user at the shift dialog: once the plug-in shows its dialog
// ("SmListForm"), the rows whose shift number is listed are ticked and OK is pressed. A
// listed shift that the dialog does not list is an error: the dialog is cancelled instead.
#pragma once

#include <QObject>
#include <QTimer>

#include <string>
#include <vector>

namespace tzn {

class TShiftDialogAnswer final : public QObject {
public:
    // `shifts` in UTF-8. Watches from now on, also inside the dialog's own event loop.
    explicit TShiftDialogAnswer(std::vector<std::string> shifts);

    bool Answered() const { return FAnswered; }
    // Why the dialog was cancelled; empty when OK was pressed.
    const std::string& Error() const { return FError; }

private:
    void Poll();

    std::vector<std::string> FShifts;
    QTimer FTimer;
    bool FAnswered = false;
    std::string FError;
};

} // namespace tzn
