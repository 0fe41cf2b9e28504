// Delivery: every letter of the outgoing list over one SMTP connection, in list order; a
// delivered letter is marked for the sent folder, the rest stay for the next session.
#include "mail/message.h"
#include "mail/smtp.h"
#include "platform/cp1251.h"
#include "session/letter_size.h"
#include "session/mail_thread.h"
#include "session/wire_form.h"

#include <climits>
#include <stdexcept>

namespace tzn {

void TMailThread::SendOutBox() {
    if (!FOutMail || FOutMail->Empty())
        return;
    const MailSettings settings = Settings();
    TMxSMTP smtp;
    // Letters are measured as they go on the wire.
    smtp.WriteOptions = DeliveryWriteOptions(settings);
    smtp.Username = settings.UserName;
    smtp.Password = settings.Password;

    AddSessionLog(ru("Соединение с почтовым сервером..."));
    try {
        // A protection word the client does not know fails here, as a connection error.
        ConfigureClient(smtp, settings.SMTPHost, settings.SMTPPort, settings.SMTPSecurity,
                        "SMTPSecurity", settings);
        smtp.ConnectToServer();
    } catch (const std::exception& e) {
        AddSessionLog(ru("Ошибка соединения с SMTP сервером: ") + e.what());
        try {
            smtp.CloseConnection();
        } catch (...) {
        }
        return;
    }
    if (!smtp.IsConnected())
        return;

    int sent = 0;
    std::string failure;
    bool failed = false;
    try {
        AddSessionLog(ru("Соединение с SMTP сервером прошло удачно."));
        AddSessionLog(ru("Отправка почты - ") + std::to_string(FOutMail->Count()) +
                      ru(" писем в очереди."));
        for (TStoredLetter& entry : *FOutMail) {
            TMxMessage& letter = *entry.Letter;
            const int64_t size = MeasureLetter(letter, smtp.WriteOptions);
            // The window's gauge takes a 32-bit total.
            if (size > INT32_MAX)
                throw std::range_error("Range check error");
            const std::string recipients = letter.Recipients.EMailAddresses();
            AddSessionLog(ru("Отправка письма для ") + recipients);
            BeginTransfer(kMailDirectionSending, size, true);
            smtp.SendMail(letter);
            EndTransfer(size, true);
            ++sent;
            AddSessionLog(ru("Отправлено письмо для ") + recipients);
            entry.SetTargetFolder(MailFolder::Sent);
            NoteLetterDelivered(letter);
        }
    } catch (const std::exception& e) {
        failed = true;
        failure = e.what();
    }
    try {
        if (smtp.IsConnected()) {
            AddSessionLog(ru("Завершение соединения с почтовым сервером..."));
            smtp.CloseConnection();
            AddSessionLog(ru("Соединение завершено. Отправлено ") + std::to_string(sent) +
                          ru(" писем."));
        }
    } catch (...) {
        AddSessionLog(ru("Ошибка разрыва соединения с сервером."));
    }
    if (failed)
        AddSessionLog(ru("Ошибка: ") + failure);
}

} // namespace tzn
