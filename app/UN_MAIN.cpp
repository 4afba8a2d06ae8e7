#include "app/UN_MAIN.h"

#include <QButtonGroup>
#include <QCalendarWidget>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScrollBar>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <string_view>
#include <vector>

#include "app/AppIcon.h"
#include "app/Dialogs.h"
#include "app/EntryCheck.h"
#include "app/HexText.h"
#include "app/IniFile.h"
#include "app/PasswordStore.h"
#include "app/Providers.h"
#include "app/QtText.h"
#include "app/Schedule.h"
#include "app/SendJob.h"
#include "app/SettingsStore.h"
#include "core/Error.h"
#include "core/ScopeGuard.h"

namespace {

// Label makes a field's label: its "&" marks the Alt key that moves to the field, and its
// text (without the "&") is the field's accessible name, so screen readers name the field.
QLabel* Label(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  buddy->setAccessibleName(QString(text).remove(QLatin1Char('&')));
  return label;
}

// NewPanel makes one of the window's stacked panels, laid out on a grid.
QWidget* NewPanel(QWidget* parent, const QString& name) {
  auto* panel = new QWidget(parent);
  panel->setObjectName(name);
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 0, 0, 0);
  return panel;
}

// Fields are drawn light grey with black text. A palette does this without a style sheet,
// which would keep a whole style-sheet engine alive in a program that idles all day.
void PaintField(QWidget* field) {
  QPalette p = field->palette();
  p.setColor(QPalette::Base, QColor(0xF5, 0xF5, 0xF5));
  p.setColor(QPalette::Text, Qt::black);
  field->setPalette(p);
}

}  // namespace

const std::array<Tfrm_main::Preset, 5> Tfrm_main::kPresets = {{
    {"seznam.cz", "smtp.seznam.cz"},
    {"email.cz", "smtp.seznam.cz"},
    {"gmail.com", "smtp.gmail.com"},
    {"centrum.cz", "smtp.centrum.cz"},
    {"volny.cz", "smtp.volny.cz"},
}};

Tfrm_main::Tfrm_main(QWidget* parent) : QDialog(parent) {
  sendjob::SetUpSmtp(clSMTP);
  sendjob::SetUpSmtp(clSmtp1);
  sendjob::SetUpMessage(clMessage);
  clSMTP.OnProgress = [this](TclTcpCommandClient* sender, std::int64_t done, std::int64_t all) {
    clSMTPProgress(sender, done, all);
  };
  setWindowTitle(QStringLiteral("Kadenza"));
  setWindowIcon(ApplicationIcon());
  // Only the close button in the title bar: no minimising, no maximising.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  QFont tahoma(QStringLiteral("Tahoma"));
  tahoma.setPixelSize(11);
  setFont(tahoma);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(8, 8, 8, 8);
  root->setSpacing(4);
  BuildAccountPanel(root);
  pn_heslo = new TPasswordPanel(this);
  root->addWidget(pn_heslo);
  BuildRecipientsPanel(root);
  BuildMessagePanel(root);
  BuildButtonPanel(root);
  for (QWidget* field : std::initializer_list<QWidget*>{
           ed_smtp, ed_user, ed_pass, edPort, cbSMTP, mem_prijemce, ed_my_mail, ed_predmet,
           mem_text, cas, do_data, priloha1->Edit(), priloha2->Edit(), priloha3->Edit()}) {
    PaintField(field);
  }
  // The window opens at the client size and may grow, never shrink below it; the
  // recipients and the message text take the extra room.
  setMinimumSize(kClientWidth, kClientHeight);
  SetUpKeyboard();

  T = new QTimer(this);
  T->setInterval(1000);
  ConnectHandlers();
  T->start();
}

void Tfrm_main::BuildAccountPanel(QVBoxLayout* root) {
  auto* pn = NewPanel(this, QStringLiteral("pn"));
  auto* g = static_cast<QGridLayout*>(pn->layout());
  ed_smtp = new QLineEdit(pn);
  ed_smtp->setPlaceholderText(QStringLiteral("Váš SMTP server"));
  ed_user = new QLineEdit(pn);
  ed_user->setPlaceholderText(QStringLiteral("Jméno k emailu"));
  ed_user->setToolTip(QStringLiteral("Uživatelské jméno emailu"));
  ed_pass = new QLineEdit(pn);
  ed_pass->setEchoMode(QLineEdit::Password);
  auto* stars = new TPasswordStyle;
  stars->setParent(ed_pass);
  ed_pass->setStyle(stars);
  ed_pass->setPlaceholderText(QStringLiteral("Heslo k účtu"));
  ed_pass->setToolTip(QStringLiteral("Heslo k emailovému účtu"));
  cbSSL = new QCheckBox(QStringLiteral("T&LS/SSL"), pn);
  cbSSL->setAccessibleName(QStringLiteral("TLS/SSL"));
  cbSSL->setChecked(true);
  edPort = new QLineEdit(QStringLiteral("465"), pn);
  edPort->setMaximumWidth(60);
  cbSMTP = new QComboBox(pn);
  for (const Preset& p : kPresets)
    cbSMTP->addItem(QString::fromLatin1(p.domain));
  cbSMTP->setCurrentIndex(-1);

  g->addWidget(Label(QStringLiteral("&smtp server"), ed_smtp), 0, 0);
  g->addWidget(ed_smtp, 0, 1);
  g->addWidget(Label(QStringLiteral("už&ivatel"), ed_user), 0, 2);
  g->addWidget(ed_user, 0, 3);
  g->addWidget(Label(QStringLiteral("&heslo"), ed_pass), 0, 4);
  g->addWidget(ed_pass, 0, 5);
  g->addWidget(cbSSL, 1, 1);
  auto* port = new QHBoxLayout;
  port->addWidget(Label(QStringLiteral("Po&rt"), edPort));
  port->addWidget(edPort);
  port->addStretch();
  g->addLayout(port, 1, 3);
  g->addWidget(Label(QStringLiteral("SMTP - &výběr"), cbSMTP), 1, 4);
  g->addWidget(cbSMTP, 1, 5);
  lbl_tip = new QLabel(pn);
  lbl_tip->setObjectName(QStringLiteral("lbl_tip"));
  lbl_tip->hide();
  g->addWidget(lbl_tip, 2, 0, 1, 6);
  root->addWidget(pn);
}

void Tfrm_main::BuildRecipientsPanel(QVBoxLayout* root) {
  auto* pn2 = NewPanel(this, QStringLiteral("pn2"));
  auto* g = static_cast<QGridLayout*>(pn2->layout());
  mem_prijemce = new QPlainTextEdit(pn2);
  mem_prijemce->setLineWrapMode(QPlainTextEdit::NoWrap);
  mem_prijemce->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mem_prijemce->setToolTip(
      QStringLiteral("Zadejte všechny příjemce zprávy vedle sebe oddělené čárkou a mezerou"));
  // At least three lines; the box takes a share of any height the window grows by.
  mem_prijemce->setMinimumHeight(3 * mem_prijemce->fontMetrics().lineSpacing() + 8 +
                                 mem_prijemce->horizontalScrollBar()->sizeHint().height());
  mem_prijemce->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  ed_my_mail = new QLineEdit(pn2);
  ed_my_mail->setPlaceholderText(QStringLiteral("Váš email "));
  // Room for an ordinary address.
  ed_my_mail->setMinimumWidth(
      ed_my_mail->fontMetrics().horizontalAdvance(QStringLiteral("jan.novak@example.cz")) + 24);
  // The own address shares the row of the list's label, which keeps the window low.
  g->addWidget(
      Label(QStringLiteral("Seznam &příjemců - vkládejte vedle sebe oddělené čárkou a mezerou"),
            mem_prijemce),
      0, 0);
  g->addWidget(Label(QStringLiteral("váš e&mail"), ed_my_mail), 0, 1, Qt::AlignRight);
  g->addWidget(ed_my_mail, 0, 2);
  g->addWidget(mem_prijemce, 1, 0, 1, 3);
  g->setColumnStretch(0, 1);
  g->setVerticalSpacing(2);
  root->addWidget(pn2, 1);
}

void Tfrm_main::BuildMessagePanel(QVBoxLayout* root) {
  auto* pn3 = NewPanel(this, QStringLiteral("pn3"));
  auto* g = static_cast<QGridLayout*>(pn3->layout());

  ed_predmet = new QLineEdit(pn3);
  ed_predmet->setToolTip(QStringLiteral("Zadejte předmět zprávy"));
  mem_text = new QPlainTextEdit(pn3);
  mem_text->setToolTip(QStringLiteral("Zadejte text zprávy"));

  QFont big = font();
  big.setBold(true);
  big.setPixelSize(16);
  cas = new QTimeEdit(QTime(0, 0, 0), pn3);
  cas->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  cas->setFont(big);
  // A time field has no room for a placeholder; its advice goes with the hint.
  cas->setToolTip(QStringLiteral("Zadejte čas odesílání zprávy\n") +
                  QStringLiteral("Zadávejte čas v hodinách a minutách. Sekundy budou převedeny "
                                 "na nejbližší minutu."));
  do_data = new QDateEdit(QDate(2012, 12, 12), pn3);
  do_data->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  do_data->setCalendarPopup(true);
  do_data->calendarWidget()->setVerticalHeaderFormat(QCalendarWidget::ISOWeekNumbers);
  do_data->calendarWidget()->setFirstDayOfWeek(Qt::Monday);
  do_data->setFont(big);
  do_data->setAlignment(Qt::AlignCenter);
  do_data->setToolTip(QStringLiteral("Vyberte do kdy se mají opakovaně zprávy odesílat\n") +
                      QStringLiteral("Vyberte konečné datum pro deaktivaci časovače"));
  // The pop-up calendar reads in the window's font, not the field's large bold one.
  QFont calendarFont = font();
  calendarFont.setBold(false);
  calendarFont.setPixelSize(font().pixelSize());
  do_data->calendarWidget()->setFont(calendarFont);
  KeepOnScreen(do_data->calendarWidget()->window());
  SelectSectionOnClick(cas);
  SelectSectionOnClick(do_data);

  // The full hint is the tooltip; the placeholder is what fits the field.
  const QString fileHint = QStringLiteral("Klepněte na ikonu a vyberte soubor");
  int number = 1;
  for (TFileNameEdit** field : {&priloha1, &priloha2, &priloha3}) {
    *field = new TFileNameEdit(pn3);
    (*field)->Edit()->setMaxLength(255);
    (*field)->Edit()->setPlaceholderText(QStringLiteral("Vyberte soubor"));
    (*field)->SetHint(fileHint);
    (*field)->Button()->setAccessibleName(
        QStringLiteral("Vybrat soubor pro přílohu %1").arg(number++));
  }
  priloha2->setEnabled(false);
  priloha3->setEnabled(false);
  btnSend = new QPushButton(QStringLiteral("btnSend"), pn3);
  btnSend->setVisible(false);
  cb_dohnat = new TCatchUpField(pn3);

  // Three columns: subject and text; time, date and the days; the attachments.
  g->setVerticalSpacing(2);
  g->addWidget(Label(QStringLiteral("Předmě&t"), ed_predmet), 0, 0);
  g->addWidget(ed_predmet, 1, 0);
  g->addWidget(Label(QStringLiteral("Te&xt zprávy"), mem_text), 2, 0);
  g->addWidget(mem_text, 3, 0, 2, 1);
  g->addWidget(cb_dohnat, 5, 0);
  g->addWidget(Label(QStringLiteral("Čas &odesílání"), cas), 0, 1);
  g->addWidget(cas, 1, 1);
  g->addWidget(Label(QStringLiteral("&Do data"), do_data), 2, 1);
  g->addWidget(do_data, 3, 1);
  BuildDayPanels(g, 4, 1);
  g->addWidget(Label(QStringLiteral("Příloha &1"), priloha1->Edit()), 0, 2);
  g->addWidget(priloha1, 1, 2);
  g->addWidget(Label(QStringLiteral("Příloha &2"), priloha2->Edit()), 2, 2);
  g->addWidget(priloha2, 3, 2);
  auto* third = new QVBoxLayout;
  third->setSpacing(2);
  third->addWidget(Label(QStringLiteral("Příloha &3"), priloha3->Edit()));
  third->addWidget(priloha3);
  third->addStretch();
  g->addLayout(third, 4, 2, 2, 1);
  // Extra width goes to the subject and the text; the other columns keep their size.
  g->setRowStretch(4, 1);
  g->setColumnStretch(0, 1);
  g->setColumnMinimumWidth(0, 170);
  g->setColumnMinimumWidth(2, 140);
  root->addWidget(pn3, 2);
}

void Tfrm_main::BuildDayPanels(QGridLayout* grid, int row, int column) {
  // Three panels at the same place; one is visible at a time.
  pn_vyber = new QGroupBox(QStringLiteral("Volba kombinací"));
  rb_combi = new QRadioButton(QStringLiteral("Výběr kombinací dní"));
  rb_jednotlive = new QRadioButton(QStringLiteral("Výběr jednotlivých dní"));
  btn_Vybrat = new QPushButton(QStringLiteral("Vy&brat"));
  auto* v = new QGridLayout(pn_vyber);
  v->addWidget(rb_combi, 0, 0);
  v->addWidget(rb_jednotlive, 1, 0);
  v->addWidget(btn_Vybrat, 0, 1, 2, 1, Qt::AlignRight | Qt::AlignVCenter);

  pn_jednotlive = new QGroupBox(QStringLiteral("Volby dní"));
  rb_po = new QRadioButton(QStringLiteral("Pondělí"));
  rb_ut = new QRadioButton(QStringLiteral("Úterý"));
  rb_st = new QRadioButton(QStringLiteral("Středa"));
  rb_ct = new QRadioButton(QStringLiteral("Čtvrtek"));
  rb_pa = new QRadioButton(QStringLiteral("Pátek"));
  rb_so = new QRadioButton(QStringLiteral("Sobota"));
  rb_ne = new QRadioButton(QStringLiteral("Neděle"));
  rb_po_pa = new QRadioButton(QStringLiteral("Po - Pá"));
  rb_po_ne = new QRadioButton(QStringLiteral("Po - Ne"));
  btn_back = new QPushButton(QStringLiteral("Zpět"));
  auto* j = new QGridLayout(pn_jednotlive);
  const auto radios = DayRadios();
  auto* group = new QButtonGroup(pn_jednotlive);
  for (std::size_t i = 0; i < radios.size(); ++i) {
    group->addButton(radios[i]);
    j->addWidget(radios[i], static_cast<int>(i / 3), static_cast<int>(i % 3));
  }
  j->addWidget(btn_back, 2, 3, Qt::AlignRight);

  pn_combi = new QGroupBox(QStringLiteral("Volby dní"));
  cb_po = new QCheckBox(QStringLiteral("Pondělí"));
  cb_ut = new QCheckBox(QStringLiteral("Úterý"));
  cb_st = new QCheckBox(QStringLiteral("Středa"));
  cb_ct = new QCheckBox(QStringLiteral("Čtvrtek"));
  cb_pa = new QCheckBox(QStringLiteral("Pátek"));
  cb_so = new QCheckBox(QStringLiteral("Sobota"));
  cb_ne = new QCheckBox(QStringLiteral("Neděle"));
  sButton1 = new QPushButton(QStringLiteral("Zpět"));
  auto* c = new QGridLayout(pn_combi);
  const auto boxes = DayBoxes();
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    c->addWidget(boxes[i], static_cast<int>(i / 3), static_cast<int>(i % 3));
  }
  c->addWidget(sButton1, 2, 3, Qt::AlignRight);

  for (QGroupBox* panel : {pn_vyber, pn_jednotlive, pn_combi}) {
    // Each panel keeps its room while hidden, so switching never squeezes the window.
    QSizePolicy policy = panel->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    panel->setSizePolicy(policy);
    static_cast<QGridLayout*>(panel->layout())->setVerticalSpacing(0);
    static_cast<QGridLayout*>(panel->layout())->setContentsMargins(4, 2, 4, 2);
    grid->addWidget(panel, row, column, 2, 1, Qt::AlignTop);
  }
  pn_jednotlive->hide();
  pn_combi->hide();
}

void Tfrm_main::BuildButtonPanel(QVBoxLayout* root) {
  auto* sPanel1 = new QWidget(this);
  sPanel1->setObjectName(QStringLiteral("sPanel1"));
  auto* h = new QHBoxLayout(sPanel1);
  h->setContentsMargins(0, 4, 0, 0);
  led1 = new Lamp(Qt::green, Qt::red, sPanel1);  // lime on, red off
  gau = new QProgressBar(sPanel1);
  gau->setRange(0, 100);
  gau->setValue(0);
  gau->setFormat(QStringLiteral("%p% odesláno"));
  lbl_chyba = new TElidedLabel(sPanel1);
  lbl_chyba->setObjectName(QStringLiteral("lbl_chyba"));
  lbl_chyba->hide();
  led2 = new Lamp(Qt::red, Qt::green, sPanel1);
  btn_close = new QPushButton(QStringLiteral("Vyma&zat vše"), sPanel1);
  btn_close->setToolTip(QStringLiteral("Vymaže všechna data a ukončí nastavení"));
  btn_test = new QPushButton(QStringLiteral("T&est nastavení"), sPanel1);
  btn_test->setToolTip(QStringLiteral("Odešle testovací zprávu pouze na váš email"));
  btn_test->setEnabled(false);
  btn_save = new QPushButton(QStringLiteral("&Uložit nastavení a spustit časovač"), sPanel1);
  btn_save->setToolTip(QStringLiteral("Uloží nastavení a spustí opakované odesílání zprávy"));
  btn_save->setEnabled(false);
  // Enter in a one-line field saves, while saving is possible.
  btn_save->setDefault(true);
  h->addWidget(led1);
  h->addWidget(gau, 1);
  h->addWidget(lbl_chyba, 1);
  h->addWidget(led2);
  h->addWidget(btn_close);
  h->addWidget(btn_test);
  h->addWidget(btn_save);
  root->addWidget(sPanel1);
}

void Tfrm_main::ConnectHandlers() {
  using dialogs::Guard;
  connect(T, &QTimer::timeout, this, Guard([this] { TTimer(); }));
  connect(cbSMTP, &QComboBox::activated, this,
          [this](int i) { dialogs::Guarded([&] { cbSMTPChange(i); }); });
  connect(ed_user, &QLineEdit::textChanged, this, Guard([this] { ed_userChange(); }));
  connect(btn_Vybrat, &QPushButton::clicked, this, Guard([this] { btn_VybratClick(); }));
  connect(btn_back, &QPushButton::clicked, this, Guard([this] { btn_backClick(); }));
  connect(sButton1, &QPushButton::clicked, this, Guard([this] { sButton1Click(); }));
  for (QRadioButton* rb : DayRadios()) {
    connect(rb, &QRadioButton::clicked, this, Guard([this, rb] { RadioClick(rb); }));
  }
  // Check boxes react to the user's clicks; ticking them from the stored days or unticking
  // them by "Vybrat" writes nothing.
  for (QCheckBox* cb : DayBoxes()) {
    connect(cb, &QCheckBox::clicked, this, Guard([this, cb] { CheckBoxClick(cb); }));
  }
  connect(priloha1, &TFileNameEdit::textChanged, this, Guard([this] { priloha1Change(); }));
  connect(priloha2, &TFileNameEdit::textChanged, this, Guard([this] { priloha2Change(); }));
  connect(priloha3, &TFileNameEdit::textChanged, this, Guard([this] { priloha3Change(); }));
  connect(btn_save, &QPushButton::clicked, this, Guard([this] { btn_saveClick(); }));
  connect(btn_close, &QPushButton::clicked, this, Guard([this] { btn_closeClick(); }));
  connect(btn_test, &QPushButton::clicked, this, Guard([this] { btn_testClick(); }));
  connect(btnSend, &QPushButton::clicked, this, [this] {
    if (!sendError_) {
      dialogs::Guarded([this] { btnSendClick(); });
      return;
    }
    try {
      btnSendClick();
    } catch (...) {
      *sendError_ = std::current_exception();
    }
  });
}

std::array<QRadioButton*, 9> Tfrm_main::DayRadios() const {
  return {rb_po, rb_ut, rb_st, rb_ct, rb_pa, rb_so, rb_ne, rb_po_pa, rb_po_ne};
}

std::array<QCheckBox*, 7> Tfrm_main::DayBoxes() const {
  return {cb_po, cb_ut, cb_st, cb_ct, cb_pa, cb_so, cb_ne};
}

void Tfrm_main::showEvent(QShowEvent* event) {
  // Sized at the first showing, not at creation: measuring text loads the font database,
  // which a program that mostly sits in the tray should not carry until it is needed.
  if (!sized_) {
    sized_ = true;
    resize(kClientWidth, kClientHeight);
  }
  QDialog::showEvent(event);
  if (!event->spontaneous())
    dialogs::Guarded([this] { FormShow(); });
}

void Tfrm_main::done(int result) {
  dialogs::Guarded([this] { FormClose(); });
  QDialog::done(result);
}

void Tfrm_main::FormShow() {
  settings::EnsureDataFolder();
  if (settings::SetupFileExists()) {
    // Field by field: a value that cannot be decoded stops the loading there, and the
    // fields filled before it keep their values.
    const IniFile ini(settings::SetupFilePath());
    const auto read = [&](const settings::SettingKey& setting) {
      return QStr(settings::ReadSetting(ini, setting));
    };
    ed_smtp->setText(read(settings::kServerKey));
    ed_user->setText(read(settings::kUserKey));
    ed_pass->setText(pn_heslo->Load(&ini));
    ed_predmet->setText(read(settings::kSubjectKey));
    edPort->setText(read(settings::kPortKey));
    cbSSL->setChecked(read(settings::kSslKey) == QStringLiteral("1"));
    priloha1->setText(read(settings::kAttachmentKeys[0]));
    priloha2->setText(read(settings::kAttachmentKeys[1]));
    priloha3->setText(read(settings::kAttachmentKeys[2]));
    mem_prijemce->setPlainText(read(settings::kRecipientsKey));
    ed_my_mail->setText(read(settings::kOwnAddressKey));
    // Read as the schedule reads them, so the window shows the schedule that runs; a text
    // the schedule cannot read leaves the field as it is.
    try {
      const kz::TimeOfDay t = schedule::ParseTimeText(Std(read(settings::kSendTimeKey)));
      cas->setTime(QTime(t.hour, t.minute, t.second));
    } catch (const EConvertError&) {
    }
    try {
      const auto d = schedule::ParseDateText(Std(read(settings::kValidUntilKey)));
      do_data->setDate(QDate(int(d.year()), int(unsigned(d.month())), int(unsigned(d.day()))));
    } catch (const EConvertError&) {
    }
    cb_dohnat->Load(&ini);
  } else {
    pn_heslo->Load(nullptr);
    cb_dohnat->Load(nullptr);
  }
  ShowStoredDays();
  bool exists = false;
  const std::vector<std::string> lines = settings::LoadMessageText(&exists);
  if (exists) {
    QStringList text;
    for (const std::string& line : lines)
      text << QStr(line);
    mem_text->setPlainText(text.join(QLatin1Char('\n')));
  }
}

bool Tfrm_main::EntriesComplete() const {
  return !ed_smtp->text().isEmpty() && !ed_user->text().isEmpty() &&
         ed_pass->text() != kPasswordPlaceholder && !mem_prijemce->toPlainText().isEmpty();
}

void Tfrm_main::FormClose() {
  if (EntriesComplete())
    return;
  dialogs::ShowMessage(
      QStringLiteral("Nebyla vyplněna všechna potřebná pole. Vymažu vše a ukončím nastavení"));
  passwords::ForgetStored();
  settings::DeleteDataFiles();
}

void Tfrm_main::TTimer() {
  // A ticked radio button or a ticked box of the combination panel is a day choice.
  bool dayChosen = false;
  for (QRadioButton* rb : DayRadios())
    dayChosen = dayChosen || rb->isChecked();
  for (QCheckBox* cb : DayBoxes())
    dayChosen = dayChosen || cb->isChecked();
  const bool ready = !ed_smtp->text().isEmpty() && !ed_user->text().isEmpty() &&
                     !ed_pass->text().isEmpty() && !mem_prijemce->toPlainText().isEmpty() &&
                     dayChosen && (!do_data->text().isEmpty() || !ed_my_mail->text().isEmpty());
  btn_test->setEnabled(ready);
  btn_save->setEnabled(ready);
}

void Tfrm_main::cbSMTPChange(int index) {
  if (index < 0 || index >= static_cast<int>(kPresets.size()))
    return;
  ed_smtp->setText(QString::fromLatin1(kPresets[static_cast<std::size_t>(index)].host));
  edPort->setText(QStringLiteral("465"));
  cbSSL->setChecked(true);
}

void Tfrm_main::ed_userChange() {
  const providers::Provider* p = providers::ForAddress(Std(ed_user->text()));
  const QString server = ed_smtp->text();
  if (server.isEmpty() || server == offeredServer_) {
    if (p) {
      offeredServer_ = QStr(std::string(p->host));
      ed_smtp->setText(offeredServer_);
      edPort->setText(QStr(std::string(p->port)));
      cbSSL->setChecked(p->ssl);
    } else if (!offeredServer_.isEmpty()) {
      // The address no longer names that provider: its offer goes again.
      ed_smtp->clear();
      offeredServer_.clear();
    }
  }
  const bool hint = p && !p->hint.empty();
  lbl_tip->setText(hint ? QStr(std::string(p->hint)) : QString());
  lbl_tip->setVisible(hint);
}

void Tfrm_main::UntickAllDays() {
  for (QRadioButton* rb : DayRadios()) {
    // An exclusive group never lets its last ticked button go; lift that for the moment.
    rb->setAutoExclusive(false);
    if (auto* group = rb->group())
      group->setExclusive(false);
    rb->setChecked(false);
  }
  for (QRadioButton* rb : DayRadios()) {
    if (auto* group = rb->group())
      group->setExclusive(true);
    rb->setAutoExclusive(true);
  }
  for (QCheckBox* cb : DayBoxes())
    cb->setChecked(false);
}

void Tfrm_main::btn_VybratClick() {
  // The stored days stay as they are until a day is clicked in the panel, so leaving the
  // window now keeps the running schedule.
  if (rb_jednotlive->isChecked()) {
    pn_jednotlive->show();
    pn_combi->hide();
    pn_vyber->hide();
    UntickAllDays();
  } else if (rb_combi->isChecked()) {
    pn_jednotlive->hide();
    pn_combi->show();
    pn_vyber->hide();
    UntickAllDays();
  } else {
    dialogs::ShowMessage(QStringLiteral("Musíte zvolit jednotlivě, nebo kombinaci"));
  }
}

void Tfrm_main::btn_backClick() {
  pn_jednotlive->hide();
  pn_combi->hide();
  pn_vyber->show();
}

void Tfrm_main::sButton1Click() {
  btn_backClick();
}

void Tfrm_main::RadioClick(QRadioButton* button) {
  if (!button->isChecked())
    return;
  const IniFile ini(settings::SetupFilePath());
  for (std::size_t i = 0; i < settings::kWeekdayKeys.size(); ++i)
    settings::SetDayChosen(ini, settings::MondayFirst(i), DayBelongsTo(button, i));
}

void Tfrm_main::CheckBoxClick(QCheckBox* /*box*/) {
  // The panel's boxes are the whole combination: store every day as its box shows it.
  const auto boxes = DayBoxes();
  const IniFile ini(settings::SetupFilePath());
  for (std::size_t i = 0; i < boxes.size(); ++i)
    settings::SetDayChosen(ini, settings::MondayFirst(i), boxes[i]->isChecked());
}

void Tfrm_main::ShowStoredDays() {
  std::array<bool, 7> stored{};  // Monday first
  bool any = false;
  {
    const IniFile ini(settings::SetupFilePath());
    for (std::size_t i = 0; i < stored.size(); ++i) {
      stored[i] = settings::IsDayChosen(ini, settings::MondayFirst(i));
      any = any || stored[i];
    }
  }
  UntickAllDays();
  pn_vyber->setVisible(!any);
  pn_jednotlive->hide();
  pn_combi->hide();
  if (!any)
    return;
  // The radio button whose days are exactly the stored ones, if there is one.
  const auto radios = DayRadios();
  QRadioButton* match = nullptr;
  for (QRadioButton* rb : radios) {
    bool same = true;
    for (std::size_t i = 0; i < stored.size(); ++i)
      same = same && stored[i] == DayBelongsTo(rb, i);
    if (same)
      match = rb;
  }
  if (match) {
    rb_jednotlive->setChecked(true);
    match->setChecked(true);
    pn_jednotlive->show();
  } else {
    rb_combi->setChecked(true);
    const auto boxes = DayBoxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
      boxes[i]->setChecked(stored[i]);
    pn_combi->show();
  }
}

bool Tfrm_main::DayBelongsTo(const QRadioButton* button, std::size_t mondayFirst) const {
  return DayRadios()[mondayFirst] == button || button == rb_po_ne ||
         (button == rb_po_pa && mondayFirst < 5);
}

void Tfrm_main::SetUpKeyboard() {
  // Tab moves on from the memos; a literal tab in the message text is Ctrl+Tab.
  mem_prijemce->setTabChangesFocus(true);
  mem_text->setTabChangesFocus(true);
  mem_text->installEventFilter(this);
  ed_pass->installEventFilter(this);
  // Tab goes through the window as it reads: the account, the recipients, the message, the
  // time, date and days, each attachment with its button, then the buttons.
  std::vector<QWidget*> chain = {ed_smtp, ed_user,      ed_pass,    cbSSL,         edPort,
                                 cbSMTP,  mem_prijemce, ed_my_mail, ed_predmet,    mem_text,
                                 cas,     do_data,      rb_combi,   rb_jednotlive, btn_Vybrat};
  for (QRadioButton* rb : DayRadios())
    chain.push_back(rb);
  chain.push_back(btn_back);
  for (QCheckBox* cb : DayBoxes())
    chain.push_back(cb);
  chain.push_back(sButton1);
  for (TFileNameEdit* field : {priloha1, priloha2, priloha3}) {
    chain.push_back(field->Edit());
    chain.push_back(field->Button());
  }
  for (QWidget* button : {btn_close, btn_test, btn_save})
    chain.push_back(button);
  for (std::size_t i = 1; i < chain.size(); ++i)
    setTabOrder(chain[i - 1], chain[i]);
}

bool Tfrm_main::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress)
    return QDialog::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (watched == mem_text && key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
    mem_text->insertPlainText(QStringLiteral("\t"));
    return true;
  }
  if (watched == ed_pass && ed_pass->text() == kPasswordPlaceholder) {
    // The placeholder word is no password: the first key that edits replaces it.
    const bool typed = !key->text().isEmpty() && key->text().at(0).isPrint();
    const bool erases = key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete;
    if (typed || erases || key->matches(QKeySequence::Paste))
      ed_pass->clear();
    if (erases)
      return true;
  }
  return QDialog::eventFilter(watched, event);
}

void Tfrm_main::keyPressEvent(QKeyEvent* event) {
  // Escape does not close the window: it closes through its close button and its buttons.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

namespace {
// An attachment field opens the next one only while it names an existing file.
void OpenNextWhenFileExists(const TFileNameEdit* field, TFileNameEdit* next) {
  const bool exists = QFileInfo(field->text()).isFile();
  next->setEnabled(exists);
  if (!exists)
    next->clear();
}
}  // namespace

void Tfrm_main::priloha1Change() {
  OpenNextWhenFileExists(priloha1, priloha2);
}

void Tfrm_main::priloha2Change() {
  OpenNextWhenFileExists(priloha2, priloha3);
}

void Tfrm_main::priloha3Change() {
  priloha3->setEnabled(!priloha3->text().isEmpty());
}

std::optional<std::string> Tfrm_main::KeepPassword() {
  std::optional<keyring::Account> previous;
  if (settings::SetupFileExists()) {
    try {
      const IniFile ini(settings::SetupFilePath());
      previous = keyring::Account{settings::ReadSetting(ini, settings::kServerKey),
                                  settings::ReadSetting(ini, settings::kUserKey)};
    } catch (const EConvertError&) {
    }
  }
  return pn_heslo->Keep({Std(ed_smtp->text()), Std(ed_user->text())}, Std(ed_pass->text()),
                        previous);
}

bool Tfrm_main::CheckEntries(const settings::StoredSettings& stored) {
  // The sender and the list's length first: their sentences say more than a per-field one.
  stored.Check();
  const std::pair<QWidget*, std::string> problems[] = {
      {ed_smtp, entrycheck::CheckServer(stored.server)},
      {edPort, entrycheck::CheckPort(stored.port)},
      {mem_prijemce, entrycheck::CheckAddresses(stored.recipients, "Seznam příjemců", true)},
      {ed_my_mail, entrycheck::CheckAddresses(stored.ownAddress, "váš email", false)},
  };
  for (const auto& [field, problem] : problems) {
    if (!problem.empty()) {
      field->setFocus();
      dialogs::ShowError(QStr(problem));
      return false;
    }
  }
  const schedule::LocalDateTime now = clock_();
  const QDate today(int(now.date.year()), int(unsigned(now.date.month())),
                    int(unsigned(now.date.day())));
  if (do_data->date() < today &&
      !dialogs::Ask(QStringLiteral("Datum v poli „Do data“ (%1) už uplynulo, takže se žádná "
                                   "zpráva neodešle. Uložit nastavení přesto?")
                        .arg(do_data->text()))) {
    do_data->setFocus();
    return false;
  }
  return true;
}

void Tfrm_main::btn_saveClick() {
  const bool haveRecipients = !mem_prijemce->toPlainText().isEmpty();
  settings::StoredSettings stored;
  if (haveRecipients) {
    // Spaces around the server's name or the port are no part of them (a pasted name often
    // brings one); the field shows what is stored.
    ed_smtp->setText(ed_smtp->text().trimmed());
    edPort->setText(edPort->text().trimmed());
    // The recipients field's lines are stored joined by CR LF.
    QString recipients = mem_prijemce->toPlainText();
    recipients.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    stored.recipients = Std(recipients);
    stored.ownAddress = Std(ed_my_mail->text());
    stored.sendTime = Std(cas->text());
    stored.validUntil = Std(do_data->text());
    stored.server = Std(ed_smtp->text());
    stored.port = Std(edPort->text());
    stored.ssl = cbSSL->isChecked();
    stored.user = Std(ed_user->text());
    stored.password = Std(ed_pass->text());
    stored.subject = Std(ed_predmet->text());
    stored.attachments = {Std(priloha1->text()), Std(priloha2->text()), Std(priloha3->text())};
    // Settings that could never be sent are refused before anything is stored; the window
    // stays open with the user's entries, and the message says which field to mend.
    if (!CheckEntries(stored))
      return;
    // The password goes next: a keyring that fails keeps the window open, with the reason
    // and the choice of the file shown, and the stored settings as they are.
    const std::optional<std::string> fileValue = KeepPassword();
    if (!fileValue) {
      dialogs::ShowError(pn_heslo->lbState->text() +
                         QStringLiteral(" Nastavení nebylo uloženo. Zkuste to znovu, nebo "
                                        "zvolte „uložit heslo do souboru“."));
      return;
    }
    stored.password = *fileValue;
  }

  // Whatever happens while storing, the schedule starts and the window closes; an error is
  // reported after that.
  bool storedAll = false;
  kz::ScopeGuard startScheduleAndClose([this, &storedAll] {
    emit Saved();
    done(QDialog::Accepted);
    if (storedAll && settings::SetupFileExists())
      emit Stored();
  });

  if (haveRecipients) {
    const IniFile ini(settings::SetupFilePath());
    stored.Save(ini);
    pn_heslo->StoreChoice(ini);
    cb_dohnat->Store(ini);
  } else {
    dialogs::ShowMessage(QStringLiteral("Nemáte žádného příjemce. Doplňte jej."));
  }
  if (!mem_text->toPlainText().isEmpty()) {
    std::vector<std::string> lines;
    for (const QString& line : mem_text->toPlainText().split(QLatin1Char('\n'))) {
      lines.push_back(Std(line));
    }
    settings::SaveMessageText(lines);
  }
  storedAll = haveRecipients;
}

void Tfrm_main::btn_closeClick() {
  if (!dialogs::Ask(QStringLiteral("Vymazat všechna uložená data – nastavení účtu, heslo, "
                                   "příjemce, text zprávy a vybrané dny? Vymazání nelze vrátit "
                                   "zpět.")))
    return;
  passwords::ForgetStored();
  settings::DeleteDataFiles();
  ShowCleared();
  emit Cleared();
}

void Tfrm_main::ShowCleared() {
  ed_smtp->clear();
  offeredServer_.clear();
  lbl_tip->hide();
  cbSMTP->setCurrentIndex(-1);
  ed_user->clear();
  ed_pass->setText(kPasswordPlaceholder);
  edPort->clear();
  cbSSL->setChecked(false);
  mem_prijemce->clear();
  ed_my_mail->clear();
  ed_predmet->clear();
  mem_text->clear();
  const schedule::LocalDateTime now = schedule::NowLocal();
  cas->setTime(QTime(now.time.hour, now.time.minute, now.time.second));
  do_data->setDate(
      QDate(int(now.date.year()), int(unsigned(now.date.month())), int(unsigned(now.date.day()))));
  priloha1->clear();
  priloha2->clear();
  priloha3->clear();
  cb_dohnat->Load(nullptr);
  // No day is stored any more: the mode choice shows, nothing ticked, as at a first start.
  ShowStoredDays();
  for (QRadioButton* mode : {rb_combi, rb_jednotlive}) {
    mode->setAutoExclusive(false);
    mode->setChecked(false);
    mode->setAutoExclusive(true);
  }
}
