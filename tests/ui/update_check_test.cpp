// The update check against a web server of the test's own on the loopback address: newer and
// equal versions, a malformed file, a server that never answers and one that hangs up.
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "formats/global.h"
#include "ui/frm_main.h"
#include "ui/update_check.h"
#include "ui_testing.h"

using namespace ui_test;

namespace {

enum class Mode { Serve, Silent, HangUp };

// Answers every GET with the same body, or never, or by closing the connection.
class TinyServer : public QObject {
public:
  explicit TinyServer(Mode mode, QByteArray body = {}) : mode_(mode), body_(std::move(body)) {
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket *socket = server_.nextPendingConnection()) {
        ++Requests;
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          if (!socket->readAll().contains("\r\n\r\n")) return;
          if (mode_ == Mode::HangUp) socket->abort();
          if (mode_ != Mode::Serve) return;
          socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                        QByteArray::number(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_);
          socket->disconnectFromHost();
        });
      }
    });
  }
  std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/marlonet.xml";
  }
  int Requests = 0;

private:
  QTcpServer server_;
  Mode mode_;
  QByteArray body_;
};

QByteArray updateFile(const QString &version) {
  return QString("<?xml version=\"1.0\"?>\n<XMLPackage>\n"
                 "  <count number=\"2\"/>\n  <videoversion number=\"%1\"/>\n"
                 "  <row0 info=\"First news\" url=\"https://example.invalid/1\"/>\n"
                 "  <row1 info=\"Second news\" url=\"https://example.invalid/2\"/>\n"
                 "</XMLPackage>\n")
      .arg(version)
      .toUtf8();
}

std::string ourVersion() { return TGlobalObject::FileVersionText(); }

TUpdateCheck checkFor(const TinyServer &server, const Scratch &scratch, int timeoutMs = 5000) {
  TUpdateCheck check;
  check.Url = server.Url();
  check.Folder = scratch.Path() + "/";
  check.AppTitle = "Marlo HD Video Converter";
  check.VersionText = ourVersion();
  check.UpgradeUrl = "https://example.invalid/setup";
  check.TimeoutMs = timeoutMs;
  return check;
}

QStringList newsTexts(const std::vector<TAdInfo> &news) {
  QStringList texts;
  for (const auto &n : news) texts << QString::fromStdString(n.Info);
  return texts;
}

} // namespace

class UpdateCheckTest : public QObject {
  Q_OBJECT

private slots:
  void aNewerVersionAsksAndNoKeepsTheNews() {
    Scratch scratch;
    ServicesScope services;
    TinyServer server(Mode::Serve, updateFile("99.5"));
    services->Answers = {QMessageBox::No};
    const TUpdateResult r = RunUpdateCheck(checkFor(server, scratch));
    QVERIFY(r.Downloaded && r.NewerAvailable && !r.UpgradeAccepted);
    QCOMPARE(services->Texts(),
             QStringList{"Do you want to upgrade to Marlo HD Video Converter 99.5 now?"});
    QCOMPARE(services->Messages[0].Caption, QString("Warning - New Version Available for Download."));
    QCOMPARE(newsTexts(r.News), QStringList({"First news", "Second news"}));
    QCOMPARE(r.News[1].Url, std::string("https://example.invalid/2"));
    QVERIFY(QFile::exists(QString::fromStdString(scratch.File("marlonet.xml"))));
    QVERIFY(QFile::exists(QString::fromStdString(scratch.File("marlo.xml"))));
    QCOMPARE(server.Requests, 2);
    QVERIFY(services->OpenedUrls.isEmpty());
  }

  void yesOpensTheUpgradeAndClosesTheWindowWithoutAsking() {
    Scratch scratch;
    ServicesScope services;
    TinyServer server(Mode::Serve, updateFile("99.5"));
    GlobalObject().SetUpdateInfoUrl(server.Url());
    TMainOptions options;
    options.UpdateTimeoutMs = 5000;
    TfrmMain frm(options);
    frm.show();
    QVERIFY(WaitFor([&] { return !services->Messages.empty() && !frm.isVisible(); }, 10000));
    QCOMPARE(services->Texts().size(), 1); // no "Do you really want to exit?"
    QCOMPARE(services->OpenedUrls, QStringList{QString::fromStdString(GlobalObject().UpdateUrl())});
    // The update files lie beside the settings file, not in the working folder.
    QVERIFY(QFile::exists(QString::fromStdString(scratch.File("marlonet.xml"))));
  }

  void noQuestionWithoutANewerVersion_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("news");
    QTest::newRow("same version") << updateFile(QString::fromStdString(ourVersion()).trimmed())
                                  << QStringList({"First news", "Second news"});
    QTest::newRow("older version") << updateFile("0.5") << QStringList({"First news", "Second news"});
    QTest::newRow("version not a number") << updateFile("new") << QStringList({"First news", "Second news"});
    QTest::newRow("malformed file") << QByteArray("<XMLPackage><count number=\"2\">")
                                    << newsTexts(BuiltInNews());
  }

  void noQuestionWithoutANewerVersion() {
    QFETCH(QByteArray, body);
    QFETCH(QStringList, news);
    Scratch scratch;
    ServicesScope services;
    TinyServer server(Mode::Serve, body);
    const TUpdateResult r = RunUpdateCheck(checkFor(server, scratch));
    QVERIFY(r.Downloaded);
    QVERIFY(!r.NewerAvailable);
    QVERIFY(services->Messages.empty());
    QCOMPARE(newsTexts(r.News), news);
  }

  void aServerThatNeverAnswersTimesOutWhileEventsFlow() {
    Scratch scratch;
    ServicesScope services;
    TinyServer server(Mode::Silent);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    const TUpdateResult r = RunUpdateCheck(checkFor(server, scratch, 400));
    QVERIFY(!r.Downloaded);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks))); // the window kept its events
    QVERIFY(!QFile::exists(QString::fromStdString(scratch.File("marlonet.xml"))));
    QCOMPARE(newsTexts(r.News), newsTexts(BuiltInNews()));
    QVERIFY(services->Messages.empty());
  }

  void aServerThatHangsUpFallsBackToTheKeptCopy() {
    Scratch scratch;
    ServicesScope services;
    QFile copy(QString::fromStdString(scratch.File("marlo.xml")));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(updateFile("99.5"));
    copy.close();
    TinyServer server(Mode::HangUp);
    const TUpdateResult r = RunUpdateCheck(checkFor(server, scratch));
    QVERIFY(!r.Downloaded);
    QVERIFY(services->Messages.empty()); // a kept copy never asks about versions
    QCOMPARE(newsTexts(r.News), QStringList({"First news", "Second news"}));
    QVERIFY(!QFile::exists(QString::fromStdString(scratch.File("marlonet.xml"))));
  }

  void readXmlValue_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<QString>("value");
    QTest::newRow("attribute") << "XMLPackage.videoversion" << "number" << "3.5";
    QTest::newRow("text") << "XMLPackage.note" << " " << "hello";
    QTest::newRow("nested first match") << "XMLPackage.row.item" << "id" << "a";
    QTest::newRow("other document element") << "Package.videoversion" << "number" << "";
    QTest::newRow("missing step") << "XMLPackage.nothing" << "number" << "";
    QTest::newRow("missing attribute") << "XMLPackage.videoversion" << "colour" << "";
  }

  void readXmlValue() {
    QFETCH(QString, path);
    QFETCH(QString, attribute);
    QFETCH(QString, value);
    Scratch scratch;
    QFile file(QString::fromStdString(scratch.File("u.xml")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<XMLPackage><videoversion number=\"3.5\"/><note>hello</note>"
               "<row><item id=\"a\"/><item id=\"b\"/></row></XMLPackage>");
    file.close();
    QCOMPARE(QString::fromStdString(ReadXmlValue(scratch.File("u.xml"), path.toStdString(),
                                                 attribute.toStdString())),
             value);
  }

  void readXmlValueOfAnUnreadableFileIsError() {
    Scratch scratch;
    QCOMPARE(ReadXmlValue(scratch.File("missing.xml"), "XMLPackage.count", "number"),
             std::string("error"));
  }
};

QTEST_MAIN(UpdateCheckTest)
#include "update_check_test.moc"
