// The setup window as a user meets it: the stored days when it opens, the keyboard, the
// window's size and frame, and the tray menu while it is open.
#include <QApplication>
#include <QCalendarWidget>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

#include "AppFixture.h"
#include "app/Language.h"

namespace {

class WindowTest : public AppFixture {
 protected:
  WindowTest() {
    settings::EnsureDataFolder();
    main->showSetupModal = [this] { main->ShowSetupWindow(); };  // the real showing
  }
  void StoreDays(const std::string& days) {  // "PoUt..." as Days() prints them
    const char* keys[] = {"Po", "Ut", "St", "Ct", "Pa", "So", "Ne"};
    for (const char* key : keys)
      Ini().WriteString("Datum", key, days.find(key) != std::string::npos ? key : "");
  }
  void FillAccount() {
    form->ed_smtp->setText(QStringLiteral("smtp.example.cz"));
    form->ed_user->setText(QStringLiteral("jan@example.cz"));
    form->ed_pass->setText(QStringLiteral("heslo"));
    form->mem_prijemce->setPlainText(QStringLiteral("a@example.cz"));
  }
};

struct StoredDaysCase {
  std::string name;
  std::string days;
  QRadioButton* Tfrm_main::*radio;  // the radio button shown ticked, or none
  std::vector<QCheckBox * Tfrm_main::*> boxes;
};
void PrintTo(const StoredDaysCase& c, std::ostream* os) {
  *os << c.name;
}

class StoredDaysTest : public WindowTest, public testing::WithParamInterface<StoredDaysCase> {};

TEST_P(StoredDaysTest, OpeningShowsThem) {
  const StoredDaysCase& c = GetParam();
  StoreDays(c.days);
  // What the window held before does not matter.
  form->rb_combi->setChecked(true);
  form->btn_VybratClick();
  form->cb_so->click();
  StoreDays(c.days);
  form->FormShow();
  const bool none = c.days.empty();
  EXPECT_EQ(!form->pn_vyber->isHidden(), none);
  EXPECT_EQ(!form->pn_jednotlive->isHidden(), c.radio != nullptr);
  EXPECT_EQ(!form->pn_combi->isHidden(), !none && c.radio == nullptr);
  for (QRadioButton* Tfrm_main::*rb : {&Tfrm_main::rb_po, &Tfrm_main::rb_st, &Tfrm_main::rb_ne,
                                       &Tfrm_main::rb_po_pa, &Tfrm_main::rb_po_ne}) {
    EXPECT_EQ((form.get()->*rb)->isChecked(), rb == c.radio);
  }
  for (QCheckBox* Tfrm_main::*cb :
       {&Tfrm_main::cb_po, &Tfrm_main::cb_st, &Tfrm_main::cb_pa, &Tfrm_main::cb_so}) {
    const bool ticked = std::find(c.boxes.begin(), c.boxes.end(), cb) != c.boxes.end();
    EXPECT_EQ((form.get()->*cb)->isChecked(), ticked);
  }
  // Showing the days writes nothing, and a shown choice enables Save at once.
  EXPECT_EQ(Read("Datum", "So"), c.days.find("So") != std::string::npos ? "So" : "");
  FillAccount();
  form->TTimer();
  EXPECT_EQ(form->btn_save->isEnabled(), !none);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoredDaysTest,
    testing::Values(
        StoredDaysCase{"None", "", nullptr, {}},
        StoredDaysCase{"Wednesday", "St", &Tfrm_main::rb_st, {}},
        StoredDaysCase{"Sunday", "Ne", &Tfrm_main::rb_ne, {}},
        StoredDaysCase{"Workdays", "PoUtStCtPa", &Tfrm_main::rb_po_pa, {}},
        StoredDaysCase{"EveryDay", "PoUtStCtPaSoNe", &Tfrm_main::rb_po_ne, {}},
        StoredDaysCase{"MondayFriday", "PoPa", nullptr, {&Tfrm_main::cb_po, &Tfrm_main::cb_pa}},
        StoredDaysCase{
            "WeekendAndWednesday", "StSoNe", nullptr, {&Tfrm_main::cb_st, &Tfrm_main::cb_so}}),
    [](const auto& info) { return info.param.name; });

TEST_F(WindowTest, VybratKeepsTheScheduleUntilADayIsClicked) {
  StoreDays("PoUtStCtPa");
  form->FormShow();
  form->btn_backClick();
  form->rb_combi->setChecked(true);
  form->btn_VybratClick();
  EXPECT_EQ(Read("Datum", "Po"), "Po");  // closing now keeps the schedule
  form->cb_so->click();
  EXPECT_EQ(Read("Datum", "Po"), "");
  EXPECT_EQ(Read("Datum", "So"), "So");
}

TEST_F(WindowTest, TickedBoxCountsAsADayChoice) {
  FillAccount();
  form->rb_combi->setChecked(true);
  form->btn_VybratClick();
  form->TTimer();
  EXPECT_FALSE(form->btn_save->isEnabled());
  form->cb_ct->click();
  form->TTimer();
  EXPECT_TRUE(form->btn_save->isEnabled());
  EXPECT_TRUE(form->btn_test->isEnabled());
}

TEST_F(WindowTest, StoredTimeAndDateAreReadAsTheScheduleReadsThem) {
  Ini().WriteString("Cas", "cas", "7:05");
  Ini().WriteString("Do", "datm", "1.2.2027");
  form->FormShow();
  EXPECT_EQ(form->cas->text(), QStringLiteral("07:05:00"));
  EXPECT_EQ(form->do_data->text(), QStringLiteral("01.02.2027"));
}

TEST_F(WindowTest, FirstKeyReplacesThePasswordPlaceholder) {
  form->btn_closeClick();
  ASSERT_EQ(form->ed_pass->text(), Tfrm_main::kPasswordPlaceholder);
  QTest::keyClicks(form->ed_pass, QStringLiteral("abc"));
  EXPECT_EQ(form->ed_pass->text(), QStringLiteral("abc"));
  form->btn_closeClick();
  QTest::keyClick(form->ed_pass, Qt::Key_Backspace);
  EXPECT_TRUE(form->ed_pass->text().isEmpty());
}

TEST_F(WindowTest, TabMovesTheFocusOnFromTheMemos) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  for (QPlainTextEdit* memo : {form->mem_prijemce, form->mem_text}) {
    form->activateWindow();
    memo->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return memo->hasFocus(); }, 2000));
    QTest::keyClick(memo, Qt::Key_Tab);
    EXPECT_FALSE(memo->hasFocus());
    EXPECT_FALSE(memo->toPlainText().contains(QLatin1Char('\t')));
  }
  form->mem_text->setFocus();
  QTest::keyClick(form->mem_text, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(form->mem_text->toPlainText(), QStringLiteral("\t"));
  form->hide();
}

TEST_F(WindowTest, EscapeDoesNotCloseTheWindow) {
  FillAccount();
  form->btn_saveClick();
  main->setupClick();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  messages.clear();
  form->btn_closeClick();  // the close check would now delete everything
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(messages.empty());
  form->hide();
}

TEST_F(WindowTest, SizeAndFrame) {
  main->setupClick();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_EQ(form->minimumWidth(), 665);
  EXPECT_GT(form->maximumWidth(), 665);  // it may grow, wider too
  EXPECT_EQ(form->minimumHeight(), 396);
  EXPECT_EQ(form->size(), QSize(665, 396));
  // The content fits the stated client area with the stated 11-pixel font.
  EXPECT_LE(form->layout()->minimumSize().height(), 396);
  EXPECT_LE(form->layout()->minimumSize().width(), 665);
  EXPECT_EQ(form->font().pixelSize(), 11);
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form->do_data->calendarWidget()->verticalHeaderFormat(),
            QCalendarWidget::ISOWeekNumbers);
  form->hide();
}

TEST_F(WindowTest, TrayMenuWorksWhileTheWindowIsOpen) {
  main->setup->trigger();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // nothing blocks the tray
  form->showMinimized();
  main->setup->trigger();
  EXPECT_FALSE(form->isMinimized());
  EXPECT_TRUE(form->isVisible());
  // A left click on the icon opens the menu too.
  emit main->tray->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(QTest::qWaitFor([&] { return main->Pop->isVisible(); }, 2000));
  main->Pop->hide();
  form->hide();
}

}  // namespace

namespace {

TEST(Language, QtsOwnTextsAndTheCalendarAreCzech) {
  QTranslator* czech = UseCzech(*QCoreApplication::instance());
  ASSERT_NE(czech, nullptr);
  QMessageBox box;
  box.setStandardButtons(QMessageBox::Cancel | QMessageBox::Yes);
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Zrušit"));
  EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Ano"));
  QCalendarWidget calendar;
  EXPECT_EQ(calendar.locale().standaloneMonthName(12), QStringLiteral("prosinec"));
  EXPECT_EQ(calendar.firstDayOfWeek(), Qt::Monday);
  QCoreApplication::removeTranslator(czech);
  delete czech;
  QLocale::setDefault(QLocale::c());
}

}  // namespace
