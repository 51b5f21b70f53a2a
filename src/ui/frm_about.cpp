// The about window's texts and its one link, opened through the desktop services.
#include "ui/frm_about.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "formats/global.h"
#include "ui/services.h"

TfrmAbout::TfrmAbout(QWidget *parent) : QDialog(parent) {
  setObjectName("frmAbout");
  setWindowTitle("About");
  auto *layout = new QVBoxLayout(this);
  const TGlobalObject &g = GlobalObject();
  auto *title = new QLabel(QString("<b style='font-size:14pt'>%1</b><br>Version%2")
                               .arg(QString::fromStdString(g.AppTitle()),
                                    QString::fromStdString(TGlobalObject::FileVersionText())),
                           this);
  title->setObjectName("lblTitle");
  layout->addWidget(title);
  layout->addWidget(new QLabel("Copyright (C) Marlo Software. All rights reserved.\n"
                               "This program converts video and audio files for many devices.",
                               this));
  auto *link = new QLabel(QString("<a href='%1'>%1</a>").arg(QString::fromStdString(g.HomeUrl())), this);
  link->setObjectName("lblLink");
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  connect(link, &QLabel::linkActivated, this, [](const QString &url) { UiServices().OpenUrl(url); });
  layout->addWidget(link);
  auto *ok = new QPushButton("OK", this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignRight);
  setFixedSize(sizeHint().expandedTo(QSize(360, 160)));
}
