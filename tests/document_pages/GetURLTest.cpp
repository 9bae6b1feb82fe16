// GetURL against a small HTTP server the test runs on 127.0.0.1: the
// fetched page is laid out and appended, or replaces the pages.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "pdfserver_js/Read.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"

namespace {

using namespace pm;

// Answers every GET with the page for /page.html and 404 for anything
// else, until it is destroyed.
class LocalHttp {
 public:
  LocalHttp() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0) return;
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LocalHttp() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    if (thread_.joinable()) thread_.join();
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int port() const { return port_; }

 private:
  void serve() {
    while (!stop_) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::string req;
      char buf[4096];
      while (req.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
      }
      std::string body, status = "200 OK";
      if (req.rfind("GET /page.html ", 0) == 0) {
        body = "<html><body><h1>Fetched heading</h1><p>A paragraph from the local server.</p></body></html>";
      } else {
        status = "404 Not Found";
        body = "missing";
      }
      std::string answer = "HTTP/1.1 " + status +
                           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nConnection: close\r\n\r\n" + body;
      (void)!::write(c, answer.data(), answer.size());
      ::close(c);
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(GetURL, AFetchedPageIsAppendedOrReplacesThePages) {
  LocalHttp http;
  ASSERT_NE(http.port(), 0);
  fixture::TempDir dir;
  std::string path = dir.file("doc.pdf");
  fixture::DocSpec s;
  fixture::PageSpec p;
  p.lines = {"Original page"};
  s.pages = {p, p};
  fixture::makePdf(path, s);
  moduleState().strOpenDocumentPath = path;
  ObjectRef d = createDocument();
  call(d, "GetURL", {http.url("/page.html")});
  EXPECT_EQ(CLng(get(d, "NumPages")), 3);
  call(d, "Save", {1, dir.file("appended.pdf")});
  EXPECT_NE(jstest::pageText(dir.file("appended.pdf"), 2).find("Fetched heading"), std::string::npos);
  EXPECT_NE(jstest::pageText(dir.file("appended.pdf"), 0).find("Original page"), std::string::npos);

  // A file address, replacing every page.
  fixture::writeFile(dir.file("local.html"), "<p>From a file</p>");
  call(d, "GetURL", {"file://" + dir.file("local.html"), false});
  EXPECT_EQ(CLng(get(d, "NumPages")), 1);
  call(d, "Save", {1, dir.file("replaced.pdf")});
  EXPECT_NE(jstest::pageText(dir.file("replaced.pdf"), 0).find("From a file"), std::string::npos);
  EXPECT_TRUE(jstest::qpdfClean(dir.file("replaced.pdf")));

  struct Case {
    std::string url;
    const char* says;
  };
  const Case failures[] = {
      {http.url("/missing.html"), "404"},
      {"ftp://127.0.0.1/x", "only http, https and file"},
      {"file://" + dir.file("nothing.html"), "Cannot fetch"},
  };
  for (const Case& c : failures) {
    try {
      call(d, "GetURL", {c.url});
      ADD_FAILURE() << c.url;
    } catch (const AutomationError& e) {
      EXPECT_NE(e.description().find(c.says), std::string::npos) << e.description();
    }
  }
  EXPECT_EQ(CLng(get(d, "NumPages")), 1) << "a failed fetch changes nothing";
}

}  // namespace
