#include "app/UN_MAIN.h"

#include <QTest>
#include <QToolButton>

#include "AppFixture.h"
#include "app/HexText.h"
#include "app/QtText.h"
#include "app/SendHistory.h"
#include "core/Error.h"

namespace {

namespace fs = std::filesystem;

class SetupFormTest : public AppFixture {
 protected:
  SetupFormTest() { settings::EnsureDataFolder(); }

  void FillAccount() {
    form->ed_smtp->setText(QStringLiteral("smtp.example.cz"));
    form->ed_user->setText(QStringLiteral("jan@example.cz"));
    form->ed_pass->setText(QStringLiteral("tajné-heslo"));
    form->mem_prijemce->setPlainText(QStringLiteral("a@example.cz, b@example.cz"));
  }
  void ChooseSingleDays() {
    form->rb_jednotlive->setChecked(true);
    form->btn_VybratClick();
  }
  std::string Days() const {
    std::string out;
    for (const char* key : {"Po", "Ut", "St", "Ct", "Pa", "So", "Ne"}) {
      out += Read("Datum", key).empty() ? "-" : Read("Datum", key);
    }
    return out;
  }
  static bool Shown(QWidget* w) { return !w->isHidden(); }
};

TEST_F(SetupFormTest, InitialState) {
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Kadenza"));
  EXPECT_EQ(form->ed_smtp->placeholderText(), QStringLiteral("Váš SMTP server"));
  EXPECT_EQ(form->ed_my_mail->placeholderText(), QStringLiteral("Váš email "));
  EXPECT_EQ(form->ed_pass->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(form->cbSSL->isChecked());
  EXPECT_EQ(form->edPort->text(), QStringLiteral("465"));
  EXPECT_EQ(form->cbSMTP->currentIndex(), -1);
  EXPECT_EQ(form->cbSMTP->count(), 5);
  EXPECT_EQ(form->cas->text(), QStringLiteral("00:00:00"));
  EXPECT_EQ(form->do_data->text(), QStringLiteral("12.12.2012"));
  EXPECT_TRUE(form->priloha1->isEnabled());
  EXPECT_FALSE(form->priloha2->isEnabled());
  EXPECT_FALSE(form->priloha3->isEnabled());
  EXPECT_FALSE(form->btn_test->isEnabled());
  EXPECT_FALSE(form->btn_save->isEnabled());
  EXPECT_TRUE(form->btnSend->isHidden());
  EXPECT_TRUE(Shown(form->pn_vyber));
  EXPECT_FALSE(Shown(form->pn_jednotlive));
  EXPECT_FALSE(Shown(form->pn_combi));
  EXPECT_EQ(form->gau->text(), QStringLiteral("0% odesláno"));
  EXPECT_TRUE(form->T->isActive());
  EXPECT_EQ(form->T->interval(), 1000);
}

TEST_F(SetupFormTest, ActionButtonsNeedAccountRecipientsAndARadioDay) {
  FillAccount();
  form->TTimer();
  EXPECT_FALSE(form->btn_save->isEnabled());
  ChooseSingleDays();
  form->rb_st->click();
  form->TTimer();
  EXPECT_TRUE(form->btn_save->isEnabled());
  EXPECT_TRUE(form->btn_test->isEnabled());
  EXPECT_EQ(Days(), "--St----");
  form->ed_pass->clear();
  form->TTimer();
  EXPECT_FALSE(form->btn_save->isEnabled());
  EXPECT_FALSE(form->btn_test->isEnabled());
}

TEST_F(SetupFormTest, ValidationTimerRunsWhileHidden) {
  FillAccount();
  ChooseSingleDays();
  form->rb_po_pa->click();
  QTest::qWait(1300);
  EXPECT_TRUE(form->btn_save->isEnabled());
}

TEST_F(SetupFormTest, PresetFillsHostPortAndTls) {
  form->cbSSL->setChecked(false);
  form->edPort->setText(QStringLiteral("25"));
  form->cbSMTPChange(1);
  EXPECT_EQ(form->ed_smtp->text(), QStringLiteral("smtp.seznam.cz"));
  EXPECT_EQ(form->edPort->text(), QStringLiteral("465"));
  EXPECT_TRUE(form->cbSSL->isChecked());
  EXPECT_STREQ(Tfrm_main::kPresets[0].host, Tfrm_main::kPresets[1].host);
}

struct RadioCase {
  std::string name;
  QRadioButton* Tfrm_main::*button;
  std::string days;
};
void PrintTo(const RadioCase& c, std::ostream* os) {
  *os << c.name;
}

class RadioTest : public SetupFormTest, public testing::WithParamInterface<RadioCase> {};

TEST_P(RadioTest, StoresItsDaysAtOnce) {
  ChooseSingleDays();
  EXPECT_TRUE(Shown(form->pn_jednotlive));
  EXPECT_FALSE(Shown(form->pn_vyber));
  (form.get()->*GetParam().button)->click();
  EXPECT_EQ(Days(), GetParam().days);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RadioTest,
    testing::Values(RadioCase{"Monday", &Tfrm_main::rb_po, "Po------"},
                    RadioCase{"Wednesday", &Tfrm_main::rb_st, "--St----"},
                    RadioCase{"Sunday", &Tfrm_main::rb_ne, "------Ne"},
                    RadioCase{"Workdays", &Tfrm_main::rb_po_pa, "PoUtStCtPa--"},
                    RadioCase{"EveryDay", &Tfrm_main::rb_po_ne, "PoUtStCtPaSoNe"}),
    [](const auto& info) { return info.param.name; });

TEST_F(SetupFormTest, CheckBoxesStoreOnlyTheirOwnDay) {
  Ini().WriteString("Datum", "Ut", "Ut");
  form->rb_combi->setChecked(true);
  form->btn_VybratClick();
  EXPECT_TRUE(Shown(form->pn_combi));
  EXPECT_EQ(Days(), "-Ut-----");  // kept until a day is clicked
  form->cb_po->click();
  form->cb_pa->click();
  EXPECT_EQ(Days(), "Po---Pa--");
  form->cb_po->click();
  EXPECT_EQ(Days(), "----Pa--");
}

TEST_F(SetupFormTest, VybratUntickesEverythingAndTheNextClickStoresTheDays) {
  ChooseSingleDays();
  form->rb_po_ne->click();
  form->btn_backClick();
  EXPECT_TRUE(Shown(form->pn_vyber));
  EXPECT_TRUE(form->rb_po_ne->isChecked());  // going back unticks nothing
  EXPECT_EQ(Days(), "PoUtStCtPaSoNe");
  form->rb_combi->setChecked(true);
  form->btn_VybratClick();
  EXPECT_FALSE(form->rb_po_ne->isChecked());
  EXPECT_EQ(Days(), "PoUtStCtPaSoNe");
  form->cb_so->click();
  EXPECT_EQ(Days(), "-----So-");
  form->sButton1Click();
  form->rb_jednotlive->setChecked(true);
  form->btn_VybratClick();
  EXPECT_FALSE(form->cb_so->isChecked());
  EXPECT_EQ(Days(), "-----So-");
  // The radio buttons still behave as one group after being unticked.
  form->rb_po->click();
  form->rb_ut->click();
  EXPECT_FALSE(form->rb_po->isChecked());
  EXPECT_EQ(Days(), "-Ut-----");
}

TEST_F(SetupFormTest, VybratWithoutAModeAsksForOne) {
  Ini().WriteString("Datum", "Po", "Po");
  form->btn_VybratClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].second, QStringLiteral("Musíte zvolit jednotlivě, nebo kombinaci"));
  EXPECT_EQ(Days(), "Po------");
  EXPECT_TRUE(Shown(form->pn_vyber));
}

TEST_F(SetupFormTest, AttachmentFieldsOpenOneAfterAnother) {
  const fs::path file = home.Root() / "priloha.pdf";
  TempHome::Write(file, "%PDF");
  const QString path = QString::fromStdString(file.string());
  form->priloha1->setText(path);
  EXPECT_TRUE(form->priloha2->isEnabled());
  form->priloha2->setText(path);
  EXPECT_TRUE(form->priloha3->isEnabled());
  form->priloha3->setText(path);
  form->priloha1->setText(QStringLiteral("/no/such/file"));
  EXPECT_FALSE(form->priloha2->isEnabled());
  EXPECT_TRUE(form->priloha2->text().isEmpty());
  EXPECT_FALSE(form->priloha3->isEnabled());
  EXPECT_TRUE(form->priloha3->text().isEmpty());
}

TEST_F(SetupFormTest, FileDialogFillsTheField) {
  TFileNameEdit::SetFilePicker([](QWidget*, const QString&) { return QStringLiteral("/tmp/x"); });
  form->priloha1->Button()->click();
  EXPECT_EQ(form->priloha1->text(), QStringLiteral("/tmp/x"));
  form->priloha1->clear();
  QTest::mouseClick(form->priloha1->Edit(), Qt::LeftButton);  // a click into the field, too
  EXPECT_EQ(form->priloha1->text(), QStringLiteral("/tmp/x"));
  TFileNameEdit::SetFilePicker({});
}

TEST_F(SetupFormTest, SaveStoresEverythingAndStartsTheSchedule) {
  FillAccount();
  form->mem_prijemce->setPlainText(QStringLiteral("a@example.cz,\nb@example.cz"));
  form->ed_my_mail->setText(QStringLiteral("jan@example.cz"));
  form->ed_predmet->setText(QStringLiteral("Týdenní hlášení"));
  form->edPort->setText(QStringLiteral("587"));
  form->cbSSL->setChecked(false);
  form->cas->setTime(QTime(8, 0, 0));
  form->do_data->setDate(QDate(2027, 1, 31));
  form->mem_text->setPlainText(QStringLiteral("Dobrý den,\n\nposílám hlášení."));
  main->Timer2->start();
  form->btn_saveClick();

  EXPECT_EQ(HexToText(Read("SMTP", "server")), "smtp.example.cz");
  EXPECT_EQ(Read("SMTP", "port"), "587");
  EXPECT_EQ(Read("SMTP", "ssl"), "0");
  EXPECT_EQ(HexToText(Read("User", "name")), "jan@example.cz");
  // The password went into the keyring, none into the file.
  EXPECT_EQ(Read("Heslo", "pass"), "");
  EXPECT_EQ(Read("Heslo", "soubor"), "0");
  EXPECT_EQ(keyring.Lookup("smtp.example.cz", "jan@example.cz"), "tajné-heslo");
  EXPECT_EQ(HexToText(Read("Prijemce", "komu")), "a@example.cz,\r\nb@example.cz");
  EXPECT_EQ(HexToText(Read("Email", "myMail")), "jan@example.cz");
  EXPECT_EQ(Read("Predmet", "predmet"), "Týdenní hlášení");
  EXPECT_EQ(Read("Cas", "cas"), "08:00:00");
  EXPECT_EQ(Read("Do", "datm"), "31.01.2027");
  EXPECT_EQ(Read("Dohnat", "hodiny"), "0");  // catch-up is off unless chosen
  EXPECT_EQ(TempHome::Read(home.DataFolder() / "zprava.dat"),
            "\xEF\xBB\xBF"
            "Dobrý den,\r\n\r\nposílám hlášení.\r\n");
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_FALSE(main->Timer2->isActive());
  EXPECT_TRUE(messages.empty());
}

TEST_F(SetupFormTest, SaveWithEmptyTextKeepsTheStoredText) {
  TempHome::Write(home.DataFolder() / "zprava.dat", "stará zpráva\r\n");
  FillAccount();
  form->btn_saveClick();
  EXPECT_EQ(TempHome::Read(home.DataFolder() / "zprava.dat"), "stará zpráva\r\n");
}

TEST_F(SetupFormTest, SaveWithoutRecipientsWritesNothingButStartsTheSchedule) {
  form->ed_smtp->setText(QStringLiteral("smtp.example.cz"));
  form->btn_saveClick();
  EXPECT_EQ(Read("SMTP", "server"), "");
  ASSERT_GE(messages.size(), 1u);
  EXPECT_EQ(messages[0].second, QStringLiteral("Nemáte žádného příjemce. Doplňte jej."));
  EXPECT_TRUE(main->Timer1->isActive());
}

struct RefusedSaveRow {
  std::string name;
  QString user;
  QString ownAddress;
  QString recipients;
  std::string errorPart;
  QWidget* (*field)(const Tfrm_main&) = nullptr;  // the field that is changed and takes the focus
  QString text = {};                              // its text
};

QWidget* Server(const Tfrm_main& f) {
  return f.ed_smtp;
}
QWidget* Port(const Tfrm_main& f) {
  return f.edPort;
}
QWidget* Recipients(const Tfrm_main& f) {
  return f.mem_prijemce;
}
QWidget* OwnAddress(const Tfrm_main& f) {
  return f.ed_my_mail;
}

// Entry: the complete account of a user named by an address, with one field's text changed.
RefusedSaveRow Entry(std::string name, QWidget* (*field)(const Tfrm_main&), const char* text,
                     std::string errorPart) {
  return {std::move(name), QStringLiteral("jan@example.cz"), {}, {}, std::move(errorPart),
          field,           QString::fromUtf8(text)};
}

void PrintTo(const RefusedSaveRow& row, std::ostream* os) {
  *os << row.name;
}

class SetupFormRefusedSave : public SetupFormTest,
                             public testing::WithParamInterface<RefusedSaveRow> {};

// Settings that could never be sent are not stored: the window stays open with the entries,
// the schedule does not start, and the message names the field to mend.
TEST_P(SetupFormRefusedSave, StoresNothingAndKeepsTheWindow) {
  const RefusedSaveRow& row = GetParam();
  FillAccount();
  form->ed_user->setText(row.user);
  form->ed_my_mail->setText(row.ownAddress);
  if (!row.recipients.isEmpty())
    form->mem_prijemce->setPlainText(row.recipients);
  if (auto* line = row.field ? qobject_cast<QLineEdit*>(row.field(*form)) : nullptr)
    line->setText(row.text);
  else if (row.field)
    static_cast<QPlainTextEdit*>(row.field(*form))->setPlainText(row.text);
  form->show();
  form->btn_save->setEnabled(true);
  form->btn_save->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, dialogs::MessageKind::Error);
  EXPECT_TRUE(messages[0].second.contains(QString::fromStdString(row.errorPart)))
      << messages[0].second.toStdString();
  EXPECT_FALSE(fs::exists(home.DataFolder() / "setup.dat"));
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(main->Timer1->isActive());
  EXPECT_EQ(form->ed_user->text(), row.user);
  EXPECT_TRUE(questions.empty());  // the expiry date is not asked about before the fields
  EXPECT_TRUE(balloons.empty());
  if (row.field) {
    EXPECT_EQ(form->focusWidget(), row.field(*form));
  }
  form->hide();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SetupFormRefusedSave,
    testing::Values(
        RefusedSaveRow{"LoginNameWithoutOwnAddress", QStringLiteral("jnovak"), QString(), QString(),
                       "Vyplňte pole „váš email“."},
        RefusedSaveRow{"LoginNameWithBadOwnAddress", QStringLiteral("FIRMA\\jnovak"),
                       QStringLiteral("jnovak"), QString(), "Opravte pole „váš email“."},
        RefusedSaveRow{"RecipientListTooLong", QStringLiteral("jan@example.cz"), QString(),
                       QString(300000, QLatin1Char('a')), "Seznam příjemců je příliš dlouhý"},
        Entry("PortNotANumber", Port, "abc",
              "Pole „Port“ obsahuje „abc“, ale musí obsahovat celé číslo od 1 do 65535."),
        Entry("PortEmpty", Port, " ", "Pole „Port“ je prázdné"),
        Entry("PortZero", Port, "0", "Pole „Port“ obsahuje „0“"),
        Entry("PortPastTheLast", Port, "65536", "Pole „Port“ obsahuje „65536“"),
        Entry("PortWithAFraction", Port, "46.5", "Pole „Port“ obsahuje „46.5“"),
        Entry("ServerOfSpaces", Server, "   ",
              "Pole „smtp server“ je prázdné nebo obsahuje jen mezery."),
        Entry("ServerWithASpaceInside", Server, " smtp seznam.cz ",
              "Pole „smtp server“ obsahuje mezeru: „smtp seznam.cz“ není název serveru."),
        Entry("RecipientWithoutAddress", Recipients, "a@example.cz, Petr Novák",
              "V poli „Seznam příjemců“ není „Petr Novák“ e-mailová adresa."),
        Entry("RecipientWithoutDomain", Recipients, "a@example.cz,\npetr@",
              "V poli „Seznam příjemců“ není „petr@“"),
        Entry("RecipientDomainEndsWithADot", Recipients, "Petr <petr@example.>",
              "V poli „Seznam příjemců“ není „petr@example.“"),
        Entry("RecipientsOnlySeparators", Recipients, " , ;",
              "Pole „Seznam příjemců“ neobsahuje žádnou adresu."),
        Entry("OwnAddressNotAnAddress", OwnAddress, "jan.example.cz",
              "V poli „váš email“ není „jan.example.cz“ e-mailová adresa.")),
    [](const auto& info) { return info.param.name; });

struct SaveNoticeRow {
  std::string name;
  QRadioButton* Tfrm_main::*day;  // null: no day chosen
  QDate expiry;
  bool confirmPast;  // how the question about a past date is answered
  bool asked;        // whether that question comes
  QString notice;    // the notice after the save, empty when nothing is stored
};

void PrintTo(const SaveNoticeRow& row, std::ostream* os) {
  *os << row.name;
}

class SetupFormSaveNotice : public SetupFormTest,
                            public testing::WithParamInterface<SaveNoticeRow> {};

// A save is confirmed by a notice that names the next send, and the tooltip says the same at
// once; an expiry date already past is stored only when the user confirms it.
TEST_P(SetupFormSaveNotice, NamesTheNextSend) {
  const SaveNoticeRow& row = GetParam();
  // A send of the schedule a week ago, then a test message: the tooltip's last send is the
  // former.
  history::Record(history::Kind::kScheduled, "OK", 2, "Přehled", "30.11.2026 08:00:00");
  history::Record(history::Kind::kTest, "OK", 1, "Kadenza", "07.12.2026 07:55:00");
  form->show();
  FillAccount();
  form->cas->setTime(QTime(8, 0, 0));
  form->do_data->setDate(row.expiry);
  ChooseSingleDays();
  if (row.day)
    (form.get()->*row.day)->click();
  answer = row.confirmPast;
  form->btn_saveClick();

  EXPECT_TRUE(messages.empty()) << messages.front().second.toStdString();
  ASSERT_EQ(questions.size(), row.asked ? 1u : 0u);
  if (row.asked) {
    EXPECT_EQ(questions[0], QStringLiteral("Datum v poli „Do data“ (%1) už uplynulo, takže se "
                                           "žádná zpráva neodešle. Uložit nastavení přesto?")
                                .arg(row.expiry.toString(QStringLiteral("dd.MM.yyyy"))));
  }
  if (row.notice.isEmpty()) {
    EXPECT_EQ(Read("SMTP", "server"), "") << "only the day keys are stored";
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->focusWidget(), form->do_data);
    EXPECT_FALSE(main->Timer1->isActive());
    EXPECT_TRUE(balloons.empty());
    form->hide();
    return;
  }
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_EQ(Read("Do", "datm"), Std(row.expiry.toString(QStringLiteral("dd.MM.yyyy"))));
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_EQ(balloons[0].text, row.notice);
  EXPECT_EQ(main->tray->toolTip(),
            QStringLiteral("Kadenza – poslední odeslání 30.11.2026 08:00: OK; ") +
                row.notice.mid(QStringLiteral("Uloženo; ").size()));
}

// The fixture's now is Monday 07.12.2026 08:00: that minute has begun, so Monday's next
// send is a week on.
INSTANTIATE_TEST_SUITE_P(
    Rows, SetupFormSaveNotice,
    testing::Values(
        SaveNoticeRow{"MondayNextWeek", &Tfrm_main::rb_po, QDate(2030, 12, 31), true, false,
                      QStringLiteral("Uloženo; příští odeslání po 14.12.2026 08:00")},
        SaveNoticeRow{"TuesdayTomorrow", &Tfrm_main::rb_ut, QDate(2030, 12, 31), true, false,
                      QStringLiteral("Uloženo; příští odeslání út 08.12.2026 08:00")},
        SaveNoticeRow{"ExpiryTodayAsksNothing", &Tfrm_main::rb_po_ne, QDate(2026, 12, 7), true,
                      false, QStringLiteral("Uloženo; platnost časovače vypršela")},
        SaveNoticeRow{"ExpiryBeforeTheNextSend", &Tfrm_main::rb_po, QDate(2026, 12, 13), true,
                      false,
                      QStringLiteral("Uloženo; do konce platnosti 13.12.2026 už žádné odeslání "
                                     "nebude")},
        SaveNoticeRow{"NoDayChosen", nullptr, QDate(2030, 12, 31), true, false,
                      QStringLiteral("Uloženo; není vybrán žádný den odeslání")},
        SaveNoticeRow{"PastDateConfirmed", &Tfrm_main::rb_po, QDate(2026, 12, 6), true, true,
                      QStringLiteral("Uloženo; platnost časovače vypršela")},
        SaveNoticeRow{"PastDateDeclined", &Tfrm_main::rb_po, QDate(2026, 12, 6), false, true,
                      QString()},
        SaveNoticeRow{"DefaultDateDeclined", &Tfrm_main::rb_po, QDate(2012, 12, 12), false, true,
                      QString()}),
    [](const auto& info) { return info.param.name; });

struct ClearAllRow {
  std::string name;
  bool yes;
};

void PrintTo(const ClearAllRow& row, std::ostream* os) {
  *os << row.name;
}

class SetupFormClearAll : public SetupFormTest, public testing::WithParamInterface<ClearAllRow> {};

// "Vymazat vše" asks first; on yes the window shows what is left stored: nothing.
TEST_P(SetupFormClearAll, AsksThenShowsTheEmptyState) {
  FillAccount();
  form->ed_my_mail->setText(QStringLiteral("jan.osobni@example.cz"));
  form->cbSMTP->setCurrentIndex(2);
  ChooseSingleDays();
  form->rb_st->click();
  form->do_data->setDate(QDate(2030, 12, 31));
  form->btn_saveClick();
  ASSERT_TRUE(fs::exists(home.DataFolder() / "setup.dat"));
  form->show();
  answer = GetParam().yes;
  form->btn_closeClick();

  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], QStringLiteral("Vymazat všechna uložená data – nastavení účtu, heslo, "
                                         "příjemce, text zprávy a vybrané dny? Vymazání nelze "
                                         "vrátit zpět."));
  EXPECT_TRUE(form->isVisible());
  if (!GetParam().yes) {
    EXPECT_TRUE(fs::exists(home.DataFolder() / "setup.dat"));
    EXPECT_EQ(Days(), "--St----");
    EXPECT_EQ(form->ed_smtp->text(), QStringLiteral("smtp.example.cz"));
    EXPECT_TRUE(form->rb_st->isChecked());
    EXPECT_TRUE(Shown(form->pn_jednotlive));
    EXPECT_TRUE(main->Timer1->isActive());
    form->hide();
    return;
  }
  EXPECT_FALSE(fs::exists(home.DataFolder() / "setup.dat"));
  // Nothing is left to send: the schedule stops at once instead of reporting the settings
  // missing at its next tick.
  EXPECT_FALSE(main->Timer1->isActive());
  EXPECT_FALSE(main->Timer2->isActive());
  EXPECT_EQ(main->tray->toolTip(), QStringLiteral("Kadenza – odesílání není nastaveno"));
  EXPECT_TRUE(messages.empty());
  for (QLineEdit* field : {form->ed_smtp, form->ed_user, form->ed_my_mail, form->edPort})
    EXPECT_TRUE(field->text().isEmpty()) << field->accessibleName().toStdString();
  EXPECT_TRUE(form->mem_prijemce->toPlainText().isEmpty());
  EXPECT_EQ(form->cbSMTP->currentIndex(), -1);
  // The day controls as at a first start: the mode choice, nothing ticked.
  EXPECT_TRUE(Shown(form->pn_vyber));
  EXPECT_FALSE(Shown(form->pn_jednotlive));
  EXPECT_FALSE(Shown(form->pn_combi));
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
           form->rb_combi, form->rb_jednotlive, form->rb_st, form->rb_po, form->cb_st})
    EXPECT_FALSE(b->isChecked()) << b->text().toStdString();
  form->hide();
}

INSTANTIATE_TEST_SUITE_P(Rows, SetupFormClearAll,
                         testing::Values(ClearAllRow{"Yes", true}, ClearAllRow{"No", false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(SetupFormTest, LoginNameWithOwnAddressIsStored) {
  FillAccount();
  form->ed_user->setText(QStringLiteral("FIRMA\\jnovak"));
  form->ed_my_mail->setText(QStringLiteral("jan.novak@example.cz"));
  form->btn_saveClick();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(HexToText(Read("User", "name")), "FIRMA\\jnovak");
}

TEST_F(SetupFormTest, SaveFailureStillStartsTheScheduleAndIsReported) {
  FillAccount();
  fs::remove_all(home.DataFolder());
  form->btn_save->setEnabled(true);
  form->btn_save->click();
  EXPECT_TRUE(main->Timer1->isActive());
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().first, dialogs::MessageKind::Error);
  EXPECT_TRUE(messages.back().second.contains(QStringLiteral("setup.dat")));
}

TEST_F(SetupFormTest, ClearAllThenCloseDeletesEverything) {
  FillAccount();
  form->btn_saveClick();
  TempHome::Write(home.DataFolder() / "prijemce.dat", "x");
  form->btn_closeClick();
  for (const char* name : {"setup.dat", "zprava.dat", "prijemce.dat"}) {
    EXPECT_FALSE(fs::exists(home.DataFolder() / name)) << name;
  }
  EXPECT_EQ(form->ed_pass->text(), Tfrm_main::kPasswordPlaceholder);
  EXPECT_TRUE(form->ed_smtp->text().isEmpty());
  EXPECT_TRUE(form->edPort->text().isEmpty());
  EXPECT_FALSE(form->cbSSL->isChecked());
  EXPECT_EQ(form->do_data->date(), QDate::currentDate());
  messages.clear();
  form->done(QDialog::Rejected);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(
      messages[0].second,
      QStringLiteral("Nebyla vyplněna všechna potřebná pole. Vymažu vše a ukončím nastavení"));
  EXPECT_FALSE(fs::exists(home.DataFolder() / "setup.dat"));
}

TEST_F(SetupFormTest, ClosingWithEverythingFilledKeepsTheFiles) {
  FillAccount();
  form->btn_saveClick();
  EXPECT_TRUE(messages.empty());
  form->done(QDialog::Rejected);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(fs::exists(home.DataFolder() / "setup.dat"));
}

TEST_F(SetupFormTest, ShowingTheWindowLoadsTheStoredValues) {
  FillAccount();
  form->ed_my_mail->setText(QStringLiteral("Já <ja@example.cz>"));
  form->cas->setTime(QTime(14, 30, 15));
  form->mem_text->setPlainText(QStringLiteral("řádek 1\nřádek 2"));
  form->cb_dohnat->box->setChecked(true);
  form->cb_dohnat->hours->setValue(6);
  form->btn_saveClick();
  EXPECT_EQ(Read("Dohnat", "hodiny"), "6");
  form = std::make_unique<Tfrm_main>();
  main->SetSetupForm(form.get());
  form->show();
  EXPECT_EQ(form->ed_smtp->text(), QStringLiteral("smtp.example.cz"));
  EXPECT_EQ(form->ed_pass->text(), QStringLiteral("tajné-heslo"));
  EXPECT_EQ(form->ed_my_mail->text(), QStringLiteral("Já <ja@example.cz>"));
  EXPECT_EQ(form->cas->text(), QStringLiteral("14:30:15"));
  EXPECT_EQ(form->mem_text->toPlainText(), QStringLiteral("řádek 1\nřádek 2"));
  EXPECT_TRUE(form->cbSSL->isChecked());
  EXPECT_TRUE(form->cb_dohnat->box->isChecked());
  EXPECT_EQ(form->cb_dohnat->hours->value(), 6);
  form->hide();
}

TEST_F(SetupFormTest, UndecodableValueStopsLoadingThere) {
  Ini().WriteString("SMTP", "server", TextToHex("smtp.example.cz"));
  Ini().WriteString("User", "name", "zz");
  Ini().WriteString("Heslo", "pass", TextToHex("x"));
  EXPECT_THROW(form->FormShow(), EConvertError);
  EXPECT_EQ(form->ed_smtp->text(), QStringLiteral("smtp.example.cz"));
  EXPECT_TRUE(form->ed_pass->text().isEmpty());
}

TEST_F(SetupFormTest, OldSingleByteHexValuesStillLoad) {
  // Values stored one byte per character before the UTF-8 form: "é" was "E9".
  Ini().WriteString("User", "name", "6AE9");
  form->FormShow();
  EXPECT_EQ(form->ed_user->text(), QStringLiteral("jé"));
}

}  // namespace

namespace {

TEST(Lamp, SteadyShowsOnColourAndBlinkingAlternates) {
  Lamp lamp(Qt::green, Qt::red);
  EXPECT_EQ(lamp.CurrentColor(), QColor(Qt::green));
  lamp.SetBlinking(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return lamp.CurrentColor() == QColor(Qt::red); }, 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return lamp.CurrentColor() == QColor(Qt::green); }, 2000));
  lamp.SetBlinking(true);
  QTest::qWait(Lamp::BlinkInterval + 100);
  lamp.SetBlinking(false);
  EXPECT_FALSE(lamp.Blinking());
  EXPECT_EQ(lamp.CurrentColor(), QColor(Qt::green));
}

}  // namespace
