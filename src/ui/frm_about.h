// The about window: the application's name and version, the maker's notice and a link to
// the maker's web site. Nothing else.
#pragma once

#include <QDialog>

class TfrmAbout : public QDialog {
  Q_OBJECT
public:
  explicit TfrmAbout(QWidget *parent);
};
