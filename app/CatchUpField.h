// TCatchUpField: the setup window's catch-up choice, "Odeslat zmeškané odeslání, pokud je
// zpoždění nejvýše [N] hodin": a box that turns it on and the number of hours (1 to 24). It
// reads and stores the setting itself; off (the default, and what older files mean) is
// stored as 0.
#pragma once

#include <QCheckBox>
#include <QSpinBox>
#include <QWidget>

class IniFile;

class TCatchUpField : public QWidget {
  Q_OBJECT
 public:
  explicit TCatchUpField(QWidget* parent = nullptr);

  // Load shows the stored choice; `ini` null (no settings) shows the default, off.
  void Load(const IniFile* ini);
  void Store(const IniFile& ini) const;
  // Hours answers the chosen delay, 0 when the box is off.
  int Hours() const;

  QCheckBox* box;
  QSpinBox* hours;
};
