// The mailer: one MIME message (text body, optional attachment) over SMTP through libcurl.
#include <curl/curl.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "system/nvtools.h"
#include "system/text.h"

namespace {

constexpr long kConnectTimeoutSeconds = 15;
constexpr long kTransferTimeoutSeconds = 120;

std::string Trimmed(std::string_view text) { return std::string(vantri::system::Trim(text)); }

std::vector<std::string> SplitRecipients(std::string_view recipients) {
  std::vector<std::string> list;
  std::string field;
  for (char c : recipients) {
    if (c == ',' || c == ';') {
      if (!Trimmed(field).empty()) list.push_back(Trimmed(field));
      field.clear();
    } else {
      field += c;
    }
  }
  if (!Trimmed(field).empty()) list.push_back(Trimmed(field));
  return list;
}

std::string SmtpUrl(std::string_view server) {
  const std::string host = Trimmed(server);
  if (host.rfind("smtp://", 0) == 0 || host.rfind("smtps://", 0) == 0) return host;
  return "smtp://" + host;
}

// Header values are single lines: a CR or LF could inject further headers.
std::string HeaderSafe(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string Rfc2822Date() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S %z", &local);
  return text;
}

void GlobalInitOnce() {
  static const bool initialised = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)initialised;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct MimeDeleter {
  void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The text part and, when given, the attachment (base64, named after the file).
bool BuildMime(CURL* curl, std::string_view body, const std::string& attachment, curl_mime** out) {
  curl_mime* mime = curl_mime_init(curl);
  if (mime == nullptr) return false;
  curl_mimepart* text = curl_mime_addpart(mime);
  curl_mime_data(text, std::string(body).c_str(), CURL_ZERO_TERMINATED);
  curl_mime_type(text, "text/plain; charset=utf-8");
  if (!attachment.empty()) {
    curl_mimepart* file = curl_mime_addpart(mime);
    if (curl_mime_filedata(file, attachment.c_str()) != CURLE_OK ||
        curl_mime_encoder(file, "base64") != CURLE_OK) {
      curl_mime_free(mime);
      return false;
    }
    curl_mime_type(file, "application/octet-stream");
    curl_mime_filename(file, std::filesystem::path(attachment).filename().c_str());
  }
  *out = mime;
  return true;
}

}  // namespace

int NVT_SendEmail(std::string_view smtp_server, std::string_view recipients,
                  std::string_view sender, std::string_view subject, std::string_view body,
                  std::string_view attachment_path, std::string_view extra) {
  const std::vector<std::string> to = SplitRecipients(recipients);
  const std::string from = Trimmed(sender);
  const std::string attachment = Trimmed(attachment_path);
  if (Trimmed(smtp_server).empty() || to.empty() || from.empty()) return 0;
  if (!attachment.empty() && NVT_GetFileSize(attachment) < 0) return 0;

  GlobalInitOnce();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return 0;

  std::unique_ptr<curl_slist, ListDeleter> rcpt;
  std::string to_header;
  for (const std::string& address : to) {
    rcpt.reset(curl_slist_append(rcpt.release(), address.c_str()));
    to_header += (to_header.empty() ? "" : ", ") + HeaderSafe(address);
  }
  std::unique_ptr<curl_slist, ListDeleter> headers;
  for (const std::string& line : {"Date: " + Rfc2822Date(), "From: " + HeaderSafe(from),
                                  "To: " + to_header, "Subject: " + HeaderSafe(subject)}) {
    headers.reset(curl_slist_append(headers.release(), line.c_str()));
  }

  curl_mime* raw_mime = nullptr;
  if (!BuildMime(curl.get(), body, attachment, &raw_mime)) return 0;
  std::unique_ptr<curl_mime, MimeDeleter> mime(raw_mime);

  const std::string url = SmtpUrl(smtp_server);
  const std::string mail_from = "<" + from + ">";
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_MAIL_FROM, mail_from.c_str());
  curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, rcpt.get());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_MIMEPOST, mime.get());
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  const std::string credentials = Trimmed(extra);
  const std::size_t colon = credentials.find(':');
  std::string user, password;
  if (colon != std::string::npos) {
    user = credentials.substr(0, colon);
    password = credentials.substr(colon + 1);
    curl_easy_setopt(handle, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, password.c_str());
  }
  return curl_easy_perform(handle) == CURLE_OK ? 1 : 0;
}
