// The setup form as people use it: typing into the time and date fields after one click,
// the Tab chain, mnemonics and accessible names, Enter, the growing layout and what fits
// in it, the file-name fields and their dialog, the calendar pop-up.
#include <QApplication>
#include <QCalendarWidget>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include <sys/wait.h>
#include <cstdio>
#include <set>

#include "AppFixture.h"
#include "app/HistoryWindow.h"
#include "app/SendNow.h"

namespace {

namespace fs = std::filesystem;

class FormTest : public AppFixture {
 protected:
  FormTest() {
    settings::EnsureDataFolder();
    main->showSetupModal = [this] { main->ShowSetupWindow(); };
  }
  void Open() {
    main->setupClick();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  void FillForSave() {
    form->ed_smtp->setText(QStringLiteral("smtp.example.cz"));
    form->ed_user->setText(QStringLiteral("jan@example.cz"));
    form->ed_pass->setText(QStringLiteral("heslo"));
    form->edPort->setText(QStringLiteral("465"));
    form->mem_prijemce->setPlainText(QStringLiteral("a@example.cz"));
    form->do_data->setDate(QDate(2030, 12, 31));
    form->rb_jednotlive->setChecked(true);
    form->btn_VybratClick();
    form->rb_po->click();
    form->TTimer();
  }
  // ClickAt clicks into a time or date field at a character position of its text.
  static void ClickAt(QDateTimeEdit* field, int position) {
    auto* edit = field->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    // The middle of the character at `position`, as the field lays its text out.
    const QString text = edit->text();
    const QFontMetrics fm = edit->fontMetrics();
    const int full = fm.horizontalAdvance(text);
    const int before =
        fm.horizontalAdvance(text.left(position)) + fm.horizontalAdvance(text.mid(position, 1)) / 2;
    const QRect r = edit->contentsRect();
    const int left =
        (edit->alignment() & Qt::AlignHCenter) ? r.center().x() - full / 2 : r.left() + 3;
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(left + before, r.center().y()));
  }
};

struct TypingCase {
  std::string name;
  QDateTimeEdit* (*field)(Tfrm_main&);
  int position;  // where the click lands
  QString typed;
  QString want;  // the field's text afterwards
};
void PrintTo(const TypingCase& c, std::ostream* os) {
  *os << c.name;
}
QDateTimeEdit* Time(Tfrm_main& f) {
  return f.cas;
}
QDateTimeEdit* Date(Tfrm_main& f) {
  return f.do_data;
}
class TypingTest : public FormTest, public testing::WithParamInterface<TypingCase> {};

TEST_P(TypingTest, OneClickThenDigitsFillTheSection) {
  const TypingCase& c = GetParam();
  form->cas->setTime(QTime(8, 0, 0));
  form->do_data->setDate(QDate(2026, 12, 14));
  Open();
  QDateTimeEdit* field = c.field(*form);
  ClickAt(field, c.position);
  QTest::keyClicks(field, c.typed);
  EXPECT_EQ(field->text(), c.want);
  form->hide();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TypingTest,
    testing::Values(
        TypingCase{"Hours", Time, 1, QStringLiteral("17"), QStringLiteral("17:00:00")},
        TypingCase{"Minutes", Time, 4, QStringLiteral("45"), QStringLiteral("08:45:00")},
        TypingCase{"Day", Date, 1, QStringLiteral("05"), QStringLiteral("05.12.2026")},
        TypingCase{"Year", Date, 8, QStringLiteral("2031"), QStringLiteral("14.12.2031")}),
    [](const auto& info) { return info.param.name; });

TEST_F(FormTest, TabReachesEachAttachmentButtonAfterItsField) {
  const fs::path file = home.Root() / "a.pdf";
  TempHome::Write(file, "%PDF");
  form->priloha1->setText(QString::fromStdString(file.string()));  // opens attachment 2
  Open();
  form->ed_smtp->setFocus();
  std::vector<QWidget*> seen = {QApplication::focusWidget()};
  for (int i = 0; i < 60; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    if (QApplication::focusWidget() == seen.front())
      break;
    seen.push_back(QApplication::focusWidget());
  }
  const auto at = [&](QWidget* w) { return std::find(seen.begin(), seen.end(), w) - seen.begin(); };
  const std::vector<QWidget*> order = {form->ed_smtp,
                                       form->ed_user,
                                       form->ed_pass,
                                       form->cbSSL,
                                       form->edPort,
                                       form->cbSMTP,
                                       form->mem_prijemce,
                                       form->ed_my_mail,
                                       form->ed_predmet,
                                       form->mem_text,
                                       form->cas,
                                       form->do_data,
                                       form->priloha1->Edit(),
                                       form->priloha1->Button(),
                                       form->priloha2->Edit(),
                                       form->priloha2->Button(),
                                       form->btn_close};
  for (std::size_t i = 1; i < order.size(); ++i) {
    ASSERT_LT(at(order[i]), static_cast<long>(seen.size())) << i << " is never reached";
    EXPECT_LT(at(order[i - 1]), at(order[i])) << i;
  }
  EXPECT_EQ(at(form->priloha1->Button()), at(form->priloha1->Edit()) + 1);
  form->hide();
}

TEST_F(FormTest, EveryLabelNamesItsFieldAndHasItsOwnAltKey) {
  std::set<QChar> keys;
  const auto mnemonic = [&](const QString& text) {
    const qsizetype amp = text.indexOf(QLatin1Char('&'));
    EXPECT_GE(amp, 0) << text.toStdString() << " has no Alt key";
    if (amp >= 0) {
      EXPECT_TRUE(keys.insert(text.at(amp + 1).toLower()).second)
          << text.toStdString() << ": its Alt key is taken";
    }
  };
  int labelled = 0;
  for (QLabel* label : form->findChildren<QLabel*>()) {
    if (!label->buddy())
      continue;
    ++labelled;
    mnemonic(label->text());
    EXPECT_EQ(label->buddy()->accessibleName(), QString(label->text()).remove(QLatin1Char('&')));
  }
  EXPECT_EQ(labelled, 14);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
           form->cbSSL, form->btn_close, form->btn_test, form->btn_save, form->btn_Vybrat})
    mnemonic(b->text());
  EXPECT_EQ(form->ed_my_mail->accessibleName(), QStringLiteral("váš email"));
  EXPECT_EQ(form->priloha2->Edit()->accessibleName(), QStringLiteral("Příloha 2"));
  EXPECT_EQ(form->priloha2->Button()->accessibleName(),
            QStringLiteral("Vybrat soubor pro přílohu 2"));

  Open();
  form->ed_smtp->setFocus();
  QTest::keyClick(form.get(), Qt::Key_M, Qt::AltModifier);
  EXPECT_TRUE(form->ed_my_mail->hasFocus());
  form->hide();
}

TEST_F(FormTest, EnterInAOneLineFieldSavesOnlyWhileSavingIsPossible) {
  Open();
  form->ed_predmet->setFocus();
  QTest::keyClick(form->ed_predmet, Qt::Key_Return);
  EXPECT_TRUE(form->isVisible()) << "nothing to save yet";
  EXPECT_EQ(Read("SMTP", "port"), "");

  FillForSave();
  ASSERT_TRUE(form->btn_save->isEnabled());
  form->ed_predmet->setFocus();
  QTest::keyClick(form->ed_predmet, Qt::Key_Return);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(Read("SMTP", "port"), "465");
}

TEST_F(FormTest, OpensAt665x396AndGivesExtraRoomToRecipientsAndText) {
  Open();
  EXPECT_EQ(form->size(), QSize(665, 396));
  EXPECT_EQ(form->minimumSize(), QSize(665, 396));
  const QSize recipients = form->mem_prijemce->size(), text = form->mem_text->size();
  const QSize time = form->cas->size(), attachment = form->priloha1->size(),
              subject = form->ed_predmet->size();
  form->resize(900, 600);
  QTest::qWait(50);
  // Most of the 235 pixels of width go to the text; the other columns at most reach their
  // natural width. The height goes to the two boxes.
  EXPECT_GT(form->mem_prijemce->height(), recipients.height() + 40);
  EXPECT_GT(form->mem_text->height(), text.height() + 80);
  EXPECT_GT(form->mem_text->width(), text.width() + 180);
  EXPECT_LE(form->cas->width(), time.width() + 25);
  EXPECT_EQ(form->cas->height(), time.height());
  EXPECT_LE(form->priloha1->width(), attachment.width() + 25);
  EXPECT_EQ(form->priloha1->height(), attachment.height());
  EXPECT_EQ(form->ed_predmet->height(), subject.height());
  form->hide();
}

TEST_F(FormTest, PlaceholdersAndAnAddressFit) {
  Open();
  for (QLineEdit* edit : form->findChildren<QLineEdit*>()) {
    if (edit->placeholderText().isEmpty() || !edit->isVisible())
      continue;
    const int room = edit->contentsRect().width() - 8;  // frame and text margins
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(edit->placeholderText()), room)
        << edit->placeholderText().toStdString();
  }
  EXPECT_GE(
      form->ed_my_mail->contentsRect().width() - 8,
      form->ed_my_mail->fontMetrics().horizontalAdvance(QStringLiteral("jan.novak@example.cz")));
  // The recipients box holds three lines.
  EXPECT_GE(form->mem_prijemce->viewport()->height(),
            3 * form->mem_prijemce->fontMetrics().lineSpacing());
  form->hide();
}

TEST_F(FormTest, LongPathShowsTheFileNameWithThePathAsTooltip) {
  const QString path = QStringLiteral("/home/jan/Dokumenty/Výkazy/2026/prosinec/výkaz-práce.pdf");
  form->priloha1->setText(path);
  EXPECT_EQ(form->priloha1->text(), path);
  EXPECT_EQ(form->priloha1->Edit()->text(), QStringLiteral("výkaz-práce.pdf"));
  EXPECT_EQ(form->priloha1->Edit()->toolTip(), path);
  form->priloha1->clear();
  EXPECT_EQ(form->priloha1->Edit()->toolTip(),
            QStringLiteral("Klepněte na ikonu a vyberte soubor"));
}

TEST_F(FormTest, DeleteEmptiesAnAttachmentField) {
  const fs::path file = home.Root() / "a.pdf";
  TempHome::Write(file, "%PDF");
  form->priloha1->setText(QString::fromStdString(file.string()));
  ASSERT_TRUE(form->priloha2->isEnabled());
  QTest::keyClick(form->priloha1->Edit(), Qt::Key_Delete);
  EXPECT_TRUE(form->priloha1->text().isEmpty());
  EXPECT_FALSE(form->priloha2->isEnabled());
}

TEST_F(FormTest, FileDialogStartsAtHomeThenInTheLastAttachmentsFolder) {
  std::vector<QString> starts;
  const QString chosen = QString::fromStdString((home.Root() / "files" / "a.pdf").string());
  TempHome::Write(home.Root() / "files" / "a.pdf", "%PDF");
  TFileNameEdit::SetLastFolder({});
  TFileNameEdit::SetFilePicker([&](QWidget*, const QString& start) {
    starts.push_back(start);
    return chosen;
  });
  form->priloha1->Button()->click();
  form->priloha2->Button()->click();
  form->priloha1->clear();
  form->priloha1->Button()->click();
  TFileNameEdit::SetFilePicker({});
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[0], QDir::homePath());
  EXPECT_EQ(QDir::homePath(), QString::fromStdString(home.Root().string()));
  EXPECT_EQ(starts[1], QString::fromStdString((home.Root() / "files").string()));
  EXPECT_EQ(starts[2], starts[1]);
}

TEST_F(FormTest, CalendarPopupHasTheWindowsFontAndStaysOnTheScreen) {
  const QFont calendarFont = form->do_data->calendarWidget()->font();
  EXPECT_EQ(calendarFont.pixelSize(), 11);
  EXPECT_FALSE(calendarFont.bold());
  Open();
  const QRect screen = form->screen()->availableGeometry();
  form->move(screen.right() - form->width() + 1, screen.bottom() - form->height() + 1);
  // A click on the field's arrow opens the calendar.
  QTest::mouseClick(form->do_data, Qt::LeftButton, {},
                    QPoint(form->do_data->width() - 6, form->do_data->height() / 2));
  QWidget* popup = form->do_data->calendarWidget()->window();
  ASSERT_TRUE(QTest::qWaitFor([&] { return popup->isVisible(); }, 2000));
  EXPECT_TRUE(screen.contains(popup->frameGeometry()))
      << popup->frameGeometry().x() << "," << popup->frameGeometry().y() << " "
      << popup->frameGeometry().width() << "x" << popup->frameGeometry().height();
  popup->hide();
  form->hide();
}

struct ProviderCase {
  std::string name;
  QString server;              // what the server field holds before
  std::vector<QString> users;  // typed in turn
  QString wantServer;
  QString wantPort;
  std::string hintPart;  // empty: no hint shown
};
void PrintTo(const ProviderCase& c, std::ostream* os) {
  *os << c.name;
}
class ProviderTest : public FormTest, public testing::WithParamInterface<ProviderCase> {};

TEST_P(ProviderTest, UserNameOffersTheProvidersServer) {
  const ProviderCase& c = GetParam();
  form->ed_smtp->setText(c.server);
  form->edPort->setText(QStringLiteral("2525"));
  form->cbSSL->setChecked(false);
  for (const QString& user : c.users)
    form->ed_user->setText(user);
  EXPECT_EQ(form->ed_smtp->text(), c.wantServer);
  EXPECT_EQ(form->edPort->text(), c.wantPort);
  EXPECT_EQ(form->cbSSL->isChecked(), c.wantPort != QStringLiteral("2525"));
  EXPECT_EQ(form->lbl_tip->isVisibleTo(form.get()), !c.hintPart.empty());
  if (!c.hintPart.empty()) {
    EXPECT_NE(form->lbl_tip->text().toStdString().find(c.hintPart), std::string::npos)
        << form->lbl_tip->text().toStdString();
  }
  // With the hint shown the window still opens at its size.
  EXPECT_LE(form->layout()->minimumSize().height(), 396);
  EXPECT_LE(form->layout()->minimumSize().width(), 665);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProviderTest,
    testing::Values(
        ProviderCase{"Gmail", "", {"jan@gmail.com"}, "smtp.gmail.com", "465", "heslo pro aplikace"},
        ProviderCase{"SeznamInCapitals", "", {" Jan@Seznam.CZ "}, "smtp.seznam.cz", "465", ""},
        ProviderCase{"PostCz", "", {"jan@post.cz"}, "smtp.seznam.cz", "465", ""},
        ProviderCase{"AtlasCz", "", {"jan@atlas.cz"}, "smtp.atlas.cz", "465", ""},
        ProviderCase{
            "Hotmail", "", {"jan@hotmail.com"}, "smtp-mail.outlook.com", "587", "nepřijímají"},
        ProviderCase{
            "ICloud", "", {"jan@icloud.com"}, "smtp.mail.me.com", "587", "heslo pro aplikace"},
        ProviderCase{"UnknownDomain", "", {"jan@example.cz"}, "", "2525", ""},
        ProviderCase{"ServerAlreadyEntered",
                     "mail.firma.cz",
                     {"jan@gmail.com"},
                     "mail.firma.cz",
                     "2525",
                     "heslo pro aplikace"},
        ProviderCase{"TypedOnToAnotherProvider",
                     "",
                     {"jan@gmail.com", "jan@yahoo.com"},
                     "smtp.mail.yahoo.com",
                     "465",
                     "Yahoo"},
        ProviderCase{"TypedOnToAnUnknownDomain",
                     "",
                     {"jan@gmail.com", "jan@gmail.com.example"},
                     "",
                     "465",
                     ""}),
    [](const auto& info) { return info.param.name; });

TEST(HistoryWindow, KindsInCzechSubjectShownLongResultsCutWithTooltip) {
  THistoryWindow window;
  const std::string longResult =
      "Certifikát serveru smtp.example.cz je vystaven pro název „other.invalid“, ne pro "
      "„smtp.example.cz“. Zkontrolujte název serveru: zadejte ten, pro který certifikát platí. "
      "[The certificate's CN name does not match the passed value (0x800B010F)]";
  window.Fill({{"14.12.2026 08:00:01", "--send-now", longResult, 2, "Týdenní přehled"},
               {"14.12.2026 07:59:00", "naplánované odeslání", "OK", 1, "Týdenní přehled"}});
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTableWidget* t = window.table;
  EXPECT_EQ(t->item(0, 1)->text(), QStringLiteral("ruční odeslání"));
  EXPECT_EQ(t->item(1, 1)->text(), QStringLiteral("naplánované odeslání"));
  EXPECT_EQ(t->item(0, 2)->toolTip().toStdString(), longResult);
  // Every column is on screen, the subject in full; the long result is the one cut.
  int total = 0;
  for (int c = 0; c < t->columnCount(); ++c)
    total += t->columnWidth(c);
  EXPECT_LE(total, t->viewport()->width());
  EXPECT_GE(t->columnWidth(4),
            t->fontMetrics().horizontalAdvance(QStringLiteral("Týdenní přehled")));
  EXPECT_GE(t->columnWidth(1),
            t->fontMetrics().horizontalAdvance(QStringLiteral("naplánované odeslání")));
}

TEST(CommandLine, HelpIsCzech) {
  FILE* pipe = ::popen(KADENZA_EXE " --help", "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  const int status = ::pclose(pipe);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(out,
            "Použití: kadenza [--send-now | --help]\n"
            "\n"
            "Bez voleb se Kadenza usadí v oznamovací oblasti a odesílá uloženou zprávu podle\n"
            "nastaveného rozvrhu; běží-li už, otevře okno nastavení běžící kopie.\n"
            "\n"
            "  --send-now  odešle uloženou zprávu jednou hned teď, bez okna, a skončí\n"
            "              (návratový kód 0 po odeslání, 75 při dočasné chybě, kterou\n"
            "              pozdější pokus může překonat, 1 při jiné chybě)\n"
            "  --help      vypíše tuto nápovědu\n");
  EXPECT_NE(out.find("--send-now  odešle uloženou zprávu"), std::string::npos);
}

}  // namespace
