// The setup window's sending: the send job behind the hidden send button, the test button
// and the gauge that follows the test's progress.
#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>

#include "app/FailureText.h"
#include "app/IniFile.h"
#include "app/MessageIdSeed.h"
#include "app/QtText.h"
#include "app/SendHistory.h"
#include "app/SendJob.h"
#include "app/SendRecord.h"
#include "app/UN_MAIN.h"
#include "core/Error.h"
#include "core/ScopeGuard.h"

const std::string Tfrm_main::kTestHtml =
    "<html><body><p>Toto je testovací zpráva aplikace Kadenza.</p>"
    "<p>Dorazila-li vám, je nastavení odesílání v pořádku.</p></body></html>";

void Tfrm_main::ShowStored(const sendjob::StoredSend& stored) {
  const settings::StoredSettings& v = stored.settings;
  ed_smtp->setText(QStr(v.server));
  ed_user->setText(QStr(v.user));
  // The password as the window shows it on opening: the file's, else the keyring's.
  const IniFile ini(settings::SetupFilePath());
  ed_pass->setText(pn_heslo->Load(&ini));
  ed_predmet->setText(QStr(v.subject));
  edPort->setText(QStr(v.port));
  cbSSL->setChecked(v.ssl);
  priloha1->setText(QStr(v.attachments[0]));
  priloha2->setText(QStr(v.attachments[1]));
  priloha3->setText(QStr(v.attachments[2]));
  mem_prijemce->setPlainText(QStr(v.recipients));
  ed_my_mail->setText(QStr(v.ownAddress));
  if (stored.textStored) {
    QStringList text;
    for (const std::string& line : stored.text)
      text << QStr(line);
    mem_text->setPlainText(text.join(QLatin1Char('\n')));
  }
}

void Tfrm_main::btnSendClick() {
  // Network waits run the event loop, so a tick may fall due while a send blocks.
  if (sendRunning_)
    return;
  sendRunning_ = true;
  kz::ScopeGuard done([this] { sendRunning_ = false; });
  // A failure before the dialogue is never tried again; the previous send's kind is no guide.
  lastFailureKind_ = retry::FailureKind::kPermanent;
  // While the test is sending clMessage's lines, the job composes a message of its own.
  std::optional<TclMailMessage> own;
  TclMailMessage* message = &clMessage;
  if (testRunning_) {
    message = &own.emplace();
    sendjob::SetUpMessage(*message);
  }
  // The stored values are what is sent; an open window keeps what the user is typing.
  std::array<std::string, 3> attachments;
  clSmtp1.SetMessageIdLeft(SlotMessageIdLeft());
  const failure::SendWatch watch(clSmtp1);
  const auto describe = [&](const std::exception_ptr& error) {
    return failure::Describe(error, watch.Context(attachments));
  };
  sendjob::Outcome outcome = sendjob::Outcome::kNoSettings;
  try {
    outcome = sendrecord::Run(
        history::Kind::kScheduled,
        [&](const sendjob::Starting& starting) {
          return sendjob::SendStored(
              clSmtp1, *message,
              [&](const auto& stored) {
                attachments = stored.settings.attachments;
                if (isHidden())
                  ShowStored(stored);
              },
              starting);
        },
        [&](const std::exception_ptr& error) { return describe(error).HistoryText(); });
  } catch (...) {
    lastFailureKind_ = watch.Kind(std::current_exception());
    // The failure takes the place of the sending notice, and the error box says the same.
    const QString text = ScheduledFailureText(describe(std::current_exception()));
    emit SendFailed(text);
    throw EclError(text.toStdString());
  }
  if (outcome == sendjob::Outcome::kSent)
    emit Sent();
}

std::string Tfrm_main::SlotMessageIdLeft() const {
  if (!sendSlot_)
    return {};
  try {
    return messageid::SlotLeftSide(*sendSlot_, messageid::InstallationId());
  } catch (const std::exception& e) {
    // A random Message-ID serves as well for one attempt; the send goes on.
    std::fprintf(stderr, "Kadenza: %s\n", e.what());
    return {};
  }
}

QString Tfrm_main::ScheduledFailureText(const failure::Failure& f) const {
  // The slot the send serves (a retry runs minutes after it), else the clock's minute.
  const schedule::LocalDateTime now = sendSlot_ ? *sendSlot_ : clock_();
  const QString when = QDateTime(QDate(int(now.date.year()), int(unsigned(now.date.month())),
                                       int(unsigned(now.date.day()))),
                                 QTime(now.time.hour, now.time.minute))
                           .toString(QStringLiteral("dd.MM.yyyy HH:mm"));
  return QStringLiteral("Naplánované odeslání %1 se nezdařilo: %2").arg(when, QStr(f.Shown()));
}

void Tfrm_main::ClickSend() {
  std::exception_ptr error;
  std::exception_ptr* const outer = sendError_;
  sendError_ = &error;
  {
    kz::ScopeGuard restore([this, outer] { sendError_ = outer; });
    btnSend->click();
  }
  if (error)
    std::rethrow_exception(error);
}

void Tfrm_main::btn_testClick() {
  if (clSMTP.Active() || testRunning_)
    return;
  testRunning_ = true;
  kz::ScopeGuard done([this] { testRunning_ = false; });
  const std::string ownAddress = ed_my_mail->text().toStdString();
  const std::array<std::string, 3> attachments = {priloha1->text().toStdString(),
                                                  priloha2->text().toStdString(),
                                                  priloha3->text().toStdString()};
  ShowTestFailure({});
  const failure::SendWatch watch(clSMTP);
  const auto describe = [&](const std::exception_ptr& error) {
    return failure::Describe(error, watch.Context(attachments));
  };
  try {
    sendrecord::Run(
        history::Kind::kTest,
        [&](const sendjob::Starting& starting) {
          starting(ownAddress, "Kadenza");
          SendTestMessage();
          return sendjob::Outcome::kSent;
        },
        [&](const std::exception_ptr& error) { return describe(error).HistoryText(); });
  } catch (...) {
    const failure::Failure f = describe(std::current_exception());
    // A failed test is no test in progress: the lamps stop and the failure stands where the
    // gauge was, until the next test.
    led1->SetBlinking(false);
    led2->SetBlinking(false);
    ShowTestFailure(QStringLiteral("Test se nezdařil: ") + QStr(f.Shown()));
    throw EclError(f.Shown());
  }
  emit TestSent();
  led1->SetBlinking(false);
  led2->SetBlinking(false);
}

void Tfrm_main::ShowTestFailure(const QString& text) {
  lbl_chyba->SetFullText(text);
  lbl_chyba->setVisible(!text.isEmpty());
  gau->setVisible(text.isEmpty());
}

void Tfrm_main::SendTestMessage() {
  std::optional<TclMailMessage> own;
  TclMailMessage* message = &clMessage;
  if (sendRunning_) {
    message = &own.emplace();
    sendjob::SetUpMessage(*message);
  }
  const std::array<std::string, 3> fields = {priloha1->text().toStdString(),
                                             priloha2->text().toStdString(),
                                             priloha3->text().toStdString()};
  sendjob::ComposeMessage(*message, kTestText, kTestHtml, sendjob::Attachments(fields));
  // Sent from the address the schedule sends from, to the own address.
  const std::string ownAddress = ed_my_mail->text().toStdString();
  sendjob::Address(*message, settings::SenderAddress(ed_user->text().toStdString(), ownAddress),
                   ownAddress, "Kadenza");
  sendjob::Connect(clSMTP, ed_smtp->text().toStdString(), ed_user->text().toStdString(),
                   ed_pass->text().toStdString(), sendjob::PortNumber(edPort->text().toStdString()),
                   cbSSL->isChecked());
  gau->setValue(0);
  sendjob::OpenSendClose(clSMTP, *message, [this] {
    led1->SetBlinking(true);
    led2->SetBlinking(true);
  });
  gau->setFormat(QStringLiteral("%p%   Hotovo"));
}

void Tfrm_main::clSMTPProgress(TclTcpCommandClient* /*Sender*/, std::int64_t ABytesProceed,
                               std::int64_t ATotalBytes) {
  if (ATotalBytes <= 0)
    return;
  // The gauge counts in int: larger totals are scaled down alike, the share stays.
  int shift = 0;
  while ((ATotalBytes >> shift) > INT_MAX)
    ++shift;
  const std::int64_t done = std::clamp<std::int64_t>(ABytesProceed, 0, ATotalBytes);
  gau->setMaximum(static_cast<int>(ATotalBytes >> shift));
  gau->setValue(static_cast<int>(done >> shift));
}
