// The console's file handler through the in-memory channel: which names it
// serves, with which type and headers, and how it answers when the files
// are missing. The shipped files load their script and style sheet from
// this origin in the browser test (tests/system).
#include "websvcs/console/console_handler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "websvcs/framework/memory_channel.h"
#include "websvcs/server/tests/support.h"

namespace {

class Console_Test : public Temp_Dir {
 protected:
  // A handler started on the test's folder.
  void start() {
    std::vector<char*> argv{&dir_[0]};
    ASSERT_EQ(0, handler_.init(1, argv.data()));
  }
  // GET (or `method`) of the route's suffix.
  Memory_Channel& get(const std::string& suffix, int method = METHOD_GET) {
    channels_.emplace_back(new Memory_Channel(method, suffix.empty() ? "/" : "/ui/" + suffix));
    channels_.back()->set_uri_suffix(suffix);
    channels_.back()->run(handler_);
    return *channels_.back();
  }
  Console_Handler handler_;
  std::vector<std::unique_ptr<Memory_Channel>> channels_;
};

TEST_F(Console_Test, ServesTheFilesOfItsFolderByName) {
  write("index.html", "<title>x</title>");
  write("console.js", "'use strict';");
  write("console.css", "body{}");
  write("notes.md", "not served");
  write(".hidden.js", "not served");
  start();

  const struct {
    std::string suffix;
    int status;
    std::string type;
    std::string body;
  } cases[] = {
      {"", 200, "text/html; charset=utf-8", "<title>x</title>"},
      {"index.html", 200, "text/html; charset=utf-8", "<title>x</title>"},
      {"console.js", 200, "text/javascript; charset=utf-8", "'use strict';"},
      {"console.css", 200, "text/css; charset=utf-8", "body{}"},
      {"notes.md", 404, "", ""},
      {".hidden.js", 404, "", ""},
      {"../console.js", 404, "", ""},
      {"sub/console.js", 404, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.suffix);
    Memory_Channel& ch = get(c.suffix);
    EXPECT_EQ(c.status, ch.reply_status());
    if (c.status != 200) continue;
    EXPECT_EQ(c.type, ch.content_type());
    EXPECT_EQ(c.body, ch.body());
    const auto& h = ch.response()->headers();
    ASSERT_EQ(1u, h.count("Content-Security-Policy"));
    EXPECT_NE(std::string::npos, h.at("Content-Security-Policy").find("default-src 'none'"));
    EXPECT_EQ("nosniff", h.at("X-Content-Type-Options"));
  }
  // Only GET and HEAD, of the files read at start.
  write("index.html", "changed");
  EXPECT_EQ("<title>x</title>", get("").body());
  EXPECT_EQ(200, get("", METHOD_HEAD).reply_status());
  Memory_Channel& post = get("", METHOD_POST);
  EXPECT_EQ(405, post.reply_status());
  EXPECT_EQ("GET, HEAD", post.response()->headers().at("Allow"));
}

// Without its page the console is refused whole; init still succeeds.
TEST_F(Console_Test, MissingFilesAnswer503AndKeepTheRouteAlive) {
  write("console.js", "no index beside it");
  start();
  Memory_Channel& ch = get("console.js");
  EXPECT_EQ(503, ch.reply_status());
  // The reply names no file or folder; the log does.
  EXPECT_EQ(std::string::npos, ch.body().find("index.html")) << ch.body();
  EXPECT_EQ(std::string::npos, ch.body().find(dir_)) << ch.body();
}

}  // namespace
