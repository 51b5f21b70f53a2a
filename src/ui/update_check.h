// The update check: fetching the update file, reading values from it, comparing versions
// and the news list with its fallbacks. Asks its question through the injectable services.
#pragma once

#include <string>
#include <vector>

// One news entry: a line of text and the page it opens.
struct TAdInfo {
  std::string Info;
  std::string Url;
};

inline constexpr int UpdateTimeoutMs = 15000;
inline constexpr const char *UpdateNetFile = "marlonet.xml"; // this run's download
inline constexpr const char *UpdateCopyFile = "marlo.xml";   // kept for runs without a network

// Fetches the address into memory with a GET request and writes the bytes to the file.
// False on any failure (no answer within timeoutMs, a refused or closed connection, an HTTP
// error status, a file that cannot be written); a failure leaves no file behind. Keeps the
// user-interface thread's events flowing while it waits.
bool DownloadToFile(const std::string &url, const std::string &fileName,
                    int timeoutMs = UpdateTimeoutMs);

// The attribute (or, for a blank attribute name, the text) of the element a dotted path names:
// the first part must be the document element's name, each further part selects the first child
// of that name. Empty when a step finds nothing; "error" when the file cannot be read as XML.
std::string ReadXmlValue(const std::string &fileName, const std::string &path,
                         const std::string &attribute, const std::string &separator = ".");

// The news rows "XMLPackage.row0" ... of an update file; nothing when it holds none.
std::vector<TAdInfo> ReadNews(const std::string &fileName);
// The entries used when neither a download nor a kept copy is at hand.
const std::vector<TAdInfo> &BuiltInNews();

// A version text such as " 1.000 " read as a decimal number; nothing when it is not one.
bool ParseVersionNumber(const std::string &text, double &value);

struct TUpdateResult {
  bool Downloaded = false;
  std::string NewestVersion;     // as the file states it; empty when unknown
  bool NewerAvailable = false;   // the newest version is greater than ours
  bool UpgradeAccepted = false;  // the user answered Yes
  std::vector<TAdInfo> News;
};

struct TUpdateCheck {
  std::string Url;           // the update file's address
  std::string Folder;        // where the two XML files go, ending with "/"
  std::string AppTitle;
  std::string VersionText;   // our own version, as FileVersionText gives it
  std::string UpgradeUrl;    // opened on Yes
  int TimeoutMs = UpdateTimeoutMs;
};

// Runs the whole check: download, version question (Yes opens UpgradeUrl), the second fetch
// into the kept copy, and the news from the download, the kept copy or the built-in list.
// Never shows a message for a failed download.
TUpdateResult RunUpdateCheck(const TUpdateCheck &check);
