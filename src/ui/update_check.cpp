// Fetching and reading the update file. The network wait runs a local event loop so the
// window keeps painting; the version question goes through the injectable message boxes.
#include "ui/update_check.h"

#include <QApplication>
#include <QDomDocument>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QTimer>

#include <cstdlib>

#include "formats/global.h"
#include "ui/services.h"

bool DownloadToFile(const std::string &url, const std::string &fileName, int timeoutMs) {
  QNetworkAccessManager manager;
  QNetworkRequest request{QUrl(QString::fromStdString(url))};
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  std::unique_ptr<QNetworkReply> reply(manager.get(request));
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(timeoutMs);
  if (!reply->isFinished()) loop.exec();
  if (!reply->isFinished()) {
    reply->abort();
    return false;
  }
  if (reply->error() != QNetworkReply::NoError) return false;
  const QByteArray bytes = reply->readAll();
  // Written whole or not at all: a half file would be read as the kept copy next time.
  QSaveFile out(QString::fromStdString(fileName));
  if (!out.open(QIODevice::WriteOnly)) return false;
  if (out.write(bytes) != bytes.size()) {
    out.cancelWriting();
    return false;
  }
  return out.commit();
}

std::string ReadXmlValue(const std::string &fileName, const std::string &path,
                         const std::string &attribute, const std::string &separator) {
  QFile file(QString::fromStdString(fileName));
  if (!file.open(QIODevice::ReadOnly)) return "error";
  QDomDocument doc;
  if (!doc.setContent(&file)) return "error";
  const QStringList parts =
      QString::fromStdString(path).split(QString::fromStdString(separator));
  QDomElement element = doc.documentElement();
  if (parts.isEmpty() || element.tagName() != parts.front()) return {};
  for (qsizetype i = 1; i < parts.size(); ++i) {
    element = element.firstChildElement(parts[i]);
    if (element.isNull()) return {};
  }
  if (!QString::fromStdString(attribute).trimmed().isEmpty())
    return element.attribute(QString::fromStdString(attribute)).toStdString();
  return element.text().toStdString();
}

std::vector<TAdInfo> ReadNews(const std::string &fileName) {
  std::vector<TAdInfo> news;
  int count = 0;
  try {
    count = std::stoi(ReadXmlValue(fileName, "XMLPackage.count", "number"));
  } catch (const std::exception &) {
    return news;
  }
  for (int i = 0; i < count && i < 1000; ++i) {
    const std::string row = "XMLPackage.row" + std::to_string(i);
    TAdInfo ad{ReadXmlValue(fileName, row, "info"), ReadXmlValue(fileName, row, "url")};
    if (ad.Info.empty() || ad.Info == "error") continue;
    news.push_back(ad);
  }
  return news;
}

const std::vector<TAdInfo> &BuiltInNews() {
  static const std::vector<TAdInfo> news = {
      {"Marlo DVD Ripper: copy your DVDs to any video format.",
       "https://marlo-video-converter.example/dvd-ripper.html"},
      {"Marlo Audio Converter: MP3, AAC, OGG, WMA and FLAC in one click.",
       "https://marlo-video-converter.example/audio-converter.html"},
      {"Marlo Video Joiner: put clips together without converting them twice.",
       "https://marlo-video-converter.example/video-joiner.html"},
      {"Marlo Video Splitter: cut long recordings into parts by time or size.",
       "https://marlo-video-converter.example/video-splitter.html"},
      {"Marlo iPod Video Converter: films for your pocket.",
       "https://marlo-video-converter.example/ipod-converter.html"},
      {"Marlo Screen Recorder: record the desktop with sound.",
       "https://marlo-video-converter.example/screen-recorder.html"},
      {"Marlo Slideshow Maker: photos and music into a video.",
       "https://marlo-video-converter.example/slideshow-maker.html"},
  };
  return news;
}

bool ParseVersionNumber(const std::string &text, double &value) {
  const std::string t = QString::fromStdString(text).trimmed().toStdString();
  if (t.empty()) return false;
  char *end = nullptr;
  value = std::strtod(t.c_str(), &end);
  return end && *end == '\0';
}

TUpdateResult RunUpdateCheck(const TUpdateCheck &check) {
  TUpdateResult result;
  const std::string netFile = check.Folder + UpdateNetFile;
  const std::string copyFile = check.Folder + UpdateCopyFile;
  result.Downloaded = DownloadToFile(check.Url, netFile, check.TimeoutMs);
  if (result.Downloaded && QFile::exists(QString::fromStdString(netFile))) {
    result.NewestVersion = ReadXmlValue(netFile, "XMLPackage.videoversion", "number");
    double newest = 0, ours = 0;
    if (ParseVersionNumber(result.NewestVersion, newest) &&
        ParseVersionNumber(check.VersionText, ours) && newest > ours) {
      result.NewerAvailable = true;
      const QString question = QString::fromStdString("Do you want to upgrade to " +
                                                      check.AppTitle + " " +
                                                      result.NewestVersion + " now?");
      if (UiServices().Message(QApplication::activeWindow(), question,
                               "Warning - New Version Available for Download.",
                               TMsgIcon::Question, QMessageBox::Yes | QMessageBox::No) ==
          QMessageBox::Yes) {
        result.UpgradeAccepted = true;
        UiServices().OpenUrl(QString::fromStdString(check.UpgradeUrl));
        return result;
      }
    }
  }
  if (result.Downloaded) {
    // The second fetch keeps a copy that a later run without a connection can read.
    if (DownloadToFile(check.Url, copyFile, check.TimeoutMs)) result.News = ReadNews(copyFile);
    else result.News = ReadNews(netFile);
  } else if (QFile::exists(QString::fromStdString(copyFile))) {
    result.News = ReadNews(copyFile);
  }
  if (result.News.empty()) result.News = BuiltInNews();
  return result;
}
