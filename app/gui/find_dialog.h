// "Find": a name pattern with wildcards, case, and a size limit; and the
// memory of what it found, which "Find &Next" walks through.
#pragma once

#include <QDialog>
#include <cstddef>
#include <optional>
#include <vector>

#include "catalogue/find.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace restorix {

// The items a search matched, in the order the search visits them, and how
// far "Find Next" has gone. An item is reported once until the next "Find".
class FindState {
 public:
  void Start(const ItemNode* root, FindQuery query);
  // The next match, or null once every match was reported.
  const ItemNode* Next();
  // The match shown now; null after a failed search or Esc.
  const ItemNode* current() const { return current_; }
  void EndHighlight() { current_ = nullptr; }
  void Reset() { *this = FindState(); }
  const FindQuery& query() const { return query_; }

 private:
  FindQuery query_;
  std::vector<const ItemNode*> matches_;
  std::size_t next_ = 0;
  const ItemNode* current_ = nullptr;
};

class FindDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FindDialog(const FindQuery& last, QWidget* parent = nullptr);

  // What the user asked for, once "&Search Now" was pressed.
  FindQuery query() const;

  // The controls, for tests.
  QLineEdit* patternEdit() const { return pattern_; }
  QLineEdit* sizeEdit() const { return size_; }
  QCheckBox* matchCaseBox() const { return matchCase_; }
  QCheckBox* sizeBox() const { return sizeFilter_; }
  QComboBox* modeBox() const { return mode_; }
  QComboBox* unitBox() const { return unit_; }
  QPushButton* searchButton() const { return search_; }
  QPushButton* optionsButton() const { return options_; }
  bool expanded() const { return expanded_; }

 private:
  void ShowOptions(bool expanded);
  void OnUnitChanged();
  void OnSizeEdited();
  void UpdateSearchButton();
  // The typed size in bytes when it lies in 1 KB to 4 GB.
  std::optional<std::uint64_t> SizeLimit() const;

  QLineEdit* pattern_;
  QPushButton* search_;
  QPushButton* options_;
  QWidget* optionsArea_;
  QCheckBox* matchCase_;
  QCheckBox* sizeFilter_;
  QComboBox* mode_;
  QLineEdit* size_;
  QComboBox* unit_;
  bool expanded_ = false;
};

}  // namespace restorix
