#include "ui/mail_form.h"

#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "session/session_state.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace tzn {
namespace {

// The gauge takes int; the sizes a session announces fit (delivery refuses larger letters),
// but a server may report anything for a letter being received.
int GaugeValue(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, 0, INT_MAX));
}

} // namespace

TMailForm::TMailForm(std::function<TSessionContext()> context) : FContext(std::move(context)) {
    FWidget = std::make_unique<QWidget>();
    FWidget->setWindowTitle(QString::fromUtf8("Электронная почта"));
    auto* layout = new QVBoxLayout(FWidget.get());
    FMemo1 = new QPlainTextEdit(FWidget.get());
    FMemo1->setReadOnly(true);
    FMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(FMemo1);
    FGauge1 = new QProgressBar(FWidget.get());
    FGauge1->setVisible(false);
    layout->addWidget(FGauge1);
    FWindow = std::make_unique<TMessageWindow>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WndProc(msg, wParam, lParam); });
}

TMailForm::~TMailForm() {
    // A session still running sends its lines to this window and waits for them: keep
    // handling messages until every session has ended, and only then let the window go.
    FClosing = true;
    ProcessMessagesUntil([] { return SessionsRunning() == 0; }, std::chrono::hours(24));
    WaitForSessions(); // none runs now: this only joins their threads
    FWindow.reset();
}

TWindowHandle TMailForm::Handle() const {
    return FWindow->Handle();
}

LRESULT TMailForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_MAIL_START:
        // A request still queued when the module unloads starts nothing.
        if (!FClosing)
            StartMailSession(static_cast<uint16_t>(lParam));
        return 0;
    case WM_MAIL_LOG:
        if (lParam)
            AddLogLine(
                reinterpret_cast<const char*>(lParam)); // NOLINT(performance-no-int-to-ptr): the
                                                        // message carries the line's address
        return 0;
    case WM_MAIL_BEGIN:
        SetGauge(lParam, 0, true);
        FProgressKind = static_cast<int>(wParam);
        return 0;
    case WM_MAIL_END:
        FProgressKind = 0;
        SetGauge(lParam, lParam, false);
        return 0;
    case WM_MAIL_PROGRESS:
        SetGauge(FGaugeMaximum, lParam, GaugeVisible());
        return 0;
    default:
        return 0;
    }
}

void TMailForm::StartMailSession(uint16_t mode) {
    tzn::StartMailSession(mode, SessionWindow(),
                          FContext ? FContext() : TSessionContext::FromModule());
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

void TMailForm::MailClientWork(TMxComponent&, TMxWorkMode mode, int64_t count) {
    const int kind = FProgressKind.load();
    if ((kind == 1 && mode == TMxWorkMode::Read) || (kind == 2 && mode == TMxWorkMode::Write))
        PostMessage(Handle(), WM_MAIL_PROGRESS, 0, static_cast<LPARAM>(count));
}

void TMailForm::MailClientWorkBegin(TMxComponent&, TMxWorkMode, int64_t) {}

void TMailForm::MailClientWorkEnd(TMxComponent&, TMxWorkMode) {}

void TMailForm::ShowMailbox() {
    FWidget->show();
    FWidget->raise();
    FWidget->activateWindow();
}

bool TMailForm::Visible() const {
    return FWidget->isVisible();
}

std::vector<std::string> TMailForm::LogLines() const {
    return FLogLines;
}

bool TMailForm::GaugeVisible() const {
    return !FGauge1->isHidden();
}

void TMailForm::AddLogLine(const std::string& text) {
    FLogLines.push_back(text);
    FMemo1->appendPlainText(QString::fromStdString(Utf8FromCp1251(text)));
}

void TMailForm::SetGauge(int64_t maximum, int64_t position, bool visible) {
    FGaugeMaximum = maximum;
    FGaugePosition = position;
    FGauge1->setRange(0, GaugeValue(maximum));
    FGauge1->setValue(GaugeValue(std::min(position, maximum)));
    FGauge1->setVisible(visible);
}

} // namespace tzn
