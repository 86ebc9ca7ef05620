#include "websvcs/server/route_table.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "websvcs/framework/memory_channel.h"

namespace {

const std::string PLUGIN = TEST_HANDLERS_PLUGIN;

std::string dir_of(const std::string& f) { return f.substr(0, f.rfind('/')); }
std::string base_of(const std::string& f) { return f.substr(f.rfind('/') + 1); }

Web_Route_Config route(const std::string& path, const std::string& factory,
                       const std::string& library = PLUGIN) {
  Web_Route_Config r;
  r.path = path;
  r.library = library;
  r.factory = factory;
  return r;
}

// Live handler count inside the plug-in, read through a handle of our own.
int alive() {
  void* h = dlopen(PLUGIN.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return 0;  // not loaded: nothing alive
  int (*count)() = reinterpret_cast<int (*)()>(dlsym(h, "test_handlers_alive"));
  int n = count ? count() : -1;
  dlclose(h);
  return n;
}

TEST(Route_Table, LoadsHandlersAndDestroysThemThroughTheirDestroyer) {
  {
    Route_Table t;
    std::string error;
    std::vector<Web_Route_Config> routes = {
        route("/a", "_make_Test_Echo_Handler"),
        // A relative name is found under the base directory, an absolute
        // one where it names.
        route("/b", "_make_Test_Echo_Handler", base_of(PLUGIN))};
    routes[1].args = {"-x", "y"};
    ASSERT_TRUE(t.load(routes, dir_of(PLUGIN), error)) << error;
    EXPECT_EQ(2u, t.size());
    EXPECT_EQ(2, alive());

    std::string suffix;
    Route* r = t.find("/b", suffix);
    ASSERT_NE(nullptr, r);
    Memory_Channel ch(METHOD_GET, "/b?k=v");
    r->run(ch, "", nullptr);
    json_spirit::Value v = ch.body_json();
    ASSERT_EQ(json_spirit::obj_type, v.type()) << ch.body();
    EXPECT_EQ("v", v.get_obj().at("query").get_obj().at("k").get_str());
    EXPECT_EQ(2u, v.get_obj().at("args").get_array().size());
  }
  EXPECT_EQ(0, alive());  // destroyed, and the library closed
}

TEST(Route_Table, ReportsEveryLoadingFailure) {
  struct Case {
    Web_Route_Config r;
    const char* says;
  } cases[] = {
      {route("/a", "_make_Test_Echo_Handler", "/nonexistent/lib.so"), "cannot load"},
      {route("/a", "_make_Missing"), "no factory"},
      {route("/a", "_make_Test_Null_Handler"), "created no handler"},
      {route("/a", "_make_Test_No_Gobbler_Handler"), "no destroyer"},
      {route("/a", "_make_Test_Refusing_Handler"), "refused"},
  };
  for (const Case& c : cases) {
    Route_Table t;
    std::string error;
    EXPECT_FALSE(t.load({c.r}, "", error)) << c.says;
    EXPECT_NE(std::string::npos, error.find(c.says)) << error;
    EXPECT_EQ(0u, t.size());
  }
  EXPECT_EQ(0, alive());  // nothing leaked by the refusals
}

class Null_Handler : public JSON_RESTful_Handler {
 public:
  int handle_request(JSON_RESTful_Channel*, json_spirit::Value&) override { return 0; }
};

TEST(Route_Table, FindsExactThenLongestPrefix) {
  Null_Handler a, b, c;
  Route_Table t;
  t.add("/d2/r/tapectl/list", false, a);
  t.add("/d2/r/tapectl", true, b);
  t.add("/d2/r/tapectl/drive", true, c);
  std::string suffix;
  EXPECT_EQ(&a, &t.find("/d2/r/tapectl/list", suffix)->handler());
  EXPECT_EQ("", suffix);
  EXPECT_EQ(&b, &t.find("/d2/r/tapectl/list/x", suffix)->handler());
  EXPECT_EQ("list/x", suffix);
  EXPECT_EQ(&c, &t.find("/d2/r/tapectl/drive/load", suffix)->handler());
  EXPECT_EQ("load", suffix);
  EXPECT_EQ(&b, &t.find("/d2/r/tapectl", suffix)->handler());
  EXPECT_EQ(nullptr, t.find("/d2/r/tapectlx", suffix));
  EXPECT_EQ(nullptr, t.find("/d2/r/tapectl/", suffix));
  EXPECT_EQ(nullptr, t.find("", suffix));
}

}  // namespace
