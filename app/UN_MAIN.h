// Tfrm_main: the setup window. The user enters the SMTP account, the recipients, the message,
// up to three attachments, the send time, the expiry date and the days of the week; Save
// stores everything and starts the schedule, "Vymazat vše" clears the stored data. Day
// choices are stored the moment they are clicked. The window is made when first needed and
// released a while after it closed (SetupWindowKeeper), and is shown on demand; it also hosts the
// hidden send button that the schedule clicks (the send job) and the test button, which sends a
// test message to the user's own address with the values in the window while the gauge shows the
// share sent and the lamps blink.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "app/CatchUpField.h"
#include "app/FailureKind.h"
#include "app/PasswordPanel.h"
#include "app/Schedule.h"
#include "app/Widgets.h"
#include "mail/clMailMessage.h"
#include "smtp/clSmtp.h"

namespace sendjob {
struct StoredSend;
}
namespace failure {
struct Failure;
}
namespace settings {
struct StoredSettings;
}

class Tfrm_main : public QDialog {
  Q_OBJECT
 public:
  explicit Tfrm_main(QWidget* parent = nullptr);

 signals:
  // What the window tells the tray part, which connects to them (the window knows nothing
  // of it): Save ended (the schedule starts again), the send job sent, the test was sent,
  // the send job failed (`text` names the send and says why; the error box says the same).
  void Saved();
  // Stored follows Saved when everything was stored and the settings stayed (the close check
  // found them complete): the tray part confirms it and names the next send.
  void Stored();
  // Cleared: "Vymazat vše" deleted the data files: nothing is left to send until the next
  // save.
  void Cleared();
  void Sent();
  void TestSent();
  void SendFailed(const QString& text);

 public:
  // The clock whose minute a failed send job names; the tray part gives its own, so the
  // failure names the minute its tick served.
  using Clock = std::function<schedule::LocalDateTime()>;
  void SetClock(Clock clock) { clock_ = std::move(clock); }

  // The word that "Vymazat vše" puts into the password field; the close check treats it as a
  // password not filled in.
  static inline const QString kPasswordPlaceholder = QStringLiteral("vymazano");

  struct Preset {
    const char* domain;
    const char* host;
  };
  static const std::array<Preset, 5> kPresets;

  // The client area: a fixed width, and the least height.
  static constexpr int kClientWidth = 665;
  static constexpr int kClientHeight = 396;

  // Event handlers, named after their component and event.
  void FormShow();
  void FormClose();
  void TTimer();
  void cbSMTPChange(int index);
  // ed_userChange offers the provider's server, port and "TLS/SSL" for a user name whose
  // domain is known, while the server field is empty (or still holds the offer), and shows
  // the provider's hint.
  void ed_userChange();
  void btn_VybratClick();
  void btn_backClick();
  void sButton1Click();
  void RadioClick(QRadioButton* button);  // rb_poClick .. rb_neClick, rb_po_pa, rb_po_ne
  void CheckBoxClick(QCheckBox* box);     // cb_poClick .. cb_neClick
  void priloha1Change();
  void priloha2Change();
  void priloha3Change();
  void btn_saveClick();
  void btn_closeClick();
  // btnSendClick is the send job. ClickSend clicks btnSend and raises what the job raised,
  // so that the schedule tick ends there and reports it; other clicks report it themselves.
  void btnSendClick();
  void ClickSend();
  // SetSendSlot names the send slot the send job serves: a failure names its minute, and the
  // message carries the slot's stable Message-ID, the same for every attempt at the slot.
  // Nothing: the send is no slot's (the failure names the clock's minute, the ID is random).
  void SetSendSlot(const std::optional<schedule::LocalDateTime>& slot) { sendSlot_ = slot; }
  // LastFailureKind tells whether the send job's last failure may be tried again.
  retry::FailureKind LastFailureKind() const { return lastFailureKind_; }
  // btn_testClick sends the test message (SendTestMessage) and records it in the history.
  void btn_testClick();
  void SendTestMessage();
  void clSMTPProgress(TclTcpCommandClient* Sender, std::int64_t ABytesProceed,
                      std::int64_t ATotalBytes);

  // Busy: the send job or the test runs in the window (their network waits handle events).
  bool Busy() const { return testRunning_ || sendRunning_; }

  // The test message's texts.
  static inline const std::string kTestText = "Kadenza - Testovací zpráva";
  static const std::string kTestHtml;

  // Account panel.
  QLineEdit* ed_smtp;
  QLineEdit* ed_user;
  QLineEdit* ed_pass;
  QCheckBox* cbSSL;
  QLineEdit* edPort;
  QComboBox* cbSMTP;
  // Where the password is kept (shown when no keyring answers, or the file was chosen).
  TPasswordPanel* pn_heslo;
  QLabel* lbl_tip;  // the provider's one-line hint, hidden when there is none
  // Recipients panel.
  QPlainTextEdit* mem_prijemce;
  QLineEdit* ed_my_mail;
  // Message panel.
  QLineEdit* ed_predmet;
  QPlainTextEdit* mem_text;
  QTimeEdit* cas;
  QDateEdit* do_data;
  TFileNameEdit* priloha1;
  TFileNameEdit* priloha2;
  TFileNameEdit* priloha3;
  QPushButton* btnSend;
  TCatchUpField* cb_dohnat;  // catch-up of a send missed while the computer was off
  // Day selection.
  QGroupBox* pn_vyber;
  QRadioButton* rb_combi;
  QRadioButton* rb_jednotlive;
  QPushButton* btn_Vybrat;
  QGroupBox* pn_jednotlive;
  QRadioButton* rb_po;
  QRadioButton* rb_ut;
  QRadioButton* rb_st;
  QRadioButton* rb_ct;
  QRadioButton* rb_pa;
  QRadioButton* rb_so;
  QRadioButton* rb_ne;
  QRadioButton* rb_po_pa;
  QRadioButton* rb_po_ne;
  QPushButton* btn_back;
  QGroupBox* pn_combi;
  QCheckBox* cb_po;
  QCheckBox* cb_ut;
  QCheckBox* cb_st;
  QCheckBox* cb_ct;
  QCheckBox* cb_pa;
  QCheckBox* cb_so;
  QCheckBox* cb_ne;
  QPushButton* sButton1;
  // Button panel.
  Lamp* led1;
  QProgressBar* gau;
  TElidedLabel* lbl_chyba;  // a failed test's sentence, shown in the gauge's place
  Lamp* led2;
  QPushButton* btn_close;
  QPushButton* btn_test;
  QPushButton* btn_save;
  // The validation timer.
  QTimer* T;
  // The test's SMTP component (it drives the gauge), the send job's, and the message both
  // compose.
  TclSmtp clSMTP;
  TclSmtp clSmtp1;
  TclMailMessage clMessage;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
 public slots:
  void done(int result) override;

 private:
  void BuildAccountPanel(class QVBoxLayout* root);
  void BuildRecipientsPanel(QVBoxLayout* root);
  void BuildMessagePanel(QVBoxLayout* root);
  void BuildDayPanels(class QGridLayout* grid, int row, int column);
  void BuildButtonPanel(QVBoxLayout* root);
  void ConnectHandlers();
  void UntickAllDays();
  // ShowStoredDays shows the stored days: the radio button that stands for exactly them,
  // else the ticked boxes of the combination panel; the mode choice when none is stored.
  void ShowStoredDays();
  // DayBelongsTo: the radio button's choice includes the day (0 = Monday .. 6 = Sunday).
  bool DayBelongsTo(const QRadioButton* button, std::size_t mondayFirst) const;
  void SetUpKeyboard();
  std::array<QRadioButton*, 9> DayRadios() const;
  std::array<QCheckBox*, 7> DayBoxes() const;
  bool EntriesComplete() const;
  // CheckEntries refuses what Save could store but never send: an error names the field and
  // the field takes the focus. An expiry date already past is kept only when the user says
  // so (it then means no more sends). Answers whether to store.
  bool CheckEntries(const settings::StoredSettings& stored);
  // ShowCleared shows what "Vymazat vše" left stored: empty fields, no day chosen.
  void ShowCleared();
  void ShowStored(const sendjob::StoredSend& stored);
  // KeepPassword stores the password where the password panel says (keyring or setup.dat)
  // and answers what setup.dat gets; nothing when the keyring failed (the panel says why).
  std::optional<std::string> KeepPassword();
  // ShowTestFailure shows a failed test's text where the gauge is; empty brings the gauge back.
  void ShowTestFailure(const QString& text);
  // ScheduledFailureText: "Naplánované odeslání <date time> se nezdařilo: <sentence>".
  QString ScheduledFailureText(const failure::Failure& f) const;
  // SlotMessageIdLeft: the Message-ID's left side for the slot served ("" for a random one).
  std::string SlotMessageIdLeft() const;

  Clock clock_ = &schedule::NowLocal;
  bool sized_ = false;
  QString offeredServer_;  // the server ed_userChange filled in, while it stands
  // A dialogue runs while the window keeps handling events; these keep a second one of the
  // same kind from starting meanwhile.
  bool testRunning_ = false;
  bool sendRunning_ = false;
  std::optional<schedule::LocalDateTime> sendSlot_;
  retry::FailureKind lastFailureKind_ = retry::FailureKind::kPermanent;
  std::exception_ptr* sendError_ = nullptr;  // where a running ClickSend takes the job's error
};
