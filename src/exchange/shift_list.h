// The shift log rows a station chooses its report from. The preparation thread fills the list
// from the application server; the shift dialog shows it on the window thread and records the
// ticked shifts. The two never touch one list at the same time for one run, but a list lives
// from Load to UnLoad and is reached from both threads, so every access takes its lock.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace tzn {

// One row of the shift log, every field as text.
struct TShiftRecord {
    std::string SmNum;
    std::string BegTime;
    std::string EndTime;
    std::string Operator;
};

// The dialog's rows (in the order the server delivers them, kept between runs) and the
// numbers of the shifts ticked at the last OK.
class TShiftList {
public:
    std::vector<TShiftRecord> Rows() const {
        std::lock_guard lock(FLock);
        return FRows;
    }
    void SetRows(std::vector<TShiftRecord> rows) {
        std::lock_guard lock(FLock);
        FRows = std::move(rows);
    }
    void AppendRow(TShiftRecord row) {
        std::lock_guard lock(FLock);
        FRows.push_back(std::move(row));
    }
    std::vector<std::string> SelectedShifts() const {
        std::lock_guard lock(FLock);
        return FSelectedShifts;
    }
    void SetSelectedShifts(std::vector<std::string> shifts) {
        std::lock_guard lock(FLock);
        FSelectedShifts = std::move(shifts);
    }

private:
    mutable std::mutex FLock;
    std::vector<TShiftRecord> FRows;
    std::vector<std::string> FSelectedShifts;
};

// The modal shift dialog as the preparation sees it. ShowModal runs on the window thread: it
// lists the rows unticked, and on OK stores the ticked numbers (top to bottom) as the list's
// SelectedShifts and returns 1; cancel or the close box return another value and leave
// SelectedShifts as it was.
class TShiftDialog {
public:
    virtual int ShowModal() = 0;

protected:
    ~TShiftDialog() = default;
};

} // namespace tzn
