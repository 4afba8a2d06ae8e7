#include "app/CatchUpField.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include <string>

#include "app/CatchUp.h"
#include "app/IniFile.h"
#include "app/SettingsStore.h"

namespace {

constexpr int kShownByDefault = 4;  // the hours the field offers before the user chooses

}  // namespace

TCatchUpField::TCatchUpField(QWidget* parent) : QWidget(parent) {
  // The sentence on three lines, so the choice fits under the message text.
  box = new QCheckBox(QStringLiteral("Odeslat zmeška&né odeslání,"), this);
  auto* middle = new QLabel(QStringLiteral("pokud je zpoždění nejvýše"), this);
  hours = new QSpinBox(this);
  hours->setRange(1, catchup::kMaxHours);
  hours->setValue(kShownByDefault);
  hours->setAccessibleName(QStringLiteral("Nejvyšší zpoždění v hodinách"));
  auto* unit = new QLabel(QStringLiteral("hodin"), this);
  box->setToolTip(
      QStringLiteral("Odeslání, které připadlo na dobu, kdy byl počítač vypnutý nebo uspaný, "
                     "se odešle jednou po zapnutí, jen to poslední a jen do zadaného zpoždění."));
  auto* lines = new QVBoxLayout(this);
  lines->setContentsMargins(0, 0, 0, 0);
  lines->setSpacing(0);
  lines->addWidget(box);
  // The further lines start where the box's text does.
  const int indent = box->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                     box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
  middle->setContentsMargins(indent, 0, 0, 0);
  lines->addWidget(middle);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(indent, 0, 0, 0);
  row->addWidget(hours);
  row->addWidget(unit);
  row->addStretch();
  lines->addLayout(row);
  hours->setEnabled(false);
  connect(box, &QCheckBox::toggled, hours, &QSpinBox::setEnabled);
}

void TCatchUpField::Load(const IniFile* ini) {
  const int stored = ini ? catchup::StoredHours(*ini) : catchup::kOff;
  box->setChecked(stored != catchup::kOff);
  hours->setValue(stored != catchup::kOff ? stored : kShownByDefault);
}

void TCatchUpField::Store(const IniFile& ini) const {
  settings::WriteSetting(ini, catchup::kCatchUpKey, std::to_string(Hours()));
}

int TCatchUpField::Hours() const {
  return box->isChecked() ? hours->value() : catchup::kOff;
}
