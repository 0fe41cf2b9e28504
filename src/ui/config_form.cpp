#include "ui/config_form.h"

#include "module/headless_window_services.h"
#include "module/module_state.h"
#include "module/settings.h"
#include "module/settings_table.h"
#include "module/window_services.h"
#include "platform/cp1251.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/ras_dialer.h"
#include "session/connect_inet.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <exception>
#include <iterator>

namespace tzn {
namespace {

constexpr int kModalOk = 1;
constexpr int kModalCancel = 2;
constexpr int kStationAddressLines = 3;

const char* const kWorkAddressHint =
    "Через данный почтовый ящик производится\r\nприем почты, а так же отправка на все "
    "\r\nуказанные почтовые адреса (рабочий и \r\nдополнительные).";
const char* const kDefaultConnHint = "настраивается в связь->настройка->Подключение к интернету";
const char* const kAddTovarHint =
    "Если значение = 1, то будут переданы только последние изменения по товарам\r\nесли "
    "значение 2 или более - будут переданы последние изменения по товарам и\r\nуказанное "
    "колличество ранее отправленных пакетов. ";
// Captions with room left in them for the number box that sits inside.
const char* const kAddTovarCaption = "Приклеплять                  последних пакетов по товарам";
const char* const kAutoGetMailCaption = "Автоматически снимать почту каждые               часов";

QString Q(const std::string& cp1251) {
    return QString::fromStdString(Utf8FromCp1251(cp1251));
}

std::string Cp(const QString& text) {
    return ru(text.toStdString());
}

// A text's CR LF pairs are its line breaks; a widget breaks at LF.
QString Hint(const char* utf8) {
    QString text = QString::fromUtf8(utf8);
    text.remove(QChar('\r'));
    return text;
}

// The two halves of a caption around the blanks the number box stands in.
std::pair<QString, QString> AroundBlanks(const char* utf8) {
    const QString caption = QString::fromUtf8(utf8);
    const int gap = caption.indexOf("  ");
    int tail = gap;
    while (tail < caption.size() && caption[tail] == ' ')
        ++tail;
    return {caption.left(gap), caption.mid(tail)};
}

// The memo's lines as an edit control counts them: an empty memo has none, and a final line
// break does not start another line.
std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
    std::vector<std::string> lines;
    const QStringList parts = memo->toPlainText().split('\n');
    for (int i = 0; i < parts.size(); ++i)
        if (i + 1 < parts.size() || !parts[i].isEmpty())
            lines.push_back(Cp(parts[i]));
    return lines;
}

// Where the module writes a folder the browser chose: under the mapped drive folders the
// drive's own form ("C:\..."), anywhere else the native path.
std::string ModulePath(const std::filesystem::path& native) {
    const std::filesystem::path root = TznRoot().lexically_normal();
    const std::filesystem::path rel = native.lexically_normal().lexically_relative(root);
    const std::string first = rel.empty() ? "" : rel.begin()->string();
    if (first.size() != 1 || !std::isalpha(static_cast<unsigned char>(first[0])))
        return native.string();
    std::string path = first + ":";
    for (auto it = std::next(rel.begin()); it != rel.end(); ++it)
        if (!it->empty())
            path += "\\" + it->string();
    return path.size() == 2 ? path + "\\" : path;
}

// A label whose click toggles its check box: the long captions wrap, which a check box's own
// text cannot.
class TCheckCaption : public QLabel {
public:
    TCheckCaption(const QString& text, QCheckBox* box, QWidget* parent)
        : QLabel(text, parent), FBox(box) {
        setWordWrap(true);
        setBuddy(box);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (FBox->isEnabled())
            FBox->click();
        QLabel::mouseReleaseEvent(event);
    }

private:
    QCheckBox* FBox;
};

// A check box whose caption is a label beside it, greyed out together with the box.
class TCaptionedCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;
    void SetCaption(QLabel* caption) { FCaption = caption; }

protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::EnabledChange && FCaption)
            FCaption->setEnabled(isEnabled());
        QCheckBox::changeEvent(event);
    }

private:
    QLabel* FCaption = nullptr;
};

// Routes the memo's Enter key through the form's typing filter.
class TKeyFilter : public QObject {
public:
    TKeyFilter(std::function<void(char&)> filter, QObject* parent)
        : QObject(parent), FFilter(std::move(filter)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                char c = '\r';
                FFilter(c);
                if (c == 0)
                    return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(char&)> FFilter;
};

// An enabled field takes the window colour, a greyed one the button face.
void SetFieldColour(QWidget* field, bool enabled) {
    QPalette pal = field->palette();
    pal.setColor(QPalette::Base,
                 QApplication::palette().color(enabled ? QPalette::Base : QPalette::Button));
    field->setPalette(pal);
}

} // namespace

// The dialog's controls, named as the dialog binds them.
struct TConfigForm::Controls {
    QTabWidget* PageControl1 = nullptr;
    // Transport
    QLineEdit *edSMTPHost = nullptr, *edPOP3Host = nullptr, *edUser = nullptr,
              *edPassword = nullptr;
    QSpinBox *seSMTPPort = nullptr, *sePOP3Port = nullptr;
    // General
    QLineEdit* edEMail = nullptr;
    QCheckBox *cbUseAddictAddr = nullptr, *cbNotUseWorkAddress = nullptr;
    QLabel* lbAddictAddr = nullptr;
    QPlainTextEdit* mAddictionAdres = nullptr;
    QLabel* lbTZNName = nullptr;
    QCheckBox *cbIsSaveInMail = nullptr, *cbIsSaveOutMail = nullptr;
    QLabel* lbMailDir = nullptr;
    QLineEdit* edMailDir = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QCheckBox *cbSortMail = nullptr, *cbShowWnd = nullptr;
    QWidget* pOnTZN = nullptr;
    QCheckBox *cb_AutoSendIfNoMail = nullptr, *cb_addTovar = nullptr;
    QWidget* lbAddTovar = nullptr; // the caption the number box sits in
    QSpinBox* seAddtovarCount = nullptr;
    QCheckBox* cbAutoGetMail = nullptr;
    QSpinBox* seAutoGetMailTime = nullptr;
    // Connection
    QCheckBox* cbUseDefaultConn = nullptr;
    QGroupBox* GroupBox6 = nullptr;
    QComboBox* cbInternet = nullptr;
    QCheckBox *cbShowDialUp = nullptr, *cbDisconnect = nullptr, *cbUserData = nullptr;
    QLabel *Label10 = nullptr, *Label12 = nullptr;
    QLineEdit *edIntLogin = nullptr, *edIntPassword = nullptr;
    QSpinBox *seConnectTimeout = nullptr, *seReadTimeout = nullptr;
    QComboBox *cbSMTPSecurity = nullptr, *cbPOP3Security = nullptr;
    QLineEdit* edCAFile = nullptr;
};

namespace {

template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QLineEdit* Edit(QWidget* parent, const char* name, bool masked = false) {
    auto* edit = Named(new QLineEdit(parent), name);
    if (masked)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// A number box limited as the settings table limits its key.
QSpinBox* Spin(QWidget* parent, const char* name, const char* key) {
    auto* spin = Named(new QSpinBox(parent), name);
    const TSettingRow* row = FindSetting(key);
    spin->setRange(row->Min, row->Max);
    return spin;
}

QCheckBox* Check(QWidget* parent, const char* name, const char* utf8) {
    return Named(new QCheckBox(QString::fromUtf8(utf8), parent), name);
}

// A check box whose long caption wraps beside it; the caption is the box's accessible name.
QCheckBox* WrappedCheck(QVBoxLayout* layout, QWidget* parent, const char* name, const char* utf8) {
    auto* row = new QHBoxLayout;
    auto* box = Named(new TCaptionedCheckBox(parent), name);
    box->setAccessibleName(QString::fromUtf8(utf8));
    auto* caption = new TCheckCaption(QString::fromUtf8(utf8), box, parent);
    box->SetCaption(caption);
    row->addWidget(box, 0, Qt::AlignTop);
    row->addWidget(caption, 1);
    layout->addLayout(row);
    return box;
}

QComboBox* SecurityChoice(QWidget* parent, const char* name, const char* key) {
    auto* combo = Named(new QComboBox(parent), name);
    for (const std::string& choice : FindSetting(key)->Choices)
        combo->addItem(Q(choice));
    return combo;
}

void SelectText(QComboBox* combo, const std::string& cp1251) {
    const QString text = Q(cp1251);
    int index = combo->findText(text, Qt::MatchFixedString);
    if (index < 0) {
        // A word the file holds but the list does not offer stays as written, so that apply
        // names it instead of quietly replacing it.
        combo->addItem(text);
        index = combo->count() - 1;
    }
    combo->setCurrentIndex(index);
}

} // namespace

TConfigForm::TConfigForm(TWindowServices* services)
    : FServices(services), FDialog(std::make_unique<QDialog>()), FC(std::make_unique<Controls>()) {
    FBrowseFolder = [this](const std::string& caption,
                           const std::string& start) -> std::optional<std::string> {
        const QString chosen = QFileDialog::getExistingDirectory(
            FDialog.get(), Q(caption), QString::fromStdString(NativePath(start).string()),
            QFileDialog::ShowDirsOnly);
        if (chosen.isEmpty())
            return std::nullopt;
        return ModulePath(std::filesystem::path(chosen.toStdString()));
    };
    Build();
}

TConfigForm::~TConfigForm() = default;

QDialog* TConfigForm::Widget() const {
    return FDialog.get();
}

void TConfigForm::ShowPage(int index) {
    FC->PageControl1->setCurrentIndex(index);
}

void TConfigForm::Build() {
    Controls& c = *FC;
    QDialog* d = FDialog.get();
    d->setObjectName("ConfigForm");
    d->setWindowTitle(QString::fromUtf8("Настройка"));
    auto* layout = new QVBoxLayout(d);
    c.PageControl1 = Named(new QTabWidget(d), "PageControl1");
    layout->addWidget(c.PageControl1, 1);
    c.PageControl1->addTab(BuildTransportPage(), QString::fromUtf8("Транспорт"));
    c.PageControl1->addTab(BuildGeneralPage(), QString::fromUtf8("Общие сведения"));
    c.PageControl1->addTab(BuildConnectionPage(), QString::fromUtf8("Подключение"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = Named(new QPushButton(QString::fromUtf8("Применить"), d), "OKBtn");
    auto* cancel = Named(new QPushButton(QString::fromUtf8("Отменить"), d), "CancelBtn");
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    QObject::connect(ok, &QPushButton::clicked, d, [this] { OKBtnClick(); });
    QObject::connect(cancel, &QPushButton::clicked, d, [this] { CancelBtnClick(); });
    QObject::connect(c.SpeedButton1, &QToolButton::clicked, d, [this] { SpeedButton1Click(); });
    for (QCheckBox* box : {c.cbIsSaveInMail, c.cbIsSaveOutMail})
        QObject::connect(box, &QCheckBox::clicked, d, [this] { cbIsSaveInMailClick(); });
    QObject::connect(c.cbUserData, &QCheckBox::clicked, d, [this] { cbUserDataClick(); });
    QObject::connect(c.cbUseDefaultConn, &QCheckBox::clicked, d,
                     [this] { cbUseDefaultConnClick(); });
    QObject::connect(c.cbUseAddictAddr, &QCheckBox::clicked, d, [this] { cbUseAddictAddrClick(); });
    for (QCheckBox* box : {c.cb_AutoSendIfNoMail, c.cb_addTovar})
        QObject::connect(box, &QCheckBox::clicked, d, [this] { cb_AutoSendIfNoMailClick(); });

    // A fixed border: the dialog keeps the size its pages need, at least the designed one.
    d->resize(345, 426);
    d->setFixedSize(d->size().expandedTo(d->sizeHint()));
    ShowPage(1);
}

QWidget* TConfigForm::BuildTransportPage() {
    Controls& c = *FC;
    auto* transport = new QWidget;
    auto* tl = new QVBoxLayout(transport);
    auto* sending = new QGroupBox(QString::fromUtf8("Отправка почты"), transport);
    auto* sf = new QFormLayout(sending);
    c.edSMTPHost = Edit(sending, "edSMTPHost");
    sf->addRow(QString::fromUtf8("SMTP сервер"), c.edSMTPHost);
    tl->addWidget(sending);
    auto* receiving = new QGroupBox(QString::fromUtf8("Получение почты"), transport);
    auto* rf = new QFormLayout(receiving);
    c.edPOP3Host = Edit(receiving, "edPOP3Host");
    c.edUser = Edit(receiving, "edUser");
    c.edPassword = Edit(receiving, "edPassword", true);
    rf->addRow(QString::fromUtf8("Почт. сервер"), c.edPOP3Host);
    rf->addRow(QString::fromUtf8("Пользователь"), c.edUser);
    rf->addRow(QString::fromUtf8("Пароль"), c.edPassword);
    tl->addWidget(receiving);
    auto* ports = new QGroupBox(QString::fromUtf8("Порты служб"), transport);
    auto* pf = new QFormLayout(ports);
    c.seSMTPPort = Spin(ports, "seSMTPPort", "SMTPPort");
    c.sePOP3Port = Spin(ports, "sePOP3Port", "POP3Port");
    pf->addRow("SMTP:", c.seSMTPPort);
    pf->addRow("POP3:", c.sePOP3Port);
    tl->addWidget(ports);
    tl->addStretch(1);
    return transport;
}

QWidget* TConfigForm::BuildGeneralPage() {
    Controls& c = *FC;
    auto* general = new QWidget;
    auto* gl = new QVBoxLayout(general);
    gl->setSpacing(2);
    auto* office = new QGroupBox(QString::fromUtf8("Связь с офисом"), general);
    auto* ol = new QVBoxLayout(office);
    ol->setSpacing(2);
    auto* emailRow = new QHBoxLayout;
    auto* emailLabel = new QLabel(QString::fromUtf8("E-Mail адрес(рабочий)"), office);
    c.edEMail = Edit(office, "edEMail");
    emailLabel->setToolTip(Hint(kWorkAddressHint));
    c.edEMail->setToolTip(Hint(kWorkAddressHint));
    emailRow->addWidget(emailLabel);
    emailRow->addWidget(c.edEMail, 1);
    ol->addLayout(emailRow);
    c.cbUseAddictAddr = WrappedCheck(ol, office, "cbUseAddictAddr",
                                     "Использовать отправку на дополнительные адреса");
    auto* addrRow = new QHBoxLayout;
    c.lbAddictAddr = Named(new QLabel(office), "lbAddictAddr");
    c.mAddictionAdres =
        Named(new QPlainTextEdit(QString::fromUtf8("НЕЗАПОЛНЕНО!"), office), "mAddictionAdres");
    c.mAddictionAdres->setLineWrapMode(QPlainTextEdit::NoWrap);
    c.mAddictionAdres->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    c.mAddictionAdres->installEventFilter(
        new TKeyFilter([this](char& key) { mAddictionAdresKeyPress(key); }, c.mAddictionAdres));
    addrRow->addWidget(c.lbAddictAddr, 0, Qt::AlignTop);
    addrRow->addWidget(c.mAddictionAdres, 1);
    ol->addLayout(addrRow);
    c.cbNotUseWorkAddress =
        Check(office, "cbNotUseWorkAddress", "Отсылать только на дополнительный адрес");
    ol->addWidget(c.cbNotUseWorkAddress);
    gl->addWidget(office);

    auto* sender = new QGroupBox(QString::fromUtf8("Реквизиты отправителя"), general);
    auto* senderRow = new QHBoxLayout(sender);
    senderRow->addWidget(new QLabel(QString::fromUtf8("АЗС"), sender));
    c.lbTZNName = Named(new QLabel(sender), "lbTZNName");
    senderRow->addWidget(c.lbTZNName, 1);
    gl->addWidget(sender);

    c.cbIsSaveInMail = Check(general, "cbIsSaveInMail", "Сохранять принятые письма");
    c.cbIsSaveOutMail = Check(general, "cbIsSaveOutMail", "Сохранять отправленные письма");
    gl->addWidget(c.cbIsSaveInMail);
    gl->addWidget(c.cbIsSaveOutMail);
    c.lbMailDir =
        Named(new QLabel(QString::fromUtf8("Каталог почтового ящика:"), general), "lbMailDir");
    gl->addWidget(c.lbMailDir);
    auto* dirRow = new QHBoxLayout;
    c.edMailDir = Edit(general, "edMailDir");
    c.SpeedButton1 = Named(new QToolButton(general), "SpeedButton1");
    c.SpeedButton1->setText("...");
    dirRow->addWidget(c.edMailDir, 1);
    dirRow->addWidget(c.SpeedButton1);
    gl->addLayout(dirRow);
    c.cbSortMail = Check(general, "cbSortMail", "Сортировать письма при приеме");
    c.cbShowWnd = Check(general, "cbShowWnd", "Показать окно почтовой службы");
    gl->addWidget(c.cbSortMail);
    gl->addWidget(c.cbShowWnd);

    c.pOnTZN = Named(new QWidget(general), "pOnTZN");
    auto* pl = new QVBoxLayout(c.pOnTZN);
    pl->setContentsMargins(0, 0, 0, 0);
    c.cb_AutoSendIfNoMail = WrappedCheck(
        pl, c.pOnTZN, "cb_AutoSendIfNoMail",
        "Отправлять отчет о последней смене при отсутствии принятых с почтового ящика писем");
    c.cb_addTovar =
        WrappedCheck(pl, c.pOnTZN, "cb_addTovar", "Прикреплять последие изменения БД товаров");
    c.lbAddTovar = Named(new QWidget(c.pOnTZN), "lbAddTovar");
    auto* countRow = new QHBoxLayout(c.lbAddTovar);
    countRow->setContentsMargins(0, 0, 0, 0);
    const auto [countHead, countTail] = AroundBlanks(kAddTovarCaption);
    c.seAddtovarCount = Spin(c.lbAddTovar, "seAddtovarCount", "AddTovarCount");
    c.seAddtovarCount->setToolTip(Hint(kAddTovarHint));
    countRow->addWidget(new QLabel(countHead, c.lbAddTovar));
    countRow->addWidget(c.seAddtovarCount);
    countRow->addWidget(new QLabel(countTail, c.lbAddTovar), 1);
    pl->addWidget(c.lbAddTovar);
    gl->addWidget(c.pOnTZN);

    auto* autoRow = new QHBoxLayout;
    const auto [autoHead, autoTail] = AroundBlanks(kAutoGetMailCaption);
    c.cbAutoGetMail = Named(new QCheckBox(autoHead, general), "cbAutoGetMail");
    c.seAutoGetMailTime = Spin(general, "seAutoGetMailTime", "AutoGetMailPeriod");
    autoRow->addWidget(c.cbAutoGetMail);
    autoRow->addWidget(c.seAutoGetMailTime);
    autoRow->addWidget(new QLabel(autoTail, general), 1);
    gl->addLayout(autoRow);
    gl->addStretch(1);
    return general;
}

QWidget* TConfigForm::BuildConnectionPage() {
    Controls& c = *FC;
    auto* connection = new QWidget;
    auto* cl = new QVBoxLayout(connection);
    c.cbUseDefaultConn =
        Check(connection, "cbUseDefaultConn", "Использовать подключение по умолчанию ");
    c.cbUseDefaultConn->setToolTip(Hint(kDefaultConnHint));
    cl->addWidget(c.cbUseDefaultConn);
    c.GroupBox6 = Named(
        new QGroupBox(QString::fromUtf8("При соединении с Интернет использовать"), connection),
        "GroupBox6");
    auto* g6 = new QVBoxLayout(c.GroupBox6);
    c.cbInternet = Named(new QComboBox(c.GroupBox6), "cbInternet");
    c.cbShowDialUp = Check(c.GroupBox6, "cbShowDialUp", "Показать окно Подключение к Internet");
    c.cbDisconnect = Check(c.GroupBox6, "cbDisconnect", "Разрывать связь по окончании передачи");
    c.cbUserData = Check(c.GroupBox6, "cbUserData", "Не исп-ть данные Windows для аутентификации");
    g6->addWidget(c.cbInternet);
    g6->addWidget(c.cbShowDialUp);
    g6->addWidget(c.cbDisconnect);
    g6->addWidget(c.cbUserData);
    auto* auth = new QGroupBox(QString::fromUtf8("Данные для аутентификации"), c.GroupBox6);
    auto* af = new QFormLayout(auth);
    c.Label10 = Named(new QLabel(QString::fromUtf8("Пользователь"), auth), "Label10");
    c.Label12 = Named(new QLabel(QString::fromUtf8("Пароль"), auth), "Label12");
    c.edIntLogin = Edit(auth, "edIntLogin");
    c.edIntPassword = Edit(auth, "edIntPassword", true);
    af->addRow(c.Label10, c.edIntLogin);
    af->addRow(c.Label12, c.edIntPassword);
    g6->addWidget(auth);
    cl->addWidget(c.GroupBox6);

    // How the mail connections are made, beyond the dial-up.
    auto* security =
        new QGroupBox(QString::fromUtf8("Соединение с почтовыми серверами"), connection);
    auto* sl = new QFormLayout(security);
    c.cbSMTPSecurity = SecurityChoice(security, "cbSMTPSecurity", "SMTPSecurity");
    c.cbPOP3Security = SecurityChoice(security, "cbPOP3Security", "POP3Security");
    c.edCAFile = Edit(security, "edCAFile");
    c.seConnectTimeout = Spin(security, "seConnectTimeout", "ConnectTimeout");
    c.seReadTimeout = Spin(security, "seReadTimeout", "ReadTimeout");
    sl->addRow(QString::fromUtf8("Защита SMTP:"), c.cbSMTPSecurity);
    sl->addRow(QString::fromUtf8("Защита POP3:"), c.cbPOP3Security);
    sl->addRow(QString::fromUtf8("Сертификаты:"), c.edCAFile);
    sl->addRow(QString::fromUtf8("Ожидание соединения, с:"), c.seConnectTimeout);
    sl->addRow(QString::fromUtf8("Ожидание ответа, с:"), c.seReadTimeout);
    cl->addWidget(security);
    cl->addStretch(1);
    return connection;
}

int TConfigForm::ShowModal() {
    FormShow();
    return FDialog->exec() == kModalOk ? kModalOk : kModalCancel;
}

void TConfigForm::FormShow() {
    try {
        FillControls();
    } catch (...) {
        // What could not be read leaves its controls as they were; the dialog still opens.
    }
    ApplySide();
    cbIsSaveInMailClick();
    cbUserDataClick();
    cbUseAddictAddrClick();
    cb_AutoSendIfNoMailClick();
    ShowPage(1);
}

void TConfigForm::FillControls() {
    Controls& c = *FC;
    try {
        ReloadConnectionSettings();
    } catch (...) {
        // The controls still show the settings in memory: left empty, an apply would write
        // blanks over them.
    }
    const MailSettings s = MailSettingsSnapshot();

    c.cbUseDefaultConn->setChecked(s.UseDefautConnection);
    if (ConnectInetLibraryLoaded()) {
        c.cbUseDefaultConn->setEnabled(true);
        cbUseDefaultConnClick();
    } else {
        c.cbUseDefaultConn->setEnabled(false);
    }

    c.edSMTPHost->setText(Q(s.SMTPHost));
    c.edPOP3Host->setText(Q(s.POP3Host));
    c.edUser->setText(Q(s.UserName));
    c.edPassword->setText(Q(s.Password));
    c.seSMTPPort->setValue(s.SMTPPort);
    c.sePOP3Port->setValue(s.POP3Port);
    c.edEMail->setText(Q(s.EMail));
    c.cbUseAddictAddr->setChecked(s.UseAddictionAddress);
    c.cbNotUseWorkAddress->setChecked(s.NotUseWorkAddres);
    c.lbTZNName->setText(Q(StationCode()));
    c.cbIsSaveInMail->setChecked(s.IsSaveInMail);
    c.cbIsSaveOutMail->setChecked(s.IsSaveOutMail);
    c.edMailDir->setText(Q(s.MailDir));
    c.cbSortMail->setChecked(s.m_GetMailWithSort);
    c.cbShowWnd->setChecked(s.ShowWnd);
    c.cbShowWnd->setVisible(ModuleSide() == TModuleSide::Station);
    c.cb_AutoSendIfNoMail->setChecked(s.AutoOnNoMail);
    c.cb_addTovar->setChecked(s.AutoAddTovarUp);
    c.seAddtovarCount->setValue(s.AddTovarCount);
    c.cbAutoGetMail->setChecked(s.AutoGetMail);
    c.seAutoGetMailTime->setValue(s.AutoGetMailPeriod);
    c.cbShowDialUp->setChecked(s.ShowDialUp);
    c.cbDisconnect->setChecked(s.DisconnectOnEnd);
    c.cbUserData->setChecked(s.UserData);
    c.edIntLogin->setText(Q(s.IntLogin));
    c.edIntPassword->setText(Q(s.IntPassword));
    c.seConnectTimeout->setValue(s.ConnectTimeout);
    c.seReadTimeout->setValue(s.ReadTimeout);
    SelectText(c.cbSMTPSecurity, s.SMTPSecurity);
    SelectText(c.cbPOP3Security, s.POP3Security);
    c.edCAFile->setText(Q(s.CAFile));

    c.pOnTZN->setVisible(ModuleSide() == TModuleSide::Station);

    QStringList lines;
    for (const std::string& address : s.MailAddictionAdressList)
        lines << Q(address);
    c.mAddictionAdres->setPlainText(lines.join('\n'));

    FillDialUpEntries(s.PhonebookEntry);
}

void TConfigForm::FillDialUpEntries(const std::string& selected) {
    QComboBox* list = FC->cbInternet;
    list->clear();
    const TRasDialer dialer;
    for (const std::string& name : dialer.PhonebookEntries())
        list->addItem(Q(name));
    if (list->count() > 0)
        list->setCurrentIndex(std::max(0, list->findText(Q(selected), Qt::MatchExactly)));
}

void TConfigForm::ApplySide() {
    Controls& c = *FC;
    const bool station = ModuleSide() == TModuleSide::Station;
    // The station writes to up to three offices; the office to one mailbox.
    c.lbAddictAddr->setText(Hint(station ? "Офис 2\r\nОфис 3\r\nОфис 4\r\n" : "Ящик для отправки"));
    const int lines = station ? kStationAddressLines : 1;
    const int margins = c.mAddictionAdres->frameWidth() * 2 +
                        static_cast<int>(c.mAddictionAdres->document()->documentMargin() * 2);
    c.mAddictionAdres->setFixedHeight(std::max(
        station ? 45 : 20, c.mAddictionAdres->fontMetrics().lineSpacing() * lines + margins));
    c.cbNotUseWorkAddress->setVisible(!station);
}

void TConfigForm::cbIsSaveInMailClick() {
    Controls& c = *FC;
    const bool keeping = c.cbIsSaveInMail->isChecked() || c.cbIsSaveOutMail->isChecked();
    c.lbMailDir->setEnabled(keeping);
    c.edMailDir->setEnabled(keeping);
    SetFieldColour(c.edMailDir, keeping);
}

void TConfigForm::cbUserDataClick() {
    Controls& c = *FC;
    const bool own = c.cbUserData->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(c.Label10), static_cast<QWidget*>(c.Label12),
                       static_cast<QWidget*>(c.edIntLogin), static_cast<QWidget*>(c.edIntPassword)})
        w->setEnabled(own);
    SetFieldColour(c.edIntLogin, own);
    SetFieldColour(c.edIntPassword, own);
}

void TConfigForm::cbUseDefaultConnClick() {
    FC->GroupBox6->setVisible(!FC->cbUseDefaultConn->isChecked());
}

void TConfigForm::cbUseAddictAddrClick() {
    const bool use = FC->cbUseAddictAddr->isChecked();
    FC->mAddictionAdres->setEnabled(use);
    FC->cbNotUseWorkAddress->setEnabled(use);
}

void TConfigForm::cb_AutoSendIfNoMailClick() {
    Controls& c = *FC;
    c.cb_addTovar->setEnabled(c.cb_AutoSendIfNoMail->isChecked());
    const bool count = c.cb_addTovar->isChecked() && c.cb_addTovar->isEnabled();
    c.lbAddTovar->setEnabled(count);
    c.seAddtovarCount->setEnabled(count);
}

void TConfigForm::mAddictionAdresKeyPress(char& key) {
    if (key != '\r')
        return;
    if (ModuleSide() != TModuleSide::Station) {
        key = 0;
        return;
    }
    // No empty line can be started, and no more than the three offices.
    const QPlainTextEdit* memo = FC->mAddictionAdres;
    const bool atLineStart = memo->textCursor().positionInBlock() == 0;
    if (MemoLines(memo).size() >= kStationAddressLines || atLineStart)
        key = 0;
}

void TConfigForm::SpeedButton1Click() {
    if (!FBrowseFolder)
        return;
    const std::optional<std::string> chosen = FBrowseFolder(
        ru("Выберите каталог для хранения почтовых сообщений"), Cp(FC->edMailDir->text()));
    if (chosen)
        FC->edMailDir->setText(Q(*chosen));
}

void TConfigForm::OKBtnClick() {
    try {
        Apply();
    } catch (const std::exception& e) {
        // The user's entries stay in the dialog to be corrected or cancelled; nothing was
        // written.
        const std::string text = ru("Ошибка сохранения параметров Эл. почты: ") + e.what();
        const std::string caption = ru("Настройка");
        static THeadlessWindowServices headless;
        (FServices ? *FServices : headless).ShowMessageBox(text, caption, MB_OK | MB_ICONERROR);
        return;
    }
    FDialog->done(kModalOk);
}

void TConfigForm::Apply() {
    Controls& c = *FC;
    MailSettings s = MailSettingsSnapshot();
    const std::string dir = Cp(c.edMailDir->text());
    s.MailDir = dir.empty() ? dir : IncludeTrailingBackslash(dir);
    s.EMail = Cp(c.edEMail->text());
    s.IsSaveInMail = c.cbIsSaveInMail->isChecked();
    s.IsSaveOutMail = c.cbIsSaveOutMail->isChecked();
    s.SMTPHost = Cp(c.edSMTPHost->text());
    s.POP3Host = Cp(c.edPOP3Host->text());
    s.UserName = Cp(c.edUser->text());
    s.Password = Cp(c.edPassword->text());
    s.SMTPPort = c.seSMTPPort->value();
    s.POP3Port = c.sePOP3Port->value();
    s.AutoOnNoMail = c.cb_AutoSendIfNoMail->isChecked();
    s.AutoAddTovarUp = c.cb_addTovar->isChecked();
    s.AddTovarCount = c.seAddtovarCount->value();
    s.m_GetMailWithSort = c.cbSortMail->isChecked();
    if (ModuleSide() == TModuleSide::Station)
        s.ShowWnd = c.cbShowWnd->isChecked();
    s.UseDefautConnection = c.cbUseDefaultConn->isChecked();
    s.PhonebookEntry = c.cbInternet->count() > 0 ? Cp(c.cbInternet->currentText()) : "";
    s.DisconnectOnEnd = c.cbDisconnect->isChecked();
    s.UserData = c.cbUserData->isChecked();
    s.IntLogin = Cp(c.edIntLogin->text());
    s.IntPassword = Cp(c.edIntPassword->text());
    s.ShowDialUp = c.cbShowDialUp->isChecked();
    s.AutoGetMail = c.cbAutoGetMail->isChecked();
    s.AutoGetMailPeriod = c.seAutoGetMailTime->value();
    s.ConnectTimeout = c.seConnectTimeout->value();
    s.ReadTimeout = c.seReadTimeout->value();
    s.SMTPSecurity = Cp(c.cbSMTPSecurity->currentText());
    s.POP3Security = Cp(c.cbPOP3Security->currentText());
    s.CAFile = Cp(c.edCAFile->text());

    // Only lines that can be addresses are kept; with none left the option is off.
    std::vector<std::string> lines = MemoLines(c.mAddictionAdres);
    if (c.cbUseAddictAddr->isChecked()) {
        std::erase_if(lines,
                      [](const std::string& line) { return line.find('@') == std::string::npos; });
        QStringList kept;
        for (const std::string& line : lines)
            kept << Q(line);
        c.mAddictionAdres->setPlainText(kept.join('\n'));
        if (lines.empty())
            c.cbUseAddictAddr->setChecked(false);
    }
    s.UseAddictionAddress = c.cbUseAddictAddr->isChecked();
    s.MailAddictionAdressList = lines;
    s.NotUseWorkAddres = c.cbNotUseWorkAddress->isChecked();

    // Folders first, then every key in one update; the record follows the file.
    SaveMailSettings(s);
}

void TConfigForm::CancelBtnClick() {
    FDialog->done(kModalCancel);
}

} // namespace tzn
