// TZNMail host interface.
//
// A host application loads libtznmail.so (dlopen), looks up the nine exports below by name and
// calls Load on its window thread with a THostServices object of its own. The plug-in keeps
// that object, without owning it, until the host unloads it, and calls it from the window
// thread and from its worker threads (mail session, data preparation) without a lock of its
// own: the host's implementation must be thread-safe.
//
// Host and plug-in are built by the same toolchain, so the boundary uses C++ types. Every
// string is a byte string in Windows-1251.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace tzn {

// The value returned by THostServices::GetParamValue: empty, an integer, a floating-point
// number, a boolean or a string.
class THostVariant {
public:
    enum class TType { Empty, Integer, Float, Boolean, String };

    THostVariant() = default;
    THostVariant(int v) : FType(TType::Integer), FInt(v) {}
    THostVariant(int64_t v) : FType(TType::Integer), FInt(v) {}
    THostVariant(double v) : FType(TType::Float), FFloat(v) {}
    THostVariant(bool v) : FType(TType::Boolean), FInt(v ? 1 : 0) {}
    THostVariant(std::string v) : FType(TType::String), FStr(std::move(v)) {}
    THostVariant(const char* v) : FType(TType::String), FStr(v ? v : "") {}

    TType GetType() const { return FType; }
    bool IsEmpty() const { return FType == TType::Empty; }

    // Conversions as the module applies them. ToInteger: empty is 0, a float is rounded, a
    // string must hold a whole decimal number (blanks around it allowed), else
    // std::invalid_argument is thrown.
    int64_t ToInteger() const {
        switch (FType) {
        case TType::Empty:
            return 0;
        case TType::Float:
            return static_cast<int64_t>(FFloat < 0 ? FFloat - 0.5 : FFloat + 0.5);
        case TType::String: {
            const size_t b = FStr.find_first_not_of(" \t");
            const size_t e = FStr.find_last_not_of(" \t");
            const std::string t = b == std::string::npos ? "" : FStr.substr(b, e - b + 1);
            size_t used = 0;
            int64_t v = 0;
            try {
                v = std::stoll(t, &used, 10);
            } catch (const std::exception&) {
                used = 0;
            }
            if (t.empty() || used != t.size())
                throw std::invalid_argument("Could not convert variant of type (String) into "
                                            "type (Integer): \"" +
                                            FStr + "\"");
            return v;
        }
        default:
            return FInt;
        }
    }
    // Empty gives "", numbers their decimal text, booleans "True"/"False".
    std::string ToString() const {
        switch (FType) {
        case TType::Empty:
            return "";
        case TType::Integer:
            return std::to_string(FInt);
        case TType::Float: {
            std::string s = std::to_string(FFloat);
            while (s.find('.') != std::string::npos && (s.back() == '0' || s.back() == '.'))
                s.pop_back();
            return s;
        }
        case TType::Boolean:
            return FInt ? "True" : "False";
        default:
            return FStr;
        }
    }

private:
    TType FType = TType::Empty;
    int64_t FInt = 0;
    double FFloat = 0;
    std::string FStr;
};

// One item of the host's main menu. Items belong to the host: the plug-in never deletes them.
// It keeps the items it gave a click handler only until UnLoad, which clears those handlers
// (SetOnClick with an empty handler): after UnLoad the plug-in holds no item and no handler of
// the host's, so the host may then free its items, click them, or unload the library.
class THostMenuItem {
public:
    // Called on the host's window thread when the user picks the item.
    using ClickHandler = std::function<void(THostMenuItem* sender)>;

    virtual std::string GetCaption() const = 0; // may hold "&" hotkey markers
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string GetHint() const = 0;
    virtual void SetHint(const std::string& hint) = 0;
    virtual int GetHelpContext() const = 0;
    virtual void SetHelpContext(int context) = 0;
    virtual int GetShortCut() const = 0; // 0: none
    virtual void SetShortCut(int shortcut) = 0;
    virtual ClickHandler GetOnClick() const = 0;
    virtual void SetOnClick(ClickHandler handler) = 0; // empty: none (separators, submenus)
    virtual int Count() const = 0;                     // number of children
    virtual THostMenuItem* Item(int index) = 0;        // child by index, 0-based

protected:
    ~THostMenuItem() = default;
};

// A station as the host reports it (GetStation).
struct THostStation {
    std::string Key;  // what MakeStationRequestFile takes
    std::string Code; // the station code, as GetStationCode reports it on that station
    std::string Name; // for display
};

// The host's services, in slot order (the order matters to hosts written against the
// original slot table; slot 5 is a placeholder the plug-in never calls).
// The host parameters the plug-in reads with GetParamValue. The numbers are the contract with
// hosts and stay as they are.
enum THostParam : int {
    kHostParamAppServer = 7,      // the application server's computer name; empty: this one
    kHostParamStationName = 13,   // the station's name, shown in the mailbox window's caption
    kHostParamShift = 25,         // the current shift number, for the automatic report
    kHostParamWorkMode = 46,      // kHostWorkModeAttachedData or anything else
    kHostParamSettingsLocked = 56 // non-zero: the settings dialog cannot be opened
};
// Work mode 46 = 3: the mailbox window shows a letter's attached-data information and keeps its
// caption, and received letters also get a temporary copy in "TMPinMail".
inline constexpr int kHostWorkModeAttachedData = 3;

class THostServices {
public:
    virtual int GetCount() = 0;                // 0
    virtual std::string GetStationCode() = 0;  // 1
    virtual std::string GetDataFileName() = 0; // 2: its folder is the data exchange folder
    // 3: imports a received data file; returns a file to send back, or "".
    virtual std::string ImportDataFile(const std::string& fileName) = 0;
    // 4: returns a request file for that station to attach, or "".
    virtual std::string MakeStationRequestFile(const std::string& stationKey) = 0;
    virtual void Reserved5() {} // 5: never called
    // 6: as 3, knowing the sender's station code.
    virtual std::string ImportDataFileFrom(const std::string& senderCode,
                                           const std::string& fileName) = 0;
    virtual THostMenuItem* GetMainMenuItems() = 0; // 7: root of the main menu
    // 8: a new child of parent at index (-1 appends), owned by the host.
    virtual THostMenuItem* NewMenuItem(THostMenuItem* parent, int index) = 0;
    virtual THostVariant GetParamValue(int number, int reserved) = 0; // 9: reserved is 0
    // 10: 0 the station selected in the host, then 1, 2, ...; nullopt after the last.
    virtual std::optional<THostStation> GetStation(int index) = 0;
    // 11: turns a request file into a data file to send; returns its path, or "".
    virtual std::string PrepareExportData(int reserved, const std::string& requestFile) = 0;

protected:
    ~THostServices() = default;
};

} // namespace tzn

// The nine exports of libtznmail.so, with C linkage. Load, UnLoad and Config run on the host's
// window thread; AutoSendMail may be called from any thread.
#define TZN_EXPORT extern "C" __attribute__((visibility("default")))

// Starts the module: mode 0 station side, 1 office side (other values add no menu commands).
// The first argument is not used. Returns 0 on success, 1 on failure.
TZN_EXPORT int Load(void* reserved, uint8_t mode, tzn::THostServices* host);
// Clears the click handlers Load set on the host's menu items and frees what Load created;
// always 0.
TZN_EXPORT int UnLoad();
// Shows the settings dialog modally; returns 0.
TZN_EXPORT int Config();
// Queues a full mail session (receive, then send); true when the request was queued.
TZN_EXPORT bool AutoSendMail();
// Sets version to "8.01 от 15.12.2008" (Windows-1251).
TZN_EXPORT void GetVersion(std::string& version);
// Kept for the host's plug-in contract; they do nothing (each mail session brings the
// connection up and down itself). Dial returns 0.
TZN_EXPORT int Dial();
TZN_EXPORT void WaitDial();
TZN_EXPORT void HangUp();
TZN_EXPORT void GetParam();

// Types of the exports for dlsym.
using TznLoadFn = int (*)(void*, uint8_t, tzn::THostServices*);
using TznUnLoadFn = int (*)();
using TznConfigFn = int (*)();
using TznAutoSendMailFn = bool (*)();
using TznGetVersionFn = void (*)(std::string&);
using TznDialFn = int (*)();
using TznVoidFn = void (*)();
